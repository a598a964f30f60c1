// The audio callback: decodes the current track straight into SDL's buffer on
// the audio thread.
#include "music.h"

#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include <cstring>

namespace {

// Muted decoding goes through a scratch buffer of one device buffer's size,
// kept on the audio thread's stack so the callback never allocates.
constexpr int BGM_SCRATCH_FRAMES = BGM_OUTPUT_BUFFER_FRAMES;

void write_silence(int16_t* out, int frames)
{
    memset(out, 0, static_cast<size_t>(frames) * BGM_BYTES_PER_FRAME);
}

// Frames decoded into out (interleaved stereo), at most `frames`; 0 at the end
// of the part or on a decoding error.
int decode_frames(stb_vorbis* decoder, int16_t* out, int frames)
{
    return stb_vorbis_get_samples_short_interleaved(decoder, BGM_OUTPUT_CHANNELS, out,
                                                     frames * BGM_OUTPUT_CHANNELS);
}

}  // namespace

void bgm_audio_callback(void* user_data, uint8_t* stream, int len)
{
    (void)user_data;
    if (stream == nullptr || len <= 0) {
        return;
    }
    int frames = len / BGM_BYTES_PER_FRAME;
    // SDL hands whole frames; any stray tail bytes still get silence.
    memset(stream + frames * BGM_BYTES_PER_FRAME, 0, static_cast<size_t>(len % BGM_BYTES_PER_FRAME));
    int16_t* output = reinterpret_cast<int16_t*>(stream);

    int done = 0;
    bool loop_just_rewound = false;
    while (done < frames) {
        int16_t* out = output + done * BGM_OUTPUT_CHANNELS;
        int remaining = frames - done;
        if (g_bgm.state == BGM_STATE_STOPPED) {
            write_silence(out, remaining);
            return;
        }
        stb_vorbis* decoder = g_bgm.state == BGM_STATE_INTRO ? g_bgm.intro_decoder : g_bgm.loop_decoder;

        if (g_bgm.muted.load(std::memory_order_relaxed) && decoder != nullptr) {
            int16_t scratch[BGM_SCRATCH_FRAMES * BGM_OUTPUT_CHANNELS];
            int wanted = remaining < BGM_SCRATCH_FRAMES ? remaining : BGM_SCRATCH_FRAMES;
            int got = decode_frames(decoder, scratch, wanted);
            if (got > 0) {
                write_silence(out, got);
                done += got;
                loop_just_rewound = false;
                continue;
            }
        }
        if (decoder == nullptr) {
            write_silence(out, remaining);
            g_bgm.state = BGM_STATE_STOPPED;
            return;
        }

        int got = decode_frames(decoder, out, remaining);
        if (got > 0) {
            done += got;
            loop_just_rewound = false;
            continue;
        }
        // A loop that gives nothing straight after a rewind holds no audio;
        // rewinding it again would spin here for ever.
        if (loop_just_rewound) {
            write_silence(out, remaining);
            g_bgm.state = BGM_STATE_STOPPED;
            return;
        }
        if (g_bgm.state == BGM_STATE_INTRO) {
            g_bgm.state = BGM_STATE_LOOP;
        }
        if (g_bgm.loop_decoder != nullptr) {
            stb_vorbis_seek_start(g_bgm.loop_decoder);
            loop_just_rewound = true;
        }
    }
}
