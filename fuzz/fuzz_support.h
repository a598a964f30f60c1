// Set-up shared by the fuzz targets that need a screen, files or game data:
// SDL's software renderer on the dummy video driver (what a machine without
// GL drivers gets, and it refuses no texture size), a scratch folder for the
// files the engine reads, and a base.dat made in memory.
#pragma once

#include "../save/save_private.h"
#include "archive.h"
#include "engine.h"
#include "save.h"
#include "screen.h"
#include "vm.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <system_error>

// One hidden window and its software renderer for the whole run.
static inline SDL_Renderer* fuzz_renderer()
{
    static SDL_Renderer* renderer = [] {
        // A message box about a refused file must not wait for a player.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
        SDL_Window* window = nullptr;
        if (SDL_Init(SDL_INIT_VIDEO) == 0)
            window = SDL_CreateWindow("fuzz", 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT, SDL_WINDOW_HIDDEN);
        SDL_Renderer* made = window ? SDL_CreateRenderer(window, -1,
                                                         SDL_RENDERER_SOFTWARE | SDL_RENDERER_TARGETTEXTURE)
                                    : nullptr;
        if (!made) {
            fprintf(stderr, "fuzz: no software renderer: %s\n", SDL_GetError());
            abort();
        }
        return made;
    }();
    return renderer;
}

// An Engine in its start-up state on the renderer, with a fresh canvas and
// text layer of the mode, as start-up leaves it before the scenario runs.
static inline void fuzz_screen_open(Engine* engine, uint8_t hd)
{
    engine_init(engine, hd);
    SDL_Renderer* renderer = fuzz_renderer();
    const int k = engine_scale(engine);
    SDL_RenderSetLogicalSize(renderer, SCREEN_WIDTH * k, SCREEN_HEIGHT * k);
    engine->renderer = renderer;
    gfx_init_screen(engine);
    text_layer_create(renderer, k);
    vm_reset_text_windows(engine);
}

// Releases what fuzz_screen_open and the run made, so no input inherits it.
static inline void fuzz_screen_close(Engine* engine)
{
    hist_clear(&engine->history);
    if (engine->canvas_texture)
        SDL_DestroyTexture(engine->canvas_texture);
    if (engine->vram_texture)
        SDL_DestroyTexture(engine->vram_texture);
    engine->canvas_texture = nullptr;
    engine->vram_texture = nullptr;
}

// A folder of this run's own under the working directory (CI runs each target
// in a fresh temporary one), made on the first call and removed with its
// contents at exit. The path is absolute and ends in '/'.
static inline const char* fuzz_scratch_dir()
{
    // Kept on the heap so that it outlives the exit handler that removes it.
    static const std::string* folder = [] {
        std::random_device random;
        std::error_code error;
        std::filesystem::path path;
        do {
            path = std::filesystem::current_path() / ("fuzz-scratch-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(path, error) && !error);
        if (error) {
            fprintf(stderr, "fuzz: no scratch folder: %s\n", error.message().c_str());
            abort();
        }
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(fuzz_scratch_dir(), ignored);
        });
        return new std::string(path.string() + "/");
    }();
    return folder->c_str();
}

// The file of save slot 0; the first call makes the scratch folder the save folder.
static inline const char* fuzz_save_slot_path()
{
    static char path[SAVE_PATH_CAPACITY];
    if (!path[0]) {
        save_set_folder(fuzz_scratch_dir());
        save_build_path(0, path, sizeof path);
    }
    return path;
}

static inline void fuzz_write_file(const char* path, const uint8_t* data, size_t size)
{
    FILE* file = fopen(path, "wb");
    if (!file || fwrite(data, 1, size, file) != size) {
        fprintf(stderr, "fuzz: cannot write %s\n", path);
        abort();
    }
    fclose(file);
}

// Opens g_arc_base on a plain archive whose entries, one per name, all hold
// the same bytes.
static inline void fuzz_open_base(std::initializer_list<const char*> names, const uint8_t* data,
                                  size_t size)
{
    constexpr size_t ENTRY_COUNT_AT = 8;
    constexpr size_t ENTRY_SIZE_AT = 56;
    constexpr size_t ENTRY_OFFSET_AT = 60;
    auto put_u32 = [](uint8_t* at, uint32_t value) {
        for (int i = 0; i < 4; i++)
            at[i] = static_cast<uint8_t>(value >> (8 * i));
    };
    const size_t data_at = ARC_HEADER_SIZE + ARC_ENTRY_SIZE * names.size();
    auto* image = static_cast<uint8_t*>(calloc(data_at + size, 1));
    memcpy(image, "KVR1", 4);
    put_u32(image + ENTRY_COUNT_AT, static_cast<uint32_t>(names.size()));
    uint8_t* entry = image + ARC_HEADER_SIZE;
    for (const char* name : names) {
        memcpy(entry, name, strlen(name));
        put_u32(entry + ENTRY_SIZE_AT, static_cast<uint32_t>(size));
        put_u32(entry + ENTRY_OFFSET_AT, static_cast<uint32_t>(data_at));
        entry += ARC_ENTRY_SIZE;
    }
    if (size)
        memcpy(image + data_at, data, size);
    arc_open_image(&g_arc_base, image, data_at + size);
}
