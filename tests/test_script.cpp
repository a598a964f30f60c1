#include <gtest/gtest.h>

#include "archive.h"
#include "kvr_writer.h"
#include "test_support.h"
#include "vm.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr uint32_t UNTOUCHED = 0xDEADBEEF;

void put_u16(Bytes& bytes, size_t offset, uint16_t value)
{
    if (bytes.size() < offset + 2)
        bytes.resize(offset + 2);
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void append_u32(Bytes& bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<uint8_t>(value >> shift));
}

// A well-formed tables file: the header words, the parameters, the string
// offsets, T, the strings, then the segment table.
Bytes make_tables(const std::vector<uint16_t>& params, const std::vector<std::string>& strings,
                  const std::vector<uint32_t>& segments)
{
    Bytes bytes;
    put_u16(bytes, 2, static_cast<uint16_t>(params.size()));
    put_u16(bytes, 4, static_cast<uint16_t>(strings.size()));
    put_u16(bytes, 6, 0);
    size_t word = 4;
    for (uint16_t param : params)
        put_u16(bytes, 2 * word++, param);
    size_t first_offset_word = word;
    size_t t_word = word + strings.size();
    bytes.resize(2 * (t_word + 1));
    for (size_t i = 0; i < strings.size(); i++) {
        put_u16(bytes, 2 * (first_offset_word + i), static_cast<uint16_t>(bytes.size()));
        bytes.insert(bytes.end(), strings[i].begin(), strings[i].end());
        bytes.push_back(0);
    }
    put_u16(bytes, 2 * t_word, static_cast<uint16_t>(bytes.size()));
    for (uint32_t segment : segments)
        append_u32(bytes, segment);
    return bytes;
}

uint8_t* heap_copy(const Bytes& bytes)
{
    auto* block = static_cast<uint8_t*>(malloc(bytes.empty() ? 1 : bytes.size()));
    if (!bytes.empty())
        memcpy(block, bytes.data(), bytes.size());
    return block;
}

struct EngineFixture : ::testing::Test {
    std::unique_ptr<Engine> owner = std::make_unique<Engine>();
    Engine* engine = owner.get();

    void SetUp() override { engine_init(engine, 0); }
    void TearDown() override
    {
        free(engine->kvl_data);
        free(engine->code_base);
    }

    void install(const Bytes& tables, const Bytes& code)
    {
        script_install(engine, heap_copy(tables), tables.size(), heap_copy(code), code.size());
    }

    void mark_segments()
    {
        for (uint32_t& offset : engine->segment_offsets)
            offset = UNTOUCHED;
    }
};

using ScriptTest = EngineFixture;

Bytes code_of(size_t size)
{
    Bytes code(size);
    for (size_t i = 0; i < size; i++)
        code[i] = static_cast<uint8_t>(i);
    return code;
}

}  // namespace

TEST_F(ScriptTest, InstalledPairGivesStringsSegmentsStartAndVariable0)
{
    engine->vm_vars[0] = -5;
    install(make_tables({77, 3, 9}, {"hello", "", "\x82\xa0"}, {0, 10, 20, 27}), code_of(30));

    EXPECT_EQ(engine->kvl_loaded, 1u);
    EXPECT_EQ(engine->code_size, 30u);
    EXPECT_STREQ(script_string(engine, 0), "hello");
    EXPECT_STREQ(script_string(engine, 1), "");
    EXPECT_STREQ(script_string(engine, 2), "\x82\xa0");
    EXPECT_EQ(script_start_segment(engine), 3u);
    EXPECT_EQ(engine->vm_vars[0], 77);
    EXPECT_EQ(script_scene_entry(engine, 1), engine->code_base + 10);
    EXPECT_EQ(script_scene_entry(engine, 2), engine->code_base + 20);
    EXPECT_EQ(script_scene_entry(engine, 3), engine->code_base + 27);
    // Segments the table does not reach keep offset 0 from start-up.
    EXPECT_EQ(script_scene_entry(engine, 4), engine->code_base);
    EXPECT_EQ(script_scene_entry(engine, 511), engine->code_base);
}

