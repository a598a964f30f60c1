// The per-frame cost of turning the planes into pixels, measured against a
// plain copy of the same number of output bytes.
#include <benchmark/benchmark.h>

#include "screen.h"

#include <cstdlib>
#include <cstring>
#include <vector>

static constexpr size_t FRAME_PIXELS = static_cast<size_t>(VRAM_WIDTH) * VRAM_HEIGHT;
static constexpr size_t FRAME_BYTES = FRAME_PIXELS * sizeof(uint32_t);

static void BM_PlanesToArgb(benchmark::State& state)
{
    static uint8_t planes[VRAM_PLANE_COUNT][VRAM_PLANE_BYTES];
    srand(1);
    for (auto& plane : planes)
        for (uint8_t& byte : plane)
            byte = static_cast<uint8_t>(rand());
    std::vector<uint32_t> out(FRAME_PIXELS);
    for (auto _ : state) {
        gfx_convert_planes(planes, DEFAULT_PALETTE, out.data(), VRAM_WIDTH);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FRAME_BYTES);
}
BENCHMARK(BM_PlanesToArgb);

static void BM_Memcpy1MB(benchmark::State& state)
{
    std::vector<uint8_t> source(FRAME_BYTES, 0x5A);
    std::vector<uint8_t> dest(FRAME_BYTES);
    for (auto _ : state) {
        memcpy(dest.data(), source.data(), FRAME_BYTES);
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FRAME_BYTES);
}
BENCHMARK(BM_Memcpy1MB);

BENCHMARK_MAIN();
