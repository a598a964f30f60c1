// The loading screen shown while the engine starts: the splash image fading
// in, the version, one status line per start-up stage, a progress bar, and
// finally the start prompt. Everything is drawn straight into the window.
#include "screen.h"

#include "archive.h"

#include <SDL.h>
#include <stb_image.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

SplashState g_splash = {};

constexpr const char* SPLASH_ASSET_NAME = "splash.png";
constexpr const char* const SPLASH_LOOSE_FILES[] = {
    "assets/splash.png", "../../assets/splash.png", "../assets/splash.png", "splash.png"};
constexpr int SPLASH_RGBA_CHANNELS = 4;

constexpr char SPLASH_VERSION_TEXT[] = "v0.7";
constexpr char SPLASH_PROMPT_TEXT[] = "Press SPACE or TAP to start";
constexpr int32_t SPLASH_VERSION_CHARS = sizeof SPLASH_VERSION_TEXT - 1;
constexpr int32_t SPLASH_PROMPT_CHARS = sizeof SPLASH_PROMPT_TEXT - 1;

// Layout proportions of the screen; products are taken in single precision
// and truncated, which is why 0.53 of 400 lands on 211.
constexpr float SPLASH_LINE_PITCH_FACTOR = 1.15f;
constexpr float SPLASH_VERSION_Y_FACTOR = 0.53f;
constexpr float SPLASH_LINES_Y_FACTOR = 0.58f;
constexpr float SPLASH_BAR_Y_FACTOR = 0.82f;
constexpr float SPLASH_BAR_X_FACTOR = 0.2f;
constexpr float SPLASH_PROMPT_Y_FACTOR = 0.9f;
constexpr float SPLASH_LOGO_MAX_WIDTH_FACTOR = 0.55f;
constexpr int32_t SPLASH_BAR_HEIGHT = 3;

constexpr uint32_t SPLASH_FRAME_MS = 16;
constexpr uint32_t SPLASH_ALPHA_OPAQUE = 255;
constexpr int SPLASH_QUIT_STATUS = 0;

constexpr uint32_t SPLASH_VERSION_COLOUR = 0x888888;
constexpr uint32_t SPLASH_DONE_COLOUR = 0x44CC44;
constexpr uint32_t SPLASH_RUNNING_COLOUR = 0xFFFFFF;
constexpr uint32_t SPLASH_PROMPT_COLOUR = 0x999999;
constexpr SDL_Color SPLASH_BACKGROUND = {0, 0, 0, SDL_ALPHA_OPAQUE};
constexpr SDL_Color SPLASH_BAR_TRACK = {30, 30, 30, SDL_ALPHA_OPAQUE};
constexpr SDL_Color SPLASH_BAR_FILL = {68, 204, 68, SDL_ALPHA_OPAQUE};

static int32_t splash_scaled(int32_t value, float factor)
{
    return static_cast<int32_t>(static_cast<float>(value) * factor);
}

// x at which `chars` single-byte characters stand centred on the screen.
static int32_t splash_centred_x(int32_t screen_w, int32_t chars, int32_t char_w)
{
    return (screen_w - chars * char_w) / 2;
}

static int32_t splash_bar_x(int32_t screen_w)
{
    return splash_scaled(screen_w, SPLASH_BAR_X_FACTOR);
}

SplashGeometry splash_geometry(uint8_t hd)
{
    const int32_t k = hd ? 2 : 1;
    SplashGeometry g = {};
    g.screen_w = SCREEN_WIDTH * k;
    g.screen_h = SCREEN_HEIGHT * k;
    g.char_w = FONT_HALF_WIDTH * k;
    g.char_h = FONT_HEIGHT * k;
    g.line_pitch = splash_scaled(g.char_h, SPLASH_LINE_PITCH_FACTOR);
    g.half_h = g.screen_h / 2;
    g.version_x = splash_centred_x(g.screen_w, SPLASH_VERSION_CHARS, g.char_w);
    g.version_y = splash_scaled(g.screen_h, SPLASH_VERSION_Y_FACTOR);
    g.lines_y = splash_scaled(g.screen_h, SPLASH_LINES_Y_FACTOR);
    g.bar_x = splash_bar_x(g.screen_w);
    g.bar_y = splash_scaled(g.screen_h, SPLASH_BAR_Y_FACTOR);
    g.bar_w = g.screen_w - 2 * g.bar_x;
    g.prompt_x = splash_centred_x(g.screen_w, SPLASH_PROMPT_CHARS, g.char_w);
    g.prompt_y = splash_scaled(g.screen_h, SPLASH_PROMPT_Y_FACTOR);
    return g;
}

