// The modal slot screen: 32 slots in two columns over the game frame, with
// the highlighted slot's thumbnail beside them.
#include <SDL.h>
#include <stb_image.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "archive.h"
#include "platform.h"
#include "save.h"
#include "save_private.h"
#include "screen.h"

constexpr uint32_t COLOUR_TITLE = 0x00FFFF;
constexpr uint32_t COLOUR_CURSOR = 0xFFFFFF;
constexpr uint32_t COLOUR_USED = 0xCCFFCC;
constexpr uint32_t COLOUR_EMPTY = 0x888888;
constexpr uint32_t COLOUR_NO_PREVIEW = 0x666666;
constexpr uint32_t COLOUR_FOOTER = 0xFFFF00;
constexpr uint8_t SHADE_ALPHA = 180;
constexpr int32_t PREVIEW_DATE_DROP = 24;   // times k, below the preview
constexpr int32_t PREVIEW_LABEL_DROP = 8;   // times k, below the preview
constexpr int32_t PREVIEW_PANEL_EXTRA_W = 24;
constexpr int32_t PREVIEW_PANEL_EXTRA_H = 60;
constexpr int32_t NO_PREVIEW_TEXT_HALF = 40;
constexpr uint32_t FRAME_DELAY_MS = 16;
constexpr int DECODED_CHANNELS = 4;

constexpr SDL_Color FILL_CURSOR = {0, 100, 200, 200};
constexpr SDL_Color FILL_CURSOR_EMPTY = {50, 50, 50, 150};
constexpr SDL_Color FILL_CELL = {20, 20, 30, 200};
constexpr SDL_Color OUTLINE_CELL = {140, 140, 140, 255};
constexpr SDL_Color FILL_PANEL = {30, 30, 40, 220};
constexpr SDL_Color OUTLINE_PANEL = {100, 100, 120, 255};
constexpr SDL_Color FILL_NO_PREVIEW = {15, 15, 20, 255};

struct SlotEntry {
    bool used;
    int32_t time;
};

struct SlotScreen {
    Engine* engine;
    int32_t mode;
    SlotScreenLayout layout;
    SlotEntry slots[SAVE_SLOT_COUNT];
    int32_t cursor;
    int32_t result;
    bool done;
    SDL_Texture* preview;
    bool preview_ready;
    int32_t preview_slot;
};

SlotScreenLayout slot_screen_layout(uint8_t hd_mode)
{
    const int32_t k = hd_mode ? 2 : 1;
    SlotScreenLayout l;
    l.k = k;
    l.list_top = 22 * k;
    l.row_height = (378 * k - 22 * k) / SLOT_SCREEN_ROWS;
    l.column_width = 120 * k;
    l.gap = 4 * k;
    l.inset = 2 * k;
    l.preview_w = 160 * k;
    l.preview_h = 100 * k;
    l.list_left = (624 * k - 10 * k - l.preview_w - (l.gap + 2 * l.column_width)) / 2;
    l.preview_x = l.list_left + 10 * k + l.gap + 2 * l.column_width;
    return l;
}

static void cell_origin(const SlotScreenLayout* l, int32_t slot, int32_t* x, int32_t* y)
{
    *x = l->list_left + (slot / SLOT_SCREEN_ROWS) * (l->column_width + l->gap);
    *y = l->list_top + (slot % SLOT_SCREEN_ROWS) * l->row_height;
}

int32_t slot_screen_hit(const SlotScreenLayout* l, int32_t x, int32_t y)
{
    for (int32_t slot = 0; slot < SAVE_SLOT_COUNT; slot++) {
        int32_t cx = 0;
        int32_t cy = 0;
        cell_origin(l, slot, &cx, &cy);
        if (x >= cx && x < cx + l->column_width && y >= cy && y < cy + l->row_height)
            return slot;
    }
    return SAVE_SLOT_NONE;
}

int32_t slot_screen_move(int32_t cursor, int32_t rows, int32_t columns)
{
    const int32_t row = cursor % SLOT_SCREEN_ROWS + rows;
    const int32_t column = cursor / SLOT_SCREEN_ROWS + columns;
    if (row < 0 || row >= SLOT_SCREEN_ROWS || column < 0 || column >= SLOT_SCREEN_COLUMNS)
        return cursor;
    return column * SLOT_SCREEN_ROWS + row;
}

