#include <gtest/gtest.h>

#include "music.h"
#include "ogg_writer.h"
#include "test_support.h"

#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Samples = std::vector<int16_t>;

constexpr int CH = BGM_OUTPUT_CHANNELS;
constexpr double TWO_PI = 6.283185307179586;
constexpr int16_t UNWRITTEN = 0x5A5A;
const char* const REAL_STEREO_OGG = "/usr/share/sounds/freedesktop/stereo/bell.oga";
const char* const REAL_MONO_48K_OGG = "/usr/share/sounds/freedesktop/stereo/audio-channel-front-center.oga";

// A stereo (or mono) OGG of two sines, loud from its first frame so a gap or
// an early cut shows.
Bytes make_tone(size_t frames, double freq_left, double freq_right, int channels = CH, int rate = BGM_OUTPUT_RATE)
{
    Samples pcm(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / rate;
        pcm[i * channels] = static_cast<int16_t>(12000 * std::sin(TWO_PI * freq_left * t + 1.0));
        if (channels == 2) {
            pcm[i * channels + 1] = static_cast<int16_t>(9000 * std::sin(TWO_PI * freq_right * t + 2.0));
        }
    }
    return ogg_encode_vorbis(pcm.data(), frames, channels, rate);
}

// The whole file decoded independently, as stereo (mono doubled onto both sides).
Samples decode_whole(const Bytes& ogg)
{
    int channels = 0;
    int rate = 0;
    short* data = nullptr;
    int frames = stb_vorbis_decode_memory(ogg.data(), static_cast<int>(ogg.size()), &channels, &rate, &data);
    Samples out;
    if (frames < 0) {
        return out;
    }
    for (int i = 0; i < frames; ++i) {
        out.push_back(data[i * channels]);
        out.push_back(data[i * channels + (channels > 1 ? 1 : 0)]);
    }
    free(data);
    return out;
}

Samples repeat_until(const Samples& head, const Samples& cycle, size_t frames)
{
    Samples out(head);
    while (out.size() < frames * CH && !cycle.empty()) {
        out.insert(out.end(), cycle.begin(), cycle.end());
    }
    out.resize(frames * CH, 0);
    return out;
}

stb_vorbis* open_copy(const Bytes& ogg, uint8_t** out_bytes)
{
    *out_bytes = static_cast<uint8_t*>(malloc(ogg.size()));
    memcpy(*out_bytes, ogg.data(), ogg.size());
    stb_vorbis* decoder = stb_vorbis_open_memory(*out_bytes, static_cast<int>(ogg.size()), nullptr, nullptr);
    EXPECT_NE(decoder, nullptr);
    return decoder;
}

// Puts a track in place the way the player installs one, without a device.
void install_track(const Bytes* intro, const Bytes* loop)
{
    if (intro != nullptr) {
        g_bgm.intro_decoder = open_copy(*intro, &g_bgm.intro_ogg);
    }
    if (loop != nullptr) {
        g_bgm.loop_decoder = open_copy(*loop, &g_bgm.loop_ogg);
    }
    g_bgm.state = intro != nullptr ? BGM_STATE_INTRO : BGM_STATE_LOOP;
}

void clear_player()
{
    if (g_bgm.intro_decoder != nullptr) {
        stb_vorbis_close(g_bgm.intro_decoder);
    }
    if (g_bgm.loop_decoder != nullptr) {
        stb_vorbis_close(g_bgm.loop_decoder);
    }
    free(g_bgm.intro_ogg);
    free(g_bgm.loop_ogg);
    g_bgm.intro_decoder = nullptr;
    g_bgm.loop_decoder = nullptr;
    g_bgm.intro_ogg = nullptr;
    g_bgm.loop_ogg = nullptr;
    g_bgm.state = BGM_STATE_STOPPED;
    g_bgm.muted = 0;
}

