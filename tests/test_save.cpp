#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <sys/stat.h>

#include "../save/save_private.h"
#include "config.h"
#include "render_fixture.h"
#include "save.h"
#include "save_fixture.h"
#include "screen.h"

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

// An engine whose stored fields all differ from the start-up state.
static std::unique_ptr<Engine> played_engine(uint8_t hd = 0)
{
    auto e = fresh_engine(hd);
    e->vm_pc = 0x123;
    e->vm_block_end = 0x456;
    e->vm_segment = 7;
    e->vm_depth = 2;
    for (int i = 0; i < VM_STACK_DEPTH; i++)
        e->vm_stack[i] = VmFrame{static_cast<uint32_t>(i * 3), 0x20, static_cast<uint32_t>(i), 2, 0};
    e->vm_leave = 2;
    e->choice_active = 255;
    e->vm_restart_segment = -1;
    e->wait_frames = 33;
    e->choice_cursor = 3;
    for (int i = 0; i < VM_VAR_COUNT; i++)
        e->vm_vars[i] = i * 7 - 500;
    e->text_cursor_x = 640;
    e->spare_byte = 0xAB;
    for (int i = 0; i < PALETTE_SIZE; i++)
        e->palette[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x111111);
    e->tint[0] = 10;
    e->tint[2] = 250;
    e->bgm_track = 5;
    e->placed_image_slot = 12;
    e->menu_layout[6] = 99;
    e->menu_layout_set = 7;
    e->choice_ids[19] = 0xDEADBEEF;
    e->choice_count = 20;
    e->text_windows[255] = TextWindow{255, 1, 1, 2, 3, 4, 5, 6, 0xE0, 7, 8, {9, 10, 11, 12}};
    e->vram_planes[2][31999] = 0x5A;
    e->vram_aux[8191] = 0xA5;
    e->image_slots[255].sprite_visible = 1;
    e->image_slots[255].x = -40;
    e->image_slots[255].effect_aux = 77;
    e->image_slots[255].effect_active = 1;
    return e;
}