TEST_F(ScriptTest, Parameter0IsZeroExtendedIntoVariable0)
{
    install(make_tables({0xFFFF, 0}, {}, {}), code_of(3));
    EXPECT_EQ(engine->vm_vars[0], 65535);
}

TEST_F(ScriptTest, FewerThanTwoParametersLeaveVariable0AndShiftTheStartWord)
{
    // N1 = 1: word 5 is the first string offset.
    engine->vm_vars[0] = 42;
    Bytes one = make_tables({9}, {"a", "b"}, {});
    install(one, code_of(3));
    EXPECT_EQ(engine->vm_vars[0], 42);
    EXPECT_EQ(script_start_segment(engine), one[10] | (one[11] << 8));
    EXPECT_STREQ(script_string(engine, 0), "a");

    // N1 = 0: words 4 and 5 are the first two string offsets.
    Bytes none = make_tables({}, {"x", "y"}, {});
    install(none, code_of(3));
    EXPECT_EQ(engine->vm_vars[0], 42);
    uint16_t second_string = static_cast<uint16_t>(none[10] | (none[11] << 8));
    EXPECT_EQ(script_start_segment(engine), second_string);
    EXPECT_STREQ(reinterpret_cast<const char*>(engine->kvl_data + second_string), "y");
}

TEST_F(ScriptTest, SegmentTableCopiesOnlyWholeEntriesAndAtMost512)
{
    mark_segments();
    Bytes tables = make_tables({0, 0}, {}, {100});
    tables.push_back(0xAA);  // (size - T) = 5: one entry
    install(tables, code_of(200));
    EXPECT_EQ(engine->segment_offsets[0], 100u);
    EXPECT_EQ(engine->segment_offsets[1], UNTOUCHED);

    std::vector<uint32_t> many;
    for (uint32_t n = 0; n < 600; n++)
        many.push_back(n * 3);
    install(make_tables({0, 0}, {}, many), code_of(2000));
    EXPECT_EQ(engine->segment_offsets[511], 511u * 3);
    EXPECT_EQ(script_scene_entry(engine, 511), engine->code_base + 511 * 3);
    EXPECT_EQ(script_scene_entry(engine, 512), nullptr);
}

TEST_F(ScriptTest, TableAtOrPastTheEndLoadsWithoutChangingSegments)
{
    mark_segments();
    Bytes tables = make_tables({5, 6}, {"s"}, {});  // T equals the file size
    install(tables, code_of(10));
    EXPECT_EQ(engine->kvl_loaded, 1u);
    EXPECT_EQ(engine->vm_vars[0], 5);
    EXPECT_EQ(engine->segment_offsets[0], UNTOUCHED);

    size_t t_word_offset = 2 * (4 + 2 + 1);
    put_u16(tables, t_word_offset, 0xFFF0);
    install(tables, code_of(10));
    EXPECT_EQ(engine->segment_offsets[0], UNTOUCHED);
}

TEST_F(ScriptTest, TablePositionWrapsAt16BitsButStringOffsetsDoNot)
{
    // Word index 4 + 0xFFFF + 3 wraps to 6: T is read at byte 12.
    Bytes tables(16, 0);
    put_u16(tables, 2, 0xFFFF);
    put_u16(tables, 4, 3);
    put_u16(tables, 8, 1234);
    put_u16(tables, 12, 16);
    append_u32(tables, 7);
    install(tables, code_of(10));
    EXPECT_EQ(engine->segment_offsets[0], 7u);
    EXPECT_EQ(engine->vm_vars[0], 1234);
    // String 0's offset word lies at word 65539, far past this file.
    EXPECT_STREQ(script_string(engine, 0), "[KVL_ERR]");

    // Word index 4 + 0x8000 + 2 = 0x8006 doubles to 0x1000C, which wraps to 12.
    mark_segments();
    put_u16(tables, 2, 0x8000);
    put_u16(tables, 4, 2);
    install(tables, code_of(10));
    EXPECT_EQ(engine->segment_offsets[0], 7u);
    EXPECT_EQ(engine->segment_offsets[1], UNTOUCHED);
}

