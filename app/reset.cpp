// Reset Game: the scenario starts over from its start segment with the
// player's settings, while the screen's palette, tint and planes, the choice
// layout and the picture-command fields keep their values.
#include "app.h"
#include "config.h"
#include "music.h"
#include "screen.h"
#include "vm.h"

#include <cstring>

static void clear_sprite_state(Engine* engine)
{
    for (ImageSlot& slot : engine->image_slots) {
        slot.sprite_visible = 0;
        slot.effect_active = 0;
        slot.aux0 = slot.aux1 = slot.aux2 = slot.aux3 = 0;
    }
}

static void clear_script_state(Engine* engine)
{
    memset(engine->vm_vars, 0, sizeof engine->vm_vars);
    engine->vm_blocked = 0;
    engine->wait_frames = 0;
    engine->choice_active = 0;
    engine->choice_count = 0;
}

// The renderer, the text layer and the canvas were made for the graphics mode
// the game started in, so hd_mode keeps that mode; a switch takes a restart.
static void take_play_settings(Engine* engine)
{
    engine->game_speed = g_config.game_speed;
    engine->mute = g_config.mute_audio;
    engine->scanlines = g_config.use_scanlines;
    bgm_set_mute(engine->mute);
}

bool app_enter_start_segment(Engine* engine)
{
    const uint32_t start = script_start_segment(engine);
    const uint8_t* entry = script_scene_entry(engine, start);
    if (!entry)
        return false;
    engine->vm_pc = static_cast<uint32_t>(entry - engine->code_base);
    engine->vm_segment = start;
    engine->vm_leave = 0;
    engine->vm_block_end = 0;
    engine->vm_next_segment = VM_NEXT_NONE;
    engine->vm_restart_segment = VM_RESTART_NONE;
    return true;
}

// The music device was paused with the game; lifting the pause without
// resuming it would leave every later track silent.
static void lift_pause()
{
    if (g_paused)
        bgm_resume();
    g_paused = 0;
    g_step_once = 0;
}

void app_reset_game(Engine* engine)
{
    bgm_stop();
    gfx_clear_canvas(engine);
    if (engine->renderer)
        text_layer_clear(engine->renderer);
    clear_sprite_state(engine);
    clear_script_state(engine);
    vm_reset_text_windows(engine);
    hist_clear(&engine->history);
    hist_init(&engine->history);
    take_play_settings(engine);
    dbg_reset(engine);
    app_enter_start_segment(engine);
    lift_pause();
    win_update_menu_checks(engine->window);
}
