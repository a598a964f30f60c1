// How the scenario fuzz targets read their input: the first two bytes give
// the length of the tables file (taken modulo what is left), the rest after
// it is the code. Both parts come back as heap copies, as asset_read gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

struct ScenarioInput {
    uint8_t* tables;
    size_t tables_size;
    uint8_t* code;
    size_t code_size;
};

constexpr size_t SCENARIO_SPLIT_HEADER_SIZE = 2;

static inline uint8_t* scenario_heap_copy(const uint8_t* bytes, size_t size)
{
    auto* block = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (size)
        memcpy(block, bytes, size);
    return block;
}

// False when the input is too short to split.
static inline bool scenario_input_split(const uint8_t* data, size_t size, ScenarioInput* out)
{
    if (size < SCENARIO_SPLIT_HEADER_SIZE)
        return false;
    const size_t rest = size - SCENARIO_SPLIT_HEADER_SIZE;
    const size_t tables_size = static_cast<size_t>(data[0] | (data[1] << 8)) % (rest + 1);
    const uint8_t* tables = data + SCENARIO_SPLIT_HEADER_SIZE;
    out->tables = scenario_heap_copy(tables, tables_size);
    out->tables_size = tables_size;
    out->code = scenario_heap_copy(tables + tables_size, rest - tables_size);
    out->code_size = rest - tables_size;
    return true;
}
