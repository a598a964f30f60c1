// Turns a picture asset (any format stb_image reads) into a static texture,
// and checks every picture's declared size, and a PNG's data, before it is
// decoded.
#include "archive.h"
#include "inflate.h"

#include <SDL.h>
#include <stb_image.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

constexpr int PICTURE_CHANNELS = 4;

constexpr uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr size_t PNG_CHUNK_TYPE_AT = 4;
constexpr size_t PNG_CHUNK_BODY_AT = 8;
constexpr size_t PNG_CHUNK_FRAME_BYTES = 12;
constexpr uint32_t PNG_IHDR_BYTES = 13;  // width and height come first
// The deepest pixel a PNG can hold: four channels of 16 bits.
constexpr int64_t PNG_MAX_PIXEL_BYTES = 8;
// Deflate, a 32 KiB window, no dictionary; its check bits make it a multiple of 31.
constexpr uint8_t ZLIB_HEADER[] = {0x78, 0x01};
constexpr size_t ZLIB_CHECKSUM_BYTES = 4;
// A stored deflate block: the final-block bit with type 0, the length and its
// complement (16 bits each, little-endian), then that many bytes.
constexpr size_t STORED_BLOCK_HEAD_BYTES = 5;
constexpr size_t STORED_BLOCK_MAX = 65535;

