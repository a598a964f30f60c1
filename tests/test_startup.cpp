// The built kavrel started in a scratch folder: exit status, what the player
// is told, and what config.ini holds afterwards.
#include <gtest/gtest.h>

#include "app.h"
#include "archive.h"
#include "code_builder.h"
#include "kvr_writer.h"
#include "test_support.h"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

static void put_archive(const ScratchDir& dir, const std::string& name, uint32_t flags = 0)
{
    KvrArchiveSpec spec;
    spec.flags = flags;
    spec.entries.push_back({"readme.txt", {'k', 'v', 'r'}, false});
    write_file(dir.file(name), kvr_build_archive(spec));
}

// A scenario archive holding the pair S00000.KVL / S00000.KVY.
static void put_script(const ScratchDir& dir, const std::string& name = "script.dat",
                       const ScenarioBuilder& scenario = ScenarioBuilder().segment(0, Code().text("A")))
{
    KvrArchiveSpec spec;
    spec.entries.push_back({"S00000.KVL", scenario.tables(), false});
    spec.entries.push_back({"S00000.KVY", scenario.code(), true});
    write_file(dir.file(name), kvr_build_archive(spec));
}

static const char EMPTY_MANIFEST[] = "{\"images\": [], \"bgm\": []}";

static Bytes text_bytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// base.dat with a manifest and the pictures it names.
static void put_base(const ScratchDir& dir, const std::string& name = "base.dat",
                     const std::string& manifest = EMPTY_MANIFEST,
                     const std::vector<KvrInputEntry>& pictures = {})
{
    KvrArchiveSpec spec;
    spec.entries.push_back({"manifest.json", text_bytes(manifest), false});
    spec.entries.insert(spec.entries.end(), pictures.begin(), pictures.end());
    write_file(dir.file(name), kvr_build_archive(spec));
}

static std::string config_with(const std::string& line_to_replace, const std::string& replacement)
{
    std::string config = DEFAULT_CONFIG_INI;
    config.replace(config.find(line_to_replace), line_to_replace.size(), replacement);
    return config;
}

// How long a game that reached its main loop plays before it gets SIGINT.
constexpr int PLAY_MS = 1500;

// config.ini without its window lines, which the shutdown fills in.
static std::string settings_of_text(const std::string& config)
{
    std::istringstream lines(config);
    std::string kept, line;
    while (std::getline(lines, line))
        if (line.rfind("window_", 0) != 0)
            kept += line + '\n';
    return kept;
}

static std::string settings_of(const std::string& path)
{
    return settings_of_text(read_text_file(path));
}

