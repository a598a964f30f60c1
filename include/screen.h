// The screen: the emulated PC-98 planes and palette, frame composition, the
// canvas of pictures with its command log, sprites, the text layer and fonts,
// thumbnails and screenshots, and the text history.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Color;
struct SDL_Rect;
union SDL_Event;

// ---------------------------------------------------------------------------
// Planes, palette and frame composition
// ---------------------------------------------------------------------------

// The planes are 640x400 one-bit pixels in both modes, 8 pixels per byte.
constexpr int VRAM_WIDTH = 640;
constexpr int VRAM_HEIGHT = 400;
constexpr int VRAM_BYTES_PER_LINE = VRAM_WIDTH / 8;

// The sixteen start-up colours, 0xAARRGGBB; entries 0 to 7 colour the planes.
extern const uint32_t DEFAULT_PALETTE[PALETTE_SIZE];

// Converts the three planes into 640x400 32-bit pixels, each palette[index]
// unchanged with index = plane 0 bit + 2 x plane 1 bit + 4 x plane 2 bit.
// out_pitch is the distance between rows of out, in pixels (at least 640).
void gfx_convert_planes(const uint8_t planes[VRAM_PLANE_COUNT][VRAM_PLANE_BYTES],
                        const uint32_t palette[PALETTE_SIZE], uint32_t* out, int out_pitch);

// Sets the default palette, a neutral tint and the screen's start-up fields,
// then (when the renderer exists) makes the transparent canvas. A canvas that
// cannot be made stays null and the canvas operations then draw nothing.
void gfx_init_screen(Engine* engine);

// Converts the planes into the planes texture (made on the first call) and
// copies it over the whole current target. Draws nothing when the texture
// cannot be made or locked; the next call tries again.
void gfx_upload_vram(Engine* engine);

// Derives the tint of the picture layers from palette entries 1 to 7 against
// the default palette's brightness, and clears palette_changed.
void gfx_update_tint(Engine* engine);

// Composes one frame into the current target: planes, canvas, sprites, text
// layer (the last three tinted), then the scanline overlay when it is on.
// Never clears or presents.
void gfx_compose_frame(Engine* engine);

// What the shell draws over every presented frame (its menu bar); null for nothing.
using FrameOverlayFn = void (*)(Engine* engine);
void gfx_set_frame_overlay(FrameOverlayFn draw);

// Draws the shell's overlay over the frame drawn so far and presents it. The
// main loop and the interpreter's own frames all present through here, so
// the overlay is in every game frame; anything read back before this call
// (a screenshot) holds the game's frame without it. Does nothing without a
// renderer.
void gfx_present_frame(Engine* engine);

// Chooses linear filtering for every screen and picture texture when on is
// non-zero in HD mode, nearest otherwise; the font stays nearest.
void gfx_set_smoothing(Engine* engine, uint8_t on);

// After the renderer lost its targets: redraws the planes into the current
// target and refills the canvas with the opaque planes picture. The pictures
// that were on the canvas are not redrawn.
void gfx_restore_layers(Engine* engine);

// Fills a rectangle of the current render target with an RGBA colour,
// blended by the renderer's draw blend mode.
void gfx_fill_rect(SDL_Renderer* renderer, const SDL_Color& colour, int32_t x, int32_t y, int32_t w,
                   int32_t h);

// ---------------------------------------------------------------------------
// Canvas, picture slots and sprites
// ---------------------------------------------------------------------------

// Draws the whole picture of slot id at the slot's position on the canvas and
// logs it. Does nothing for an id above 255 or a slot without a picture.
void gfx_blit_image(Engine* engine, uint32_t id);

// Draws a part of a picture, in units of 8 pixels by 2 lines, at the place
// picture destination (blit_x8, blit_y2), cut to the canvas, logs it and hides
// the slot's sprite. An unusable id falls back to current_image; when that is
// unusable too, nothing happens. The four operands are read as signed.
void gfx_blit_image_part(Engine* engine, uint32_t id, uint32_t src_x8, uint32_t src_y2,
                         uint32_t w8, uint32_t h2);

// Clears the canvas to transparent and empties the command log.
void gfx_clear_canvas(Engine* engine);

// Makes a rectangle of the canvas (in canvas pixels) transparent and logs it;
// the record is kept even when there is no canvas.
void gfx_clear_rect(Engine* engine, uint32_t x, uint32_t y, uint32_t w, uint32_t h);

// Rebuilds the canvas from the command log without changing the log, the
// slots' positions and sprite flags, or the place-picture destination.
void gfx_replay_log(Engine* engine);

