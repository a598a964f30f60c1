// Opening and closing a decoder over an OGG file in memory, with all of the
// decoder's memory in one arena of bounded size that lives and dies with the
// file's bytes.
//
// Left to itself the decoder takes memory with malloc as a file's headers ask,
// without a limit, and loses what it took when it gives up on a file part-way
// through. With an arena it calls malloc no more (only the C library's sort,
// which it uses on its tables, borrows a buffer and gives it back), and a file
// that asks for more than the arena holds is refused like any other
// undecodable file.
#include "music.h"

#include "archive.h"
#include "bgm_private.h"

#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include <climits>
#include <cstddef>
#include <cstdlib>

namespace {

// Open decoders' arenas, for bgm_decoder_arenas. Main thread only: the audio
// thread never opens or closes a decoder.
int g_live_arenas = 0;

size_t round_up(size_t n, size_t granule)
{
    return (n + granule - 1) / granule * granule;
}

// The most scratch space the decoder takes from its arena for one frame: a
// list of partitions per channel, at worst one per sample of the long window.
// Its own check at open time reserves as little as half of that, and running
// out while decoding crashes it, so the room is checked here.
size_t frame_scratch_bytes(const stb_vorbis_info& info)
{
    size_t long_window = 2 * static_cast<size_t>(info.max_frame_size);
    return static_cast<size_t>(info.channels) * sizeof(void*) * (1 + long_window);
}

void release_block(uint8_t* block)
{
    free(block);
    --g_live_arenas;
}

}  // namespace

stb_vorbis* bgm_open_ogg_memory(uint8_t** ogg, size_t len)
{
    uint8_t* bytes = *ogg;
    *ogg = nullptr;
    size_t comment_bytes = 0;
    if (len > static_cast<size_t>(INT_MAX) || !bgm_check_headers(bytes, len, &comment_bytes) ||
        comment_bytes > static_cast<size_t>(INT_MAX) - BGM_DECODER_ARENA_BYTES) {
        free(bytes);
        return nullptr;
    }
    // The arena follows the file in the same block, so freeing the bytes the
    // player already frees releases both.
    size_t arena_at = round_up(len, alignof(std::max_align_t));
    size_t arena_len = BGM_DECODER_ARENA_BYTES + comment_bytes;
    uint8_t* block = static_cast<uint8_t*>(realloc(bytes, arena_at + arena_len));
    if (block == nullptr) {
        free(bytes);
        return nullptr;
    }
    ++g_live_arenas;
    stb_vorbis_alloc arena{reinterpret_cast<char*>(block + arena_at), static_cast<int>(arena_len)};

    // The headers alone first (this way of opening decodes no audio), to learn
    // whether the tables leave room for a frame's scratch space.
    int used = 0;
    int error = 0;
    bool fits = false;
    stb_vorbis* probe = stb_vorbis_open_pushdata(block, static_cast<int>(len), &used, &error, &arena);
    if (probe != nullptr) {
        stb_vorbis_info info = stb_vorbis_get_info(probe);
        fits = info.setup_memory_required <= arena_len && arena_len - info.setup_memory_required >= frame_scratch_bytes(info);
        stb_vorbis_close(probe);
    }
    stb_vorbis* decoder = fits ? stb_vorbis_open_memory(block, static_cast<int>(len), nullptr, &arena) : nullptr;
    if (decoder == nullptr) {
        release_block(block);
        return nullptr;
    }
    *ogg = block;
    return decoder;
}

stb_vorbis* bgm_open_ogg(const char* name, uint8_t** out_ogg)
{
    size_t len = 0;
    uint8_t* bytes = asset_read(name, &len);
    if (bytes == nullptr) {
        return nullptr;
    }
    stb_vorbis* decoder = bgm_open_ogg_memory(&bytes, len);
    if (decoder != nullptr) {
        *out_ogg = bytes;
    }
    return decoder;
}

void bgm_close_ogg(stb_vorbis* decoder, uint8_t* ogg)
{
    if (decoder != nullptr) {
        stb_vorbis_close(decoder);
    }
    if (ogg != nullptr) {
        release_block(ogg);
    }
}

int bgm_decoder_arenas()
{
    return g_live_arenas;
}
