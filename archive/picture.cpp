// Turns a picture asset (any format stb_image reads) into a static texture,
// and checks every picture's declared size, and a PNG's data, before it is
// decoded.
#include "archive.h"

#include <SDL.h>
#include <stb_image.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

constexpr int PICTURE_CHANNELS = 4;

constexpr uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// A PNG chunk: a big-endian length, the type, the data, a checksum.
constexpr size_t PNG_CHUNK_TYPE_AT = 4;
constexpr size_t PNG_CHUNK_BODY_AT = 8;
constexpr size_t PNG_CHUNK_FRAME_BYTES = 12;
constexpr uint32_t PNG_IHDR_BYTES = 13;  // width and height come first
// The deepest pixel a PNG can hold: four channels of 16 bits.
constexpr int64_t PNG_MAX_PIXEL_BYTES = 8;

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

bool img_png_data_fits(const uint8_t* png, size_t len)
{
    if (!img_is_png(png, len) || len > INT_MAX)
        return false;
    int64_t w = 0;
    int64_t h = 0;
    bool zlib_header = true;
    // The data chunks are joined only when there are several; one is read in place.
    int idat_chunks = 0;
    const uint8_t* data = nullptr;
    size_t data_len = 0;
    std::vector<uint8_t> joined;
    size_t at = sizeof PNG_SIGNATURE;
    for (;;) {
        if (len - at < PNG_CHUNK_FRAME_BYTES)
            return false;
        const uint32_t size = png_get_u32(png + at);
        if (size > len - at - PNG_CHUNK_FRAME_BYTES)
            return false;
        const uint8_t* type = png + at + PNG_CHUNK_TYPE_AT;
        const uint8_t* body = png + at + PNG_CHUNK_BODY_AT;
        at += PNG_CHUNK_FRAME_BYTES + size;
        if (memcmp(type, "IEND", 4) == 0)
            break;
        if (memcmp(type, "IHDR", 4) == 0 && size == PNG_IHDR_BYTES && w == 0) {
            w = png_get_u32(body);
            h = png_get_u32(body + 4);
        } else if (memcmp(type, "CgBI", 4) == 0) {
            zlib_header = false;  // the decoder reads such data as bare deflate
        } else if (memcmp(type, "IDAT", 4) == 0) {
            if (++idat_chunks == 1) {
                data = body;
                data_len = size;
                continue;
            }
            if (idat_chunks == 2)
                joined.assign(data, data + data_len);
            joined.insert(joined.end(), body, body + size);
        }
    }
    if (!img_area_fits(w, h) || idat_chunks == 0)
        return false;
    if (idat_chunks > 1) {
        data = joined.data();
        data_len = joined.size();
    }
    // Untouched pages of the scratch cost nothing, so only what the stream
    // really inflates to is paid for.
    const int most = static_cast<int>(png_data_max(w, h));
    char* scratch = static_cast<char*>(malloc(static_cast<size_t>(most)));
    if (!scratch)
        return false;
    const char* stream = reinterpret_cast<const char*>(data);
    const int stream_len = static_cast<int>(data_len);
    const int inflated = zlib_header ? stbi_zlib_decode_buffer(scratch, most, stream, stream_len)
                                     : stbi_zlib_decode_noheader_buffer(scratch, most, stream, stream_len);
    free(scratch);
    return inflated >= 0;
}

uint8_t* img_decode_rgba(SDL_Renderer* renderer, const uint8_t* bytes, size_t len, int* w, int* h)
{
    if (!bytes || len == 0 || len > IMG_FILE_CAP)
        return nullptr;
    const int length = static_cast<int>(len);
    int channels = 0;
    // A picture the renderer could not hold is refused from its header, and a
    // PNG whose data outgrows its header from that data, before the decoder
    // allocates what either claims.
    if (!stbi_info_from_memory(bytes, length, w, h, &channels) || !img_size_fits(renderer, *w, *h) ||
        (img_is_png(bytes, len) && !img_png_data_fits(bytes, len)))
        return nullptr;
    return stbi_load_from_memory(bytes, length, w, h, &channels, PICTURE_CHANNELS);
}

uint8_t* img_decode_rgba_file(SDL_Renderer* renderer, const char* path, int* w, int* h)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return nullptr;
    long len = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        len = ftell(file);
    const bool sized = len > 0 && static_cast<unsigned long>(len) <= IMG_FILE_CAP &&
                       fseek(file, 0, SEEK_SET) == 0;
    uint8_t* bytes = sized ? static_cast<uint8_t*>(malloc(static_cast<size_t>(len))) : nullptr;
    const bool read = bytes && fread(bytes, 1, static_cast<size_t>(len), file) == static_cast<size_t>(len);
    fclose(file);
    uint8_t* pixels = read ? img_decode_rgba(renderer, bytes, static_cast<size_t>(len), w, h) : nullptr;
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