// Each Adam7 pass takes every dx-th pixel of every dy-th row, from x0, y0.
struct Adam7Pass {
    int64_t x0, y0, dx, dy;
};
constexpr Adam7Pass ADAM7_PASSES[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// Integer division: no product to overflow, whatever the header says.
static bool img_area_fits(int64_t w, int64_t h) { return w >= 1 && h >= 1 && w <= IMG_PIXEL_CAP / h; }

bool img_size_fits(SDL_Renderer* renderer, int64_t w, int64_t h)
{
    int64_t max_w = IMG_SIDE_CAP;
    int64_t max_h = IMG_SIDE_CAP;
    SDL_RendererInfo info;
    if (renderer && SDL_GetRendererInfo(renderer, &info) == 0) {
        if (info.max_texture_width > 0)
            max_w = info.max_texture_width;
        if (info.max_texture_height > 0)
            max_h = info.max_texture_height;
    }
    return img_area_fits(w, h) && w <= max_w && h <= max_h;
}

bool img_is_png(const uint8_t* bytes, size_t len)
{
    return bytes && len >= sizeof PNG_SIGNATURE &&
           memcmp(bytes, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
}

static uint32_t png_get_u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

// The most pixel data any PNG of w x h holds: 16-bit RGBA rows, each after
// its filter byte, laid out as Adam7's seven passes. That is the longer
// layout: every row of the picture is a row of some pass, and the passes'
// shorter rows bring filter bytes of their own.
static int64_t png_data_max(int64_t w, int64_t h)
{
    int64_t most = 0;
    for (const Adam7Pass& pass : ADAM7_PASSES) {
        if (w > pass.x0 && h > pass.y0) {
            const int64_t pass_w = (w - pass.x0 + pass.dx - 1) / pass.dx;
            const int64_t pass_h = (h - pass.y0 + pass.dy - 1) / pass.dy;
            most += pass_h * (1 + pass_w * PNG_MAX_PIXEL_BYTES);
        }
    }
    return most;
}

// One chunk of a PNG: a big-endian length, the type, the data, a checksum.
struct PngChunk {
    const uint8_t* frame;
    uint32_t size;
};

static bool png_chunk_is(const PngChunk& chunk, const char* type)
{
    return memcmp(chunk.frame + PNG_CHUNK_TYPE_AT, type, 4) == 0;
}

// The chunk at *at, moving *at past it; false when fewer bytes are left
// than it claims.
static bool png_next_chunk(const uint8_t* png, size_t len, size_t* at, PngChunk* chunk)
{
    if (len - *at < PNG_CHUNK_FRAME_BYTES)
        return false;
    chunk->frame = png + *at;
    chunk->size = png_get_u32(chunk->frame);
    if (chunk->size > len - *at - PNG_CHUNK_FRAME_BYTES)
        return false;
    *at += PNG_CHUNK_FRAME_BYTES + chunk->size;
    return true;
}

// What the decoder reads of a PNG, gathered before it does.
struct PngLayout {
    int64_t w = 0;
    int64_t h = 0;
    bool zlib_header = true;
    size_t end = 0;  // just past IEND, where the decoder stops
    // The data chunks' bodies: read in place when there is one, else joined.
    int data_chunks = 0;
    const uint8_t* data = nullptr;
    size_t data_len = 0;
    std::vector<uint8_t> joined;
};

// False when a chunk runs past the end before IEND.
static bool png_read_layout(const uint8_t* png, size_t len, PngLayout* layout)
{
    size_t at = sizeof PNG_SIGNATURE;
    PngChunk chunk;
    do {
        if (!png_next_chunk(png, len, &at, &chunk))
            return false;
        const uint8_t* body = chunk.frame + PNG_CHUNK_BODY_AT;
        if (png_chunk_is(chunk, "IHDR") && chunk.size == PNG_IHDR_BYTES && layout->w == 0) {
            layout->w = png_get_u32(body);
            layout->h = png_get_u32(body + 4);
        } else if (png_chunk_is(chunk, "CgBI")) {
            layout->zlib_header = false;  // the decoder reads such data as bare deflate
        } else if (png_chunk_is(chunk, "IDAT") && ++layout->data_chunks == 1) {
            layout->data = body;
            layout->data_len = chunk.size;
        } else if (png_chunk_is(chunk, "IDAT")) {
            if (layout->data_chunks == 2)
                layout->joined.assign(layout->data, layout->data + layout->data_len);
            layout->joined.insert(layout->joined.end(), body, body + chunk.size);
            layout->data = layout->joined.data();
            layout->data_len = layout->joined.size();
        }
    } while (!png_chunk_is(chunk, "IEND"));
    layout->end = at;
    return true;
}

static uint8_t* png_put_u32(uint8_t* out, uint32_t value)
{
    const uint8_t bytes[] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                             uint8_t(value)};
    memcpy(out, bytes, sizeof bytes);
    return out + sizeof bytes;
}

// The PNG's chunks again, in order, with the first data chunk holding the
// inflated pixel data in stored blocks and the other data chunks gone: the
// decoder then copies the data the check has inflated instead of inflating
// it again, which would nearly double a picture's decoding time. It reads
// neither chunk checksums nor the stream's Adler-32, and the copy goes
// nowhere else, so they are left zero. Null when out of memory.
static uint8_t* png_with_stored_data(const uint8_t* png, const PngLayout& layout,
                                     const uint8_t* data, size_t data_len, size_t* out_len)
{
    const size_t blocks = data_len / STORED_BLOCK_MAX + 1;  // the last may be empty
    const size_t zlib_frame = layout.zlib_header ? sizeof ZLIB_HEADER + ZLIB_CHECKSUM_BYTES : 0;
    const size_t stream_len = zlib_frame + blocks * STORED_BLOCK_HEAD_BYTES + data_len;
    uint8_t* out = static_cast<uint8_t*>(malloc(layout.end + PNG_CHUNK_FRAME_BYTES + stream_len));
    if (!out)
        return nullptr;
    memcpy(out, PNG_SIGNATURE, sizeof PNG_SIGNATURE);
    uint8_t* o = out + sizeof PNG_SIGNATURE;
    size_t at = sizeof PNG_SIGNATURE;
    PngChunk chunk;
    bool stored = false;
    while (png_next_chunk(png, layout.end, &at, &chunk)) {
        if (!png_chunk_is(chunk, "IDAT")) {
            memcpy(o, chunk.frame, PNG_CHUNK_FRAME_BYTES + chunk.size);
            o += PNG_CHUNK_FRAME_BYTES + chunk.size;
            continue;
        }
        if (stored)
            continue;
        stored = true;
        o = png_put_u32(o, static_cast<uint32_t>(stream_len));
        memcpy(o, "IDAT", 4);
        o += 4;
        if (layout.zlib_header) {
            memcpy(o, ZLIB_HEADER, sizeof ZLIB_HEADER);
            o += sizeof ZLIB_HEADER;
        }
        for (size_t block = 0; block < blocks; block++) {
            const size_t n = std::min(STORED_BLOCK_MAX, data_len - block * STORED_BLOCK_MAX);
            const uint8_t head[] = {uint8_t(block + 1 == blocks), uint8_t(n), uint8_t(n >> 8),
                                    uint8_t(~n), uint8_t(~n >> 8)};
            memcpy(o, head, sizeof head);
            memcpy(o + sizeof head, data + block * STORED_BLOCK_MAX, n);
            o += sizeof head + n;
        }
        if (layout.zlib_header)
            o = png_put_u32(o, 0);  // the Adler-32
        o = png_put_u32(o, 0);      // the chunk's checksum
    }
    *out_len = static_cast<size_t>(o - out);
    return out;
}

uint8_t* img_decode_png_rgba(const uint8_t* png, size_t len, int* w, int* h)
{
    PngLayout layout;
    if (!img_is_png(png, len) || len > INT_MAX || !png_read_layout(png, len, &layout) ||
        !img_area_fits(layout.w, layout.h) || layout.data_chunks == 0)
        return nullptr;
    // Untouched pages of the buffer cost nothing: only what the stream really
    // inflates to is paid for.
    const int most = static_cast<int>(png_data_max(layout.w, layout.h));
    uint8_t* data = static_cast<uint8_t*>(malloc(static_cast<size_t>(most)));
    if (!data)
        return nullptr;
    const int data_len = inflate_into(data, most, layout.data, layout.data_len, layout.zlib_header);
    size_t stored_len = 0;
    uint8_t* stored = data_len < 0 ? nullptr
                                   : png_with_stored_data(png, layout, data, static_cast<size_t>(data_len),
                                                          &stored_len);
    free(data);
    if (!stored || stored_len > INT_MAX) {
        free(stored);
        return nullptr;
    }
    int channels = 0;
    uint8_t* pixels = stbi_load_from_memory(stored, static_cast<int>(stored_len), w, h, &channels,
                                            PICTURE_CHANNELS);
    free(stored);
    return pixels;
}

uint8_t* img_decode_rgba(SDL_Renderer* renderer, const uint8_t* bytes, size_t len, int* w, int* h)
{
    if (!bytes || len == 0 || len > IMG_FILE_CAP)
        return nullptr;
    const int length = static_cast<int>(len);
    int channels = 0;
    // A picture the renderer could not hold is refused from its header, before
    // the decoder allocates what it declares.
    if (!stbi_info_from_memory(bytes, length, w, h, &channels) || !img_size_fits(renderer, *w, *h))
        return nullptr;
    if (img_is_png(bytes, len))
        return img_decode_png_rgba(bytes, len, w, h);
    return stbi_load_from_memory(bytes, length, w, h, &channels, PICTURE_CHANNELS);
}

uint8_t* img_decode_rgba_file(SDL_Renderer* renderer, const char* path, int* w, int* h)
{
    size_t len = 0;
    uint8_t* bytes = arc_read_file(path, IMG_FILE_CAP, &len);
    uint8_t* pixels = bytes ? img_decode_rgba(renderer, bytes, len, w, h) : nullptr;
    free(bytes);
    return pixels;
}

bool img_load_texture(const char* name, SDL_Renderer* renderer, SDL_Texture** out_texture,
                      uint32_t* out_w, uint32_t* out_h)
{
    size_t len = 0;
    uint8_t* bytes = asset_read_impl(name, &len);
    if (!bytes)
        return false;
    int w = 0;
    int h = 0;
    uint8_t* pixels = img_decode_rgba(renderer, bytes, len, &w, &h);
    free(bytes);
    if (!pixels)
        return false;

    // ABGR8888 lies in memory as R, G, B, A: the decoder's own byte order.
    SDL_Texture* texture =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, w, h);
    if (!texture) {
        stbi_image_free(pixels);
        return false;
    }
    SDL_UpdateTexture(texture, nullptr, pixels, w * PICTURE_CHANNELS);
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    stbi_image_free(pixels);

    *out_texture = texture;
    *out_w = static_cast<uint32_t>(w);
    *out_h = static_cast<uint32_t>(h);
    return true;
}
