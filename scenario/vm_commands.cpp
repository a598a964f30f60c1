// The one-character commands of command mode: one table from command byte to
// handler, and the handlers that are not routines of a module of their own.
#include "vm_private.h"

#include "music.h"
#include "screen.h"
#include "vm.h"

#include <SDL.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using CommandHandler = void (*)(Engine*);

static constexpr uint32_t VAR_INDEX_MASK = VM_VAR_COUNT - 1;
static constexpr uint32_t FRAME_MS = 16;
static constexpr uint32_t MUSIC_STOP_TRACE_OPERAND = 65535;
static constexpr uint32_t OPERAND_NOT_GIVEN = UINT32_MAX;  // -1 as a signed value

// Canvas positions come in 8-pixel columns and 2-line rows.
static constexpr int32_t COLUMN_PIXELS = 8;
static constexpr int32_t ROW_LINES = 2;
static constexpr uint32_t PLACE_POSITION_MASK = 0xFF;
static constexpr uint32_t WHOLE_SCREEN_COLUMNS = 80;
static constexpr uint32_t WHOLE_SCREEN_ROWS = 200;

// Text attribute: the colour in bits 5 to 7 over the base bit 0; a colour
// number above 7 also sets bit 2.
static constexpr uint32_t ATTRIBUTE_COLOUR_MASK = 7;
static constexpr int ATTRIBUTE_COLOUR_SHIFT = 5;
static constexpr uint16_t ATTRIBUTE_BASE = 0x01;
static constexpr uint16_t ATTRIBUTE_HIGH_COLOUR = 0x05;
static constexpr int32_t ATTRIBUTE_LAST_PLAIN_COLOUR = 7;

static constexpr uint8_t TINT_NEUTRAL = 255;

static constexpr int PART_OPERANDS = 4;
static constexpr int IGNORED_OPERANDS = 4;
static constexpr int CLEAR_RECT_OPERANDS = 5;
static constexpr int READ_BACK_OPERANDS = 4;

static int32_t* script_var(Engine* engine, uint32_t index)
{
    return &engine->vm_vars[index & VAR_INDEX_MASK];
}

static bool next_byte_is(const Engine* engine, int byte)
{
    return vm_peek(engine, engine->vm_pc) == byte;
}

static void skip_comma(Engine* engine)
{
    if (next_byte_is(engine, ','))
        engine->vm_pc++;
}

// One operand of a list, with the "," standing directly after it.
static bool read_listed(Engine* engine, uint32_t* out)
{
    if (!vm_read_operand(engine, out))
        return false;
    skip_comma(engine);
    return true;
}

static void skip_blanks(Engine* engine)
{
    for (;;) {
        const int byte = vm_peek(engine, engine->vm_pc);
        if (byte != '\t' && byte != '\r' && byte != ' ')
            return;
        engine->vm_pc++;
    }
}

// The trace counters are signed fields that only grow; they wrap as unsigned.
static int32_t next_count(int32_t count)
{
    return static_cast<int32_t>(static_cast<uint32_t>(count) + 1);
}

static void trace_command(Engine* engine, uint8_t command, uint32_t operand)
{
    const uint32_t at = static_cast<uint32_t>(engine->dbg_cmd_trace_count) % DBG_CMD_TRACE_SIZE;
    engine->dbg_cmd_trace[at] = {engine->vm_segment, command, operand};
    engine->dbg_cmd_trace_count = next_count(engine->dbg_cmd_trace_count);
}

static void trace_variable(Engine* engine, uint32_t index, int32_t before, int32_t after, uint8_t op)
{
    const uint32_t at = static_cast<uint32_t>(engine->dbg_var_trace_count) % DBG_VAR_TRACE_SIZE;
    engine->dbg_var_trace[at] = {index, before, after, op};
    engine->dbg_var_trace_count = next_count(engine->dbg_var_trace_count);
}

static bool slot_in_range(int64_t slot)
{
    return slot >= 0 && slot < IMAGE_SLOT_COUNT;
}

static void sleep_one_frame(Engine* engine)
{
    if (engine->game_speed <= 0) {
        SDL_Delay(FRAME_MS);
        return;
    }
    const uint32_t ms = FRAME_MS / static_cast<uint32_t>(engine->game_speed);
    if (ms > 0)
        SDL_Delay(ms);
}

// Without the shell's pump the window's close button must still end the
// program, or a long wait would hang it.
static void drain_events_or_exit()
{
    SDL_Event event;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT)
            exit(0);
}

// ---------------------------------------------------------------------------
// Variables
// ---------------------------------------------------------------------------

