#include <gtest/gtest.h>

#include "../music/bgm_private.h"
#include "archive.h"
#include "kvr_writer.h"
#include "music.h"
#include "ogg_writer.h"
#include "test_support.h"

#include <SDL.h>
#include <ogg/ogg.h>

#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Samples = std::vector<int16_t>;

constexpr int CH = BGM_OUTPUT_CHANNELS;
constexpr double TWO_PI = 6.283185307179586;
constexpr int16_t UNWRITTEN = 0x5A5A;
const char* const REAL_STEREO_OGG = "/usr/share/sounds/freedesktop/stereo/bell.oga";
const char* const REAL_MONO_48K_OGG = "/usr/share/sounds/freedesktop/stereo/audio-channel-front-center.oga";

// An OGG of two sines on its first two channels (the others silent), loud
// from its first frame so a gap or an early cut shows.
Bytes make_tone(size_t frames, double freq_left, double freq_right, int channels = CH, int rate = BGM_OUTPUT_RATE,
                float quality = OGG_WRITER_DEFAULT_QUALITY, const char* comment = nullptr)
{
    Samples pcm(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / rate;
        pcm[i * channels] = static_cast<int16_t>(12000 * std::sin(TWO_PI * freq_left * t + 1.0));
        if (channels >= 2) {
            pcm[i * channels + 1] = static_cast<int16_t>(9000 * std::sin(TWO_PI * freq_right * t + 2.0));
        }
    }
    return ogg_encode_vorbis(pcm.data(), frames, channels, rate, quality, comment);
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
    stb_vorbis* decoder = bgm_open_ogg_memory(out_bytes, ogg.size());
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
    bgm_close_ogg(g_bgm.intro_decoder, g_bgm.intro_ogg);
    bgm_close_ogg(g_bgm.loop_decoder, g_bgm.loop_ogg);
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
    EXPECT_EQ(first_difference(pull(frames), repeat_until(intro, Samples(), frames)), -1);
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
    EXPECT_EQ(first_difference(pull(frames), repeat_until(intro, Samples(), frames)), -1);
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

namespace {

// Runs fn and returns what it printed on standard output.
template <typename Fn>
std::string trace_of(Fn fn)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

void set_track(int index, uint32_t id, const char* intro_name, const char* loop_name)
{
    BgmTrack& track = g_bgm_tracks[index];
    track.id = id;
    snprintf(track.intro, sizeof track.intro, "%s", intro_name);
    snprintf(track.loop, sizeof track.loop, "%s", loop_name);
    if (g_bgm_track_count < index + 1) {
        g_bgm_track_count = index + 1;
    }
}

// Pulls output the way the audio thread would, with the device paused so
// only the test calls the callback.
Samples pull_locked(size_t frames, size_t chunk_frames = BGM_OUTPUT_BUFFER_FRAMES)
{
    SDL_LockAudioDevice(g_bgm.device);
    Samples out = pull(frames, chunk_frames);
    SDL_UnlockAudioDevice(g_bgm.device);
    return out;
}

// A game folder with base.dat and hd.dat, the music table, and an open device
// on SDL's dummy driver, paused so the test drives the callback itself.
class MusicPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_player();
        dir.enter();
        intro_ogg = make_tone(3001, 440.0, 660.0);
        loop_ogg = make_tone(5003, 523.0, 784.0);
        hd_loop_ogg = make_tone(4001, 350.0, 1200.0);
        intro = decode_whole(intro_ogg);
        loop = decode_whole(loop_ogg);
        hd_loop = decode_whole(hd_loop_ogg);

        KvrArchiveSpec base;
        base.entries = {
            {"bgm/intro.ogg", intro_ogg, false},
            {"bgm/loop.ogg", loop_ogg, true},
            {"bgm/broken.ogg", Bytes(4000, 0x4F), false},
            {"plain.ogg", intro_ogg, false},
        };
        KvrArchiveSpec hd;
        hd.flags = ARC_FLAG_HD_ASSETS;
        hd.entries = {{"hd/loop.ogg", hd_loop_ogg, false}, {"hd/plain.ogg", loop_ogg, false}};
        ASSERT_TRUE(kvr_write_file("base.dat", kvr_build_archive(base)));
        ASSERT_TRUE(kvr_write_file("hd.dat", kvr_build_archive(hd)));
        arc_open_base_and_hd();
        ASSERT_TRUE(arc_base_loaded());

        g_bgm_track_count = 0;
        set_track(0, 1, "bgm/intro.ogg", "bgm/loop.ogg");
        set_track(1, 2, "", "bgm/loop.ogg");
        set_track(2, 3, "bgm/intro.ogg", "");
        set_track(3, 4, "bgm/missing.ogg", "bgm/broken.ogg");
        set_track(4, 5, "plain.ogg", "");
        set_track(5, 6, "bgm/broken.ogg", "bgm/loop.ogg");

        setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();
        trace_of([] {
            bgm_set_hd(0);
            bgm_set_mute(0);
            bgm_init();
            bgm_pause();
        });
        ASSERT_NE(g_bgm.device, 0u);
    }
    void TearDown() override
    {
        trace_of([] {
            bgm_shutdown();
            bgm_set_hd(0);
            bgm_set_mute(0);
        });
        SDL_Quit();
        arc_close(&g_arc_base);
        arc_close(&g_arc_hd);
        g_bgm_track_count = 0;
    }

    ScratchDir dir;
    Bytes intro_ogg;
    Bytes loop_ogg;
    Bytes hd_loop_ogg;
    Samples intro;
    Samples loop;
    Samples hd_loop;
};

}  // namespace

