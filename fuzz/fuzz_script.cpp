// Scenario tables and code bytes installed into an Engine, then every string
// and segment lookup walked to its end.
#include "scenario_input.h"
#include "vm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

constexpr int32_t STRING_PROBE_COUNT = 1100;
constexpr size_t SEGMENT_HEAD_SIZE = 3;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = new Engine;
    ScenarioInput input;
    if (!scenario_input_split(data, size, &input))
        return 0;
    engine_init(engine, 0);
    script_install(engine, input.tables, input.tables_size, input.code, input.code_size);

    volatile size_t sink = 0;
    for (int32_t index = -2; index < STRING_PROBE_COUNT; index++) {
        const char* text = script_string(engine, index);
        if (text)
            sink = sink + strlen(text);
    }
    for (uint32_t segment = 0; segment <= VM_SEGMENT_COUNT; segment++) {
        const uint8_t* entry = script_scene_entry(engine, segment);
        if (entry) {
            for (size_t i = 0; i < SEGMENT_HEAD_SIZE; i++)
                sink = sink + entry[i];
        }
    }
    sink = sink + script_start_segment(engine);

    free(engine->kvl_data);
    free(engine->code_base);
    engine->kvl_data = nullptr;
    engine->code_base = nullptr;
    return 0;
}
