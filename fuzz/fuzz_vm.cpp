// Scenario tables and code bytes run through the interpreter for a bounded
// number of steps, with the main loop's chain rule and a player who answers
// every wait at once. No renderer; the step callback only enforces the bound.
#include "vm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// The first two bytes give the length of the tables file; the rest after it is the code.
constexpr size_t SPLIT_HEADER_SIZE = 2;
constexpr int TOP_LEVEL_STEPS = 2000;
constexpr uint32_t SEGMENT_HEAD_SIZE = 3;
constexpr int NESTED_STEP_BUDGET = 5000;
// Fast enough that the picture command's frame needs no sleep.
constexpr int32_t FUZZ_GAME_SPEED = 1000;

static int s_nested_steps = 0;

static uint8_t* heap_copy(const uint8_t* bytes, size_t size)
{
    auto* block = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (size)
        memcpy(block, bytes, size);
    return block;
}

static bool is_separator(uint8_t c)
{
    return c == '\t' || c == '\r' || c == ' ' || c == ',';
}

// "$" with an operand waits that many real frames, which no fuzzer can
// afford; it becomes "@", which reads the same operand and does nothing.
static void defuse_timed_waits(uint8_t* code, size_t size)
{
    for (size_t i = 0; i < size; i++) {
        if (code[i] != '$')
            continue;
        size_t next = i + 1;
        while (next < size && is_separator(code[next]))
            next++;
        if (next < size && ((code[next] >= '0' && code[next] <= '9') || code[next] == '@' || code[next] == '('))
            code[i] = '@';
    }
}

// Waits are not rendered (nothing would be seen, only slept), and once the
// budget is spent the scenario is made to wait for the player, which ends
// every nested loop the way a choice menu does.
static void bounded_step(Engine* engine)
{
    engine->wait_frames = 0;
    if (++s_nested_steps > NESTED_STEP_BUDGET)
        engine->vm_blocked = 1;
}

static int32_t cancel_slot_screen(Engine*, int32_t)
{
    return -1;
}

// The main loop's chain rule, without the restart bookkeeping it also does.
static void carry_out_chain(Engine* engine)
{
    if (!engine->vm_leave || engine->vm_next_segment >= VM_SEGMENT_COUNT)
        return;
    const uint8_t* entry = script_scene_entry(engine, engine->vm_next_segment);
    if (!entry)
        return;
    engine->vm_segment = engine->vm_next_segment;
    engine->vm_depth = 0;
    engine->vm_pc = static_cast<uint32_t>(entry - engine->code_base);
    engine->vm_block_end = engine->vm_pc + SEGMENT_HEAD_SIZE + (entry[1] | (entry[2] << 8));
    engine->vm_command_mode = 0;
    engine->vm_leave = 0;
    engine->vm_next_segment = VM_NEXT_NONE;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = new Engine;
    if (size < SPLIT_HEADER_SIZE)
        return 0;
    size_t rest = size - SPLIT_HEADER_SIZE;
    size_t tables_size = static_cast<size_t>(data[0] | (data[1] << 8)) % (rest + 1);
    const uint8_t* tables = data + SPLIT_HEADER_SIZE;
    size_t code_size = rest - tables_size;

    engine_init(engine, 0);
    g_pending_save_slot = -1;
    uint8_t* code = heap_copy(tables + tables_size, code_size);
    defuse_timed_waits(code, code_size);
    script_install(engine, heap_copy(tables, tables_size), tables_size, code, code_size);
    engine->step_cb = bounded_step;
    engine->slot_screen_hook = cancel_slot_screen;
    engine->game_speed = FUZZ_GAME_SPEED;
    const uint8_t* start = script_scene_entry(engine, script_start_segment(engine));
    if (start) {
        engine->vm_pc = static_cast<uint32_t>(start - engine->code_base);
        engine->vm_segment = script_start_segment(engine);
    }

    s_nested_steps = 0;
    for (int i = 0; i < TOP_LEVEL_STEPS && s_nested_steps <= NESTED_STEP_BUDGET; i++) {
        engine->vm_blocked = 0;
        engine->wait_frames = 0;
        if (!vm_step(engine))
            break;
        carry_out_chain(engine);
    }
    g_pending_save_slot = -1;

    free(engine->kvl_data);
    free(engine->code_base);
    engine->kvl_data = nullptr;
    engine->code_base = nullptr;
    return 0;
}
