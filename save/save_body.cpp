// The save body codec: every stored field written and read one by one,
// little-endian and without alignment, so the file never depends on how the
// compiler lays out the Engine.
#include <cstring>

#include "save.h"
#include "save_private.h"
#include "vm.h"

constexpr size_t FRAME_FILLER = 3;
constexpr size_t FLAGS_ZERO = 5;
constexpr size_t WORDS_ZERO = 4;
constexpr size_t WINDOW_FILLER_AFTER_ACTIVE = 1;
constexpr size_t WINDOW_FILLER_AFTER_ATTRIBUTE = 2;
constexpr size_t MENU_LAYOUT_FILLER = 3;
constexpr size_t SLOT_FILLER = 3;
constexpr int WINDOW_SPARE_WORDS = 4;
constexpr int TINT_CHANNELS = 3;

SaveHeader save_header_read(const uint8_t* bytes)
{
    SaveHeader header;
    memcpy(header.magic, bytes, SAVE_MAGIC_BYTES);
    header.version = save_get_u32(bytes + 4);
    header.segment = save_get_u32(bytes + 8);
    header.time = save_get_u32(bytes + 12);
    return header;
}

bool save_header_is_listed(const SaveHeader* header)
{
    return memcmp(header->magic, SAVE_MAGIC, SAVE_MAGIC_BYTES) == 0 &&
           (header->version == SAVE_VERSION || header->version == SAVE_VERSION_OLD);
}

int32_t save_layer_width(uint8_t hd_mode) { return SCREEN_WIDTH * (hd_mode ? 2 : 1); }
int32_t save_layer_height(uint8_t hd_mode) { return SCREEN_HEIGHT * (hd_mode ? 2 : 1); }

static size_t layer_bytes(uint8_t hd_mode)
{
    return SAVE_PIXEL_BYTES * static_cast<size_t>(save_layer_width(hd_mode)) *
           static_cast<size_t>(save_layer_height(hd_mode));
}

