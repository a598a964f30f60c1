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

// The decoder's memory goes where the dropped comments were when they leave
// room for it, and after the file otherwise; either way it is freed with the
// file's bytes. Null when the block cannot grow.
uint8_t* place_arena(uint8_t* block, size_t len, size_t file_at, char** arena)
{
    if (file_at >= BGM_DECODER_ARENA_BYTES) {
        *arena = reinterpret_cast<char*>(block);
        return block;
    }
    size_t arena_at = round_up(len, alignof(std::max_align_t));
    uint8_t* grown = static_cast<uint8_t*>(realloc(block, arena_at + BGM_DECODER_ARENA_BYTES));
    if (grown != nullptr) {
        *arena = reinterpret_cast<char*>(grown + arena_at);
    }
    return grown;
}

}  // namespace

stb_vorbis* bgm_open_ogg_memory(uint8_t** ogg, size_t len)
{
    uint8_t* bytes = *ogg;
    *ogg = nullptr;
    OggHeaderLayout layout{};
    if (len > static_cast<size_t>(INT_MAX) || !bgm_check_headers(bytes, len, &layout)) {
        free(bytes);
        return nullptr;
    }
    size_t file_at = bgm_drop_comments(bytes, layout);
    char* arena_bytes = nullptr;
    uint8_t* block = place_arena(bytes, len, file_at, &arena_bytes);
    if (block == nullptr) {
        free(bytes);
        return nullptr;
    }
    ++g_live_arenas;
    stb_vorbis_alloc arena{arena_bytes, static_cast<int>(BGM_DECODER_ARENA_BYTES)};
    const uint8_t* file = block + file_at;
    int file_len = static_cast<int>(len - file_at);

    // The headers alone first (this way of opening decodes no audio), to learn
    // whether the tables leave room for a frame's scratch space.
    int used = 0;
    int error = 0;
    bool fits = false;
    stb_vorbis* probe = stb_vorbis_open_pushdata(file, file_len, &used, &error, &arena);
    if (probe != nullptr) {
        stb_vorbis_info info = stb_vorbis_get_info(probe);
        fits = info.setup_memory_required <= BGM_DECODER_ARENA_BYTES &&
               BGM_DECODER_ARENA_BYTES - info.setup_memory_required >= frame_scratch_bytes(info);
        stb_vorbis_close(probe);
    }
    stb_vorbis* decoder = fits ? stb_vorbis_open_memory(file, file_len, nullptr, &arena) : nullptr;
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
    uint8_t* bytes = asset_read_capped(name, BGM_FILE_CAP, &len);
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
