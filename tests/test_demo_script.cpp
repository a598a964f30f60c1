// The bundled demo story: both editions assemble, play from the title to the
// end down either path, and share one structure.
#include <gtest/gtest.h>

#include "scenario_player.h"
#include "test_support.h"
#include "vm.h"

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int MAX_STEPS = 200000;
constexpr int VAR_PATH = 20;
constexpr int VAR_STARS = 21;
constexpr uint32_t CHOICE_LAKE = 1;
constexpr uint32_t CHOICE_HILL = 2;
constexpr uint32_t PICTURE_NIGHT_LAKE = 5, PICTURE_HILLTOP = 6;

// demo/ sits beside tests/ in the source tree.
std::string demo_file(const char* name)
{
    std::string here = __FILE__;
    return here.substr(0, here.find_last_of('/')) + "/../demo/" + name;
}

struct Playthrough {
    PlayResult result;
    int32_t path;
    int32_t stars;
    int32_t last_track;
};

Playthrough play_demo(const char* file, size_t choice_index)
{
    ScenarioPlayer player;
    const std::string source = read_text_file(demo_file(file));
    EXPECT_FALSE(source.empty()) << file;
    const bool loaded = player.load(source);
    for (const KvsError& error : player.output().errors)
        ADD_FAILURE() << file << ":" << error.line << ": " << error.message;
    if (!loaded)
        return {};
    Playthrough run;
    run.result = player.play([&](const std::vector<uint32_t>&) { return choice_index; }, MAX_STEPS);
    run.path = player.engine()->vm_vars[VAR_PATH];
    run.stars = player.engine()->vm_vars[VAR_STARS];
    run.last_track = player.engine()->bgm_track;
    return run;
}

TEST(DemoScriptTest, EachEditionPlaysBothPathsToTheEndAndBothShareOneStructure)
{
    const std::vector<std::pair<char, uint32_t>> expected_start = {
        {'#', 1}, {'"', 0}, {'#', 2}, {'"', 1}, {'\'', 4}, {'"', 1}, {'"', 3},
    };
    const char* const editions[] = {"script.kvs", "script_en.kvs"};  // Japanese, English
    const uint32_t paths[] = {CHOICE_LAKE, CHOICE_HILL};
    const uint32_t path_pictures[] = {PICTURE_NIGHT_LAKE, PICTURE_HILLTOP};
    Playthrough runs[2][2];  // by edition, then by the choice taken
    for (int edition = 0; edition < 2; edition++) {
        for (int choice = 0; choice < 2; choice++) {
            SCOPED_TRACE(std::string(editions[edition]) + (choice == 0 ? " lake" : " hill"));
            const Playthrough& run = runs[edition][choice] = play_demo(editions[edition], choice);
            EXPECT_TRUE(run.result.ended);
            ASSERT_EQ(run.result.menus.size(), 1u);
            EXPECT_EQ(run.result.menus[0], (std::vector<uint32_t>{CHOICE_LAKE, CHOICE_HILL}));
            EXPECT_GE(run.result.key_waits, 12);
            EXPECT_EQ(run.path, static_cast<int32_t>(paths[choice]));
            ASSERT_GT(run.result.commands.size(), expected_start.size());
            EXPECT_TRUE(std::equal(expected_start.begin(), expected_start.end(), run.result.commands.begin()));
            // Then the path's own scene: the lake or the hilltop at night.
            EXPECT_EQ(run.result.commands[expected_start.size()],
                      (std::pair<char, uint32_t>{'"', path_pictures[choice]}));
            // The ending: the night sky with the title music, then the music stops.
            EXPECT_EQ(run.result.commands.back(), (std::pair<char, uint32_t>{'"', 2}));
            EXPECT_EQ(run.last_track, 0);
        }
        EXPECT_LT(runs[edition][0].stars, runs[edition][1].stars);
    }
    // The English edition plays exactly as the Japanese one.
    for (int choice = 0; choice < 2; choice++) {
        EXPECT_EQ(runs[0][choice].result.key_waits, runs[1][choice].result.key_waits);
        EXPECT_EQ(runs[0][choice].result.commands, runs[1][choice].result.commands);
        EXPECT_EQ(runs[0][choice].stars, runs[1][choice].stars);
    }
}

}  // namespace
