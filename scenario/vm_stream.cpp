// The code stream seen byte by byte: bounded reads, separators and operands.
#include "vm.h"
#include "vm_private.h"

constexpr uint32_t VM_VAR_INDEX_MASK = VM_VAR_COUNT - 1;
constexpr uint32_t DECIMAL_BASE = 10;

int vm_peek(const Engine* engine, uint32_t offset)
{
    if (!engine->code_base || offset >= engine->code_size)
        return -1;
    return engine->code_base[offset];
}

static bool is_separator(int c)
{
    return c == '\t' || c == '\r' || c == ' ' || c == ',';
}

static bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

void vm_skip_spaces(Engine* engine)
{
    while (is_separator(vm_peek(engine, engine->vm_pc)))
        engine->vm_pc++;
}

static int32_t* var_at(Engine* engine, uint32_t index)
{
    return &engine->vm_vars[index & VM_VAR_INDEX_MASK];
}

// Reads an operand, or with want_ref only a variable form, at vm_pc. Each "@"
// and "(" wraps one more lookup around the form after it; scenarios may stack
// any number of them, so the prefixes are walked forward to the literal and the
// lookups then applied by walking the same bytes back, instead of recursing.
static bool read_form(Engine* engine, bool want_ref, uint32_t* value, int32_t** ref)
{
    vm_skip_spaces(engine);
    const uint32_t first = engine->vm_pc;
    for (;;) {
        int c = vm_peek(engine, engine->vm_pc);
        if (c == '@') {
            engine->vm_pc++;
            vm_skip_spaces(engine);
            continue;
        }
        if (c == '(') {
            engine->vm_pc++;
            vm_skip_spaces(engine);
            int inner = vm_peek(engine, engine->vm_pc);
            if (inner != '@' && inner != '(')
                return false;
            continue;
        }
        if (!is_digit(c) || (want_ref && engine->vm_pc == first))
            return false;
        break;
    }

    const uint32_t literal_start = engine->vm_pc;
    uint32_t number = 0;
    for (int c = vm_peek(engine, engine->vm_pc); is_digit(c); c = vm_peek(engine, engine->vm_pc)) {
        number = number * DECIMAL_BASE + static_cast<uint32_t>(c - '0');
        engine->vm_pc++;
    }

    int32_t* variable = nullptr;
    for (uint32_t at = literal_start; at > first; at--) {
        int prefix = vm_peek(engine, at - 1);
        if (prefix != '@' && prefix != '(')
            continue;
        variable = var_at(engine, number);
        number = static_cast<uint32_t>(*variable);
        if (prefix == '(') {
            vm_skip_spaces(engine);
            if (vm_peek(engine, engine->vm_pc) == ')')
                engine->vm_pc++;
        }
    }
    if (value)
        *value = number;
    if (ref)
        *ref = variable;
    return true;
}

bool vm_read_operand(Engine* engine, uint32_t* out)
{
    return read_form(engine, false, out, nullptr);
}

int32_t* vm_eval_ref(Engine* engine)
{
    int32_t* variable = nullptr;
    if (!read_form(engine, true, nullptr, &variable))
        return nullptr;
    return variable;
}
