// Stand-ins for the interpreter core's stream helpers, kept only until the
// real ones are on this branch. Delete this file when merging.
#include "vm.h"
#include "vm_private.h"

#include <cstdarg>

int vm_peek(const Engine* engine, uint32_t offset)
{
    if (!engine->code_base || offset >= engine->code_size)
        return -1;
    return engine->code_base[offset];
}

void vm_skip_spaces(Engine* engine)
{
    for (;;) {
        int c = vm_peek(engine, engine->vm_pc);
        if (c != '\t' && c != '\r' && c != ' ' && c != ',')
            return;
        engine->vm_pc++;
    }
}

bool vm_read_operand(Engine* engine, uint32_t* out)
{
    vm_skip_spaces(engine);
    int c = vm_peek(engine, engine->vm_pc);
    if (c >= '0' && c <= '9') {
        uint32_t value = 0;
        while (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<uint32_t>(c - '0');
            c = vm_peek(engine, ++engine->vm_pc);
        }
        *out = value;
        return true;
    }
    int32_t* ref = vm_eval_ref(engine);
    if (!ref)
        return false;
    *out = static_cast<uint32_t>(*ref);
    return true;
}

int32_t* vm_eval_ref(Engine* engine)
{
    vm_skip_spaces(engine);
    int c = vm_peek(engine, engine->vm_pc);
    if (c == '@') {
        engine->vm_pc++;
        uint32_t index = 0;
        if (!vm_read_operand(engine, &index))
            return nullptr;
        return &engine->vm_vars[index & (VM_VAR_COUNT - 1)];
    }
    if (c == '(') {
        engine->vm_pc++;
        int32_t* inner = vm_eval_ref(engine);
        if (!inner)
            return nullptr;
        vm_skip_spaces(engine);
        if (vm_peek(engine, engine->vm_pc) == ')')
            engine->vm_pc++;
        return &engine->vm_vars[static_cast<uint32_t>(*inner) & (VM_VAR_COUNT - 1)];
    }
    return nullptr;
}

void dbg_log(Engine*, const char*, ...) {}
