// How the scenario fuzz targets run their input: installed into the caller's
// Engine and stepped a bounded number of times with the main loop's own chain
// rule, by a player who answers every wait at once and cancels the slot screen.
#pragma once

#include "app.h"
#include "scenario_input.h"
#include "vm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// How far one input runs: steps taken by the top-level loop, and steps the
// interpreter takes inside blocks and calls before the scenario is stopped.
struct ScenarioBounds {
    int top_level_steps;
    int nested_steps;
};
constexpr ScenarioBounds SCENARIO_BOUNDS = {2000, 5000};
// Fast enough that the picture command's frame needs no sleep.
constexpr int32_t SCENARIO_GAME_SPEED = 1000;

static int s_nested_steps = 0;
static int s_nested_budget = 0;

static inline bool scenario_is_separator(uint8_t c)
{
    return c == '\t' || c == '\r' || c == ' ' || c == ',';
}

// "$" with an operand waits that many real frames, which no fuzzer can
// afford; it becomes "@", which reads the same operand and does nothing.
// Walked from the end, so a "$" before a defused one ("$$1" read as "$@1")
// is defused too instead of becoming a wait on a variable.
static inline void scenario_defuse_timed_waits(uint8_t* code, size_t size)
{
    for (size_t i = size; i-- > 0;) {
        if (code[i] != '$')
            continue;
        size_t next = i + 1;
        while (next < size && scenario_is_separator(code[next]))
            next++;
        if (next < size && ((code[next] >= '0' && code[next] <= '9') || code[next] == '@' || code[next] == '('))
            code[i] = '@';
    }
}

// Waits are not rendered (nothing would be seen, only slept), and once the
// budget is spent the scenario is made to wait for the player, which ends
// every nested loop the way a choice menu does.
static inline void scenario_bounded_step(Engine* engine)
{
    engine->wait_frames = 0;
    if (++s_nested_steps > s_nested_budget)
        engine->vm_blocked = 1;
}

static inline int32_t scenario_cancel_slot_screen(Engine*, int32_t)
{
    return -1;
}

// Installs the input's tables and code into engine, which the caller has set
// up, and runs them from the start segment; the scenario is released again.
static inline void scenario_run(Engine* engine, const uint8_t* data, size_t size,
                                ScenarioBounds bounds = SCENARIO_BOUNDS)
{
    ScenarioInput input;
    if (!scenario_input_split(data, size, &input))
        return;
    g_pending_save_slot = -1;
    scenario_defuse_timed_waits(input.code, input.code_size);
    script_install(engine, input.tables, input.tables_size, input.code, input.code_size);
    engine->step_cb = scenario_bounded_step;
    engine->slot_screen_hook = scenario_cancel_slot_screen;
    engine->game_speed = SCENARIO_GAME_SPEED;
    app_enter_start_segment(engine);

    s_nested_steps = 0;
    s_nested_budget = bounds.nested_steps;
    for (int i = 0; i < bounds.top_level_steps && s_nested_steps <= bounds.nested_steps; i++) {
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
}
