#include "archive.h"
#include "demo_art.h"
#include "demo_music.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <stb_image.h>
#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Every note but the pad starts and ends on a bar line, so across a seamless
// join only the quiet pad moves: a step of a few dozen. A cut-off pad or a
// note that does not fit its bar steps by hundreds to thousands.
constexpr int SEAM_THRESHOLD = 300;

struct DecodedOgg {
    int channels = 0, rate = 0, frames = 0;
    short* samples = nullptr;
    ~DecodedOgg() { free(samples); }
    int at(int frame, int channel) const { return samples[frame * channels + channel]; }
};

void decode_ogg(const std::string& path, DecodedOgg* ogg)
{
    Bytes bytes = read_file(path);
    ASSERT_FALSE(bytes.empty()) << path;
    ogg->frames = stb_vorbis_decode_memory(bytes.data(), static_cast<int>(bytes.size()),
                                           &ogg->channels, &ogg->rate, &ogg->samples);
    ASSERT_GT(ogg->frames, 0) << path;
}

std::string part_path(const ScratchDir& dir, int track, DemoMusicPart part, bool hd)
{
    return dir.file(std::string(hd ? "bgm/hd/" : "bgm/") + demo_music_track_name(track) +
                    (part == DEMO_PART_INTRO ? "_intro.ogg" : "_loop.ogg"));
}

// The music files in a scratch folder, encoded once for all the cases of a
// test program: encoding takes over a second.
class DemoMusicTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new ScratchDir();
        std::string error;
        ASSERT_TRUE(demo_music_write_all(dir_->path(), &error)) << error;
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    static ScratchDir* dir_;
};

ScratchDir* DemoMusicTest::dir_ = nullptr;

// All the demo's text stands on screen rows 18-23, in white, in yellow, or at the
// dusk of the script's '%2,1 %6,1', which tints text and picture alike.
constexpr int TEXT_BAND_TOP = 18 * 16;
constexpr uint8_t NO_TINT[3] = {255, 255, 255}, DUSK_TINT[3] = {127, 198, 255};
constexpr double MIN_CONTRAST = 4.5;

double luminance(const uint8_t* rgb, const uint8_t* tint)
{
    double sum = 0;
    for (int ch = 0; ch < 3; ch++) {
        const double s = (rgb[ch] * tint[ch] / 255) / 255.0;
        sum += (ch == 0 ? 0.2126 : ch == 1 ? 0.7152 : 0.0722) *
               (s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4));
    }
    return sum;
}

// The lowest contrast between text and a pixel of a scene's text band: white
// text under either tint, and the yellow, drawn untinted over the frame.
double text_band_contrast(const uint8_t* rgba, int w, int h)
{
    const uint8_t white[3] = {255, 255, 255}, yellow[3] = {255, 255, 0};
    auto contrast = [](auto text, auto picture, auto tint) { return (luminance(text, tint) + 0.05) / (luminance(picture, tint) + 0.05); };
    double worst = 21;
    for (const uint8_t* p = &rgba[size_t{4} * w * (TEXT_BAND_TOP * h / 400)]; p < &rgba[size_t{4} * w * h]; p += 4)
        worst = std::min({worst, contrast(white, p, NO_TINT), contrast(yellow, p, NO_TINT), contrast(white, p, DUSK_TINT)});
    return worst;
}

}  // namespace

TEST(DemoArtTest, PicturesHaveTheirSizesAndCoverAndLeaveTheirTextLegible)
{
    ScratchDir dir;
    std::string error;
    ASSERT_TRUE(demo_art_write_all(dir.path(), &error)) << error;
    // The portrait stands where the manifest places it: above the text.
    const std::string here = __FILE__, manifest = read_text_file(here.substr(0, here.rfind('/')) + "/../demo/manifest.json");
    ManifestImage placed[MANIFEST_IMAGE_CAPACITY];
    BgmTrack tracks[BGM_TRACK_CAPACITY];
    int32_t placed_count = 0, track_count = 0;
    ASSERT_TRUE(asset_parse_manifest(reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size(), placed,
                                     &placed_count, tracks, &track_count) && placed_count > 3);
    EXPECT_LE(2 * placed[3].y + 240, TEXT_BAND_TOP);
    const struct {
        const char* name;
        int w, h;
        bool transparent_corners, scene;
    } cases[] = {
        {"img/000.png", 640, 400, false, true},   {"img/001.png", 640, 400, false, true},
        {"img/002.png", 640, 400, false, true},   {"img/003.png", 160, 240, true, false},
        {"img/004.png", 320, 160, false, false},  {"img/005.png", 640, 400, false, true},
        {"img/006.png", 640, 400, false, true},   {"img/hd/000.png", 1280, 800, false, true},
        {"img/hd/001.png", 1280, 800, false, true}, {"img/hd/002.png", 1280, 800, false, true},
        {"img/hd/003.png", 320, 480, true, false}, {"img/hd/004.png", 640, 320, false, false},
        {"img/hd/005.png", 1280, 800, false, true}, {"img/hd/006.png", 1280, 800, false, true},
        {"img/007.png", 640, 400, false, true},   {"img/hd/007.png", 1280, 800, false, true},
        {"splash.png", 640, 400, false, false},
    };
    for (const auto& c : cases) {
        int w = 0, h = 0, channels = 0;
        stbi_uc* px = stbi_load(dir.file(c.name).c_str(), &w, &h, &channels, 4);
        ASSERT_NE(px, nullptr) << c.name;
        EXPECT_EQ(w, c.w) << c.name;
        EXPECT_EQ(h, c.h) << c.name;
        auto alpha = [&](int x, int y) { return px[(static_cast<size_t>(y) * w + x) * 4 + 3]; };
        int corner_alpha = c.transparent_corners ? 0 : 255;
        EXPECT_EQ(alpha(0, 0), corner_alpha) << c.name;
        EXPECT_EQ(alpha(w - 1, 0), corner_alpha) << c.name;
        EXPECT_EQ(alpha(w / 2, h / 2), 255) << c.name;
        if (c.scene) {
            EXPECT_GE(text_band_contrast(px, w, h), MIN_CONTRAST) << c.name;
        }
        // The dusk talk's wood lies under an evening sky, not a midday one.
        if (strstr(c.name, "001")) {
            EXPECT_LT(luminance(&px[4 * (w / 2)], NO_TINT), 0.05) << c.name;
        }
        stbi_image_free(px);
    }
}

