// The shell's one event handler: quitting, keys, the mouse over the choice
// menu and the key prompt, the wheel, the window's 16:10 rule and lost render
// targets. It runs once per frame from the main loop and, inside instructions,
// from the interpreter's two pump callbacks, and behaves the same from all three.
#include "app.h"
#include "config.h"
#include "music.h"
#include "platform.h"
#include "screen.h"
#include "vm.h"

#include <SDL.h>

#include <cstdio>
#include <ctime>

constexpr int SPEED_LAST = SPEED_ROWS - 1;
constexpr int WINDOW_ID_LAST = TEXT_WINDOW_COUNT - 1;
constexpr int YEAR_BASE = 1900;
constexpr int MONTH_BASE = 1;

static uint32_t s_menu_event_type = 0;

uint32_t app_menu_event_type()
{
    if (s_menu_event_type == 0)
        s_menu_event_type = SDL_RegisterEvents(1);
    return s_menu_event_type;
}

// A window manager may offer the focus (WM_TAKE_FOCUS) rather than give it:
// xfwm4 does when its own request for a new window carries an older time
// than the last change of focus, which the X server then ignores. Left
// alone, the window would take no key, Space at the start prompt included,
// until clicked. The offer is taken as it arrives, since the loading screen
// and the slot screen drop the events they read.
static int take_focus_if_offered(void*, SDL_Event* event)
{
    if (event->type == SDL_WINDOWEVENT && event->window.event == SDL_WINDOWEVENT_TAKE_FOCUS)
        SDL_SetWindowInputFocus(SDL_GetWindowFromID(event->window.windowID));
    return 0;
}

void app_take_offered_focus()
{
    SDL_AddEventWatch(take_focus_if_offered, nullptr);
}

const TextWindow* app_current_text_window(const Engine* engine)
{
    int32_t id = engine->vm_vars[VAR_CUR_WINDOW];
    if (id < 0 || id > WINDOW_ID_LAST || !engine->text_windows[id].active)
        return nullptr;
    return &engine->text_windows[id];
}

static int32_t page_lines(const Engine* engine)
{
    const TextWindow* window = app_current_text_window(engine);
    return window ? window->rows : HISTORY_PAGE_DEFAULT;
}

static uint32_t event_window_id(const SDL_Event& event)
{
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        return event.key.windowID;
    case SDL_MOUSEMOTION:
        return event.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        return event.button.windowID;
    case SDL_MOUSEWHEEL:
        return event.wheel.windowID;
    case SDL_WINDOWEVENT:
        return event.window.windowID;
    default:
        return 0;
    }
}

static bool of_main_window(const Engine* engine, const SDL_Event& event)
{
    return engine->window && event_window_id(event) == SDL_GetWindowID(engine->window);
}

void app_toggle_pause(Engine*)
{
    g_paused = !g_paused;
    if (g_paused)
        bgm_pause();
    else
        bgm_resume();
}

bool app_format_screenshot_path(char* out, size_t capacity, const char* folder, const struct tm* when)
{
    int len = snprintf(out, capacity, "%sscreenshot_%04d%02d%02d_%02d%02d%02d.png", folder,
             when->tm_year + YEAR_BASE, when->tm_mon + MONTH_BASE, when->tm_mday, when->tm_hour,
             when->tm_min, when->tm_sec);
    return len >= 0 && static_cast<size_t>(len) < capacity;
}

void app_request_screenshot()
{
    time_t now = time(nullptr);
    const struct tm* local = localtime(&now);
    if (!local)
        return;
    char folder[SCREENSHOT_PATH_CAPACITY];
    // A cut name could end up anywhere: then there is no screenshot at all.
    if (!plat_executable_dir(folder, sizeof folder) ||
        !app_format_screenshot_path(g_screenshot_path, sizeof g_screenshot_path, folder, local))
        g_screenshot_path[0] = '\0';
}

