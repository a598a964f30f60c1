// Saved games are not built yet: the slot screen answers as a cancelled one
// does, and every write and load fails.
#include "save.h"

int32_t save_slot_screen(Engine*, int32_t)
{
    return SAVE_SLOT_NONE;
}

int32_t save_write_slot(Engine*, int32_t, const uint8_t*, int32_t)
{
    return SAVE_RESULT_FAILED;
}

int32_t save_load_slot(Engine*, int32_t)
{
    return SAVE_RESULT_FAILED;
}
