// What the bounds on outside data cost: decoding a picture through the
// engine's checked path against a plain decode of the same bytes, and loading
// a save against a plain inflate of its body. Each pair runs interleaved in
// one benchmark, so the ratio is measured under the same conditions.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stb_image.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "../save/save_private.h"
#include "archive.h"
#include "bench_memory.h"
#include "save.h"
#include "stb_compress.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr double KIB_PER_MIB = 1024.0;
constexpr int BENCH_SAVE_SLOT = 0;

// The whole file in one read; empty when it cannot be read.
Bytes read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(in ? static_cast<size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// The most memory work() holds at once beyond what the process held before,
// in MiB. It runs in a child process, so the allocator's caches and the
// pages earlier runs left behind do not hide any of it.
double peak_extra_mib(const std::function<void()>& work)
{
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        malloc_trim(0);
        const long before = restart_peak_kb();
        work();
        const long extra = status_kb("VmHWM") - before;
        if (write(pipe_ends[1], &extra, sizeof extra) != sizeof extra)
            _exit(1);
        _exit(0);
    }
    long extra = -KIB_PER_MIB;
    if (read(pipe_ends[0], &extra, sizeof extra) != sizeof extra)
        extra = -KIB_PER_MIB;
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    waitpid(child, nullptr, 0);
    return static_cast<double>(extra) / KIB_PER_MIB;
}

