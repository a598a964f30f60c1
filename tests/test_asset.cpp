#include <gtest/gtest.h>

#include "archive.h"
#include "kvr_writer.h"
#include "test_support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// Opens one of the global archives on an image built from name/content pairs.
void install(Archive* arc, const std::vector<std::pair<std::string, std::string>>& entries)
{
    KvrArchiveSpec spec;
    for (const auto& [name, content] : entries)
        spec.entries.push_back({name, text(content), true});
    Bytes file = kvr_build_archive(spec);
    uint8_t* copy = static_cast<uint8_t*>(malloc(file.size()));
    memcpy(copy, file.data(), file.size());
    ASSERT_TRUE(arc_open_image(arc, copy, file.size()));
}

// Makes the named entry's stored data run past the image, so it is found but
// cannot be extracted.
void corrupt_entry(Archive* arc, const char* name)
{
    ArchiveEntry* entry = const_cast<ArchiveEntry*>(arc_find(arc, name));
    ASSERT_NE(entry, nullptr);
    memset(entry->offset_le, 0xFF, sizeof entry->offset_le);
}

// What asset_read answers, as text; "<null>" when it gives nothing.
std::string read_asset(const char* name, size_t* out_len = nullptr)
{
    size_t len = 0;
    uint8_t* data = asset_read(name, &len);
    if (out_len)
        *out_len = len;
    if (!data)
        return "<null>";
    std::string result(reinterpret_cast<char*>(data), len);
    free(data);
    return result;
}

class AssetTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        arc_close(&g_arc_base);
        arc_close(&g_arc_hd);
        arc_close(&g_arc_script);
    }
};

