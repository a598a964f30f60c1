// Scenario tables and code bytes run as in fuzz_vm, but on a software
// renderer with a font, so text windows really draw, scroll and capture
// lines into the history, and picture frames are composed.
#include "fuzz_support.h"
#include "scenario_run.h"
#include "stb_compress.h"

#include <vector>

// Wide enough for the single-byte row and the first Shift-JIS rows.
constexpr int ATLAS_WIDTH = 2048;
constexpr int ATLAS_HEIGHT = 64;
constexpr int ATLAS_CHANNELS = 4;
// Each step may compose a whole frame (the partial-picture command does), so
// an input runs fewer of them than without a renderer.
constexpr ScenarioBounds RENDERED_BOUNDS = {500, 1000};

// The font lives for the whole run, as in the game: a white atlas read from base.dat.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::vector<uint8_t> white(static_cast<size_t>(ATLAS_WIDTH) * ATLAS_HEIGHT * ATLAS_CHANNELS, 0xFF);
    int png_size = 0;
    uint8_t* png = stbi_write_png_to_mem(white.data(), ATLAS_WIDTH * ATLAS_CHANNELS, ATLAS_WIDTH,
                                         ATLAS_HEIGHT, ATLAS_CHANNELS, &png_size);
    fuzz_open_base({"FONT_ATLAS_SD.PNG"}, png, static_cast<size_t>(png_size));
    free(png);
    const bool loaded = font_init(fuzz_renderer(), 0);
    arc_close(&g_arc_base);
    if (!loaded)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = new Engine;
    fuzz_screen_open(engine, 0);
    scenario_run(engine, data, size, RENDERED_BOUNDS);
    fuzz_screen_close(engine);
    return 0;
}
