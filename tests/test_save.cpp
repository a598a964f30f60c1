#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "../save/save_private.h"
#include "app.h"
#include "config.h"
#include "music.h"
#include "platform.h"
#include "render_fixture.h"
#include "save.h"
#include "save_fixture.h"
#include "screen.h"

// The program is linked with fsync wrapped (each call is recorded, and fails when told to), and with
// lstat, rename and the executable's folder: a test can report link counts, refuse renames, move the game.
static std::vector<std::string> s_synced;  // the file of each call
static int s_fsync_error = 0;
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd)
{
    s_synced.push_back(std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd)));
    errno = s_fsync_error;
    return s_fsync_error ? -1 : __real_fsync(fd);
}
static long s_links_reported = -1;  // -1: the file's own
static int s_rename_error = 0;
static std::string s_executable_dir;  // empty: the real one
extern "C" int __real_lstat(const char* path, struct stat* info);
extern "C" int __wrap_lstat(const char* path, struct stat* info)
{
    const int result = __real_lstat(path, info);
    if (result == 0 && s_links_reported >= 0)
        info->st_nlink = static_cast<nlink_t>(s_links_reported);
    return result;
}
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __wrap_rename(const char* from, const char* to)
{
    errno = s_rename_error;
    return s_rename_error ? -1 : __real_rename(from, to);
}
extern "C" char* __real_SDL_GetBasePath();
extern "C" char* __wrap_SDL_GetBasePath()
{
    return s_executable_dir.empty() ? __real_SDL_GetBasePath() : SDL_strdup(s_executable_dir.c_str());
}

// Boxes are recorded instead of shown, with the text marked when a window owns them.
void plat_message_box(SDL_Window* owner, PlatBoxStyle, const char* title, const char* text)
{
    fprintf(stderr, "%s%s: %s\n", title, owner ? " (owned)" : "", text);
}

constexpr uint32_t CODE_SIZE = 0x1000;
constexpr size_t SD_BODY = 2183468;
constexpr size_t HD_BODY = 8327468;

static std::unique_ptr<Engine> fresh_engine(uint8_t hd = 0)
{
    std::unique_ptr<Engine> engine(new Engine());
    engine_init(engine.get(), hd);
    engine->code_size = CODE_SIZE;
    return engine;
}

using Layer = std::vector<uint32_t>;