// Draws every visible picture slot, in slot order, into the current target
// with its fixed effect stage and the tint, cut at the screen's bottom edge.
void gfx_draw_sprites(Engine* engine);

// ---------------------------------------------------------------------------
// Thumbnails and screenshots
// ---------------------------------------------------------------------------

// Save thumbnails: 8-bit RGB PNGs of this size in both graphics modes.
constexpr int THUMB_WIDTH = 320;
constexpr int THUMB_HEIGHT = 200;
constexpr int THUMB_CHANNELS = 3;
// A thumbnail's buffer holds at least this many bytes; a PNG beyond it gets
// THUMB_GROWN_CAPACITY bytes, and one beyond that exactly its own length.
constexpr int32_t THUMB_BUFFER_CAPACITY = 32768;
constexpr int32_t THUMB_GROWN_CAPACITY = 65536;

// Composes the game screen off-screen (no choice list, prompt, history view or
// slot screen) and box-averages it to a THUMB_WIDTH x THUMB_HEIGHT PNG. Returns 1
// with a malloc'd buffer in *out_png (caller frees) and the PNG's length in
// *out_size; 0 with both untouched when there is no renderer or something fails.
// The window's default target is current afterwards.
int32_t gfx_capture_thumbnail(Engine* engine, uint8_t** out_png, int32_t* out_size);

// Writes the frame drawn so far in the window (overlays included) to path as an
// RGBA PNG of the size it is shown at, letterbox bars left out, replacing any
// file of that name. Gives up silently when the frame cannot be read or the
// file written.
void gfx_save_screenshot(Engine* engine, const char* path);

// ---------------------------------------------------------------------------
// Text layer and fonts
// ---------------------------------------------------------------------------

constexpr int FONT_ESCAPE_COLOUR_COUNT = 8;
// The colours (0xRRGGBB) that "[Pd]" selects in font_draw_string, by d & 7.
extern const uint32_t FONT_ESCAPE_COLOURS[FONT_ESCAPE_COLOUR_COUNT];

constexpr int FONT_HALF_WIDTH = 8;   // single-byte cell width at scale 1
constexpr int FONT_FULL_WIDTH = 16;  // Shift-JIS cell width at scale 1
constexpr int FONT_HEIGHT = 16;      // cell height at scale 1
constexpr int FONT_LINE_ADVANCE = 18;  // pen drop of a line feed at scale 1
constexpr int FONT_JIS_CELLS_PER_ROW = 94;
constexpr int FONT_ATLAS_CELLS_PER_ROW = 128;

// A glyph's cell in the font texture, in texture pixels.
struct FontCell {
    int32_t x, y, w, h;
};

// The 0-based JIS X 0208 row (ku - 1) and cell (ten - 1) of a Shift-JIS pair
// (lead byte in the high byte). Codes that are not valid pairs give values
// that may be negative or out of range; the caller's cell then lies outside
// the font.
void font_sjis_to_jis(uint16_t code, int32_t* row, int32_t* cell);

// The source cell of a code (a single-byte code below 0x80, or a Shift-JIS
// pair) at glyph scale `scale`, in the atlas layout or, when bmp_layout is
// set, the fallback bitmap's layout.
FontCell font_glyph_cell(uint16_t code, int32_t scale, bool bmp_layout);

// Loads the font (FONT_ATLAS_GDI.PNG in HD mode, else FONT_ATLAS_SD.PNG) and
// creates the transparent text layer of 640x400 times the glyph scale. True
// when both exist; without a font the layer is not created. A repeated call
// replaces both.
bool font_init(SDL_Renderer* renderer, uint8_t hd);

// The named font from base.dat, then as a loose file, then FREECG98.BMP
// turned into a white-on-transparent mask; null when none can be used.
SDL_Texture* font_load(SDL_Renderer* renderer, const char* name);

// Draws one character with its top-left at (x, y) in the current render
// target, tinted 0xRRGGBB; on a target scaled by a fraction its edges go to
// the output pixels the screen scaled whole would give them. Draws nothing
// without a font.
void font_draw_glyph(SDL_Renderer* renderer, int32_t x, int32_t y, uint16_t code,
                     uint32_t colour);

// Draws a zero-terminated Shift-JIS string from (x, y) in the current render
// target. 0x0A starts a new line under x; "[Pd]" (the "]" optional) changes
// the colour for the rest of the string. Null or empty text draws nothing.
void font_draw_string(SDL_Renderer* renderer, int32_t x, int32_t y, const char* text,
                      uint32_t colour);

