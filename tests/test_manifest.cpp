#include <gtest/gtest.h>

#include "archive.h"
#include "engine.h"
#include "kvr_writer.h"
#include "stb_compress.h"
#include "test_support.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>
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