// A body written field by field at the offsets of the format table, with the
// Engine and layers it stands for. Neighbouring fields hold different values,
// and flags hold values other than 1, which the body stores as 1.
static Bytes table_body(Engine* e, Layer* text, Layer* canvas)
{
    Bytes b(SD_BODY, 0);
    auto u8 = [&](size_t at, int64_t v) { b[at] = static_cast<uint8_t>(v); };
    auto u16 = [&](size_t at, int64_t v) { u8(at, v), u8(at + 1, v >> 8); };
    auto u32 = [&](size_t at, int64_t v) { u16(at, v), u16(at + 2, v >> 16); };
    u32(0, e->vm_pc = 0x123), u32(4, e->vm_block_end = 0x456), u32(8, e->vm_segment = 7), u32(12, e->vm_depth = 2);
    for (uint32_t i = 0; i < 16; i++) {  // all sixteen frames, whatever the depth
        VmFrame& f = e->vm_stack[i];
        u32(16 + 16 * i, f.resume_pc = 0x100 + i), u32(20 + 16 * i, f.block_end = 0x200 + i);
        u32(24 + 16 * i, f.segment = 300 + i), u8(28 + 16 * i, i % 2), f.command_mode = 2 * (i % 2);
    }
    e->vm_leave = 2, e->vm_command_mode = 255, e->vm_blocked = 1, e->spare_flag = 0;
    e->vm_halfwidth_toggle = 3, e->choice_active = 0x80, e->palette_changed = 0x40;
    for (size_t at : {272, 273, 274, 276, 277, 278})
        u8(at, 1);
    u32(284, e->vm_next_segment = 42), u32(288, e->vm_restart_segment = -5), u32(292, e->spare_int = -6);
    u32(296, e->wait_frames = 33), u32(300, e->choice_cursor = 3), u32(304, e->choice_result = 0x7777);
    u32(308, e->spare_vm_word = 0xCAFEF00D);
    for (int32_t i = 0; i < VM_VAR_COUNT; i++)
        u32(316 + 4 * i, e->vm_vars[i] = i * 7 - 500);
    u16(4412, e->text_cursor_x = 640), u16(4414, e->text_cursor_y = 0x1234), u8(4416, e->spare_byte = 0xAB);
    for (uint32_t i = 0; i < PALETTE_SIZE; i++)
        u32(4417 + 4 * i, e->palette[i] = 0xFF000000u | i * 0x111111u);
    u32(4481, e->palette_spare = 0x0BADBEEF), u16(4485, e->spare_word = 0x5150);
    u8(4487, e->tint[0] = 10), u8(4488, e->tint[1] = 130), u8(4489, e->tint[2] = 250);
    u16(4490, e->image_text_x = 80), u16(4492, e->image_text_y = 200), u16(4494, e->bgm_track = 5);
    u32(4496, e->placed_image_slot = 12), u32(4500, e->current_image = 13);
    u32(4504, e->blit_x8 = -2), u32(4508, e->blit_y2 = 98);
    for (uint32_t i = 0; i < MENU_LAYOUT_VALUES; i++)
        u32(4512 + 4 * i, e->menu_layout[i] = 93 + i);
    u8(4540, e->menu_layout_set = 7);  // stored as it is
    for (uint32_t i = 0; i < MENU_MAX_CHOICES; i++)
        u32(4544 + 4 * i, e->choice_ids[i] = 0xDEADBEEF - 19 + i);
    u32(4624, e->choice_count = 20), u32(4628, e->choice_x = 160), u32(4632, e->choice_y = -16);
    for (int32_t i = 0; i < TEXT_WINDOW_COUNT; i++) {
        TextWindow& t = e->text_windows[i];
        const size_t at = 4636 + 56 * i;
        u16(at, t.id = i), u8(at + 2, i % 2), t.active = 3 * (i % 2);
        u32(at + 4, t.x = i + 1), u32(at + 8, t.y = i + 2), u32(at + 12, t.w = i + 3), u32(at + 16, t.h = i + 4);
        u32(at + 20, t.col = i + 5), u32(at + 24, t.row = i + 6), u16(at + 28, t.attribute = 0xE000 + i);
        u32(at + 32, t.cols = 80 - i % 80), u32(at + 36, t.rows = 1 + i % 25);  // no more than the grid
        for (int32_t j = 0; j < 4; j++)
            u32(at + 40 + 4 * j, t.spare[j] = 16 * i + j);
    }
    u8(18972, e->vram_planes[0][0] = 1), u8(18972 + 32000, e->vram_planes[1][0] = 2);
    u8(18972 + 95999, e->vram_planes[2][31999] = 0x5A);
    u8(114972, e->vram_aux[0] = 4), u8(114972 + 8191, e->vram_aux[8191] = 0xA5);
    for (int32_t i = 0; i < IMAGE_SLOT_COUNT; i++) {
        ImageSlot& s = e->image_slots[i];
        const size_t at = 123164 + 48 * i;
        u8(at, i % 2), s.sprite_visible = 2 * (i % 2);
        u32(at + 4, s.x = -i), u32(at + 8, s.y = i + 1), u32(at + 12, s.aux0 = i + 2), u32(at + 16, s.aux1 = i + 3);
        u32(at + 20, s.aux2 = i + 4), u32(at + 24, s.aux3 = i + 5), u32(at + 28, s.effect_type = i + 6);
        u32(at + 32, s.effect_progress = i + 7), u32(at + 36, s.effect_duration = i + 8);
        u32(at + 40, s.effect_aux = i + 9), u8(at + 44, i % 2 == 0), s.effect_active = 9 * (i % 2 == 0);
    }
    // Two layer blocks of 640 x 400, each pixel stored alpha, blue, green, red.
    const size_t canvas_at = 135452 + 8 + 4 * 640 * 400;
    u32(135452, 640), u32(135456, 400), u32(canvas_at, 640), u32(canvas_at + 4, 400);
    text->assign(640 * 400, 0);
    canvas->assign(640 * 400, 0);
    (*text)[1] = 0x11223344;
    u8(135464, 0x44), u8(135465, 0x33), u8(135466, 0x22), u8(135467, 0x11);
    canvas->back() = 0x01020304;
    u8(SD_BODY - 4, 0x04), u8(SD_BODY - 3, 0x03), u8(SD_BODY - 2, 0x02), u8(SD_BODY - 1, 0x01);
    return b;
}

// An engine whose stored fields all differ from the start-up state.
static std::unique_ptr<Engine> played_engine(uint8_t hd = 0)
{
    auto e = fresh_engine(hd);
    Layer text, canvas;
    table_body(e.get(), &text, &canvas);
    return e;
}

// The first offset at which a and b differ, or -1 when they are equal.
static long first_difference(const Bytes& a, const Bytes& b)
{
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return at.first == a.end() && at.second == b.end() ? -1 : at.first - a.begin();
}

static Bytes encode(const Engine& engine, const uint32_t* text = nullptr, const uint32_t* canvas = nullptr)
{
    Bytes body(save_body_size(engine.hd_mode));
    save_body_encode(&engine, text, canvas, body.data());
    return body;
}

// ---------------------------------------------------------------------------
// The body codec
// ---------------------------------------------------------------------------

TEST(SaveBodyTest, EncoderWritesTheFormatTableByteForByte)
{
    auto engine = fresh_engine();
    Layer text, canvas;
    const Bytes fixture = table_body(engine.get(), &text, &canvas);
    EXPECT_EQ(first_difference(encode(*engine, text.data(), canvas.data()), fixture), -1);
    EXPECT_EQ(save_body_size(1), HD_BODY);
}

