// The save body decoder on arbitrary bytes, into an Engine in its start-up
// state with a small scenario. A body it accepts must leave every value that
// indexes a table inside it, and layer pointers inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "../save/save_private.h"
#include "engine.h"

constexpr uint32_t FUZZ_CODE_SIZE = 4096;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine* engine = static_cast<Engine*>(malloc(sizeof(Engine)));
    if (!engine || size == 0)
        return 0;
    engine_init(engine, data[0] & 1);
    engine->code_size = FUZZ_CODE_SIZE;
    SaveBodyLayers layers;
    if (!save_body_decode(data + 1, size - 1, engine, &layers))
        return 0;
    const bool ranges = engine->vm_depth >= 0 && engine->vm_depth <= VM_STACK_DEPTH &&
                        engine->vm_segment < VM_SEGMENT_COUNT &&
                        engine->choice_count >= 0 && engine->choice_count <= MENU_MAX_CHOICES &&
                        engine->vm_pc <= FUZZ_CODE_SIZE;
    const size_t layer_bytes = SAVE_PIXEL_BYTES * static_cast<size_t>(save_layer_width(engine->hd_mode)) *
                               static_cast<size_t>(save_layer_height(engine->hd_mode));
    const uint8_t* end = data + size;
    const bool text_inside = !layers.text_pixels || layers.text_pixels + layer_bytes <= end;
    const bool canvas_inside = !layers.canvas_pixels || layers.canvas_pixels + layer_bytes <= end;
    const bool flags = engine->vm_leave <= 1 && engine->choice_active <= 1;
    if (!ranges || !text_inside || !canvas_inside || !flags)
        __builtin_trap();
    return 0;
}
