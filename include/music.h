// Music player: the audio device, tracks made of an intro and a loop, OGG
// Vorbis decoding on SDL's audio thread, and the "[BGM]" trace lines.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct stb_vorbis;

constexpr int32_t BGM_STATE_STOPPED = 0;
constexpr int32_t BGM_STATE_INTRO = 1;
constexpr int32_t BGM_STATE_LOOP = 2;

constexpr int BGM_OUTPUT_RATE = 44100;
constexpr int BGM_OUTPUT_CHANNELS = 2;
constexpr int BGM_OUTPUT_BUFFER_FRAMES = 4096;
constexpr int BGM_BYTES_PER_FRAME = BGM_OUTPUT_CHANNELS * 2;  // signed 16-bit samples

// The player's globals, the only data the main thread shares with the audio
// thread. Invariant: state is BGM_STATE_INTRO only while intro_decoder is set,
// and each decoder is set only together with its OGG bytes, which it reads.
struct BgmState {
    uint32_t device;             // SDL audio device id; 0 while none is open
    std::atomic<uint8_t> muted;  // written without the device lock, read once per callback pass
    uint8_t hd_music;            // bgm_play_track tries the HD variant of each file first
    stb_vorbis* intro_decoder;
    stb_vorbis* loop_decoder;
    uint8_t* intro_ogg;  // from bgm_open_ogg; holds intro_decoder's memory too
    uint8_t* loop_ogg;
    int32_t state;  // BGM_STATE_*
};

// The one player. The decoders, their OGG bytes and state change only under
// SDL_LockAudioDevice(device), or inside the callback.
extern BgmState g_bgm;

// Reports a bgm folder beside the game when there is one, then opens SDL's
// default output (44100 Hz, s16, stereo, 4096 frames) and starts it playing
// silence. Without a device it reports SDL's error and the game runs silent.
// Does nothing while a device is already open.
void bgm_init();

// Stops the current track, then plays the manifest track with this id (intro
// once, then the loop for ever). A missing record or a track none of whose
// parts opens is reported and leaves the music stopped. Needs an open device.
void bgm_play_track(uint32_t id);

// Stops and releases the current track. Needs an open device.
void bgm_stop();

// Pauses the device; the track keeps its position. Needs an open device.
void bgm_pause();

// Resumes the device, whatever number of pauses came before. Needs an open device.
void bgm_resume();

// Sets the mute flag (non-zero is on); muted music keeps advancing in silence.
// Works with or without a device.
void bgm_set_mute(uint8_t on);

// Sets whether the next bgm_play_track prefers the HD variants of its files.
// Works with or without a device.
void bgm_set_hd(uint8_t on);

// Stops the track and closes the device; afterwards only the two setters act.
void bgm_shutdown();

// A decoder over the named asset's bytes, which go to *out_ogg; the two are
// released together with bgm_close_ogg. Null (and *out_ogg untouched) when
// the asset is missing, declares more than a music file may hold (it is then
// not read), is not OGG Vorbis, or needs more memory than one decoder is
// given. The decoder's memory is the same for every file: its comments,
// however large, are never read into it.
stb_vorbis* bgm_open_ogg(const char* name, uint8_t** out_ogg);

// The same over len OGG bytes in memory, which it takes over: *ogg must come
// from malloc and is replaced by the block the decoder reads from. That block
// holds the file with its comment header emptied in place (the audio pages
// unchanged) and the decoder's own memory. On failure the bytes are freed and
// *ogg is null.
stb_vorbis* bgm_open_ogg_memory(uint8_t** ogg, size_t len);

// Closes a decoder from bgm_open_ogg and frees its OGG bytes and its memory.
// Either may be null.
void bgm_close_ogg(stb_vorbis* decoder, uint8_t* ogg);

// How many decoders' memory blocks are allocated: one per open decoder.
int bgm_decoder_arenas();

// SDL's audio callback: fills all len bytes of stream with the current track
// (or silence), moving from intro to loop and rewinding the loop. Runs on the
// audio thread under the device lock; allocates nothing and never waits.
void bgm_audio_callback(void* user_data, uint8_t* stream, int len);