// The body with its text layer block claiming 2^31 x 2^31 pixels and no
// pixels, so that the canvas block follows the block's size fields.
static Bytes with_huge_text_block(Bytes body)
{
    const auto pixels = body.begin() + SAVE_BODY_FIXED_BYTES + SAVE_IMAGE_HEADER_BYTES;
    body.erase(pixels, pixels + 640 * 400 * SAVE_PIXEL_BYTES);
    save_put_u32(&body[SAVE_BODY_FIXED_BYTES], 1u << 31);
    save_put_u32(&body[SAVE_BODY_FIXED_BYTES + 4], 1u << 31);
    return body;
}

TEST(SaveBodyTest, ValuesNoPlayCanMakeAreRefused)
{
    const std::vector<std::function<void(Engine*)>> damage = {
        [](Engine* e) { e->vm_depth = VM_STACK_DEPTH + 1; },
        [](Engine* e) { e->vm_depth = -1; },
        [](Engine* e) { e->vm_segment = VM_SEGMENT_COUNT; },
        [](Engine* e) { e->vm_pc = CODE_SIZE + 1; },
        [](Engine* e) { e->vm_block_end = CODE_SIZE + 1; },
        [](Engine* e) { e->vm_stack[1].resume_pc = CODE_SIZE + 1; },
        [](Engine* e) { e->vm_stack[1].segment = VM_SEGMENT_COUNT; },
        [](Engine* e) { e->choice_count = MENU_MAX_CHOICES + 1; },
        [](Engine* e) { e->text_windows[3].id = TEXT_WINDOW_COUNT; },
        [](Engine* e) { e->text_windows[4] = TextWindow{4, 1, 0, 0, 4000000, 400, 0, 0, 0xE1, 80, 25, {}}; },
        [](Engine* e) { e->text_windows[4] = TextWindow{4, 1, INT32_MAX, 0, INT32_MAX, 16, 0, 0, 0, 1, 1, {}}; },
        [](Engine* e) { e->text_windows[4] = TextWindow{4, 1, 8, -16, 8, 16, 0, 0, 0xE1, 1, 1, {}}; },
        [](Engine* e) { e->text_windows[255].cols = 81; },
        [](Engine* e) { e->text_windows[255].col = INT32_MAX; },
        [](Engine* e) { e->text_windows[255].row = -1; },
    };
    // What play can leave: anything in an inactive window, a window defined
    // right to left with the cursor where ESC Y puts it, HD mode's window 0
    // with the cursor below its last row.
    const std::vector<std::function<void(Engine*)>> playable = {
        [](Engine* e) { e->text_windows[4] = TextWindow{4, 0, -9, 0, 4000000, 0, -1, 0, 0, 999, 0, {}}; },
        [](Engine* e) { e->text_windows[4] = TextWindow{4, 1, 632, 384, -624, -368, 223, 223, 0, -78, -23, {}}; },
        [](Engine* e) { e->text_windows[0] = TextWindow{0, 1, 0, 0, 1280, 800, 0, 25, 0xE1, 80, 25, {}}; },
    };
    for (const auto* cases : {&damage, &playable}) {
        for (size_t i = 0; i < cases->size(); i++) {
            auto saved = played_engine();
            (*cases)[i](saved.get());
            Bytes body = encode(*saved);
            auto loaded = fresh_engine();
            SaveBodyLayers layers;
            EXPECT_EQ(save_body_decode(body.data(), body.size(), loaded.get(), &layers), cases == &playable)
                << i;
        }
    }
}

