// The text history: a ring of the last 200 lines that scrolled out of a text
// window, kept as pixels read back from the text layer, and the view that
// shows them over the current window.
#include "screen.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

constexpr int HIST_BYTES_PER_PIXEL = 4;

// Scrollbar geometry, in pixels at every scale.
constexpr int32_t HIST_BAR_RIGHT_INSET = 12;  // track's left edge from the panel's right edge
constexpr int32_t HIST_BAR_WIDTH = 10;
constexpr int32_t HIST_BAR_MARGIN = 2;        // above and below the track inside the body
constexpr int32_t HIST_BAR_HIT_LEFT = 2;      // slack left of the track for a press
constexpr int32_t HIST_BAR_HIT_RIGHT = 14;    // press reach right of the track's left edge
constexpr int32_t HIST_THUMB_MIN = 10;
constexpr int32_t HIST_TITLE_X = 4;
constexpr int32_t HIST_POSITION_RIGHT_MARGIN = 6;
constexpr const char* HIST_TITLE = "HISTORY";
constexpr uint32_t HIST_TEXT_COLOUR = 0xFFFFFF;

// The top row is opaque; alpha falls by this much down to the newest row shown.
constexpr int32_t HIST_ALPHA_TOP = 255;
constexpr int32_t HIST_ALPHA_FALL = 125;

constexpr SDL_Color HIST_PANEL = {10, 10, 20, 240};
constexpr SDL_Color HIST_BORDER = {80, 130, 200, 255};
constexpr SDL_Color HIST_TRACK = {30, 30, 50, 200};
constexpr SDL_Color HIST_THUMB = {100, 170, 255, 220};
constexpr SDL_Color HIST_THUMB_DRAGGING = {160, 210, 255, 255};
constexpr SDL_Color HIST_HEADER = {160, 80, 20, 230};
constexpr SDL_Color HIST_FOOTER = {20, 110, 50, 230};

// The ring slot of a line number, for any sign.
static int32_t hist_slot(int32_t n)
{
    int32_t slot = n % HIST_CAPACITY;
    return slot < 0 ? slot + HIST_CAPACITY : slot;
}

void hist_init(HistoryBuffer* buffer)
{
    if (buffer)
        memset(buffer, 0, sizeof *buffer);
}

void hist_clear(HistoryBuffer* buffer)
{
    if (!buffer)
        return;
    for (HistoryEntry& entry : buffer->entries) {
        free(entry.pixels);
        entry.pixels = nullptr;
    }
    buffer->write_index = 0;
    buffer->count = 0;
    buffer->scroll = 0;
    buffer->open = 0;
}

void hist_close(HistoryBuffer* buffer)
{
    if (!buffer)
        return;
    buffer->scroll = 0;
    buffer->open = 0;
}

void hist_push(HistoryBuffer* buffer, SDL_Renderer* renderer, SDL_Texture* source, int32_t x,
               int32_t y, int32_t w, int32_t h, int32_t window_id)
{
    // Only what lies on the layer is kept, so no line is larger than the screen.
    SDL_Rect rect;
    if (!buffer || !renderer || !text_layer_clip(source, x, y, w, h, &rect))
        return;
    HistoryEntry& entry = buffer->entries[hist_slot(buffer->write_index)];
    free(entry.pixels);
    entry.pixels = nullptr;

    size_t pitch = static_cast<size_t>(rect.w) * HIST_BYTES_PER_PIXEL;
    size_t size = pitch * static_cast<size_t>(rect.h);
    uint8_t* pixels = static_cast<uint8_t*>(malloc(size));
    if (!pixels)
        return;
    // A read-back that fails leaves transparent pixels rather than whatever
    // the allocator handed us.
    memset(pixels, 0, size);
    SDL_SetRenderTarget(renderer, source);
    SDL_RenderReadPixels(renderer, &rect, SDL_PIXELFORMAT_RGBA8888, pixels, static_cast<int>(pitch));
    SDL_SetRenderTarget(renderer, nullptr);

    entry.pixels = pixels;
    entry.x = rect.x;
    entry.y = rect.y;
    entry.w = rect.w;
    entry.h = rect.h;
    entry.window_id = window_id;
    buffer->write_index++;
    if (buffer->count < HIST_CAPACITY)
        buffer->count++;
}

