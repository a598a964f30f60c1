#include "app.h"
#include "config.h"
#include "platform.h"

#include <SDL.h>

#include <cstdint>

// What the shell keeps of the main window between its events.
struct WindowTrack {
    ScreenRect normal;         // the last rectangle the window had neither maximised nor
                               // fullscreen, at a size the 16:10 rule keeps; until it has
                               // had one, the one it was placed at on opening
    int refused_w, refused_h;  // a size the window system would not give; 0 x 0 when none
    bool resize_pending;       // the rule waits for the pointer's buttons to be let go
};
static WindowTrack s_window_track = {};

ScreenRect win_usable_bounds(int display)
{
    SDL_Rect rect = {DEFAULT_USABLE_BOUNDS.x, DEFAULT_USABLE_BOUNDS.y, DEFAULT_USABLE_BOUNDS.w,
                     DEFAULT_USABLE_BOUNDS.h};
    // SDL leaves the rectangle alone when it cannot read the bounds, so the
    // default stands in for an unknown display.
    SDL_GetDisplayUsableBounds(display, &rect);
    return {rect.x, rect.y, rect.w, rect.h};
}

int win_fit_scale_in(const ScreenRect& usable, int base_w, int base_h)
{
    int avail_h = usable.h - MENU_TITLE_RESERVE;
    if (avail_h < base_h)
        avail_h = base_h;
    int scale = 1;
    while ((scale + 1) * base_w <= usable.w && (scale + 1) * base_h <= avail_h)
        scale++;
    return scale;
}

static int window_display(SDL_Window* window)
{
    int display = window ? SDL_GetWindowDisplayIndex(window) : 0;
    return display < 0 ? 0 : display;
}

static ScreenRect window_usable_bounds(SDL_Window* window)
{
    return win_usable_bounds(window_display(window));
}

// The client area's position and size, as the window system has them.
static ScreenRect window_client_rect(SDL_Window* window)
{
    ScreenRect rect;
    plat_window_client_rect(window, &rect.x, &rect.y, &rect.w, &rect.h);
    return rect;
}

void win_largest_fit(const ScreenRect& usable, int* w, int* h)
{
    // The widest width whose height, 5/8 of it rounded down, still fits.
    const int64_t avail_h = int64_t{usable.h} - MENU_TITLE_RESERVE;
    int64_t fit_w = (avail_h * ASPECT_WIDTH_PARTS + ASPECT_WIDTH_PARTS - 1) / ASPECT_HEIGHT_PARTS;
    if (fit_w > usable.w)
        fit_w = usable.w;
    if (fit_w < MIN_WINDOW_WIDTH)
        fit_w = MIN_WINDOW_WIDTH;
    const int64_t fit_h = fit_w * ASPECT_HEIGHT_PARTS / ASPECT_WIDTH_PARTS;
    *w = static_cast<int>(fit_w);
    *h = fit_h < MIN_WINDOW_HEIGHT ? MIN_WINDOW_HEIGHT : static_cast<int>(fit_h);
}

int win_calc_fit_scale(int base_w, int base_h, SDL_Window* window)
{
    return win_fit_scale_in(win_usable_bounds(window_display(window)), base_w, base_h);
}

// Centres a w x h client area in the usable bounds, below the title reserve,
// never starting left of or above them.
static void centre_in(const ScreenRect& usable, int w, int h, int* x, int* y)
{
    *x = usable.x + (usable.w - w) / 2;
    *y = usable.y + MENU_TITLE_RESERVE + (usable.h - h - MENU_TITLE_RESERVE) / 2;
    if (*x < usable.x)
        *x = usable.x;
    if (*y < usable.y + MENU_TITLE_RESERVE)
        *y = usable.y + MENU_TITLE_RESERVE;
}

// The client size a window asked for at w x h really gets: each side cut to
// what the usable bounds hold below the title reserve, brought to 16:10 by
// the resize rule, and raised to the mode's minimum, which SDL enforces even
// on a display smaller than that.
static void startup_size(const ScreenRect& usable, int min_w, int min_h, int* w, int* h)
{
    if (*w > usable.w)
        *w = usable.w;
    if (*h > usable.h - MENU_TITLE_RESERVE)
        *h = usable.h - MENU_TITLE_RESERVE;
    app_resize_target(*w, *h, usable, w, h);
    *w = *w < min_w ? min_w : *w;
    *h = *h < min_h ? min_h : *h;
}

