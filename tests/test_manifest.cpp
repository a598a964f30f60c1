#include <gtest/gtest.h>

#include "../music/bgm_private.h"
#include "archive.h"
#include "engine.h"
#include "kvr_writer.h"
#include "music.h"
#include "ogg_writer.h"
#include "png_fixture.h"
#include "render_fixture.h"
#include "screen.h"
#include "test_support.h"
#include "vm.h"

#include <SDL.h>
#include <malloc.h>
#include <stb_image.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Reading the manifest text
// ---------------------------------------------------------------------------

struct ParsedManifest {
    bool ok = false;
    std::vector<ManifestImage> images;
    std::vector<BgmTrack> tracks;
};

static ParsedManifest parse(const std::string& text)
{
    // An exact-size copy: the reader must not rely on a zero byte after the text.
    std::vector<uint8_t> bytes(text.begin(), text.end());
    ParsedManifest result;
    result.images.resize(MANIFEST_IMAGE_CAPACITY);
    result.tracks.resize(BGM_TRACK_CAPACITY);
    int32_t image_count = 0;
    int32_t track_count = 0;
    result.ok = asset_parse_manifest(bytes.data(), bytes.size(), result.images.data(), &image_count,
                                     result.tracks.data(), &track_count);
    result.images.resize(static_cast<size_t>(image_count));
    result.tracks.resize(static_cast<size_t>(track_count));
    return result;
}

TEST(ManifestParseTest, NumbersAreTruncatedTowardZero)
{
    ParsedManifest m = parse(R"({"images":[{"id":12.9,"x":100.7,"y":-3.9,"vram":7},
                                             {"id":-0.5,"x":-0.99,"y":0.5,"vram":-2.5}]})");
    ASSERT_TRUE(m.ok);
    ASSERT_EQ(m.images.size(), 2u);
    EXPECT_EQ(m.images[0].id, 12);
    EXPECT_EQ(m.images[0].x, 100);
    EXPECT_EQ(m.images[0].y, -3);
    EXPECT_EQ(m.images[0].vram, 7);
    EXPECT_EQ(m.images[1].id, 0);
    EXPECT_EQ(m.images[1].x, 0);
    EXPECT_EQ(m.images[1].y, 0);
    EXPECT_EQ(m.images[1].vram, -2);
}

TEST(ManifestParseTest, UnreadableNumbersBecomeTheSmallestInt32)
{
    ParsedManifest m = parse(R"({"images":[
        {"id":1,"y":"7","vram":2147483648},
        {"id":2,"x":2147483647.9,"y":-2147483648.9,"vram":-2147483649},
        {"id":3,"x":1e300,"y":-1e300,"vram":true}]})");
    ASSERT_EQ(m.images.size(), 3u);
    EXPECT_EQ(m.images[0].x, INT32_MIN);  // missing
    EXPECT_EQ(m.images[0].y, INT32_MIN);  // a string
    EXPECT_EQ(m.images[0].vram, INT32_MIN);
    EXPECT_EQ(m.images[1].x, INT32_MAX);
    EXPECT_EQ(m.images[1].y, INT32_MIN);
    EXPECT_EQ(m.images[1].vram, INT32_MIN);
    EXPECT_EQ(m.images[2].x, INT32_MIN);
    EXPECT_EQ(m.images[2].y, INT32_MIN);
    EXPECT_EQ(m.images[2].vram, INT32_MIN);
}

TEST(ManifestParseTest, PicturesWithoutAnIdInRangeAreDropped)
{
    ParsedManifest m = parse(R"({"images":[{"id":256},{"id":-1},{"x":1},{"id":"4"},{"id":null},
                                             {"id":255.99},{"id":4294967296},7,[1],{"id":0}]})");
    ASSERT_EQ(m.images.size(), 2u);
    EXPECT_EQ(m.images[0].id, 255);
    EXPECT_EQ(m.images[1].id, 0);
}