TEST(SaveBodyTest, ShortBodiesAndHugeLayersFailButMissingOrForeignLayersAreSkipped)
{
    auto saved = played_engine();
    Bytes body = encode(*saved);
    SaveBodyLayers layers;
    auto loaded = fresh_engine();
    EXPECT_FALSE(save_body_decode(body.data(), SAVE_BODY_FIXED_BYTES - 1, loaded.get(), &layers));
    EXPECT_TRUE(save_body_decode(body.data(), SAVE_BODY_FIXED_BYTES, loaded.get(), &layers));
    EXPECT_EQ(layers.text_pixels, nullptr);
    EXPECT_TRUE(save_body_decode(body.data(), body.size() - 1, loaded.get(), &layers));
    EXPECT_NE(layers.text_pixels, nullptr);
    EXPECT_EQ(layers.canvas_pixels, nullptr) << "a canvas block one byte short";
    const Bytes huge = with_huge_text_block(body);
    EXPECT_FALSE(save_body_decode(huge.data(), huge.size(), loaded.get(), &layers));

    auto hd_saved = played_engine(1);
    Bytes hd_body = encode(*hd_saved);
    EXPECT_TRUE(save_body_decode(hd_body.data(), hd_body.size(), loaded.get(), &layers));
    EXPECT_EQ(layers.text_pixels, nullptr);
    EXPECT_EQ(layers.canvas_pixels, nullptr);
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

using SaveFileTest = SaveFolderTest;

TEST_F(SaveFileTest, FileNamesFollowLanguageAndConfiguredMode)
{
    struct Case {
        const char* lang;
        uint8_t hd;
        uint32_t slot;
        const char* name;
    };
    const Case cases[] = {
        {"", 0, 0, "save_01.dat"},
        {"", 1, 31, "save_hd_32.dat"},
        {"en", 0, 2, "save_en_sd_03.dat"},
        {"en", 1, 0, "save_en_hd_01.dat"},
    };
    for (const Case& c : cases) {
        snprintf(g_config.script_lang, sizeof g_config.script_lang, "%s", c.lang);
        g_config.use_hd_graphics = c.hd;
        EXPECT_EQ(slot_path(c.slot), scratch.path() + "/sav/" + c.name);
    }

    // sav/ and screenshots are beside the executable however long its folder's path, and nowhere when too long.
    const std::string deep = scratch.file(std::string(600, 'a').replace(200, 1, "/").replace(400, 1, "/") + "/");
    std::filesystem::create_directories(deep);
    ScratchDir working;
    working.enter();
    auto engine = played_engine();
    for (const std::string& folder : {deep, "/" + std::string(SAVE_PATH_CAPACITY, 'x') + "/"}) {
        s_executable_dir = folder, s_synced.clear();
        save_set_folder("");
        app_request_screenshot();
        EXPECT_EQ(save_write_slot(engine.get(), 0, nullptr, 0), folder == deep ? SAVE_RESULT_OK : SAVE_RESULT_FAILED);
        EXPECT_EQ(s_synced.empty(), folder != deep) << "written elsewhere";
        const std::string shot = g_screenshot_path;
        EXPECT_EQ(shot.substr(0, deep.size() + 11), folder == deep ? deep + "screenshot_" : "");
    }
    s_executable_dir.clear();
    EXPECT_TRUE(file_exists(deep + "sav/save_en_hd_01.dat"));  // named as the last case
}

TEST_F(SaveFileTest, HeaderThumbnailAndLengthsAreWrittenAsStored)
{
    auto engine = played_engine();
    const uint8_t png[] = {0x89, 'P', 'N', 'G', 7};
    const uint32_t before = static_cast<uint32_t>(time(nullptr));
    ASSERT_EQ(save_write_slot(engine.get(), 4, png, sizeof png), SAVE_RESULT_OK);
    Bytes file = read_file(slot_path(4));
    ASSERT_GT(file.size(), 40u);
    EXPECT_EQ(0, memcmp(file.data(), "KVR\x1A", 4));
    EXPECT_EQ(save_get_u32(&file[4]), 2u);
    EXPECT_EQ(save_get_u32(&file[8]), 7u);
    EXPECT_GE(save_get_u32(&file[12]), before);
    EXPECT_LE(save_get_u32(&file[12]), before + 5);
    EXPECT_EQ(save_get_u32(&file[16]), sizeof png);
    EXPECT_EQ(save_get_u16(&file[20]), 160);
    EXPECT_EQ(save_get_u16(&file[22]), 100);
    EXPECT_EQ(0, memcmp(&file[24], png, sizeof png));
    EXPECT_EQ(save_get_u32(&file[29]), SD_BODY);
    EXPECT_EQ(save_get_u32(&file[33]), file.size() - 37) << "nothing follows the stream";

    for (int32_t size : {0, -3}) {
        ASSERT_EQ(save_write_slot(engine.get(), 4, size ? png : nullptr, size), SAVE_RESULT_OK);
        file = read_file(slot_path(4));
        EXPECT_EQ(save_get_u32(&file[16]), 0u);
        EXPECT_EQ(save_get_u16(&file[20]), 160);
        EXPECT_EQ(save_get_u32(&file[24]), SD_BODY) << "the body follows at offset 24";
    }
}

TEST_F(SaveFileTest, LoaderReadsTheFormatTableIntoTheEngineWithAnyNonZeroFlagAsOne)
{
    auto known = fresh_engine();
    Layer text, canvas;
    const Bytes fixture = table_body(known.get(), &text, &canvas);
    Bytes stored = fixture;
    for (size_t at : {272, 273, 274, 276, 277, 28 + 16, 4636 + 56 + 2, 123164 + 48, 123164 + 44})
        stored[at] = 0x80;
    stored[278] = 0;  // palette_changed: set by every load, whatever the body holds
    SaveFileSpec spec;
    spec.png = Bytes(37, 0x89);  // passed over unread
    write_file(slot_path(0), build_save_file(spec, stored));
    auto loaded = fresh_engine();
    loaded->gfx_log_count = 5;
    ASSERT_EQ(save_load_slot(loaded.get(), 0), SAVE_RESULT_OK);
    EXPECT_EQ(first_difference(encode(*loaded, text.data(), canvas.data()), fixture), -1);
    EXPECT_EQ(loaded->gfx_log_count, 0) << "the canvas log is not stored";
    EXPECT_EQ(loaded->vm_leave + loaded->vm_command_mode + loaded->vm_blocked + loaded->vm_halfwidth_toggle +
                  loaded->choice_active + loaded->vm_stack[1].command_mode + loaded->text_windows[1].active +
                  loaded->image_slots[1].sprite_visible + loaded->image_slots[0].effect_active,
              9);
}

TEST_F(SaveFileTest, LoadRestartsTheStoredTrackUnlessMutedAndStopsTheMusicOtherwise)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0);
    bgm_init();
    auto engine = played_engine();
    ASSERT_EQ(save_write_slot(engine.get(), 0, nullptr, 0), SAVE_RESULT_OK);  // track 5
    engine->bgm_track = 0;
    ASSERT_EQ(save_write_slot(engine.get(), 1, nullptr, 0), SAVE_RESULT_OK);
    const struct {
        int32_t slot;
        uint8_t mute;
        bool plays;
    } cases[] = {{0, 0, true}, {0, 1, false}, {1, 0, false}};
    for (const auto& c : cases) {
        engine->mute = c.mute;
        testing::internal::CaptureStdout();
        ASSERT_EQ(save_load_slot(engine.get(), c.slot), SAVE_RESULT_OK);
        const std::string trace = testing::internal::GetCapturedStdout();
        // Without a manifest entry the player only reports the track it was asked for.
        EXPECT_EQ(trace.find("track 5\n") != std::string::npos, c.plays) << trace;
        EXPECT_EQ(trace.find("[BGM] Stopped\n") != std::string::npos, !c.plays) << trace;
    }
    bgm_shutdown();
}

