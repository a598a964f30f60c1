// Text windows: rectangles of PC-98 character cells on the text layer, the
// 'O' command that defines them, character output with its control codes and
// the deferred scroll, and the 'V' command that prints message strings.
#include "screen.h"
#include "vm.h"
#include "vm_private.h"

#include <SDL.h>

#include <algorithm>

const uint32_t DIGITAL8_PALETTE[DIGITAL8_COLOURS] = {
    0x000000, 0x0000FF, 0xFF0000, 0xFF00FF, 0x00FF00, 0x00FFFF, 0xFFFF00, 0xFFFFFF,
};

// The PC-98 text screen: 80 by 25 cells of 8 by 16 pixels.
constexpr int CELL_WIDTH = 8;
constexpr int CELL_HEIGHT = 16;
constexpr int GRID_COLUMNS = 80;
constexpr int GRID_ROWS = 25;
constexpr int WINDOW_MAX_ID = TEXT_WINDOW_COUNT - 1;
constexpr int LARGEST_SCALE = 2;  // HD mode

// The cursor keys move the cursor without limit; it stops here, where its
// cell's pixel offset still fits 32 bits in HD mode and no step can overflow.
constexpr int32_t CURSOR_CELL_MAX = INT32_MAX / (CELL_HEIGHT * LARGEST_SCALE);

constexpr uint16_t ATTRIBUTE_WHITE = 0xE1;
constexpr int ATTRIBUTE_COLOUR_SHIFT = 5;
constexpr int ATTRIBUTE_COLOUR_MASK = DIGITAL8_COLOURS - 1;

constexpr uint16_t CHAR_DOUBLE_WIDTH_FIRST = 0x100;  // Shift-JIS pairs take two cells
constexpr int32_t CHAR_CELLS_SINGLE = 1;
constexpr int32_t CHAR_CELLS_DOUBLE = 2;
constexpr uint16_t CHAR_FIRST_PRINTABLE = 0x20;

constexpr uint16_t CTRL_BACKSPACE = 8;
constexpr uint16_t CTRL_LINE_FEED = 10;
constexpr uint16_t CTRL_HOME = 11;
constexpr uint16_t CTRL_CLEAR = 12;
constexpr uint16_t CTRL_CARRIAGE_RETURN = 13;
constexpr uint16_t CTRL_SCROLL = 17;
constexpr uint16_t CTRL_CLEAR_ALT = 26;
constexpr uint16_t CTRL_RIGHT = 28;
constexpr uint16_t CTRL_LEFT = 29;
constexpr uint16_t CTRL_UP = 30;
constexpr uint16_t CTRL_DOWN = 31;

constexpr int DEFINE_WINDOW_OPERANDS = 5;
constexpr int PRINT_MESSAGES_MAX = 16;
constexpr int32_t MESSAGE_WAIT_PER_SPEED = 2;
constexpr int32_t MESSAGE_WAIT_DEFAULT = 60;

constexpr uint8_t SJIS_LEAD_LOW_FIRST = 0x81;
constexpr uint8_t SJIS_LEAD_LOW_LAST = 0x9F;
constexpr uint8_t SJIS_LEAD_HIGH_FIRST = 0xE0;
constexpr uint8_t SJIS_LEAD_HIGH_LAST = 0xFC;
constexpr uint8_t MESSAGE_LINE_FEED = 0x0A;
constexpr uint8_t MESSAGE_PRINTABLE_FIRST = 0x20;
constexpr uint8_t MESSAGE_PRINTABLE_LAST = 0x7F;

static bool is_sjis_lead(uint8_t b)
{
    return (b >= SJIS_LEAD_LOW_FIRST && b <= SJIS_LEAD_LOW_LAST) ||
           (b >= SJIS_LEAD_HIGH_FIRST && b <= SJIS_LEAD_HIGH_LAST);
}

