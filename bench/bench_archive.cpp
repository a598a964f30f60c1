// Reading every entry of a large archive once by name, and the cost of
// opening it (the name index is made then).
#include <benchmark/benchmark.h>

#include "archive.h"
#include "kvr_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int ENTRY_COUNT = 10000;
constexpr size_t ENTRY_BYTES = 64;

// Stored names take the forms the format allows, under an assets folder with
// either separator, so every one is normalised.
std::string stored_name(int i)
{
    char name[ARC_ENTRY_NAME_LEN];
    snprintf(name, sizeof name, i % 2 ? "assets\\img\\%05d.png" : "assets/bgm/%05d.ogg", i);
    return name;
}

std::string request_name(int i)
{
    char name[ARC_ENTRY_NAME_LEN];
    snprintf(name, sizeof name, i % 2 ? "img/%05d.png" : "bgm/%05d.ogg", i);
    return name;
}

std::vector<uint8_t> small_entries_image()
{
    KvrArchiveSpec spec;
    for (int i = 0; i < ENTRY_COUNT; i++)
        spec.entries.push_back({stored_name(i), std::vector<uint8_t>(ENTRY_BYTES, static_cast<uint8_t>(i))});
    return kvr_build_image(spec);
}

bool open_copy(Archive* arc, const std::vector<uint8_t>& image)
{
    uint8_t* bytes = static_cast<uint8_t*>(malloc(image.size()));
    memcpy(bytes, image.data(), image.size());
    return arc_open_image(arc, bytes, image.size());
}

void BM_ReadEachOfTenThousandEntriesByName(benchmark::State& state)
{
    if (!open_copy(&g_arc_base, small_entries_image())) {
        state.SkipWithError("the archive does not open");
        return;
    }
    std::vector<std::string> names;
    for (int i = ENTRY_COUNT - 1; i >= 0; i--)
        names.push_back(request_name(i));
    for (auto _ : state) {
        for (const std::string& name : names) {
            size_t len = 0;
            uint8_t* bytes = asset_read(name.c_str(), &len);
            if (!bytes || len != ENTRY_BYTES) {
                state.SkipWithError("an entry was not found");
                break;
            }
            benchmark::DoNotOptimize(bytes);
            free(bytes);
        }
    }
    arc_close(&g_arc_base);
}
BENCHMARK(BM_ReadEachOfTenThousandEntriesByName)->Unit(benchmark::kMillisecond);

void BM_OpenTenThousandEntries(benchmark::State& state)
{
    const std::vector<uint8_t> image = small_entries_image();
    Archive arc{};
    for (auto _ : state) {
        if (!open_copy(&arc, image)) {
            state.SkipWithError("the archive does not open");
            break;
        }
        arc_close(&arc);
    }
}
BENCHMARK(BM_OpenTenThousandEntries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
