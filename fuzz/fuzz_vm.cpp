// Scenario tables and code bytes run through the interpreter with no
// renderer; the step callback only enforces the bound.
#include "scenario_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = new Engine;
    engine_init(engine, 0);
    scenario_run(engine, data, size);
    return 0;
}