static bool local_time(int32_t seconds, struct tm* out)
{
    const time_t when = static_cast<time_t>(seconds);
    const struct tm* local = localtime(&when);
    if (!local)
        return false;
    *out = *local;
    return true;
}

void slot_screen_format_line(char* out, size_t capacity, int32_t slot, bool used, int32_t time)
{
    const int number = slot + 1;
    struct tm when;
    if (!used)
        snprintf(out, capacity, "%02d  ------", number);
    else if (time > 0 && local_time(time, &when))
        snprintf(out, capacity, "%02d %d/%02d %02d:%02d", number, when.tm_mon + 1, when.tm_mday,
                 when.tm_hour, when.tm_min);
    else
        snprintf(out, capacity, "%02d  saved", number);
}

// ---------------------------------------------------------------------------
// Reading the files
// ---------------------------------------------------------------------------

static bool read_listed_header(FILE* file, SaveHeader* header)
{
    uint8_t bytes[SAVE_HEADER_BYTES];
    if (fread(bytes, 1, sizeof bytes, file) != sizeof bytes)
        return false;
    *header = save_header_read(bytes);
    return save_header_is_listed(header);
}

static void scan_slots(SlotScreen* s)
{
    for (int32_t slot = 0; slot < SAVE_SLOT_COUNT; slot++) {
        s->slots[slot] = SlotEntry{false, 0};
        char path[SAVE_PATH_CAPACITY];
        save_build_path(static_cast<uint32_t>(slot), path, sizeof path);
        FILE* file = plat_open_regular_file(path);
        if (!file)
            continue;
        SaveHeader header;
        if (read_listed_header(file, &header)) {
            s->slots[slot].used = true;
            s->slots[slot].time = static_cast<int32_t>(header.time);
        }
        fclose(file);
    }
}

// The stored thumbnail as malloc'd PNG bytes, or null.
static uint8_t* read_thumbnail(int32_t slot, uint32_t* length)
{
    char path[SAVE_PATH_CAPACITY];
    save_build_path(static_cast<uint32_t>(slot), path, sizeof path);
    FILE* file = plat_open_regular_file(path);
    if (!file)
        return nullptr;
    SaveHeader header;
    uint8_t block[SAVE_THUMB_BLOCK_BYTES];
    uint8_t* png = nullptr;
    if (read_listed_header(file, &header) && fread(block, 1, sizeof block, file) == sizeof block) {
        *length = save_get_u32(block);
        const bool plausible = *length >= 1 && *length <= SAVE_PREVIEW_MAX_PNG &&
                               save_get_u16(block + 4) && save_get_u16(block + 6);
        png = plausible ? static_cast<uint8_t*>(malloc(*length)) : nullptr;
        if (png && fread(png, 1, *length, file) != *length) {
            free(png);
            png = nullptr;
        }
    }
    fclose(file);
    return png;
}

uint8_t* slot_thumbnail_decode(const uint8_t* png, size_t length)
{
    if (!img_is_png(png, length) || length > INT_MAX)
        return nullptr;
    const int len = static_cast<int>(length);
    int w = 0;
    int h = 0;
    int channels = 0;
    if (!stbi_info_from_memory(png, len, &w, &h, &channels) || w != THUMB_WIDTH ||
        h != THUMB_HEIGHT)
        return nullptr;
    stbi_uc* pixels = img_decode_png_rgba(png, length, &w, &h);
    // The texture is filled whole from these pixels: never from a smaller picture.
    if (pixels && (w != THUMB_WIDTH || h != THUMB_HEIGHT)) {
        stbi_image_free(pixels);
        pixels = nullptr;
    }
    return pixels;
}

static bool load_preview(SlotScreen* s, int32_t slot)
{
    uint32_t length = 0;
    uint8_t* png = read_thumbnail(slot, &length);
    if (!png)
        return false;
    stbi_uc* pixels = slot_thumbnail_decode(png, length);
    free(png);
    if (!pixels)
        return false;
    const bool shown =
        SDL_UpdateTexture(s->preview, nullptr, pixels, THUMB_WIDTH * DECODED_CHANNELS) == 0;
    stbi_image_free(pixels);
    return shown;
}