TEST(ManifestParseTest, KeysMatchWithoutRegardToCaseAndTheFirstCounts)
{
    ParsedManifest m = parse(R"({"Images":[{"ID":3,"X":1,"Y":2,"VRAM":4,"id":9}],
                                 "images":[{"id":5}],
                                 "BGM":[{"Id":6,"INTRO":"a.ogg","Loop":"b.ogg","loop":"c.ogg"}]})");
    ASSERT_EQ(m.images.size(), 1u);
    EXPECT_EQ(m.images[0].id, 3);
    EXPECT_EQ(m.images[0].x, 1);
    EXPECT_EQ(m.images[0].y, 2);
    EXPECT_EQ(m.images[0].vram, 4);
    ASSERT_EQ(m.tracks.size(), 1u);
    EXPECT_EQ(m.tracks[0].id, 6u);
    EXPECT_STREQ(m.tracks[0].intro, "a.ogg");
    EXPECT_STREQ(m.tracks[0].loop, "b.ogg");
}

TEST(ManifestParseTest, AtMost256PicturesAreKeptAndDroppedOnesDoNotCount)
{
    std::string text = R"({"images":[{"id":300},)";
    for (int i = 0; i < 300; i++)
        text += "{\"id\":" + std::to_string(i % IMAGE_SLOT_COUNT) + ",\"x\":" + std::to_string(i) + "},";
    text += R"({"id":1}]})";
    ParsedManifest m = parse(text);
    ASSERT_EQ(m.images.size(), 256u);
    EXPECT_EQ(m.images[0].id, 0);
    EXPECT_EQ(m.images[255].id, 255);
    EXPECT_EQ(m.images[255].x, 255);
}

TEST(ManifestParseTest, AtMost32TracksAreKeptAndTheirIdsAreUnlimited)
{
    std::string text = R"({"bgm":[{"id":-1},{"id":4000000000},{"id":4000000000},)";
    for (int i = 3; i < 40; i++)
        text += "{\"id\":" + std::to_string(i) + "},";
    text += "{}]}";
    ParsedManifest m = parse(text);
    ASSERT_EQ(m.tracks.size(), 32u);
    EXPECT_EQ(m.tracks[0].id, 0xFFFFFFFFu);
    EXPECT_EQ(m.tracks[1].id, 0x80000000u);  // beyond the signed range
    EXPECT_EQ(m.tracks[2].id, 0x80000000u);
    EXPECT_EQ(m.tracks[31].id, 31u);
}

TEST(ManifestParseTest, TrackFileNamesAreCutTo63CharactersOrLeftEmpty)
{
    std::string long_name(70, 'n');
    ParsedManifest m = parse(R"({"bgm":[{"id":1,"intro":")" + long_name + R"(","loop":5},
                                           "not an object"]})");
    ASSERT_EQ(m.tracks.size(), 2u);
    EXPECT_EQ(std::string(m.tracks[0].intro), std::string(63, 'n'));
    EXPECT_STREQ(m.tracks[0].loop, "");
    EXPECT_EQ(m.tracks[1].id, 0x80000000u);
    EXPECT_STREQ(m.tracks[1].intro, "");
    EXPECT_STREQ(m.tracks[1].loop, "");
}

TEST(ManifestParseTest, TextAfterTheDocumentIsIgnored)
{
    ParsedManifest m = parse(R"({"images":[{"id":1}]}  trailing } garbage {)");
    ASSERT_TRUE(m.ok);
    ASSERT_EQ(m.images.size(), 1u);
}

TEST(ManifestParseTest, EachListIsReadWhenTheOtherIsNotAList)
{
    ParsedManifest m = parse(R"({"images":{"id":1},"bgm":[{"id":2}]})");
    EXPECT_TRUE(m.images.empty());
    ASSERT_EQ(m.tracks.size(), 1u);

    m = parse(R"({"images":[{"id":1}],"bgm":"none"})");
    EXPECT_EQ(m.images.size(), 1u);
    EXPECT_TRUE(m.tracks.empty());
}

