// Turns a picture asset (any format stb_image reads) into a static texture,
// and checks every picture's declared size, and a PNG's data, before it is
// decoded.
#include "archive.h"
#include "inflate.h"
#include "platform.h"

#include <SDL.h>
#include <stb_image.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

constexpr int PICTURE_CHANNELS = 4;

constexpr uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr size_t PNG_CHUNK_TYPE_AT = 4;
constexpr size_t PNG_CHUNK_HEAD_BYTES = 8;  // the length and the type
constexpr size_t PNG_CHUNK_CRC_BYTES = 4;
constexpr uint32_t PNG_IHDR_BYTES = 13;     // width and height come first
// The deepest pixel a PNG can hold: four channels of 16 bits.
constexpr int64_t PNG_MAX_PIXEL_BYTES = 8;
// The pixel data's stream: two header bytes, deflate data, a checksum.
constexpr size_t ZLIB_HEADER_BYTES = 2;
constexpr size_t ZLIB_CHECKSUM_BYTES = 4;
// A stored deflate block: the final-block bit with type 0, the length and its
// complement (16 bits each, little-endian), then that many bytes.
constexpr size_t STORED_BLOCK_HEAD_BYTES = 5;
constexpr size_t STORED_BLOCK_MAX = 65535;
// One stored block, with the stream's header before it when it is the first
// and the stream's checksum after it when it is the last.
constexpr size_t STORED_BLOCK_BYTES_MAX =
    ZLIB_HEADER_BYTES + STORED_BLOCK_HEAD_BYTES + STORED_BLOCK_MAX + ZLIB_CHECKSUM_BYTES;

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
// than it claims. The decoder reads nothing of the end chunk after its type,
// so that much of it is enough.
static bool png_next_chunk(const uint8_t* png, size_t len, size_t* at, PngChunk* chunk)
{
    if (len - *at < PNG_CHUNK_HEAD_BYTES)
        return false;
    chunk->frame = png + *at;
    chunk->size = png_get_u32(chunk->frame);
    if (png_chunk_is(*chunk, "IEND")) {
        *at += PNG_CHUNK_HEAD_BYTES;
        return true;
    }
    const size_t whole = PNG_CHUNK_HEAD_BYTES + PNG_CHUNK_CRC_BYTES;
    if (len - *at < whole || chunk->size > len - *at - whole)
        return false;
    *at += whole + chunk->size;
    return true;
}

// What the decoder reads of a PNG, gathered before it does.
struct PngLayout {
    int64_t w = 0;
    int64_t h = 0;
    bool zlib_header = true;
    uint8_t zlib_head[ZLIB_HEADER_BYTES] = {};  // the data's first bytes
    size_t first_data = 0;  // where the first data chunk starts
    size_t data_len = 0;    // the data chunks' bodies together
    size_t end = 0;         // just past the end chunk's type, where the decoder stops
};

static size_t png_header_bytes(const PngLayout& layout)
{
    return layout.zlib_header ? ZLIB_HEADER_BYTES : 0;
}

static void png_add_data(PngLayout* layout, const PngChunk& chunk, size_t chunk_at)
{
    if (layout->first_data == 0)
        layout->first_data = chunk_at;
    const uint8_t* body = chunk.frame + PNG_CHUNK_HEAD_BYTES;
    for (size_t i = 0; i < chunk.size && layout->data_len + i < ZLIB_HEADER_BYTES; i++)
        layout->zlib_head[layout->data_len + i] = body[i];
    layout->data_len += chunk.size;
}

// False when a chunk runs past the end before the end chunk, or there is no
// header or no data.
static bool png_read_layout(const uint8_t* png, size_t len, PngLayout* layout)
{
    size_t at = sizeof PNG_SIGNATURE;
    PngChunk chunk;
    do {
        const size_t chunk_at = at;
        if (!png_next_chunk(png, len, &at, &chunk))
            return false;
        const uint8_t* body = chunk.frame + PNG_CHUNK_HEAD_BYTES;
        if (png_chunk_is(chunk, "IHDR") && chunk.size == PNG_IHDR_BYTES && layout->w == 0) {
            layout->w = png_get_u32(body);
            layout->h = png_get_u32(body + 4);
        } else if (png_chunk_is(chunk, "CgBI")) {
            layout->zlib_header = false;  // the decoder reads such data as bare deflate
        } else if (png_chunk_is(chunk, "IDAT")) {
            png_add_data(layout, chunk, chunk_at);
        }
    } while (!png_chunk_is(chunk, "IEND"));
    layout->end = at;
    return img_area_fits(layout->w, layout->h) && layout->first_data != 0 &&
           layout->data_len >= png_header_bytes(*layout);
}