TEST_F(SaveFileTest, SlotsOutsideTheRangeTouchNoFile)
{
    auto engine = played_engine();
    for (int32_t slot : {-1, SAVE_SLOT_COUNT}) {
        EXPECT_EQ(save_write_slot(engine.get(), slot, nullptr, 0), SAVE_RESULT_FAILED);
        EXPECT_EQ(save_load_slot(engine.get(), slot), SAVE_RESULT_FAILED);
    }
    EXPECT_EQ(save_load_slot(engine.get(), 1), SAVE_RESULT_FAILED) << "no file";
    struct stat info;
    EXPECT_NE(stat(slot_path(SAVE_SLOT_COUNT).c_str(), &info), 0);
    EXPECT_NE(stat(slot_path(UINT32_MAX).c_str(), &info), 0);
}

// Whether name is what a write of target calls its temporary: <target>.kavrel-XXXXXX.tmp.
static bool is_temporary_of(const std::string& name, const std::string& target)
{
    return name.size() == target.size() + strlen(".kavrel-XXXXXX.tmp") && name.rfind(target + ".kavrel-", 0) == 0 &&
           name.compare(name.size() - 4, 4, ".tmp") == 0;
}

// Whether the last write went to the disk under a temporary of its own, then its folder with the new name.
static bool synced_through_a_temporary(const std::string& target)
{
    return s_synced.size() == 2 && is_temporary_of(s_synced[0], target) &&
           s_synced[1] == std::filesystem::path(target).parent_path();
}

