// The about panel: a modal panel drawn over the game's frame with the
// engine's font. While it is open the game takes no input and does not run.
#include "app.h"
#include "screen.h"

#include <SDL.h>

#include <cstring>

// The caption sits above the panel's client area, as a window's would; the
// two together are centred on the screen.
constexpr int32_t CAPTION_HEIGHT = 20;
constexpr int32_t PANEL_X = (SCREEN_WIDTH - ABOUT_WIDTH) / 2;
constexpr int32_t PANEL_Y = (SCREEN_HEIGHT - ABOUT_HEIGHT - CAPTION_HEIGHT) / 2 + CAPTION_HEIGHT;
constexpr int32_t ABOUT_SPLIT_Y = 216;
constexpr uint32_t WAIT_SLICE_MS = 16;

constexpr uint32_t COLOUR_UPPER = 0xFFFFFF;
constexpr uint32_t COLOUR_LOWER = 0xF2F2F2;
constexpr uint32_t COLOUR_SPLIT = 0xD6D6D6;
constexpr uint32_t COLOUR_TEXT = 0x000000;
constexpr uint32_t COLOUR_LINK = 0x0066CC;
constexpr uint32_t COLOUR_NOTICE = 0x5A5A5A;
constexpr uint32_t COLOUR_BUTTON_FACE = 0xE1E1E1;
constexpr uint32_t COLOUR_BUTTON_BORDER = 0x0078D7;
constexpr uint32_t COLOUR_FRAME = 0x707070;
constexpr uint32_t COLOUR_CAPTION = 0x0078D7;
constexpr uint32_t COLOUR_CAPTION_TEXT = 0xFFFFFF;

struct Place {
    int32_t x, y, w, h;  // within the panel's client area
};

constexpr Place CAPTION = {0, -CAPTION_HEIGHT, ABOUT_WIDTH, CAPTION_HEIGHT};
constexpr Place CLOSE_BOX = {ABOUT_WIDTH - 28, -CAPTION_HEIGHT, 28, CAPTION_HEIGHT};
constexpr Place TITLE = {68, 18, 342, 30};
constexpr Place TAGLINE = {20, 68, 390, 18};
constexpr Place CREDIT = {20, 88, 390, 18};
constexpr Place LINK = {20, 126, 390, 18};
constexpr Place NOTICE = {20, 230, 390, 78};
constexpr Place OK_BUTTON = {330, 306, 80, 28};
constexpr int32_t CAPTION_TEXT_X = 8;
constexpr int32_t CAPTION_TEXT_DROP = 2;
constexpr int32_t LINK_UNDERLINE_DROP = 16;
// The title's face: the engine's font drawn twice a pixel apart (bold) and
// enlarged by TITLE_GROWTH_NUM / TITLE_GROWTH_DEN.
constexpr int32_t TITLE_BOLD_OFFSET = 1;
constexpr int32_t TITLE_GROWTH_NUM = 3;
constexpr int32_t TITLE_GROWTH_DEN = 2;

static const char CAPTION_TEXT[] = "About Kavrel Engine";
static const char CLOSE_TEXT[] = "x";
static const char TITLE_TEXT[] = "Kavrel Engine v0.7";
static const char TAGLINE_TEXT[] = "An unofficial fan-made project.";
static const char CREDIT_TEXT[] = "Engine (c) 2026 the Kavrel Engine developers.";
static const char LINK_URL[] = "https://kavrel.example.org/";
static const char NOTICE_TEXT[] =
    "Sorvella, its story, art and music belong to\n"
    "their respective rights holders. This engine\n"
    "is not affiliated with or endorsed by them.";
static const char OK_TEXT[] = "OK";

static int32_t text_width(const char* text)
{
    return static_cast<int32_t>(strlen(text)) * FONT_HALF_WIDTH;
}

static bool place_contains(const Place& place, int32_t x, int32_t y)
{
    const int32_t px = x - PANEL_X, py = y - PANEL_Y;
    return px >= place.x && px < place.x + place.w && py >= place.y && py < place.y + place.h;
}

AboutHit about_hit(int32_t x, int32_t y)
{
    if (place_contains(OK_BUTTON, x, y))
        return ABOUT_HIT_OK;
    if (place_contains(CLOSE_BOX, x, y))
        return ABOUT_HIT_CLOSE;
    if (place_contains(LINK, x, y))
        return ABOUT_HIT_LINK;
    return ABOUT_HIT_NONE;
}

