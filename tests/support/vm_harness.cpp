#include "vm_harness.h"

#include <cstdlib>

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

VmHarness::VmHarness() : engine_(new Engine)
{
    engine_init(engine_.get(), 0);
    g_pending_save_slot = -1;
}

VmHarness::~VmHarness()
{
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
