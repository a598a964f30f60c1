// manifest.json: the picture list, loaded into the picture slots at start-up,
// and the music table that the music player looks tracks up in.
#include "archive.h"

#include "platform.h"

#include <SDL.h>
#include <cjson/cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

BgmTrack g_bgm_tracks[BGM_TRACK_CAPACITY];
int32_t g_bgm_track_count;

static const char MANIFEST_NAME[] = "manifest.json";
static const char BOX_TITLE[] = "Kavrel Engine";
static const char BOX_TEXT_NO_MANIFEST[] = "manifest.json missing from base.dat";
static const char BOX_TITLE_MISSING_ASSET[] = "Kavrel Engine - Missing Asset";
static const char PICTURE_NAME_FORMAT[] = "img/%03d.png";
static const char HD_PICTURE_NAME_FORMAT[] = "img/hd/%03d.png";
constexpr uint32_t MANIFEST_MAX_IMAGE_ID = IMAGE_SLOT_COUNT - 1;
// The manifest gives y in PC-98 rows of two lines.
constexpr uint32_t MANIFEST_LINES_PER_ROW = 2;
constexpr int EXIT_STATUS_FATAL = 1;

// Limits of a double that truncates into a signed 32-bit integer.
constexpr double INT32_TRUNC_LOW = -2147483649.0;
constexpr double INT32_TRUNC_HIGH = 2147483648.0;

// Truncates toward zero; anything that cannot be read as a 32-bit number
// (missing, not a number, NaN, out of range) gives MANIFEST_NO_NUMBER.
static int32_t manifest_number(const cJSON* object, const char* key)
{
    const cJSON* item = cJSON_GetObjectItem(object, key);
    if (!cJSON_IsNumber(item))
        return MANIFEST_NO_NUMBER;
    double value = item->valuedouble;
    // Written so that NaN fails the test too.
    if (!(value > INT32_TRUNC_LOW && value < INT32_TRUNC_HIGH))
        return MANIFEST_NO_NUMBER;
    return static_cast<int32_t>(value);
}

static void manifest_copy_name(const cJSON* object, const char* key, char* dst)
{
    const cJSON* item = cJSON_GetObjectItem(object, key);
    dst[0] = '\0';
    if (!cJSON_IsString(item) || !item->valuestring)
        return;
    strncpy(dst, item->valuestring, BGM_FILE_NAME_CAPACITY - 1);
    dst[BGM_FILE_NAME_CAPACITY - 1] = '\0';
}

static void manifest_read_images(const cJSON* list, ManifestImage* images, int32_t* image_count)
{
    if (!cJSON_IsArray(list))
        return;
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, list)
    {
        ManifestImage image;
        image.id = manifest_number(element, "id");
        image.x = manifest_number(element, "x");
        image.y = manifest_number(element, "y");
        image.vram = manifest_number(element, "vram");
        // Read as unsigned so that negative and missing ids fall out with the large ones.
        if (static_cast<uint32_t>(image.id) > MANIFEST_MAX_IMAGE_ID)
            continue;
        if (*image_count >= MANIFEST_IMAGE_CAPACITY)
            continue;
        images[(*image_count)++] = image;
    }
}

static void manifest_read_tracks(const cJSON* list, BgmTrack* tracks, int32_t* track_count)
{
    if (!cJSON_IsArray(list))
        return;
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, list)
    {
        if (*track_count >= BGM_TRACK_CAPACITY)
            break;
        BgmTrack* track = &tracks[*track_count];
        // A negative id keeps its bit pattern; the scenario asks for tracks by unsigned id.
        track->id = static_cast<uint32_t>(manifest_number(element, "id"));
        manifest_copy_name(element, "intro", track->intro);
        manifest_copy_name(element, "loop", track->loop);
        (*track_count)++;
    }
}

