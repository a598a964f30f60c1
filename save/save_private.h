// Insides of the saved games shared by the writer, the loader and the slot
// screen: the file's fixed sizes and the body codec, which works on plain
// buffers so that it can be tested and fuzzed without a renderer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

constexpr size_t SAVE_HEADER_BYTES = 16;
constexpr size_t SAVE_MAGIC_BYTES = 4;
constexpr size_t SAVE_THUMB_BLOCK_BYTES = 8;  // png_length, preview_w, preview_h
constexpr size_t SAVE_LENGTHS_BYTES = 8;      // raw_length, packed_length
constexpr uint16_t SAVE_PREVIEW_W = 160;
constexpr uint16_t SAVE_PREVIEW_H = 100;
constexpr size_t SAVE_PATH_CAPACITY = 4096;  // the longest path the system opens
constexpr size_t SAVE_BODY_FIXED_BYTES = 135452;
constexpr size_t SAVE_IMAGE_HEADER_BYTES = 8;
constexpr size_t SAVE_PIXEL_BYTES = 4;
constexpr int SAVE_COMPRESS_QUALITY = 8;

// The 16-byte header as stored.
struct SaveHeader {
    uint8_t magic[SAVE_MAGIC_BYTES];
    uint32_t version;
    uint32_t segment;
    uint32_t time;
};

// Fills a header from its 16 stored bytes.
SaveHeader save_header_read(const uint8_t* bytes);

// True for SAVE_MAGIC with version 1 or 2: the slot screen lists such a file.
bool save_header_is_listed(const SaveHeader* header);

inline uint16_t save_get_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t save_get_u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void save_put_u16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void save_put_u32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Width and height of the stored screen layers for the mode.
int32_t save_layer_width(uint8_t hd_mode);
int32_t save_layer_height(uint8_t hd_mode);

// Bytes of a whole body for the mode: the fixed part and two image blocks.
size_t save_body_size(uint8_t hd_mode);

// Writes the body of engine's state into out, which holds save_body_size
// bytes for engine's mode. Each layer is W*H RGBA8888 pixels of that mode,
// or null to store zeros.
void save_body_encode(const Engine* engine, const uint32_t* text_pixels,
                      const uint32_t* canvas_pixels, uint8_t* out);

// Where the stored pixels of the two layers lie inside a body; null when the
// block is missing or is not of the engine's mode.
struct SaveBodyLayers {
    const uint8_t* text_pixels;
    const uint8_t* canvas_pixels;
};

// Reads a body into engine's stored fields and finds its layers. False when
// an item runs past the end, a value would index outside its table (stack
// depth, segments, positions outside the loaded code, choice count, window
// ids), a window could not lie on the text layer, or a layer block claims
// more bytes than a 32-bit length can state; engine is then partly written,
// so callers decode into a copy.
bool save_body_decode(const uint8_t* body, size_t length, Engine* engine, SaveBodyLayers* layers);

// Turns stored little-endian pixels into count native RGBA8888 values.
void save_pixels_unpack(const uint8_t* stored, uint32_t* out, size_t count);

// Makes folder (ending with '/') the save folder for the rest of the run in
// place of sav/ beside the executable, and creates it. Tests use it to keep
// their saves in a scratch folder.
void save_set_folder(const char* folder);

// The slot screen's measures in logical pixels for the mode.
struct SlotScreenLayout {
    int32_t k;
    int32_t list_top;
    int32_t row_height;
    int32_t column_width;
    int32_t gap;
    int32_t inset;
    int32_t list_left;
    int32_t preview_x;
    int32_t preview_w;
    int32_t preview_h;
};

constexpr int32_t SLOT_SCREEN_ROWS = 16;
constexpr int32_t SLOT_SCREEN_COLUMNS = 2;
constexpr size_t SLOT_LINE_CAPACITY = 32;

SlotScreenLayout slot_screen_layout(uint8_t hd_mode);

// The slot whose cell holds the logical point, or SAVE_SLOT_NONE.
int32_t slot_screen_hit(const SlotScreenLayout* layout, int32_t x, int32_t y);

// The cursor after moving rows down (negative: up) and columns right
// (negative: left); a move that would leave the grid leaves it in place.
int32_t slot_screen_move(int32_t cursor, int32_t rows, int32_t columns);

// A save's thumbnail decoded to THUMB_WIDTH x THUMB_HEIGHT RGBA pixels (free
// them with stbi_image_free). Thumbnails arrive in save files that players
// share, so anything but a PNG of the size the writer makes is refused before
// it is decoded: null.
uint8_t* slot_thumbnail_decode(const uint8_t* png, size_t length);

// The slot's line in the list: number and local date, "saved" without a
// time, dashes when empty.
void slot_screen_format_line(char* out, size_t capacity, int32_t slot, bool used, int32_t time);
