#include "engine.h"

#include <cstring>

void engine_init(Engine* engine, uint8_t hd_mode)
{
    memset(engine, 0, sizeof *engine);
    engine->spare_flag = 1;
    engine->vm_next_segment = VM_NEXT_NONE;
    engine->vm_restart_segment = VM_RESTART_NONE;
    engine->hd_mode = hd_mode;
}