double elapsed_ms(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Times plain() and checked() in turns and reports both, their ratio and
// the memory each holds at its peak; checked() must succeed every time.
void compare(benchmark::State& state, const std::function<bool()>& plain,
             const std::function<bool()>& checked)
{
    double plain_ms = 0;
    double checked_ms = 0;
    const auto timed = [](const std::function<bool()>& run, double* total_ms) {
        const Clock::time_point start = Clock::now();
        const bool done = run();
        *total_ms += elapsed_ms(start);
        return done;
    };
    bool checked_first = false;
    for (auto _ : state) {
        // Each goes first in turn: the second pays for the pages the first freed.
        checked_first = !checked_first;
        if (!checked_first)
            timed(plain, &plain_ms);
        const bool accepted = timed(checked, &checked_ms);
        if (checked_first)
            timed(plain, &plain_ms);
        if (!accepted) {
            state.SkipWithError("the checked path refused the input");
            return;
        }
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["plain_ms"] = plain_ms / runs;
    state.counters["checked_ms"] = checked_ms / runs;
    state.counters["ratio"] = checked_ms / plain_ms;
    const double plain_peak = peak_extra_mib([&] { plain(); });
    const double checked_peak = peak_extra_mib([&] { checked(); });
    state.counters["plain_peak_MiB"] = plain_peak;
    state.counters["checked_peak_MiB"] = checked_peak;
    state.counters["extra_MiB"] = checked_peak - plain_peak;
}

void BM_PictureDecode(benchmark::State& state, const char* demo_file)
{
    const Bytes png = read_file(std::string(KAVREL_DEMO_DIR) + "/stage/" + demo_file);
    int w = 0;
    int h = 0;
    int channels = 0;
    const int len = static_cast<int>(png.size());
    if (!stbi_info_from_memory(png.data(), len, &w, &h, &channels)) {
        state.SkipWithError("build the demo target first");
        return;
    }
    const auto plain = [&] {
        stbi_uc* pixels = stbi_load_from_memory(png.data(), len, &w, &h, &channels, 4);
        stbi_image_free(pixels);
        return pixels != nullptr;
    };
    const auto checked = [&] {
        uint8_t* pixels = img_decode_rgba(nullptr, png.data(), png.size(), &w, &h);
        stbi_image_free(pixels);
        return pixels != nullptr;
    };
    compare(state, plain, checked);
    state.counters["raw_image_MiB"] = static_cast<double>(w) * h * 4 / (KIB_PER_MIB * KIB_PER_MIB);
}
BENCHMARK_CAPTURE(BM_PictureDecode, hd_font_atlas, "fonts/FONT_ATLAS_GDI.PNG")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK_CAPTURE(BM_PictureDecode, hd_picture, "art/img/hd/001.png")->Unit(benchmark::kMillisecond);

// Noise, so that the layers do not compress: the costliest save to load.
void fill_noise(uint32_t* pixels, size_t count)
{
    uint32_t seed = 12345;
    for (size_t i = 0; i < count; i++) {
        seed = seed * 1664525u + 1013904223u;
        pixels[i] = seed;
    }
}

void put_u32(Bytes* out, uint32_t value)
{
    uint8_t bytes[4];
    save_put_u32(bytes, value);
    out->insert(out->end(), bytes, bytes + sizeof bytes);
}

// An HD save without a thumbnail, its body compressed as the writer does.
Bytes hd_save_with_noise_layers(Bytes* stream, size_t* body_len)
{
    auto engine = std::make_unique<Engine>();
    engine_init(engine.get(), 1);
    const size_t pixels = static_cast<size_t>(save_layer_width(1)) * save_layer_height(1);
    std::vector<uint32_t> text(pixels);
    std::vector<uint32_t> canvas(pixels);
    fill_noise(text.data(), pixels);
    fill_noise(canvas.data(), pixels);
    canvas[0] ^= 1;
    Bytes body(save_body_size(1));
    save_body_encode(engine.get(), text.data(), canvas.data(), body.data());
    int packed_len = 0;
    uint8_t* packed = stbi_zlib_compress(body.data(), static_cast<int>(body.size()), &packed_len,
                                         SAVE_COMPRESS_QUALITY);
    stream->assign(packed, packed + packed_len);
    free(packed);
    *body_len = body.size();

    Bytes file(SAVE_MAGIC, SAVE_MAGIC + SAVE_MAGIC_BYTES);
    // version, segment, time, then png_length 0: no thumbnail
    for (uint32_t field : {SAVE_VERSION, 0u, 0u, 0u})
        put_u32(&file, field);
    const uint8_t preview[] = {SAVE_PREVIEW_W, 0, SAVE_PREVIEW_H, 0};
    file.insert(file.end(), preview, preview + sizeof preview);
    put_u32(&file, static_cast<uint32_t>(body.size()));
    put_u32(&file, static_cast<uint32_t>(stream->size()));
    file.insert(file.end(), stream->begin(), stream->end());
    return file;
}

void BM_SaveLoad(benchmark::State& state)
{
    char folder[] = "/tmp/kavrel-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no scratch folder");
        return;
    }
    save_set_folder((std::string(folder) + "/").c_str());
    Bytes stream;
    size_t body_len = 0;
    const Bytes file = hd_save_with_noise_layers(&stream, &body_len);
    char path[SAVE_PATH_CAPACITY];
    save_build_path(BENCH_SAVE_SLOT, path, sizeof path);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                static_cast<std::streamsize>(file.size()));
    auto engine = std::make_unique<Engine>();
    engine_init(engine.get(), 1);

    // A plain load reads the file whole and inflates its body, with no check
    // beyond zlib's own: what the loader does on top of that is the price.
    const auto plain = [&] {
        uint8_t* body = static_cast<uint8_t*>(malloc(body_len));
        uLongf out_len = body_len;
        const bool inflated = uncompress(body, &out_len, stream.data(), stream.size()) == Z_OK;
        free(body);
        return inflated;
    };
    const auto checked = [&] { return save_load_slot(engine.get(), BENCH_SAVE_SLOT) == SAVE_RESULT_OK; };
    compare(state, plain, checked);
    state.counters["body_MiB"] = static_cast<double>(body_len) / (KIB_PER_MIB * KIB_PER_MIB);
    remove(path);
    remove(folder);
}
BENCHMARK(BM_SaveLoad)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