// Blanks only: a comma after an operand means more are coming.
static void skip_blanks(Engine* engine)
{
    for (;;) {
        int c = vm_peek(engine, engine->vm_pc);
        if (c != '\t' && c != '\r' && c != ' ')
            return;
        engine->vm_pc++;
    }
}

static void skip_one_comma(Engine* engine)
{
    if (vm_peek(engine, engine->vm_pc) == ',')
        engine->vm_pc++;
}

static int32_t line_height(const Engine* engine) { return CELL_HEIGHT * engine_scale(engine); }

// A window defined right to left or bottom to top has no cell; text sent to
// it is dropped rather than stacked up in one corner.
static bool window_has_cells(const TextWindow* w)
{
    return w->cols >= 1 && w->rows >= 1 && w->w > 0 && w->h > 0;
}

// Windows restored from a save may hold any numbers; only a window that
// overlaps the layer has pixels to clear or scroll.
static bool window_has_area(const Engine* engine, const TextWindow* w)
{
    int64_t layer_w = int64_t{SCREEN_WIDTH} * engine_scale(engine);
    int64_t layer_h = int64_t{SCREEN_HEIGHT} * engine_scale(engine);
    return window_has_cells(w) && w->x < layer_w && int64_t{w->x} + w->w > 0 && w->y < layer_h &&
           int64_t{w->y} + w->h > 0;
}

static void cursor_step(int32_t* cell)
{
    if (*cell < CURSOR_CELL_MAX)
        ++*cell;
}

bool vm_window_fits_layer(const TextWindow* w)
{
    if (!w->active)
        return true;
    const int64_t layer_w = int64_t{SCREEN_WIDTH} * LARGEST_SCALE;
    const int64_t layer_h = int64_t{SCREEN_HEIGHT} * LARGEST_SCALE;
    const int64_t right = int64_t{w->x} + w->w;
    const int64_t bottom = int64_t{w->y} + w->h;
    const bool rectangle = w->x >= 0 && w->x <= layer_w && right >= 0 && right <= layer_w &&
                           w->y >= 0 && w->y <= layer_h && bottom >= 0 && bottom <= layer_h;
    const bool cells = w->cols >= -GRID_COLUMNS && w->cols <= GRID_COLUMNS && w->rows >= -GRID_ROWS &&
                       w->rows <= GRID_ROWS;
    const bool cursor = w->col >= 0 && w->col <= CURSOR_CELL_MAX && w->row >= 0 && w->row <= CURSOR_CELL_MAX;
    return rectangle && cells && cursor;
}

static void window_clear(Engine* engine, TextWindow* w)
{
    if (window_has_area(engine, w))
        text_layer_clear_rect(engine, w->x, w->y, w->w, w->h);
    w->col = 0;
    w->row = 0;
}

// Moves the window's pixels up one line, the top line going to the history.
static void window_move_up(Engine* engine, TextWindow* w)
{
    if (!window_has_area(engine, w))
        return;
    int32_t lh = line_height(engine);
    hist_push(&engine->history, engine->renderer, text_layer_get(), w->x, w->y, w->w, lh, w->id);
    // The layer cannot move a rectangle by its whole height; a window one
    // line tall simply loses that line.
    if (w->h > lh)
        text_layer_scroll(engine, w->x, w->y, w->w, w->h, lh);
    else
        text_layer_clear_rect(engine, w->x, w->y, w->w, w->h);
}

static void window_scroll(Engine* engine, TextWindow* w)
{
    window_move_up(engine, w);
    if (w->row > 0)
        w->row--;
}