// Moves a rectangle into the usable bounds, with the title reserve above its
// client area; one larger than the bounds keeps its top-left corner inside.
static void keep_inside(const ScreenRect& usable, ScreenRect* rect)
{
    // Widened sums: a hand-edited config.ini may hold positions near INT_MAX.
    if (int64_t{rect->x} + rect->w > int64_t{usable.x} + usable.w)
        rect->x = usable.x + usable.w - rect->w;
    if (int64_t{rect->y} + rect->h > int64_t{usable.y} + usable.h)
        rect->y = usable.y + usable.h - rect->h;
    if (rect->x < usable.x)
        rect->x = usable.x;
    if (rect->y < usable.y + MENU_TITLE_RESERVE)
        rect->y = usable.y + MENU_TITLE_RESERVE;
}

ScreenRect win_startup_placement_in(const Config& config, uint8_t hd_mode, const ScreenRect& usable)
{
    const int mode_scale = hd_mode ? 2 : 1;
    const int scale = config.scale_to_screen ? win_fit_scale_in(usable, SCREEN_WIDTH, SCREEN_HEIGHT) : mode_scale;

    ScreenRect placed;
    placed.w = config.window_w >= 1 ? config.window_w : SCREEN_WIDTH * scale;
    placed.h = config.window_h >= 1 ? config.window_h : SCREEN_HEIGHT * scale;
    startup_size(usable, SCREEN_WIDTH * mode_scale, SCREEN_HEIGHT * mode_scale, &placed.w, &placed.h);

    const bool position_saved = config.window_x >= 0 && config.window_y >= 0;
    if (!position_saved) {
        centre_in(usable, placed.w, placed.h, &placed.x, &placed.y);
        return placed;
    }
    // A rectangle saved on another monitor arrangement is pulled back on screen.
    placed.x = config.window_x;
    placed.y = config.window_y;
    keep_inside(usable, &placed);
    return placed;
}

// How long a window manager gets to tell SDL the size of the frame it puts
// around a new window, or to carry out a move; how often it is asked meanwhile.
constexpr uint32_t WINDOW_MANAGER_WAIT_MS = 1000;
constexpr uint32_t WINDOW_POLL_MS = 10;

// Asks done until it holds or the window manager's time is up.
template <typename Done>
static void wait_for_window_manager(const Done& done)
{
    for (uint32_t waited = 0; !done() && waited < WINDOW_MANAGER_WAIT_MS; waited += WINDOW_POLL_MS)
        SDL_Delay(WINDOW_POLL_MS);
}

static bool frame_extents_known(SDL_Window* window)
{
    int top = 0, left = 0, bottom = 0, right = 0;
    return SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right) == 0 &&
           (top | left | bottom | right) != 0;
}

// True while the window is maximised or fullscreen: its size is then the
// window manager's, and the picture is letterboxed in it.
static bool size_is_managed(SDL_Window* window)
{
    return (SDL_GetWindowFlags(window) & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_FULLSCREEN)) != 0 ||
           plat_window_held_by_manager(window);
}

static bool same_place(const ScreenRect& a, const ScreenRect& b)
{
    return a.x == b.x && a.y == b.y;
}

// The client area once it has left from, or as it is when the manager has
// not moved it within the wait.
static ScreenRect wait_to_leave(SDL_Window* window, const ScreenRect& from)
{
    ScreenRect now;
    wait_for_window_manager([&] {
        now = window_client_rect(window);
        return !same_place(now, from);
    });
    return now;
}

// Puts the client area at target's place. SDL asks for the frame's place
// from the frame the manager reports, but some managers put the client area
// there instead, or report a frame they do not draw: a move that misses is
// asked once more, aimed off by the miss. A window the manager keeps at
// another size than target's (maximised, fullscreen, tiled) is not moved.
static void place_client_area(SDL_Window* window, const ScreenRect& target)
{
    const ScreenRect before = window_client_rect(window);
    if (same_place(before, target) || size_is_managed(window) || before.w != target.w || before.h != target.h)
        return;
    SDL_SetWindowPosition(window, target.x, target.y);
    const ScreenRect landed = wait_to_leave(window, before);
    if (!same_place(landed, before) && !same_place(landed, target))
        SDL_SetWindowPosition(window, 2 * target.x - landed.x, 2 * target.y - landed.y);
}

void win_move_to_placement(SDL_Window* window, const ScreenRect& placed)
{
    s_window_track.normal = placed;
    // An X11 window manager puts its frame, not the client area, where a new
    // window asks to be, so each session would open a title bar lower than
    // the last one closed. Once SDL knows the frame, the client area is placed.
    if (!plat_window_is_framed(window))
        return;
    wait_for_window_manager([&] {
        SDL_PumpEvents();
        return frame_extents_known(window);
    });
    place_client_area(window, placed);
}

// Where the window system keeps the window at another size than SDL last set
// (a refused request), SDL is given the real size back. False when it had to.
static bool follow_real_size(SDL_Window* window)
{
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    const ScreenRect real = window_client_rect(window);
    if (real.w == w && real.h == h)
        return true;
    // SDL keeps a size the window manager refused as its own, and would draw
    // the frame for it; asked for the real size, it finds it at once.
    SDL_SetWindowSize(window, real.w, real.h);
    return false;
}