// Runs the callback over `frames` frames in calls of chunk_frames each
// (the last may be shorter); every byte starts out as a marker, so a frame
// the callback forgot shows.
Samples pull(size_t frames, size_t chunk_frames = BGM_OUTPUT_BUFFER_FRAMES)
{
    Samples out;
    while (out.size() < frames * CH) {
        size_t n = std::min(chunk_frames, frames - out.size() / CH);
        Samples buffer(n * CH, UNWRITTEN);
        bgm_audio_callback(nullptr, reinterpret_cast<uint8_t*>(buffer.data()), static_cast<int>(n * BGM_BYTES_PER_FRAME));
        out.insert(out.end(), buffer.begin(), buffer.end());
    }
    return out;
}

// First differing frame, or -1, so a failure says where the music went wrong.
long first_difference(const Samples& got, const Samples& want)
{
    size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i) {
        if (got[i] != want[i]) {
            return static_cast<long>(i / CH);
        }
    }
    return got.size() == want.size() ? -1 : static_cast<long>(n / CH);
}

bool all_silent(const Samples& s, size_t from_frame = 0)
{
    for (size_t i = from_frame * CH; i < s.size(); ++i) {
        if (s[i] != 0) {
            return false;
        }
    }
    return true;
}

class MusicCallbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_player();
        intro_ogg = make_tone(3001, 440.0, 660.0);
        loop_ogg = make_tone(5003, 523.0, 784.0);
        intro = decode_whole(intro_ogg);
        loop = decode_whole(loop_ogg);
        ASSERT_GT(intro.size(), 0u);
        ASSERT_GT(loop.size(), 0u);
    }
    void TearDown() override { clear_player(); }

    Bytes intro_ogg;
    Bytes loop_ogg;
    Samples intro;
    Samples loop;
};

}  // namespace

TEST_F(MusicCallbackTest, IntroPlaysOnceThenLoopRepeatsWithoutGap)
{
    install_track(&intro_ogg, &loop_ogg);
    size_t frames = 4 * BGM_OUTPUT_BUFFER_FRAMES;
    Samples got = pull(frames);

    Samples want = repeat_until(intro, loop, frames);
    EXPECT_EQ(first_difference(got, want), -1);
    // The intro ends inside the first buffer, and the loop's first sample follows at once.
    size_t seam = intro.size() / CH;
    ASSERT_LT(seam, static_cast<size_t>(BGM_OUTPUT_BUFFER_FRAMES));
    EXPECT_EQ(got[seam * CH], loop[0]);
    EXPECT_EQ(got[seam * CH + 1], loop[1]);
    EXPECT_EQ(g_bgm.state, BGM_STATE_LOOP);
}

TEST_F(MusicCallbackTest, LoopOnlyTrackRepeatsFromItsStart)
{
    install_track(nullptr, &loop_ogg);
    size_t frames = 3 * BGM_OUTPUT_BUFFER_FRAMES;
    Samples got = pull(frames);
    EXPECT_EQ(first_difference(got, repeat_until(Samples(), loop, frames)), -1);
    EXPECT_EQ(g_bgm.state, BGM_STATE_LOOP);
}

TEST_F(MusicCallbackTest, IntroOnlyTrackFallsSilentAndStops)
{
    install_track(&intro_ogg, nullptr);
    size_t frames = 2 * BGM_OUTPUT_BUFFER_FRAMES;
    Samples got = pull(frames);
    Samples want = intro;
    want.resize(frames * CH, 0);
    EXPECT_EQ(first_difference(got, want), -1);
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);
    EXPECT_TRUE(all_silent(pull(100)));
}

TEST_F(MusicCallbackTest, LoopWithoutAudioStopsInsteadOfSpinning)
{
    Bytes empty_ogg = ogg_encode_vorbis(nullptr, 0, CH);
    ASSERT_FALSE(empty_ogg.empty());
    ASSERT_TRUE(decode_whole(empty_ogg).empty());

    install_track(&intro_ogg, &empty_ogg);
    size_t frames = BGM_OUTPUT_BUFFER_FRAMES;
    Samples got = pull(frames);
    Samples want = intro;
    want.resize(frames * CH, 0);
    EXPECT_EQ(first_difference(got, want), -1);
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);

    clear_player();
    install_track(nullptr, &empty_ogg);
    EXPECT_TRUE(all_silent(pull(frames)));
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);
}

