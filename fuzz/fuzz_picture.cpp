// Arbitrary bytes as a picture, the font atlas or the splash image, read from
// base.dat by that one's own loader onto a software renderer. The first byte
// picks the loader (modulo 3); the rest is the file. One file per input, as
// in the game, keeps each input's memory that of one decode.
#include "fuzz_support.h"

// The splash fades in over a second of real time; here each reading of the
// clock is a second after the one before, so it is drawn once and returns.
extern "C" Uint32 SDL_GetTicks(void)
{
    static Uint32 now = 0;
    now += SPLASH_FADE_MS;
    return now;
}

enum Loader { LOADER_PICTURE, LOADER_ATLAS, LOADER_SPLASH, LOADER_COUNT };

static void load_picture(SDL_Renderer* renderer)
{
    SDL_Texture* picture = nullptr;
    uint32_t w = 0;
    uint32_t h = 0;
    if (img_load_texture("img/000.png", renderer, &picture, &w, &h))
        SDL_DestroyTexture(picture);
}

static void load_atlas(SDL_Renderer* renderer)
{
    if (SDL_Texture* atlas = font_load(renderer, "FONT_ATLAS_SD.PNG"))
        SDL_DestroyTexture(atlas);
}

static void load_splash(SDL_Renderer* renderer)
{
    static Engine* engine = new Engine;
    engine_init(engine, 0);
    engine->renderer = renderer;
    if (splash_run(engine) != 0)
        return;
    SDL_Event start = {};
    start.type = SDL_KEYDOWN;
    start.key.keysym.sym = SDLK_SPACE;
    SDL_PushEvent(&start);
    splash_finish(engine, 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    fuzz_open_base({"img/000.png", "FONT_ATLAS_SD.PNG", "splash.png"}, data + 1, size - 1);
    SDL_Renderer* renderer = fuzz_renderer();
    switch (data[0] % LOADER_COUNT) {
    case LOADER_PICTURE: load_picture(renderer); break;
    case LOADER_ATLAS: load_atlas(renderer); break;
    default: load_splash(renderer); break;
    }
    arc_close(&g_arc_base);
    return 0;
}