TEST(DemoArtTest, HdPictureShowsTheSameSceneDrawnAtItsOwnResolution)
{
    constexpr int BLOCK = 20;  // SD pixels per side of a compared block
    constexpr int CHANNEL_TOLERANCE = 40;
    for (int id = 0; id < DEMO_ART_PICTURE_COUNT; id++) {
        ArtImage sd = demo_art_picture(id, 1);
        ArtImage hd = demo_art_picture(id, DEMO_ART_HD_SCALE);
        ASSERT_EQ(hd.width, sd.width * 2);
        ASSERT_EQ(hd.height, sd.height * 2);
        auto px = [](const ArtImage& img, int x, int y, int ch) {
            return static_cast<int>(img.rgba[(static_cast<size_t>(y) * img.width + x) * 4 + ch]);
        };
        bool finer_detail = false;
        for (int by = 0; by + BLOCK <= sd.height; by += BLOCK) {
            for (int bx = 0; bx + BLOCK <= sd.width; bx += BLOCK) {
                for (int ch = 0; ch < 4; ch++) {
                    long sum_sd = 0, sum_hd = 0;
                    for (int y = by; y < by + BLOCK; y++) {
                        for (int x = bx; x < bx + BLOCK; x++) {
                            sum_sd += px(sd, x, y, ch);
                            sum_hd += px(hd, 2 * x, 2 * y, ch) + px(hd, 2 * x + 1, 2 * y, ch) +
                                      px(hd, 2 * x, 2 * y + 1, ch) +
                                      px(hd, 2 * x + 1, 2 * y + 1, ch);
                            finer_detail |=
                                px(hd, 2 * x, 2 * y, ch) != px(hd, 2 * x + 1, 2 * y + 1, ch);
                        }
                    }
                    ASSERT_NEAR(sum_sd / (BLOCK * BLOCK), sum_hd / (4 * BLOCK * BLOCK),
                                CHANNEL_TOLERANCE)
                        << "picture " << id << " block " << bx << "," << by;
                }
            }
        }
        EXPECT_TRUE(finer_detail) << "picture " << id << " is only enlarged";
    }
}

TEST_F(DemoMusicTest, MusicDecodesAsStereoAt44100HzInWholeBars)
{
    for (int track = 0; track < DEMO_MUSIC_TRACK_COUNT; track++) {
        for (DemoMusicPart part : {DEMO_PART_INTRO, DEMO_PART_LOOP}) {
            const double seconds = static_cast<double>(demo_music_part_frames(track, part)) / DEMO_MUSIC_RATE;
            EXPECT_GE(seconds, part == DEMO_PART_INTRO ? 2.0 : 8.0);
            EXPECT_LE(seconds, part == DEMO_PART_INTRO ? 4.0 : 12.0);
            for (bool hd : {false, true}) {
                std::string path = part_path(*dir_, track, part, hd);
                DecodedOgg ogg;
                decode_ogg(path, &ogg);
                EXPECT_EQ(ogg.channels, 2) << path;
                EXPECT_EQ(ogg.rate, 44100) << path;
                EXPECT_EQ(static_cast<size_t>(ogg.frames), demo_music_part_frames(track, part))
                    << path;
                int peak = 0;
                for (int i = 0; i < ogg.frames * ogg.channels; i++)
                    peak = std::max(peak, std::abs(static_cast<int>(ogg.samples[i])));
                EXPECT_GT(peak, 4000) << path;
                EXPECT_LT(peak, 32000) << path;
            }
        }
    }
}

TEST_F(DemoMusicTest, LoopJoinsItselfAndItsIntroWithoutAJump)
{
    for (int track = 0; track < DEMO_MUSIC_TRACK_COUNT; track++) {
        for (bool hd : {false, true}) {
            DecodedOgg intro, loop;
            decode_ogg(part_path(*dir_, track, DEMO_PART_INTRO, hd), &intro);
            decode_ogg(part_path(*dir_, track, DEMO_PART_LOOP, hd), &loop);
            for (int ch = 0; ch < 2; ch++) {
                int wrap = loop.at(loop.frames - 1, ch) - loop.at(0, ch);
                int join = intro.at(intro.frames - 1, ch) - loop.at(0, ch);
                EXPECT_LE(std::abs(wrap), SEAM_THRESHOLD) << track << " hd " << hd;
                EXPECT_LE(std::abs(join), SEAM_THRESHOLD) << track << " hd " << hd;
            }
        }
    }
}
