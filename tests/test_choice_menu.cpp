#include <gtest/gtest.h>

#include "../scenario/vm_private.h"
#include "render_fixture.h"
#include "screen.h"
#include "test_support.h"
#include "vm.h"
#include "vm_harness.h"

#include <SDL.h>

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t TRANSPARENT = 0;

// Runs '!' with the operands; the scenario brings the message strings.
void add(Engine* engine, const std::string& operands, const ScenarioBuilder& scenario = ScenarioBuilder())
{
    run_command(engine, scenario, "!" + operands, menu_add_or_open);
}

std::vector<uint32_t> choices(const Engine* engine)
{
    return std::vector<uint32_t>(engine->choice_ids, engine->choice_ids + engine->choice_count);
}

TEST(ChoiceMenuTest, RepeatedIdsAreAddedOnceAndTheMenuOpensOnTheFirst)
{
    VmHarness vm;
    Engine* engine = vm.engine();
    add(engine, "");
    EXPECT_EQ(engine->vm_vars[VAR_RESULT], -2);  // nothing to choose from
    EXPECT_EQ(engine->choice_result, -2);
    EXPECT_EQ(engine->vm_blocked + engine->choice_active, 0);

    engine->choice_cursor = 3;
    for (const char* ids : {"12", "7", "12"})
        add(engine, ids);
    EXPECT_EQ(engine->vm_blocked, 0);
    add(engine, "", ScenarioBuilder().string(12, "Yes").string(7, "No"));
    EXPECT_EQ(choices(engine), (std::vector<uint32_t>{12, 7}));
    EXPECT_EQ(engine->choice_cursor, 0);
    EXPECT_EQ(engine->choice_active, 1);
    EXPECT_EQ(engine->vm_blocked, 1);
    ASSERT_EQ(engine->dbg_event_log_count, 3);
    EXPECT_STREQ(engine->dbg_event_log[0], "MENU OPEN (Accumulated Seg 0)");
    EXPECT_STREQ(engine->dbg_event_log[1], "  1. [ID 12] Yes");
    EXPECT_STREQ(engine->dbg_event_log[2], "  2. [ID 7] No");

    // Twenty distinct ids at most.
    std::string ids;
    for (int i = 1; i <= 21; i++)
        ids += std::to_string(i) + ",";
    add(engine, ids);
    ASSERT_EQ(engine->choice_count, MENU_MAX_CHOICES);
    EXPECT_EQ(engine->choice_ids[19], 20u);  // 7 and 12 were there already
}

TEST(ChoiceMenuTest, OperandListEndsWhereTheLastOperandEnded)
{
    VmHarness vm;
    Engine* engine = vm.engine();
    engine->vm_vars[3] = 40;
    struct Case {
        const char* operands;
        uint32_t pc;
    };
    const Case cases[] = {{"12,@3 ,x", 5}, {"5 @", 1}, {"", 0}, {" (9", 0}};
    for (const Case& c : cases) {
        engine->choice_count = 0;
        engine->vm_blocked = 0;
        EXPECT_EQ(run_command(engine, ScenarioBuilder(), std::string("!") + c.operands, menu_add_or_open), c.pc)
            << c.operands;
    }
    add(engine, "12,@3");
    EXPECT_EQ(choices(engine), (std::vector<uint32_t>{12, 40}));
}

TEST(ChoiceMenuTest, OpeningTakesTheFallbackFromTheCursorCellOrTheFreeCursor)
{
    for (uint8_t hd : {0, 1}) {
        VmHarness vm(hd);
        Engine* engine = vm.engine();
        const int k = hd ? 2 : 1;
        TextWindow& w = engine->text_windows[4];
        w.active = 1;
        w.x = 100;
        w.y = 50;
        w.col = 3;
        w.row = 2;
        engine->vm_vars[VAR_CUR_WINDOW] = 4;
        engine->text_cursor_x = 11;
        engine->text_cursor_y = 22;
        add(engine, "1");
        add(engine, "");
        EXPECT_EQ(engine->choice_x, 100 + 24 * k);
        EXPECT_EQ(engine->choice_y, 50 + 32 * k);

        engine->vm_vars[VAR_CUR_WINDOW] = 256;
        add(engine, "");
        EXPECT_EQ(engine->choice_x, 11);
        EXPECT_EQ(engine->choice_y, 22);
    }
}

