// Keywords, text output, newlines and escape sequences.
#include <gtest/gtest.h>

#include "code_builder.h"
#include "vm_code_fixture.h"
#include "save.h"
#include "test_support.h"
#include "vm.h"
#include "../save/save_private.h"
#include "../scenario/vm_private.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int32_t NO_SCREEN = -100;  // the hook was not called

int32_t g_hook_answer = SAVE_SLOT_NONE;
int32_t g_hook_mode = NO_SCREEN;

int32_t answer_slot_screen(Engine*, int32_t mode)
{
    g_hook_mode = mode;
    return g_hook_answer;
}

class VmKeywordTest : public VmCodeTest {
protected:
    void SetUp() override
    {
        VmCodeTest::SetUp();
        engine->slot_screen_hook = answer_slot_screen;
        engine->vm_vars[VAR_TEXT_SPEED] = 1;
        engine->vm_vars[VAR_CUR_WINDOW] = 0;
        engine->text_windows[0].active = 1;
        g_hook_mode = NO_SCREEN;
        g_pending_save_slot = -1;
    }

    void TearDown() override
    {
        g_pending_save_slot = -1;
        VmCodeTest::TearDown();
    }

    // "[.<keyword>]", run with vm_pc just after the ".".
    void keyword(const std::string& text)
    {
        load("[." + text + "]", 2);
        vm_exec_keyword(engine);
    }

};

// ---------------------------------------------------------------------------
// Keywords
// ---------------------------------------------------------------------------

TEST_F(VmKeywordTest, KeywordsMatchExactlyAndAreCutAfterThirtyOneCharacters)
{
    const std::string forty = "LOAD" + std::string(27, 'X') + "ABCDEFGHI";
    struct {
        std::string code;
        int32_t flag;
        std::string left;
    } cases[] = {
        {"[.LOAD \t]", 1, "]"},
        {"[.load]", 0, "]"},
        {"[.LOADX]", 0, "]"},
        {"[.]", 0, "]"},
        {"[." + forty + "]", 0, "ABCDEFGHI]"},  // left for the one-character commands
        {".LOAD", 1, ""},                       // the end of the code ends the name
    };
    for (const auto& c : cases) {
        engine->vm_vars[VAR_LOAD_FLAG] = 0;
        load(c.code, static_cast<uint32_t>(c.code.find('.') + 1));
        vm_exec_keyword(engine);
        EXPECT_EQ(engine->vm_vars[VAR_LOAD_FLAG], c.flag) << c.code;
        EXPECT_EQ(rest(), c.left) << c.code;
    }
}

struct ArithmeticCase {
    const char* text;
    int32_t start;
    int32_t expected;
};

TEST_F(VmKeywordTest, ArithmeticKeywordsWrapAndNeverTrap)
{
    const ArithmeticCase cases[] = {
        {"MUL 8,100000", 100000, 1410065408},  // 10^10 modulo 2^32
        {"MUL 8,4294967295", 7, -7},
        {"MUL 1032,3", 7, 21},                 // the index wraps at 1024
        {"DIV 8,2", -7, -3},                   // truncates toward zero
        {"DIV 8,0", -7, -7},
        {"MOD 8,3", -7, -1},                   // the sign of the dividend
        {"MOD 8,0", -7, -7},
        {"DIV 8,4294967295", INT32_MIN, INT32_MIN},  // -2^31 / -1 wraps
        {"MOD 8,4294967295", INT32_MIN, 0},
        {"DIV 8", 9, 9},                       // a missing operand: nothing
        {"MUL 8,", 9, 9},
        {"PROT 8", 9, 0},
        {"PROT", 9, 9},
        {"SWAP 8", 9, 9},
        {"KEY", 9, 9},
    };
    for (const ArithmeticCase& c : cases) {
        engine->vm_vars[8] = c.start;
        keyword(c.text);
        EXPECT_EQ(engine->vm_vars[8], c.expected) << c.text;
    }
}