// The font texture, or null when no font was loaded.
SDL_Texture* font_get_texture();
// The second renderer's font texture; nothing creates one, so always null.
SDL_Texture* font_get_debug_texture();
// The glyph scale: 2 after an HD font_init, else 1.
int32_t font_get_scale();
// True when the font came from the fallback bitmap.
bool font_uses_bitmap_layout();

// The text layer, or null when it was not created.
SDL_Texture* text_layer_get();

// Creates the transparent text layer, 640x400 times scale, in place of any
// earlier one (font_init's step). False when the texture cannot be made; the
// layer is then absent.
bool text_layer_create(SDL_Renderer* renderer, int32_t scale);

// Destroys the text layer; text_layer_get then returns null.
void text_layer_destroy();

// Makes the whole text layer transparent. Does nothing without a layer.
void text_layer_clear(SDL_Renderer* renderer);

// Makes a rectangle of the text layer transparent; leaves the draw blend mode
// at blend. Does nothing without a layer or renderer.
void text_layer_clear_rect(Engine* engine, int32_t x, int32_t y, int32_t w, int32_t h);

// The part of the rectangle (x, y, w, h) that lies on layer (the text layer,
// or a texture standing in for it), in *out. False when no part does; any
// int32 values are safe.
bool text_layer_clip(SDL_Texture* layer, int32_t x, int32_t y, int32_t w, int32_t h, SDL_Rect* out);

// Moves the part of a rectangle that lies on the text layer up by dy pixels,
// leaving its bottom dy rows transparent. Does nothing when dy <= 0, dy >= h,
// or the temporary texture cannot be made.
void text_layer_scroll(Engine* engine, int32_t x, int32_t y, int32_t w, int32_t h, int32_t dy);

// Copies the whole text layer onto the whole current render target.
void text_layer_present(SDL_Renderer* renderer);

// ---------------------------------------------------------------------------
// Text history
// ---------------------------------------------------------------------------

constexpr int HIST_WHEEL_STEP = 3;     // lines per wheel notch
constexpr int HIST_DEFAULT_PAGE = 10;  // Page Up/Down step without a window's row count
constexpr size_t HIST_POSITION_TEXT_CAPACITY = 20;

// Where hist_draw puts things for a panel, worked out without a renderer.
struct HistLayout {
    int32_t band;      // header and footer band height; 0 when they do not fit
    int32_t body_top;  // y of the first row
    int32_t body_h;
    int32_t rows;      // rows that fit in the body
    int32_t top;       // age of the line in the first row (1 = newest)
    int32_t shown;     // rows shown, ages top down to top - shown + 1
    int32_t bar_x, bar_y, bar_h;  // the scrollbar track
    bool has_thumb;    // more lines than rows: track and thumb are drawn
    int32_t thumb_y, thumb_h;
    char position_text[HIST_POSITION_TEXT_CAPACITY];  // "scroll/count" in the header
    int32_t position_x;  // where it starts, so that it ends 6 pixels from the right
};

// Fills *out for a panel (x, y, w, h) with lines lh high. False when nothing
// would be drawn (closed or scrolled to the end, empty, or no room for a row);
// *out is then unspecified.
bool hist_layout(const HistoryBuffer* buffer, int32_t x, int32_t y, int32_t w, int32_t h,
                 int32_t lh, HistLayout* out);

// Alpha of row i of n shown: 255 for the oldest (top), falling evenly to 130.
int32_t hist_row_alpha(int32_t i, int32_t n);

// The scroll position a drag to event_y gives on a track (bar_y, bar_h) with
// count lines: count at the top, 1 at the bottom (0 when count is 0).
int32_t hist_drag_scroll(int32_t event_y, int32_t bar_y, int32_t bar_h, int32_t count);

// Every field zero. Frees nothing: use on a fresh record or after hist_clear.
void hist_init(HistoryBuffer* buffer);

// Frees every line image and empties and closes the history. Null is ignored.
void hist_clear(HistoryBuffer* buffer);

// Copies the part of the rectangle (x, y, w, h) that lies on source (the
// text layer) into the ring as the newest line, dropping the oldest when 200
// are held. Does nothing on null arguments or when no part lies on source;
// on a failed allocation the slot is left empty and the line is not counted.
void hist_push(HistoryBuffer* buffer, SDL_Renderer* renderer, SDL_Texture* source, int32_t x,
               int32_t y, int32_t w, int32_t h, int32_t window_id);

