// The condition commands (':', '<', '>', '^'), each guarding the block that
// follows it, and the repeat command 'R'.
#include "vm.h"
#include "vm_private.h"

constexpr int CONDITION_MAX_OPERANDS = 16;
constexpr uint32_t REPEAT_MAX_RUNS = 10000;

static bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

// Reads up to 16 operands into values; returns how many. A malformed operand
// puts vm_pc back before it, so the text is read as ordinary code afterwards.
static int read_condition_operands(Engine* engine, int32_t values[CONDITION_MAX_OPERANDS])
{
    int count = 0;
    while (count < CONDITION_MAX_OPERANDS) {
        const uint32_t before = engine->vm_pc;
        vm_skip_spaces(engine);
        int c = vm_peek(engine, engine->vm_pc);
        if (c == '@' || c == '(') {
            const int32_t* variable = vm_eval_ref(engine);
            if (!variable) {
                engine->vm_pc = before;
                break;
            }
            values[count] = *variable;
        } else if (is_digit(c)) {
            uint32_t literal = 0;
            vm_read_operand(engine, &literal);
            values[count] = static_cast<int32_t>(literal);
        } else {
            engine->vm_pc = before;
            break;
        }
        count++;
        if (vm_peek(engine, engine->vm_pc) == ',')
            engine->vm_pc++;
    }
    return count;
}

// Runs the block after the operands when the condition holds, passes over it
// otherwise; without a block the command ends on the byte it found.
static void run_or_skip_block(Engine* engine, bool holds)
{
    vm_skip_spaces(engine);
    if (vm_peek(engine, engine->vm_pc) != '{')
        return;
    if (holds)
        vm_run_block(engine, VM_BLOCK_RUN);
    else
        vm_skip_block(engine);
}

void vm_cmd_if_equal(Engine* engine)
{
    int32_t values[CONDITION_MAX_OPERANDS];
    int count = read_condition_operands(engine, values);
    bool holds = false;
    if (count == 1)
        holds = values[0] == 0;
    for (int i = 1; i < count && !holds; i++)
        holds = values[0] == values[i];
    run_or_skip_block(engine, holds);
}

static bool compare(int mode, int32_t a, int32_t b)
{
    if (mode == VM_COMPARE_GREATER)
        return a > b;
    if (mode == VM_COMPARE_LESS)
        return a < b;
    return a != b;
}

void vm_cmd_if_compare(Engine* engine, int mode)
{
    int32_t values[CONDITION_MAX_OPERANDS];
    int count = read_condition_operands(engine, values);
    bool holds = true;
    if (count == 1)
        holds = compare(mode, values[0], 0);
    for (int i = 1; i < count && holds; i++)
        holds = compare(mode, values[0], values[i]);
    run_or_skip_block(engine, holds);
}

void vm_cmd_repeat_segment(Engine* engine)
{
    uint32_t var = 0;
    uint32_t value = 0;
    uint32_t segment = 0;
    if (!vm_read_operand(engine, &var) || !vm_read_operand(engine, &value) || !vm_read_operand(engine, &segment))
        return;
    if (var >= VM_VAR_COUNT || segment >= VM_SEGMENT_COUNT)
        return;

    const uint32_t saved_pc = engine->vm_pc;
    const uint32_t saved_block_end = engine->vm_block_end;
    const uint32_t saved_segment = engine->vm_segment;
    for (uint32_t runs = 0; static_cast<uint32_t>(engine->vm_vars[var]) != value;) {
        uint32_t entry = 0;
        uint32_t end = 0;
        if (!vm_segment_bounds(engine, segment, &entry, &end))
            break;
        engine->vm_pc = entry;
        engine->vm_block_end = end;
        engine->vm_segment = segment;
        engine->vm_leave = 0;
        engine->vm_next_segment = VM_NEXT_NONE;
        // A segment that cannot run (no block, or nested too deep) can never
        // change the variable: running it again would only spin.
        if (!vm_run_block(engine, VM_BLOCK_RUN))
            break;

        runs++;
        if (engine->vm_next_segment == VM_NEXT_END_REPEAT || engine->vm_blocked ||
            static_cast<uint32_t>(engine->vm_vars[var]) == value || runs >= REPEAT_MAX_RUNS)
            break;
    }
    engine->vm_block_end = saved_block_end;
    engine->vm_pc = saved_pc;
    engine->vm_segment = saved_segment;
    engine->vm_leave = 0;
}