TEST_F(MusicPlayerTest, TrackFromTheArchivesPlaysIntroThenLoop)
{
    EXPECT_EQ(trace_of([] { bgm_play_track(1); }), "[BGM] Track 1 -- intro: [SD ]  loop: [SD ]\n");
    EXPECT_EQ(g_bgm.state, BGM_STATE_INTRO);
    size_t frames = 3 * BGM_OUTPUT_BUFFER_FRAMES;
    EXPECT_EQ(first_difference(pull_locked(frames), repeat_until(intro, loop, frames)), -1);
}

TEST_F(MusicPlayerTest, HdModePrefersEachPartsHdVariantSeparately)
{
    trace_of([] { bgm_set_hd(1); });
    set_track(6, 7, "bgm/loop.ogg", "bgm/intro.ogg");
    EXPECT_EQ(trace_of([] { bgm_play_track(7); }), "[BGM] Track 7 -- intro: [HD ]  loop: [SD ]\n");
    EXPECT_EQ(trace_of([] { bgm_play_track(1); }), "[BGM] Track 1 -- intro: [SD ]  loop: [HD ]\n");
    size_t frames = 3 * BGM_OUTPUT_BUFFER_FRAMES;
    EXPECT_EQ(first_difference(pull_locked(frames), repeat_until(intro, hd_loop, frames)), -1);

    trace_of([] { bgm_set_hd(0); });
    EXPECT_EQ(trace_of([] { bgm_play_track(1); }), "[BGM] Track 1 -- intro: [SD ]  loop: [SD ]\n");
    EXPECT_EQ(first_difference(pull_locked(frames), repeat_until(intro, loop, frames)), -1);
}

TEST_F(MusicPlayerTest, NameWithoutFolderHasNoHdVariant)
{
    // hd.dat holds hd/plain.ogg, but "plain.ogg" has no folder to put "hd" in.
    trace_of([] { bgm_set_hd(1); });
    EXPECT_EQ(trace_of([] { bgm_play_track(5); }), "[BGM] Track 5 -- intro: [SD ]  loop: none\n");
    EXPECT_EQ(first_difference(pull_locked(BGM_OUTPUT_BUFFER_FRAMES),
                               repeat_until(intro, Samples(), BGM_OUTPUT_BUFFER_FRAMES)),
              -1);
}

TEST_F(MusicPlayerTest, EmptyIntroPlaysTheLoopFromItsStart)
{
    EXPECT_EQ(trace_of([] { bgm_play_track(2); }), "[BGM] Track 2 -- intro: none  loop: [SD ]\n");
    EXPECT_EQ(g_bgm.state, BGM_STATE_LOOP);
    size_t frames = 2 * BGM_OUTPUT_BUFFER_FRAMES;
    EXPECT_EQ(first_difference(pull_locked(frames), repeat_until(Samples(), loop, frames)), -1);
}

