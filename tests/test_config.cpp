#include <gtest/gtest.h>

#include "config.h"
#include "platform.h"
#include "test_support.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {


void expect_defaults()
{
    EXPECT_EQ(g_config.use_hd_graphics, 0);
    EXPECT_EQ(g_config.scale_to_screen, 0);
    EXPECT_EQ(g_config.use_scanlines, 0);
    EXPECT_EQ(g_config.use_antialiasing, 0);
    EXPECT_EQ(g_config.mute_audio, 0);
    EXPECT_EQ(g_config.game_speed, 1);
    EXPECT_EQ(g_config.window_x, -1);
    EXPECT_EQ(g_config.window_y, -1);
    EXPECT_EQ(g_config.window_w, -1);
    EXPECT_EQ(g_config.window_h, -1);
    for (int32_t value : g_config.saved_rect)
        EXPECT_EQ(value, -1);
    EXPECT_STREQ(g_config.script_lang, "");
}

void scramble_config()
{
    memset(&g_config, 0x5A, sizeof g_config);
    g_config.script_lang[CFG_LANG_CAPACITY - 1] = '\0';
}

}  // namespace

// Each test reads and writes config files in its own scratch folder.
class ConfigTest : public ::testing::Test {
protected:
    bool load_text(const std::string& text)
    {
        std::string path = dir.file("config.ini");
        write_text_file(path, text);
        return cfg_load(path.c_str());
    }
    ScratchDir dir;
};

TEST_F(ConfigTest, MissingFileOrOnlyCommentsGiveTheDefaultsWrittenAsTwelveLines)
{
    scramble_config();
    EXPECT_FALSE(cfg_load(dir.file("absent.ini").c_str()));
    expect_defaults();
    scramble_config();
    EXPECT_TRUE(load_text("# comment\n; game_speed=3\n\n;\n#mute_audio=1\n"));
    expect_defaults();
    std::string path = dir.file("config.ini");
    cfg_save(path.c_str());
    EXPECT_EQ(read_text_file(path), DEFAULT_CONFIG_INI);

    // A FIFO or a link to a device counts as missing, is never waited on or
    // read without end, and stays rather than being replaced by the defaults.
    // The device is the test's own where one can be made, and the write runs
    // as a player, so that a fault here never replaces the system's.
    Watchdog watchdog;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const std::string own_zero = dir.file("zero");
    const bool made = mknod(own_zero.c_str(), S_IFCHR, makedev(1, 5)) == 0 && chmod(own_zero.c_str(), 0666) == 0;
    std::filesystem::remove(path);
    make_fifo(path);
    for (const char* what : {"FIFO", "link to a device"}) {
        EXPECT_FALSE(cfg_load(path.c_str())) << what;
        EXPECT_EQ(run_in_child([&] { cfg_save(path.c_str()); return 0; }, ChildUser::PLAYER), 0);
        EXPECT_FALSE(std::filesystem::is_regular_file(path)) << what;
        std::filesystem::remove(path);
        std::filesystem::create_symlink(made ? own_zero : "/dev/zero", path);
    }

    // Nor is anything of the player's beside it (a FIFO, then a link, at
    // config.ini.tmp) waited on, written through or removed, and each write lands.
    std::filesystem::remove(path);
    write_text_file(dir.file("kept.txt"), "the player's\n");
    make_fifo(path + ".tmp");
    for (int speed : {2, 3}) {
        g_config.game_speed = speed;
        cfg_save(path.c_str());
        EXPECT_NE(read_text_file(path).find("\ngame_speed=" + std::to_string(speed) + "\n"), std::string::npos);
        EXPECT_TRUE(speed == 2 ? std::filesystem::is_fifo(path + ".tmp") : std::filesystem::is_symlink(path + ".tmp"));
        std::filesystem::remove(path + ".tmp");
        std::filesystem::create_symlink(dir.file("kept.txt"), path + ".tmp");
    }
    EXPECT_EQ(read_text_file(dir.file("kept.txt")), "the player's\n");
}