size_t save_body_size(uint8_t hd_mode)
{
    return SAVE_BODY_FIXED_BYTES + 2 * (SAVE_IMAGE_HEADER_BYTES + layer_bytes(hd_mode));
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

struct BodyWriter {
    uint8_t* at;
};

static void put_u8(BodyWriter* w, uint8_t v) { *w->at++ = v; }
static void put_flag(BodyWriter* w, uint8_t v) { put_u8(w, v ? 1 : 0); }
static void put_u16(BodyWriter* w, uint16_t v)
{
    save_put_u16(w->at, v);
    w->at += 2;
}
static void put_u32(BodyWriter* w, uint32_t v)
{
    save_put_u32(w->at, v);
    w->at += 4;
}
static void put_i32(BodyWriter* w, int32_t v) { put_u32(w, static_cast<uint32_t>(v)); }
static void put_zero(BodyWriter* w, size_t n)
{
    memset(w->at, 0, n);
    w->at += n;
}
static void put_bytes(BodyWriter* w, const uint8_t* src, size_t n)
{
    memcpy(w->at, src, n);
    w->at += n;
}

static void put_frame(BodyWriter* w, const VmFrame* f)
{
    put_u32(w, f->resume_pc);
    put_u32(w, f->block_end);
    put_u32(w, f->segment);
    put_flag(w, f->command_mode);
    put_zero(w, FRAME_FILLER);
}

static void put_window(BodyWriter* w, const TextWindow* t)
{
    put_u16(w, t->id);
    put_flag(w, t->active);
    put_zero(w, WINDOW_FILLER_AFTER_ACTIVE);
    put_i32(w, t->x);
    put_i32(w, t->y);
    put_i32(w, t->w);
    put_i32(w, t->h);
    put_i32(w, t->col);
    put_i32(w, t->row);
    put_u16(w, t->attribute);
    put_zero(w, WINDOW_FILLER_AFTER_ATTRIBUTE);
    put_i32(w, t->cols);
    put_i32(w, t->rows);
    for (uint32_t spare : t->spare)
        put_u32(w, spare);
}

static void put_slot(BodyWriter* w, const ImageSlot* s)
{
    put_flag(w, s->sprite_visible);
    put_zero(w, SLOT_FILLER);
    put_i32(w, s->x);
    put_i32(w, s->y);
    put_u32(w, s->aux0);
    put_u32(w, s->aux1);
    put_u32(w, s->aux2);
    put_u32(w, s->aux3);
    put_i32(w, s->effect_type);
    put_i32(w, s->effect_progress);
    put_i32(w, s->effect_duration);
    put_i32(w, s->effect_aux);
    put_flag(w, s->effect_active);
    put_zero(w, SLOT_FILLER);
}

static void put_layer(BodyWriter* w, uint8_t hd_mode, const uint32_t* pixels)
{
    put_u32(w, static_cast<uint32_t>(save_layer_width(hd_mode)));
    put_u32(w, static_cast<uint32_t>(save_layer_height(hd_mode)));
    const size_t count = layer_bytes(hd_mode) / SAVE_PIXEL_BYTES;
    if (!pixels) {
        put_zero(w, count * SAVE_PIXEL_BYTES);
        return;
    }
    for (size_t i = 0; i < count; i++)
        put_u32(w, pixels[i]);
}

void save_body_encode(const Engine* e, const uint32_t* text_pixels, const uint32_t* canvas_pixels,
                      uint8_t* out)
{
    BodyWriter w = {out};
    put_u32(&w, e->vm_pc);
    put_u32(&w, e->vm_block_end);
    put_u32(&w, e->vm_segment);
    put_i32(&w, e->vm_depth);
    for (const VmFrame& frame : e->vm_stack)
        put_frame(&w, &frame);
    put_flag(&w, e->vm_leave);
    put_flag(&w, e->vm_command_mode);
    put_flag(&w, e->vm_blocked);
    put_flag(&w, e->spare_flag);
    put_flag(&w, e->vm_halfwidth_toggle);
    put_flag(&w, e->choice_active);
    put_flag(&w, e->palette_changed);
    put_zero(&w, FLAGS_ZERO);
    put_u32(&w, e->vm_next_segment);
    put_i32(&w, e->vm_restart_segment);
    put_i32(&w, e->spare_int);
    put_i32(&w, e->wait_frames);
    put_i32(&w, e->choice_cursor);
    put_i32(&w, e->choice_result);
    put_u32(&w, e->spare_vm_word);
    put_zero(&w, WORDS_ZERO);
    for (int32_t var : e->vm_vars)
        put_i32(&w, var);
    put_u16(&w, e->text_cursor_x);
    put_u16(&w, e->text_cursor_y);
    put_u8(&w, e->spare_byte);
    for (uint32_t colour : e->palette)
        put_u32(&w, colour);
    put_u32(&w, e->palette_spare);
    put_u16(&w, e->spare_word);
    put_bytes(&w, e->tint, TINT_CHANNELS);
    put_u16(&w, e->image_text_x);
    put_u16(&w, e->image_text_y);
    put_u16(&w, e->bgm_track);
    put_i32(&w, e->placed_image_slot);
    put_i32(&w, e->current_image);
    put_i32(&w, e->blit_x8);
    put_i32(&w, e->blit_y2);
    for (uint32_t value : e->menu_layout)
        put_u32(&w, value);
    put_u8(&w, e->menu_layout_set);
    put_zero(&w, MENU_LAYOUT_FILLER);
    for (uint32_t id : e->choice_ids)
        put_u32(&w, id);
    put_i32(&w, e->choice_count);
    put_i32(&w, e->choice_x);
    put_i32(&w, e->choice_y);
    for (const TextWindow& window : e->text_windows)
        put_window(&w, &window);
    for (const auto& plane : e->vram_planes)
        put_bytes(&w, plane, VRAM_PLANE_BYTES);
    put_bytes(&w, e->vram_aux, VRAM_AUX_BYTES);
    for (const ImageSlot& slot : e->image_slots)
        put_slot(&w, &slot);
    put_layer(&w, e->hd_mode, text_pixels);
    put_layer(&w, e->hd_mode, canvas_pixels);
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// Each item is checked against the end before it is read; once one does not
// fit, every later read fails too and the body is refused.
struct BodyReader {
    const uint8_t* data;
    size_t length;
    size_t at;
    bool ok;
};

static const uint8_t* take(BodyReader* r, size_t n)
{
    if (!r->ok || n > r->length - r->at) {
        r->ok = false;
        return nullptr;
    }
    const uint8_t* p = r->data + r->at;
    r->at += n;
    return p;
}

static void get_u8(BodyReader* r, uint8_t* out)
{
    if (const uint8_t* p = take(r, 1))
        *out = *p;
}
// Flags were normalised on writing, but a foreign file may hold any byte.
static void get_flag(BodyReader* r, uint8_t* out)
{
    if (const uint8_t* p = take(r, 1))
        *out = *p ? 1 : 0;
}
static void get_u16(BodyReader* r, uint16_t* out)
{
    if (const uint8_t* p = take(r, 2))
        *out = save_get_u16(p);
}
static void get_u32(BodyReader* r, uint32_t* out)
{
    if (const uint8_t* p = take(r, 4))
        *out = save_get_u32(p);
}
static void get_i32(BodyReader* r, int32_t* out)
{
    if (const uint8_t* p = take(r, 4))
        *out = static_cast<int32_t>(save_get_u32(p));
}
static void skip(BodyReader* r, size_t n) { take(r, n); }
static void get_bytes(BodyReader* r, uint8_t* out, size_t n)
{
    if (const uint8_t* p = take(r, n))
        memcpy(out, p, n);
}

static void get_frame(BodyReader* r, VmFrame* f)
{
    get_u32(r, &f->resume_pc);
    get_u32(r, &f->block_end);
    get_u32(r, &f->segment);
    get_flag(r, &f->command_mode);
    skip(r, FRAME_FILLER);
}

static void get_window(BodyReader* r, TextWindow* t)
{
    get_u16(r, &t->id);
    get_flag(r, &t->active);
    skip(r, WINDOW_FILLER_AFTER_ACTIVE);
    get_i32(r, &t->x);
    get_i32(r, &t->y);
    get_i32(r, &t->w);
    get_i32(r, &t->h);
    get_i32(r, &t->col);
    get_i32(r, &t->row);
    get_u16(r, &t->attribute);
    skip(r, WINDOW_FILLER_AFTER_ATTRIBUTE);
    get_i32(r, &t->cols);
    get_i32(r, &t->rows);
    for (int i = 0; i < WINDOW_SPARE_WORDS; i++)
        get_u32(r, &t->spare[i]);
}

static void get_slot(BodyReader* r, ImageSlot* s)
{
    get_flag(r, &s->sprite_visible);
    skip(r, SLOT_FILLER);
    get_i32(r, &s->x);
    get_i32(r, &s->y);
    get_u32(r, &s->aux0);
    get_u32(r, &s->aux1);
    get_u32(r, &s->aux2);
    get_u32(r, &s->aux3);
    get_i32(r, &s->effect_type);
    get_i32(r, &s->effect_progress);
    get_i32(r, &s->effect_duration);
    get_i32(r, &s->effect_aux);
    get_flag(r, &s->effect_active);
    skip(r, SLOT_FILLER);
}

static void get_fixed_part(BodyReader* r, Engine* e)
{
    get_u32(r, &e->vm_pc);
    get_u32(r, &e->vm_block_end);
    get_u32(r, &e->vm_segment);
    get_i32(r, &e->vm_depth);
    for (VmFrame& frame : e->vm_stack)
        get_frame(r, &frame);
    get_flag(r, &e->vm_leave);
    get_flag(r, &e->vm_command_mode);
    get_flag(r, &e->vm_blocked);
    get_flag(r, &e->spare_flag);
    get_flag(r, &e->vm_halfwidth_toggle);
    get_flag(r, &e->choice_active);
    get_flag(r, &e->palette_changed);
    skip(r, FLAGS_ZERO);
    get_u32(r, &e->vm_next_segment);
    get_i32(r, &e->vm_restart_segment);
    get_i32(r, &e->spare_int);
    get_i32(r, &e->wait_frames);
    get_i32(r, &e->choice_cursor);
    get_i32(r, &e->choice_result);
    get_u32(r, &e->spare_vm_word);
    skip(r, WORDS_ZERO);
    for (int32_t& var : e->vm_vars)
        get_i32(r, &var);
    get_u16(r, &e->text_cursor_x);
    get_u16(r, &e->text_cursor_y);
    get_u8(r, &e->spare_byte);
    for (uint32_t& colour : e->palette)
        get_u32(r, &colour);
    get_u32(r, &e->palette_spare);
    get_u16(r, &e->spare_word);
    get_bytes(r, e->tint, TINT_CHANNELS);
    get_u16(r, &e->image_text_x);
    get_u16(r, &e->image_text_y);
    get_u16(r, &e->bgm_track);
    get_i32(r, &e->placed_image_slot);
    get_i32(r, &e->current_image);
    get_i32(r, &e->blit_x8);
    get_i32(r, &e->blit_y2);
    for (uint32_t& value : e->menu_layout)
        get_u32(r, &value);
    get_u8(r, &e->menu_layout_set);
    skip(r, MENU_LAYOUT_FILLER);
    for (uint32_t& id : e->choice_ids)
        get_u32(r, &id);
    get_i32(r, &e->choice_count);
    get_i32(r, &e->choice_x);
    get_i32(r, &e->choice_y);
    for (TextWindow& window : e->text_windows)
        get_window(r, &window);
    for (auto& plane : e->vram_planes)
        get_bytes(r, plane, VRAM_PLANE_BYTES);
    get_bytes(r, e->vram_aux, VRAM_AUX_BYTES);
    for (ImageSlot& slot : e->image_slots)
        get_slot(r, &slot);
}

// A layer block of another size is passed over so the canvas after it can
// still be found. Returns the pixels when the block is of the expected size.
// A block larger than any length the file can state is damage: *damaged.
static const uint8_t* get_layer(BodyReader* r, uint8_t hd_mode, bool* can_follow, bool* damaged)
{
    *can_follow = false;
    if (r->length - r->at < SAVE_IMAGE_HEADER_BYTES)
        return nullptr;
    const uint64_t w = save_get_u32(r->data + r->at);
    const uint64_t h = save_get_u32(r->data + r->at + 4);
    r->at += SAVE_IMAGE_HEADER_BYTES;
    // Both below 2^32, so the pixel count cannot wrap in 64 bits; the byte
    // count could, so it is only formed once it fits the 32-bit lengths.
    const uint64_t pixels_count = w * h;
    if (pixels_count > UINT32_MAX / SAVE_PIXEL_BYTES) {
        *damaged = true;
        return nullptr;
    }
    const uint64_t bytes = pixels_count * SAVE_PIXEL_BYTES;
    const uint64_t remaining = r->length - r->at;
    if (bytes > remaining)
        return nullptr;
    const uint8_t* pixels = r->data + r->at;
    r->at += static_cast<size_t>(bytes);
    *can_follow = true;
    const bool expected = w == static_cast<uint64_t>(save_layer_width(hd_mode)) &&
                          h == static_cast<uint64_t>(save_layer_height(hd_mode));
    return expected ? pixels : nullptr;
}

static bool position_in_code(const Engine* e, uint32_t pc) { return pc <= e->code_size; }

static bool values_in_range(const Engine* e)
{
    if (e->vm_depth < 0 || e->vm_depth > VM_STACK_DEPTH)
        return false;
    if (e->vm_segment >= VM_SEGMENT_COUNT || !position_in_code(e, e->vm_pc) ||
        !position_in_code(e, e->vm_block_end))
        return false;
    for (int i = 0; i < e->vm_depth; i++) {
        const VmFrame& f = e->vm_stack[i];
        if (f.segment >= VM_SEGMENT_COUNT || !position_in_code(e, f.resume_pc) ||
            !position_in_code(e, f.block_end))
            return false;
    }
    if (e->choice_count < 0 || e->choice_count > MENU_MAX_CHOICES)
        return false;
    for (const TextWindow& window : e->text_windows) {
        if (window.id >= TEXT_WINDOW_COUNT || !vm_window_fits_layer(&window))
            return false;
    }
    return true;
}

bool save_body_decode(const uint8_t* body, size_t length, Engine* engine, SaveBodyLayers* layers)
{
    layers->text_pixels = nullptr;
    layers->canvas_pixels = nullptr;
    BodyReader r = {body, length, 0, true};
    get_fixed_part(&r, engine);
    if (!r.ok || !values_in_range(engine))
        return false;
    bool can_follow = false;
    bool damaged = false;
    layers->text_pixels = get_layer(&r, engine->hd_mode, &can_follow, &damaged);
    if (can_follow)
        layers->canvas_pixels = get_layer(&r, engine->hd_mode, &can_follow, &damaged);
    return !damaged;
}

void save_pixels_unpack(const uint8_t* stored, uint32_t* out, size_t count)
{
    for (size_t i = 0; i < count; i++)
        out[i] = save_get_u32(stored + SAVE_PIXEL_BYTES * i);
}
