#include <gtest/gtest.h>

#include "render_fixture.h"
#include "screen.h"
#include "test_support.h"
#include "vm.h"
#include "vm_harness.h"
#include "../scenario/vm_private.h"

#include <SDL.h>

#include <cstring>
#include <utility>
#include <vector>

namespace {

using Cell = std::pair<int32_t, int32_t>;  // col, row
Cell cursor(const TextWindow* w) { return {w->col, w->row}; }

constexpr uint32_t TRANSPARENT = 0;
constexpr uint32_t RED = 0xFF0000;
constexpr uint16_t ATTRIBUTE_RED = 0x40;
constexpr uint16_t SJIS_SPACE = 0x8140;

class TextWindowTest : public VmTextLayerTest {
protected:
    void SetUp() override
    {
        VmTextLayerTest::SetUp();
        vm_reset_text_windows(engine);
    }

    // Runs an 'O' or 'V' command.
    void command(const std::string& text)
    {
        run_command(engine, scenario, text, text[0] == 'O' ? vm_cmd_define_window : vm_cmd_print_messages);
    }

    // Window 7: 3 cells by 2 rows from cell (2, 3), i.e. pixels (16, 48) to (40, 80), in red.
    TextWindow* small_window()
    {
        command("O7,2,3,4,4");
        engine->vm_vars[VAR_CUR_WINDOW] = 7;
        engine->text_windows[7].attribute = ATTRIBUTE_RED;
        return &engine->text_windows[7];
    }

    void put(const std::string& text)
    {
        for (unsigned char c : text)
            vm_put_char(engine, c);
    }

    Pixels layer() { return read_render_target(text_layer_get()); }
    uint32_t layer_at(int x, int y) { return pixel_at(layer(), SCREEN_WIDTH, x, y); }

    void paint_layer(uint32_t rgb)
    {
        SDL_Renderer* r = test_renderer();
        SDL_SetRenderTarget(r, text_layer_get());
        SDL_SetRenderDrawColor(r, rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF, 0xFF);
        SDL_RenderClear(r);
        SDL_SetRenderTarget(r, nullptr);
    }

    ScenarioBuilder scenario;
};

// A window's record but its spare words, in field order, as one comparable value.
std::vector<int32_t> fields(const TextWindow& w)
{
    return {w.id, w.active, w.x, w.y, w.w, w.h, w.col, w.row, w.attribute, w.cols, w.rows};
}

TEST(TextWindowResetTest, WindowZeroCoversTheScreenAndOtherWindowsStay)
{
    for (uint8_t hd : {0, 1}) {
        VmHarness vm(hd);
        Engine* engine = vm.engine();
        engine->text_windows[0] = TextWindow{9, 0, 5, 5, 8, 8, 3, 3, 0, 1, 1, {1, 2, 3, 4}};
        engine->text_windows[5] = TextWindow{5, 1, 8, 16, 8, 16, 0, 0, 0xE1, 1, 1, {}};
        engine->vm_vars[VAR_CUR_WINDOW] = 5;
        engine->vm_depth = 4;
        vm_reset_text_windows(engine);

        const TextWindow& w = engine->text_windows[0];
        const int k = hd ? 2 : 1;
        EXPECT_EQ(fields(w), (std::vector<int32_t>{0, 1, 0, 0, 640 * k, 400 * k, 0, 0, 0xE1, 80, 25}));
        EXPECT_EQ(w.spare[3], 4u);
        EXPECT_EQ(fields(engine->text_windows[5]), (std::vector<int32_t>{5, 1, 8, 16, 8, 16, 0, 0, 0xE1, 1, 1}));
        EXPECT_EQ(engine->vm_vars[VAR_CUR_WINDOW], 0);
        EXPECT_EQ(engine->vm_vars[VAR_TEXT_SPEED], 1);
        EXPECT_EQ(engine->vm_depth, 0);
    }
}

TEST_F(TextWindowTest, DefineWindowSetsCellsClampsAndNamesItsVariable)
{
    engine->vm_vars[10] = -5;
    const std::pair<const char*, std::vector<int32_t>> cases[] = {
        {"O3,0,0,79,24", {3, 1, 0, 0, 640, 400, 0, 0, 0xE1, 80, 25}},
        {"O 4 , 99,@10,79, 3", {4, 1, 632, 0, 8, 64, 0, 0, 0xE1, 1, 4}},
        {"O5,1,2,3,4,", {5, 1, 8, 32, 24, 48, 0, 0, 0xE1, 3, 3}},
    };
    for (const auto& [definition, want] : cases) {
        const int id = want[0];
        engine->text_windows[id].col = 5;
        engine->text_windows[id].attribute = 0x40;
        engine->text_windows[id].spare[0] = 77;
        command(definition);
        EXPECT_EQ(fields(engine->text_windows[id]), want) << definition;
        EXPECT_EQ(engine->text_windows[id].spare[0], 77u) << definition;
        EXPECT_EQ(engine->vm_vars[id], id) << definition;
    }
    EXPECT_EQ(engine->vm_vars[VAR_CUR_WINDOW], 0);

    // Four operands, or a number past the last window, define nothing.
    command("O6,1,2,3");
    command("O300,0,0,1,1");
    EXPECT_EQ(engine->vm_vars[6], 0);
    for (int id = 6; id < TEXT_WINDOW_COUNT; id++)
        ASSERT_EQ(engine->text_windows[id].active, 0) << id;

    VmHarness hd(1);
    run_command(hd.engine(), ScenarioBuilder(), "O3,1,2,10,5", vm_cmd_define_window);
    EXPECT_EQ(fields(hd.engine()->text_windows[3]), (std::vector<int32_t>{3, 1, 16, 64, 160, 128, 0, 0, 0xE1, 10, 4}));
}

TEST_F(TextWindowTest, DefineWindowClearsOnlyItsRectangle)
{
    paint_layer(RED);
    command("O6,1,1,2,2");
    Pixels p = layer();
    EXPECT_EQ(pixel_at(p, 640, 8, 16), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, 640, 23, 47), TRANSPARENT);
    EXPECT_EQ(pixel_at(p, 640, 7, 16), opaque(RED));
    EXPECT_EQ(pixel_at(p, 640, 24, 16), opaque(RED));
    EXPECT_EQ(pixel_at(p, 640, 8, 48), opaque(RED));
}

