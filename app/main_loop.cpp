// The main loop: one pass handles events, advances the scenario, draws and
// presents a frame and sleeps; the speed tables set the pace. Also the two
// event pumps the interpreter calls inside instructions, and the shutdown.
#include "app.h"
#include "config.h"
#include "music.h"
#include "screen.h"
#include "vm.h"

#include <SDL.h>

#include <cstdlib>

const uint32_t SPEED_WAIT_STEP[SPEED_ROWS] = {1, 8, 12, 48};
const uint32_t SPEED_VM_STEPS[SPEED_ROWS] = {100, 700, 1000, 3000};
const uint32_t SPEED_FRAME_DELAY_MS[SPEED_ROWS] = {16, 8, 4, 2};

constexpr uint32_t PUMP_INTERVAL_MS = 16;
constexpr int EXIT_OK = 0;

static uint32_t g_last_pump_ticks = 0;
static int32_t g_last_pump_scene = -1;

static uint32_t (*s_ticks)() = SDL_GetTicks;
static void (*s_delay)(uint32_t ms) = SDL_Delay;

void app_set_clock(uint32_t (*ticks)(), void (*delay)(uint32_t ms))
{
    s_ticks = ticks ? ticks : SDL_GetTicks;
    s_delay = delay ? delay : SDL_Delay;
}

void app_sleep(uint32_t ms)
{
    s_delay(ms);
}

int app_speed_row(int32_t game_speed)
{
    return game_speed >= 0 && game_speed < SPEED_ROWS ? game_speed : SPEED_ROW_DEFAULT;
}

static bool call_frame_in_use(const Engine* engine)
{
    int32_t depth = engine->vm_depth < VM_STACK_DEPTH ? engine->vm_depth : VM_STACK_DEPTH;
    for (int32_t i = 0; i < depth; i++) {
        if (engine->vm_stack[i].kind == VM_FRAME_CALL)
            return true;
    }
    return false;
}

// Carries out a chain that the last step requested at the top level. A chain
// from inside a called segment does not become the restart segment: the
// caller's segment is the one that restarts. A chain to a segment without an
// entry stays requested for the interpreter to see.
void app_carry_out_chain(Engine* engine)
{
    if (!engine->vm_leave)
        return;
    const uint32_t next = engine->vm_next_segment;
    const bool in_call = call_frame_in_use(engine);
    if (!vm_enter_segment(engine, next))
        return;
    if (!in_call)
        engine->vm_restart_segment = static_cast<int32_t>(next);
    engine->vm_depth = 0;
}

static bool restart_possible(Engine* engine)
{
    int32_t restart = engine->vm_restart_segment;
    return restart >= 0 && script_scene_entry(engine, static_cast<uint32_t>(restart)) != nullptr;
}

// Whether vm_step can still do something. At or past the end of the code it
// only returns into a frame below or restarts an ended top-level segment; a
// block that is the last thing in the code ends exactly there.
static bool interpreter_has_work(Engine* engine)
{
    if (!engine->code_base)
        return false;
    if (engine->vm_pc < engine->code_size)
        return true;
    const bool frames_left = engine->vm_depth >= 1;
    if (engine->vm_leave && frames_left)
        return true;
    const bool block_ended = engine->vm_block_end != 0 && engine->vm_pc >= engine->vm_block_end;
    return block_ended && (frames_left || restart_possible(engine));
}

static void run_batch(Engine* engine)
{
    const uint32_t steps = SPEED_VM_STEPS[app_speed_row(engine->game_speed)];
    for (uint32_t i = 0; i < steps; i++) {
        const uint8_t went_on = vm_step(engine);
        app_carry_out_chain(engine);
        if (engine->vm_blocked || engine->wait_frames != 0 || !went_on)
            return;
    }
}

// A wait set by a step that this loop ran is counted down here, paused or
// not; the interpreter steps only when nothing waits.
static void advance_scenario(Engine* engine)
{
    if (engine->vm_blocked)
        return;
    if (engine->wait_frames != 0) {
        const uint32_t step = SPEED_WAIT_STEP[app_speed_row(engine->game_speed)];
        engine->wait_frames = engine->wait_frames < static_cast<int64_t>(step)
                                  ? 0
                                  : engine->wait_frames - static_cast<int32_t>(step);
        return;
    }
    if (g_paused && !g_step_once)
        return;
    if (interpreter_has_work(engine))
        run_batch(engine);
}

static void draw_history(Engine* engine)
{
    const TextWindow* window = app_current_text_window(engine);
    if (!engine->history.open || !window)
        return;
    hist_draw(&engine->history, engine->renderer, window->x, window->y, window->w, window->h);
}

// The screenshot is taken after the game's overlays and before the present,
// so it holds the game's frame as shown, without the menu bar.
static void draw_frame(Engine* engine)
{
    SDL_Renderer* renderer = engine->renderer;
    if (renderer) {
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
        SDL_RenderClear(renderer);
        gfx_compose_frame(engine);
        if (engine->choice_active || engine->vm_blocked)
            menu_draw_overlay(engine);
        draw_history(engine);
    }
    if (g_screenshot_path[0] != '\0') {
        gfx_save_screenshot(engine, g_screenshot_path);
        g_screenshot_path[0] = '\0';
    }
    gfx_present_frame(engine);
}

void app_run_frame(Engine* engine)
{
    app_handle_events(engine, &g_running);
    advance_scenario(engine);
    draw_frame(engine);
    app_sleep(SPEED_FRAME_DELAY_MS[app_speed_row(engine->game_speed)]);
}

void app_run_main_loop(Engine* engine)
{
    while (g_running)
        app_run_frame(engine);
}

// A quit seen inside an instruction ends the program there: the instruction
// could run on for a long time, and nothing it would still do is kept.
static void exit_if_quitting(Engine* engine)
{
    if (g_running)
        return;
    app_save_window_placement(engine);
    exit(EXIT_OK);
}

void app_pump_events_throttled(Engine* engine)
{
    if (g_paused)
        return;
    const uint32_t now = s_ticks();
    const bool same_scene = static_cast<int32_t>(engine->vm_segment) == g_last_pump_scene;
    if (now - g_last_pump_ticks < PUMP_INTERVAL_MS && same_scene)
        return;
    app_handle_events(engine, &g_running);
    exit_if_quitting(engine);
    g_last_pump_scene = static_cast<int32_t>(engine->vm_segment);
    g_last_pump_ticks = now;
}

void app_pump_events_exit_on_quit(Engine* engine)
{
    app_handle_events(engine, &g_running);
    exit_if_quitting(engine);
}

int app_shutdown(Engine* engine)
{
    app_save_window_placement(engine);
    if (g_cursor_arrow)
        SDL_FreeCursor(g_cursor_arrow);
    if (g_cursor_hand)
        SDL_FreeCursor(g_cursor_hand);
    g_cursor_arrow = nullptr;
    g_cursor_hand = nullptr;
    hist_clear(&engine->history);
    bgm_shutdown();
    // The renderer takes its textures with it.
    if (engine->renderer)
        SDL_DestroyRenderer(engine->renderer);
    engine->renderer = nullptr;
    engine->vram_texture = nullptr;
    engine->text_layer = nullptr;
    engine->canvas_texture = nullptr;
    if (engine->window)
        SDL_DestroyWindow(engine->window);
    engine->window = nullptr;
    SDL_Quit();
    return EXIT_OK;
}
