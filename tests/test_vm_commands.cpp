#include <gtest/gtest.h>

#include "code_builder.h"
#include "render_fixture.h"
#include "vm_code_fixture.h"
#include "screen.h"
#include "vm.h"
#include "../scenario/vm_private.h"

#include <SDL.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The program is linked with SDL_Delay wrapped: every sleep is recorded instead of slept.
static std::vector<uint32_t> g_sleeps;
extern "C" void __wrap_SDL_Delay(Uint32 ms) { g_sleeps.push_back(ms); }

namespace {

class VmCommandTest : public VmCodeTest {
protected:
    void SetUp() override
    {
        VmCodeTest::SetUp();
        memcpy(engine->palette, DEFAULT_PALETTE, sizeof engine->palette);
        engine->vm_vars[VAR_TEXT_SPEED] = 1;
        engine->text_windows[0].active = 1;
        engine->text_windows[0].attribute = 0xE1;
        select_window(0);
    }

    // Runs one command-mode instruction "[<instruction>]" as vm_step hands it
    // over: vm_pc just after the command byte.
    void exec(const std::string& instruction)
    {
        load("[" + instruction + "]", 2);
        vm_exec_command(engine, static_cast<uint8_t>(instruction[0]));
    }

    void select_window(int32_t id) { engine->vm_vars[VAR_CUR_WINDOW] = id; }