TEST_F(TextWindowTest, TextWrapsAtTheRightEdgeAndPairsMayOverhangIt)
{
    TextWindow* w = small_window();
    put("ABC");
    EXPECT_EQ(cursor(w), Cell(0, 1));
    Pixels p = layer();
    EXPECT_EQ(pixel_at(p, 640, 16, 48), opaque(RED));
    EXPECT_EQ(pixel_at(p, 640, 39, 63), opaque(RED));
    EXPECT_EQ(pixel_at(p, 640, 40, 48), TRANSPARENT);

    put("DE");
    vm_put_char(engine, SJIS_SPACE);
    // Drawn two cells wide from the last cell, then the wrap scrolls the window.
    EXPECT_EQ(cursor(w), Cell(0, 1));
    ASSERT_EQ(engine->history.count, 1);
    const HistoryEntry& line = engine->history.entries[0];
    EXPECT_EQ((std::vector<int32_t>{line.x, line.y, line.w, line.h, line.window_id}),
              (std::vector<int32_t>{16, 48, 24, 16, 7}));
    p = layer();
    EXPECT_EQ(pixel_at(p, 640, 32, 48), opaque(RED));  // the pair moved up
    EXPECT_EQ(pixel_at(p, 640, 16, 64), TRANSPARENT);  // the freed line
    EXPECT_EQ(pixel_at(p, 640, 47, 64), opaque(RED));  // its overhang is outside the window
}

TEST_F(TextWindowTest, HdLinesScrollIntoTheHistoryAtTwiceTheSize)
{
    engine->hd_mode = 1;
    small_window();  // pixels (32, 96) to (80, 160) in HD
    put("ABCDEFG");
    ASSERT_EQ(engine->history.count, 1);
    const HistoryEntry& line = engine->history.entries[0];
    EXPECT_EQ((std::vector<int32_t>{line.x, line.y, line.w, line.h}), (std::vector<int32_t>{32, 96, 48, 32}));
}

TEST_F(TextWindowTest, LineFeedAtColumnZeroDefersTheScrollToTheNextCharacter)
{
    TextWindow* w = small_window();
    put("A\r\nB\r\n");
    EXPECT_EQ(w->row, 2);
    EXPECT_EQ(engine->history.count, 0);

    put("C");
    EXPECT_EQ(cursor(w), Cell(1, 1));
    ASSERT_EQ(engine->history.count, 1);
    uint32_t captured = 0;  // the line that went off the top held the A
    memcpy(&captured, engine->history.entries[0].pixels, sizeof captured);
    EXPECT_EQ(captured, opaque(RED));
    EXPECT_EQ(layer_at(16, 48), opaque(RED));  // B moved up
    EXPECT_EQ(layer_at(16, 64), opaque(RED));  // C on the last row
    EXPECT_EQ(layer_at(24, 64), TRANSPARENT);

    // Inside a line, the last row's line feed scrolls at once and keeps the column.
    put("\n");
    EXPECT_EQ(cursor(w), Cell(1, 1));
    EXPECT_EQ(engine->history.count, 2);

    // A second line feed below the window scrolls without moving the cursor,
    // and the next character scrolls again, leaving an empty line.
    put("\r\n\n");
    EXPECT_EQ(w->row, 2);
    EXPECT_EQ(engine->history.count, 3);
    put("D");
    EXPECT_EQ(w->row, 1);
    EXPECT_EQ(engine->history.count, 4);
    EXPECT_EQ(layer_at(16, 48), TRANSPARENT);
    EXPECT_EQ(layer_at(16, 64), opaque(RED));
}