static void window_print(Engine* engine, TextWindow* w, uint16_t code)
{
    if (!window_has_cells(w))
        return;
    const int k = engine_scale(engine);
    const int32_t lh = line_height(engine);
    // A line feed at column 0 on the last row leaves the cursor below the
    // window; the scroll happens only now that something is printed there.
    if (w->row >= w->rows) {
        window_scroll(engine, w);
        if (w->row >= w->rows)
            w->row = w->rows - 1;
    }
    int64_t v = int64_t{lh} * w->row;
    if (v >= w->h)
        v = w->h > lh ? w->h - lh : 0;
    int64_t px = w->x + int64_t{CELL_WIDTH} * k * w->col;
    int64_t py = w->y + v;
    int32_t width = code >= CHAR_DOUBLE_WIDTH_FIRST ? CHAR_CELLS_DOUBLE : CHAR_CELLS_SINGLE;
    bool on_layer = px >= 0 && px < int64_t{SCREEN_WIDTH} * k && py >= 0 && py < int64_t{SCREEN_HEIGHT} * k;

    SDL_Texture* layer = text_layer_get();
    if (on_layer && layer) {
        uint32_t colour = DIGITAL8_PALETTE[(w->attribute >> ATTRIBUTE_COLOUR_SHIFT) & ATTRIBUTE_COLOUR_MASK];
        SDL_SetRenderTarget(engine->renderer, layer);
        font_draw_glyph(engine->renderer, static_cast<int32_t>(px), static_cast<int32_t>(py), code, colour);
        SDL_SetRenderTarget(engine->renderer, nullptr);
    }
    // Compared before adding, so a cursor at the last column never overflows.
    if (w->col < w->cols - width) {
        w->col += width;
        return;
    }
    w->col = 0;
    w->row++;
    // Text that fell outside the layer does not push the window along.
    if (on_layer && w->row >= w->rows)
        window_scroll(engine, w);
}

static void window_line_feed(Engine* engine, TextWindow* w)
{
    if (w->row >= w->rows) {
        window_move_up(engine, w);
        return;
    }
    w->row++;
    if (w->col != 0 && w->row >= w->rows)
        window_scroll(engine, w);
}

static void window_control(Engine* engine, TextWindow* w, uint16_t code)
{
    switch (code) {
    case CTRL_BACKSPACE:
    case CTRL_LEFT:
        if (w->col > 0)
            w->col--;
        break;
    case CTRL_LINE_FEED:
        window_line_feed(engine, w);
        break;
    case CTRL_HOME:
        w->col = 0;
        w->row = 0;
        break;
    case CTRL_CLEAR:
    case CTRL_CLEAR_ALT:
        window_clear(engine, w);
        break;
    case CTRL_CARRIAGE_RETURN:
        w->col = 0;
        break;
    case CTRL_SCROLL:
        window_scroll(engine, w);
        break;
    case CTRL_RIGHT:
        cursor_step(&w->col);
        break;
    case CTRL_UP:
        if (w->row > 0)
            w->row--;
        break;
    case CTRL_DOWN:
        cursor_step(&w->row);
        break;
    default:
        break;
    }
}

void vm_reset_text_windows(Engine* engine)
{
    const int k = engine_scale(engine);
    TextWindow* w = &engine->text_windows[0];
    w->id = 0;
    w->active = 1;
    w->x = 0;
    w->y = 0;
    w->w = SCREEN_WIDTH * k;
    w->h = SCREEN_HEIGHT * k;
    w->col = 0;
    w->row = 0;
    w->attribute = ATTRIBUTE_WHITE;
    w->cols = GRID_COLUMNS;
    w->rows = GRID_ROWS;
    engine->vm_vars[VAR_CUR_WINDOW] = 0;
    engine->vm_vars[VAR_TEXT_SPEED] = 1;
    engine->vm_depth = 0;
}

TextWindow* vm_current_window(Engine* engine)
{
    uint32_t id = static_cast<uint32_t>(engine->vm_vars[VAR_CUR_WINDOW]);
    if (id > WINDOW_MAX_ID || !engine->text_windows[id].active)
        return nullptr;
    return &engine->text_windows[id];
}