bool app_resize_target(int w, int h, const ScreenRect& usable, int* want_w, int* want_h)
{
    int fit_w = 0, fit_h = 0;
    win_largest_fit(usable, &fit_w, &fit_h);
    if (w > fit_w) {
        // Widened past what the display holds at 16:10: a window taller than
        // the screen would hide the bottom of the picture.
        *want_w = fit_w;
        *want_h = fit_h;
    } else {
        *want_w = w < MIN_WINDOW_WIDTH ? MIN_WINDOW_WIDTH : w;
        // The height follows the reported width, not the raised one: a narrow
        // report still ends at the minimum 640 x 400.
        int64_t height = int64_t{w} * ASPECT_HEIGHT_PARTS / ASPECT_WIDTH_PARTS;
        *want_h = height < MIN_WINDOW_HEIGHT ? MIN_WINDOW_HEIGHT : static_cast<int>(height);
    }
    return *want_w != w || *want_h != h;
}

static void end_key_wait(Engine* engine)
{
    engine->vm_blocked = 0;
    hist_close(&engine->history);
}

// Takes choice index, or the first choice when index lies outside the list
// (a highlight left over from an earlier, longer menu).
static void take_choice(Engine* engine, int32_t index)
{
    int32_t count = engine->choice_count;
    if (count > MENU_MAX_CHOICES)
        count = MENU_MAX_CHOICES;
    if (index < 0 || index >= count)
        index = 0;
    engine->choice_cursor = index;
    int32_t id = static_cast<int32_t>(engine->choice_ids[index]);
    dbg_log(engine, ">> SELECT: %d ([ID %d])", index + 1, id);
    engine->vm_vars[VAR_RESULT] = id;
    engine->choice_result = id;
    engine->vm_blocked = 0;
    engine->choice_active = 0;
    engine->choice_count = 0;
    hist_close(&engine->history);
    SDL_SetCursor(g_cursor_arrow);
}

// The highlight moved by step entries, wrapping within n (signed remainder).
static int32_t moved_cursor(int32_t cursor, int32_t step, int32_t count, int32_t n)
{
    return static_cast<int32_t>((int64_t{cursor} + step + count) % n);
}

static void cycle_speed(Engine* engine)
{
    engine->game_speed = engine->game_speed < SPEED_LAST ? engine->game_speed + 1 : 0;
    g_config.game_speed = engine->game_speed;
    cfg_save(CONFIG_FILE_NAME);
}

static void handle_key(Engine* engine, const SDL_Event& event)
{
    const SDL_Keycode key = event.key.keysym.sym;
    if (key == SDLK_F5) {
        app_toggle_pause(engine);
        win_update_menu_checks(engine->window);
    }
    if (key == SDLK_F12)
        app_request_screenshot();
    if (hist_handle_event(&engine->history, &event, page_lines(engine)))
        return;

    const int32_t count = engine->choice_count;
    const int32_t n = count > 0 ? count : 1;
    switch (key) {
    case SDLK_TAB:
        cycle_speed(engine);
        win_update_menu_checks(engine->window);
        break;
    case SDLK_DOWN:
        engine->choice_cursor = moved_cursor(engine->choice_cursor, 1, 0, n);
        break;
    case SDLK_UP:
        engine->choice_cursor = moved_cursor(engine->choice_cursor, -1, count, n);
        break;
    case SDLK_RETURN:
    case SDLK_SPACE:
        // Choices gathered but not yet opened as a menu are taken as they stand.
        if (count > 0) {
            take_choice(engine, engine->choice_cursor);
            return;
        }
        break;
    default:
        break;
    }
    if (engine->vm_blocked && !engine->choice_active && !g_paused)
        end_key_wait(engine);
}

// The pointer in logical-screen pixels, as motion and button events report it.
static void logical_mouse_position(const Engine* engine, int32_t* x, int32_t* y)
{
    int wx = 0, wy = 0;
    SDL_GetMouseState(&wx, &wy);
    if (!engine->renderer) {
        *x = wx;
        *y = wy;
        return;
    }
    float lx = 0, ly = 0;
    SDL_RenderWindowToLogical(engine->renderer, wx, wy, &lx, &ly);
    *x = static_cast<int32_t>(SDL_floorf(lx));
    *y = static_cast<int32_t>(SDL_floorf(ly));
}