TEST_F(TextWindowTest, ControlCodesMoveTheCursor)
{
    TextWindow* w = small_window();
    struct Case {
        uint16_t code;
        int32_t col, row;  // from (1, 1)
    };
    const Case cases[] = {
        {0, 1, 1},  {7, 1, 1},  {8, 0, 1},  {9, 1, 1},  {11, 0, 0}, {13, 0, 1}, {14, 1, 1},
        {27, 1, 1}, {28, 2, 1}, {29, 0, 1}, {30, 1, 0}, {31, 1, 2}, {25, 1, 1},
    };
    for (const Case& c : cases) {
        w->col = 1;
        w->row = 1;
        vm_put_char(engine, c.code);
        EXPECT_EQ(cursor(w), Cell(c.col, c.row)) << c.code;
    }
    // Left and up stop at the edge; right and down do not.
    w->col = 0;
    w->row = 0;
    put("\x08\x1D\x1E");
    EXPECT_EQ(cursor(w), Cell(0, 0));
    put("\x1C\x1C\x1C\x1C\x1F\x1F\x1F");
    EXPECT_EQ(cursor(w), Cell(4, 3));
    // A row below the window is pulled back to the last row before printing.
    put("A");
    EXPECT_EQ(cursor(w), Cell(0, 1));
    EXPECT_EQ(engine->history.count, 2);
    EXPECT_EQ(layer_at(48, 64), opaque(RED));
    // No step past the largest cell wraps the cursor round to a negative one.
    w->col = INT32_MAX;
    w->row = INT32_MAX;
    put("\x1C\x1F");
    EXPECT_EQ(cursor(w), Cell(INT32_MAX, INT32_MAX));
    w->row = 0;
    vm_put_char(engine, SJIS_SPACE);
    EXPECT_EQ(cursor(w), Cell(0, 1));
}

TEST_F(TextWindowTest, ClearAndScrollCodesActOnTheWindowOnly)
{
    paint_layer(RED);
    TextWindow* w = small_window();  // the definition cleared the window
    for (uint16_t clear : {12, 26}) {
        put("AB");
        vm_put_char(engine, clear);
        EXPECT_EQ(cursor(w), Cell(0, 0)) << clear;
        EXPECT_EQ(layer_at(16, 48), TRANSPARENT) << clear;
        EXPECT_EQ(layer_at(15, 48), opaque(RED)) << clear;
    }

    put("A\r\nB");
    vm_put_char(engine, 17);
    EXPECT_EQ(cursor(w), Cell(1, 0));
    EXPECT_EQ(engine->history.count, 1);
    EXPECT_EQ(layer_at(16, 48), opaque(RED));
    EXPECT_EQ(layer_at(16, 64), TRANSPARENT);
    EXPECT_EQ(layer_at(16, 80), opaque(RED));
}

TEST_F(TextWindowTest, ScreenClearsEmptyTheWholeTextLayer)
{
    const std::pair<Code, bool> cases[] = {
        {Code().text("\x1bJ"), true}, {Code().cmd(";0,0,0,80,200"), true}, {Code().cmd(";0,0,0,80,100"), false}};
    for (const auto& [code, clears] : cases) {
        paint_layer(RED);
        vm.install(ScenarioBuilder().segment(0, code));
        vm.run();
        const uint32_t left = clears ? TRANSPARENT : opaque(RED);
        EXPECT_EQ(layer_at(0, 0), left) << clears;
        EXPECT_EQ(layer_at(639, 399), left) << clears;
    }
}

TEST_F(TextWindowTest, WithoutAWindowTextOnlyMovesTheFreeCursor)
{
    paint_layer(RED);
    Pixels before = layer();
    engine->text_cursor_x = 0xFFF0;
    const struct {
        int32_t window;
        bool renderer;
    } setups[] = {{256, true}, {9, true}, {-1, true}, {0, false}};
    for (const auto& s : setups) {
        engine->vm_vars[VAR_CUR_WINDOW] = s.window;
        engine->renderer = s.renderer ? test_renderer() : nullptr;
        uint16_t x = engine->text_cursor_x;
        vm_put_char(engine, 'A');
        vm_put_char(engine, SJIS_SPACE);
        vm_put_char(engine, 12);
        EXPECT_EQ(engine->text_cursor_x, static_cast<uint16_t>(x + 32)) << s.window;
    }
    engine->renderer = test_renderer();
    EXPECT_EQ(engine->text_cursor_x, 0x70);  // 16-bit wrap
    EXPECT_EQ(engine->text_windows[0].col, 0);
    EXPECT_EQ(layer(), before);
    EXPECT_EQ(SDL_GetRenderTarget(test_renderer()), nullptr);
}

