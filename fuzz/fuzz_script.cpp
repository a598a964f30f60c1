// Scenario tables and code bytes installed into an Engine, then every string
// and segment lookup walked to its end.
#include "vm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// The first two bytes give the length of the tables file; the rest after it is the code.
constexpr size_t SPLIT_HEADER_SIZE = 2;
constexpr int32_t STRING_PROBE_COUNT = 1100;
constexpr size_t SEGMENT_HEAD_SIZE = 3;

static uint8_t* heap_copy(const uint8_t* bytes, size_t size)
{
    auto* block = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (size)
        memcpy(block, bytes, size);
    return block;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = new Engine;
    if (size < SPLIT_HEADER_SIZE)
        return 0;
    size_t rest = size - SPLIT_HEADER_SIZE;
    size_t tables_size = static_cast<size_t>(data[0] | (data[1] << 8)) % (rest + 1);
    const uint8_t* tables = data + SPLIT_HEADER_SIZE;
    const uint8_t* code = tables + tables_size;
    size_t code_size = rest - tables_size;

    engine_init(engine, 0);
    script_install(engine, heap_copy(tables, tables_size), tables_size, heap_copy(code, code_size), code_size);

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