TEST_F(AssetTest, NamesAreRoutedToTheArchiveTheyBelongTo)
{
    using Entries = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* what;
        Entries base, script, hd;  // an archive without entries is not opened
        Entries reads;             // name asked for, answer
    };
    const Case cases[] = {
        {"scenario files come from the scenario archive first",
         {{"S00000.KVL", "base kvl"}, {"S00000.KVY", "base kvy"}},
         {{"S00000.KVL", "script kvl"}},
         {},
         // Missing from the scenario archive: base.dat still answers.
         {{"S00000.KVL", "script kvl"}, {"assets\\S00000.KVL", "script kvl"}, {"S00000.KVY", "base kvy"}}},
        {"only upper-case scenario suffixes go to the scenario archive",
         {{"s00000.kvl", "base"}},
         {{"s00000.kvl", "script"}, {"splash.png", "script splash"}, {"KVL", "short"}},
         {},
         {{"s00000.kvl", "base"}, {"splash.png", "<null>"}, {"KVL", "<null>"}}},
        {"scenario files without a scenario archive come from base",
         {{"S00000.KVL", "base kvl"}},
         {},
         {},
         {{"S00000.KVL", "base kvl"}}},
        {"HD names try the whole name, then the HD folder, then base",
         {{"img/hd/003.png", "base 003"}, {"bgm/hd/track.ogg", "base track"}},
         {},
         {{"img/hd/001.png", "hd whole"}, {"hd/001.png", "hd short"}, {"hd/002.png", "hd short 002"},
          {"hd/track2.ogg", "hd track2"}},
         {{"img/hd/001.png", "hd whole"},
          {"img/hd/002.png", "hd short 002"},
          {"bgm/hd/track2.ogg", "hd track2"},
          {"img/hd/003.png", "base 003"},
          {"bgm/hd/track.ogg", "base track"},
          {"assets\\img\\hd\\002.png", "hd short 002"},
          {"./img/hd/002.png", "hd short 002"}}},
        {"other names never reach the HD archive",
         {{"img/001.png", "base"}},
         {},
         {{"img/001.png", "hd"}, {"hd/x.png", "hd x"}, {"IMG/hd/y.png", "hd y"}},
         {{"img/001.png", "base"}, {"hd/x.png", "<null>"}, {"IMG/hd/y.png", "<null>"}}},
        {"scenario names under an HD folder skip the HD archive",
         {{"img/hd/a.KVL", "base a"}},
         {{"S00000.KVL", "script"}},
         {{"img/hd/a.KVL", "hd a"}, {"bgm/hd/b.KVY", "hd b"}, {"hd/b.KVY", "hd short b"}},
         {{"img/hd/a.KVL", "base a"}, {"bgm/hd/b.KVY", "<null>"}}},
        {"HD names without an HD archive come from base",
         {{"img/hd/012.png", "base hd"}, {"hd/012.png", "base short"}},
         {},
         {},
         {{"img/hd/012.png", "base hd"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (auto [archive, entries] : {std::pair{&g_arc_base, &c.base}, std::pair{&g_arc_script, &c.script},
                                        std::pair{&g_arc_hd, &c.hd}})
            if (!entries->empty())
                install(archive, *entries);
        for (const auto& [name, answer] : c.reads)
            EXPECT_EQ(read_asset(name.c_str()), answer) << name;
        TearDown();
    }
}

TEST_F(AssetTest, FoundButDamagedEntryIsNotLookedForElsewhere)
{
    install(&g_arc_base, {{"S00000.KVL", "good"}, {"img/hd/001.png", "good"}, {"hd/001.png", "good"}});
    install(&g_arc_script, {{"S00000.KVL", "damaged"}});
    install(&g_arc_hd, {{"img/hd/001.png", "damaged"}, {"hd/001.png", "good"}});
    corrupt_entry(&g_arc_script, "S00000.KVL");
    corrupt_entry(&g_arc_hd, "img/hd/001.png");

    size_t len = 0;
    EXPECT_EQ(read_asset("S00000.KVL", &len), "<null>");
    EXPECT_EQ(len, strlen("damaged"));
    EXPECT_EQ(read_asset("img/hd/001.png"), "<null>");
}

TEST_F(AssetTest, LengthIsLeftAloneWhenNothingIsFound)
{
    install(&g_arc_base, {{"a", "x"}});
    size_t len = 12345;
    EXPECT_EQ(asset_read("missing", &len), nullptr);
    EXPECT_EQ(len, 12345u);
    arc_close(&g_arc_base);
    EXPECT_EQ(asset_read("a", &len), nullptr);
    EXPECT_EQ(len, 12345u);
}

// ---------------------------------------------------------------------------
// Languages
// ---------------------------------------------------------------------------

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override { g_language_count = 0; }
    void TearDown() override { g_language_count = 0; }

    static std::vector<std::string> codes()
    {
        uint32_t count = 0;
        const Language* languages = arc_get_languages(&count);
        std::vector<std::string> result;
        for (uint32_t i = 0; i < count; i++)
            result.push_back(languages[i].code);
        return result;
    }

    ScratchDir dir;
};

using Codes = std::vector<std::string>;

TEST_F(LanguageTest, DefaultFirstThenDatFolderThenWorkingDirectory)
{
    write_file(dir.file("assets/script.dat"), text("x"));
    write_file(dir.file("dat/script_fr.dat"), text("x"));
    write_file(dir.file("dat/script_en.dat"), text("x"));
    write_file(dir.file("script_en.dat"), text("x"));
    write_file(dir.file("script_de.dat"), text("x"));
    write_file(dir.file("assets/script_it.dat"), text("x"));
    dir.enter();

    arc_discover_languages();
    EXPECT_EQ(codes(), (Codes{"", "en", "fr", "de"}));
    EXPECT_STREQ(g_languages[0].display_name, "Japanese");
    EXPECT_STREQ(g_languages[1].display_name, "English");
    EXPECT_STREQ(g_languages[2].display_name, "French");
    EXPECT_STREQ(g_languages[3].display_name, "German");
}

TEST_F(LanguageTest, FolderListingIsInByteOrderAndCaseSensitive)
{
    write_file(dir.file("script_b.dat"), text("x"));
    write_file(dir.file("script_B.dat"), text("x"));
    write_file(dir.file("script_a.dat"), text("x"));
    write_file(dir.file("script_c.DAT"), text("x"));
    write_file(dir.file("SCRIPT_d.dat"), text("x"));
    dir.enter();

    arc_discover_languages();
    EXPECT_EQ(codes(), (Codes{"B", "a", "b"}));
}

TEST_F(LanguageTest, UnusableNamesAreSkipped)
{
    write_file(dir.file("script_.dat"), text("x"));
    write_file(dir.file("script_0123456789abcdef.dat"), text("x"));  // 16 characters
    write_file(dir.file("script_0123456789abcde.dat"), text("x"));   // 15 characters
    write_file(dir.file("script_en.old.dat"), text("x"));
    write_file(dir.file("script_xx.dat.bak"), text("x"));
    std::filesystem::create_directories(dir.file("script_ko.dat"));
    dir.enter();

    arc_discover_languages();
    EXPECT_EQ(codes(), (Codes{"0123456789abcde", "en.old"}));
    EXPECT_STREQ(g_languages[1].display_name, "en.old");
}

TEST_F(LanguageTest, DefaultLanguageNeedsANonEmptyScriptDat)
{
    write_file(dir.file("work/dat/script.dat"), {});
    write_file(dir.file("work/script_ko.dat"), text("x"));
    dir.enter();
    std::filesystem::current_path("work");
    arc_discover_languages();
    EXPECT_EQ(codes(), (Codes{"ko"}));
    EXPECT_STREQ(g_languages[0].display_name, "Korean");

    write_file(dir.file("assets/script.dat"), text("x"));  // "../assets/" seen from work/
    arc_discover_languages();
    EXPECT_EQ(codes(), (Codes{"", "ko"}));
}

TEST_F(LanguageTest, TableHoldsSixteenLanguages)
{
    write_file(dir.file("script.dat"), text("x"));
    for (char c = 'a'; c < 'a' + 17; c++)
        write_file(dir.file(std::string("script_") + c + ".dat"), text("x"));
    dir.enter();

    arc_discover_languages();
    Codes expected{""};
    for (char c = 'a'; c < 'a' + 15; c++)
        expected.push_back(std::string(1, c));
    EXPECT_EQ(codes(), expected);
}

TEST_F(LanguageTest, RegisteringKeepsCodesUniqueAndNamesKnownOnes)
{
    const char* known[][2] = {{"", "Japanese"},  {"en", "English"}, {"fr", "French"},
                              {"de", "German"},  {"es", "Spanish"}, {"pt", "Portuguese"},
                              {"it", "Italian"}, {"zh", "Chinese"}, {"ko", "Korean"},
                              {"EN", "EN"},      {"pt-br", "pt-br"}};
    for (const auto& language : known)
        arc_register_language(language[0]);
    arc_register_language("en");
    arc_register_language("");

    uint32_t count = 0;
    const Language* languages = arc_get_languages(&count);
    ASSERT_EQ(count, std::size(known));
    for (size_t i = 0; i < std::size(known); i++) {
        EXPECT_STREQ(languages[i].code, known[i][0]);
        EXPECT_STREQ(languages[i].display_name, known[i][1]);
    }
    EXPECT_EQ(arc_get_languages(nullptr), languages);
}

TEST_F(LanguageTest, RediscoveryStartsAfresh)
{
    arc_register_language("zz");
    dir.enter();
    arc_discover_languages();
    EXPECT_EQ(codes(), Codes{});
}

}  // namespace
