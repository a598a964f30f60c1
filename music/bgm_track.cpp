// Loading a track: finding its files, preferring HD variants, and installing
// the decoders for the audio thread.
#include "music.h"

#include "archive.h"
#include "bgm_private.h"

#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include <SDL.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* BGM_PART_HD = "[HD ]";
constexpr const char* BGM_PART_SD = "[SD ]";
constexpr const char* BGM_PART_NONE = "none";

// One part (intro or loop) of a track while it is being opened.
struct BgmPart {
    stb_vorbis* decoder = nullptr;
    uint8_t* ogg = nullptr;
    const char* source = BGM_PART_NONE;
};

// The record's name as a string even if its field lacks a terminator.
void copy_track_name(char (&dst)[BGM_FILE_NAME_CAPACITY], const char* src)
{
    size_t len = strnlen(src, BGM_FILE_NAME_CAPACITY - 1);
    memcpy(dst, src, len);
    dst[len] = '\0';
}

// bgm/x.ogg has its HD variant at bgm/hd/x.ogg; a name without a folder has none.
void open_hd_variant(const char* name, BgmPart* part)
{
    const char* slash = strchr(name, '/');
    if (slash == nullptr) {
        return;
    }
    char hd_name[BGM_FILE_NAME_CAPACITY];
    snprintf(hd_name, sizeof hd_name, "%.*s/hd%s", static_cast<int>(slash - name), name, slash);
    part->decoder = bgm_open_ogg(hd_name, &part->ogg);
    if (part->decoder != nullptr) {
        part->source = BGM_PART_HD;
    }
}

void open_plain(const char* name, BgmPart* part)
{
    if (part->decoder != nullptr || name[0] == '\0') {
        return;
    }
    part->decoder = bgm_open_ogg(name, &part->ogg);
    if (part->decoder != nullptr) {
        part->source = BGM_PART_SD;
    }
}

}  // namespace

void bgm_play_track(uint32_t id)
{
    if (g_bgm.device == 0) {
        return;
    }
    SDL_LockAudioDevice(g_bgm.device);
    bgm_tear_down_locked();
    SDL_UnlockAudioDevice(g_bgm.device);

    const BgmTrack* track = asset_find_bgm_track(id);
    if (track == nullptr) {
        printf("[BGM] FATAL: no manifest entry for track %d\n", static_cast<int>(id));
        return;
    }
    char intro_name[BGM_FILE_NAME_CAPACITY];
    char loop_name[BGM_FILE_NAME_CAPACITY];
    copy_track_name(intro_name, track->intro);
    copy_track_name(loop_name, track->loop);

    // Files are read and their headers decoded outside the lock, so the audio
    // thread never waits on them.
    BgmPart intro;
    BgmPart loop;
    if (g_bgm.hd_music) {
        if (intro_name[0] != '\0') {
            open_hd_variant(intro_name, &intro);
        }
        if (loop_name[0] != '\0') {
            open_hd_variant(loop_name, &loop);
        }
    }
    open_plain(intro_name, &intro);
    open_plain(loop_name, &loop);

    if (intro.decoder == nullptr && loop.decoder == nullptr) {
        printf("[BGM] FATAL: no BGM files found for track %d\n", static_cast<int>(id));
        return;
    }
    printf("[BGM] Track %d -- intro: %s  loop: %s\n", static_cast<int>(id), intro.source, loop.source);

    SDL_LockAudioDevice(g_bgm.device);
    g_bgm.intro_decoder = intro.decoder;
    g_bgm.intro_ogg = intro.ogg;
    g_bgm.loop_decoder = loop.decoder;
    g_bgm.loop_ogg = loop.ogg;
    if (intro.decoder != nullptr) {
        g_bgm.state = BGM_STATE_INTRO;
    } else {
        g_bgm.state = BGM_STATE_LOOP;
        stb_vorbis_seek_start(loop.decoder);
    }
    SDL_UnlockAudioDevice(g_bgm.device);
}
