// TEMPORARY: minimal versions of what the command set calls in the interpreter
// core, text windows, menus and music, so that its tests link before those
// land. Delete on merge.
#include "vm_private.h"

#include "music.h"
#include "vm.h"

int32_t g_pending_save_slot = -1;

int vm_peek(const Engine* engine, uint32_t offset)
{
    if (!engine->code_base || offset >= engine->code_size)
        return -1;
    return engine->code_base[offset];
}

void vm_render_frame(Engine*) {}

static bool is_separator(int byte)
{
    return byte == '\t' || byte == '\r' || byte == ' ' || byte == ',';
}

void vm_skip_spaces(Engine* engine)
{
    while (is_separator(vm_peek(engine, engine->vm_pc)))
        engine->vm_pc++;
}

static bool read_form(Engine* engine, uint32_t* out, bool literal_allowed)
{
    vm_skip_spaces(engine);
    const int byte = vm_peek(engine, engine->vm_pc);
    if (literal_allowed && byte >= '0' && byte <= '9') {
        uint32_t value = 0;
        for (int d = byte; d >= '0' && d <= '9'; d = vm_peek(engine, engine->vm_pc)) {
            value = value * 10 + static_cast<uint32_t>(d - '0');
            engine->vm_pc++;
        }
        *out = value;
        return true;
    }
    uint32_t inner = 0;
    if (byte == '@') {
        engine->vm_pc++;
        if (!read_form(engine, &inner, true))
            return false;
    } else if (byte == '(') {
        engine->vm_pc++;
        if (!read_form(engine, &inner, false))
            return false;
        vm_skip_spaces(engine);
        if (vm_peek(engine, engine->vm_pc) == ')')
            engine->vm_pc++;
    } else {
        return false;
    }
    *out = static_cast<uint32_t>(engine->vm_vars[inner & (VM_VAR_COUNT - 1)]);
    return true;
}

bool vm_read_operand(Engine* engine, uint32_t* out)
{
    return read_form(engine, out, true);
}

void vm_skip_block(Engine* engine)
{
    vm_skip_spaces(engine);
    const uint32_t at = engine->vm_pc;
    if (vm_peek(engine, at) != '{' || vm_peek(engine, at + 2) < 0)
        return;
    engine->vm_pc = at + 3 + (engine->code_base[at + 1] | engine->code_base[at + 2] << 8);
}

// Runs the body's command-mode instructions only; enough for the tests of "?".
void vm_run_block(Engine* engine, uint16_t mode)
{
    vm_skip_spaces(engine);
    const uint32_t at = engine->vm_pc;
    if (vm_peek(engine, at) != '{' || vm_peek(engine, at + 2) < 0)
        return;
    const uint32_t end = at + 3 + (engine->code_base[at + 1] | engine->code_base[at + 2] << 8);
    if (mode != VM_BLOCK_RUN) {
        engine->vm_pc = end;
        return;
    }
    engine->vm_pc = at + 3;
    while (engine->vm_pc < end && vm_peek(engine, engine->vm_pc) >= 0) {
        const int byte = engine->code_base[engine->vm_pc++];
        if (byte != '[' && byte != ']')
            vm_exec_command(engine, static_cast<uint8_t>(byte));
    }
}

void vm_call_segment(Engine*) {}

void dbg_trace_jump(Engine* engine, int32_t target, uint8_t kind)
{
    if (target < 0)
        return;
    JumpTraceEntry& entry = engine->dbg_jump_trace[engine->dbg_jump_trace_count % DBG_JUMP_TRACE_SIZE];
    entry = {target, engine->vm_segment, engine->vm_pc, kind};
    engine->dbg_jump_trace_count++;
}

void vm_cmd_if_equal(Engine*) {}
void vm_cmd_if_compare(Engine*, int) {}
void vm_cmd_repeat_segment(Engine*) {}

TextWindow* vm_current_window(Engine* engine)
{
    const uint32_t id = static_cast<uint32_t>(engine->vm_vars[VAR_CUR_WINDOW]);
    if (id >= TEXT_WINDOW_COUNT || !engine->text_windows[id].active)
        return nullptr;
    return &engine->text_windows[id];
}

void vm_cmd_define_window(Engine*) {}
void vm_cmd_print_messages(Engine*) {}

void vm_put_char(Engine* engine, uint16_t code)
{
    TextWindow* window = vm_current_window(engine);
    if (!window) {
        engine->text_cursor_x = static_cast<uint16_t>(engine->text_cursor_x + (code > 255 ? 16 : 8));
        return;
    }
    if (code == 13)
        window->col = 0;
    else if (code == 10)
        window->row++;
    else if (code >= 32)
        window->col += code > 255 ? 2 : 1;
}

void menu_add_or_open(Engine*) {}
void vm_cmd_menu_layout(Engine*) {}

void bgm_play_track(uint32_t) {}
void bgm_stop() {}
