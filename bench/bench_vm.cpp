// The interpreter's speed on command-mode code (variable arithmetic,
// conditions and blocks), measured against a bare loop that only reads the
// same bytes and switches on each.
#include <benchmark/benchmark.h>

#include "vm.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

static constexpr int STEPS_PER_BATCH = 3000;
static constexpr int UNITS_PER_SEGMENT = 200;

static void append(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

static void append_block(Bytes& out, const std::string& body)
{
    out.push_back('{');
    out.push_back(static_cast<uint8_t>(body.size()));
    out.push_back(static_cast<uint8_t>(body.size() >> 8));
    append(out, body);
}

// Repeated units at the top level, so each step is one instruction: arithmetic,
// two conditions (one taken, one passed over) and a plain block.
static Bytes make_code()
{
    Bytes body;
    append(body, "[");
    for (int i = 0; i < UNITS_PER_SEGMENT; i++) {
        append(body, "=5,3 +5,2 -5 =@6,@5 +(@7),1 :@5,4");
        append_block(body, "[+8,1 -9]");
        append(body, " <@5,2,3");
        append_block(body, "[=10,1]");
        append(body, " ");
        append_block(body, "[+11]");
    }
    append(body, "]");
    return body;
}

// Two parameters, no strings, no segment table: the code is run from its start.
static Bytes make_tables()
{
    Bytes tables(14, 0);
    tables[2] = 2;
    return tables;
}

static uint8_t* heap_copy(const Bytes& bytes)
{
    auto* block = static_cast<uint8_t*>(malloc(bytes.size()));
    memcpy(block, bytes.data(), bytes.size());
    return block;
}

static void BM_VmStepCommands(benchmark::State& state)
{
    const Bytes code = make_code();
    const Bytes tables = make_tables();
    std::unique_ptr<Engine> engine(new Engine);
    engine_init(engine.get(), 0);
    script_install(engine.get(), heap_copy(tables), tables.size(), heap_copy(code), code.size());
    engine->vm_vars[7] = 12;

    int64_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < STEPS_PER_BATCH; i++) {
            uint32_t before = engine->vm_pc;
            if (!vm_step(engine.get())) {
                engine->vm_pc = 0;
                continue;
            }
            bytes += engine->vm_pc - before;
        }
    }
    benchmark::DoNotOptimize(engine->vm_vars[8]);
    state.SetBytesProcessed(bytes);
    free(engine->kvl_data);
    free(engine->code_base);
}
BENCHMARK(BM_VmStepCommands);

static void BM_ByteDispatchBaseline(benchmark::State& state)
{
    const Bytes code = make_code();
    uint32_t counts[4] = {0, 0, 0, 0};
    for (auto _ : state) {
        for (uint8_t c : code) {
            switch (c) {
            case '=':
            case '+':
            case '-':
                counts[0]++;
                break;
            case ':':
            case '<':
                counts[1]++;
                break;
            case '{':
            case '}':
                counts[2]++;
                break;
            default:
                counts[3] += c;
                break;
            }
        }
        benchmark::DoNotOptimize(counts);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(code.size()));
}
BENCHMARK(BM_ByteDispatchBaseline);

BENCHMARK_MAIN();