SplashRect splash_logo_rect(int32_t screen_w, int32_t half_h, int32_t image_w, int32_t image_h)
{
    SplashRect rect = {};
    if (image_w <= 0 || image_h <= 0)
        return rect;
    const float iw = static_cast<float>(image_w);
    const float ih = static_cast<float>(image_h);
    const float scale = std::min({static_cast<float>(screen_w) * SPLASH_LOGO_MAX_WIDTH_FACTOR / iw,
                                  static_cast<float>(screen_w) / iw, static_cast<float>(half_h) / ih});
    rect.w = static_cast<int32_t>(scale * iw);
    rect.h = static_cast<int32_t>(scale * ih);
    rect.x = (screen_w - rect.w) / 2;
    rect.y = (half_h - rect.h) / 2;
    return rect;
}

uint8_t splash_fade_alpha(uint32_t elapsed_ms)
{
    if (elapsed_ms >= SPLASH_FADE_MS)
        return SPLASH_ALPHA_OPAQUE;
    return static_cast<uint8_t>(elapsed_ms * SPLASH_ALPHA_OPAQUE / SPLASH_FADE_MS);
}

int32_t splash_bar_fill(int32_t finished, int32_t bar_w, int32_t stage_total)
{
    const int32_t fill = finished * bar_w / std::max(stage_total, 1);
    // More finished lines than stages would otherwise run the fill off the track.
    return std::min(fill, bar_w);
}

static void splash_destroy_logo()
{
    if (g_splash.logo)
        SDL_DestroyTexture(g_splash.logo);
    g_splash.logo = nullptr;
}

// The screen goes down for good; the lines stay as they were last shown.
static void splash_close()
{
    splash_destroy_logo();
    g_splash.active = 0;
}

void splash_activate(SDL_Texture* logo, int32_t image_w, int32_t image_h, uint8_t hd)
{
    if (g_splash.logo != logo)
        splash_destroy_logo();
    const SplashGeometry g = splash_geometry(hd);
    g_splash = SplashState{};
    g_splash.logo = logo;
    g_splash.logo_rect = splash_logo_rect(g.screen_w, g.half_h, image_w, image_h);
    g_splash.version_x = g.version_x;
    g_splash.version_y = g.version_y;
    g_splash.screen_w = g.screen_w;
    g_splash.screen_h = g.screen_h;
    g_splash.lines_y = g.lines_y;
    g_splash.char_w = g.char_w;
    g_splash.char_h = g.char_h;
    g_splash.line_pitch = g.line_pitch;
    g_splash.bar_y = g.bar_y;
    g_splash.stage_total = SPLASH_STAGE_TOTAL;
    g_splash.active = 1;
}

// The splash image as RGBA pixels (stbi_image_free them), from base.dat or
// else the first loose file that decodes; null when there is none. A picture
// larger than a texture or than IMG_PIXEL_CAP, or a file over IMG_FILE_CAP,
// counts as one that does not decode.
static uint8_t* splash_load_pixels(SDL_Renderer* renderer, int* w, int* h)
{
    uint8_t* pixels = img_decode_rgba_asset(renderer, SPLASH_ASSET_NAME, w, h);
    for (const char* path : SPLASH_LOOSE_FILES) {
        if (pixels)
            break;
        pixels = img_decode_rgba_file(renderer, path, w, h);
    }
    return pixels;
}

static bool splash_is_quit(const SDL_Event& event)
{
    return event.type == SDL_QUIT
           || (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
}

// Space (repeats too), any mouse button or a touch.
static bool splash_is_start(const SDL_Event& event)
{
    return (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_SPACE)
           || event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_FINGERDOWN;
}

// Closing the window during loading leaves at once: nothing has been changed
// that would need saving.
static void splash_quit()
{
    exit(SPLASH_QUIT_STATUS);
}

void splash_pump_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (splash_is_quit(event))
            splash_quit();
    }
}

static void splash_present(Engine* engine)
{
    splash_draw(engine);
    SDL_RenderPresent(engine->renderer);
}

int32_t splash_run(Engine* engine)
{
    if (!engine || !engine->renderer)
        return -1;
    // A screen left up by an earlier call would otherwise leak its logo.
    splash_destroy_logo();
    g_splash = SplashState{};

    int w = 0, h = 0;
    uint8_t* pixels = splash_load_pixels(engine->renderer, &w, &h);
    if (!pixels)
        return -1;
    SDL_Texture* logo = SDL_CreateTexture(engine->renderer, SDL_PIXELFORMAT_ABGR8888,
                                          SDL_TEXTUREACCESS_STATIC, w, h);
    if (!logo) {
        stbi_image_free(pixels);
        return -1;
    }
    SDL_UpdateTexture(logo, nullptr, pixels, w * SPLASH_RGBA_CHANNELS);
    SDL_SetTextureBlendMode(logo, SDL_BLENDMODE_BLEND);
    stbi_image_free(pixels);
    splash_activate(logo, w, h, engine->hd_mode);

    const uint32_t start = SDL_GetTicks();
    for (;;) {
        splash_pump_events();
        if (splash_fade_frame(engine, SDL_GetTicks() - start))
            return 0;
        SDL_Delay(SPLASH_FRAME_MS);
    }
}