TEST_F(ScriptTest, StringNumbersAndOffsetsOutOfRangeGiveTheErrorText)
{
    EXPECT_EQ(script_string(engine, 0), nullptr);  // nothing loaded

    Bytes tables = make_tables({0, 0}, {"one", "two"}, {});
    install(tables, code_of(3));
    EXPECT_STREQ(script_string(engine, -1), "[KVL_ERR]");
    EXPECT_STREQ(script_string(engine, 2), "[KVL_ERR]");
    EXPECT_STREQ(script_string(engine, INT32_MIN), "[KVL_ERR]");

    put_u16(tables, 2 * (4 + 2 + 1), static_cast<uint16_t>(tables.size()));  // string 1 at the end
    install(tables, code_of(3));
    EXPECT_STREQ(script_string(engine, 0), "one");
    EXPECT_STREQ(script_string(engine, 1), "[KVL_ERR]");
}

TEST_F(ScriptTest, StringCountBeyondTheFileGivesTheErrorText)
{
    Bytes tables(12, 0);
    put_u16(tables, 4, 400);  // N2 = 400, but only the words up to 5 exist
    put_u16(tables, 8, 10);
    install(tables, code_of(3));
    EXPECT_STREQ(script_string(engine, 0), "");
    EXPECT_STREQ(script_string(engine, 2), "[KVL_ERR]");
    EXPECT_STREQ(script_string(engine, 399), "[KVL_ERR]");
}

TEST_F(ScriptTest, StringWithoutTerminatorGivesTheErrorText)
{
    Bytes tables = make_tables({}, {"ok", "cut"}, {});
    tables.pop_back();  // drops the zero of the last string
    install(tables, code_of(3));
    EXPECT_STREQ(script_string(engine, 0), "ok");
    EXPECT_STREQ(script_string(engine, 1), "[KVL_ERR]");
}

TEST_F(ScriptTest, ShortTablesFilesLoadWithMissingWordsAsZero)
{
    for (size_t size : {0, 1, 3, 5, 7, 9, 11, 12}) {
        mark_segments();
        engine->vm_vars[0] = 99;
        Bytes tables(size, 0);
        if (size >= 4)
            tables[2] = 2;  // N1 = 2, so parameter 0 would be applied
        for (size_t i = 6; i < size; i++)
            tables[i] = 0x41;
        install(tables, code_of(8));
        EXPECT_EQ(engine->kvl_loaded, 1u) << size;
        EXPECT_EQ(script_start_segment(engine), size >= 12 ? 0x4141u : 0u) << size;
        EXPECT_STREQ(script_string(engine, 0), "[KVL_ERR]") << size;
        if (size >= 4) {
            EXPECT_EQ(engine->vm_vars[0], size >= 10 ? 0x4141 : 0) << size;
        }
        // T's word (word 6 with N1 = 2, word 4 below that) is missing in each.
        EXPECT_EQ(engine->segment_offsets[0], UNTOUCHED) << size;
    }
}

TEST_F(ScriptTest, SceneEntryNeedsRoomForTheSegmentHead)
{
    install(make_tables({}, {}, {0, 7, 8, 9, 10}), code_of(10));
    EXPECT_EQ(script_scene_entry(engine, 0), engine->code_base);
    EXPECT_EQ(script_scene_entry(engine, 1), engine->code_base + 7);
    EXPECT_EQ(script_scene_entry(engine, 2), nullptr);  // only two bytes left
    EXPECT_EQ(script_scene_entry(engine, 3), nullptr);
    EXPECT_EQ(script_scene_entry(engine, 4), nullptr);  // equal to code_size
    EXPECT_EQ(script_scene_entry(engine, 512), nullptr);
    EXPECT_EQ(script_scene_entry(engine, UINT32_MAX), nullptr);

    install(make_tables({}, {}, {0xFFFFFFFF}), code_of(10));
    EXPECT_EQ(script_scene_entry(engine, 0), nullptr);

    install(make_tables({}, {}, {0}), Bytes());
    EXPECT_EQ(script_scene_entry(engine, 0), nullptr);
}

