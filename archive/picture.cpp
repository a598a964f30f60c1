// Turns a picture asset (any format stb_image reads) into a static texture,
// and checks every picture's declared size before it is decoded.
#include "archive.h"

#include <SDL.h>
#include <stb_image.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

constexpr int PICTURE_CHANNELS = 4;

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
    return w >= 1 && h >= 1 && w <= max_w && h <= max_h;
}

uint8_t* img_decode_rgba(SDL_Renderer* renderer, const uint8_t* bytes, size_t len, int* w, int* h)
{
    // The decoder takes an int length; a file that large is no picture of ours.
    if (!bytes || len == 0 || len > INT_MAX)
        return nullptr;
    const int length = static_cast<int>(len);
    int channels = 0;
    // A picture the renderer could not hold is refused from its header, before
    // the decoder allocates what it declares.
    if (!stbi_info_from_memory(bytes, length, w, h, &channels) || !img_size_fits(renderer, *w, *h))
        return nullptr;
    return stbi_load_from_memory(bytes, length, w, h, &channels, PICTURE_CHANNELS);
}

uint8_t* img_decode_rgba_file(SDL_Renderer* renderer, const char* path, int* w, int* h)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return nullptr;
    int channels = 0;
    uint8_t* pixels = nullptr;
    // The header read puts the stream back where it was, so the decoder reads
    // the very file that was checked.
    if (stbi_info_from_file(file, w, h, &channels) && img_size_fits(renderer, *w, *h))
        pixels = stbi_load_from_file(file, w, h, &channels, PICTURE_CHANNELS);
    fclose(file);
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