static SDL_Rect screen_rect(const Place& place, int32_t scale)
{
    return {(PANEL_X + place.x) * scale, (PANEL_Y + place.y) * scale, place.w * scale,
            place.h * scale};
}

static void fill(SDL_Renderer* renderer, const Place& place, uint32_t colour, int32_t scale)
{
    SDL_SetRenderDrawColor(renderer, (colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF,
                           SDL_ALPHA_OPAQUE);
    const SDL_Rect rect = screen_rect(place, scale);
    SDL_RenderFillRect(renderer, &rect);
}

static void text(SDL_Renderer* renderer, int32_t x, int32_t y, const char* s, uint32_t colour,
                 int32_t scale)
{
    font_draw_string(renderer, (PANEL_X + x) * scale, (PANEL_Y + y) * scale, s, colour);
}

// The title in its own texture, transparent around the letters; null when
// no target texture can be made (the title is then drawn like the body).
static SDL_Texture* make_title(SDL_Renderer* renderer)
{
    const int32_t font_scale = font_get_scale();
    const int32_t w = text_width(TITLE_TEXT) * font_scale + TITLE_BOLD_OFFSET;
    const int32_t h = FONT_HEIGHT * font_scale;
    SDL_Texture* title =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA8888, SDL_TEXTUREACCESS_TARGET, w, h);
    if (!title)
        return nullptr;
    SDL_SetTextureBlendMode(title, SDL_BLENDMODE_BLEND);
    SDL_Texture* previous = SDL_GetRenderTarget(renderer);
    SDL_SetRenderTarget(renderer, title);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_TRANSPARENT);
    SDL_RenderClear(renderer);
    font_draw_string(renderer, 0, 0, TITLE_TEXT, COLOUR_TEXT);
    font_draw_string(renderer, TITLE_BOLD_OFFSET, 0, TITLE_TEXT, COLOUR_TEXT);
    SDL_SetRenderTarget(renderer, previous);
    return title;
}

// The enlarged title, centred in the height of its control.
static void draw_title(SDL_Renderer* renderer, SDL_Texture* title, int32_t scale)
{
    if (!title) {
        text(renderer, TITLE.x, TITLE.y + (TITLE.h - FONT_HEIGHT) / 2, TITLE_TEXT, COLOUR_TEXT, scale);
        return;
    }
    int w = 0, h = 0;
    SDL_QueryTexture(title, nullptr, nullptr, &w, &h);
    w = w * TITLE_GROWTH_NUM / TITLE_GROWTH_DEN;
    h = h * TITLE_GROWTH_NUM / TITLE_GROWTH_DEN;
    const SDL_Rect control = screen_rect(TITLE, scale);
    const SDL_Rect place = {control.x, control.y + (control.h - h) / 2, w, h};
    SDL_RenderCopy(renderer, title, nullptr, &place);
}

