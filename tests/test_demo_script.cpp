// The bundled demo story: both editions assemble, play from the title to the
// end down either path and back to the title, and share one structure.
#include <gtest/gtest.h>

#include "scenario_player.h"
#include "test_support.h"
#include "vm.h"

#include <algorithm>
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
const std::pair<char, uint32_t> TITLE_PICTURE = {'"', 0};
// The ending tells the count only when more stars than this were counted.
constexpr int32_t STARS_UNTOLD = 4;

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
    // The demo never runs out: it is played until its title has come back twice.
    run.result = player.play([&](const std::vector<uint32_t>&) { return choice_index; }, MAX_STEPS,
                             [](const PlayResult& so_far) {
                                 return std::count(so_far.commands.begin(), so_far.commands.end(), TITLE_PICTURE) == 3;
                             });
    run.path = player.engine()->vm_vars[VAR_PATH];
    run.stars = player.engine()->vm_vars[VAR_STARS];
    return run;
}

TEST(DemoScriptTest, EachEditionPlaysBothPathsToTheEndAndBackToTheTitleAndBothShareOneStructure)
{
    // The title, the study with the letter, the forest at dusk, Minagi.
    const std::vector<std::pair<char, uint32_t>> expected_start = {{'#', 1}, {'"', 0}, {'"', 7}, {'\'', 4},
                                                                   {'#', 2}, {'"', 1}, {'"', 3}};
    // The night sky with the title music, "The End" over it, then the title again.
    const std::vector<std::pair<char, uint32_t>> expected_end = {{'#', 1}, {'"', 2}, {'"', 2}, {'#', 1}, TITLE_PICTURE};
    const char* const editions[] = {"script.kvs", "script_en.kvs"};  // Japanese, English
    const uint32_t paths[] = {CHOICE_LAKE, CHOICE_HILL};
    const uint32_t path_pictures[] = {PICTURE_NIGHT_LAKE, PICTURE_HILLTOP};
    Playthrough runs[2][2];  // by edition, then by the choice taken
    for (int edition = 0; edition < 2; edition++) {
        for (int choice = 0; choice < 2; choice++) {
            SCOPED_TRACE(std::string(editions[edition]) + (choice == 0 ? " lake" : " hill"));
            const Playthrough& run = runs[edition][choice] = play_demo(editions[edition], choice);
            ASSERT_EQ(run.result.menus.size(), 2u);
            EXPECT_EQ(run.result.menus[1], (std::vector<uint32_t>{CHOICE_LAKE, CHOICE_HILL}));
            EXPECT_GE(run.result.key_waits, 12);
            EXPECT_EQ(run.path, static_cast<int32_t>(paths[choice]));
            ASSERT_GT(run.result.commands.size(), expected_start.size());
            EXPECT_TRUE(std::equal(expected_start.begin(), expected_start.end(), run.result.commands.begin()));
            // Then the path's own scene: the lake or the hilltop at night.
            EXPECT_EQ(run.result.commands[expected_start.size()],
                      (std::pair<char, uint32_t>{'"', path_pictures[choice]}));
            EXPECT_TRUE(std::equal(expected_end.rbegin(), expected_end.rend(), run.result.commands.rbegin()));
        }
        // A second play counts afresh: only the hill's count earns the ending's line on five stars.
        EXPECT_LE(runs[edition][0].stars, STARS_UNTOLD);
        EXPECT_GT(runs[edition][1].stars, STARS_UNTOLD);
    }
    // The English edition plays exactly as the Japanese one.
    for (int choice = 0; choice < 2; choice++) {
        EXPECT_EQ(runs[0][choice].result.key_waits, runs[1][choice].result.key_waits);
        EXPECT_EQ(runs[0][choice].result.commands, runs[1][choice].result.commands);
        EXPECT_EQ(runs[0][choice].stars, runs[1][choice].stars);
    }
}

}  // namespace