TEST(ManifestParseTest, TextThatDoesNotParseGivesNothing)
{
    for (const char* text : {"", "{\"images\":[{\"id\":1}", "images"}) {
        ParsedManifest m = parse(text);
        EXPECT_FALSE(m.ok) << text;
        EXPECT_TRUE(m.images.empty());
        EXPECT_TRUE(m.tracks.empty());
    }
}

// Fills the music table itself, as start-up does.
static void load_tracks(const std::string& text)
{
    ManifestImage images[MANIFEST_IMAGE_CAPACITY];
    int32_t image_count = 0;
    g_bgm_track_count = 0;
    ASSERT_TRUE(asset_parse_manifest(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                     images, &image_count, g_bgm_tracks, &g_bgm_track_count));
}

TEST(ManifestTrackTest, LookupReturnsTheFirstTrackWithTheId)
{
    load_tracks(R"({"bgm":[{"id":3,"intro":"a"},{"id":3,"intro":"b"},{"id":-2,"intro":"c"}]})");
    const BgmTrack* track = asset_find_bgm_track(3);
    ASSERT_NE(track, nullptr);
    EXPECT_STREQ(track->intro, "a");
    track = asset_find_bgm_track(0xFFFFFFFEu);
    ASSERT_NE(track, nullptr);
    EXPECT_STREQ(track->intro, "c");
    EXPECT_EQ(asset_find_bgm_track(4), nullptr);

    g_bgm_track_count = 0;
    EXPECT_EQ(asset_find_bgm_track(3), nullptr);
}

// ---------------------------------------------------------------------------
// Loading pictures into the slots
// ---------------------------------------------------------------------------

// A w x h picture whose pixels encode their position, so that a texture can be
// told from any other and checked pixel by pixel.
static std::vector<uint8_t> make_png(int w, int h, uint8_t tag)
{
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = tag;
            p[1] = static_cast<uint8_t>(x * 16);
            p[2] = static_cast<uint8_t>(y * 16);
            p[3] = static_cast<uint8_t>(128 + x);
        }
    return encode_png(w, h, rgba.data());
}

class ManifestLoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.enter();
        ASSERT_NE(renderer, nullptr);
    }

    void TearDown() override
    {
        arc_close(&g_arc_base);
        arc_close(&g_arc_hd);
        g_bgm_track_count = 0;
    }

    void write_archive(const char* file_name, std::vector<KvrInputEntry> entries, uint32_t flags = 0)
    {
        KvrArchiveSpec spec;
        spec.entries = std::move(entries);
        spec.flags = flags;
        ASSERT_TRUE(kvr_write_file(dir.file(file_name), kvr_build_archive(spec)));
    }

    std::unique_ptr<Engine> make_engine(uint8_t hd_mode)
    {
        auto engine = std::make_unique<Engine>();
        engine_init(engine.get(), hd_mode);
        engine->renderer = renderer;
        return engine;
    }

    // The texture's pixels as R, G, B, A bytes.
    std::vector<uint8_t> read_texture(SDL_Texture* texture, int w, int h)
    {
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_NONE);
        const Pixels rgba = draw_to_target(w, h, [&] { SDL_RenderCopy(renderer, texture, nullptr, nullptr); });
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
        std::vector<uint8_t> bytes;
        for (uint32_t pixel : rgba)
            for (int shift : {24, 16, 8, 0})
                bytes.push_back(static_cast<uint8_t>(pixel >> shift));
        return bytes;
    }

    ScratchDir dir;
    SDL_Renderer* renderer = test_renderer();
};

static KvrInputEntry text_entry(const char* name, const std::string& text)
{
    return KvrInputEntry{name, std::vector<uint8_t>(text.begin(), text.end())};
}

