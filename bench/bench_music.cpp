// Decoding cost of the audio callback on a looping track.
#include <benchmark/benchmark.h>

#include "music.h"
#include "ogg_writer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr size_t LOOP_FRAMES = 3 * BGM_OUTPUT_RATE;  // a few rewinds per second of benchmark

// Deterministic white noise in [-1, 1).
double next_noise(uint32_t* seed)
{
    *seed = *seed * 1664525u + 1013904223u;
    return static_cast<double>(*seed >> 16) / 32768.0 - 1.0;
}

// A chord over broadband noise: noise fills every band, so the decoder works
// about as hard as on real music rather than on a few pure tones.
std::vector<uint8_t> make_loop()
{
    std::vector<int16_t> pcm(LOOP_FRAMES * BGM_OUTPUT_CHANNELS);
    uint32_t seed = 12345;
    for (size_t i = 0; i < LOOP_FRAMES; ++i) {
        double t = static_cast<double>(i) / BGM_OUTPUT_RATE;
        double chord = std::sin(TWO_PI * 220.0 * t) + 0.5 * std::sin(TWO_PI * 277.2 * t) +
                       0.3 * std::sin(TWO_PI * 329.6 * t) + 0.2 * std::sin(TWO_PI * 1760.0 * t);
        pcm[i * 2] = static_cast<int16_t>(6000 * chord + 3000 * next_noise(&seed));
        pcm[i * 2 + 1] = static_cast<int16_t>(6000 * chord * std::cos(TWO_PI * 0.5 * t) + 3000 * next_noise(&seed));
    }
    return ogg_encode_vorbis(pcm.data(), LOOP_FRAMES, BGM_OUTPUT_CHANNELS);
}

void BM_CallbackLoop(benchmark::State& state)
{
    std::vector<uint8_t> ogg = make_loop();
    g_bgm.loop_ogg = static_cast<uint8_t*>(malloc(ogg.size()));
    memcpy(g_bgm.loop_ogg, ogg.data(), ogg.size());
    g_bgm.loop_decoder = bgm_open_ogg_memory(&g_bgm.loop_ogg, ogg.size());
    if (g_bgm.loop_decoder == nullptr) {
        state.SkipWithError("the loop does not decode");
        return;
    }
    g_bgm.state = BGM_STATE_LOOP;

    std::vector<int16_t> buffer(BGM_OUTPUT_BUFFER_FRAMES * BGM_OUTPUT_CHANNELS);
    for (auto _ : state) {
        bgm_audio_callback(nullptr, reinterpret_cast<uint8_t*>(buffer.data()),
                           BGM_OUTPUT_BUFFER_FRAMES * BGM_BYTES_PER_FRAME);
        benchmark::DoNotOptimize(buffer.data());
    }
    if (g_bgm.state != BGM_STATE_LOOP) {
        state.SkipWithError("the loop stopped playing");
    }
    int64_t frames = state.iterations() * BGM_OUTPUT_BUFFER_FRAMES;
    state.counters["frames_per_second"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["times_real_time"] =
        benchmark::Counter(static_cast<double>(frames) / BGM_OUTPUT_RATE, benchmark::Counter::kIsRate);

    bgm_close_ogg(g_bgm.loop_decoder, g_bgm.loop_ogg);
    g_bgm.loop_decoder = nullptr;
    g_bgm.loop_ogg = nullptr;
    g_bgm.state = BGM_STATE_STOPPED;
}
BENCHMARK(BM_CallbackLoop)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
