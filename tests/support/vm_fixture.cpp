#include "vm_fixture.h"

#include "screen.h"

#include <cstdlib>

TestEngine::TestEngine(uint8_t hd_mode) : engine_(std::make_unique<Engine>())
{
    engine_init(engine_.get(), hd_mode);
}

TestEngine::~TestEngine()
{
    hist_clear(&engine_->history);
    free(engine_->kvl_data);
    free(engine_->code_base);
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
