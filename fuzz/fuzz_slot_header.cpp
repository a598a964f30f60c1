// A save file as the slot screen reads it: its header for the list and its
// thumbnail for the preview. The screen opens in load mode on this one file,
// which it highlights when listed, draws one pass and is closed by Esc.
#include "fuzz_support.h"

// The screen paces each pass with a 16 ms sleep that the fuzzer can do without.
extern "C" void SDL_Delay(Uint32) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = new Engine;
    const char* path = fuzz_save_slot_path();
    fuzz_write_file(path, data, size);
    fuzz_screen_open(engine, 0);
    SDL_Event escape = {};
    escape.type = SDL_KEYDOWN;
    escape.key.keysym.sym = SDLK_ESCAPE;
    SDL_PushEvent(&escape);
    save_slot_screen(engine, SAVE_SLOT_SCREEN_LOAD);
    // A file that is not listed leaves nothing to show, and the Esc untaken.
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    fuzz_screen_close(engine);
    remove(path);
    return 0;
}