TEST_F(VmKeywordTest, ChangeOneThreeLoadsTheChosenSlot)
{
    g_hook_answer = 2;
    keyword("CHG 1,3");
    EXPECT_EQ(g_hook_mode, SAVE_SLOT_SCREEN_LOAD);
    EXPECT_EQ(engine->vm_leave, 0);

    g_hook_mode = NO_SCREEN;
    ScenarioBuilder().segment(0, Code().cmd(".CHG 1,1")).segment(1, Code()).install(engine);
    engine->vm_pc = 5;  // just after the ".": the head, "[" and "."
    vm_exec_keyword(engine);
    EXPECT_EQ(g_hook_mode, NO_SCREEN);
    EXPECT_EQ(engine->vm_leave, 0);  // no jump to segment 1 either
    keyword("CHG 1");
    EXPECT_EQ(g_hook_mode, NO_SCREEN);
}

TEST_F(VmKeywordTest, ChangeJumpsToAnExistingSegment)
{
    ScenarioBuilder scenario;
    scenario.segment(0, Code().cmd(".CHG 0,20")).segment(20, Code().text("A"));
    scenario.install(engine);
    engine->vm_pc = 5;  // just after the ".": the head, "[" and "."
    engine->vm_segment = 0;
    engine->vm_next_segment = 65534;
    vm_exec_keyword(engine);
    EXPECT_EQ(engine->vm_pc, scenario.offset_of(20));
    EXPECT_EQ(engine->vm_segment, 20u);
    EXPECT_EQ(engine->vm_leave, 1);
    EXPECT_EQ(engine->vm_next_segment, 65534u);
    ASSERT_EQ(engine->dbg_jump_trace_count, 1u);
    EXPECT_EQ(engine->dbg_jump_trace[0].target_segment, 20);
    EXPECT_EQ(engine->dbg_jump_trace[0].kind, '.');
    EXPECT_EQ(engine->dbg_jump_trace[0].segment, 0u);

    engine->vm_leave = 0;
    load("[.CHG 0,21]", 2);  // no such segment
    vm_exec_keyword(engine);
    EXPECT_EQ(engine->vm_leave, 0);
    EXPECT_EQ(rest(), "]");
}

TEST_F(VmKeywordTest, SaveKeepsTheChosenSlotForTheNextStep)
{
    g_hook_answer = 5;
    engine->vm_vars[VAR_RESULT] = 9;
    keyword("SAVE");
    EXPECT_EQ(g_hook_mode, SAVE_SLOT_SCREEN_SAVE);
    EXPECT_EQ(g_pending_save_slot, 5);
    EXPECT_EQ(engine->vm_vars[VAR_RESULT], 0);

    g_pending_save_slot = -1;
    g_hook_answer = SAVE_SLOT_NONE;
    keyword("SAVE");
    EXPECT_EQ(g_pending_save_slot, -1);
    EXPECT_EQ(engine->vm_vars[VAR_RESULT], 1);
}

TEST_F(VmKeywordTest, ChosenSaveIsWrittenBeforeTheNextInstruction)
{
    // A save folder under a plain file: every write fails and sets VAR_RESULT to 1.
    ScratchDir scratch;
    write_text_file(scratch.file("file"), "x");
    save_set_folder((scratch.file("file") + "/").c_str());
    g_hook_answer = 5;
    ScenarioBuilder().segment(0, Code().cmd(".SAVE =8,@4 .SAVE =4,7")).install(engine);
    while (vm_step(engine)) {
    }
    EXPECT_EQ(engine->vm_vars[8], 1);            // read after the failed write
    EXPECT_EQ(engine->vm_vars[VAR_RESULT], 7);  // set after it
    EXPECT_EQ(g_pending_save_slot, -1);

    // Without a renderer there is no thumbnail; the save is written all the same.
    save_set_folder((scratch.path() + "/").c_str());
    ScenarioBuilder().segment(0, Code().cmd(".SAVE")).install(engine);
    while (vm_step(engine)) {
    }
    EXPECT_EQ(engine->vm_vars[VAR_RESULT], 0);
    EXPECT_FALSE(read_file(scratch.file("save_06.dat")).empty());
}

TEST_F(VmKeywordTest, WithoutARendererTheSlotScreenAnswersCancelled)
{
    engine->slot_screen_hook = nullptr;
    keyword("SAVE");
    EXPECT_EQ(engine->vm_vars[VAR_RESULT], 1);
    EXPECT_EQ(g_pending_save_slot, -1);
}

// ---------------------------------------------------------------------------
// Text output
// ---------------------------------------------------------------------------