static void change_variable(Engine* engine, uint8_t op)
{
    uint32_t v = 0;
    if (!vm_read_operand(engine, &v))
        return;
    // Only a comma directly after v introduces the amount; "+5 3" adds 1 and
    // leaves the 3 to be passed over as a character without a command.
    uint32_t n = 1;
    if (next_byte_is(engine, ',')) {
        engine->vm_pc++;
        vm_read_operand(engine, &n);
    }
    const uint32_t index = v & VAR_INDEX_MASK;
    const int32_t before = engine->vm_vars[index];
    uint32_t after = n;
    if (op == '+')
        after = static_cast<uint32_t>(before) + n;
    else if (op == '-')
        after = static_cast<uint32_t>(before) - n;
    engine->vm_vars[index] = static_cast<int32_t>(after);
    trace_variable(engine, index, before, engine->vm_vars[index], op);
}

static void cmd_set(Engine* engine) { change_variable(engine, '='); }
static void cmd_add(Engine* engine) { change_variable(engine, '+'); }
static void cmd_subtract(Engine* engine) { change_variable(engine, '-'); }

static void cmd_read_and_ignore(Engine* engine)
{
    uint32_t ignored = 0;
    read_listed(engine, &ignored);
}

static void cmd_select_window(Engine* engine)
{
    uint32_t n = 0;
    if (read_listed(engine, &n))
        engine->vm_vars[VAR_CUR_WINDOW] = static_cast<int32_t>(n);
}

// ---------------------------------------------------------------------------
// Control flow
// ---------------------------------------------------------------------------

static void leave(Engine* engine, uint32_t next_segment)
{
    vm_read_operand(engine, &next_segment);
    engine->vm_next_segment = next_segment;
    engine->vm_leave = 1;
}

static void cmd_leave(Engine* engine) { leave(engine, VM_NEXT_NONE); }
static void cmd_leave_alt(Engine* engine) { leave(engine, VM_NEXT_NONE_ALT); }

static void cmd_if_less(Engine* engine) { vm_cmd_if_compare(engine, VM_COMPARE_LESS); }
static void cmd_if_greater(Engine* engine) { vm_cmd_if_compare(engine, VM_COMPARE_GREATER); }
static void cmd_if_not_equal(Engine* engine) { vm_cmd_if_compare(engine, VM_COMPARE_NOT_EQUAL); }

static void cmd_choice_test(Engine* engine)
{
    bool matched = false;
    uint32_t id = 0;
    const uint32_t after_command = engine->vm_pc;
    if (vm_read_operand(engine, &id)) {
        for (;;) {
            if (static_cast<uint32_t>(engine->choice_result) == id)
                matched = true;
            skip_blanks(engine);
            if (!next_byte_is(engine, ','))
                break;
            engine->vm_pc++;
            const uint32_t after_comma = engine->vm_pc;
            if (!vm_read_operand(engine, &id)) {
                engine->vm_pc = after_comma;
                break;
            }
        }
    } else {
        engine->vm_pc = after_command;
    }
    vm_skip_spaces(engine);
    if (!next_byte_is(engine, '{'))
        return;
    if (matched)
        vm_run_block(engine, VM_BLOCK_RUN);
    else
        vm_skip_block(engine);
}

static void cmd_wait(Engine* engine)
{
    uint32_t n = 0;
    if (!read_listed(engine, &n)) {
        engine->vm_blocked = 1;
        engine->wait_frames = 0;
        return;
    }
    const int32_t frames = static_cast<int32_t>(n) > 0 ? static_cast<int32_t>(n) : 1;
    uint32_t delay = FRAME_MS;
    if (engine->game_speed > 0) {
        delay = FRAME_MS / static_cast<uint32_t>(engine->game_speed);
        if (delay < 1)
            delay = 1;
    }
    for (int32_t frame = 0; frame < frames; frame++) {
        vm_render_frame(engine);
        if (engine->pump_events_cb)
            engine->pump_events_cb(engine);
        else
            drain_events_or_exit();
        SDL_Delay(delay);
    }
    engine->wait_frames = 0;
}

// ---------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------

static void show_picture(Engine* engine, uint8_t command, bool draw)
{
    uint32_t n = 0;
    if (!read_listed(engine, &n))
        return;
    trace_command(engine, command, n);
    if (!slot_in_range(n) || !engine->image_slots[n].loaded)
        return;
    ImageSlot& slot = engine->image_slots[n];
    slot.x = slot.home_x;
    slot.y = slot.home_y;
    if (draw)
        gfx_blit_image(engine, n);
    else
        slot.effect_active = 0;
    slot.sprite_visible = 0;
    slot.aux2 = 0;
    slot.aux3 = 0;

    engine->current_image = static_cast<int32_t>(n);
    engine->image_text_x = static_cast<uint16_t>(slot.sd_w / COLUMN_PIXELS);
    engine->image_text_y = static_cast<uint16_t>((static_cast<int64_t>(slot.sd_h) + 1) / ROW_LINES);
    // The free cursor goes to the picture's corner in 640x400 pixels.
    const int32_t k = engine_scale(engine);
    engine->text_cursor_x = static_cast<uint16_t>(slot.x / k);
    engine->text_cursor_y = static_cast<uint16_t>(slot.y / k);
}

