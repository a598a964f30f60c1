// Text in the code stream: characters with the waits they cause, the newline,
// and the escape sequences that move the cursor or clear the screen.
#include "vm_private.h"

#include "screen.h"
#include "vm.h"

#include <SDL.h>

#include <cstdint>

static constexpr uint16_t CHAR_CARRIAGE_RETURN = 13;
static constexpr uint16_t CHAR_LINE_FEED = 10;

static constexpr int ESCAPE_CURSOR = 'Y';
static constexpr int ESCAPE_CLEAR_SCREEN = 'J';
// Cursor positions travel as printable bytes, offset by a space.
static constexpr int ESCAPE_POSITION_BIAS = 32;
static constexpr int CELL_WIDTH = 8;
static constexpr int CELL_HEIGHT = 16;

// The two ranges of Shift-JIS lead bytes.
static constexpr int SJIS_LEAD_LOW_FIRST = 0x81;
static constexpr int SJIS_LEAD_LOW_LAST = 0x9F;
static constexpr int SJIS_LEAD_HIGH_FIRST = 0xE0;
static constexpr int SJIS_LEAD_HIGH_LAST = 0xFC;

static bool is_sjis_lead(int byte)
{
    return (byte >= SJIS_LEAD_LOW_FIRST && byte <= SJIS_LEAD_LOW_LAST) ||
           (byte >= SJIS_LEAD_HIGH_FIRST && byte <= SJIS_LEAD_HIGH_LAST);
}

static void set_text_wait(Engine* engine, int32_t wait)
{
    if (wait > 0)
        engine->wait_frames = wait;
}

void vm_exec_text(Engine* engine)
{
    const int first = vm_peek(engine, engine->vm_pc);
    if (first < 0)
        return;
    const int32_t wait = engine->vm_vars[VAR_TEXT_SPEED];
    engine->vm_pc++;
    if (is_sjis_lead(first)) {
        // A lead byte that ends the code is consumed and draws nothing.
        const int trail = vm_peek(engine, engine->vm_pc);
        if (trail < 0)
            return;
        engine->vm_pc++;
        vm_put_char(engine, static_cast<uint16_t>(first << 8 | trail));
        set_text_wait(engine, wait);
        return;
    }
    vm_put_char(engine, static_cast<uint16_t>(first));
    // Half-width characters are narrow: only every second one waits. The
    // toggle runs on across lines and blocks.
    if (engine->vm_halfwidth_toggle) {
        engine->vm_halfwidth_toggle = 0;
        return;
    }
    engine->vm_halfwidth_toggle = 1;
    set_text_wait(engine, wait);
}

void vm_exec_newline(Engine* engine)
{
    if (vm_peek(engine, engine->vm_pc) < 0)
        return;
    engine->vm_pc++;
    vm_put_char(engine, CHAR_CARRIAGE_RETURN);
    vm_put_char(engine, CHAR_LINE_FEED);
    set_text_wait(engine, engine->vm_vars[VAR_TEXT_SPEED]);
}

static int32_t escape_position(int byte)
{
    return byte < ESCAPE_POSITION_BIAS ? 0 : byte - ESCAPE_POSITION_BIAS;
}

static void escape_move_cursor(Engine* engine)
{
    const int row_byte = vm_peek(engine, engine->vm_pc);
    const int column_byte = row_byte < 0 ? -1 : vm_peek(engine, engine->vm_pc + 1);
    if (column_byte < 0) {
        // Cut short by the end of the code: what is left of it is consumed.
        engine->vm_pc = engine->code_size;
        return;
    }
    engine->vm_pc += 2;
    const int32_t row = escape_position(row_byte);
    const int32_t column = escape_position(column_byte);
    if (TextWindow* window = vm_current_window(engine)) {
        window->col = column;
        window->row = row;
        return;
    }
    const int32_t k = engine_scale(engine);
    engine->text_cursor_x = static_cast<uint16_t>(column * k * CELL_WIDTH);
    engine->text_cursor_y = static_cast<uint16_t>(row * k * CELL_HEIGHT);
}

static void escape_clear_screen(Engine* engine)
{
    gfx_clear_canvas(engine);
    for (ImageSlot& slot : engine->image_slots)
        slot.sprite_visible = 0;
    if (engine->renderer)
        SDL_SetRenderDrawColor(engine->renderer, 0, 0, 0, SDL_ALPHA_TRANSPARENT);
    text_layer_clear(engine->renderer);
    engine->text_cursor_x = 0;
    engine->text_cursor_y = 0;
    if (TextWindow* window = vm_current_window(engine)) {
        window->col = 0;
        window->row = 0;
    }
}

void vm_exec_escape(Engine* engine)
{
    if (vm_peek(engine, engine->vm_pc) < 0)
        return;
    engine->vm_pc++;
    const int kind = vm_peek(engine, engine->vm_pc);
    if (kind < 0)
        return;
    engine->vm_pc++;
    if (kind == ESCAPE_CURSOR)
        escape_move_cursor(engine);
    else if (kind == ESCAPE_CLEAR_SCREEN)
        escape_clear_screen(engine);
}