// A restarted instance shares our output files; give it time to finish.
static std::string wait_for_text(const std::string& path, const std::string& wanted)
{
    std::string text;
    for (int tries = 0; tries < 200; tries++) {
        text = read_text_file(path);
        if (text.find(wanted) != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
}

TEST(StartupTest, MissingConfigIsWrittenWithTheDefaultsAndTheWindowOnQuit)
{
    ScratchDir dir;
    put_base(dir);
    put_script(dir);

    ProgramResult result = run_kavrel(dir.path(), 20, PLAY_MS);

    EXPECT_EQ(result.exit_status, 0) << result.err;
    const std::string config = read_text_file(dir.file("config.ini"));
    EXPECT_NE(config.find("window_w=640\nwindow_h=400\n"), std::string::npos) << config;
    EXPECT_EQ(settings_of(dir.file("config.ini")), settings_of_text(DEFAULT_CONFIG_INI));
    EXPECT_EQ(result.err.find("Configuration Warning"), std::string::npos);
}

// What a case lays out in the scratch folder before kavrel starts.
using Layout = std::function<void(const ScratchDir&)>;

TEST(StartupTest, MissingFilesEndWithStatusOneAndAreNamed)
{
    struct Case {
        const char* what;
        Layout lay_out;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"base archive", [](const ScratchDir& dir) { put_script(dir); },
         {"Missing Archive: base.dat was not found.\n\nThis file is required to run the game.\n"
          "Please reinstall the game."}},
        {"scenario archive", [](const ScratchDir& dir) { put_base(dir, "dat/base.dat"); },
         {"Missing Archive: script.dat was not found.\n\nThis file is required to run the game."}},
        {"manifest",
         [](const ScratchDir& dir) {
             put_archive(dir, "base.dat");
             put_script(dir);
         },
         {"Kavrel Engine: manifest.json missing from base.dat"}},
        {"picture",
         [](const ScratchDir& dir) {
             put_base(dir, "base.dat", R"({"images": [{"id": 7, "x": 0, "y": 0, "vram": 0}]})");
             put_script(dir);
         },
         {"Kavrel Engine - Missing Asset: img/007.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        c.lay_out(dir);

        ProgramResult result = run_kavrel(dir.path());

        EXPECT_EQ(result.exit_status, 1);
        for (const std::string& message : c.messages)
            EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
}

TEST(StartupTest, HdModeWithoutHdAssetsSwitchesOffAndRestarts)
{
    const std::pair<bool, const char*> cases[] = {
        {false, "HD Assets Missing: hd.dat was not found.\n\nHD Graphics mode has been disabled."},
        {true, "HD Assets Missing: hd.dat was found but it does not contain HD assets.\n\n"
               "HD Graphics mode has been disabled."}};
    for (const auto& [hd_archive, message] : cases) {
        ScratchDir dir;
        put_base(dir);
        if (hd_archive)
            put_archive(dir, "hd.dat", 0);
        write_text_file(dir.file("config.ini"), config_with("use_hd_graphics=0", "use_hd_graphics=1"));

        ProgramResult result = run_kavrel(dir.path());

        EXPECT_EQ(result.exit_status, 0);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_EQ(read_text_file(dir.file("config.ini")), DEFAULT_CONFIG_INI);
        // The first instance stops before the scenario check; only the new one,
        // started in SD mode, gets as far as missing script.dat.
        std::string err = wait_for_text(dir.file(".kavrel-stderr"), "script.dat was not found");
        EXPECT_NE(err.find("script.dat was not found"), std::string::npos) << err;
    }
}

TEST(StartupTest, SettingsThatCannotBeHonouredAreReportedAndCorrected)
{
    struct Case {
        const char* what;
        Layout extra;  // besides base.dat and script.dat
        const char* line;
        const char* replacement;
        const char* message;
        bool corrected;  // reported with the message and the settings back to the defaults
    };
    const Case cases[] = {
        {"HD archive with the HD flag",
         [](const ScratchDir& dir) { put_archive(dir, "hd.dat", ARC_FLAG_HD_ASSETS); }, "use_hd_graphics=0",
         "use_hd_graphics=1", "HD Assets Missing", false},
        {"missing language archive", [](const ScratchDir&) {}, "script_lang=", "script_lang=fr",
         "Language File Missing: script_fr.dat was not found.\n\nThe language has been reset to Japanese.",
         true},
        {"present language archive", [](const ScratchDir& dir) { put_script(dir, "dat/script_fr.dat"); },
         "script_lang=", "script_lang=fr", "Language File Missing", false},
        {"antialiasing without HD", [](const ScratchDir&) {}, "use_antialiasing=0", "use_antialiasing=1",
         "Configuration Warning: The following invalid settings were found in config.ini and have been "
         "corrected:\n\n- Antialiasing requires HD Graphics mode and has been disabled.\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        put_base(dir);
        put_script(dir);
        c.extra(dir);
        const std::string config = config_with(c.line, c.replacement);
        write_text_file(dir.file("config.ini"), config);

        ProgramResult result = run_kavrel(dir.path(), 20, PLAY_MS);

        EXPECT_EQ(result.exit_status, 0) << result.err;
        EXPECT_EQ(result.err.find(c.message) != std::string::npos, c.corrected) << result.err;
        const std::string expected = c.corrected ? DEFAULT_CONFIG_INI : config;
        EXPECT_EQ(settings_of(dir.file("config.ini")), settings_of_text(expected));
    }
}

TEST(StartupTest, MusicDeviceOpensFirstAndTakesTheConfiguredModes)
{
    ScratchDir dir;
    put_base(dir);
    put_script(dir);
    write_text_file(dir.file("config.ini"), config_with("mute_audio=0", "mute_audio=1"));

    ProgramResult result = run_kavrel(dir.path(), 20, PLAY_MS);

    EXPECT_EQ(result.exit_status, 0) << result.err;
    const size_t opened = result.out.find("[BGM] Audio device opened: 44100 Hz, 2 ch, 4096 samples\n");
    const size_t hd = result.out.find("[BGM] HD mode: OFF\n");
    const size_t mute = result.out.find("[BGM] Mute: ON\n");
    // npos sorts last: with the last line found, the order checks find the others.
    EXPECT_NE(mute, std::string::npos) << result.out;
    EXPECT_LT(opened, hd) << result.out;
    EXPECT_LT(hd, mute) << result.out;
}

TEST(StartupTest, ScenarioThatCannotStartEndsWithStatusOneSilently)
{
    const std::pair<const char*, Layout> cases[] = {
        {"scenario archive without the scenario", [](const ScratchDir& dir) { put_archive(dir, "script.dat"); }},
        // Segment 5 lies inside the table with an offset past the code.
        {"start segment without an entry",
         [](const ScratchDir& dir) {
             put_script(dir, "script.dat", ScenarioBuilder().segment(0, Code()).segment(6, Code()).start(5));
         }},
    };
    for (const auto& [what, lay_out] : cases) {
        SCOPED_TRACE(what);
        ScratchDir dir;
        put_base(dir);
        lay_out(dir);

        ProgramResult result = run_kavrel(dir.path());

        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.err, "");
    }
}

// app_main in this process, a child of the test: it ends with app_main's
// status after writing each sleep it asked for, and whether its window was
// shown, to standard error.
[[noreturn]] static void run_app_main_here()
{
    app_set_clock(nullptr, [](uint32_t ms) { fprintf(stderr, "[slept %u ms]", ms); });
    const int status = app_main(0, nullptr);
    const bool shown = g_engine->window && (SDL_GetWindowFlags(g_engine->window) & SDL_WINDOW_SHOWN);
    fprintf(stderr, "[window %s]", shown ? "shown" : "hidden");
    _Exit(status);
}

TEST(StartupDeathTest, WindowIsUpBeforeTheArchiveChecksAndAFailedScenarioWaitsTwoSeconds)
{
    ScratchDir dir;
    dir.enter();
    // With no display and no video driver chosen, SDL would fall back to one
    // whose windows nobody sees: the game says so and ends instead.
    EXPECT_EXIT(
        {
            for (const char* name : {"SDL_VIDEODRIVER", "DISPLAY", "WAYLAND_DISPLAY"})
                unsetenv(name);
            _Exit(app_main(0, nullptr));
        },
        ::testing::ExitedWithCode(1), "No display was found to open the game's window on");
    EXPECT_EXIT(run_app_main_here(), ::testing::ExitedWithCode(1), "Missing Archive: base.dat.*\\[window shown\\]");
    put_base(dir);
    put_archive(dir, "script.dat");
    std::string config = config_with("use_antialiasing=0", "use_antialiasing=1");
    const std::string language = "script_lang=";
    config.replace(config.find(language), language.size(), language + "fr");
    write_text_file(dir.file("config.ini"), config);
    EXPECT_EXIT(run_app_main_here(), ::testing::ExitedWithCode(1), "\\[slept 2000 ms\\]");
    // Corrected settings and the language fallback are written at once, not only by a normal end.
    EXPECT_EQ(read_text_file(dir.file("config.ini")), DEFAULT_CONFIG_INI);
}
