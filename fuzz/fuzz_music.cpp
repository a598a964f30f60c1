// Arbitrary bytes as a music file: opened through the archive like a real
// track, then played for one device buffer, plain and muted.
#include "archive.h"
#include "music.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr const char* FUZZ_ASSET_NAME = "bgm/fuzz.ogg";
constexpr size_t KVR_COUNT_OFFSET = 8;
constexpr size_t KVR_ENTRY_SIZE_OFFSET = 56;
constexpr size_t KVR_ENTRY_OFFSET_OFFSET = 60;

void put_u32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Puts a one-entry base.dat image holding the input in place of the archive.
void open_base_with(const uint8_t* data, size_t size)
{
    size_t data_offset = ARC_HEADER_SIZE + ARC_ENTRY_SIZE;
    uint8_t* image = static_cast<uint8_t*>(calloc(data_offset + size + 1, 1));
    memcpy(image, "KVR1", 4);
    put_u32(image + KVR_COUNT_OFFSET, 1);
    uint8_t* entry = image + ARC_HEADER_SIZE;
    memcpy(entry, FUZZ_ASSET_NAME, strlen(FUZZ_ASSET_NAME));
    put_u32(entry + KVR_ENTRY_SIZE_OFFSET, static_cast<uint32_t>(size));
    put_u32(entry + KVR_ENTRY_OFFSET_OFFSET, static_cast<uint32_t>(data_offset));
    if (size > 0) {
        memcpy(image + data_offset, data, size);
    }
    arc_open_image(&g_arc_base, image, data_offset + size);
}

void play_one_buffer(uint8_t muted)
{
    std::vector<int16_t> out(BGM_OUTPUT_BUFFER_FRAMES * BGM_OUTPUT_CHANNELS);
    g_bgm.muted = muted;
    bgm_audio_callback(nullptr, reinterpret_cast<uint8_t*>(out.data()),
                       BGM_OUTPUT_BUFFER_FRAMES * BGM_BYTES_PER_FRAME);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    open_base_with(data, size);
    uint8_t* ogg = nullptr;
    stb_vorbis* decoder = bgm_open_ogg(FUZZ_ASSET_NAME, &ogg);
    if (decoder != nullptr) {
        // A track made of this file as both intro and loop exercises every state.
        g_bgm.intro_decoder = decoder;
        g_bgm.intro_ogg = ogg;
        g_bgm.state = BGM_STATE_INTRO;
        uint8_t* loop_ogg = nullptr;
        g_bgm.loop_decoder = bgm_open_ogg(FUZZ_ASSET_NAME, &loop_ogg);
        g_bgm.loop_ogg = loop_ogg;
        play_one_buffer(0);
        play_one_buffer(1);
        play_one_buffer(0);
        bgm_close_ogg(g_bgm.loop_decoder, g_bgm.loop_ogg);
        bgm_close_ogg(g_bgm.intro_decoder, g_bgm.intro_ogg);
        g_bgm.intro_decoder = nullptr;
        g_bgm.loop_decoder = nullptr;
        g_bgm.intro_ogg = nullptr;
        g_bgm.loop_ogg = nullptr;
        g_bgm.state = BGM_STATE_STOPPED;
    }
    arc_close(&g_arc_base);
    return 0;
}
