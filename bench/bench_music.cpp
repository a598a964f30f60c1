// Decoding cost of the audio callback on a looping track, and what opening a
// track costs the main thread when its file carries a large comment block.
#include <benchmark/benchmark.h>

#include "archive.h"
#include "bench_memory.h"
#include "kvr_writer.h"
#include "music.h"
#include "ogg_writer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
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

constexpr const char* TRACK_NAME = "bgm/track.ogg";
constexpr size_t TRACK_FRAMES = 10 * BGM_OUTPUT_RATE;

// Puts a base.dat in place holding a ten-second track whose comment block is
// comment_mib MiB, stored as it is. False when the archive does not open.
bool open_archive_with_track(size_t comment_mib)
{
    std::vector<int16_t> pcm(TRACK_FRAMES * BGM_OUTPUT_CHANNELS);
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<int16_t>(8000 * std::sin(TWO_PI * 440.0 * static_cast<double>(i / 2) / BGM_OUTPUT_RATE));
    }
    KvrArchiveSpec spec;
    {
        const std::string comment(comment_mib << 20, 'c');
        spec.entries = {{TRACK_NAME,
                         ogg_encode_vorbis(pcm.data(), TRACK_FRAMES, BGM_OUTPUT_CHANNELS, BGM_OUTPUT_RATE,
                                           OGG_WRITER_DEFAULT_QUALITY, comment.c_str()),
                         false}};
    }
    std::vector<uint8_t> image = kvr_build_image(spec);
    uint8_t* archive = static_cast<uint8_t*>(malloc(image.size()));
    memcpy(archive, image.data(), image.size());
    return arc_open_image(&g_arc_base, archive, image.size());
}

// Runs one open of the track per iteration; peak_extra_mib is the most memory
// held beyond the archive at any time, the file's own copy included.
template <typename OpenFn>
void run_track_opens(benchmark::State& state, OpenFn open_once)
{
    if (!open_archive_with_track(static_cast<size_t>(state.range(0)))) {
        state.SkipWithError("the archive does not open");
        return;
    }
    const long resident_kb = restart_peak_kb();
    for (auto _ : state) {
        if (!open_once()) {
            state.SkipWithError("the track does not open");
            break;
        }
    }
    state.counters["peak_extra_mib"] = static_cast<double>(status_kb("VmHWM") - resident_kb) / 1024.0;
    arc_close(&g_arc_base);
}

// The archive's share of opening a track: reading its bytes out.
void BM_ReadTrackWithComment(benchmark::State& state)
{
    run_track_opens(state, [] {
        size_t len = 0;
        uint8_t* bytes = asset_read(TRACK_NAME, &len);
        free(bytes);
        return bytes != nullptr;
    });
}
BENCHMARK(BM_ReadTrackWithComment)->Arg(0)->Arg(100)->Arg(250)->Iterations(3)->Unit(benchmark::kMillisecond);

// One part of a track opened as bgm_play_track opens it, archive read
// included: how long the main thread stands still.
void BM_OpenTrackWithComment(benchmark::State& state)
{
    run_track_opens(state, [] {
        uint8_t* ogg = nullptr;
        stb_vorbis* decoder = bgm_open_ogg(TRACK_NAME, &ogg);
        bgm_close_ogg(decoder, ogg);
        return decoder != nullptr;
    });
}
BENCHMARK(BM_OpenTrackWithComment)->Arg(0)->Arg(100)->Arg(250)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