static void update_preview(SlotScreen* s)
{
    if (s->cursor == s->preview_slot)
        return;
    s->preview_slot = s->cursor;
    s->preview_ready = s->preview && s->slots[s->cursor].used && load_preview(s, s->cursor);
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

static void choose(SlotScreen* s, int32_t slot)
{
    if (s->mode == SAVE_SLOT_SCREEN_LOAD && !s->slots[slot].used)
        return;
    s->result = slot;
    s->done = true;
}

static void handle_key(SlotScreen* s, SDL_Keycode key)
{
    switch (key) {
    case SDLK_UP: s->cursor = slot_screen_move(s->cursor, -1, 0); break;
    case SDLK_DOWN: s->cursor = slot_screen_move(s->cursor, 1, 0); break;
    case SDLK_LEFT: s->cursor = slot_screen_move(s->cursor, 0, -1); break;
    case SDLK_RIGHT: s->cursor = slot_screen_move(s->cursor, 0, 1); break;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: choose(s, s->cursor); break;
    case SDLK_ESCAPE:
        s->result = SAVE_SLOT_NONE;
        s->done = true;
        break;
    default: break;
    }
}

static void handle_events(SlotScreen* s)
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            if (s->preview)
                SDL_DestroyTexture(s->preview);
            exit(0);
        }
        if (event.type == SDL_KEYDOWN) {
            handle_key(s, event.key.keysym.sym);
        } else if (event.type == SDL_MOUSEMOTION) {
            const int32_t slot = slot_screen_hit(&s->layout, event.motion.x, event.motion.y);
            if (slot != SAVE_SLOT_NONE)
                s->cursor = slot;
        } else if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_LEFT) {
            const int32_t slot = slot_screen_hit(&s->layout, event.button.x, event.button.y);
            if (slot != SAVE_SLOT_NONE) {
                s->cursor = slot;
                choose(s, slot);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

static void outline(SDL_Renderer* r, int32_t x, int32_t y, int32_t w, int32_t h, SDL_Color c)
{
    const SDL_Rect rect = {x, y, w, h};
    SDL_SetRenderDrawColor(r, c.r, c.g, c.b, c.a);
    SDL_RenderDrawRect(r, &rect);
}

static void draw_slot(const SlotScreen* s, int32_t slot)
{
    SDL_Renderer* r = s->engine->renderer;
    const SlotScreenLayout* l = &s->layout;
    int32_t x = 0;
    int32_t y = 0;
    cell_origin(l, slot, &x, &y);
    const int32_t w = l->column_width - l->inset;
    const int32_t h = l->row_height - l->inset;
    const bool used = s->slots[slot].used;
    const bool unchoosable = s->mode == SAVE_SLOT_SCREEN_LOAD && !used;
    const bool is_cursor = slot == s->cursor;
    if (is_cursor)
        gfx_fill_rect(r, unchoosable ? FILL_CURSOR_EMPTY : FILL_CURSOR, x, y, w, h);
    gfx_fill_rect(r, FILL_CELL, x, y, w, h);
    outline(r, x, y, w, h, OUTLINE_CELL);
    char line[SLOT_LINE_CAPACITY];
    slot_screen_format_line(line, sizeof line, slot, used, s->slots[slot].time);
    uint32_t colour = used ? COLOUR_USED : COLOUR_EMPTY;
    if (is_cursor)
        colour = unchoosable ? COLOUR_EMPTY : COLOUR_CURSOR;
    font_draw_string(r, x + l->gap, y + l->inset, line, colour);
}

static void draw_preview(const SlotScreen* s)
{
    SDL_Renderer* r = s->engine->renderer;
    const SlotScreenLayout* l = &s->layout;
    const int32_t k = l->k;
    gfx_fill_rect(r, FILL_PANEL, l->preview_x - l->gap, l->list_top - l->gap,
                  l->preview_w + PREVIEW_PANEL_EXTRA_W * k, l->preview_h + PREVIEW_PANEL_EXTRA_H * k);
    outline(r, l->preview_x - l->gap, l->list_top - l->gap,
            l->preview_w + PREVIEW_PANEL_EXTRA_W * k, l->preview_h + PREVIEW_PANEL_EXTRA_H * k,
            OUTLINE_PANEL);
    if (s->preview_ready && s->preview) {
        const SDL_Rect dst = {l->preview_x, l->list_top, l->preview_w, l->preview_h};
        SDL_RenderCopy(r, s->preview, nullptr, &dst);
    } else {
        gfx_fill_rect(r, FILL_NO_PREVIEW, l->preview_x, l->list_top, l->preview_w, l->preview_h);
        font_draw_string(r, l->preview_x + l->preview_w / 2 - NO_PREVIEW_TEXT_HALF * k,
                         l->list_top + l->preview_h / 2 - l->gap, "No preview", COLOUR_NO_PREVIEW);
    }
    char label[SLOT_LINE_CAPACITY];
    snprintf(label, sizeof label, "Slot %02d", s->cursor + 1);
    font_draw_string(r, l->preview_x, l->list_top + l->preview_h + PREVIEW_LABEL_DROP * k, label,
                     COLOUR_CURSOR);
    const SlotEntry& entry = s->slots[s->cursor];
    const int32_t date_y = l->list_top + l->preview_h + PREVIEW_DATE_DROP * k;
    struct tm when;
    if (!entry.used) {
        font_draw_string(r, l->preview_x, date_y, "Empty", COLOUR_EMPTY);
    } else if (entry.time > 0 && local_time(entry.time, &when)) {
        char date[SLOT_LINE_CAPACITY];
        snprintf(date, sizeof date, "%02d/%02d %02d:%02d", when.tm_mon + 1, when.tm_mday,
                 when.tm_hour, when.tm_min);
        font_draw_string(r, l->preview_x, date_y, date, COLOUR_USED);
    }
}

static void draw(SlotScreen* s)
{
    SDL_Renderer* r = s->engine->renderer;
    const SlotScreenLayout* l = &s->layout;
    SDL_SetRenderTarget(r, nullptr);
    SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
    SDL_RenderClear(r);
    gfx_compose_frame(s->engine);
    SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_BLEND);
    gfx_fill_rect(r, SDL_Color{0, 0, 0, SHADE_ALPHA}, 0, 0, SCREEN_WIDTH * l->k, SCREEN_HEIGHT * l->k);
    const bool saving = s->mode == SAVE_SLOT_SCREEN_SAVE;
    font_draw_string(r, l->list_left, l->inset, saving ? "SAVE GAME" : "LOAD GAME", COLOUR_TITLE);
    for (int32_t slot = 0; slot < SAVE_SLOT_COUNT; slot++)
        draw_slot(s, slot);
    draw_preview(s);
    font_draw_string(r, l->list_left, l->list_top + SLOT_SCREEN_ROWS * l->row_height + l->gap,
                     saving ? "Enter:Save  Esc:Cancel" : "Enter:Load  Esc:Cancel", COLOUR_FOOTER);
}

static int32_t first_used_slot(const SlotScreen* s)
{
    for (int32_t slot = 0; slot < SAVE_SLOT_COUNT; slot++) {
        if (s->slots[slot].used)
            return slot;
    }
    return SAVE_SLOT_NONE;
}

int32_t save_slot_screen(Engine* engine, int32_t mode)
{
    if (!engine->renderer)
        return SAVE_SLOT_NONE;
    SlotScreen* s = static_cast<SlotScreen*>(calloc(1, sizeof(SlotScreen)));
    if (!s)
        return SAVE_SLOT_NONE;
    s->engine = engine;
    s->mode = mode;
    s->layout = slot_screen_layout(engine->hd_mode);
    s->result = SAVE_SLOT_NONE;
    s->preview_slot = SAVE_SLOT_NONE;
    scan_slots(s);
    s->cursor = mode == SAVE_SLOT_SCREEN_LOAD ? first_used_slot(s) : 0;
    if (s->cursor == SAVE_SLOT_NONE) {
        free(s);
        return SAVE_SLOT_NONE;
    }
    s->preview = SDL_CreateTexture(engine->renderer, SDL_PIXELFORMAT_ABGR8888,
                                   SDL_TEXTUREACCESS_STREAMING, THUMB_WIDTH, THUMB_HEIGHT);
    while (!s->done) {
        handle_events(s);
        update_preview(s);
        draw(s);
        SDL_RenderPresent(engine->renderer);
        SDL_Delay(FRAME_DELAY_MS);
    }
    if (s->preview)
        SDL_DestroyTexture(s->preview);
    const int32_t result = s->result;
    free(s);
    return result;
}