static void handle_choice_menu(Engine* engine, const SDL_Event& event)
{
    switch (event.type) {
    case SDL_MOUSEMOTION: {
        int32_t index = menu_choice_at(engine, event.motion.x, event.motion.y);
        if (index >= 0) {
            engine->choice_cursor = index;
            SDL_SetCursor(g_cursor_hand);
        } else {
            SDL_SetCursor(g_cursor_arrow);
        }
        return;
    }
    case SDL_MOUSEBUTTONDOWN: {
        if (event.button.button != SDL_BUTTON_LEFT)
            return;
        int32_t index = menu_choice_at(engine, event.button.x, event.button.y);
        if (index >= 0)
            take_choice(engine, index);
        return;
    }
    case SDL_MOUSEWHEEL: {
        int32_t x = 0, y = 0;
        logical_mouse_position(engine, &x, &y);
        if (menu_choice_at(engine, x, y) < 0) {
            hist_handle_event(&engine->history, &event, page_lines(engine));
            return;
        }
        const int32_t count = engine->choice_count;
        if (event.wheel.y > 0)
            engine->choice_cursor = moved_cursor(engine->choice_cursor, -1, count, count);
        else if (event.wheel.y < 0)
            engine->choice_cursor = moved_cursor(engine->choice_cursor, 1, 0, count);
        return;
    }
    default:
        return;
    }
}

static void handle_key_prompt(Engine* engine, const SDL_Event& event)
{
    if (event.type == SDL_MOUSEMOTION) {
        bool inside = menu_prompt_contains(engine, event.motion.x, event.motion.y);
        SDL_SetCursor(inside ? g_cursor_hand : g_cursor_arrow);
    } else if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_LEFT &&
               menu_prompt_contains(engine, event.button.x, event.button.y)) {
        // A click answers the prompt even while paused; only keys wait for the pause.
        end_key_wait(engine);
        SDL_SetCursor(g_cursor_arrow);
    }
}

static void handle_window_event(Engine* engine, const SDL_Event& event, uint8_t* running)
{
    switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE:
        *running = 0;
        return;
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        win_apply_resize_rule(engine->window, event.window.data1, event.window.data2);
        win_note_normal_placement(engine->window);
        return;
    case SDL_WINDOWEVENT_MOVED:
    case SDL_WINDOWEVENT_RESTORED:
        win_note_normal_placement(engine->window);
        return;
    default:
        return;
    }
}

static bool is_mouse_event(uint32_t type)
{
    return type == SDL_MOUSEMOTION || type == SDL_MOUSEBUTTONDOWN || type == SDL_MOUSEBUTTONUP;
}

static void handle_event(Engine* engine, const SDL_Event& event, uint8_t* running)
{
    if (event.type == SDL_QUIT) {
        *running = 0;
        return;
    }
    if (event.type == app_menu_event_type()) {
        app_menu_command(engine, running, event.user.code);
        return;
    }
    if (event.type == SDL_RENDER_TARGETS_RESET)
        gfx_restore_layers(engine);

    const bool main_window = of_main_window(engine, event);
    if (main_window && menu_bar_handle_event(engine, event))
        return;
    if (event.type == SDL_MOUSEWHEEL && main_window && !engine->choice_active)
        hist_handle_event(&engine->history, &event, page_lines(engine));
    if (event.type == SDL_KEYDOWN && main_window)
        handle_key(engine, event);
    if (engine->choice_active && engine->choice_count > 0 && main_window)
        handle_choice_menu(engine, event);
    if (engine->vm_blocked && !engine->choice_active && engine->menu_layout_set && main_window)
        handle_key_prompt(engine, event);
    if (engine->history.open && is_mouse_event(event.type) && main_window)
        hist_handle_event(&engine->history, &event, page_lines(engine));
    if (event.type == SDL_WINDOWEVENT && main_window)
        handle_window_event(engine, event, running);
}

void app_handle_events(Engine* engine, uint8_t* running)
{
    SDL_Event event;
    while (SDL_PollEvent(&event))
        handle_event(engine, event, running);
    win_settle_pending_resize(engine->window);
}