TEST_F(MusicPlayerTest, UndecodablePartIsLeftOutAndTheOtherPlays)
{
    EXPECT_EQ(trace_of([] { bgm_play_track(6); }), "[BGM] Track 6 -- intro: none  loop: [SD ]\n");
    EXPECT_EQ(first_difference(pull_locked(BGM_OUTPUT_BUFFER_FRAMES),
                               repeat_until(Samples(), loop, BGM_OUTPUT_BUFFER_FRAMES)),
              -1);
}

TEST_F(MusicPlayerTest, IntroOnlyTrackFallsSilentAndPlaysAgainWhenAskedAgain)
{
    trace_of([] { bgm_play_track(3); });
    size_t frames = 2 * BGM_OUTPUT_BUFFER_FRAMES;
    Samples want = repeat_until(intro, Samples(), frames);
    EXPECT_EQ(first_difference(pull_locked(frames), want), -1);
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);

    trace_of([] { bgm_play_track(3); });
    EXPECT_EQ(first_difference(pull_locked(frames), want), -1);
}

TEST_F(MusicPlayerTest, FailedTrackReportsAndLeavesThePreviousOneSilent)
{
    trace_of([] { bgm_play_track(1); });
    pull_locked(1000);
    EXPECT_EQ(trace_of([] { bgm_play_track(99); }), "[BGM] FATAL: no manifest entry for track 99\n");
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);
    EXPECT_TRUE(all_silent(pull_locked(BGM_OUTPUT_BUFFER_FRAMES)));

    trace_of([] { bgm_play_track(1); });
    EXPECT_EQ(trace_of([] { bgm_play_track(4); }), "[BGM] FATAL: no BGM files found for track 4\n");
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);
    EXPECT_EQ(g_bgm.intro_decoder, nullptr);
    EXPECT_EQ(g_bgm.loop_decoder, nullptr);
    EXPECT_TRUE(all_silent(pull_locked(BGM_OUTPUT_BUFFER_FRAMES)));

    // Ids are printed as the signed numbers the scenario uses.
    EXPECT_EQ(trace_of([] { bgm_play_track(0xFFFFFFFFu); }), "[BGM] FATAL: no manifest entry for track -1\n");
}

TEST_F(MusicPlayerTest, StopSilencesAndReleasesTheTrack)
{
    trace_of([] {
        bgm_play_track(1);
        bgm_play_track(6);
        bgm_play_track(1);
    });
    EXPECT_EQ(bgm_decoder_arenas(), 2);
    EXPECT_EQ(trace_of([] { bgm_stop(); }), "[BGM] Stopped\n");
    EXPECT_EQ(bgm_decoder_arenas(), 0);
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);
    EXPECT_EQ(g_bgm.intro_ogg, nullptr);
    EXPECT_EQ(g_bgm.loop_ogg, nullptr);
    EXPECT_TRUE(all_silent(pull_locked(BGM_OUTPUT_BUFFER_FRAMES)));
}

TEST_F(MusicPlayerTest, MuteAndUnmuteResumeWhereTheMusicHasGot)
{
    trace_of([] { bgm_play_track(1); });
    size_t total = 4 * BGM_OUTPUT_BUFFER_FRAMES;
    Samples want = repeat_until(intro, loop, total);
    pull_locked(BGM_OUTPUT_BUFFER_FRAMES);
    EXPECT_EQ(trace_of([] { bgm_set_mute(7); }), "[BGM] Mute: ON\n");
    EXPECT_TRUE(all_silent(pull_locked(BGM_OUTPUT_BUFFER_FRAMES)));
    EXPECT_EQ(trace_of([] { bgm_set_mute(0); }), "[BGM] Mute: OFF\n");
    Samples after = pull_locked(BGM_OUTPUT_BUFFER_FRAMES);
    EXPECT_EQ(first_difference(after, Samples(want.begin() + 2 * BGM_OUTPUT_BUFFER_FRAMES * CH,
                                              want.begin() + 3 * BGM_OUTPUT_BUFFER_FRAMES * CH)),
              -1);
}

TEST_F(MusicPlayerTest, OneResumeUndoesAnyNumberOfPauses)
{
    EXPECT_EQ(trace_of([] {
                  bgm_pause();
                  bgm_pause();
              }),
              "[BGM] Paused\n[BGM] Paused\n");
    EXPECT_EQ(SDL_GetAudioDeviceStatus(g_bgm.device), SDL_AUDIO_PAUSED);
    EXPECT_EQ(trace_of([] { bgm_resume(); }), "[BGM] Resumed\n");
    EXPECT_EQ(SDL_GetAudioDeviceStatus(g_bgm.device), SDL_AUDIO_PLAYING);
}