void win_set_size_centered(SDL_Window* window, int w, int h)
{
    ScreenRect rect = {0, 0, w, h};
    centre_in(window_usable_bounds(window), w, h, &rect.x, &rect.y);
    // A size asked for while the manager holds the window would become the
    // one it restores. Leaving that state brings the restored size back, so
    // the new rectangle is saved only by a quit before then.
    if (size_is_managed(window)) {
        s_window_track.normal = rect;
        return;
    }
    plat_window_request_size(window, w, h);
    // A manager that refused the size holds the window where it is (a tile).
    if (!follow_real_size(window))
        return;
    // The minimum size may have made the window larger than asked; it still
    // goes where the size asked for is centred.
    const ScreenRect real = window_client_rect(window);
    place_client_area(window, {rect.x, rect.y, real.w, real.h});
}

// After the resize rule changed the size, a window that now hangs off the
// usable bounds is moved back in; one that fits stays where it is.
static void move_back_inside(SDL_Window* window, const ScreenRect& usable)
{
    ScreenRect rect = window_client_rect(window);
    keep_inside(usable, &rect);
    place_client_area(window, rect);
}

// True when the client area lies exactly over its whole display. A window
// manager may give a window its fullscreen place and size before it flags
// the window fullscreen, and a size asked for meanwhile can take the window
// out of fullscreen.
static bool fills_display(SDL_Window* window)
{
    SDL_Rect bounds;
    const ScreenRect real = window_client_rect(window);
    return SDL_GetDisplayBounds(window_display(window), &bounds) == 0 && real.x == bounds.x &&
           real.y == bounds.y && real.w == bounds.w && real.h == bounds.h;
}

void win_apply_resize_rule(SDL_Window* window, int w, int h)
{
    if (size_is_managed(window) || fills_display(window))
        return;
    WindowTrack* track = &s_window_track;
    const ScreenRect usable = window_usable_bounds(window);
    int want_w = 0, want_h = 0;
    if (!app_resize_target(w, h, usable, &want_w, &want_h)) {
        track->refused_w = track->refused_h = 0;
        return;
    }
    // Each refusal costs SDL a wait for the window manager's answer.
    if (want_w == track->refused_w && want_h == track->refused_h)
        return;
    // A manager that resizes the window while the player drags its frame may
    // ignore every request until the drag is over, and send nothing after it.
    track->resize_pending = plat_pointer_button_held(window);
    if (track->resize_pending)
        return;
    plat_window_request_size(window, want_w, want_h);
    const bool given = follow_real_size(window);
    track->refused_w = given ? 0 : want_w;
    track->refused_h = given ? 0 : want_h;
    if (given)
        move_back_inside(window, usable);
}

void win_apply_resize_rule_to_real_size(SDL_Window* window)
{
    const ScreenRect real = window_client_rect(window);
    win_apply_resize_rule(window, real.w, real.h);
}

void win_settle_pending_resize(SDL_Window* window)
{
    if (!window || !s_window_track.resize_pending || plat_pointer_button_held(window))
        return;
    s_window_track.resize_pending = false;
    win_apply_resize_rule_to_real_size(window);
}

// True when the window manager keeps the window at a size of its own: one
// the window is maximised or fullscreen at, or any the 16:10 rule would not
// keep (a tile, or the middle of a drag). A window manager may report the
// maximised size before it flags the window maximised, and is caught so too.
static bool held_at_own_size(SDL_Window* window, const ScreenRect& real)
{
    int want_w = 0, want_h = 0;
    return size_is_managed(window) || app_resize_target(real.w, real.h, window_usable_bounds(window), &want_w, &want_h);
}

void win_note_normal_placement(SDL_Window* window)
{
    const ScreenRect rect = window_client_rect(window);
    if ((SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED) == 0 && !held_at_own_size(window, rect))
        s_window_track.normal = rect;
}

void app_save_window_placement(Engine* engine)
{
    // With a switch of graphics mode pending, the rectangle belongs to the old
    // mode and would open the new one at the wrong size.
    if (!engine || !engine->window || g_config.use_hd_graphics != engine->hd_mode)
        return;
    // Position and size read together: SDL's own record of the position goes
    // stale under a manager that moves only its frame, or never lets the
    // window have the place it opened at.
    const ScreenRect real = window_client_rect(engine->window);
    const bool held = held_at_own_size(engine->window, real) && s_window_track.normal.w > 0;
    const ScreenRect rect = held ? s_window_track.normal : real;
    g_config.window_x = rect.x;
    g_config.window_y = rect.y;
    g_config.window_w = rect.w;
    g_config.window_h = rect.h;
    cfg_save(CONFIG_FILE_NAME);
}