TEST_F(SaveFileTest, AWriteReachesTheDiskBeforeItsNameAndAFailedOneKeepsTheOldSave)
{
    auto engine = played_engine();
    s_synced.clear();
    ASSERT_EQ(save_write_slot(engine.get(), 2, nullptr, 0), SAVE_RESULT_OK);
    EXPECT_TRUE(synced_through_a_temporary(slot_path(2)));
    // It is replaced whole where a rename can (0 links: another writer's rename halfway), else written in place as
    // opening it would: a second name, a rename refused (a mount point, a read-only folder); a failing disk keeps it.
    const struct { long links; int rename_error; int32_t result; } cases[] = {
        {0, 0, 0}, {2, 0, 0}, {-1, EBUSY, 0}, {-1, EROFS, 0}, {-1, EXDEV, 0}, {-1, ENOSPC, 1}, {-1, EIO, 1}};
    for (const auto& c : cases) {
        const Bytes before = read_file(slot_path(2));
        engine->vm_vars[0]++;
        s_links_reported = c.links, s_rename_error = c.rename_error, s_synced.clear();
        EXPECT_EQ(save_write_slot(engine.get(), 2, nullptr, 0), c.result) << c.links << " " << c.rename_error;
        s_links_reported = -1, s_rename_error = 0;
        EXPECT_EQ(synced_through_a_temporary(slot_path(2)), c.links == 0) << c.links << " " << c.rename_error;
        EXPECT_EQ(read_file(slot_path(2)) != before, c.result == SAVE_RESULT_OK) << c.links << " " << c.rename_error;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.file("sav")), {}), 1) << "a temporary left";
    }
    const Bytes old = read_file(slot_path(2));
    engine->vm_vars[0] = 42;
    s_fsync_error = EIO;
    EXPECT_EQ(save_write_slot(engine.get(), 2, nullptr, 0), SAVE_RESULT_FAILED);
    s_fsync_error = 0;
    EXPECT_EQ(read_file(slot_path(2)), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.file("sav")), {}), 1) << "a temporary left";
    // A slot the player made read-only is kept, and the save fails.
    std::filesystem::permissions(scratch.path(), std::filesystem::perms::all);
    std::filesystem::permissions(scratch.file("sav"), std::filesystem::perms::all);
    ASSERT_EQ(chmod(slot_path(2).c_str(), 0444), 0);
    const auto save_slot_2 = [&] { return save_write_slot(engine.get(), 2, nullptr, 0); };
    EXPECT_EQ(run_in_child(save_slot_2, ChildUser::PLAYER), SAVE_RESULT_FAILED);
    EXPECT_EQ(read_file(slot_path(2)), old);
    // A folder the player may write but not read takes the save, and one marked
    // append-only (where root can mark one) takes it in place: no temporary stays.
    ASSERT_EQ(chmod(scratch.file("sav").c_str(), 0333), 0);
    EXPECT_EQ(run_in_child([&] { return save_write_slot(engine.get(), 6, nullptr, 0); }, ChildUser::PLAYER), 0);
    std::filesystem::permissions(scratch.file("sav"), std::filesystem::perms::all);
    if (system(("chattr +a " + scratch.file("sav") + " 2>/dev/null").c_str()) == 0) {
        EXPECT_EQ(save_write_slot(engine.get(), 7, nullptr, 0), SAVE_RESULT_OK);
        EXPECT_EQ(system(("chattr -a " + scratch.file("sav")).c_str()), 0);
    }
    for (const auto& entry : std::filesystem::directory_iterator(scratch.file("sav")))
        EXPECT_EQ(entry.path().string().find(".kavrel-"), std::string::npos) << "a temporary left";

    // A FIFO or a link beside a slot is neither waited on, written through
    // nor removed; a linked slot is written where the link leads, in place
    // as an open for writing would write it, and durably.
    Watchdog watchdog;
    const Bytes players = {1, 2, 3};
    write_file(scratch.file("kept.dat"), players);
    make_fifo(slot_path(3) + ".tmp");
    std::filesystem::create_symlink(scratch.file("kept.dat"), slot_path(4) + ".tmp");
    write_file(scratch.file("elsewhere/slot.dat"), old);
    std::filesystem::create_symlink(scratch.file("elsewhere/slot.dat"), slot_path(5));
    for (int32_t slot : {3, 4, 5}) {
        s_synced.clear();
        EXPECT_EQ(save_write_slot(engine.get(), slot, nullptr, 0), SAVE_RESULT_OK) << slot;
    }
    EXPECT_EQ(read_file(scratch.file("kept.dat")), players);
    EXPECT_TRUE(std::filesystem::is_fifo(slot_path(3) + ".tmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(slot_path(4) + ".tmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(slot_path(5)));
    EXPECT_EQ(s_synced, std::vector<std::string>{scratch.file("elsewhere/slot.dat")});
    EXPECT_NE(read_file(scratch.file("elsewhere/slot.dat")), old);
}

// A crash is a SIGKILL at any moment of a write: the slot must still hold a
// whole save, the old one or the new, and all a crash may leave beside it is
// a temporary under the name the README gives.
TEST_F(SaveFileTest, AWriteKilledAtAnyMomentLeavesAWholeSaveAndOnlyItsTemporary)
{
    auto engine = played_engine();
    // A large thumbnail makes the file's own writing a good part of each save,
    // so that many kills land inside it.
    const Bytes png(4 << 20, 0x5A);
    const int32_t png_size = static_cast<int32_t>(png.size());
    ASSERT_EQ(save_write_slot(engine.get(), 0, png.data(), png_size), SAVE_RESULT_OK);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(save_write_slot(engine.get(), 0, png.data(), png_size), SAVE_RESULT_OK);
    const long save_us = (std::chrono::steady_clock::now() - start) / std::chrono::microseconds(1);
    std::mt19937 random(11);
    int32_t stored = engine->vm_vars[0];
    int temporaries_seen = 0;
    for (int32_t round = 1; round <= 100; round++) {
        const pid_t child = fork();
        if (child == 0)
            for (int32_t n = 0;; n++) {
                engine->vm_vars[0] = round * 1000 + n;  // rises with every write
                save_write_slot(engine.get(), 0, png.data(), png_size);
            }
        // The first write's file goes out near the end of a save's time.
        usleep(static_cast<useconds_t>(save_us * 6 / 10 + random() % (save_us * 6 / 10 + 1)));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        auto loaded = fresh_engine();
        ASSERT_EQ(save_load_slot(loaded.get(), 0), SAVE_RESULT_OK) << "round " << round;
        ASSERT_GE(loaded->vm_vars[0], stored) << "an older save came back";
        stored = loaded->vm_vars[0];
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path() + "/sav")) {
            if (entry.path() == slot_path(0))
                continue;
            ASSERT_TRUE(is_temporary_of(entry.path(), slot_path(0))) << entry.path();
            std::filesystem::remove(entry.path());  // a hundred of them would take hundreds of megabytes
            temporaries_seen++;
        }
    }
    EXPECT_GT(temporaries_seen, 0) << "no kill landed while the file was written";
}

// ---------------------------------------------------------------------------
// Loading refusals and damaged files
// ---------------------------------------------------------------------------