bool splash_fade_frame(Engine* engine, uint32_t elapsed_ms)
{
    SDL_SetTextureAlphaMod(g_splash.logo, splash_fade_alpha(elapsed_ms));
    splash_present(engine);
    return elapsed_ms >= SPLASH_FADE_MS;
}

void splash_draw(Engine* engine)
{
    if (!engine || !engine->renderer)
        return;
    SDL_Renderer* renderer = engine->renderer;
    const SplashState& s = g_splash;

    SDL_SetRenderDrawColor(renderer, SPLASH_BACKGROUND.r, SPLASH_BACKGROUND.g, SPLASH_BACKGROUND.b,
                           SPLASH_BACKGROUND.a);
    SDL_RenderClear(renderer);
    if (s.logo) {
        const SDL_Rect dst = {s.logo_rect.x, s.logo_rect.y, s.logo_rect.w, s.logo_rect.h};
        SDL_RenderCopy(renderer, s.logo, nullptr, &dst);
    }
    font_draw_string(renderer, s.version_x, s.version_y, SPLASH_VERSION_TEXT, SPLASH_VERSION_COLOUR);

    int32_t finished = 0;
    for (int32_t i = 0; i < s.line_count; i++) {
        const SplashLine& line = s.lines[i];
        const int32_t length = static_cast<int32_t>(strlen(line.text));
        font_draw_string(renderer, splash_centred_x(s.screen_w, length, s.char_w),
                         s.lines_y + i * s.line_pitch, line.text,
                         line.done ? SPLASH_DONE_COLOUR : SPLASH_RUNNING_COLOUR);
        if (line.done)
            finished++;
    }

    const int32_t bar_x = splash_bar_x(s.screen_w);
    const int32_t bar_w = s.screen_w - 2 * bar_x;
    gfx_fill_rect(renderer, SPLASH_BAR_TRACK, bar_x, s.bar_y, bar_w, SPLASH_BAR_HEIGHT);
    const int32_t fill = splash_bar_fill(finished, bar_w, s.stage_total);
    if (fill > 0)
        gfx_fill_rect(renderer, SPLASH_BAR_FILL, bar_x, s.bar_y, fill, SPLASH_BAR_HEIGHT);
}

static void splash_mark_last_done()
{
    if (g_splash.line_count > 0)
        g_splash.lines[g_splash.line_count - 1].done = 1;
}

void splash_status(Engine* engine, const char* text)
{
    if (!g_splash.active || !engine || !engine->renderer || !text)
        return;
    splash_mark_last_done();
    if (g_splash.line_count < SPLASH_MAX_LINES) {
        SplashLine& line = g_splash.lines[g_splash.line_count];
        snprintf(line.text, sizeof line.text, "%s", text);
        line.done = 0;
        g_splash.line_count++;
    }
    if (engine->splash_pump_cb)
        engine->splash_pump_cb(engine);
    splash_pump_events();
    splash_present(engine);
}

// Takes events until the player starts; false when the queue ran dry first.
static bool splash_take_start_event()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (splash_is_quit(event))
            splash_quit();
        if (splash_is_start(event))
            return true;
    }
    return false;
}

void splash_finish(Engine* engine, uint32_t min_ms)
{
    if (!g_splash.active || !engine || !engine->renderer) {
        splash_close();
        return;
    }
    splash_mark_last_done();
    splash_present(engine);

    const uint32_t start = SDL_GetTicks();
    while (SDL_GetTicks() - start < min_ms) {
        if (engine->splash_pump_cb)
            engine->splash_pump_cb(engine);
        splash_pump_events();
        splash_present(engine);
        SDL_Delay(SPLASH_FRAME_MS);
    }

    const int32_t prompt_x = splash_centred_x(g_splash.screen_w, SPLASH_PROMPT_CHARS, g_splash.char_w);
    const int32_t prompt_y = splash_scaled(g_splash.screen_h, SPLASH_PROMPT_Y_FACTOR);
    for (;;) {
        if (engine->splash_pump_cb)
            engine->splash_pump_cb(engine);
        if (splash_take_start_event())
            break;
        splash_draw(engine);
        font_draw_string(engine->renderer, prompt_x, prompt_y, SPLASH_PROMPT_TEXT,
                         SPLASH_PROMPT_COLOUR);
        SDL_RenderPresent(engine->renderer);
        SDL_Delay(SPLASH_FRAME_MS);
    }
    splash_close();
}
