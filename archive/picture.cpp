// Turns a picture asset (any format stb_image reads) into a static texture.
#include "archive.h"

#include <SDL.h>
#include <stb_image.h>

#include <climits>
#include <cstdlib>

constexpr int PICTURE_CHANNELS = 4;

bool img_load_texture(const char* name, SDL_Renderer* renderer, SDL_Texture** out_texture,
                      uint32_t* out_w, uint32_t* out_h)
{
    size_t len = 0;
    uint8_t* bytes = asset_read_impl(name, &len);
    if (!bytes)
        return false;
    // The decoder takes an int length; a file that large is no picture of ours.
    if (len > INT_MAX) {
        free(bytes);
        return false;
    }

    int w = 0;
    int h = 0;
    int file_channels = 0;
    uint8_t* pixels = stbi_load_from_memory(bytes, static_cast<int>(len), &w, &h, &file_channels,
                                            PICTURE_CHANNELS);
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