using SaveLoadTest = SaveFolderTest;

TEST_F(SaveLoadTest, OtherEditionsAndOlderVersionsAreRefusedWithTheirMessage)
{
    struct Case {
        Bytes file;
        int32_t result;
        const char* message;  // null: nothing shown
    };
    const Bytes body = encode(*played_engine());
    auto version = [](uint32_t v) { SaveFileSpec spec; spec.version = v; return spec; };
    const Case cases[] = {
        {Bytes{'K', 'V', 'W', 0x1A, 2}, SAVE_RESULT_REFUSED, "different edition of the engine"},
        {build_save_head(version(1)), SAVE_RESULT_REFUSED,
         "older engine version (before 0.6) and can no longer be loaded.\n\n"
         "このセーブデータは古いバージョンで作成されており、読み込めません。"},
        {build_save_file(version(0), body), SAVE_RESULT_FAILED, nullptr},
        {build_save_file(version(3), body), SAVE_RESULT_FAILED, nullptr},
        {Bytes{'K', 'V', 'R'}, SAVE_RESULT_FAILED, nullptr},
        {Bytes{'K', 'V', 'R', 0x1A, 2, 0, 0}, SAVE_RESULT_FAILED, nullptr},
    };
    auto engine = played_engine();
    engine->window = SDL_RenderGetWindow(test_renderer());
    for (const Case& c : cases) {
        write_file(slot_path(9), c.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(save_load_slot(engine.get(), 9), c.result);
        const std::string shown = testing::internal::GetCapturedStderr();
        if (c.message) {
            EXPECT_NE(shown.find("Incompatible Save (owned): "), std::string::npos) << shown;
            EXPECT_NE(shown.find(c.message), std::string::npos) << shown;
        } else {
            EXPECT_EQ(shown, "");
        }
    }
}

// A save file whose zlib stream is exactly length bytes long: empty stored
// blocks as padding, then the body in stored blocks, then zlib's Adler-32.
// Blocks cost 5 bytes besides their data and the stream 6, so the body is
// the fixed part of played_engine's and as many bytes more as that needs.
static Bytes stored_stream_file(uint32_t length)
{
    constexpr size_t STORED_MAX = 65535;
    const Bytes whole = encode(*played_engine());
    const Bytes body(whole.begin(), whole.begin() + SAVE_BODY_FIXED_BYTES + (length - 6 - SAVE_BODY_FIXED_BYTES) % 5);
    Bytes file = build_save_head(SaveFileSpec{});
    size_t at = file.size() + SAVE_LENGTHS_BYTES;
    file.resize(at + length);
    save_put_u32(&file[at - 8], static_cast<uint32_t>(body.size()));
    save_put_u32(&file[at - 4], length);
    auto block = [&](bool last, size_t from, size_t n) {
        const uint8_t head[] = {last, uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)};
        memcpy(&file[at], head, sizeof head);
        memcpy(&file[at + sizeof head], body.data() + from, n);
        at += sizeof head + n;
    };
    file[at++] = 0x78;
    file[at++] = 0x01;
    while (file.size() - at > 5 * ((body.size() + STORED_MAX - 1) / STORED_MAX) + body.size() + 4)
        block(false, 0, 0);
    for (size_t from = 0; from < body.size(); from += STORED_MAX)
        block(from + STORED_MAX >= body.size(), from, std::min(STORED_MAX, body.size() - from));
    const uLong adler = adler32(1, body.data(), static_cast<uInt>(body.size()));
    for (int shift : {24, 16, 8, 0})
        file[at++] = static_cast<uint8_t>(adler >> shift);
    return file;
}