static void png_put_u32(uint8_t* out, uint32_t value)
{
    const uint8_t bytes[] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                             uint8_t(value)};
    memcpy(out, bytes, sizeof bytes);
}

// The PNG as the decoder is handed it: the same chunks in the same order,
// but one data chunk, where the first was, holding the pixel data inflated
// into stored deflate blocks, and the other data chunks left out. The
// decoder then copies the data instead of inflating it again, and is never
// handed more of it than any PNG of its size holds. The data chunk declares
// the longest stream that can be, so that it can be passed on as it is
// inflated; the decoder stops at the last block and never reads the padding
// after it, which is left as the decoder's buffer holds it: the pages behind
// it are never touched. Checksums, which the decoder does not read, are zero.
struct StoredPng {
    const uint8_t* png;
    PngLayout layout;
    size_t data_max;
    size_t at;             // the next chunk of png to pass on
    const uint8_t* ready;  // bytes passed on as they are
    size_t ready_len;
    size_t data_left;  // of the data chunk's body
    bool tail_pending;  // the data chunk's checksum
    z_stream z;
    size_t feed_at;  // where zlib's next data chunk is looked for
    size_t skip;     // header bytes not to feed to zlib
    size_t inflated;
    bool head_passed;
    bool data_passed;
    bool failed;
    uint8_t* own_inflation;  // see stored_png_inflate_as_decoder
    size_t own_len;
    uint8_t chunk_head[PNG_CHUNK_HEAD_BYTES];
    uint8_t chunk_tail[PNG_CHUNK_CRC_BYTES];
    uint8_t block[STORED_BLOCK_BYTES_MAX];
};

// Hands zlib the next data chunk's body, without the stream's header; false
// when none is left.
static bool stored_png_feed(StoredPng* s)
{
    PngChunk chunk;
    while (s->feed_at < s->layout.end && png_next_chunk(s->png, s->layout.end, &s->feed_at, &chunk)) {
        if (!png_chunk_is(chunk, "IDAT"))
            continue;
        const size_t skipped = std::min<size_t>(s->skip, chunk.size);
        s->skip -= skipped;
        if (skipped == chunk.size)
            continue;
        s->z.next_in = const_cast<Bytef*>(chunk.frame + PNG_CHUNK_HEAD_BYTES + skipped);
        s->z.avail_in = static_cast<uInt>(chunk.size - skipped);
        return true;
    }
    return false;
}

// zlib refuses some broken data that the decoder's own inflater reads
// (codes that do not fill their table, symbols the format leaves unused, a
// stream whose last bytes are missing, which that inflater reads as zeros).
// The picture then loads as the decoder alone would load it: from what
// that inflater makes of the whole data, within the same limit. Some such
// data copies from output not yet written, so that starts zeroed.
// This runs inside the decoder's reading, so no allocation here may throw.
static bool stored_png_inflate_as_decoder(StoredPng* s)
{
    std::unique_ptr<uint8_t, decltype(&free)> joined(
        static_cast<uint8_t*>(malloc(s->layout.data_len)), &free);
    s->own_inflation = static_cast<uint8_t*>(calloc(s->data_max, 1));
    if (!joined || !s->own_inflation)
        return false;
    size_t joined_len = 0;
    size_t at = s->layout.first_data;
    PngChunk chunk;
    while (at < s->layout.end && png_next_chunk(s->png, s->layout.end, &at, &chunk)) {
        if (png_chunk_is(chunk, "IDAT")) {
            memcpy(joined.get() + joined_len, chunk.frame + PNG_CHUNK_HEAD_BYTES, chunk.size);
            joined_len += chunk.size;
        }
    }
    char* out = reinterpret_cast<char*>(s->own_inflation);
    const char* in = reinterpret_cast<const char*>(joined.get());
    const int out_len = static_cast<int>(s->data_max);
    const int in_len = static_cast<int>(joined_len);
    const int n = s->layout.zlib_header ? stbi_zlib_decode_buffer(out, out_len, in, in_len)
                                        : stbi_zlib_decode_noheader_buffer(out, out_len, in, in_len);
    s->own_len = n < 0 ? 0 : static_cast<size_t>(n);
    return n >= 0 && s->own_len >= s->inflated;
}

