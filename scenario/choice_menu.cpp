// Choice menus: the '!' command that gathers choices and opens the menu, the
// 'M' layout, the grid the list stands in (shared with the mouse handling),
// and the overlay that draws the list or the key prompt each frame.
#include "screen.h"
#include "vm.h"
#include "vm_private.h"

#include <algorithm>

constexpr int CELL_WIDTH = 8;
constexpr int CELL_HEIGHT = 16;
constexpr int CHOICE_COLUMN_WIDTH = 160;
constexpr int CHOICE_ROW_HEIGHT_DEFAULT = 16;
constexpr int WINDOW_MAX_ID = TEXT_WINDOW_COUNT - 1;
constexpr int32_t CHOICE_WINDOW_FIRST = 1;  // window 0 is never the choice window

constexpr int32_t CHOICE_RESULT_EMPTY = -2;

constexpr int LAYOUT_COLUMN = 0;
constexpr int LAYOUT_ROW = 1;
constexpr int LAYOUT_PROMPT_ROWS = 3;
constexpr int LAYOUT_HIGHLIGHT = 5;
constexpr int LAYOUT_NORMAL = 6;
constexpr int LAYOUT_OPERANDS_READ = MENU_LAYOUT_VALUES + 1;  // the last one is dropped

constexpr uint32_t CHOICE_HIGHLIGHT_DEFAULT = 0x00FFFF;
constexpr uint32_t CHOICE_NORMAL_DEFAULT = 0xFFFFFF;

constexpr const char PROMPT_TEXT[] = "Press any key";
constexpr int PROMPT_WIDTH = (sizeof PROMPT_TEXT - 1) * FONT_HALF_WIDTH;
constexpr int PROMPT_HEIGHT = FONT_HEIGHT;

static const TextWindow* active_window(const Engine* engine, uint32_t id)
{
    if (id > WINDOW_MAX_ID || !engine->text_windows[id].active)
        return nullptr;
    return &engine->text_windows[id];
}

static const TextWindow* current_window(const Engine* engine)
{
    return active_window(engine, static_cast<uint32_t>(engine->vm_vars[VAR_CUR_WINDOW]));
}

// Saves restore the count from the file; never index past the list.
static int32_t choice_count(const Engine* engine)
{
    return std::clamp(engine->choice_count, 0, MENU_MAX_CHOICES);
}

// Layout values are stored as read from the stream; a variable operand may
// have put a negative number there.
static int64_t layout_value(const Engine* engine, int index)
{
    return static_cast<int32_t>(engine->menu_layout[index]);
}

static uint32_t layout_colour(const Engine* engine, int index)
{
    return DIGITAL8_PALETTE[engine->menu_layout[index] & (DIGITAL8_COLOURS - 1)];
}

ChoiceGrid menu_choice_grid(const Engine* engine)
{
    const int k = engine_scale(engine);
    ChoiceGrid grid;
    grid.columns = std::max(engine->vm_vars[VAR_CHOICE_COLUMNS], 1);
    grid.column_width = CHOICE_COLUMN_WIDTH * k;
    int32_t row_height = engine->vm_vars[VAR_CHOICE_ROW_HEIGHT];
    // Clamped so that k times it stays an int32; no screen is that tall.
    row_height = row_height < 1 ? CHOICE_ROW_HEIGHT_DEFAULT : std::min(row_height, INT32_MAX / k);
    grid.row_height = row_height * k;

    int32_t choice_window = engine->vm_vars[VAR_CHOICE_WINDOW];
    const TextWindow* window = choice_window >= CHOICE_WINDOW_FIRST
                                   ? active_window(engine, static_cast<uint32_t>(choice_window))
                                   : nullptr;
    if (window) {
        grid.origin_x = window->x;
        grid.origin_y = window->y;
    } else if (engine->menu_layout_set) {
        grid.origin_x = int64_t{CELL_WIDTH} * k * layout_value(engine, LAYOUT_COLUMN);
        grid.origin_y = int64_t{CELL_HEIGHT} * k * layout_value(engine, LAYOUT_ROW);
    } else if ((window = current_window(engine))) {
        grid.origin_x = window->x;
        grid.origin_y = window->y;
    } else {
        grid.origin_x = engine->choice_x;
        grid.origin_y = engine->choice_y;
    }
    return grid;
}

void menu_choice_position(const ChoiceGrid* grid, int32_t index, int64_t* x, int64_t* y)
{
    *x = grid->origin_x + int64_t{index % grid->columns} * grid->column_width;
    *y = grid->origin_y + int64_t{index / grid->columns} * grid->row_height;
}

int32_t menu_choice_at(const Engine* engine, int32_t px, int32_t py)
{
    ChoiceGrid grid = menu_choice_grid(engine);
    int64_t dx = px - grid.origin_x;
    int64_t dy = py - grid.origin_y;
    if (dx < 0 || dy < 0)
        return -1;
    int64_t column = dx / grid.column_width;
    int64_t row = dy / grid.row_height;
    if (column >= grid.columns)
        return -1;
    int64_t index = column + row * grid.columns;
    return index < choice_count(engine) ? static_cast<int32_t>(index) : -1;
}