static void draw_panel(SDL_Renderer* renderer, SDL_Texture* title, int32_t scale)
{
    fill(renderer, {-1, -CAPTION_HEIGHT - 1, ABOUT_WIDTH + 2, ABOUT_HEIGHT + CAPTION_HEIGHT + 2},
         COLOUR_FRAME, scale);
    fill(renderer, CAPTION, COLOUR_CAPTION, scale);
    text(renderer, CAPTION_TEXT_X, CAPTION.y + CAPTION_TEXT_DROP, CAPTION_TEXT, COLOUR_CAPTION_TEXT,
         scale);
    text(renderer, CLOSE_BOX.x + (CLOSE_BOX.w - text_width(CLOSE_TEXT)) / 2,
         CLOSE_BOX.y + CAPTION_TEXT_DROP, CLOSE_TEXT, COLOUR_CAPTION_TEXT, scale);
    fill(renderer, {0, 0, ABOUT_WIDTH, ABOUT_SPLIT_Y}, COLOUR_UPPER, scale);
    fill(renderer, {0, ABOUT_SPLIT_Y, ABOUT_WIDTH, ABOUT_HEIGHT - ABOUT_SPLIT_Y}, COLOUR_LOWER,
         scale);
    fill(renderer, {0, ABOUT_SPLIT_Y, ABOUT_WIDTH, 1}, COLOUR_SPLIT, scale);

    draw_title(renderer, title, scale);
    text(renderer, TAGLINE.x, TAGLINE.y, TAGLINE_TEXT, COLOUR_TEXT, scale);
    text(renderer, CREDIT.x, CREDIT.y, CREDIT_TEXT, COLOUR_TEXT, scale);
    text(renderer, LINK.x, LINK.y, LINK_URL, COLOUR_LINK, scale);
    fill(renderer, {LINK.x, LINK.y + LINK_UNDERLINE_DROP, text_width(LINK_URL), 1}, COLOUR_LINK,
         scale);
    text(renderer, NOTICE.x, NOTICE.y, NOTICE_TEXT, COLOUR_NOTICE, scale);

    fill(renderer, OK_BUTTON, COLOUR_BUTTON_BORDER, scale);
    fill(renderer, {OK_BUTTON.x + 1, OK_BUTTON.y + 1, OK_BUTTON.w - 2, OK_BUTTON.h - 2},
         COLOUR_BUTTON_FACE, scale);
    text(renderer, OK_BUTTON.x + (OK_BUTTON.w - text_width(OK_TEXT)) / 2,
         OK_BUTTON.y + (OK_BUTTON.h - FONT_HEIGHT) / 2, OK_TEXT, COLOUR_TEXT, scale);
}

static void draw(Engine* engine, SDL_Texture* title)
{
    SDL_Renderer* renderer = engine->renderer;
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderClear(renderer);
    gfx_compose_frame(engine);
    draw_panel(renderer, title, engine_scale(engine));
    SDL_RenderPresent(renderer);
}

// The panel is modal: the window's keys and mouse are its own. Every other
// event (a resize, lost render targets, a quit) stays queued for the game,
// which handles it once the panel is gone.
static bool take_input(SDL_Event* event)
{
    return SDL_PeepEvents(event, 1, SDL_GETEVENT, SDL_KEYDOWN, SDL_TEXTINPUT) == 1 ||
           SDL_PeepEvents(event, 1, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEWHEEL) == 1;
}

static int note_quit(void* found, SDL_Event* event)
{
    if (event->type == SDL_QUIT ||
        (event->type == SDL_WINDOWEVENT && event->window.event == SDL_WINDOWEVENT_CLOSE))
        *static_cast<bool*>(found) = true;
    return 1;  // every event stays queued
}

// A quit or a close of the window waiting for the game ends the panel.
static bool quit_waiting()
{
    bool found = false;
    SDL_FilterEvents(note_quit, &found);
    return found;
}

// True when the event closes the panel.
static bool handle(Engine* engine, const SDL_Event& event)
{
    const int32_t scale = engine_scale(engine);
    switch (event.type) {
    case SDL_KEYDOWN:
        return event.key.keysym.sym == SDLK_ESCAPE || event.key.keysym.sym == SDLK_RETURN ||
               event.key.keysym.sym == SDLK_KP_ENTER;
    case SDL_MOUSEMOTION:
        SDL_SetCursor(about_hit(event.motion.x / scale, event.motion.y / scale) == ABOUT_HIT_LINK
                          ? g_cursor_hand
                          : g_cursor_arrow);
        return false;
    case SDL_MOUSEBUTTONDOWN: {
        if (event.button.button != SDL_BUTTON_LEFT)
            return false;
        const AboutHit hit = about_hit(event.button.x / scale, event.button.y / scale);
        if (hit == ABOUT_HIT_LINK)
            SDL_OpenURL(LINK_URL);
        return hit == ABOUT_HIT_OK || hit == ABOUT_HIT_CLOSE;
    }
    default:
        return false;
    }
}

void about_show_dialog(Engine* engine)
{
    if (!engine->renderer)
        return;
    SDL_Texture* title = make_title(engine->renderer);
    bool open = true;
    while (open) {
        draw(engine, title);
        SDL_Delay(WAIT_SLICE_MS);
        SDL_PumpEvents();
        SDL_Event event;
        while (open && take_input(&event))
            open = !handle(engine, event);
        if (quit_waiting())
            open = false;
    }
    if (title)
        SDL_DestroyTexture(title);
    SDL_SetCursor(g_cursor_arrow);
}