TEST_F(SaveLoadTest, DamagedFilesFailAndLeaveTheEngineUntouched)
{
    Watchdog watchdog;
    auto source = played_engine();
    const Bytes body = encode(*source);
    const Bytes good = build_save_file(SaveFileSpec{}, body);
    const size_t lengths_at = 24;
    auto with_u32 = [&](size_t at, uint32_t v) {
        Bytes f = good;
        save_put_u32(&f[at], v);
        return f;
    };
    Bytes flipped = good;
    flipped[good.size() / 2] ^= 0xFF;
    Bytes trailer_flipped = good;
    trailer_flipped[good.size() - 1] ^= 0x01;
    SaveFileSpec padded;
    padded.stream_padding = 16;
    const Bytes padded_file = build_save_file(padded, body);
    Bytes padded_trailer_flipped = padded_file;
    padded_trailer_flipped[padded_trailer_flipped.size() - padded.stream_padding - 1] ^= 0x01;
    auto damaged = [&](const std::function<void(Engine*)>& damage) {
        auto e = played_engine();
        damage(e.get());
        return build_save_file(SaveFileSpec{}, encode(*e));
    };
    const std::vector<Bytes> files = {
        Bytes(good.begin(), good.begin() + 20),
        Bytes(good.begin(), good.begin() + 30),
        Bytes(good.begin(), good.end() - 1),
        with_u32(lengths_at + 4, 0),
        stored_stream_file(SAVE_MAX_COMPRESSED + 1),
        with_u32(lengths_at, static_cast<uint32_t>(body.size() + 1)),
        with_u32(lengths_at, static_cast<uint32_t>(body.size() - 1)),
        with_u32(lengths_at, UINT32_MAX),
        flipped,
        trailer_flipped,
        padded_trailer_flipped,
        Bytes(padded_file.begin(), padded_file.end() - 1),
        build_save_file(SaveFileSpec{}, Bytes(body.begin(), body.begin() + 4000)),
        damaged([](Engine* e) { e->vm_depth = VM_STACK_DEPTH + 1; }),
        damaged([](Engine* e) { e->text_windows[4] = TextWindow{4, 1, 0, 0, 4000000, 400, 0, 0, 0, 80, 25, {}}; }),
        damaged([](Engine* e) { e->text_windows[255].col = INT32_MAX; }),
        build_save_file(SaveFileSpec{}, with_huge_text_block(body)),
    };
    auto engine = fresh_engine();
    auto untouched = fresh_engine();
    for (size_t i = 0; i < files.size(); i++) {
        write_file(slot_path(3), files[i]);
        EXPECT_EQ(save_load_slot(engine.get(), 3), SAVE_RESULT_FAILED) << i;
        EXPECT_EQ(0, memcmp(engine.get(), untouched.get(), sizeof(Engine))) << i;
    }
    make_fifo(slot_path(5));
    EXPECT_EQ(save_load_slot(engine.get(), 5), SAVE_RESULT_FAILED) << "a FIFO, never waited on";
    write_file(slot_path(3), stored_stream_file(SAVE_MAX_COMPRESSED));
    EXPECT_EQ(save_load_slot(engine.get(), 3), SAVE_RESULT_OK) << "a stream of the greatest length";
    // The checksum is read where the deflate data ends, so padding after it
    // is harmless, and so are the block kinds other compressors choose.
    SaveFileSpec dynamic_codes;
    dynamic_codes.zlib_level = 9;
    for (const Bytes& file : {good, padded_file, build_save_file(dynamic_codes, body)}) {
        write_file(slot_path(3), file);
        EXPECT_EQ(save_load_slot(engine.get(), 3), SAVE_RESULT_OK);
        EXPECT_EQ(first_difference(encode(*engine), body), -1);
    }
}

// ---------------------------------------------------------------------------
// Screen layers through the renderer
// ---------------------------------------------------------------------------

class SaveLayersTest : public SaveFolderTest {
protected:
    void SetUp() override
    {
        SaveFolderTest::SetUp();
        if (!test_renderer())
            GTEST_SKIP() << "no renderer";
        scratch.enter();
        ASSERT_TRUE(load_white_font(scratch, 0));
        engine = played_engine();
        engine->renderer = test_renderer();
        engine->canvas_texture = make_filled_target(640, 400, 0x00000000);
    }
    void TearDown() override
    {
        if (engine && engine->canvas_texture)
            SDL_DestroyTexture(engine->canvas_texture);
    }
    std::unique_ptr<Engine> engine;
};

TEST_F(SaveLayersTest, BothLayersComeBackPixelForPixel)
{
    fill_target_rect(text_layer_get(), SDL_Rect{10, 20, 30, 40}, 0xFF000080);
    fill_target_rect(engine->canvas_texture, SDL_Rect{600, 390, 40, 10}, 0x00FF00FF);
    const Pixels text = read_render_target(text_layer_get());
    const Pixels canvas = read_render_target(engine->canvas_texture);
    ASSERT_EQ(save_write_slot(engine.get(), 6, nullptr, 0), SAVE_RESULT_OK);
    text_layer_clear(engine->renderer);
    fill_target_rect(engine->canvas_texture, SDL_Rect{0, 0, 640, 400}, 0x0000FFFF);
    ASSERT_EQ(save_load_slot(engine.get(), 6), SAVE_RESULT_OK);
    EXPECT_EQ(read_render_target(text_layer_get()), text);
    EXPECT_EQ(read_render_target(engine->canvas_texture), canvas);
}

TEST_F(SaveLayersTest, LayersOfAnotherModeLeaveTheTextAndClearTheCanvas)
{
    auto hd = played_engine(1);
    ASSERT_EQ(save_write_slot(hd.get(), 7, nullptr, 0), SAVE_RESULT_OK);
    fill_target_rect(text_layer_get(), SDL_Rect{0, 0, 8, 8}, 0xFFFFFFFF);
    fill_target_rect(engine->canvas_texture, SDL_Rect{0, 0, 640, 400}, 0xFF0000FF);
    const Pixels text = read_render_target(text_layer_get());
    ASSERT_EQ(save_load_slot(engine.get(), 7), SAVE_RESULT_OK);
    EXPECT_EQ(read_render_target(text_layer_get()), text);
    const Pixels canvas = read_render_target(engine->canvas_texture);
    EXPECT_EQ(pixel_at(canvas, 640, 5, 5) & 0xFF, 0u) << "the canvas is cleared to transparent";
}