static void cmd_show_picture(Engine* engine) { show_picture(engine, '"', true); }
static void cmd_show_picture_alt(Engine* engine) { show_picture(engine, '~', true); }
static void cmd_select_picture(Engine* engine) { show_picture(engine, '\'', false); }

static void cmd_place_picture(Engine* engine)
{
    uint32_t x = 0;
    uint32_t y = 0;
    if (read_listed(engine, &x))
        read_listed(engine, &y);
    engine->blit_x8 = static_cast<int32_t>(x & PLACE_POSITION_MASK);
    engine->blit_y2 = static_cast<int32_t>(y & PLACE_POSITION_MASK);

    const int32_t current = engine->current_image;
    if (!slot_in_range(current))
        return;
    ImageSlot& slot = engine->image_slots[current];
    const int32_t k = engine_scale(engine);
    slot.x = engine->blit_x8 * COLUMN_PIXELS * k;
    slot.y = engine->blit_y2 * ROW_LINES * k;
    if (!slot.loaded || slot.effect_active)
        return;
    // A placed picture is shown whole at once: a one-step effect that has ended.
    slot.effect_type = 0;
    slot.effect_progress = 0;
    slot.effect_duration = 1;
    slot.effect_aux = 1;
    slot.effect_active = 0;
    engine->placed_image_slot = current;
}

static void cmd_partial_picture(Engine* engine)
{
    uint32_t part[PART_OPERANDS] = {};
    for (uint32_t& value : part)
        read_listed(engine, &value);
    const int32_t source = engine->placed_image_slot >= 0 ? engine->placed_image_slot : engine->current_image;
    if (slot_in_range(source)) {
        gfx_blit_image_part(engine, static_cast<uint32_t>(source), part[0], part[1], part[2], part[3]);
        engine->image_slots[source].sprite_visible = 0;
    }
    if (!engine->renderer)
        return;
    vm_render_frame(engine);
    if (engine->pump_events_cb)
        engine->pump_events_cb(engine);
    sleep_one_frame(engine);
}

static void hide_all_sprites(Engine* engine)
{
    for (ImageSlot& slot : engine->image_slots)
        slot.sprite_visible = 0;
}

static void cmd_clear_rect(Engine* engine)
{
    uint32_t values[CLEAR_RECT_OPERANDS] = {};
    for (uint32_t& value : values) {
        if (!read_listed(engine, &value))
            break;
        vm_skip_spaces(engine);
    }
    const uint32_t flag = values[0];
    const uint32_t x = values[1];
    const uint32_t y = values[2];
    const uint32_t w = values[3];
    const uint32_t h = values[4];
    if (flag != 0)
        return;
    const uint32_t k = static_cast<uint32_t>(engine_scale(engine));
    const uint32_t column = COLUMN_PIXELS * k;
    const uint32_t row = ROW_LINES * k;
    gfx_clear_rect(engine, x * column, y * row, w * column, h * row);
    if (x == 0 && y == 0 && w == WHOLE_SCREEN_COLUMNS && h == WHOLE_SCREEN_ROWS) {
        hide_all_sprites(engine);
        text_layer_clear(engine->renderer);
    }
}

static void cmd_clear_canvas(Engine* engine)
{
    uint32_t ignored = 0;
    for (int i = 0; i < IGNORED_OPERANDS; i++)
        if (!read_listed(engine, &ignored))
            break;
    gfx_clear_canvas(engine);
}

static void cmd_ignore_four(Engine* engine)
{
    uint32_t ignored = 0;
    for (int i = 0; i < IGNORED_OPERANDS; i++)
        read_listed(engine, &ignored);
}

static void cmd_read_back(Engine* engine)
{
    uint32_t targets[READ_BACK_OPERANDS] = {OPERAND_NOT_GIVEN, OPERAND_NOT_GIVEN, OPERAND_NOT_GIVEN,
                                            OPERAND_NOT_GIVEN};
    for (uint32_t& target : targets)
        if (!read_listed(engine, &target))
            break;
    const int32_t values[READ_BACK_OPERANDS] = {
        engine->image_text_x,
        engine->image_text_y,
        engine->text_cursor_x / COLUMN_PIXELS,
        engine->text_cursor_y / ROW_LINES,
    };
    for (int i = 0; i < READ_BACK_OPERANDS; i++)
        if (static_cast<int32_t>(targets[i]) >= 0)
            *script_var(engine, targets[i]) = values[i];
}