// Only what opening config.ini for writing would reach is written (the file a
// link leads to, never one the player made read-only or unreadable), and what
// that open keeps stays: the file's every name, its owner, the files beside it.
TEST_F(ConfigTest, ALinkedFileIsWrittenThroughWithItsOwnerAndAReadOnlyOneIsKept)
{
    const std::string path = dir.file("config.ini");
    const std::string real = dir.file("settings/kavrel.ini");
    write_text_file(real, "game_speed=3\n");
    write_text_file(real + ".tmp", "the player's\n");
    ASSERT_EQ(chmod(real.c_str(), 0600), 0);
    // The player's file: written by root, it stays theirs (no user need have the id).
    const bool root = geteuid() == 0;
    constexpr uid_t NOT_ROOT = 4321;
    ASSERT_EQ(root ? chown(real.c_str(), NOT_ROOT, NOT_ROOT) : 0, 0);
    std::filesystem::create_symlink("settings/kavrel.ini", path);
    ASSERT_TRUE(cfg_load(path.c_str()));
    g_config.mute_audio = 1;
    cfg_save(path.c_str());
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    struct stat info;
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << "the player's stay";
    EXPECT_EQ(info.st_uid, root ? NOT_ROOT : geteuid());
    EXPECT_EQ(info.st_gid, root ? NOT_ROOT : getegid());
    EXPECT_NE(read_text_file(real).find("\nmute_audio=1\ngame_speed=3\n"), std::string::npos);
    // A second name of the file sees the new text too.
    std::filesystem::create_hard_link(real, dir.file("settings/copy.ini"));
    g_config.mute_audio = 0;
    cfg_save(path.c_str());
    EXPECT_NE(read_text_file(dir.file("settings/copy.ini")).find("\nmute_audio=0\n"), std::string::npos);
    EXPECT_EQ(read_text_file(real + ".tmp"), "the player's\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("settings")), {}), 3) << "a temporary left";

    // Root's file that the player may write is written and stays root's, whoever may write its folder.
    std::filesystem::remove(path);
    for (mode_t file : {0444, 0000, 0666})
        for (mode_t folder : {0755, 0777}) {
            write_text_file(path, "game_speed=2\n");
            ASSERT_EQ(chmod(path.c_str(), file), 0);
            ASSERT_EQ(chmod(dir.path().c_str(), folder), 0);
            EXPECT_EQ(run_in_child([&] { cfg_save(path.c_str()); return 0; }, ChildUser::PLAYER), 0);
            ASSERT_EQ(stat(path.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, file);
            EXPECT_EQ(info.st_uid, geteuid());
            ASSERT_EQ(chmod(path.c_str(), 0644), 0);
            EXPECT_EQ(read_text_file(path) != "game_speed=2\n", file == 0666) << std::oct << file << " in " << folder;
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "a temporary left";
        }
}

// The system decides whether a link is followed: with its guard on (for this test, where it was off), not
// another user's in a folder everyone may write into, and a dangling one makes no file.
TEST_F(ConfigTest, AnotherUsersLinkInASharedFolderIsFollowedOnlyWhereTheSystemAllows)
{
    const char* guard = "/proc/sys/fs/protected_symlinks";
    const auto guard_value = [&] { std::string value; std::ifstream(guard) >> value; return value; };
    const std::string was = guard_value(), secret = dir.file("secret"), link = dir.file("config.ini");
    const std::shared_ptr<void> restore(nullptr, [&](void*) { if (guard_value() != was) std::ofstream(guard) << was; });
    if (geteuid() == 0)
        std::ofstream(guard) << "1";
    if (geteuid() != 0 || guard_value() != "1")
        GTEST_SKIP() << "planting another user's link and turning the system's guard on takes root";
    write_text_file(secret, "kept\n");
    EXPECT_EQ(chmod(dir.path().c_str(), 01777), 0);
    for (const std::string& target : {secret, dir.file("made")}) {
        std::filesystem::remove(link), std::filesystem::create_symlink(target, link);
        EXPECT_EQ(lchown(link.c_str(), 4321, 4321), 0);
        cfg_save(link.c_str());
    }
    EXPECT_EQ(read_text_file(secret), "kept\n");
    EXPECT_FALSE(file_exists(dir.file("made")));
}

// An ACL on config.ini stays, and no ACL a new file would take from its
// folder widens who may read it.
TEST_F(ConfigTest, AnAclIsKeptAndTheFolderGrantsNoMore)
{
    const std::string path = dir.file("config.ini"), plain = dir.file("plain.ini"), old(300, ';');
    write_text_file(path, old);
    write_text_file(plain, old);
    const std::string set_acls = "setfacl -m u:nobody:rw-,g::---,m::rw- " + path + " && setfacl -d -m u:nobody:r-- ";
    if (system((set_acls + dir.path()).c_str()) != 0)
        GTEST_SKIP() << "no setfacl, or no ACLs on this file system";
    const auto acl_of = [](const std::string& file) {
        char value[256];
        return std::string(value, std::max<ssize_t>(getxattr(file.c_str(), "system.posix_acl_access", value, 256), 0));
    };
    const std::string acl = acl_of(path);
    for (const std::string& file : {path, plain}) {
        cfg_save(file.c_str());
        EXPECT_EQ(read_text_file(file).find(";;"), std::string::npos) << "not emptied, then written";
    }
    EXPECT_EQ(acl_of(path), acl);
    EXPECT_EQ(acl_of(plain), "") << "access the folder's ACL gives";
}

// A second game starts writing config.ini while the first is halfway, and
// is killed there: the first game's write still lands whole.
TEST_F(ConfigTest, TwoGamesWritingOneFileAtOnceLeaveItWhole)
{
    const std::string path = dir.file("config.ini");
    const PlatWriteFn write_through = [](FILE* file, void* user) {
        return (*static_cast<std::function<bool(FILE*)>*>(user))(file);
    };
    std::function<bool(FILE*)> second = [](FILE* file) -> bool { fputs("game_", file), fflush(file), _exit(0); };
    std::function<bool(FILE*)> first = [&](FILE* file) {
        fputs("game_speed=2\n", file), fflush(file);
        const auto second_game = [&] { return plat_replace_file(path.c_str(), write_through, &second) ? 1 : 2; };
        EXPECT_EQ(run_in_child(second_game), 0) << "the second game never got halfway";
        return fputs("mute_audio=1\n", file) >= 0;
    };
    EXPECT_TRUE(plat_replace_file(path.c_str(), write_through, &first));
    EXPECT_EQ(read_text_file(path), "game_speed=2\nmute_audio=1\n");
}

TEST_F(ConfigTest, EverySettingSurvivesSaveAndLoad)
{
    std::string path = dir.file("config.ini");
    cfg_load(dir.file("absent.ini").c_str());
    g_config.scale_to_screen = 1;
    g_config.use_hd_graphics = 7;  // any non-zero byte is on
    g_config.use_scanlines = 1;
    g_config.use_antialiasing = 1;
    g_config.mute_audio = 1;
    g_config.game_speed = 0;
    g_config.window_x = 0;
    g_config.window_y = 12345;
    g_config.window_w = 1280;
    g_config.window_h = 800;
    strcpy(g_config.script_lang, "en");
    cfg_save(path.c_str());
    std::string written = read_text_file(path);
    EXPECT_EQ(written,
              "; Kavrel Engine Configuration\n"
              "scale_to_screen=1\nuse_hd_graphics=1\nuse_scanlines=1\nuse_antialiasing=1\n"
              "mute_audio=1\ngame_speed=0\nwindow_x=0\nwindow_y=12345\nwindow_w=1280\n"
              "window_h=800\nscript_lang=en\n");

    scramble_config();
    ASSERT_TRUE(cfg_load(path.c_str()));
    EXPECT_EQ(g_config.scale_to_screen, 1);
    EXPECT_EQ(g_config.use_hd_graphics, 1);
    EXPECT_EQ(g_config.use_scanlines, 1);
    EXPECT_EQ(g_config.use_antialiasing, 1);
    EXPECT_EQ(g_config.mute_audio, 1);
    EXPECT_EQ(g_config.game_speed, 0);
    EXPECT_EQ(g_config.window_x, 0);
    EXPECT_EQ(g_config.window_y, 12345);
    EXPECT_EQ(g_config.window_w, 1280);
    EXPECT_EQ(g_config.window_h, 800);
    EXPECT_STREQ(g_config.script_lang, "en");
    EXPECT_EQ(g_config.saved_rect[0], -1);

    cfg_save(path.c_str());
    EXPECT_EQ(read_text_file(path), written);
}

TEST_F(ConfigTest, GameSpeedIsClampedAboveButKeepsPc98Speed)
{
    const struct {
        const char* value;
        int32_t speed;
    } cases[] = {
        {"9", 3}, {"3", 3}, {"2abc", 2}, {"0", 0}, {"-1", 1}, {"-7", 1}, {"abc", 0},
        {"  +2", 2}, {"99999999999999999999", 3}, {"-99999999999999999999", 1},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(load_text(std::string("game_speed=") + c.value + "\n"));
        EXPECT_EQ(g_config.game_speed, c.speed) << "game_speed=" << c.value;
    }
}

TEST_F(ConfigTest, FlagsReadAnyNonZeroNumberAsOn)
{
    std::string path = dir.file("config.ini");
    ASSERT_TRUE(load_text("use_hd_graphics=5\nmute_audio=-3\nuse_scanlines=0x1\nscale_to_screen=on\n"
                          "use_antialiasing=4294967296\n"));
    EXPECT_EQ(g_config.use_hd_graphics, 1);
    EXPECT_EQ(g_config.mute_audio, 1);
    EXPECT_EQ(g_config.use_scanlines, 0);   // "0x1" reads as its leading 0
    EXPECT_EQ(g_config.scale_to_screen, 0);
    EXPECT_EQ(g_config.use_antialiasing, 1);  // a number that would truncate to 0 in 32 bits
    cfg_save(path.c_str());
    EXPECT_NE(read_text_file(path).find("\nuse_hd_graphics=1\n"), std::string::npos);
}

TEST_F(ConfigTest, WindowNumbersAreKeptAndHugeOnesStopAtTheRangeEnds)
{
    ASSERT_TRUE(load_text("window_x=0\nwindow_y=-40\nwindow_w=0\nwindow_h= 600px\n"));
    EXPECT_EQ(g_config.window_x, 0);
    EXPECT_EQ(g_config.window_y, -40);
    EXPECT_EQ(g_config.window_w, 0);
    EXPECT_EQ(g_config.window_h, 600);

    ASSERT_TRUE(load_text("window_x=99999999999\nwindow_y=-99999999999\n"
                          "window_w=2147483647\nwindow_h=-2147483648\n"));
    EXPECT_EQ(g_config.window_x, INT32_MAX);
    EXPECT_EQ(g_config.window_y, INT32_MIN);
    EXPECT_EQ(g_config.window_w, INT32_MAX);
    EXPECT_EQ(g_config.window_h, INT32_MIN);
}

TEST_F(ConfigTest, KeysMatchOnlyExactlyAndTheLastOneWinsHoweverFarDown)
{
    ASSERT_TRUE(load_text(" use_scanlines=1\nUSE_SCANLINES=1\nuse_scanlines =1\nmute_audio\n"
                          "unknown=5\ngame_speed=2\ngame_speed=3\nwindow_x=10\nwindow_x=20\n"));
    EXPECT_EQ(g_config.use_scanlines, 0);
    EXPECT_EQ(g_config.mute_audio, 0);
    EXPECT_EQ(g_config.game_speed, 3);
    EXPECT_EQ(g_config.window_x, 20);

    std::string comments;
    for (int line = 0; line < 1030; line++)
        comments += "; a note of the player's\n";
    ASSERT_TRUE(load_text("game_speed=1\n" + comments + "game_speed=3\nscript_lang=en\nuse_scanlines=1\n"));
    EXPECT_EQ(g_config.game_speed, 3);
    EXPECT_STREQ(g_config.script_lang, "en");
    EXPECT_EQ(g_config.use_scanlines, 1);
}

TEST_F(ConfigTest, LanguageCodeSplitsAtTheFirstEqualsAndKeepsFifteenCharacters)
{
    ASSERT_TRUE(load_text("script_lang=en=x\n"));
    EXPECT_STREQ(g_config.script_lang, "en=x");
    ASSERT_TRUE(load_text("script_lang=abcdefghijklmnopqrst\n"));
    EXPECT_STREQ(g_config.script_lang, "abcdefghijklmno");
    ASSERT_TRUE(load_text("script_lang=de\nscript_lang=\n"));
    EXPECT_STREQ(g_config.script_lang, "");
}

TEST_F(ConfigTest, LongLineIsReadAsPiecesOf127Characters)
{
    // The second piece happens to form a line of its own.
    std::string line = std::string(127, 'x') + "game_speed=2";
    ASSERT_TRUE(load_text(line + "\nmute_audio=1\n"));
    EXPECT_EQ(g_config.game_speed, 2);
    EXPECT_EQ(g_config.mute_audio, 1);

    // A value cut by the piece boundary keeps the part inside the first piece.
    std::string cut = "window_x=" + std::string(118 - 3, '0') + "123" + "456";
    ASSERT_TRUE(load_text(cut + "\n"));
    EXPECT_EQ(g_config.window_x, 123);
}

TEST_F(ConfigTest, WindowsLineEndsAByteOrderMarkAndAMissingFinalLineFeedAreRead)
{
    ASSERT_TRUE(load_text("\xEF\xBB\xBFscript_lang=en\r\ngame_speed=2\r\n\xEF\xBB\xBFmute_audio=1\r\nwindow_w=640"));
    EXPECT_STREQ(g_config.script_lang, "en");
    EXPECT_EQ(g_config.game_speed, 2);
    EXPECT_EQ(g_config.mute_audio, 0);  // only the file's first bytes are a byte-order mark
    EXPECT_EQ(g_config.window_w, 640);
}

TEST_F(ConfigTest, AntialiasingWithoutHdIsTurnedOffWithOneMessage)
{
    cfg_load("/nonexistent-folder/config.ini");
    g_config.use_antialiasing = 1;
    const char* messages = cfg_validate();
    ASSERT_NE(messages, nullptr);
    EXPECT_EQ(messages, g_config_messages);
    EXPECT_STREQ(messages, "- Antialiasing requires HD Graphics mode and has been disabled.\n");
    EXPECT_EQ(g_config.use_antialiasing, 0);

    // A second pass has nothing left to correct and drops the old line.
    EXPECT_EQ(cfg_validate(), nullptr);
    EXPECT_STREQ(g_config_messages, "");

    g_config.use_antialiasing = 1;
    g_config.use_hd_graphics = 1;
    EXPECT_EQ(cfg_validate(), nullptr);
    EXPECT_EQ(g_config.use_antialiasing, 1);
}
