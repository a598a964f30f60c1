#include "vm_harness.h"

#include <cstdlib>

#include "screen.h"
#include "vm.h"

// The callbacks are plain function pointers, so they find their harness here;
// tests run one harness at a time.
static VmHarness* s_hooked = nullptr;

static void counting_step(Engine* engine)
{
    s_hooked->step_calls++;
    if (s_hooked->on_step)
        s_hooked->on_step(engine);
}

static void counting_pump(Engine* engine)
{
    s_hooked->pump_calls++;
    if (s_hooked->on_pump)
        s_hooked->on_pump(engine);
}

VmHarness::VmHarness(uint8_t hd_mode) : engine_(new Engine)
{
    engine_init(engine_.get(), hd_mode);
    g_pending_save_slot = -1;
}

VmHarness::~VmHarness()
{
    hist_clear(&engine_->history);
    free(engine_->kvl_data);
    free(engine_->code_base);
    if (s_hooked == this)
        s_hooked = nullptr;
    g_pending_save_slot = -1;
}

void VmHarness::install(const ScenarioBuilder& scenario)
{
    scenario.install(engine_.get());
}

int VmHarness::run(int max_steps)
{
    int steps = 0;
    while (steps < max_steps && vm_step(engine_.get()))
        steps++;
    return steps;
}

void VmHarness::hook_callbacks()
{
    s_hooked = this;
    engine_->step_cb = counting_step;
    engine_->pump_events_cb = counting_pump;
    engine_->paused_flag_ptr = &paused;
}

uint32_t run_command(Engine* engine, ScenarioBuilder scenario, const std::string& command,
                     void (*handler)(Engine*))
{
    scenario.segment(0, Code().cmd(command));
    scenario.start(0);
    scenario.install(engine);
    // Past the segment's '{' and length, the '[' and the command character.
    const uint32_t after_command = scenario.offset_of(0) + 3 + 1 + 1;
    engine->vm_pc = after_command;
    handler(engine);
    return engine->vm_pc - after_command;
}