PromptRect menu_prompt_rect(const Engine* engine)
{
    const int k = engine_scale(engine);
    PromptRect rect;
    rect.x = int64_t{CELL_WIDTH} * k * layout_value(engine, LAYOUT_COLUMN);
    // The prompt stands half the layout's height below its row, the half
    // rounded toward zero even when the height is negative.
    int64_t row = layout_value(engine, LAYOUT_PROMPT_ROWS) / 2 + layout_value(engine, LAYOUT_ROW);
    rect.y = int64_t{CELL_HEIGHT} * k * row;
    rect.w = PROMPT_WIDTH * k;
    rect.h = PROMPT_HEIGHT * k;
    return rect;
}

bool menu_prompt_contains(const Engine* engine, int32_t px, int32_t py)
{
    PromptRect rect = menu_prompt_rect(engine);
    return px >= rect.x && px < rect.x + rect.w && py >= rect.y && py < rect.y + rect.h;
}

static int32_t saturate_int32(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

static void open_menu(Engine* engine)
{
    if (engine->choice_count < 1) {
        engine->vm_vars[VAR_RESULT] = CHOICE_RESULT_EMPTY;
        engine->choice_result = CHOICE_RESULT_EMPTY;
        return;
    }
    dbg_log(engine, "MENU OPEN (Accumulated Seg %d)", static_cast<int>(engine->vm_segment));
    const int32_t count = choice_count(engine);
    for (int32_t i = 0; i < count; i++) {
        const char* text = script_string(engine, static_cast<int32_t>(engine->choice_ids[i]));
        dbg_log(engine, "  %d. [ID %d] %s", i + 1, static_cast<int>(engine->choice_ids[i]),
                text ? text : "???");
    }

    // Without a layout or a choice window the list opens where the text stopped.
    const TextWindow* window = current_window(engine);
    if (window) {
        const int k = engine_scale(engine);
        engine->choice_x = saturate_int32(window->x + int64_t{CELL_WIDTH} * k * window->col);
        engine->choice_y = saturate_int32(window->y + int64_t{CELL_HEIGHT} * k * window->row);
    } else {
        engine->choice_x = engine->text_cursor_x;
        engine->choice_y = engine->text_cursor_y;
    }
    engine->choice_cursor = 0;
    engine->vm_blocked = 1;
    engine->choice_active = 1;
}

static void add_choice(Engine* engine, uint32_t id)
{
    int32_t count = choice_count(engine);
    for (int32_t i = 0; i < count; i++)
        if (engine->choice_ids[i] == id)
            return;
    if (count >= MENU_MAX_CHOICES)
        return;
    engine->choice_ids[count] = id;
    engine->choice_count = count + 1;
}

void menu_add_or_open(Engine* engine)
{
    uint32_t after_last = engine->vm_pc;
    uint32_t id = 0;
    bool any = false;
    while (vm_read_operand(engine, &id)) {
        add_choice(engine, id);
        after_last = engine->vm_pc;
        any = true;
    }
    // A failed read may have passed over separators or a stray '@'; the
    // stream goes on from the end of the last operand.
    engine->vm_pc = after_last;
    if (!any)
        open_menu(engine);
}

void vm_cmd_menu_layout(Engine* engine)
{
    uint32_t values[LAYOUT_OPERANDS_READ];
    int count = 0;
    while (count < LAYOUT_OPERANDS_READ && vm_read_operand(engine, &values[count])) {
        count++;
        if (vm_peek(engine, engine->vm_pc) == ',')
            engine->vm_pc++;
    }
    if (count < MENU_LAYOUT_VALUES)
        return;
    std::copy(values, values + MENU_LAYOUT_VALUES, engine->menu_layout);
    engine->menu_layout_set = 1;
}

static bool fits_int32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

static void draw_text_at(SDL_Renderer* renderer, int64_t x, int64_t y, const char* text, uint32_t colour)
{
    if (fits_int32(x) && fits_int32(y))
        font_draw_string(renderer, static_cast<int32_t>(x), static_cast<int32_t>(y), text, colour);
}

static void draw_choice_list(Engine* engine)
{
    ChoiceGrid grid = menu_choice_grid(engine);
    uint32_t highlight = CHOICE_HIGHLIGHT_DEFAULT;
    uint32_t normal = CHOICE_NORMAL_DEFAULT;
    if (engine->menu_layout_set) {
        highlight = layout_colour(engine, LAYOUT_HIGHLIGHT);
        normal = layout_colour(engine, LAYOUT_NORMAL);
    }
    const int32_t count = choice_count(engine);
    for (int32_t i = 0; i < count; i++) {
        const char* text = script_string(engine, static_cast<int32_t>(engine->choice_ids[i]));
        if (!text)
            continue;
        int64_t x = 0, y = 0;
        menu_choice_position(&grid, i, &x, &y);
        draw_text_at(engine->renderer, x, y, text, i == engine->choice_cursor ? highlight : normal);
    }
}

void menu_draw_overlay(Engine* engine)
{
    if (!engine->renderer || (!engine->choice_active && !engine->vm_blocked))
        return;
    // A key wait with choices gathered but the menu not yet open shows them too.
    if (choice_count(engine) >= 1) {
        draw_choice_list(engine);
        return;
    }
    if (engine->vm_blocked && !engine->choice_active && engine->menu_layout_set) {
        PromptRect prompt = menu_prompt_rect(engine);
        draw_text_at(engine->renderer, prompt.x, prompt.y, PROMPT_TEXT,
                     layout_colour(engine, LAYOUT_HIGHLIGHT));
    }
}
