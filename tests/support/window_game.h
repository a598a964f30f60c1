// A small game for the whole-program tests in a real window: a plain 640x400
// picture as image 0, a splash, a font atlas that is white ink in every cell
// (so each character drawn is a solid block of its colour), and a scenario.
#pragma once

#include <cstdint>

#include "code_builder.h"
#include "test_support.h"

// Writes base.dat and script.dat into the folder.
void put_window_game(const ScratchDir& dir, const ScenarioBuilder& scenario, uint32_t picture_rgb);
