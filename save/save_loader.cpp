// Loading a slot. The whole file is checked, inflated and decoded into a copy
// of the Engine first; the running game changes only once all of it holds.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "inflate.h"
#include "music.h"
#include "platform.h"
#include "save.h"
#include "save_private.h"
#include "screen.h"

static const char REFUSAL_TITLE[] = "Incompatible Save";
static const char WEB_EDITION_MESSAGE[] =
    "This save was made with a different edition of the engine (web vs desktop/Android) and "
    "cannot be loaded here.";
static const char OLD_VERSION_MESSAGE[] =
    "This save was made with an older engine version (before 0.6) and can no longer be "
    "loaded.\n\n"
    "このセーブデータは古いバージョンで作成されており、読み込めません。";

// Reads the head of the file up to the compressed stream. Returns OK with
// the file at the stream, or the result to give; a refusal is explained in a
// box over window.
static int32_t read_head(SDL_Window* window, FILE* file, uint32_t* packed_length,
                         uint32_t* raw_length)
{
    uint8_t head[SAVE_HEADER_BYTES];
    const size_t got = fread(head, 1, sizeof head, file);
    if (got < SAVE_MAGIC_BYTES)
        return SAVE_RESULT_FAILED;
    if (memcmp(head, SAVE_MAGIC, SAVE_MAGIC_BYTES) != 0) {
        if (memcmp(head, SAVE_MAGIC_WEB, SAVE_MAGIC_BYTES) != 0)
            return SAVE_RESULT_FAILED;
        plat_message_box(window, PLAT_BOX_WARNING, REFUSAL_TITLE, WEB_EDITION_MESSAGE);
        return SAVE_RESULT_REFUSED;
    }
    if (got < SAVE_HEADER_BYTES)
        return SAVE_RESULT_FAILED;
    const SaveHeader header = save_header_read(head);
    if (header.version == SAVE_VERSION_OLD) {
        plat_message_box(window, PLAT_BOX_WARNING, REFUSAL_TITLE, OLD_VERSION_MESSAGE);
        return SAVE_RESULT_REFUSED;
    }
    if (header.version != SAVE_VERSION)
        return SAVE_RESULT_FAILED;

    uint8_t thumb[SAVE_THUMB_BLOCK_BYTES];
    if (fread(thumb, 1, sizeof thumb, file) != sizeof thumb)
        return SAVE_RESULT_FAILED;
    const uint32_t png_length = save_get_u32(thumb);
    if (png_length && fseek(file, static_cast<long>(png_length), SEEK_CUR) != 0)
        return SAVE_RESULT_FAILED;
    uint8_t lengths[SAVE_LENGTHS_BYTES];
    if (fread(lengths, 1, sizeof lengths, file) != sizeof lengths)
        return SAVE_RESULT_FAILED;
    *raw_length = save_get_u32(lengths);
    *packed_length = save_get_u32(lengths + 4);
    if (*packed_length == 0 || *packed_length > SAVE_MAX_COMPRESSED)
        return SAVE_RESULT_FAILED;
    return SAVE_RESULT_OK;
}

static size_t read_piece(void* file, uint8_t* buffer, size_t capacity)
{
    return fread(buffer, 1, capacity, static_cast<FILE*>(file));
}

// Inflates the stream as it is read, so it is never held whole. No body this
// engine writes is longer than an HD one. The stream's checksum is checked
// as it is inflated, so a damaged file never loads damaged values.
static uint8_t* inflate_body(FILE* file, uint32_t packed_length, uint32_t raw_length)
{
    if (raw_length > save_body_size(1))
        return nullptr;
    return inflate_exact_read(read_piece, file, packed_length, raw_length, true);
}

// A layer's pixels as native values. The file stores them little-endian, so
// on a little-endian machine they are the stored bytes as they stand and
// nothing is copied; elsewhere they are unpacked into *copy, which the caller
// frees. Null when absent or out of memory.
static const void* layer_pixels(const uint8_t* stored, uint8_t hd_mode, uint32_t** copy)
{
    *copy = nullptr;
    if (!stored || SDL_BYTEORDER == SDL_LIL_ENDIAN)
        return stored;
    const size_t count = static_cast<size_t>(save_layer_width(hd_mode)) *
                         static_cast<size_t>(save_layer_height(hd_mode));
    *copy = static_cast<uint32_t*>(malloc(count * sizeof(uint32_t)));
    if (*copy)
        save_pixels_unpack(stored, *copy, count);
    return *copy;
}

static bool upload_layer(SDL_Texture* texture, const void* pixels, uint8_t hd_mode)
{
    if (!texture || !pixels)
        return false;
    const int pitch = save_layer_width(hd_mode) * static_cast<int>(SAVE_PIXEL_BYTES);
    return SDL_UpdateTexture(texture, nullptr, pixels, pitch) == 0;
}

// Puts the staged state in place, then the layers, the canvas and the music.
static void commit(Engine* engine, const Engine* staged, const void* text, const void* canvas)
{
    memcpy(engine, staged, sizeof *engine);
    engine->gfx_log_count = 0;
    upload_layer(text_layer_get(), text, engine->hd_mode);
    // Without a stored canvas the empty log rebuilds a clear one.
    if (!upload_layer(engine->canvas_texture, canvas, engine->hd_mode))
        gfx_replay_log(engine);
    if (engine->bgm_track && !engine->mute)
        bgm_play_track(engine->bgm_track);
    else
        bgm_stop();
    engine->palette_changed = 1;
}

static int32_t restore_body(Engine* engine, const uint8_t* body, uint32_t length)
{
    Engine* staged = static_cast<Engine*>(malloc(sizeof(Engine)));
    if (!staged)
        return SAVE_RESULT_FAILED;
    memcpy(staged, engine, sizeof *staged);
    SaveBodyLayers layers;
    int32_t result = SAVE_RESULT_FAILED;
    if (save_body_decode(body, length, staged, &layers)) {
        uint32_t* text_copy = nullptr;
        uint32_t* canvas_copy = nullptr;
        const void* text = layer_pixels(layers.text_pixels, staged->hd_mode, &text_copy);
        const void* canvas = layer_pixels(layers.canvas_pixels, staged->hd_mode, &canvas_copy);
        const bool unpacked = (text || !layers.text_pixels) && (canvas || !layers.canvas_pixels);
        if (unpacked) {
            commit(engine, staged, text, canvas);
            result = SAVE_RESULT_OK;
        }
        free(text_copy);
        free(canvas_copy);
    }
    free(staged);
    return result;
}

int32_t save_load_slot(Engine* engine, int32_t slot)
{
    if (static_cast<uint32_t>(slot) >= static_cast<uint32_t>(SAVE_SLOT_COUNT))
        return SAVE_RESULT_FAILED;
    char path[SAVE_PATH_CAPACITY];
    save_build_path(static_cast<uint32_t>(slot), path, sizeof path);
    FILE* file = plat_open_regular_file(path);
    if (!file)
        return SAVE_RESULT_FAILED;
    uint32_t packed_length = 0;
    uint32_t raw_length = 0;
    const int32_t read = read_head(engine->window, file, &packed_length, &raw_length);
    uint8_t* body = read == SAVE_RESULT_OK ? inflate_body(file, packed_length, raw_length) : nullptr;
    fclose(file);
    if (read != SAVE_RESULT_OK)
        return read;
    if (!body)
        return SAVE_RESULT_FAILED;
    const int32_t result = restore_body(engine, body, raw_length);
    free(body);
    return result;
}