static void expect_same_stored_state(const Engine& a, const Engine& b)
{
    EXPECT_EQ(a.vm_pc, b.vm_pc);
    EXPECT_EQ(a.vm_block_end, b.vm_block_end);
    EXPECT_EQ(a.vm_segment, b.vm_segment);
    EXPECT_EQ(a.vm_depth, b.vm_depth);
    EXPECT_EQ(a.vm_stack[15].resume_pc, b.vm_stack[15].resume_pc);
    EXPECT_EQ(a.vm_stack[15].segment, b.vm_stack[15].segment);
    EXPECT_EQ(a.vm_restart_segment, b.vm_restart_segment);
    EXPECT_EQ(a.wait_frames, b.wait_frames);
    EXPECT_EQ(0, memcmp(a.vm_vars, b.vm_vars, sizeof a.vm_vars));
    EXPECT_EQ(0, memcmp(a.palette, b.palette, sizeof a.palette));
    EXPECT_EQ(0, memcmp(a.tint, b.tint, sizeof a.tint));
    EXPECT_EQ(a.spare_byte, b.spare_byte);
    EXPECT_EQ(a.bgm_track, b.bgm_track);
    EXPECT_EQ(a.placed_image_slot, b.placed_image_slot);
    EXPECT_EQ(a.menu_layout[6], b.menu_layout[6]);
    EXPECT_EQ(a.menu_layout_set, b.menu_layout_set);
    EXPECT_EQ(a.choice_ids[19], b.choice_ids[19]);
    EXPECT_EQ(a.choice_count, b.choice_count);
    EXPECT_EQ(a.text_windows[255].attribute, b.text_windows[255].attribute);
    EXPECT_EQ(a.text_windows[255].spare[3], b.text_windows[255].spare[3]);
    EXPECT_EQ(a.text_windows[255].rows, b.text_windows[255].rows);
    EXPECT_EQ(0, memcmp(a.vram_planes, b.vram_planes, sizeof a.vram_planes));
    EXPECT_EQ(0, memcmp(a.vram_aux, b.vram_aux, sizeof a.vram_aux));
    EXPECT_EQ(a.image_slots[255].x, b.image_slots[255].x);
    EXPECT_EQ(a.image_slots[255].effect_aux, b.image_slots[255].effect_aux);
    EXPECT_EQ(a.image_slots[255].effect_active, b.image_slots[255].effect_active);
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

TEST(SaveBodyTest, RoundTripRestoresFieldsAndLayersWithFlagsAsZeroOrOne)
{
    auto saved = played_engine();
    std::vector<uint32_t> text(640 * 400, 0x11223344u);
    std::vector<uint32_t> canvas(640 * 400, 0xAABBCCDDu);
    canvas.back() = 0x01020304u;
    Bytes body = encode(*saved, text.data(), canvas.data());
    ASSERT_EQ(body.size(), SD_BODY);
    EXPECT_EQ(save_body_size(1), HD_BODY);
    EXPECT_EQ(body[272], 1) << "vm_leave 2 is stored as 1";
    EXPECT_EQ(body[277], 1) << "choice_active 255 is stored as 1";
    EXPECT_EQ(save_get_u32(&body[4417]), saved->palette[0]) << "items are packed without alignment";
    EXPECT_EQ(body[4416], 0xAB);
    // Pixels are stored little-endian: alpha, blue, green, red.
    EXPECT_EQ(body.back(), 0x01);
    EXPECT_EQ(body[body.size() - 4], 0x04);

    auto loaded = fresh_engine();
    SaveBodyLayers layers;
    ASSERT_TRUE(save_body_decode(body.data(), body.size(), loaded.get(), &layers));
    expect_same_stored_state(*saved, *loaded);
    EXPECT_EQ(loaded->vm_leave, 1);
    EXPECT_EQ(loaded->choice_active, 1);
    ASSERT_NE(layers.text_pixels, nullptr);
    ASSERT_NE(layers.canvas_pixels, nullptr);
    std::vector<uint32_t> unpacked(canvas.size());
    save_pixels_unpack(layers.canvas_pixels, unpacked.data(), unpacked.size());
    EXPECT_EQ(unpacked, canvas);
}

TEST(SaveBodyTest, ValuesThatWouldIndexOutsideTheirTablesAreRefused)
{
    const std::vector<std::function<void(Engine*)>> damage = {
        [](Engine* e) { e->vm_depth = VM_STACK_DEPTH + 1; },
        [](Engine* e) { e->vm_depth = -1; },
        [](Engine* e) { e->vm_segment = VM_SEGMENT_COUNT; },
        [](Engine* e) { e->vm_pc = CODE_SIZE + 1; },
        [](Engine* e) { e->vm_stack[1].segment = VM_SEGMENT_COUNT; },
        [](Engine* e) { e->choice_count = MENU_MAX_CHOICES + 1; },
        [](Engine* e) { e->text_windows[3].id = TEXT_WINDOW_COUNT; },
    };
    for (size_t i = 0; i < damage.size(); i++) {
        auto saved = played_engine();
        damage[i](saved.get());
        Bytes body = encode(*saved);
        auto loaded = fresh_engine();
        SaveBodyLayers layers;
        EXPECT_FALSE(save_body_decode(body.data(), body.size(), loaded.get(), &layers)) << i;
    }
}

TEST(SaveBodyTest, ShortBodiesFailButMissingOrForeignLayersAreSkipped)
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

TEST_F(SaveFileTest, WriteThenLoadRestoresTheGameAndEmptiesTheLog)
{
    auto engine = played_engine();
    ASSERT_EQ(save_write_slot(engine.get(), 0, nullptr, 0), SAVE_RESULT_OK);
    auto reference = played_engine();
    engine->vm_vars[100] = 1;
    engine->vm_pc = 0;
    engine->gfx_log_count = 5;
    engine->palette_changed = 0;
    ASSERT_EQ(save_load_slot(engine.get(), 0), SAVE_RESULT_OK);
    expect_same_stored_state(*reference, *engine);
    EXPECT_EQ(engine->gfx_log_count, 0);
    EXPECT_EQ(engine->palette_changed, 1);
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

TEST_F(SaveFileTest, AFailedWriteKeepsTheOldSave)
{
    auto engine = played_engine();
    ASSERT_EQ(save_write_slot(engine.get(), 2, nullptr, 0), SAVE_RESULT_OK);
    const Bytes old = read_file(slot_path(2));
    // A folder where the temporary file would go makes the write fail.
    ASSERT_EQ(mkdir((slot_path(2) + ".tmp").c_str(), 0755), 0);
    engine->vm_vars[0] = 42;
    EXPECT_EQ(save_write_slot(engine.get(), 2, nullptr, 0), SAVE_RESULT_FAILED);
    EXPECT_EQ(read_file(slot_path(2)), old);
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
    SaveFileSpec v1;
    v1.version = 1;
    SaveFileSpec v0;
    v0.version = 0;
    SaveFileSpec v3;
    v3.version = 3;
    const Case cases[] = {
        {Bytes{'K', 'V', 'W', 0x1A, 2}, SAVE_RESULT_REFUSED, "different edition of the engine"},
        {build_save_head(v1), SAVE_RESULT_REFUSED,
         "older engine version (before 0.6) and can no longer be loaded.\n\n"
         "このセーブデータは古いバージョンで作成されており、読み込めません。"},
        {build_save_head(v0), SAVE_RESULT_FAILED, nullptr},
        {build_save_head(v3), SAVE_RESULT_FAILED, nullptr},
        {Bytes{'K', 'V', 'R'}, SAVE_RESULT_FAILED, nullptr},
        {Bytes{'K', 'V', 'R', 0x1A, 2, 0, 0}, SAVE_RESULT_FAILED, nullptr},
    };
    auto engine = played_engine();
    for (const Case& c : cases) {
        write_file(slot_path(9), c.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(save_load_slot(engine.get(), 9), c.result);
        const std::string shown = testing::internal::GetCapturedStderr();
        if (c.message) {
            EXPECT_NE(shown.find("Incompatible Save"), std::string::npos);
            EXPECT_NE(shown.find(c.message), std::string::npos) << shown;
        } else {
            EXPECT_EQ(shown, "");
        }
    }
}

TEST_F(SaveLoadTest, DamagedFilesFailAndLeaveTheEngineUntouched)
{
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
    auto deep = played_engine();
    deep->vm_depth = VM_STACK_DEPTH + 1;
    const std::vector<Bytes> files = {
        Bytes(good.begin(), good.begin() + 20),
        Bytes(good.begin(), good.begin() + 30),
        Bytes(good.begin(), good.end() - 1),
        with_u32(lengths_at + 4, 0),
        with_u32(lengths_at + 4, SAVE_MAX_COMPRESSED + 1),
        with_u32(lengths_at + 4, SAVE_MAX_COMPRESSED),
        with_u32(lengths_at, static_cast<uint32_t>(body.size() + 1)),
        with_u32(lengths_at, static_cast<uint32_t>(body.size() - 1)),
        with_u32(lengths_at, UINT32_MAX),
        flipped,
        trailer_flipped,
        build_save_file(SaveFileSpec{}, Bytes(body.begin(), body.begin() + 4000)),
        build_save_file(SaveFileSpec{}, encode(*deep)),
    };
    auto engine = fresh_engine();
    auto untouched = fresh_engine();
    for (size_t i = 0; i < files.size(); i++) {
        write_file(slot_path(3), files[i]);
        EXPECT_EQ(save_load_slot(engine.get(), 3), SAVE_RESULT_FAILED) << i;
        EXPECT_EQ(0, memcmp(engine.get(), untouched.get(), sizeof(Engine))) << i;
    }
    write_file(slot_path(3), good);
    EXPECT_EQ(save_load_slot(engine.get(), 3), SAVE_RESULT_OK);
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