TEST_F(ManifestLoadTest, PictureBecomesAnRgbaTextureWithBlending)
{
    const int pw = 200, ph = 100;  // over 64 KiB of pixel data
    std::vector<uint8_t> png = make_png(pw, ph, 77);
    write_archive("base.dat", {KvrInputEntry{"img/004.png", png, true}});
    arc_open_base_and_hd();

    SDL_Texture* texture = nullptr;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(img_load_texture("img/004.png", renderer, &texture, &w, &h));
    EXPECT_EQ(w, 200u);
    EXPECT_EQ(h, 100u);
    Uint32 format = 0;
    int access = -1;
    SDL_QueryTexture(texture, &format, &access, nullptr, nullptr);
    EXPECT_EQ(format, static_cast<Uint32>(SDL_PIXELFORMAT_ABGR8888));
    EXPECT_EQ(access, SDL_TEXTUREACCESS_STATIC);
    SDL_BlendMode blend = SDL_BLENDMODE_NONE;
    SDL_GetTextureBlendMode(texture, &blend);
    EXPECT_EQ(blend, SDL_BLENDMODE_BLEND);

    std::vector<uint8_t> pixels = read_texture(texture, pw, ph);
    for (int y = 0; y < ph; y++)
        for (int x = 0; x < pw; x++) {
            const uint8_t* p = &pixels[(static_cast<size_t>(y) * pw + x) * 4];
            ASSERT_EQ(p[0], 77);
            ASSERT_EQ(p[1], uint8_t(x * 16));
            ASSERT_EQ(p[2], uint8_t(y * 16));
            ASSERT_EQ(p[3], uint8_t(128 + x)) << x << "," << y;
        }
}

