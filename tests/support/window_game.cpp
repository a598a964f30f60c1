#include "window_game.h"

#include "kvr_writer.h"
#include "render_fixture.h"

#include <string>

static Bytes plain_png(int w, int h, uint32_t rgb)
{
    std::vector<uint8_t> rgba;
    for (int i = 0; i < w * h; i++)
        rgba.insert(rgba.end(), {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                                 static_cast<uint8_t>(rgb), 0xFF});
    return encode_png(w, h, rgba.data());
}

void put_window_game(const ScratchDir& dir, const ScenarioBuilder& scenario, uint32_t picture_rgb)
{
    const std::string manifest = R"({"images": [{"id": 0, "x": 0, "y": 0}]})";
    KvrArchiveSpec base;
    base.entries.push_back({"manifest.json", Bytes(manifest.begin(), manifest.end()), false});
    base.entries.push_back({"img/000.png", plain_png(640, 400, picture_rgb), true});
    base.entries.push_back({"splash.png", plain_png(64, 64, 0x2040A0), false});
    base.entries.push_back({"FONT_ATLAS_SD.PNG", plain_png(2048, 1136, 0xFFFFFF), true});
    write_file(dir.file("base.dat"), kvr_build_archive(base));

    KvrArchiveSpec script;
    script.entries.push_back({"S00000.KVL", scenario.tables(), false});
    script.entries.push_back({"S00000.KVY", scenario.code(), false});
    write_file(dir.file("script.dat"), kvr_build_archive(script));
}