TEST_F(MusicCallbackTest, StoppedPlayerWritesSilenceOverEveryByte)
{
    Samples got = pull(BGM_OUTPUT_BUFFER_FRAMES);
    EXPECT_TRUE(all_silent(got));

    uint8_t ragged[4 * 3 + 3];
    memset(ragged, 0xA5, sizeof ragged);
    bgm_audio_callback(nullptr, ragged, static_cast<int>(sizeof ragged));
    for (uint8_t byte : ragged) {
        EXPECT_EQ(byte, 0);
    }
}

TEST_F(MusicCallbackTest, MutedTrackIsSilentButKeepsAdvancing)
{
    install_track(&intro_ogg, &loop_ogg);
    size_t total = 4 * BGM_OUTPUT_BUFFER_FRAMES;
    Samples want = repeat_until(intro, loop, total);

    Samples before = pull(1000);
    g_bgm.muted = 1;
    // One call longer than the muted scratch buffer, across the intro's end.
    Samples muted = pull(6000, 6000);
    g_bgm.muted = 0;
    Samples after = pull(total - 7000);

    EXPECT_EQ(first_difference(before, Samples(want.begin(), want.begin() + 1000 * CH)), -1);
    EXPECT_TRUE(all_silent(muted));
    EXPECT_EQ(first_difference(after, Samples(want.begin() + 7000 * CH, want.end())), -1);
    EXPECT_EQ(g_bgm.state, BGM_STATE_LOOP);
}

TEST_F(MusicCallbackTest, MutedIntroOnlyTrackStopsAtItsEnd)
{
    install_track(&intro_ogg, nullptr);
    g_bgm.muted = 1;
    EXPECT_TRUE(all_silent(pull(BGM_OUTPUT_BUFFER_FRAMES)));
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);
}

TEST_F(MusicCallbackTest, BuffersOfAnySizeJoinIntoTheSameMusic)
{
    install_track(&intro_ogg, &loop_ogg);
    size_t total = 20000;
    Samples want = repeat_until(intro, loop, total);
    const size_t sizes[] = {1, 7, 333, 4095, 4097, 2, 5003, 12001};
    Samples got;
    for (size_t i = 0; got.size() < total * CH; ++i) {
        size_t n = std::min(sizes[i % (sizeof sizes / sizeof sizes[0])], total - got.size() / CH);
        Samples part = pull(n, n);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(first_difference(got, want), -1);
}

TEST(MusicRealFileTest, StereoFileMadeElsewhereLoopsSampleForSample)
{
    Bytes bell = read_file(REAL_STEREO_OGG);
    ASSERT_FALSE(bell.empty()) << REAL_STEREO_OGG;
    Samples whole = decode_whole(bell);
    ASSERT_GT(whole.size(), 0u);

    clear_player();
    install_track(nullptr, &bell);
    size_t frames = whole.size() / CH * 2 + 777;
    Samples got = pull(frames);
    clear_player();
    EXPECT_EQ(first_difference(got, repeat_until(Samples(), whole, frames)), -1);
}

TEST(MusicRealFileTest, Mono48kFilePlaysOnBothChannelsWithoutResampling)
{
    Bytes mono = read_file(REAL_MONO_48K_OGG);
    ASSERT_FALSE(mono.empty()) << REAL_MONO_48K_OGG;
    int channels = 0;
    int rate = 0;
    short* data = nullptr;
    int file_frames = stb_vorbis_decode_memory(mono.data(), static_cast<int>(mono.size()), &channels, &rate, &data);
    ASSERT_GT(file_frames, 0);
    ASSERT_EQ(channels, 1);
    ASSERT_EQ(rate, 48000);

    clear_player();
    install_track(&mono, nullptr);
    size_t frames = static_cast<size_t>(file_frames) + BGM_OUTPUT_BUFFER_FRAMES;
    Samples got = pull(frames);
    clear_player();

    // One output frame per file frame: played at 44100, not converted.
    long mismatch = -1;
    for (int i = 0; i < file_frames && mismatch < 0; ++i) {
        if (got[i * CH] != data[i] || got[i * CH + 1] != data[i]) {
            mismatch = i;
        }
    }
    free(data);
    EXPECT_EQ(mismatch, -1);
    EXPECT_TRUE(all_silent(got, static_cast<size_t>(file_frames)));
}