// Every loader refuses a picture wider or taller than a texture, over the
// pixel cap, or whose PNG data outgrows its size, as it refuses one that is
// missing or does not decode. The software renderer names no texture limit,
// so the fixed caps decide. An entry declaring more than its kind may hold is
// refused before any of it is copied or inflated: 2,000,000,000 bytes behind
// a stream long enough to be believed, of which 64 MiB of zeros inflate; and
// a file that loads at its cap, padded with zeros to one byte more.
TEST_F(ManifestLoadTest, MissingUndecodableOrOversizedFilesAreRefusedByEveryLoader)
{
    const uint32_t declared = 2000000000;
    Bytes huge = stream_with_fixed_last_block(Bytes(64 << 20, 0), false);
    huge.resize(declared / 1032 + 1);
    const auto padded = [](Bytes file, size_t len) { file.resize(len); return stream_with_fixed_last_block(file, false); };
    const std::vector<uint8_t> rgba(16385 * 4, 0x40);
    const Bytes ogg = ogg_encode_vorbis(std::vector<int16_t>(4000).data(), 2000, 2);
    const Bytes wide = encode_png(16385, 1, rgba.data());
    const Bytes tall = encode_png(1, 16385, rgba.data());
    // Interlaced data decodes from a stream longer than it needs, so only the
    // data check stops one that inflates to a megabyte.
    const Bytes inflating = png_blank(8, 8, 8, PNG_RGB, true, 1 << 20);
    Bytes idat_past_end = png_blank(8, 8, 8, PNG_RGB, false);
    idat_past_end[33] = 0x40;  // the data chunk's length field: a gigabyte
    auto engine = make_engine(0);
    const auto picture = [&] {
        SDL_Texture* texture = nullptr;
        uint32_t w = 9, h = 9;
        const bool made = img_load_texture("img/001.png", renderer, &texture, &w, &h);
        EXPECT_TRUE(made || (!texture && w == 9 && h == 9)) << "outs written on failure";
        SDL_DestroyTexture(texture);
        return made;
    };
    const auto splash = [&] { return splash_run(engine.get()) == 0; };
    const auto font = [&] { return font_init(renderer, 0); };
    const auto music = [&] { uint8_t* ogg = nullptr; stb_vorbis* d = bgm_open_ogg("bgm/track.ogg", &ogg); bgm_close_ogg(d, ogg); return d != nullptr; };
    const auto manifest = [&] { asset_load_manifest(engine.get()); return g_bgm_track_count > 0; };
    const auto scenario = [&] { return script_load(engine.get(), SCENARIO_FILE_STEM); };
    const struct {
        const char* name;
        bool archived;
        Bytes file;
        std::function<bool()> loads;
        bool loaded;
        uint32_t declared = 0;  // the size a zlib entry of the file declares; 0: stored as it is
    } cases[] = {
        {"img/002.png", true, wide, picture, false},
        {"img/001.png", true, Bytes{'n', 'o', 't'}, picture, false},
        {"img/001.png", true, wide, picture, false},
        {"img/001.png", true, encode_png(16384, 1, rgba.data()), picture, true},
        {"img/001.png", true, png_blank(4096, 3073, 1, PNG_GREY, false), picture, false},
        {"img/001.png", true, png_blank(4096, 3072, 1, PNG_GREY, false), picture, true},
        // 16-bit RGBA in Adam7's passes: the most data a picture of its size has.
        {"img/001.png", true, png_blank(5, 5, 16, PNG_RGBA, true), picture, true},
        {"img/001.png", true, png_blank(5, 5, 16, PNG_RGBA, true, 1), picture, false},
        {"img/001.png", true, inflating, picture, false},
        {"img/001.png", true, idat_past_end, picture, false},
        {"splash.png", true, tall, splash, false},
        {"splash.png", true, inflating, splash, false},
        {"assets/splash.png", false, wide, splash, false},
        {"assets/splash.png", false, inflating, splash, false},
        {"FONT_ATLAS_SD.PNG", true, wide, font, false},
        {"FONT_ATLAS_SD.PNG", true, inflating, font, false},
        {"FONT_ATLAS_SD.PNG", false, tall, font, false},
        {"FONT_ATLAS_SD.PNG", false, inflating, font, false},
        {"FONT_ATLAS_SD.PNG", false, idat_past_end, font, false},
        {"FREECG98.BMP", false, encode_bmp(16385, 1, rgba.data()), font, false},
        {"img/001.png", true, huge, picture, false, declared},
        {"splash.png", true, huge, splash, false, declared},
        {"FONT_ATLAS_SD.PNG", true, huge, font, false, declared},
        {"bgm/track.ogg", true, huge, music, false, declared},
        {"manifest.json", true, huge, manifest, false, declared},
        {"S00000.KVL", true, huge, scenario, false, declared},
        {"S00000.KVY", true, huge, scenario, false, declared},
        {"bgm/track.ogg", true, padded(ogg, BGM_FILE_CAP), music, true, BGM_FILE_CAP},
        {"bgm/track.ogg", true, padded(ogg, BGM_FILE_CAP + 1), music, false, BGM_FILE_CAP + 1},
        {"S00000.KVL", true, padded({}, SCRIPT_TABLES_CAP), scenario, true, SCRIPT_TABLES_CAP},
        {"S00000.KVL", true, padded({}, SCRIPT_TABLES_CAP + 1), scenario, false, SCRIPT_TABLES_CAP + 1},
        {"S00000.KVY", true, padded({}, SCRIPT_CODE_CAP), scenario, true, SCRIPT_CODE_CAP},
        {"S00000.KVY", true, padded({}, SCRIPT_CODE_CAP + 1), scenario, false, SCRIPT_CODE_CAP + 1},
    };
    for (const auto& c : cases) {
        // The scenario's other file, behind the row's own.
        Bytes image = kvr_build_archive({{{c.name, c.file}, {"S00000.KVL", {}}, {"S00000.KVY", {}}}});
        if (c.declared) {
            const std::pair<size_t, uint32_t> fields[] = {  // the entry's size, stored size and flags
                {56, c.declared}, {64, static_cast<uint32_t>(c.file.size())}, {68, ARC_ENTRY_FLAG_ZLIB}};
            for (const auto& [at, value] : fields)
                for (int i = 0; i < 4; i++)
                    image[ARC_HEADER_SIZE + at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
        const std::string path = dir.file(c.archived ? "base.dat" : c.name);
        write_file(path, c.archived ? image : c.file);
        arc_open_base_and_hd();
        const long before = resident_peak_restart_kb();
        EXPECT_EQ(c.loads(), c.loaded) << c.name << ", row " << &c - cases;
        if (c.declared && !c.loaded) {
            EXPECT_LT(resident_peak_kb() - before, 16 << 10) << c.name << ": kB held while refusing";
        }
        arc_close(&g_arc_base);
        std::filesystem::remove(path);
    }
    free(engine->kvl_data);
    free(engine->code_base);
}

// PNGs as other tools write them load exactly as the decoder alone gives
// them: an end chunk cut short of its checksum, the data split into 8 KiB
// chunks or into chunks of one byte (the stream's header over two of them),
// another chunk between data chunks, and data only the decoder's own
// inflater reads: a symbol zlib refuses after two stored blocks' worth, and
// a stream whose last byte is missing (the decoder reads it as zeros).
TEST(PictureDecodeTest, PngsOfEveryChunkingLoadAsTheDecoderGivesThem)
{
    const uint32_t w = 300, h = 120;  // over two stored blocks of pixel data
    Bytes rows;
    uint32_t seed = 7;
    for (uint32_t y = 0; y < h; y++) {
        rows.push_back(static_cast<uint8_t>(y % 5));  // every filter
        for (uint32_t x = 0; x < w * 4; x++, seed = seed * 1103515245u + 12345u)
            rows.push_back(static_cast<uint8_t>(x % 7 ? seed >> 24 : y));
    }
    // The signature and the header chunk; a chunk's length and type, then its checksum.
    const size_t png_head = 8 + 25, chunk_head = 8, chunk_tail = 4;
    const Bytes one_chunk = png_file(w, h, 8, PNG_RGBA, false, rows);
    // The data chunk's body, before its checksum and the end chunk.
    const Bytes stream(one_chunk.begin() + png_head + chunk_head,
                       one_chunk.end() - chunk_tail - (chunk_head + chunk_tail));
    const auto chunked = [&](size_t bytes) {
        return png_from_stream(w, h, 8, PNG_RGBA, false, stream, bytes);
    };
    Bytes interrupted = chunked(8192);
    const Bytes text = {0, 0, 0, 1, 't', 'E', 'X', 't', '!', 0, 0, 0, 0};
    interrupted.insert(interrupted.begin() + png_head + chunk_head + 8192 + chunk_tail, text.begin(), text.end());
    const Bytes refused_by_zlib = stream_with_fixed_last_block(rows, true);
    const Bytes cut = stream_with_fixed_last_block(rows, false);
    const Bytes files[] = {Bytes(one_chunk.begin(), one_chunk.end() - chunk_tail), chunked(8192), chunked(1),
                           interrupted, png_from_stream(w, h, 8, PNG_RGBA, false, refused_by_zlib, 8192),
                           png_from_stream(w, h, 8, PNG_RGBA, false, Bytes(cut.begin(), cut.end() - 5), 8192)};
    for (const Bytes& file : files) {
        int pw = 0, ph = 0, channels = 0, cw = 0, ch = 0;
        const int len = static_cast<int>(file.size());
        stbi_uc* plain = stbi_load_from_memory(file.data(), len, &pw, &ph, &channels, 4);
        uint8_t* checked = img_decode_rgba(nullptr, file.data(), file.size(), &cw, &ch);
        ASSERT_TRUE(plain && checked && cw == pw && ch == ph) << &file - files;
        EXPECT_EQ(0, memcmp(checked, plain, static_cast<size_t>(pw) * ph * 4)) << &file - files;
        stbi_image_free(plain);
        stbi_image_free(checked);
    }
}

// Data only the decoder's own inflater reads is inflated once more ahead of
// the decoder; that copy must go before the decoder inflates what it was
// handed, or the largest picture costs 96 MiB more than with data zlib reads.
TEST(PictureDecodeTest, DataOnlyTheDecoderReadsCostsWhatDataZlibReadsCosts)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer keeps freed blocks resident";
#endif
    // Freed large blocks go back to the system: the second picture starts afresh.
    mallopt(M_MMAP_THRESHOLD, 128 << 10);
    // The largest picture at the deepest form: 96 MiB of data in Adam7's passes.
    long peak_kb[2];
    for (bool zlib_refuses : {false, true}) {
        const Bytes png = png_blank(4096, 3072, 16, PNG_RGBA, true, 0, zlib_refuses);
        int w = 0, h = 0;
        const long before = resident_peak_restart_kb();
        uint8_t* pixels = img_decode_rgba(nullptr, png.data(), png.size(), &w, &h);
        peak_kb[zlib_refuses] = resident_peak_kb() - before;
        EXPECT_TRUE(pixels && w == 4096 && h == 3072) << zlib_refuses;
        stbi_image_free(pixels);
    }
    EXPECT_LT(peak_kb[1] - peak_kb[0], 4 << 10) << "kB beyond the peak with data zlib reads";
}

TEST_F(ManifestLoadTest, SdModePlacesPicturesAndFillsTheMusicTable)
{
    write_archive("base.dat",
                  {text_entry("manifest.json",
                              R"({"images":[{"id":12.9,"x":100,"y":50,"vram":3},{"id":-0.5,"y":1}],
                                  "bgm":[{"id":2,"intro":"bgm/a.ogg","loop":"bgm/b.ogg"}]})"),
                   KvrInputEntry{"img/012.png", make_png(4, 2, 12)},
                   KvrInputEntry{"img/000.png", make_png(3, 3, 0)}});
    auto engine = make_engine(0);
    engine->image_slots[5].x = 1234;

    asset_load_manifest(engine.get());

    const ImageSlot& slot = engine->image_slots[12];
    EXPECT_EQ(slot.loaded, 1);
    ASSERT_NE(slot.tex_sd, nullptr);
    EXPECT_EQ(slot.sd_w, 4);
    EXPECT_EQ(slot.sd_h, 2);
    EXPECT_EQ(read_texture(slot.tex_sd, 4, 2)[0], 12);
    EXPECT_EQ(slot.x, 100);
    EXPECT_EQ(slot.y, 100);
    EXPECT_EQ(slot.home_x, 100);
    EXPECT_EQ(slot.home_y, 100);
    EXPECT_EQ(slot.vram, 3);
    EXPECT_EQ(slot.tex_hd, nullptr);
    EXPECT_EQ(slot.hd_loaded, 0);

    const ImageSlot& zero = engine->image_slots[0];
    EXPECT_EQ(zero.loaded, 1);
    EXPECT_EQ(zero.sd_w, 3);
    EXPECT_EQ(zero.x, INT32_MIN);  // no "x"
    EXPECT_EQ(zero.y, 2);
    EXPECT_EQ(zero.vram, INT32_MIN);

    EXPECT_EQ(engine->image_slots[5].x, 1234);
    EXPECT_EQ(engine->image_slots[5].loaded, 0);

    ASSERT_EQ(g_bgm_track_count, 1);
    const BgmTrack* track = asset_find_bgm_track(2);
    ASSERT_NE(track, nullptr);
    EXPECT_STREQ(track->loop, "bgm/b.ogg");
}

