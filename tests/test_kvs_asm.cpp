// The scenario assembler: the bytes it writes for each source form, the
// tables file, what the interpreter does with the result, and the errors.
#include <gtest/gtest.h>

#include "kvs_assembler.h"
#include "vm_harness.h"
#include "scenario_player.h"
#include "vm.h"

#include <string>
#include <vector>

namespace {

constexpr size_t BODY_AT = 3;  // after the segment's '{' and length

std::string bytes_of(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The body of segment 0 assembled from the given lines, after a few
// messages and segments that the forms may refer to.
std::string assemble_body(const std::string& body, std::string* errors = nullptr)
{
    const KvsOutput out = kvs_assemble("message 1 a\nmessage 2 b\nsegment 0 {\n" + body + "\n}\nsegment 7 {\n}\n");
    for (const KvsError& error : out.errors)
        if (errors)
            *errors += std::to_string(error.line) + ": " + error.message + "\n";
    if (out.code.size() < BODY_AT)
        return "";
    const size_t length = out.code[1] | (out.code[2] << 8);
    return bytes_of(out.code).substr(BODY_AT, length);
}

struct FormCase {
    const char* source;
    std::string code;
};

TEST(KvsAsmTest, EachSourceFormBecomesTheBytesTheInterpreterReads)
{
    const FormCase cases[] = {
        // Text lines end with a newline byte; indentation and trailing blanks are layout.
        {"   AB  ", "AB\n"},
        {"AB\\\nCD", "ABCD\n"},
        {"A B // a note", "A B\n"},
        {"あ①ⅰ～", "\x82\xA0\x87\x40\xFA\x40\x81\x60\n"},
        {"ソ表", "\x83\x5C\x95\x5C\n"},
        // Command groups are copied; a line break in one is a separator, and a
        // line of commands only adds no newline.
        {"[=5,2 +6 -7,(@8)]", "[=5,2 +6 -7,(@8)]"},
        {"[O1,2,19,77,23\n    A1]", "[O1,2,19,77,23 A1]"},
        {"[A1] [$]", "[A1][$]"},
        {"Hi[$]", "Hi[$]\n"},
        {"[.CHG 1,3 .MUL 5,@@6 .LOAD]", "[.CHG 1,3 .MUL 5,@@6 .LOAD]"},
        {"[}7 /7 \\ /65534 R5,3,7 .CHG 0,7]", "[}7 /7 \\ /65534 R5,3,7 .CHG 0,7]"},
        {"[!1,2 ! V2 ?1 :@3,1 <@3 >4 ^@3]", "[!1,2 ! V2 ?1 :@3,1 <@3 >4 ^@3]"},
        {"[\"3 ~3 '4 *20,40 &0,0,40,10 %2,1 % ;0,0,0,80,200 C G20,21 P7 M1,2,3,4,5,6,7 | @5 #1 # $ $4]",
         "[\"3 ~3 '4 *20,40 &0,0,40,10 %2,1 % ;0,0,0,80,200 C G20,21 P7 M1,2,3,4,5,6,7 | @5 #1 # $ $4]"},
        // Blocks get their lengths; a block body is text, "}" in a group calls.
        {"[?1{X}]", std::string("[?1{\x01\x00X]\n", 9)},  // the line printed X
        {"[:@3{\n  yes\n}]", std::string("[:@3{\x04\x00yes\n]", 12)},
        {"{[}7]}", std::string("{\x04\x00[}7]", 7)},
        // Escapes.
        {"\\n\\f\\e\\x41\\cls\\at(1,2)", "\n\x0C\x1B" "A\x1BJ\x1BY!\""},
        {"\\sA\\\\\\/", " A\\/\n"},
        {"[\\n \\x7B]", "[\n {]"},
    };
    for (const FormCase& c : cases) {
        std::string errors;
        EXPECT_EQ(assemble_body(c.source, &errors), c.code) << c.source;
        EXPECT_EQ(errors, "") << c.source;
    }
}

TEST(KvsAsmTest, TablesHoldTheMessagesSegmentsAndStart)
{
    const KvsOutput out = kvs_assemble(
        "start 4\nvar0 9\nmessage 3 森へ\\n行く\nmessage 1 Stay \\s\n"
        "segment 4 {\n[/2]\n}\nsegment 2 {\nAB\n}\n");
    ASSERT_TRUE(out.errors.empty());
    VmHarness harness;
    Engine* const engine = harness.engine();
    std::vector<uint8_t> tables = out.tables;
    std::vector<uint8_t> code = out.code;
    auto* tables_copy = static_cast<uint8_t*>(malloc(tables.size()));
    auto* code_copy = static_cast<uint8_t*>(malloc(code.size()));
    memcpy(tables_copy, tables.data(), tables.size());
    memcpy(code_copy, code.data(), code.size());
    script_install(engine, tables_copy, tables.size(), code_copy, code.size());

    EXPECT_EQ(script_start_segment(engine), 4u);
    EXPECT_EQ(engine->vm_vars[0], 9);
    EXPECT_STREQ(script_string(engine, 3), "\x90\x58\x82\xd6\n\x8d\x73\x82\xad");
    EXPECT_STREQ(script_string(engine, 1), "Stay  ");
    EXPECT_STREQ(script_string(engine, 2), "");  // a gap holds an empty string
    EXPECT_STREQ(script_string(engine, 4), "[KVL_ERR]");
    // Segments lie in the order of the file, each a block of its own length.
    EXPECT_EQ(script_scene_entry(engine, 4), engine->code_base);
    EXPECT_EQ(script_scene_entry(engine, 2), engine->code_base + 3 + 4);
    EXPECT_EQ(script_scene_entry(engine, 3), nullptr);
    EXPECT_EQ(bytes_of(code), std::string("{\x04\x00[/2]{\x03\x00" "AB\n", 13));
}

TEST(KvsAsmTest, TheInterpreterDoesWhatTheSourceSays)
{
    ScenarioPlayer player;
    ASSERT_TRUE(player.load(R"(
start 0
message 1 left
message 2 right
segment 5 {
    [+10,5]
}
segment 6 {
    [=11,@10]
}
segment 0 {
    [=10,1 }5 .MUL 10,3]
    [:@10,18 {
        [=12,1]
    }]
    [A300]AB
    [!1,2 !]
    [?2 {[=13,2]} ?1 {[=13,1]}]
    [/6]
}
)")) << player.output().errors[0].message;
    const PlayResult result = player.play([](const std::vector<uint32_t>&) { return 1; }, 1000);
    Engine* engine = player.engine();
    EXPECT_EQ(engine->vm_vars[10], 18);
    EXPECT_EQ(engine->vm_vars[12], 1);
    EXPECT_EQ(engine->vm_vars[13], 2);
    EXPECT_EQ(engine->vm_vars[11], 18);  // the chain to segment 6 ran
    EXPECT_EQ(engine->text_cursor_x, 8 * 4);  // A, B and the newline's CR and LF, no window
    ASSERT_EQ(result.menus.size(), 1u);
    EXPECT_EQ(result.menus[0], (std::vector<uint32_t>{1, 2}));
}

struct ErrorCase {
    std::string source;
    int line;
    const char* message;
};

TEST(KvsAsmTest, BadSourceIsRejectedWithItsLine)
{
    const std::string long_text(40000, 'x');
    const ErrorCase cases[] = {
        {"segment 0 {\n[?1{\n}", 1, "segment is never closed"},
        {"segment 0 {\n[:1{\nX", 2, "block is never closed"},
        {"segment 0 {\nA\nsegment 1 {\n}", 1, "not closed before the next"},
        {"segment 0 {\nA]\n}", 2, "']' without a '['"},
        {"segment 0 {\n[A1 [=2]\n}", 2, "'[' inside a command group"},
        {"segment 0 {\n\n😀\n}", 3, "no Shift-JIS form: '😀'"},
        {"message 1 a\xff\nsegment 0 {\n}", 1, "no Shift-JIS form: byte 0xFF"},
        {"segment 0 {\n" + long_text + "\n" + long_text + "\n}", 1, "65535"},
        {"segment 0 {\n[}3]\n}", 2, "no segment 3"},
        {"segment 0 {\n\n[/600]\n}", 3, "no segment 600"},
        {"segment 0 {\n[.CHG 0,9]\n}", 2, "no segment 9"},
        {"segment 0 {\n[R5,1,8]\n}", 2, "no segment 8"},
        {"start 3\nsegment 0 {\n}", 1, "start names segment 3"},
        {"segment 0 {\n[!1,4 !]\n}", 2, "no message 1"},
        {"segment 0 {\n[V4]\n}", 2, "no message 4"},
        {"segment 0 {\n[a1]\n}", 2, "unknown command 'a'"},
        {"segment 0 {\n[.CHG0,1]\n}", 2, "unknown keyword '.CHG0'"},
        {"segment 0 {\n[=5 3]\n}", 2, "comma right behind the variable"},
        {"segment 0 {\n[% 3,0]\n}", 2, "number right after it"},
        {"segment 0 {\n[O1,2,3]\n}", 2, "'O' needs 5 operands"},
        {"segment 0 {\n[}]\n}", 2, "segment call) needs 1 operand"},
        {"segment 0 {\n[=(5)]\n}", 2, "'(' must hold a variable"},
        {"segment 0 {\n[A テキスト]\n}", 2, "text inside a command group"},
        {"segment 0 {\n\\q\n}", 2, "unknown escape"},
        {"segment 0 {\n}\nsegment 0 {\n}", 3, "already defined on line 1"},
        {"segment 600 {\n}", 1, "0 to 511"},
        {"message 1 a\nmessage 1 b\nsegment 0 {\n}", 2, "already defined"},
        {"hello\nsegment 0 {\n}", 1, "unknown directive 'hello'"},
        {"// nothing\n", 1, "no segment defined"},
    };
    for (const ErrorCase& c : cases) {
        const KvsOutput out = kvs_assemble(c.source);
        ASSERT_FALSE(out.errors.empty()) << c.source;
        EXPECT_TRUE(out.code.empty() && out.tables.empty());
        std::string all;
        bool found = false;
        for (const KvsError& error : out.errors) {
            all += std::to_string(error.line) + ": " + error.message + "\n";
            found = found || (error.line == c.line && error.message.find(c.message) != std::string::npos);
        }
        EXPECT_TRUE(found) << c.source << "\n -> " << all;
    }
}

}  // namespace