static void cmd_palette(Engine* engine)
{
    // Only a digit directly after "%" makes it a copy; "% 3,0" restores the
    // defaults and leaves the numbers to be passed over.
    const int next = vm_peek(engine, engine->vm_pc);
    if (next >= '0' && next <= '9') {
        uint32_t a = 0;
        uint32_t b = 0;
        read_listed(engine, &a);
        read_listed(engine, &b);
        if (a < PALETTE_SIZE && b < PALETTE_SIZE) {
            engine->palette[a] = engine->palette[b];
            engine->palette_changed = 1;
        }
        gfx_update_tint(engine);
        return;
    }
    memcpy(engine->palette, DEFAULT_PALETTE, sizeof engine->palette);
    memset(engine->tint, TINT_NEUTRAL, sizeof engine->tint);
    engine->palette_changed = 1;
    gfx_update_tint(engine);
}

static void cmd_text_attribute(Engine* engine)
{
    uint32_t n = 0;
    if (!read_listed(engine, &n))
        return;
    TextWindow* window = vm_current_window(engine);
    if (!window)
        return;
    const uint16_t colour = static_cast<uint16_t>((n & ATTRIBUTE_COLOUR_MASK) << ATTRIBUTE_COLOUR_SHIFT);
    const bool high = static_cast<int32_t>(n) > ATTRIBUTE_LAST_PLAIN_COLOUR;
    window->attribute = static_cast<uint16_t>(colour | (high ? ATTRIBUTE_HIGH_COLOUR : ATTRIBUTE_BASE));
}

// ---------------------------------------------------------------------------
// Music
// ---------------------------------------------------------------------------

static void cmd_music(Engine* engine)
{
    uint32_t track = 0;
    if (read_listed(engine, &track)) {
        trace_command(engine, '#', track);
        engine->bgm_track = static_cast<uint16_t>(track);
        bgm_play_track(track);
        return;
    }
    if (engine->vm_vars[VAR_LOAD_FLAG] != 0)
        trace_command(engine, '#', MUSIC_STOP_TRACE_OPERAND);
    engine->bgm_track = 0;
    bgm_stop();
}

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

struct CommandEntry {
    uint8_t command;
    CommandHandler handler;
};

static constexpr CommandEntry COMMANDS[] = {
    {'!', menu_add_or_open},       // add choices, or open the menu
    {'"', cmd_show_picture},       // show picture n whole
    {'#', cmd_music},              // play track n, or stop
    {'$', cmd_wait},               // wait n frames, or for the player
    {'%', cmd_palette},            // copy a palette entry, or restore the defaults
    {'&', cmd_partial_picture},    // draw part of the placed picture
    {'\'', cmd_select_picture},    // select picture n without drawing
    {'*', cmd_place_picture},      // place the selected picture
    {'+', cmd_add},                // variable += n
    {'-', cmd_subtract},           // variable -= n
    {'/', cmd_leave},              // leave, chaining to a segment
    {':', vm_cmd_if_equal},        // block if equal
    {';', cmd_clear_rect},         // clear a canvas rectangle
    {'<', cmd_if_less},            // block if less
    {'=', cmd_set},                // variable = n
    {'>', cmd_if_greater},         // block if greater
    {'?', cmd_choice_test},        // block if the last choice is one of the ids
    {'@', cmd_read_and_ignore},    // one operand, no effect
    {'A', cmd_select_window},      // current text window
    {'C', cmd_clear_canvas},       // clear the canvas
    {'G', cmd_read_back},          // picture size and cursor into variables
    {'M', vm_cmd_menu_layout},     // choice-menu layout
    {'O', vm_cmd_define_window},   // define a text window
    {'P', cmd_text_attribute},     // text colour of the current window
    {'R', vm_cmd_repeat_segment},  // repeat a segment until a variable matches
    {'V', vm_cmd_print_messages},  // print message strings
    {'\\', cmd_leave_alt},         // leave, default without chain
    {'^', cmd_if_not_equal},       // block if not equal
    {'|', cmd_ignore_four},        // four operands, no effect
    {'~', cmd_show_picture_alt},   // show picture n whole
};

static constexpr size_t COMMAND_BYTE_VALUES = 256;

static constexpr std::array<CommandHandler, COMMAND_BYTE_VALUES> build_command_table()
{
    std::array<CommandHandler, COMMAND_BYTE_VALUES> table{};
    for (const CommandEntry& entry : COMMANDS)
        table[entry.command] = entry.handler;
    return table;
}

static constexpr std::array<CommandHandler, COMMAND_BYTE_VALUES> COMMAND_TABLE = build_command_table();

void vm_exec_command(Engine* engine, uint8_t command)
{
    if (CommandHandler handler = COMMAND_TABLE[command])
        handler(engine);
}