TEST_F(ManifestLoadTest, HdModeDoublesPositionsAndToleratesAMissingHdPicture)
{
    write_archive("base.dat",
                  {text_entry("manifest.json",
                              R"({"images":[{"id":12,"x":100,"y":50},{"id":7,"y":-1}]})"),
                   KvrInputEntry{"img/012.png", make_png(4, 2, 12)},
                   KvrInputEntry{"img/007.png", make_png(2, 2, 7)}});
    write_archive("hd.dat", {KvrInputEntry{"img/hd/012.png", make_png(8, 4, 112)}},
                  ARC_FLAG_HD_ASSETS);
    auto engine = make_engine(1);

    asset_load_manifest(engine.get());

    const ImageSlot& slot = engine->image_slots[12];
    EXPECT_EQ(slot.loaded, 1);
    EXPECT_EQ(slot.sd_w, 4);
    EXPECT_EQ(slot.hd_loaded, 1);
    ASSERT_NE(slot.tex_hd, nullptr);
    EXPECT_EQ(slot.hd_w, 8);
    EXPECT_EQ(slot.hd_h, 4);
    EXPECT_EQ(read_texture(slot.tex_hd, 8, 4)[0], 112);
    EXPECT_EQ(slot.x, 200);
    EXPECT_EQ(slot.y, 200);

    const ImageSlot& sd_only = engine->image_slots[7];
    EXPECT_EQ(sd_only.loaded, 1);
    EXPECT_EQ(sd_only.hd_loaded, 0);
    EXPECT_EQ(sd_only.tex_hd, nullptr);
    EXPECT_EQ(sd_only.x, 0);  // the missing x, doubled with wrap-around
    EXPECT_EQ(sd_only.y, -4);
}

