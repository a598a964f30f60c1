// A whole save file through the loader, into an Engine on a software
// renderer, then what the game can do next with what it restored: a frame,
// the choice list, and a line of text that scrolls each defined window, as
// the scenario may select any of them.
//
// The first byte chooses the mode (bit 0: HD) and what the rest is (bit 1):
// the file as it stands, or a plain body that is packed here behind a valid
// head, so that mutations reach the body despite the stream's checksum.
#include "fuzz_support.h"

#include "../scenario/vm_private.h"
#include "stb_compress.h"

#include <vector>

constexpr uint8_t FLAG_HD = 1;
constexpr uint8_t FLAG_PACK_BODY = 2;

// A letter, a Shift-JIS pair, a scroll, a carriage return and two line feeds.
constexpr uint16_t TEXT_AFTER_LOAD[] = {'A', 0x82A0, 17, '\r', '\n', '\n'};

// A save file of this version with no thumbnail, holding body.
static std::vector<uint8_t> pack_body(const uint8_t* body, size_t size)
{
    int packed_size = 0;
    uint8_t* packed = stbi_zlib_compress(const_cast<uint8_t*>(body), static_cast<int>(size),
                                         &packed_size, SAVE_COMPRESS_QUALITY);
    std::vector<uint8_t> file(SAVE_HEADER_BYTES + SAVE_THUMB_BLOCK_BYTES + SAVE_LENGTHS_BYTES);
    memcpy(file.data(), SAVE_MAGIC, SAVE_MAGIC_BYTES);
    save_put_u32(&file[SAVE_MAGIC_BYTES], SAVE_VERSION);
    uint8_t* thumb = &file[SAVE_HEADER_BYTES];
    save_put_u16(thumb + 4, SAVE_PREVIEW_W);
    save_put_u16(thumb + 6, SAVE_PREVIEW_H);
    uint8_t* lengths = thumb + SAVE_THUMB_BLOCK_BYTES;
    save_put_u32(lengths, static_cast<uint32_t>(size));
    save_put_u32(lengths + 4, static_cast<uint32_t>(packed_size));
    if (packed)
        file.insert(file.end(), packed, packed + packed_size);
    free(packed);
    return file;
}

static void play_on(Engine* engine)
{
    SDL_RenderClear(engine->renderer);
    gfx_compose_frame(engine);
    menu_draw_overlay(engine);
    for (int32_t id = 0; id < TEXT_WINDOW_COUNT; id++) {
        if (!engine->text_windows[id].active)
            continue;
        engine->vm_vars[VAR_CUR_WINDOW] = id;
        for (uint16_t code : TEXT_AFTER_LOAD)
            vm_put_char(engine, code);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = new Engine;
    const char* path = fuzz_save_slot_path();
    if (size == 0)
        return 0;
    if (data[0] & FLAG_PACK_BODY) {
        const std::vector<uint8_t> file = pack_body(data + 1, size - 1);
        fuzz_write_file(path, file.data(), file.size());
    } else {
        fuzz_write_file(path, data + 1, size - 1);
    }
    fuzz_screen_open(engine, data[0] & FLAG_HD);
    if (save_load_slot(engine, 0) == SAVE_RESULT_OK)
        play_on(engine);
    fuzz_screen_close(engine);
    remove(path);
    return 0;
}