// Inflates up to room bytes of pixel data into out: *got of them, with
// *final set once the data has ended. False when it cannot be read.
static bool stored_png_inflate(StoredPng* s, uint8_t* out, size_t room, size_t* got, bool* final)
{
    if (s->own_inflation) {
        *got = std::min(room, s->own_len - s->inflated);
        memcpy(out, s->own_inflation + s->inflated, *got);
        *final = s->inflated + *got == s->own_len;
        // Nothing more is asked for after the last block, and the decoder
        // inflates what it was handed next: holding this copy through that
        // would double the picture's peak.
        if (*final) {
            free(s->own_inflation);
            s->own_inflation = nullptr;
        }
        return true;
    }
    s->z.next_out = out;
    s->z.avail_out = static_cast<uInt>(room);
    *final = false;
    while (s->z.avail_out > 0 && !*final) {
        // At the end of the data zlib may still have output to give, so it
        // is asked once more; it is stuck when it can give nothing.
        if (s->z.avail_in == 0)
            stored_png_feed(s);
        const int result = inflate(&s->z, Z_NO_FLUSH);
        *final = result == Z_STREAM_END;
        const bool stuck = result == Z_BUF_ERROR && s->z.avail_in == 0;
        if ((result != Z_OK && result != Z_BUF_ERROR && !*final) || stuck)
            return stored_png_inflate_as_decoder(s) && stored_png_inflate(s, out, room, got, final);
    }
    *got = room - s->z.avail_out;
    return true;
}

// Writes the next stored block of pixel data at out, which has room for
// STORED_BLOCK_BYTES_MAX, with the stream's header before the first block
// and its checksum after the last. The bytes written, or 0 when the data
// cannot be read or is longer than any PNG of its size holds.
static size_t stored_png_block(StoredPng* s, uint8_t* out)
{
    uint8_t* o = out;
    if (!s->head_passed) {
        memcpy(o, s->layout.zlib_head, png_header_bytes(s->layout));
        o += png_header_bytes(s->layout);
    }
    s->head_passed = true;
    uint8_t* head = o;
    o += STORED_BLOCK_HEAD_BYTES;
    // A byte of room past the limit: data that fills it is too long.
    const size_t room = std::min(STORED_BLOCK_MAX, s->data_max + 1 - s->inflated);
    size_t got = 0;
    bool final = false;
    if (!stored_png_inflate(s, o, room, &got, &final))
        return 0;
    s->inflated += got;
    if (s->inflated > s->data_max)
        return 0;
    const uint8_t block_head[] = {uint8_t(final), uint8_t(got), uint8_t(got >> 8), uint8_t(~got),
                                  uint8_t(~got >> 8)};
    memcpy(head, block_head, sizeof block_head);
    o += got;
    if (final && s->layout.zlib_header) {
        memset(o, 0, ZLIB_CHECKSUM_BYTES);
        o += ZLIB_CHECKSUM_BYTES;
    }
    s->data_passed = final;
    return static_cast<size_t>(o - out);
}

// Moves on to the next part of the PNG to pass on; false at the end.
static bool stored_png_next(StoredPng* s)
{
    while (s->at < s->layout.end) {
        const size_t chunk_at = s->at;
        PngChunk chunk;
        if (!png_next_chunk(s->png, s->layout.end, &s->at, &chunk))
            return false;
        if (chunk_at == s->layout.first_data) {
            s->ready = s->chunk_head;
            s->ready_len = sizeof s->chunk_head;
            s->data_left = png_get_u32(s->chunk_head);
            s->tail_pending = true;
            return true;
        }
        if (!png_chunk_is(chunk, "IDAT")) {
            s->ready = s->png + chunk_at;
            s->ready_len = s->at - chunk_at;
            return true;
        }
    }
    return false;
}

// Passes on the next bytes of the data chunk's body, up to wanted, to out
// (null: skipped). Returns how many went straight there; a block made to be
// passed on in smaller readings is left ready instead.
static size_t stored_png_pass_data(StoredPng* s, uint8_t* out, size_t wanted)
{
    if (s->data_passed) {
        const size_t padding = std::min(wanted, s->data_left);
        s->data_left -= padding;
        return padding;
    }
    // A whole block goes straight into the decoder's buffer.
    const bool in_place = out && wanted >= STORED_BLOCK_BYTES_MAX;
    const size_t n = stored_png_block(s, in_place ? out : s->block);
    s->failed = n == 0 || n > s->data_left;
    if (s->failed)
        return 0;
    s->data_left -= n;
    if (in_place)
        return n;
    s->ready = s->block;
    s->ready_len = n;
    return 0;
}

// Passes on up to wanted bytes to out (null: skipped); how many. Fewer at
// the end, and on a failure, which the decoder sees as a file cut short.
static size_t stored_png_pass(StoredPng* s, uint8_t* out, size_t wanted)
{
    size_t passed = 0;
    while (passed < wanted && !s->failed) {
        uint8_t* to = out ? out + passed : nullptr;
        if (s->ready_len > 0) {
            const size_t n = std::min(s->ready_len, wanted - passed);
            if (to)
                memcpy(to, s->ready, n);
            s->ready += n;
            s->ready_len -= n;
            passed += n;
        } else if (s->data_left > 0) {
            passed += stored_png_pass_data(s, to, wanted - passed);
        } else if (s->tail_pending) {
            s->tail_pending = false;
            s->ready = s->chunk_tail;
            s->ready_len = sizeof s->chunk_tail;
        } else if (!stored_png_next(s)) {
            break;
        }
    }
    return passed;
}