TEST(ChoiceGridTest, FiveChoicesInTwoColumnsInBothModes)
{
    const std::pair<int64_t, int64_t> sd[] = {{0, 0}, {160, 0}, {0, 16}, {160, 16}, {0, 32}};
    for (uint8_t hd : {0, 1}) {
        VmHarness vm(hd);
        Engine* engine = vm.engine();
        const int k = hd ? 2 : 1;
        engine->vm_vars[VAR_CHOICE_COLUMNS] = 2;
        engine->choice_x = 30;
        engine->choice_y = 40;
        ChoiceGrid grid = menu_choice_grid(engine);
        for (int32_t i = 0; i < 5; i++) {
            int64_t x = 0, y = 0;
            menu_choice_position(&grid, i, &x, &y);
            EXPECT_EQ(x - 30, sd[i].first * k) << "entry " << i << " hd " << int{hd};
            EXPECT_EQ(y - 40, sd[i].second * k) << "entry " << i << " hd " << int{hd};
        }
        engine->vm_vars[VAR_CHOICE_COLUMNS] = -4;
        engine->vm_vars[VAR_CHOICE_ROW_HEIGHT] = 20;
        grid = menu_choice_grid(engine);
        EXPECT_EQ(grid.columns, 1);
        EXPECT_EQ(grid.row_height, 20 * k);
    }
}

TEST(ChoiceGridTest, OriginFollowsTheFirstRuleThatApplies)
{
    VmHarness vm;
    Engine* engine = vm.engine();
    engine->choice_x = 1;
    engine->choice_y = 2;
    for (int id : {0, 3, 5}) {
        engine->text_windows[id].active = 1;
        engine->text_windows[id].x = 10 * id + 7;
        engine->text_windows[id].y = 10 * id + 9;
    }
    engine->menu_layout[0] = 4;
    engine->menu_layout[1] = 2;
    struct Case {
        int32_t choice_window, cur_window;
        uint8_t layout_set;
        int64_t x, y;
    };
    const Case cases[] = {
        {3, 5, 1, 37, 39},    // the choice window first
        {0, 5, 1, 32, 32},    // window 0 is never the choice window; the layout next
        {9, 5, 1, 32, 32},    // an inactive choice window counts for nothing
        {0, 5, 0, 57, 59},    // then the current window
        {0, 0, 0, 7, 9},      // window 0 may be the current one
        {0, 9, 0, 1, 2},      // then the fallback position
        {0, -1, 0, 1, 2},
    };
    for (const Case& c : cases) {
        engine->vm_vars[VAR_CHOICE_WINDOW] = c.choice_window;
        engine->vm_vars[VAR_CUR_WINDOW] = c.cur_window;
        engine->menu_layout_set = c.layout_set;
        ChoiceGrid grid = menu_choice_grid(engine);
        EXPECT_EQ(grid.origin_x, c.x) << c.choice_window << "/" << c.cur_window << "/" << int{c.layout_set};
        EXPECT_EQ(grid.origin_y, c.y) << c.choice_window << "/" << c.cur_window << "/" << int{c.layout_set};
    }
    // Window positions are pixels already; the layout's cell doubles in HD.
    engine->hd_mode = engine->menu_layout_set = 1;
    const ChoiceGrid hd = menu_choice_grid(engine);
    EXPECT_EQ(hd.origin_x, 64);
    EXPECT_EQ(hd.origin_y, 64);
}

TEST(ChoiceGridTest, HitTestFindsEntriesAndNothingOutsideThem)
{
    for (uint8_t hd : {0, 1}) {
        VmHarness vm(hd);
        Engine* engine = vm.engine();
        const int k = hd ? 2 : 1;
        engine->vm_vars[VAR_CHOICE_COLUMNS] = 2;
        engine->choice_x = 100;
        engine->choice_y = 50;
        engine->choice_count = 5;
        struct Case {
            int32_t x, y;  // offsets from the origin, in SD pixels
            int32_t hit;
        };
        const Case cases[] = {
            {0, 0, 0},      {159, 15, 0},  {160, 0, 1},  {319, 31, 3}, {0, 32, 4},
            {-1, 0, -1},    {0, -1, -1},   {320, 0, -1}, {160, 32, -1}, {0, 48, -1},
        };
        for (const Case& c : cases) {
            // Offsets of -1 stay one pixel outside in HD too.
            int32_t x = 100 + (c.x < 0 ? c.x : c.x * k);
            int32_t y = 50 + (c.y < 0 ? c.y : c.y * k);
            EXPECT_EQ(menu_choice_at(engine, x, y), c.hit) << c.x << "," << c.y << " hd " << int{hd};
        }
    }
}

