// Arbitrary bytes as the fallback font bitmap FREECG98.BMP: no atlas exists,
// so font set-up reads the bitmap, turns it into a mask and makes the font
// texture; then a few glyphs are drawn from it.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::filesystem::path scratch = fuzz_scratch_dir();
    const std::filesystem::path bitmap = scratch / "FREECG98.BMP";
    fuzz_write_file(bitmap.c_str(), data, size);
    // The loader looks for the bitmap beside the working directory only; the
    // scratch folder is the working directory for the length of the call.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch);
    SDL_Renderer* renderer = fuzz_renderer();
    if (font_init(renderer, 0))
        font_draw_string(renderer, 0, 0, "A~\x82\xa0\x88\x9f\xea\xa4", 0xFFFFFF);
    std::filesystem::current_path(previous);
    std::filesystem::remove(bitmap);
    return 0;
}
