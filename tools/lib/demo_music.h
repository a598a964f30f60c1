// Composes and renders the demo game's music: two tracks, each an intro that
// plays once and a loop of whole bars that repeats without a seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int DEMO_MUSIC_RATE = 44100;
constexpr int DEMO_MUSIC_CHANNELS = 2;
constexpr int DEMO_MUSIC_TRACK_COUNT = 2;
constexpr float DEMO_MUSIC_SD_QUALITY = 0.4f;
constexpr float DEMO_MUSIC_HD_QUALITY = 0.7f;

enum DemoMusicPart { DEMO_PART_INTRO, DEMO_PART_LOOP };

// The file stem of track 0 ("title") or 1 ("forest"); null for another index.
const char* demo_music_track_name(int track);

// Frames in one part of a track (whole bars at the track's tempo); 0 for a bad track.
size_t demo_music_part_frames(int track, DemoMusicPart part);

// The part as interleaved stereo 16-bit PCM at DEMO_MUSIC_RATE. The loop is
// rendered as one period of its repetition, so sound still ringing at its end
// continues from its start, and the intro ends with the same ringing as the
// loop's last bar, so either join is seamless. hd adds detuned doubles and
// upper harmonics to the voices. Empty for a bad track.
std::vector<int16_t> demo_music_render(int track, DemoMusicPart part, bool hd);

// Writes bgm/<name>_intro.ogg and bgm/<name>_loop.ogg for both tracks, and
// their richer versions under bgm/hd/, into folder. False with a message in
// *error when a file cannot be encoded or written.
bool demo_music_write_all(const std::string& folder, std::string* error);