TEST(MenuLayoutTest, SevenValuesSetTheLayoutAndThePromptRectangle)
{
    VmHarness vm;
    Engine* engine = vm.engine();
    engine->vm_vars[8] = -3;
    EXPECT_EQ(run_command(engine, ScenarioBuilder(), "M10,20,0,4,0,2", vm_cmd_menu_layout), 13u);
    EXPECT_EQ(engine->menu_layout_set, 0);

    EXPECT_EQ(run_command(engine, ScenarioBuilder(), "M10,20,0,4,0,2,7,", vm_cmd_menu_layout), 16u);
    EXPECT_EQ(engine->menu_layout_set, 1);
    EXPECT_EQ(engine->menu_layout[6], 7u);
    PromptRect prompt = menu_prompt_rect(engine);
    EXPECT_EQ(prompt.x, 80);
    EXPECT_EQ(prompt.y, 352);
    EXPECT_EQ(prompt.w, 104);
    EXPECT_EQ(prompt.h, 16);
    EXPECT_TRUE(menu_prompt_contains(engine, 80, 352));
    EXPECT_TRUE(menu_prompt_contains(engine, 183, 367));
    EXPECT_FALSE(menu_prompt_contains(engine, 184, 352));
    EXPECT_FALSE(menu_prompt_contains(engine, 80, 368));
    EXPECT_FALSE(menu_prompt_contains(engine, 79, 360));

    // An eighth value is read and dropped; a negative height lifts the prompt,
    // half of it rounded toward zero.
    EXPECT_EQ(run_command(engine, ScenarioBuilder(), "M1,20,0,@8,0,2,7,99 ", vm_cmd_menu_layout), 18u);
    EXPECT_EQ(menu_prompt_rect(engine).y, 16 * 19);

    VmHarness hd(1);
    run_command(hd.engine(), ScenarioBuilder(), "M10,20,0,4,0,2,7", vm_cmd_menu_layout);
    prompt = menu_prompt_rect(hd.engine());
    EXPECT_EQ(prompt.x, 160);
    EXPECT_EQ(prompt.y, 704);
    EXPECT_EQ(prompt.w, 208);
    EXPECT_EQ(prompt.h, 32);
}

class MenuOverlayTest : public VmTextLayerTest {
protected:
    void SetUp() override
    {
        VmTextLayerTest::SetUp();
        strings.string(12, "A").string(7, "B");
    }

    void layout() { run_command(engine, strings, "M10,20,0,4,0,2,7", vm_cmd_menu_layout); }

    Pixels draw_overlay()
    {
        return draw_to_target(SCREEN_WIDTH, SCREEN_HEIGHT, [&] { menu_draw_overlay(engine); });
    }

    bool blank(const Pixels& pixels)
    {
        for (uint32_t p : pixels)
            if (p != TRANSPARENT)
                return false;
        return true;
    }

    ScenarioBuilder strings;
};

TEST_F(MenuOverlayTest, ListIsDrawnInTheLayoutColoursWithTheCursorHighlighted)
{
    layout();
    add(engine, "12,7", strings);
    add(engine, "", strings);
    engine->choice_cursor = 1;
    Pixels p = draw_overlay();
    EXPECT_EQ(pixel_at(p, 640, 80, 320), opaque(0xFFFFFF));
    EXPECT_EQ(pixel_at(p, 640, 87, 335), opaque(0xFFFFFF));
    EXPECT_EQ(pixel_at(p, 640, 80, 336), opaque(0xFF0000));  // the second row
    EXPECT_EQ(pixel_at(p, 640, 88, 320), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, 640, 80, 352), TRANSPARENT);      // no prompt with a list

    // Without a layout: cyan and white at the fallback position.
    engine->menu_layout_set = 0;
    engine->choice_x = 40;
    engine->choice_y = 30;
    engine->vm_vars[VAR_CUR_WINDOW] = 256;
    engine->choice_cursor = 0;
    p = draw_overlay();
    EXPECT_EQ(pixel_at(p, 640, 40, 30), opaque(0x00FFFF));
    EXPECT_EQ(pixel_at(p, 640, 40, 46), opaque(0xFFFFFF));
    EXPECT_EQ(SDL_GetRenderTarget(test_renderer()), nullptr);
}

TEST_F(MenuOverlayTest, KeyWaitShowsGatheredChoicesOrThePrompt)
{
    engine->choice_x = 200;
    engine->vm_vars[VAR_CUR_WINDOW] = 256;
    engine->vm_blocked = 1;
    add(engine, "12", strings);
    EXPECT_EQ(pixel_at(draw_overlay(), 640, 200, 0), opaque(0x00FFFF));

    engine->choice_count = 0;
    EXPECT_TRUE(blank(draw_overlay()));  // no layout, no prompt

    layout();
    Pixels p = draw_overlay();
    EXPECT_EQ(pixel_at(p, 640, 80, 352), opaque(0xFF0000));
    EXPECT_EQ(pixel_at(p, 640, 183, 367), opaque(0xFF0000));
    EXPECT_EQ(pixel_at(p, 640, 184, 352), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, 640, 79, 352), TRANSPARENT);

    engine->vm_blocked = 0;
    EXPECT_TRUE(blank(draw_overlay()));
    add(engine, "12", strings);
    EXPECT_TRUE(blank(draw_overlay()));  // gathered but neither open nor waiting
}

}  // namespace