TEST_F(TextWindowTest, WindowsWithoutCellsTakeTextHarmlessly)
{
    paint_layer(RED);
    Pixels before = layer();
    for (const char* definition : {"O4,10,5,2,3", "O4,10,5,2,9", "O4,1,5,9,3"}) {
        command(definition);
        engine->vm_vars[VAR_CUR_WINDOW] = 4;
        const TextWindow& w = engine->text_windows[4];
        ASSERT_TRUE(w.cols < 1 || w.rows < 1) << definition;
        for (int i = 0; i < 300; i++) {
            put("A\n\x11\x0C");
            vm_put_char(engine, SJIS_SPACE);
        }
        EXPECT_EQ(engine->history.count, 0) << definition;
        EXPECT_EQ(layer(), before) << definition;
    }
}

TEST_F(TextWindowTest, OneLineWindowLosesItsLineWhenItScrolls)
{
    command("O8,0,0,2,0");
    engine->vm_vars[VAR_CUR_WINDOW] = 8;
    put("AB");
    EXPECT_EQ(layer_at(8, 0), opaque(0xFFFFFF));
    put("C");
    EXPECT_EQ(engine->text_windows[8].row, 0);
    EXPECT_EQ(engine->history.count, 1);
    EXPECT_EQ(layer_at(0, 0), TRANSPARENT);
    EXPECT_EQ(layer_at(16, 15), TRANSPARENT);
    put("D");
    EXPECT_EQ(layer_at(0, 0), opaque(0xFFFFFF));
}

TEST_F(TextWindowTest, PrintMessagesDrawsEachFromTheWindowStart)
{
    scenario.string(5, "AB\nC").string(6, "\x81\x40Z").string(7, "Q\x82");
    engine->vm_vars[VAR_TEXT_SPEED] = 3;
    TextWindow* w = small_window();
    w->attribute = 0xE1;
    put("XY");

    command("V5");
    EXPECT_EQ(cursor(w), Cell(1, 1));
    EXPECT_EQ(engine->wait_frames, 0);
    Pixels p = layer();
    EXPECT_EQ(pixel_at(p, 640, 16, 48), opaque(0xFFFFFF));  // A over the X
    EXPECT_EQ(pixel_at(p, 640, 24, 48), opaque(0xFFFFFF));  // B
    EXPECT_EQ(pixel_at(p, 640, 16, 64), opaque(0xFFFFFF));  // C
    EXPECT_EQ(pixel_at(p, 640, 24, 64), TRANSPARENT);

    command("V 5 , 6 ,7");
    EXPECT_EQ(cursor(w), Cell(1, 0));  // message 7 stops at its cut pair
    EXPECT_EQ(engine->wait_frames, 6);

    engine->wait_frames = 0;
    engine->vm_vars[VAR_TEXT_SPEED] = 0;
    command("V6,5");
    EXPECT_EQ(engine->wait_frames, 60);

    // A blank that is not followed by a comma ends the list.
    engine->wait_frames = 0;
    EXPECT_EQ(run_command(engine, scenario, "V6 5", vm_cmd_print_messages), 2u);
    EXPECT_EQ(engine->wait_frames, 0);
    EXPECT_EQ(cursor(w), Cell(0, 1));  // the Z filled the line
}

TEST_F(TextWindowTest, PrintMessagesWithoutATargetWindowOnlyWaits)
{
    scenario.string(5, "AB");
    Pixels before = layer();
    engine->vm_vars[VAR_CUR_WINDOW] = 300;
    command("V5,5");
    EXPECT_EQ(engine->wait_frames, 2);
    EXPECT_EQ(engine->text_cursor_x, 0);
    EXPECT_EQ(layer(), before);

    // An inactive window still has its cursor homed, but text goes to the free cursor.
    engine->vm_vars[VAR_CUR_WINDOW] = 9;
    engine->text_windows[9].col = 4;
    command("V5");
    EXPECT_EQ(engine->text_windows[9].col, 0);
    EXPECT_EQ(engine->text_cursor_x, 16);
    EXPECT_EQ(layer(), before);
}

}  // namespace
