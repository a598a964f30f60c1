// TEMPORARY stand-ins for handlers that other modules provide, so the
// interpreter core links and can be tested before they land. Deleted on merge.
#include "save.h"
#include "vm.h"
#include "vm_private.h"

static void stub_variable(Engine* engine, uint8_t command)
{
    uint32_t v = 0;
    if (!vm_read_operand(engine, &v))
        return;
    uint32_t n = 1;
    if (vm_peek(engine, engine->vm_pc) == ',') {
        engine->vm_pc++;
        vm_read_operand(engine, &n);
    }
    int32_t* var = &engine->vm_vars[v & (VM_VAR_COUNT - 1)];
    uint32_t old = static_cast<uint32_t>(*var);
    if (command == '=')
        *var = static_cast<int32_t>(n);
    else if (command == '+')
        *var = static_cast<int32_t>(old + n);
    else
        *var = static_cast<int32_t>(old - n);
}

static void stub_leave(Engine* engine, uint32_t fallback)
{
    uint32_t s = fallback;
    vm_read_operand(engine, &s);
    engine->vm_next_segment = s;
    engine->vm_leave = 1;
}

void vm_exec_command(Engine* engine, uint8_t command)
{
    switch (command) {
    case '=':
    case '+':
    case '-':
        stub_variable(engine, command);
        break;
    case '/':
        stub_leave(engine, VM_NEXT_NONE);
        break;
    case '\\':
        stub_leave(engine, VM_NEXT_NONE_ALT);
        break;
    case ':':
        vm_cmd_if_equal(engine);
        break;
    case '<':
        vm_cmd_if_compare(engine, VM_COMPARE_LESS);
        break;
    case '>':
        vm_cmd_if_compare(engine, VM_COMPARE_GREATER);
        break;
    case '^':
        vm_cmd_if_compare(engine, VM_COMPARE_NOT_EQUAL);
        break;
    case 'R':
        vm_cmd_repeat_segment(engine);
        break;
    case '$':
        engine->vm_blocked = 1;
        break;
    default:
        break;
    }
}

void vm_exec_keyword(Engine* engine)
{
    while (true) {
        int c = vm_peek(engine, engine->vm_pc);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            break;
        engine->vm_pc++;
    }
}

void vm_exec_newline(Engine* engine)
{
    engine->vm_pc++;
}

void vm_exec_escape(Engine* engine)
{
    engine->vm_pc++;
    if (vm_peek(engine, engine->vm_pc) >= 0)
        engine->vm_pc++;
}

void vm_exec_text(Engine* engine)
{
    int c = vm_peek(engine, engine->vm_pc);
    int32_t wait = engine->vm_vars[VAR_TEXT_SPEED];
    engine->vm_pc++;
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
        if (vm_peek(engine, engine->vm_pc) < 0)
            return;
        engine->vm_pc++;
        if (wait > 0)
            engine->wait_frames = wait;
    }
}

int32_t save_write_slot(Engine*, int32_t, const uint8_t*, int32_t)
{
    return SAVE_RESULT_FAILED;
}