int32_t hist_drag_scroll(int32_t event_y, int32_t bar_y, int32_t bar_h, int32_t count)
{
    if (bar_h <= 0)
        return std::min(1, std::max(count, 0));
    int64_t rel = std::clamp<int64_t>(static_cast<int64_t>(event_y) - bar_y, 0, bar_h);
    float t = 1.0f - static_cast<float>(rel) / static_cast<float>(bar_h);
    int32_t scroll = static_cast<int32_t>(t * static_cast<float>(count - 1)) + 1;
    scroll = std::max(scroll, 1);
    return std::min(scroll, count);
}

static bool hist_on_track(const HistoryBuffer* buffer, int32_t ex, int32_t ey)
{
    return buffer->bar_h > 0 && ex >= buffer->bar_x - HIST_BAR_HIT_LEFT &&
           ex <= buffer->bar_x + HIST_BAR_HIT_RIGHT && ey >= buffer->bar_y &&
           ey <= buffer->bar_y + buffer->bar_h;
}

static void hist_scroll_by(HistoryBuffer* buffer, int32_t lines)
{
    int64_t scroll = static_cast<int64_t>(buffer->scroll) + lines;
    buffer->scroll = static_cast<int32_t>(std::clamp<int64_t>(scroll, 0, buffer->count));
}

static bool hist_handle_key(HistoryBuffer* buffer, SDL_Keycode key, int32_t page)
{
    if (!buffer->open)
        return false;
    switch (key) {
    case SDLK_ESCAPE:
        hist_close(buffer);
        return true;
    case SDLK_PAGEUP:
        hist_scroll_by(buffer, page);
        return true;
    case SDLK_PAGEDOWN:
        hist_scroll_by(buffer, -page);
        return true;
    default:
        return false;
    }
}

static bool hist_handle_wheel(HistoryBuffer* buffer, int32_t wheel_y)
{
    if (wheel_y > 0) {
        // The only way in: a wheel-up is always the history's, even with
        // nothing to show.
        hist_scroll_by(buffer, HIST_WHEEL_STEP);
        if (buffer->scroll > 0)
            buffer->open = 1;
        return true;
    }
    if (wheel_y < 0 && buffer->open) {
        hist_scroll_by(buffer, -HIST_WHEEL_STEP);
        return true;
    }
    return false;
}

bool hist_handle_event(HistoryBuffer* buffer, const SDL_Event* event, int32_t page_lines)
{
    if (!buffer || !event)
        return false;
    int32_t page = page_lines > 0 ? page_lines : HIST_DEFAULT_PAGE;
    switch (event->type) {
    case SDL_KEYDOWN:
        return hist_handle_key(buffer, event->key.keysym.sym, page);
    case SDL_MOUSEWHEEL:
        return hist_handle_wheel(buffer, event->wheel.y);
    case SDL_MOUSEBUTTONDOWN:
        if (event->button.button == SDL_BUTTON_LEFT && buffer->open &&
            hist_on_track(buffer, event->button.x, event->button.y)) {
            buffer->dragging = 1;
            return true;
        }
        return false;
    case SDL_MOUSEBUTTONUP:
        if (event->button.button == SDL_BUTTON_LEFT && buffer->dragging) {
            buffer->dragging = 0;
            return true;
        }
        return false;
    case SDL_MOUSEMOTION:
        if (buffer->dragging && buffer->bar_h > 0) {
            buffer->scroll =
                hist_drag_scroll(event->motion.y, buffer->bar_y, buffer->bar_h, buffer->count);
            return true;
        }
        return false;
    default:
        return false;
    }
}

int32_t hist_row_alpha(int32_t i, int32_t n)
{
    if (n <= 1)
        return HIST_ALPHA_TOP;
    return HIST_ALPHA_TOP - static_cast<int32_t>(static_cast<int64_t>(i) * HIST_ALPHA_FALL / (n - 1));
}

