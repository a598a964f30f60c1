// Scenario tables and code bytes run through the interpreter for a bounded
// number of steps, with the main loop's own chain rule and a player who answers
// every wait at once. No renderer; the step callback only enforces the bound.
#include "app.h"
#include "scenario_input.h"
#include "vm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

constexpr int TOP_LEVEL_STEPS = 2000;
constexpr int NESTED_STEP_BUDGET = 5000;
// Fast enough that the picture command's frame needs no sleep.
constexpr int32_t FUZZ_GAME_SPEED = 1000;

static int s_nested_steps = 0;

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = new Engine;
    ScenarioInput input;
    if (!scenario_input_split(data, size, &input))
        return 0;
    engine_init(engine, 0);
    g_pending_save_slot = -1;
    defuse_timed_waits(input.code, input.code_size);
    script_install(engine, input.tables, input.tables_size, input.code, input.code_size);
    engine->step_cb = bounded_step;
    engine->slot_screen_hook = cancel_slot_screen;
    engine->game_speed = FUZZ_GAME_SPEED;
    app_enter_start_segment(engine);

    s_nested_steps = 0;
    for (int i = 0; i < TOP_LEVEL_STEPS && s_nested_steps <= NESTED_STEP_BUDGET; i++) {
        engine->vm_blocked = 0;
        engine->wait_frames = 0;
        if (!vm_step(engine))
            break;
        app_carry_out_chain(engine);
    }
    g_pending_save_slot = -1;

    free(engine->kvl_data);
    free(engine->code_base);
    engine->kvl_data = nullptr;
    engine->code_base = nullptr;
    return 0;
}