// Applies a key, wheel or mouse event to the view; page_lines is the Page
// Up/Down step (10 when not above 0). True when the history used the event.
bool hist_handle_event(HistoryBuffer* buffer, const SDL_Event* event, int32_t page_lines);

// Draws the open view into the panel (x, y, w, h) of the current target and
// records the scrollbar's track for the mouse. Draws nothing when closed,
// scrolled to the end, or empty.
void hist_draw(HistoryBuffer* buffer, SDL_Renderer* renderer, int32_t x, int32_t y, int32_t w,
               int32_t h);

// Closes the view and returns it to the end. Null is ignored.
void hist_close(HistoryBuffer* buffer);

// ---------------------------------------------------------------------------
// Splash and loading screen
// ---------------------------------------------------------------------------

constexpr int SPLASH_MAX_LINES = 8;
constexpr size_t SPLASH_LINE_CAPACITY = 64;  // 63 characters and the zero byte
constexpr int32_t SPLASH_STAGE_TOTAL = 4;
constexpr uint32_t SPLASH_FADE_MS = 1000;

struct SplashRect {
    int32_t x, y, w, h;
};

// One status line: a start-up stage, green once it has finished.
struct SplashLine {
    char text[SPLASH_LINE_CAPACITY];
    uint8_t done;
};

struct SplashState {
    SDL_Texture* logo;  // owned; null when none
    SplashRect logo_rect;
    int32_t version_x, version_y;
    int32_t screen_w, screen_h;
    int32_t lines_y;
    int32_t char_w, char_h;
    int32_t line_pitch;
    int32_t bar_y;
    int32_t stage_total;
    SplashLine lines[SPLASH_MAX_LINES];  // oldest first
    int32_t line_count;
    uint8_t active;  // the loading screen is up
};

// The loading screen; all zero until splash_run.
extern SplashState g_splash;

// Every position of the loading screen in one graphics mode.
struct SplashGeometry {
    int32_t screen_w, screen_h;
    int32_t char_w, char_h;
    int32_t line_pitch;
    int32_t half_h;
    int32_t version_x, version_y;
    int32_t lines_y;
    int32_t bar_x, bar_y, bar_w;
    int32_t prompt_x, prompt_y;
};

// The loading screen's layout in SD (hd zero) or HD mode.
SplashGeometry splash_geometry(uint8_t hd);

// Where a splash image of image_w x image_h pixels is drawn: centred in the
// top half_h rows, at most 55% of screen_w wide, scaled up or down. An empty
// image gives an empty rectangle.
SplashRect splash_logo_rect(int32_t screen_w, int32_t half_h, int32_t image_w, int32_t image_h);

// The logo's alpha elapsed_ms into the fade-in: 0 rising to 255 at SPLASH_FADE_MS.
uint8_t splash_fade_alpha(uint32_t elapsed_ms);

// Pixels of the progress bar's fill for `finished` stages, never more than bar_w.
int32_t splash_bar_fill(int32_t finished, int32_t bar_w, int32_t stage_total);

// Shows the loading screen: loads splash.png (base.dat, then loose files) and
// fades it in over SPLASH_FADE_MS. 0 when shown; -1, with the screen left
// inactive, without a renderer or a usable image. A quit ends the program.
int32_t splash_run(Engine* engine);

// Presents the loading screen with the logo at its alpha elapsed_ms into the
// fade-in; true once the fade is complete.
bool splash_fade_frame(Engine* engine, uint32_t elapsed_ms);

// Puts up the loading screen with the given logo (owned from here; may be
// null) and no status lines, without fading in: splash_run's last step.
void splash_activate(SDL_Texture* logo, int32_t image_w, int32_t image_h, uint8_t hd);

// Marks the previous stage finished, adds text as a new status line (cut to
// 63 characters; dropped once SPLASH_MAX_LINES are shown), takes pending
// events and presents the screen. Does nothing while the screen is inactive.
void splash_status(Engine* engine, const char* text);

// Marks the last stage finished, keeps the screen up for min_ms, then shows
// the start prompt until Space, a mouse button or a touch; that event is
// taken, those behind it stay queued. Releases the logo and leaves the screen
// inactive. Returns at once (releasing any logo) when the screen is not up.
// A quit ends the program.
void splash_finish(Engine* engine, uint32_t min_ms);

// Draws the loading screen into the current target without presenting it.
void splash_draw(Engine* engine);

// Drops every pending event; a quit or a window close ends the program with status 0.
void splash_pump_events();