void vm_cmd_define_window(Engine* engine)
{
    uint32_t values[DEFINE_WINDOW_OPERANDS];
    for (uint32_t& value : values) {
        if (!vm_read_operand(engine, &value))
            return;
        skip_one_comma(engine);
    }
    uint32_t id = values[0];
    if (id > WINDOW_MAX_ID)
        return;
    int32_t x1 = std::clamp(static_cast<int32_t>(values[1]), 0, GRID_COLUMNS - 1);
    int32_t y1 = std::clamp(static_cast<int32_t>(values[2]), 0, GRID_ROWS - 1);
    int32_t x2 = std::clamp(static_cast<int32_t>(values[3]), 0, GRID_COLUMNS - 1);
    int32_t y2 = std::clamp(static_cast<int32_t>(values[4]), 0, GRID_ROWS - 1);

    const int k = engine_scale(engine);
    TextWindow* w = &engine->text_windows[id];
    w->id = static_cast<uint16_t>(id);
    w->active = 1;
    w->cols = x2 - x1 + 1;
    w->rows = y2 - y1 + 1;
    w->x = CELL_WIDTH * k * x1;
    w->y = CELL_HEIGHT * k * y1;
    w->w = CELL_WIDTH * k * w->cols;
    w->h = CELL_HEIGHT * k * w->rows;
    w->attribute = ATTRIBUTE_WHITE;
    engine->vm_vars[id] = static_cast<int32_t>(id);
    window_clear(engine, w);
}

void vm_put_char(Engine* engine, uint16_t code)
{
    TextWindow* w = vm_current_window(engine);
    if (!w || !engine->renderer) {
        // Text with no window only moves the free cursor: nothing could ever
        // clear it from the layer, so it is not drawn.
        uint16_t advance = code >= CHAR_DOUBLE_WIDTH_FIRST ? FONT_FULL_WIDTH : FONT_HALF_WIDTH;
        engine->text_cursor_x = static_cast<uint16_t>(engine->text_cursor_x + advance);
        return;
    }
    if (code >= CHAR_FIRST_PRINTABLE)
        window_print(engine, w, code);
    else
        window_control(engine, w, code);
}

static void print_message(Engine* engine, TextWindow* target, const char* text)
{
    target->col = 0;
    target->row = 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    while (*p) {
        if (is_sjis_lead(*p)) {
            if (!p[1])
                return;
            vm_put_char(engine, static_cast<uint16_t>(p[0] << 8 | p[1]));
            p += 2;
            continue;
        }
        if (*p == MESSAGE_LINE_FEED) {
            cursor_step(&target->row);
            target->col = 0;
        } else if (*p >= MESSAGE_PRINTABLE_FIRST && *p <= MESSAGE_PRINTABLE_LAST) {
            vm_put_char(engine, *p);
        }
        p++;
    }
}

void vm_cmd_print_messages(Engine* engine)
{
    uint32_t ids[PRINT_MESSAGES_MAX];
    int count = 0;
    while (count < PRINT_MESSAGES_MAX && vm_read_operand(engine, &ids[count])) {
        count++;
        skip_blanks(engine);
        if (vm_peek(engine, engine->vm_pc) != ',')
            break;
        engine->vm_pc++;
    }

    uint32_t target_id = static_cast<uint32_t>(engine->vm_vars[VAR_CUR_WINDOW]);
    TextWindow* target = target_id <= WINDOW_MAX_ID ? &engine->text_windows[target_id] : nullptr;
    int64_t wait = int64_t{MESSAGE_WAIT_PER_SPEED} * engine->vm_vars[VAR_TEXT_SPEED];
    if (wait < 1)
        wait = MESSAGE_WAIT_DEFAULT;
    wait = std::min<int64_t>(wait, INT32_MAX);

    for (int i = 0; i < count; i++) {
        const char* text = script_string(engine, static_cast<int32_t>(ids[i]));
        if (!text)
            continue;
        if (target)
            print_message(engine, target, text);
        if (i + 1 < count)
            engine->wait_frames = static_cast<int32_t>(wait);
    }
}
