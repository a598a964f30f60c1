// The audio device and the operations that control it.
#include "music.h"

#include "bgm_private.h"
#include "platform.h"

#include <SDL.h>

#include <cstdio>

BgmState g_bgm;

namespace {

// Where a loose music folder may sit relative to the working directory. Only
// reported: music is always read from the archives.
constexpr const char* BGM_PROBE_DIRS[] = {
    "assets/bgm", "../../assets/bgm", "../assets/bgm", "bgm", "../../bgm", "../bgm",
};
constexpr const char* BGM_PROBE_FILE = "bgm5_intro.ogg";
constexpr size_t BGM_PROBE_PATH_CAPACITY = 256;

const char* on_off(uint8_t on)
{
    return on ? "ON" : "OFF";
}

void bgm_probe_folder()
{
    for (const char* dir : BGM_PROBE_DIRS) {
        char path[BGM_PROBE_PATH_CAPACITY];
        snprintf(path, sizeof path, "%s/%s", dir, BGM_PROBE_FILE);
        FILE* file = plat_open_regular_file(path);
        if (file != nullptr) {
            fclose(file);
            printf("[BGM] Found bgm directory at: %s\n", dir);
            return;
        }
    }
}

}  // namespace

void bgm_tear_down_locked()
{
    bgm_close_ogg(g_bgm.intro_decoder, g_bgm.intro_ogg);
    g_bgm.intro_decoder = nullptr;
    g_bgm.intro_ogg = nullptr;
    bgm_close_ogg(g_bgm.loop_decoder, g_bgm.loop_ogg);
    g_bgm.loop_decoder = nullptr;
    g_bgm.loop_ogg = nullptr;
    g_bgm.state = BGM_STATE_STOPPED;
}

void bgm_init()
{
    if (g_bgm.device != 0) {
        return;
    }
    bgm_probe_folder();

    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = BGM_OUTPUT_RATE;
    want.format = AUDIO_S16LSB;
    want.channels = BGM_OUTPUT_CHANNELS;
    want.samples = BGM_OUTPUT_BUFFER_FRAMES;
    want.callback = bgm_audio_callback;
    want.userdata = nullptr;
    SDL_AudioSpec have;
    SDL_zero(have);
    // No changes allowed: SDL converts to whatever the hardware wants.
    g_bgm.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (g_bgm.device == 0) {
        printf("[BGM] Failed to open audio device: %s\n", SDL_GetError());
        return;
    }
    printf("[BGM] Audio device opened: %d Hz, %d ch, %d samples\n", have.freq, have.channels, have.samples);
    SDL_PauseAudioDevice(g_bgm.device, 0);
}

void bgm_stop()
{
    if (g_bgm.device == 0) {
        return;
    }
    SDL_LockAudioDevice(g_bgm.device);
    bgm_tear_down_locked();
    SDL_UnlockAudioDevice(g_bgm.device);
    printf("[BGM] Stopped\n");
}

void bgm_pause()
{
    if (g_bgm.device == 0) {
        return;
    }
    SDL_PauseAudioDevice(g_bgm.device, 1);
    printf("[BGM] Paused\n");
}

void bgm_resume()
{
    if (g_bgm.device == 0) {
        return;
    }
    SDL_PauseAudioDevice(g_bgm.device, 0);
    printf("[BGM] Resumed\n");
}

void bgm_set_mute(uint8_t on)
{
    g_bgm.muted.store(on, std::memory_order_relaxed);
    printf("[BGM] Mute: %s\n", on_off(on));
}

void bgm_set_hd(uint8_t on)
{
    g_bgm.hd_music = on;
    printf("[BGM] HD mode: %s\n", on_off(on));
}

void bgm_shutdown()
{
    if (g_bgm.device == 0) {
        return;
    }
    bgm_stop();
    SDL_CloseAudioDevice(g_bgm.device);
    g_bgm.device = 0;
    printf("[BGM] Shutdown\n");
}