static int stored_png_read(void* user, char* data, int size)
{
    const size_t wanted = size > 0 ? static_cast<size_t>(size) : 0;
    uint8_t* out = reinterpret_cast<uint8_t*>(data);
    // The data chunk is asked for in one reading, straight into the decoder's
    // fresh buffer, which the stored blocks then fill.
    if (wanted > STORED_BLOCK_BYTES_MAX)
        plat_advise_large_write(out, wanted);
    return static_cast<int>(stored_png_pass(static_cast<StoredPng*>(user), out, wanted));
}

// The decoder skips forward only.
static void stored_png_skip(void* user, int n)
{
    stored_png_pass(static_cast<StoredPng*>(user), nullptr, n > 0 ? static_cast<size_t>(n) : 0);
}

static int stored_png_eof(void* user)
{
    StoredPng* s = static_cast<StoredPng*>(user);
    const bool more = s->ready_len > 0 || s->data_left > 0 || s->tail_pending || stored_png_next(s);
    return s->failed || !more;
}

// The longest stream data_max bytes of pixel data take in stored blocks.
static size_t stored_stream_max(size_t data_max, bool zlib_header)
{
    const size_t frame = zlib_header ? ZLIB_HEADER_BYTES + ZLIB_CHECKSUM_BYTES : 0;
    return frame + (data_max / STORED_BLOCK_MAX + 1) * STORED_BLOCK_HEAD_BYTES + data_max;
}

uint8_t* img_decode_png_rgba(const uint8_t* png, size_t len, int* w, int* h)
{
    if (!img_is_png(png, len) || len > INT_MAX)
        return nullptr;
    // Zeroed, as zlib wants its stream record.
    std::unique_ptr<StoredPng> s(new (std::nothrow) StoredPng());
    if (!s || !png_read_layout(png, len, &s->layout) || inflateInit2(&s->z, -ZLIB_WINDOW_BITS) != Z_OK)
        return nullptr;
    s->png = png;
    s->data_max = static_cast<size_t>(png_data_max(s->layout.w, s->layout.h));
    const size_t stream_max = stored_stream_max(s->data_max, s->layout.zlib_header);
    png_put_u32(s->chunk_head, static_cast<uint32_t>(stream_max));
    memcpy(s->chunk_head + PNG_CHUNK_TYPE_AT, "IDAT", 4);
    s->at = sizeof PNG_SIGNATURE;
    s->ready = png;
    s->ready_len = sizeof PNG_SIGNATURE;
    s->feed_at = s->layout.first_data;
    s->skip = png_header_bytes(s->layout);
    const stbi_io_callbacks io = {stored_png_read, stored_png_skip, stored_png_eof};
    int channels = 0;
    uint8_t* pixels = stbi_load_from_callbacks(&io, s.get(), w, h, &channels, PICTURE_CHANNELS);
    inflateEnd(&s->z);
    free(s->own_inflation);
    if (pixels && s->failed) {
        stbi_image_free(pixels);
        pixels = nullptr;
    }
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

// Decodes a picture read into a malloc'd buffer, which goes either way.
static uint8_t* img_decode_rgba_read(SDL_Renderer* renderer, uint8_t* bytes, size_t len, int* w, int* h)
{
    uint8_t* pixels = bytes ? img_decode_rgba(renderer, bytes, len, w, h) : nullptr;
    free(bytes);
    return pixels;
}

uint8_t* img_decode_rgba_file(SDL_Renderer* renderer, const char* path, int* w, int* h)
{
    size_t len = 0;
    uint8_t* bytes = arc_read_file(path, IMG_FILE_CAP, &len);
    return img_decode_rgba_read(renderer, bytes, len, w, h);
}

uint8_t* img_decode_rgba_asset(SDL_Renderer* renderer, const char* name, int* w, int* h)
{
    size_t len = 0;
    uint8_t* bytes = asset_read_capped(name, IMG_FILE_CAP, &len);
    return img_decode_rgba_read(renderer, bytes, len, w, h);
}

bool img_load_texture(const char* name, SDL_Renderer* renderer, SDL_Texture** out_texture,
                      uint32_t* out_w, uint32_t* out_h)
{
    int w = 0;
    int h = 0;
    uint8_t* pixels = img_decode_rgba_asset(renderer, name, &w, &h);
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