    ImageSlot& load_slot(int id, int32_t w, int32_t h, int32_t home_x, int32_t home_y)
    {
        ImageSlot& slot = engine->image_slots[id];
        slot.loaded = 1;
        slot.sd_w = w;
        slot.sd_h = h;
        slot.home_x = home_x;
        slot.home_y = home_y;
        return slot;
    }
};

// ---------------------------------------------------------------------------
// Variables
// ---------------------------------------------------------------------------

struct VariableCase {
    const char* instruction;
    int32_t start;
    int var;
    int32_t expected;
    const char* left;
};

TEST_F(VmCommandTest, VariableCommandsTakeTheAmountOnlyAfterADirectComma)
{
    const VariableCase cases[] = {
        {"+5", 10, 5, 11, "]"},
        {"+5,3", 10, 5, 13, "]"},
        {"+5 3", 10, 5, 11, " 3]"},  // the 3 is left to be passed over
        {"-5", 10, 5, 9, "]"},
        {"-5,@6", 10, 5, 6, "]"},    // variable 6 holds 4
        {"=5,7", 10, 5, 7, "]"},
        {"=1029,7", 10, 5, 7, "]"},  // the index wraps at 1024
        {"=5,", 10, 5, 1, "]"},      // a missing amount stays 1
        {"=@6,9", 10, 4, 9, "]"},    // v is an operand: variable 6 names variable 4
        {"+5,1", INT32_MAX, 5, INT32_MIN, "]"},
        {"-5,1", INT32_MIN, 5, INT32_MAX, "]"},
    };
    for (const VariableCase& c : cases) {
        engine->vm_vars[c.var] = c.start;
        engine->vm_vars[6] = 4;
        exec(c.instruction);
        EXPECT_EQ(engine->vm_vars[c.var], c.expected) << c.instruction;
        EXPECT_EQ(rest(), c.left) << c.instruction;
    }
}

TEST_F(VmCommandTest, UnreadOperandsArePassedOverByTheStream)
{
    struct {
        const char* code;
        int32_t var5;
    } cases[] = {{"+5 3", 1}, {"=5,2 +5 3", 3}, {"% 3,0 +5", 1}, {"+5 .LOAD 3", 1}};
    for (const auto& c : cases) {
        engine->vm_vars[5] = 0;
        ScenarioBuilder().segment(0, Code().cmd(c.code)).install(engine);
        while (vm_step(engine)) {
        }
        EXPECT_EQ(engine->vm_vars[5], c.var5) << c.code;
    }
    EXPECT_EQ(engine->vm_vars[VAR_LOAD_FLAG], 1);
}

TEST_F(VmCommandTest, VariableChangesAreTracedInASixteenEntryRing)
{
    for (int i = 0; i <= DBG_VAR_TRACE_SIZE; i++)
        exec("+1029,3");
    exec("+");  // no operand: no change, no entry
    EXPECT_EQ(engine->dbg_var_trace_count, DBG_VAR_TRACE_SIZE + 1);
    const VarTraceEntry& newest = engine->dbg_var_trace[0];
    EXPECT_EQ(newest.var, 5u);
    EXPECT_EQ(newest.before, 16 * 3);
    EXPECT_EQ(newest.after, 17 * 3);
    EXPECT_EQ(newest.op, '+');
}

TEST_F(VmCommandTest, OperandOnlyCommandsConsumeTheirOperands)
{
    engine->gfx_log_count = 3;
    for (auto [instruction, left] : {std::pair{"A7", "]"}, {"A", "]"}, {"@5,", "]"}, {"|1,,3", "]"},
                                     {"C1,2,3,4", "]"}, {"B5", "5]"}}) {
        exec(instruction);
        EXPECT_EQ(rest(), left) << instruction;
    }
    EXPECT_EQ(engine->vm_vars[VAR_CUR_WINDOW], 7);
    EXPECT_EQ(engine->gfx_log_count, 0);  // "C" cleared the canvas
}

TEST_F(VmCommandTest, LeaveCommandsDefaultToNoChain)
{
    for (auto [instruction, next] : {std::pair{"/", VM_NEXT_NONE}, {"/12", 12u}, {"\\", VM_NEXT_NONE_ALT},
                                     {"\\65533", VM_NEXT_END_REPEAT}}) {
        engine->vm_leave = 0;
        exec(instruction);
        EXPECT_EQ(engine->vm_leave, 1);
        EXPECT_EQ(engine->vm_next_segment, next) << instruction;
    }
}

TEST_F(VmCommandTest, ChoiceTestRunsItsBlockOnlyForAListedId)
{
    const std::string body = "[=9,1]";
    const std::string block = std::string("{") + static_cast<char>(body.size()) + '\0' + body;
    struct {
        std::string ids;
        int32_t choice;
        int32_t ran;
    } cases[] = {
        {"3", 3, 1}, {"3", 4, 0}, {"3,5", 5, 1}, {"3 , 5", 5, 1}, {"", 3, 0}, {"4294967294", -2, 1},
    };
    for (const auto& c : cases) {
        engine->vm_vars[9] = 0;
        engine->choice_result = c.choice;
        exec("?" + c.ids + block);
        EXPECT_EQ(engine->vm_vars[9], c.ran) << c.ids << " with " << c.choice;
        EXPECT_EQ(rest(), "]") << c.ids;
    }
    exec("?3,@x");  // a failed id goes back to just after its comma; no block follows
    EXPECT_EQ(rest(), "@x]");
}

// ---------------------------------------------------------------------------
// Waits
// ---------------------------------------------------------------------------

int g_pumps = 0;
void count_pump(Engine*) { g_pumps++; }

TEST_F(VmCommandTest, WaitBlocksWithoutOperandAndRendersAtLeastOneFrameWithOne)
{
    engine->wait_frames = 9;
    exec("$");
    EXPECT_EQ(engine->vm_blocked, 1);
    EXPECT_EQ(engine->wait_frames, 0);

    engine->vm_blocked = 0;
    engine->pump_events_cb = count_pump;
    engine->game_speed = 3;
    engine->vm_vars[5] = -4;
    for (auto [instruction, frames] : {std::pair{"$0", 1}, {"$3", 3}, {"$@5", 1}}) {
        g_pumps = 0;
        engine->wait_frames = 9;
        exec(instruction);
        EXPECT_EQ(g_pumps, frames) << instruction;
        EXPECT_EQ(engine->wait_frames, 0);
        EXPECT_EQ(engine->vm_blocked, 0);
    }
}

TEST_F(VmCommandTest, WaitWithoutPumpEndsTheProgramOnQuit)
{
    EXPECT_EXIT(
        {
            SDL_Init(SDL_INIT_EVENTS);
            SDL_Event quit = {};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
            exec("$2");
            exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Palette
// ---------------------------------------------------------------------------

TEST_F(VmCommandTest, PaletteCopiesAnEntryOnlyWhenADigitFollowsDirectly)
{
    engine->palette[0] = 0xFF112233;
    exec("%3,0");
    EXPECT_EQ(engine->palette[3], 0xFF112233u);

    exec("%3,16");  // out of range: nothing copied
    EXPECT_EQ(engine->palette[3], 0xFF112233u);

    exec("% 3,0");
    EXPECT_EQ(memcmp(engine->palette, DEFAULT_PALETTE, sizeof engine->palette), 0);
    EXPECT_EQ(rest(), " 3,0]");

    engine->palette[5] = 0;
    exec("%");
    EXPECT_EQ(engine->palette[5], DEFAULT_PALETTE[5]);
    EXPECT_EQ(engine->tint[0], 255);
    EXPECT_EQ(engine->tint[2], 255);
}

// ---------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------

TEST_F(VmCommandTest, ShowPictureSelectsTheSlotAndMovesTheCursorToItsCorner)
{
    ImageSlot& slot = load_slot(12, 161, 101, 16, 40);
    slot.x = 99;
    slot.sprite_visible = 1;
    slot.aux2 = slot.aux3 = 7;
    slot.effect_active = 1;
    exec("\"12");
    EXPECT_EQ(engine->current_image, 12);
    EXPECT_EQ(slot.x, 16);
    EXPECT_EQ(slot.y, 40);
    EXPECT_EQ(slot.sprite_visible, 0);
    EXPECT_EQ(slot.aux2 + slot.aux3, 0u);
    EXPECT_EQ(slot.effect_active, 1);  // showing keeps the effect

    // Size in columns and 2-line rows, cursor in columns and 2-line rows.
    exec("G20,21,22,23");
    EXPECT_EQ(engine->vm_vars[20], 20);
    EXPECT_EQ(engine->vm_vars[21], 51);
    EXPECT_EQ(engine->vm_vars[22], 2);
    EXPECT_EQ(engine->vm_vars[23], 20);

    exec("'12");  // selecting also ends the effect
    EXPECT_EQ(slot.effect_active, 0);

    engine->hd_mode = 1;  // the cursor stays in 640x400 pixels
    slot.home_x = 32;
    slot.home_y = 80;
    exec("~12");
    EXPECT_EQ(engine->text_cursor_x, 16);
    EXPECT_EQ(engine->text_cursor_y, 40);
}

TEST_F(VmCommandTest, PictureCommandsTraceEvenUnusableSlots)
{
    engine->vm_segment = 7;
    engine->current_image = 2;
    exec("\"12");  // not loaded
    exec("~300");  // out of range
    exec("'4");
    exec("\"");    // no operand: no entry
    EXPECT_EQ(engine->dbg_cmd_trace_count, 3);
    EXPECT_EQ(engine->dbg_cmd_trace[0].command, '"');
    EXPECT_EQ(engine->dbg_cmd_trace[0].operand, 12u);
    EXPECT_EQ(engine->dbg_cmd_trace[0].segment, 7u);
    EXPECT_EQ(engine->dbg_cmd_trace[1].command, '~');
    EXPECT_EQ(engine->dbg_cmd_trace[1].operand, 300u);
    EXPECT_EQ(engine->dbg_cmd_trace[2].command, '\'');
    EXPECT_EQ(engine->current_image, 2);
}

TEST_F(VmCommandTest, ReadBackSkipsMissingAndNegativeTargets)
{
    engine->image_text_x = 5;
    engine->text_cursor_x = 77;
    engine->vm_vars[21] = -9;
    exec("G20");
    EXPECT_EQ(engine->vm_vars[20], 5);
    EXPECT_EQ(engine->vm_vars[21], -9);
    exec("G4294967295,4294967295,22");
    EXPECT_EQ(engine->vm_vars[22], 9);
    EXPECT_EQ(engine->vm_vars[1023], 0);  // -1 would have wrapped to the last variable
}

TEST_F(VmCommandTest, PlacePictureMovesTheSelectedSlotWithoutDrawing)
{
    ImageSlot& slot = load_slot(4, 64, 20, 0, 0);
    engine->current_image = 4;
    engine->placed_image_slot = 9;
    slot.effect_type = EFFECT_FADE;
    exec("*10,300");
    EXPECT_EQ(engine->blit_x8, 10);
    EXPECT_EQ(engine->blit_y2, 44);
    EXPECT_EQ(slot.x, 80);
    EXPECT_EQ(slot.y, 88);
    EXPECT_EQ(slot.effect_type, 0);
    EXPECT_EQ(slot.effect_duration, 1);
    EXPECT_EQ(engine->placed_image_slot, 4);
    EXPECT_EQ(engine->gfx_log_count, 0);

    engine->hd_mode = 1;
    slot.effect_active = 1;
    engine->placed_image_slot = 9;
    exec("*1 2");
    EXPECT_EQ(slot.x, 16);
    EXPECT_EQ(slot.y, 8);
    EXPECT_EQ(engine->placed_image_slot, 9);  // a running effect keeps the placed slot

    exec("*");
    EXPECT_EQ(engine->blit_x8 + engine->blit_y2, 0);
}

TEST_F(VmCommandTest, ClearRectangleWorksInColumnsAndRows)
{
    struct {
        const char* instruction;
        int logged;
        std::array<int, 4> rect;
        bool hides;
    } cases[] = {
        {";0,0,0,80,200", 1, {0, 0, 640, 400}, true},
        {";0,0,0,80,100", 1, {0, 0, 640, 200}, false},
        {";1,0,0,80,200", 0, {}, false},
        {";0 1 2 3 4", 1, {8, 4, 24, 8}, false},
        {";0,1", 1, {8, 0, 0, 0}, false},
    };
    for (const auto& c : cases) {
        engine->gfx_log_count = 0;
        engine->gfx_log[0] = {};
        engine->image_slots[200].sprite_visible = 1;
        exec(c.instruction);
        const GfxCommand& record = engine->gfx_log[0];
        EXPECT_EQ(engine->gfx_log_count, c.logged) << c.instruction;
        EXPECT_EQ((std::array<int, 4>{record.rect_x, record.rect_y, record.rect_w, record.rect_h}), c.rect)
            << c.instruction;
        EXPECT_EQ(engine->image_slots[200].sprite_visible, c.hides ? 0 : 1) << c.instruction;
        EXPECT_EQ(rest(), "]");
    }
    engine->hd_mode = 1;
    engine->gfx_log_count = 0;
    exec(";0,1,2,3,4");
    EXPECT_EQ(engine->gfx_log[0].rect_x, 16);
    EXPECT_EQ(engine->gfx_log[0].rect_h, 16);
}

// Drawing commands need a canvas: a software renderer on the dummy driver.
class VmPictureDrawTest : public VmCommandTest {
protected:
    void SetUp() override
    {
        VmCommandTest::SetUp();
        engine->renderer = test_renderer();
        ASSERT_NE(engine->renderer, nullptr);
        gfx_init_screen(engine);
        ImageSlot& slot = load_slot(6, 64, 40, 8, 20);
        slot.tex_sd = SDL_CreateTexture(engine->renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_STATIC, 64, 40);
    }

    void TearDown() override
    {
        SDL_DestroyTexture(engine->image_slots[6].tex_sd);
        SDL_DestroyTexture(engine->canvas_texture);
        VmCodeTest::TearDown();
    }
};

TEST_F(VmPictureDrawTest, ShowThenPartialPictureLogBothAndShowAFrame)
{
    engine->pump_events_cb = count_pump;
    engine->game_speed = 3;
    g_pumps = 0;
    exec("\"6");
    ASSERT_EQ(engine->gfx_log_count, 1);
    EXPECT_EQ(engine->gfx_log[0].kind, GFX_CMD_BLIT);
    EXPECT_EQ(engine->gfx_log[0].x, 8);
    EXPECT_EQ(engine->gfx_log[0].y, 20);
    EXPECT_EQ(g_pumps, 0);

    engine->placed_image_slot = -1;  // as a load may leave it: draws from the current picture
    exec("*3,4");
    engine->image_slots[6].sprite_visible = 1;
    exec("&1,,2");
    ASSERT_EQ(engine->gfx_log_count, 2);
    const GfxCommand& part = engine->gfx_log[1];
    EXPECT_EQ(part.kind, GFX_CMD_BLIT_PART);
    EXPECT_EQ(part.image_id, 6);
    EXPECT_EQ(part.src_x8, 1);
    EXPECT_EQ(part.src_y2, 2);
    EXPECT_EQ(part.w8, 0);
    EXPECT_EQ(part.dst_x8, 3);
    EXPECT_EQ(part.dst_y2, 4);
    EXPECT_EQ(engine->image_slots[6].sprite_visible, 0);
    EXPECT_EQ(g_pumps, 1);

    engine->placed_image_slot = 300;  // unusable: nothing drawn, the frame still shown
    exec("&");
    EXPECT_EQ(engine->gfx_log_count, 2);
    EXPECT_EQ(g_pumps, 2);
}

TEST_F(VmPictureDrawTest, WaitAndPartialPictureSleepByTheSpeedRow)
{
    engine->pump_events_cb = count_pump;
    const std::pair<int32_t, uint32_t> rows[] = {{0, 16}, {1, 16}, {2, 8}, {3, 5}};
    for (auto [speed, ms] : rows) {
        engine->game_speed = speed;
        g_sleeps.clear();
        exec("$2");
        exec("&");
        EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{ms, ms, ms})) << "speed " << speed;
    }
}

// ---------------------------------------------------------------------------
// Text attribute and music
// ---------------------------------------------------------------------------

TEST_F(VmCommandTest, TextAttributeSetsColourAndHighBitOfTheCurrentWindow)
{
    for (auto [instruction, attribute] : {std::pair{"P9", 0x25}, {"P7", 0xE1}, {"P15", 0xE5}, {"P0", 0x01}}) {
        exec(instruction);
        EXPECT_EQ(engine->text_windows[0].attribute, attribute) << instruction;
    }
    select_window(256);
    exec("P2");
    select_window(3);  // never defined
    exec("P2");
    EXPECT_EQ(engine->text_windows[0].attribute, 0x01);
    EXPECT_EQ(engine->text_windows[3].attribute, 0);
}

TEST_F(VmCommandTest, MusicRemembersTheTrackAndTracesTheStopOnlyAfterLoad)
{
    exec("#65541");
    EXPECT_EQ(engine->bgm_track, 5);
    EXPECT_EQ(engine->dbg_cmd_trace[0].command, '#');
    EXPECT_EQ(engine->dbg_cmd_trace[0].operand, 65541u);
    exec("#");
    EXPECT_EQ(engine->bgm_track, 0);
    EXPECT_EQ(engine->dbg_cmd_trace_count, 1);

    engine->vm_vars[VAR_LOAD_FLAG] = 1;
    exec("#");
    ASSERT_EQ(engine->dbg_cmd_trace_count, 2);
    EXPECT_EQ(engine->dbg_cmd_trace[1].operand, 65535u);
}

}  // namespace