TEST_F(MusicPlayerTest, AfterShutdownOnlyTheSettersAct)
{
    trace_of([] { bgm_play_track(1); });
    EXPECT_EQ(trace_of([] { bgm_shutdown(); }), "[BGM] Stopped\n[BGM] Shutdown\n");
    EXPECT_EQ(g_bgm.device, 0u);
    EXPECT_EQ(g_bgm.intro_decoder, nullptr);

    std::string quiet = trace_of([] {
        bgm_play_track(1);
        bgm_stop();
        bgm_pause();
        bgm_resume();
        bgm_shutdown();
    });
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(g_bgm.state, BGM_STATE_STOPPED);
    EXPECT_EQ(trace_of([] {
                  bgm_set_mute(1);
                  bgm_set_hd(1);
              }),
              "[BGM] Mute: ON\n[BGM] HD mode: ON\n");
    EXPECT_EQ(g_bgm.muted, 1);
    EXPECT_EQ(g_bgm.hd_music, 1);
}

TEST_F(MusicPlayerTest, OpenOggHandsBackTheFileBytesOrNothing)
{
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&dir);
    EXPECT_EQ(bgm_open_ogg("bgm/missing.ogg", &bytes), nullptr);
    EXPECT_EQ(bgm_open_ogg("bgm/broken.ogg", &bytes), nullptr);
    EXPECT_EQ(bytes, reinterpret_cast<uint8_t*>(&dir));

    stb_vorbis* decoder = bgm_open_ogg("bgm/loop.ogg", &bytes);
    ASSERT_NE(decoder, nullptr);
    size_t tail = loop_ogg.size() / 2;  // past the header pages, which are rewritten in place
    EXPECT_EQ(Bytes(bytes + tail, bytes + loop_ogg.size()), Bytes(loop_ogg.begin() + tail, loop_ogg.end()));
    bgm_close_ogg(decoder, bytes);
}

