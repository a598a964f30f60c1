#include <gtest/gtest.h>

#include "app.h"
#include "config.h"
#include "music.h"
#include "render_fixture.h"
#include "screen.h"
#include "vm.h"
#include "vm_harness.h"

#include <SDL.h>

#include <cstdlib>
#include <string>

class ResetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        e = h.engine();
        g_config = Config{};
        g_paused = 0;
        g_step_once = 0;
    }
    void TearDown() override
    {
        hist_clear(&e->history);
        g_paused = 0;
        g_step_once = 0;
    }

    VmHarness h;
    Engine* e = nullptr;
};

TEST_F(ResetTest, ClearsThePlayAndReentersTheStartSegment)
{
    ScenarioBuilder scenario;
    scenario.segment(0, Code().text("A")).segment(2, Code().text("B")).start(2);
    h.install(scenario);

    e->vm_pc = 1;
    e->vm_segment = 0;
    e->vm_leave = 1;
    e->vm_block_end = 99;
    e->vm_next_segment = 4;
    e->vm_restart_segment = 0;
    e->vm_vars[5] = 9;
    e->vm_vars[VM_VAR_COUNT - 1] = -3;
    e->vm_blocked = 1;
    e->wait_frames = 4;
    e->choice_active = 1;
    e->choice_count = 3;
    ImageSlot& slot = e->image_slots[3];
    slot.sprite_visible = slot.effect_active = 1;
    slot.aux0 = slot.aux3 = 7;
    e->text_windows[0].x = 80;
    e->history.open = 1;
    e->history.count = 4;
    e->dbg_breakpoint_count = 2;
    e->game_speed = 3;
    e->scanlines = 1;
    g_config.game_speed = 0;
    g_config.mute_audio = 1;
    g_paused = 1;
    g_step_once = 1;
    ScratchDir scratch;
    scratch.enter();
    ASSERT_TRUE(load_white_font(scratch, 0));
    e->renderer = test_renderer();
    e->canvas_texture = make_filled_target(SCREEN_WIDTH, SCREEN_HEIGHT, 0xFF0000FF);
    fill_target_rect(text_layer_get(), SDL_Rect{0, 0, 8, 8}, 0xFFFFFFFF);

    app_reset_game(e);

    EXPECT_EQ(read_render_target(e->canvas_texture)[0] & 0xFF, 0u) << "a transparent canvas";
    EXPECT_EQ(read_render_target(text_layer_get())[0], 0u);
    SDL_DestroyTexture(e->canvas_texture);
    e->canvas_texture = nullptr;
    e->renderer = nullptr;

    EXPECT_EQ(e->vm_pc, scenario.offset_of(2));
    EXPECT_EQ(e->vm_segment, 2u);
    EXPECT_EQ(e->vm_leave + e->vm_block_end, 0u);
    EXPECT_EQ(e->vm_next_segment, VM_NEXT_NONE);
    EXPECT_EQ(e->vm_restart_segment, VM_RESTART_NONE);
    EXPECT_EQ(e->vm_vars[5], 0);
    EXPECT_EQ(e->vm_vars[VM_VAR_COUNT - 1], 0);
    EXPECT_EQ(e->vm_blocked + e->wait_frames + e->choice_active + e->choice_count, 0);
    EXPECT_EQ(slot.sprite_visible + slot.effect_active + slot.aux0 + slot.aux3, 0u);
    EXPECT_EQ(e->text_windows[0].x, 0);
    EXPECT_EQ(e->text_windows[0].active, 1);
    EXPECT_EQ(e->history.open + e->history.count, 0);
    EXPECT_EQ(e->dbg_breakpoint_count, 0u);
    EXPECT_EQ(e->game_speed, 0);
    EXPECT_EQ(e->mute, 1);
    EXPECT_EQ(e->scanlines, 0);
    EXPECT_EQ(g_bgm.muted.load(), 1);
    EXPECT_EQ(g_paused + g_step_once, 0);
    bgm_set_mute(0);
}

TEST_F(ResetTest, KeepsTheScreenLayoutAndPictureFields)
{
    e->palette[2] = 0xFF123456;
    e->vram_planes[1][7] = 0xA5;
    e->menu_layout_set = 1;
    e->choice_cursor = 1;
    e->current_image = 5;
    e->image_slots[3].x = 40;
    e->vm_halfwidth_toggle = 1;
    e->antialias = 1;
    e->text_windows[5].active = 1;
    // A graphics switch waits for the restart: the renderer and the layers
    // were made for the mode the game started in.
    g_config.use_hd_graphics = 1;

    app_reset_game(e);

    EXPECT_EQ(e->palette[2], 0xFF123456u);
    EXPECT_EQ(e->vram_planes[1][7], 0xA5);
    EXPECT_EQ(e->menu_layout_set + e->vm_halfwidth_toggle + e->antialias + e->text_windows[5].active, 4);
    EXPECT_EQ(e->choice_cursor, 1);
    EXPECT_EQ(e->current_image, 5);
    EXPECT_EQ(e->image_slots[3].x, 40);
    EXPECT_EQ(e->hd_mode, 0);
}

TEST_F(ResetTest, WithoutAScenarioThePositionStays)
{
    e->vm_pc = 77;
    e->vm_segment = 3;
    e->vm_restart_segment = 3;
    app_reset_game(e);
    EXPECT_EQ(e->vm_pc, 77u);
    EXPECT_EQ(e->vm_segment, 3u);
    EXPECT_EQ(e->vm_restart_segment, 3);
}

TEST_F(ResetTest, StopsTheMusicAndLiftingThePauseResumesTheDevice)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0);
    bgm_init();
    ASSERT_NE(g_bgm.device, 0u);
    g_paused = 1;
    bgm_pause();
    testing::internal::CaptureStdout();
    app_reset_game(e);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("[BGM] Stopped\n"), std::string::npos);
    EXPECT_EQ(SDL_GetAudioDeviceStatus(g_bgm.device), SDL_AUDIO_PLAYING);
    bgm_shutdown();
    SDL_Quit();
}