class VmTextTest : public VmKeywordTest {
protected:
    void SetUp() override
    {
        VmKeywordTest::SetUp();
        engine->vm_vars[VAR_CUR_WINDOW] = 256;  // the free cursor shows each character's width
    }
};

TEST_F(VmTextTest, SingleByteCharactersWaitOnEverySecondOne)
{
    engine->vm_vars[VAR_TEXT_SPEED] = 3;
    load("a\x82\xa0" "b\n");
    vm_exec_text(engine);
    EXPECT_EQ(engine->wait_frames, 3);
    engine->wait_frames = 0;
    vm_exec_text(engine);
    EXPECT_EQ(engine->wait_frames, 3);
    engine->wait_frames = 0;
    vm_exec_text(engine);  // double-byte text left the toggle: "b" is the second
    EXPECT_EQ(engine->wait_frames, 0);
    EXPECT_EQ(engine->vm_halfwidth_toggle, 0);
    vm_exec_newline(engine);
    EXPECT_EQ(engine->wait_frames, 3);
    EXPECT_EQ(engine->text_cursor_x, 8 + 8 + 16 + 2 * 8);  // the newline puts out CR and LF
    EXPECT_EQ(engine->vm_pc, 5u);

    engine->vm_vars[VAR_TEXT_SPEED] = 0;
    engine->wait_frames = 0;
    load("a\x82\xa0\n");
    vm_exec_text(engine);
    vm_exec_text(engine);
    vm_exec_newline(engine);
    EXPECT_EQ(engine->wait_frames, 0);
}

TEST_F(VmTextTest, SequencesCutShortByTheEndOfTheCodeAreConsumedAndDoNothing)
{
    engine->text_cursor_x = 5;
    load("\x82");
    vm_exec_text(engine);
    EXPECT_EQ(engine->vm_pc, 1u);
    for (const char* code : {"\x1b", "\x1bY", "\x1bY\x21"}) {
        load(code);
        vm_exec_escape(engine);
        EXPECT_EQ(engine->vm_pc, engine->code_size) << strlen(code);
    }
    EXPECT_EQ(engine->text_cursor_x, 5);
    EXPECT_EQ(engine->wait_frames, 0);

    load("\x1bZ1");  // unknown: the letter is consumed with the escape
    vm_exec_escape(engine);
    EXPECT_EQ(rest(), "1");
}

TEST_F(VmTextTest, EscapeYMovesTheWindowCursorOrTheFreeCursorInScaledCells)
{
    engine->vm_vars[VAR_CUR_WINDOW] = 0;
    load("\x1bY\x21\x22x");
    vm_exec_escape(engine);
    EXPECT_EQ(engine->text_windows[0].row, 1);
    EXPECT_EQ(engine->text_windows[0].col, 2);
    EXPECT_EQ(rest(), "x");
    load("\x1bY\x05\x10");  // below the bias: 0
    vm_exec_escape(engine);
    EXPECT_EQ(engine->text_windows[0].row + engine->text_windows[0].col, 0);

    engine->vm_vars[VAR_CUR_WINDOW] = 256;
    engine->hd_mode = 1;
    load("\x1bY\x21\x22");
    vm_exec_escape(engine);
    EXPECT_EQ(engine->text_cursor_x, 32);
    EXPECT_EQ(engine->text_cursor_y, 32);
}

TEST_F(VmTextTest, EscapeJClearsCanvasSpritesAndCursors)
{
    engine->vm_vars[VAR_CUR_WINDOW] = 0;
    engine->text_windows[0].col = 4;
    engine->text_windows[0].row = 3;
    engine->text_cursor_x = 40;
    engine->text_cursor_y = 50;
    engine->image_slots[9].sprite_visible = 1;
    engine->gfx_log_count = 2;
    load("\x1bJ");
    vm_exec_escape(engine);
    EXPECT_EQ(engine->gfx_log_count, 0);
    EXPECT_EQ(engine->image_slots[9].sprite_visible, 0);
    EXPECT_EQ(engine->text_cursor_x + engine->text_cursor_y, 0);
    EXPECT_EQ(engine->text_windows[0].col + engine->text_windows[0].row, 0);
    EXPECT_EQ(engine->vm_pc, 2u);
}

}  // namespace
