// TEMPORARY: the thumbnail capture's declaration until the captures land on main.
#pragma once

#include <cstdint>

#include "engine.h"

int32_t gfx_capture_thumbnail(Engine* engine, uint8_t** out_png, int32_t* out_size);