TEST_F(ManifestLoadTest, RepeatedPictureIdTakesTheLaterElement)
{
    write_archive("base.dat",
                  {text_entry("manifest.json",
                              R"({"images":[{"id":3,"x":1,"y":1,"vram":1},{"id":3,"x":2,"y":2,"vram":2}]})"),
                   KvrInputEntry{"img/003.png", make_png(2, 2, 3)}});
    auto engine = make_engine(0);

    asset_load_manifest(engine.get());

    EXPECT_EQ(engine->image_slots[3].x, 2);
    EXPECT_EQ(engine->image_slots[3].y, 4);
    EXPECT_EQ(engine->image_slots[3].vram, 2);
    EXPECT_EQ(read_texture(engine->image_slots[3].tex_sd, 2, 2)[0], 3);
}

// A manifest that does not parse or is longer than the tables could use loads
// nothing and says nothing.
TEST_F(ManifestLoadTest, ManifestThatDoesNotParseOrIsTooLongLoadsNothing)
{
    const std::string listed = R"({"images":[{"id":1}],"bgm":[{"id":1}]})";
    const std::string manifests[] = {listed + std::string(MANIFEST_MAX_BYTES - listed.size(), ' '),
                                     listed + std::string(MANIFEST_MAX_BYTES - listed.size() + 1, ' '),
                                     listed.substr(0, listed.size() - 1)};
    for (const std::string& manifest : manifests) {
        write_archive("base.dat",
                      {text_entry("manifest.json", manifest), KvrInputEntry{"img/001.png", make_png(2, 2, 1)}});
        auto engine = make_engine(0);
        asset_load_manifest(engine.get());
        EXPECT_EQ(engine->image_slots[1].loaded, &manifest == manifests) << manifest.size();
        EXPECT_EQ(g_bgm_track_count, &manifest == manifests) << manifest.size();
        TearDown();
    }
}

// The fatal cases end the process, so they run in a child of their own.
class ManifestLoadDeathTest : public ManifestLoadTest {};

TEST_F(ManifestLoadDeathTest, MissingManifestEndsWithStatusOne)
{
    write_archive("base.dat", {KvrInputEntry{"img/001.png", make_png(2, 2, 1)}});
    auto engine = make_engine(0);
    EXPECT_EXIT(asset_load_manifest(engine.get()), ::testing::ExitedWithCode(1),
                "Kavrel Engine: manifest.json missing from base.dat");
}

TEST_F(ManifestLoadDeathTest, MissingSdPictureEndsWithItsNameEvenWithAnHdVersion)
{
    write_archive("base.dat",
                  {text_entry("manifest.json", R"({"images":[{"id":1},{"id":42}]})"),
                   KvrInputEntry{"img/001.png", make_png(2, 2, 1)}});
    write_archive("hd.dat", {KvrInputEntry{"img/hd/042.png", make_png(4, 4, 42)}}, ARC_FLAG_HD_ASSETS);
    auto engine = make_engine(1);
    EXPECT_EXIT(asset_load_manifest(engine.get()), ::testing::ExitedWithCode(1),
                "Kavrel Engine - Missing Asset: img/042.png");
}
