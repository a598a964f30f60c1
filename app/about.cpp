// The about panel: a modal panel drawn over the game's frame with the
// engine's font. While it is open the game takes no input and does not run.
#include "app.h"
#include "screen.h"

#include <SDL.h>

constexpr int32_t PANEL_X = (SCREEN_WIDTH - ABOUT_WIDTH) / 2;
constexpr int32_t PANEL_Y = (SCREEN_HEIGHT - ABOUT_HEIGHT) / 2;
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

struct Place {
    int32_t x, y, w, h;  // within the panel
};

constexpr Place TITLE = {68, 18, 342, 30};
constexpr Place TAGLINE = {20, 68, 390, 18};
constexpr Place CREDIT = {20, 88, 390, 18};
constexpr Place LINK = {20, 126, 390, 18};
constexpr Place NOTICE = {20, 230, 390, 78};
constexpr Place OK_BUTTON = {330, 306, 80, 28};
constexpr int32_t TITLE_TEXT_DROP = 6;
constexpr int32_t LINK_UNDERLINE_DROP = 16;

static const char TITLE_TEXT[] = "Kavrel Engine v0.7";
static const char TAGLINE_TEXT[] = "An unofficial fan-made project.";
static const char CREDIT_TEXT[] = "Engine (c) 2026 the Kavrel Engine developers.";
static const char LINK_URL[] = "https://kavrel.example.org/";
static const char NOTICE_TEXT[] =
    "Sorvella, its story, art and music belong to\n"
    "their respective rights holders. This engine\n"
    "is not affiliated with or endorsed by them.";
static const char OK_TEXT[] = "OK";

static bool place_contains(const Place& place, int32_t x, int32_t y)
{
    const int32_t px = x - PANEL_X, py = y - PANEL_Y;
    return px >= place.x && px < place.x + place.w && py >= place.y && py < place.y + place.h;
}

AboutHit about_hit(int32_t x, int32_t y)
{
    if (place_contains(OK_BUTTON, x, y))
        return ABOUT_HIT_OK;
    // Only the address itself is the link, not the empty rest of its line.
    const Place link_text = {LINK.x, LINK.y, static_cast<int32_t>(sizeof LINK_URL - 1) * FONT_HALF_WIDTH,
                             LINK.h};
    if (place_contains(link_text, x, y))
        return ABOUT_HIT_LINK;
    return ABOUT_HIT_NONE;
}

static void fill(SDL_Renderer* renderer, const Place& place, uint32_t colour, int32_t scale)
{
    SDL_SetRenderDrawColor(renderer, (colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF,
                           SDL_ALPHA_OPAQUE);
    const SDL_Rect rect = {(PANEL_X + place.x) * scale, (PANEL_Y + place.y) * scale,
                           place.w * scale, place.h * scale};
    SDL_RenderFillRect(renderer, &rect);
}

static void text(SDL_Renderer* renderer, int32_t x, int32_t y, const char* s, uint32_t colour,
                 int32_t scale)
{
    font_draw_string(renderer, (PANEL_X + x) * scale, (PANEL_Y + y) * scale, s, colour);
}

static void draw_panel(SDL_Renderer* renderer, int32_t scale)
{
    fill(renderer, {-1, -1, ABOUT_WIDTH + 2, ABOUT_HEIGHT + 2}, COLOUR_FRAME, scale);
    fill(renderer, {0, 0, ABOUT_WIDTH, ABOUT_SPLIT_Y}, COLOUR_UPPER, scale);
    fill(renderer, {0, ABOUT_SPLIT_Y, ABOUT_WIDTH, ABOUT_HEIGHT - ABOUT_SPLIT_Y}, COLOUR_LOWER,
         scale);
    fill(renderer, {0, ABOUT_SPLIT_Y, ABOUT_WIDTH, 1}, COLOUR_SPLIT, scale);

    text(renderer, TITLE.x, TITLE.y + TITLE_TEXT_DROP, TITLE_TEXT, COLOUR_TEXT, scale);
    text(renderer, TAGLINE.x, TAGLINE.y, TAGLINE_TEXT, COLOUR_TEXT, scale);
    text(renderer, CREDIT.x, CREDIT.y, CREDIT_TEXT, COLOUR_TEXT, scale);
    text(renderer, LINK.x, LINK.y, LINK_URL, COLOUR_LINK, scale);
    fill(renderer,
         {LINK.x, LINK.y + LINK_UNDERLINE_DROP,
          static_cast<int32_t>(sizeof LINK_URL - 1) * FONT_HALF_WIDTH, 1},
         COLOUR_LINK, scale);
    text(renderer, NOTICE.x, NOTICE.y, NOTICE_TEXT, COLOUR_NOTICE, scale);

    fill(renderer, OK_BUTTON, COLOUR_BUTTON_BORDER, scale);
    fill(renderer, {OK_BUTTON.x + 1, OK_BUTTON.y + 1, OK_BUTTON.w - 2, OK_BUTTON.h - 2},
         COLOUR_BUTTON_FACE, scale);
    const int32_t ok_w = static_cast<int32_t>(sizeof OK_TEXT - 1) * FONT_HALF_WIDTH;
    text(renderer, OK_BUTTON.x + (OK_BUTTON.w - ok_w) / 2, OK_BUTTON.y + (OK_BUTTON.h - FONT_HEIGHT) / 2,
         OK_TEXT, COLOUR_TEXT, scale);
}

static void draw(Engine* engine)
{
    SDL_Renderer* renderer = engine->renderer;
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderClear(renderer);
    gfx_compose_frame(engine);
    draw_panel(renderer, engine_scale(engine));
    SDL_RenderPresent(renderer);
}

static void set_cursor(SDL_Cursor* cursor)
{
    if (cursor)
        SDL_SetCursor(cursor);
}

// True when the event closes the panel.
static bool handle(Engine* engine, SDL_Event& event)
{
    const int32_t scale = engine_scale(engine);
    switch (event.type) {
    case SDL_QUIT:
        // The game still has to see the quit once the panel is gone.
        SDL_PushEvent(&event);
        return true;
    case SDL_WINDOWEVENT:
        if (event.window.event != SDL_WINDOWEVENT_CLOSE)
            return false;
        SDL_PushEvent(&event);
        return true;
    case SDL_KEYDOWN:
        return event.key.keysym.sym == SDLK_ESCAPE || event.key.keysym.sym == SDLK_RETURN ||
               event.key.keysym.sym == SDLK_KP_ENTER;
    case SDL_MOUSEMOTION:
        set_cursor(about_hit(event.motion.x / scale, event.motion.y / scale) == ABOUT_HIT_LINK
                       ? g_cursor_hand
                       : g_cursor_arrow);
        return false;
    case SDL_MOUSEBUTTONDOWN: {
        if (event.button.button != SDL_BUTTON_LEFT)
            return false;
        const AboutHit hit = about_hit(event.button.x / scale, event.button.y / scale);
        if (hit == ABOUT_HIT_LINK)
            SDL_OpenURL(LINK_URL);
        return hit == ABOUT_HIT_OK;
    }
    default:
        return false;
    }
}

void about_show_dialog(Engine* engine)
{
    if (!engine->renderer)
        return;
    bool open = true;
    while (open) {
        draw(engine);
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, WAIT_SLICE_MS))
            open = !handle(engine, event);
    }
    set_cursor(g_cursor_arrow);
}