namespace {

// The OGG with a 32-bit field of its comment header replaced: field 0 is the
// vendor length, field 1 the comment count.
Bytes with_comment_field(Bytes ogg, int field, uint32_t value)
{
    const uint8_t signature[] = {3, 'v', 'o', 'r', 'b', 'i', 's'};
    auto at = std::search(ogg.begin(), ogg.end(), std::begin(signature), std::end(signature));
    size_t pos = static_cast<size_t>(at - ogg.begin()) + sizeof signature;
    if (field == 1) {
        uint32_t vendor_len = ogg[pos] | ogg[pos + 1] << 8 | ogg[pos + 2] << 16 | static_cast<uint32_t>(ogg[pos + 3]) << 24;
        pos += 4 + vendor_len;
    }
    for (int i = 0; i < 4; ++i) {
        ogg[pos + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return ogg;
}

std::string regression_input(const char* name)
{
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/../fuzz/regressions/fuzz_music/" + name;
}

}  // namespace

// The encoder that makes the fixtures loses a block each time it sets up a
// 5.1 file.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:vorbis_encode_setup_init\n";
}

namespace {

// Every frame the decoder gives from where it stands, then again after a rewind.
Samples decode_twice(stb_vorbis* decoder)
{
    Samples out;
    for (int pass = 0; pass < 2; ++pass) {
        Samples chunk(BGM_OUTPUT_BUFFER_FRAMES * CH);
        int got = 0;
        while ((got = stb_vorbis_get_samples_short_interleaved(decoder, CH, chunk.data(), static_cast<int>(chunk.size()))) > 0) {
            out.insert(out.end(), chunk.begin(), chunk.begin() + got * CH);
        }
        stb_vorbis_seek_start(decoder);
    }
    return out;
}

// A file that passes the header check has its comments dropped onto a page any
// reader takes: a packet starts on it, and its checksum (libogg's) covers it
// as far as the file goes, not the bytes that follow the file in memory.
void expect_comment_page_sound(Bytes file, const std::string& name)
{
    const size_t len = file.size();
    file.resize(len + (1 << 16), 0x5A);
    OggHeaderLayout layout{};
    if (!bgm_check_headers(file.data(), len, &layout))
        return;
    uint8_t* page = file.data() + bgm_drop_comments(file.data(), layout) + layout.id_page_size;
    const long head = static_cast<long>(OGG_PAGE_HEADER_SIZE) + page[OGG_SEGMENT_COUNT_OFFSET];
    const long body = std::accumulate(page + OGG_PAGE_HEADER_SIZE, page + head, 0L);
    ogg_page as_read{page, head, page + head, std::min(body, static_cast<long>(file.data() + len - page) - head)};
    const Bytes checksum(page + OGG_CRC_OFFSET, page + OGG_CRC_OFFSET + 4);
    ogg_page_checksum_set(&as_read);
    EXPECT_EQ(Bytes(page + OGG_CRC_OFFSET, page + OGG_CRC_OFFSET + 4), checksum) << name;
    EXPECT_FALSE(ogg_page_continued(&as_read)) << name;
}

}  // namespace

TEST(MusicOpenTest, HostileHeadersAreRefusedAndValidFilesDecodeAsBefore)
{
    Bytes good = make_tone(2000, 440.0, 660.0);
    // The encoder's largest tables (top quality, 5.1) and longest windows, a
    // comment longer than the decoder's own memory limit, and one of 255
    // lacing values that ends with its page, so the setup header opens the next.
    const std::string long_comment(2 << 20, 'c');
    const size_t comment_length_at = 28 + 30 + 27;  // past the identification page and the next page's header
    Bytes empty_comment = make_tone(10, 440.0, 660.0, CH, BGM_OUTPUT_RATE, OGG_WRITER_DEFAULT_QUALITY, "");
    const std::string page_comment(254 * 255 + 1 - empty_comment[comment_length_at], 'c');
    std::vector<std::pair<std::string, Bytes>> valid = {
        {"bgm/good.ogg", good},
        {"bgm/real.oga", read_file(REAL_STEREO_OGG)},
        {"bgm/top_quality.ogg", make_tone(5000, 440.0, 660.0, CH, BGM_OUTPUT_RATE, 1.0f)},
        {"bgm/surround.ogg", make_tone(5000, 440.0, 660.0, 6, BGM_OUTPUT_RATE, 1.0f)},
        {"bgm/long_windows.ogg", make_tone(5000, 440.0, 660.0, CH, BGM_OUTPUT_RATE, -0.1f)},
        {"bgm/long_comment.ogg",
         make_tone(2000, 440.0, 660.0, CH, BGM_OUTPUT_RATE, OGG_WRITER_DEFAULT_QUALITY, long_comment.c_str())},
        {"bgm/page_comment.ogg",
         make_tone(2000, 440.0, 660.0, CH, BGM_OUTPUT_RATE, OGG_WRITER_DEFAULT_QUALITY, page_comment.c_str())},
    };
    std::vector<std::pair<std::string, Bytes>> refused = {
        {"bgm/negative_vendor.ogg", with_comment_field(good, 0, 0xFFFFFFFFu)},
        {"bgm/long_vendor.ogg", with_comment_field(good, 0, 0x7FFFFFF0u)},
        {"bgm/many_comments.ogg", with_comment_field(good, 1, 0x40000000u)},
        {"bgm/cut.ogg", Bytes(good.begin(), good.begin() + 70)},
    };
    for (const char* name : {"comment-count-overruns-packet.ogg", "decoder-leaks-on-bad-codebook.ogg",
                             "sparse-codebook-of-16m-entries.ogg", "codebook-tables-take-200-mb.ogg",
                             "codebook-value-table-size-wraps-to-zero.ogg", "setup-page-cut-short-after-the-setup.ogg",
                             "codebook-value-table-size-wraps-negative.ogg", "residue-scratch-outgrows-arena.ogg"}) {
        refused.push_back({std::string("bgm/") + name, read_file(regression_input(name))});
    }
    KvrArchiveSpec base;
    for (const auto* files : {&valid, &refused}) {
        for (const auto& [name, bytes] : *files) {
            ASSERT_FALSE(bytes.empty()) << name;
            base.entries.push_back({name, bytes, false});
            expect_comment_page_sound(bytes, name);
        }
    }
    ScratchDir dir;  // entered only now: the regression inputs are found from this source file's path
    dir.enter();
    ASSERT_TRUE(kvr_write_file("base.dat", kvr_build_archive(base)));
    arc_open_base_and_hd();

    for (const auto& [name, bytes] : valid) {
        uint8_t* block = nullptr;
        stb_vorbis* decoder = bgm_open_ogg(name.c_str(), &block);
        ASSERT_NE(decoder, nullptr) << name;
        EXPECT_EQ(bgm_decoder_arenas(), 1) << name;
        stb_vorbis* on_its_own = stb_vorbis_open_memory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
        EXPECT_EQ(first_difference(decode_twice(decoder), decode_twice(on_its_own)), -1) << name;
        stb_vorbis_close(on_its_own);
        bgm_close_ogg(decoder, block);
    }
    for (const auto& [name, bytes] : refused) {
        uint8_t* block = nullptr;
        EXPECT_EQ(bgm_open_ogg(name.c_str(), &block), nullptr) << name;
        EXPECT_EQ(block, nullptr) << name;
        EXPECT_EQ(bgm_decoder_arenas(), 0) << name;
    }
    arc_close(&g_arc_base);
}

TEST(MusicOpenTest, CoverArtSizedCommentCostsNoMemoryBeyondTheFile)
{
    const size_t comment_len = 100u << 20;
    Bytes ogg = make_tone(2000, 440.0, 660.0, CH, BGM_OUTPUT_RATE, OGG_WRITER_DEFAULT_QUALITY,
                          std::string(comment_len, 'c').c_str());
    uint8_t* bytes = static_cast<uint8_t*>(malloc(ogg.size()));
    memcpy(bytes, ogg.data(), ogg.size());
    const long before = resident_peak_restart_kb();
    stb_vorbis* decoder = bgm_open_ogg_memory(&bytes, ogg.size());
    ASSERT_NE(decoder, nullptr);
    Samples played = decode_twice(decoder);
    bgm_close_ogg(decoder, bytes);
    EXPECT_LT(resident_peak_kb() - before, static_cast<long>(comment_len / 5 / 1024)) << "kB beyond the file";
    stb_vorbis* plain = open_copy(make_tone(2000, 440.0, 660.0), &bytes);
    EXPECT_EQ(first_difference(played, decode_twice(plain)), -1);
    bgm_close_ogg(plain, bytes);
}

TEST(MusicDeviceTest, InitOpensTheFixedFormatAndReportsTheMusicFolder)
{
    clear_player();
    ScratchDir dir;
    dir.enter();
    write_file(dir.file("bgm/bgm5_intro.ogg"), Bytes{1});
    write_file(dir.file("assets/bgm/bgm5_intro.ogg"), Bytes{1});
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();
    std::string trace = trace_of([] { bgm_init(); });
    EXPECT_EQ(trace, "[BGM] Found bgm directory at: assets/bgm\n"
                     "[BGM] Audio device opened: 44100 Hz, 2 ch, 4096 samples\n");
    EXPECT_EQ(SDL_GetAudioDeviceStatus(g_bgm.device), SDL_AUDIO_PLAYING);
    // A second init keeps the device it has.
    uint32_t device = g_bgm.device;
    EXPECT_EQ(trace_of([] { bgm_init(); }), "");
    EXPECT_EQ(g_bgm.device, device);
    trace_of([] { bgm_shutdown(); });
    SDL_Quit();
}

TEST(MusicDeviceTest, WithoutAudioTheGameGoesOnSilently)
{
    clear_player();
    ScratchDir dir;
    dir.enter();
    std::string trace = trace_of([] { bgm_init(); });
    EXPECT_EQ(trace.rfind("[BGM] Failed to open audio device: ", 0), 0u) << trace;
    EXPECT_EQ(g_bgm.device, 0u);
    EXPECT_EQ(trace_of([] {
                  bgm_play_track(1);
                  bgm_pause();
                  bgm_shutdown();
              }),
              "");
}

namespace {

// base.dat with a two-part track 1, a loop-only track 2 and an intro-only track 3.
void write_game_with_tracks(const Bytes& intro_ogg, const Bytes& loop_ogg)
{
    KvrArchiveSpec base;
    base.entries = {{"bgm/intro.ogg", intro_ogg, false}, {"bgm/loop.ogg", loop_ogg, false}};
    ASSERT_TRUE(kvr_write_file("base.dat", kvr_build_archive(base)));
    arc_open_base_and_hd();
    g_bgm_track_count = 0;
    set_track(0, 1, "bgm/intro.ogg", "bgm/loop.ogg");
    set_track(1, 2, "", "bgm/loop.ogg");
    set_track(2, 3, "bgm/intro.ogg", "");
}

void close_game()
{
    arc_close(&g_arc_base);
    arc_close(&g_arc_hd);
    g_bgm_track_count = 0;
}

}  // namespace

TEST(MusicDeviceTest, DiskDriverWritesTheDecodedMusic)
{
    clear_player();
    ScratchDir dir;
    dir.enter();
    Bytes intro_ogg = make_tone(3001, 440.0, 660.0);
    Bytes loop_ogg = make_tone(5003, 523.0, 784.0);
    write_game_with_tracks(intro_ogg, loop_ogg);
    Samples intro = decode_whole(intro_ogg);
    Samples loop = decode_whole(loop_ogg);

    // A short delay per buffer makes the driver write far faster than real time.
    const std::string raw = dir.file("out.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "5", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();
    trace_of([] {
        bgm_init();
        bgm_play_track(1);
    });
    ASSERT_NE(g_bgm.device, 0u);

    const size_t buffer_bytes = BGM_OUTPUT_BUFFER_FRAMES * BGM_BYTES_PER_FRAME;
    const size_t wanted_bytes = 12 * buffer_bytes;
    // Silence comes first, for as long as the busy machine takes to install the track.
    auto music_bytes = [&raw] {
        Bytes b = read_file(raw);
        return static_cast<size_t>(b.end() - std::find_if(b.begin(), b.end(), [](uint8_t x) { return x != 0; }));
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (music_bytes() < wanted_bytes && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    trace_of([] { bgm_shutdown(); });
    SDL_Quit();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("SDL_DISKAUDIODELAY");
    close_game();

    Bytes bytes = read_file(raw);
    ASSERT_GE(bytes.size(), wanted_bytes);
    Samples written(bytes.size() / sizeof(int16_t));
    memcpy(written.data(), bytes.data(), written.size() * sizeof(int16_t));

    // The device plays silence until the track is installed between two buffers.
    const size_t buffer_samples = BGM_OUTPUT_BUFFER_FRAMES * CH;
    size_t start = 0;
    while (start < written.size() && written[start] == 0) {
        ++start;
    }
    size_t music_start = start / buffer_samples * buffer_samples;
    // It writes silence again from the stop until the device closes.
    size_t frames = wanted_bytes / BGM_BYTES_PER_FRAME;
    ASSERT_LE(music_start + frames * CH, written.size());
    Samples music(written.begin() + static_cast<long>(music_start),
                  written.begin() + static_cast<long>(music_start + frames * CH));
    EXPECT_EQ(first_difference(music, repeat_until(intro, loop, frames)), -1);
}

TEST(MusicDeviceTest, PlayingStoppingAndSwitchingWhileTheDeviceRunsIsSafe)
{
    clear_player();
    ScratchDir dir;
    dir.enter();
    write_game_with_tracks(make_tone(600, 440.0, 660.0), make_tone(1500, 523.0, 784.0));
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();

    bool reached_loop = false;
    trace_of([&reached_loop] {
        bgm_init();
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        for (uint32_t round = 0; std::chrono::steady_clock::now() < until; ++round) {
            bgm_play_track(1 + round % 3);
            std::this_thread::sleep_for(std::chrono::milliseconds(1 + round % 7));
            bgm_set_mute(static_cast<uint8_t>(round % 5 == 0));
            if (round % 4 == 0) {
                bgm_stop();
            }
            if (round % 11 == 0) {
                bgm_pause();
                bgm_resume();
            }
            // The audio thread moves the intro on to the loop by itself.
            bgm_play_track(1);
            bgm_set_mute(0);
            auto wait_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
            while (!reached_loop && std::chrono::steady_clock::now() < wait_until) {
                SDL_LockAudioDevice(g_bgm.device);
                reached_loop = g_bgm.state == BGM_STATE_LOOP;
                SDL_UnlockAudioDevice(g_bgm.device);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        bgm_shutdown();
    });
    SDL_Quit();
    close_game();
    EXPECT_TRUE(reached_loop);
    EXPECT_EQ(g_bgm.device, 0u);
    EXPECT_EQ(g_bgm.intro_decoder, nullptr);
    EXPECT_EQ(g_bgm.loop_decoder, nullptr);
}