bool asset_parse_manifest(const uint8_t* text, size_t len, ManifestImage* images,
                          int32_t* image_count, BgmTrack* tracks, int32_t* track_count)
{
    if (len == SIZE_MAX)
        return false;
    // cJSON wants a zero-terminated string; the asset has no terminator.
    char* copy = static_cast<char*>(malloc(len + 1));
    if (!copy)
        return false;
    if (len > 0)
        memcpy(copy, text, len);
    copy[len] = '\0';
    cJSON* root = cJSON_Parse(copy);
    free(copy);
    if (!root)
        return false;

    manifest_read_images(cJSON_GetObjectItem(root, "images"), images, image_count);
    manifest_read_tracks(cJSON_GetObjectItem(root, "bgm"), tracks, track_count);
    cJSON_Delete(root);
    return true;
}

[[noreturn]] static void manifest_fail(SDL_Window* window, const char* title, const char* text)
{
    plat_message_box(window, PLAT_BOX_ERROR, title, text);
    exit(EXIT_STATUS_FATAL);
}

// Loads one picture into a slot's texture fields. A texture replaced by a
// repeated id is no longer reachable, so it goes at once.
static bool manifest_load_picture(const char* name, SDL_Renderer* renderer, SDL_Texture** texture,
                                  int32_t* w, int32_t* h)
{
    SDL_Texture* loaded = nullptr;
    uint32_t loaded_w = 0;
    uint32_t loaded_h = 0;
    if (!img_load_texture(name, renderer, &loaded, &loaded_w, &loaded_h))
        return false;
    if (*texture)
        SDL_DestroyTexture(*texture);
    *texture = loaded;
    *w = static_cast<int32_t>(loaded_w);
    *h = static_cast<int32_t>(loaded_h);
    return true;
}

// Multiplies with 32-bit wrap-around, as the positions have always been
// computed; unsigned arithmetic keeps the wrap well defined.
static int32_t manifest_scale(int32_t value, uint32_t factor)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value) * factor);
}

static void manifest_place_picture(Engine* engine, const ManifestImage* image)
{
    ImageSlot* slot = &engine->image_slots[image->id];
    uint32_t scale = static_cast<uint32_t>(engine_scale(engine));
    char name[ASSET_NAME_CAPACITY];

    snprintf(name, sizeof name, PICTURE_NAME_FORMAT, image->id);
    if (!manifest_load_picture(name, engine->renderer, &slot->tex_sd, &slot->sd_w, &slot->sd_h))
        manifest_fail(engine->window, BOX_TITLE_MISSING_ASSET, name);
    slot->loaded = 1;

    if (engine->hd_mode) {
        snprintf(name, sizeof name, HD_PICTURE_NAME_FORMAT, image->id);
        // The HD picture is optional: without it the SD one is drawn scaled.
        if (manifest_load_picture(name, engine->renderer, &slot->tex_hd, &slot->hd_w, &slot->hd_h))
            slot->hd_loaded = 1;
    }

    slot->vram = image->vram;
    slot->x = manifest_scale(image->x, scale);
    slot->home_x = slot->x;
    slot->y = manifest_scale(image->y, MANIFEST_LINES_PER_ROW * scale);
    slot->home_y = slot->y;
}

void asset_load_manifest(Engine* engine)
{
    arc_open_base_and_hd();

    size_t len = 0;
    uint8_t* text = asset_read_capped(MANIFEST_NAME, MANIFEST_MAX_BYTES, &len);
    // Longer than the tables could use: refused unread, like one that does not parse.
    if (!text && len > MANIFEST_MAX_BYTES)
        return;
    if (!text)
        manifest_fail(engine->window, BOX_TITLE, BOX_TEXT_NO_MANIFEST);

    ManifestImage images[MANIFEST_IMAGE_CAPACITY];
    int32_t image_count = 0;
    bool parsed = asset_parse_manifest(text, len, images, &image_count, g_bgm_tracks,
                                       &g_bgm_track_count);
    free(text);
    // A manifest that does not parse leaves the game without pictures or music, silently.
    if (!parsed)
        return;

    for (int32_t i = 0; i < image_count; i++)
        manifest_place_picture(engine, &images[i]);
}

const BgmTrack* asset_find_bgm_track(uint32_t id)
{
    for (int32_t i = 0; i < g_bgm_track_count && i < BGM_TRACK_CAPACITY; i++) {
        if (g_bgm_tracks[i].id == id)
            return &g_bgm_tracks[i];
    }
    return nullptr;
}