bool hist_layout(const HistoryBuffer* buffer, int32_t x, int32_t y, int32_t w, int32_t h,
                 int32_t lh, HistLayout* out)
{
    if (!buffer || !out || buffer->scroll <= 0 || buffer->count <= 0 || w <= 0 || h <= 0 ||
        lh <= 0)
        return false;
    HistLayout& L = *out;
    if (h - 2 * static_cast<int64_t>(lh) > 0) {
        L.band = lh;
        L.body_h = h - 2 * lh;
        L.body_top = y + lh;
    } else {
        L.band = 0;
        L.body_h = h;
        L.body_top = y;
    }
    L.rows = L.body_h / lh;
    if (L.rows <= 0)
        return false;

    L.top = std::min(buffer->scroll, buffer->count);
    int32_t bottom = std::max(buffer->scroll - L.rows + 1, 1);
    L.shown = L.top - bottom + 1;
    if (L.shown <= 0)
        return false;

    L.bar_x = x + w - HIST_BAR_RIGHT_INSET;
    L.bar_y = L.body_top + HIST_BAR_MARGIN;
    L.bar_h = L.body_h - 2 * HIST_BAR_MARGIN;
    L.has_thumb = L.bar_h > 0 && buffer->count > L.rows;
    L.thumb_h = 0;
    L.thumb_y = L.bar_y;
    if (L.has_thumb) {
        int64_t thumb_h = static_cast<int64_t>(L.bar_h) * L.rows / buffer->count;
        L.thumb_h = static_cast<int32_t>(std::clamp<int64_t>(thumb_h, HIST_THUMB_MIN, L.bar_h));
        // 0 is the newest position (thumb at the bottom), 1 the oldest.
        float f = static_cast<float>(buffer->scroll - 1) /
                  static_cast<float>(std::max(buffer->count - 1, 1));
        f = std::min(f, 1.0f);
        L.thumb_y = L.bar_y + static_cast<int32_t>((1.0f - f) * static_cast<float>(L.bar_h - L.thumb_h));
    }

    int32_t text_scale = std::max(lh / FONT_HEIGHT, 1);
    snprintf(L.position_text, sizeof L.position_text, "%d/%d", buffer->scroll, buffer->count);
    int32_t length = static_cast<int32_t>(strlen(L.position_text));
    L.position_x = x + w - HIST_POSITION_RIGHT_MARGIN - length * FONT_HALF_WIDTH * text_scale;
    return true;
}

// One kept line, drawn through a texture made for this frame only.
static void hist_draw_line(SDL_Renderer* renderer, const HistoryEntry& entry, int32_t x, int32_t y,
                           int32_t alpha)
{
    if (!entry.pixels)
        return;
    SDL_Texture* texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA8888,
                                             SDL_TEXTUREACCESS_STATIC, entry.w, entry.h);
    if (!texture)
        return;
    SDL_UpdateTexture(texture, nullptr, entry.pixels, entry.w * HIST_BYTES_PER_PIXEL);
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    SDL_SetTextureAlphaMod(texture, static_cast<uint8_t>(alpha));
    SDL_Rect dst = {x, y, entry.w, entry.h};
    SDL_RenderCopy(renderer, texture, nullptr, &dst);
    SDL_DestroyTexture(texture);
}

void hist_draw(HistoryBuffer* buffer, SDL_Renderer* renderer, int32_t x, int32_t y, int32_t w,
               int32_t h)
{
    if (!buffer || !renderer || buffer->scroll <= 0 || buffer->count <= 0)
        return;
    const HistoryEntry& newest = buffer->entries[hist_slot(buffer->write_index - 1)];
    if (!newest.pixels)
        return;
    HistLayout layout;
    if (!hist_layout(buffer, x, y, w, h, newest.h, &layout))
        return;
    int32_t lh = newest.h;

    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    gfx_fill_rect(renderer, HIST_PANEL, x, y, w, h);
    SDL_SetRenderDrawColor(renderer, HIST_BORDER.r, HIST_BORDER.g, HIST_BORDER.b, HIST_BORDER.a);
    SDL_Rect panel = {x, y, w, h};
    SDL_RenderDrawRect(renderer, &panel);

    for (int32_t i = 0; i < layout.shown; i++) {
        const HistoryEntry& entry = buffer->entries[hist_slot(buffer->write_index - layout.top + i)];
        hist_draw_line(renderer, entry, x, layout.body_top + i * lh, hist_row_alpha(i, layout.shown));
    }

    buffer->bar_x = layout.bar_x;
    buffer->bar_y = layout.bar_y;
    buffer->bar_h = layout.bar_h;
    if (layout.has_thumb) {
        gfx_fill_rect(renderer, HIST_TRACK, layout.bar_x, layout.bar_y, HIST_BAR_WIDTH,
                      layout.bar_h);
        gfx_fill_rect(renderer, buffer->dragging ? HIST_THUMB_DRAGGING : HIST_THUMB, layout.bar_x,
                      layout.thumb_y, HIST_BAR_WIDTH, layout.thumb_h);
    }

    if (layout.band > 0) {
        gfx_fill_rect(renderer, HIST_HEADER, x, y, w, layout.band);
        gfx_fill_rect(renderer, HIST_FOOTER, x, y + h - layout.band, w, layout.band);
        font_draw_string(renderer, x + HIST_TITLE_X, y, HIST_TITLE, HIST_TEXT_COLOUR);
        font_draw_string(renderer, layout.position_x, y, layout.position_text, HIST_TEXT_COLOUR);
    }
}
