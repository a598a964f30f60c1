// Writing a slot: header, thumbnail, then the compressed body. The file is
// written under a temporary name, flushed to the disk and renamed over the
// slot's file only when every byte went out, so neither a failed save nor a
// crash or power cut in the middle of one costs the player the old one (a
// linked slot, one of another owner, or one a rename cannot replace, is
// written in place instead, as opening it would). A slot file the player
// made read-only is kept, and the save fails.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform.h"
#include "save.h"
#include "save_private.h"
#include "screen.h"
#include "stb_compress.h"

// Reads a whole layer back from the renderer; a missing texture or a failed
// read-back gives transparent black. Null only when out of memory.
static uint32_t* read_layer(Engine* engine, SDL_Texture* texture)
{
    const int32_t w = save_layer_width(engine->hd_mode);
    const int32_t h = save_layer_height(engine->hd_mode);
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    uint32_t* pixels = static_cast<uint32_t*>(calloc(count, sizeof(uint32_t)));
    if (!pixels || !texture || !engine->renderer)
        return pixels;
    if (SDL_SetRenderTarget(engine->renderer, texture) == 0 &&
        SDL_RenderReadPixels(engine->renderer, nullptr, SDL_PIXELFORMAT_RGBA8888, pixels,
                             w * static_cast<int>(SAVE_PIXEL_BYTES)) != 0)
        memset(pixels, 0, count * sizeof(uint32_t));
    SDL_SetRenderTarget(engine->renderer, nullptr);
    return pixels;
}

// The body compressed as a zlib stream; null when memory ran out.
static uint8_t* pack_body(Engine* engine, int* raw_length, int* packed_length)
{
    uint32_t* text = read_layer(engine, text_layer_get());
    uint32_t* canvas = read_layer(engine, engine->canvas_texture);
    const size_t size = save_body_size(engine->hd_mode);
    uint8_t* body = static_cast<uint8_t*>(malloc(size));
    uint8_t* packed = nullptr;
    if (text && canvas && body) {
        save_body_encode(engine, text, canvas, body);
        *raw_length = static_cast<int>(size);
        packed = stbi_zlib_compress(body, *raw_length, packed_length, SAVE_COMPRESS_QUALITY);
    }
    free(text);
    free(canvas);
    free(body);
    if (packed && *packed_length <= 0) {
        free(packed);
        packed = nullptr;
    }
    return packed;
}

static bool write_all(FILE* file, const void* data, size_t size)
{
    return size == 0 || fwrite(data, 1, size, file) == size;
}

// The pieces of a save file in their order.
struct SaveFileParts {
    uint8_t head[SAVE_HEADER_BYTES + SAVE_THUMB_BLOCK_BYTES];
    const uint8_t* png;
    uint32_t png_length;
    uint8_t lengths[SAVE_LENGTHS_BYTES];
    const uint8_t* packed;
    size_t packed_length;
};

static bool write_parts(FILE* file, void* user)
{
    const SaveFileParts* p = static_cast<const SaveFileParts*>(user);
    return write_all(file, p->head, sizeof p->head) && write_all(file, p->png, p->png_length) &&
           write_all(file, p->lengths, sizeof p->lengths) &&
           write_all(file, p->packed, p->packed_length);
}

static bool write_file(const char* path, Engine* engine, const uint8_t* png, uint32_t png_length,
                       const uint8_t* packed, int raw_length, int packed_length)
{
    SaveFileParts parts;
    uint8_t* head = parts.head;
    memcpy(head, SAVE_MAGIC, SAVE_MAGIC_BYTES);
    save_put_u32(head + 4, SAVE_VERSION);
    save_put_u32(head + 8, engine->vm_segment);
    save_put_u32(head + 12, static_cast<uint32_t>(time(nullptr)));
    save_put_u32(head + 16, png_length);
    save_put_u16(head + 20, SAVE_PREVIEW_W);
    save_put_u16(head + 22, SAVE_PREVIEW_H);
    parts.png = png;
    parts.png_length = png_length;
    save_put_u32(parts.lengths, static_cast<uint32_t>(raw_length));
    save_put_u32(parts.lengths + 4, static_cast<uint32_t>(packed_length));
    parts.packed = packed;
    parts.packed_length = static_cast<size_t>(packed_length);
    return plat_replace_file(path, write_parts, &parts);
}

int32_t save_write_slot(Engine* engine, int32_t slot, const uint8_t* png, int32_t png_size)
{
    if (static_cast<uint32_t>(slot) >= static_cast<uint32_t>(SAVE_SLOT_COUNT))
        return SAVE_RESULT_FAILED;
    char path[SAVE_PATH_CAPACITY];
    save_build_path(static_cast<uint32_t>(slot), path, sizeof path);

    int raw_length = 0;
    int packed_length = 0;
    uint8_t* packed = pack_body(engine, &raw_length, &packed_length);
    if (!packed)
        return SAVE_RESULT_FAILED;
    const uint32_t png_length = png && png_size > 0 ? static_cast<uint32_t>(png_size) : 0;
    const bool written =
        write_file(path, engine, png, png_length, packed, raw_length, packed_length);
    free(packed);
    return written ? SAVE_RESULT_OK : SAVE_RESULT_FAILED;
}