// script_load reads the pair through the scenario archive.
struct ScriptLoadTest : EngineFixture {
    ScratchDir dir;

    void TearDown() override
    {
        arc_close(&g_arc_script);
        EngineFixture::TearDown();
    }

    void open_archive(const std::vector<KvrInputEntry>& entries)
    {
        dir.enter();
        KvrArchiveSpec spec;
        spec.entries = entries;
        write_file(dir.file("script.dat"), kvr_build_archive(spec));
        ASSERT_TRUE(arc_open_script(nullptr));
    }
};

TEST_F(ScriptLoadTest, LoadsBothFilesOfTheStem)
{
    Bytes tables = make_tables({12, 4}, {"line"}, {3});
    Bytes code = {'x', 'x', 'x', '{', 0, 0};
    open_archive({{"S00000.KVL", tables, true}, {"S00000.KVY", code, false}});

    ASSERT_TRUE(script_load(engine, SCENARIO_FILE_STEM));
    EXPECT_EQ(engine->kvl_loaded, 1u);
    ASSERT_EQ(engine->kvl_size, tables.size());
    EXPECT_EQ(memcmp(engine->kvl_data, tables.data(), tables.size()), 0);
    ASSERT_EQ(engine->code_size, code.size());
    EXPECT_EQ(memcmp(engine->code_base, code.data(), code.size()), 0);
    EXPECT_EQ(engine->vm_vars[0], 12);
    EXPECT_EQ(script_start_segment(engine), 4u);
    EXPECT_STREQ(script_string(engine, 0), "line");
    EXPECT_EQ(*script_scene_entry(engine, 0), '{');
}

TEST_F(ScriptLoadTest, MissingTablesFileChangesNothing)
{
    open_archive({{"S00000.KVY", code_of(4), false}});
    mark_segments();
    EXPECT_FALSE(script_load(engine, SCENARIO_FILE_STEM));
    EXPECT_EQ(engine->kvl_data, nullptr);
    EXPECT_EQ(engine->code_base, nullptr);
    EXPECT_EQ(engine->kvl_loaded, 0u);
    EXPECT_EQ(engine->segment_offsets[0], UNTOUCHED);
}

TEST_F(ScriptLoadTest, MissingCodeFileKeepsTheNewTablesAndTheOldState)
{
    install(make_tables({1, 1}, {"old"}, {2}), code_of(5));
    uint8_t* old_code = engine->code_base;
    engine->vm_vars[0] = 8;

    Bytes tables = make_tables({6, 9}, {"new"}, {4});
    open_archive({{"S00000.KVL", tables, false}});
    EXPECT_FALSE(script_load(engine, SCENARIO_FILE_STEM));
    EXPECT_EQ(engine->kvl_size, tables.size());
    EXPECT_STREQ(script_string(engine, 0), "new");
    EXPECT_EQ(engine->kvl_loaded, 1u);
    EXPECT_EQ(engine->code_base, old_code);
    EXPECT_EQ(engine->code_size, 5u);
    EXPECT_EQ(engine->segment_offsets[0], 2u);
    EXPECT_EQ(engine->vm_vars[0], 8);
}

TEST_F(ScriptLoadTest, MissingCodeFileOnAFreshEngineLeavesItUnloaded)
{
    open_archive({{"S00000.KVL", make_tables({}, {"s"}, {}), false}});
    EXPECT_FALSE(script_load(engine, SCENARIO_FILE_STEM));
    EXPECT_NE(engine->kvl_data, nullptr);
    EXPECT_EQ(engine->kvl_loaded, 0u);
    EXPECT_EQ(script_string(engine, 0), nullptr);
    EXPECT_EQ(script_start_segment(engine), 0u);
}
