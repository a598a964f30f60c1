// Draws the demo game's pictures and its splash card: procedural scenes in a
// small palette with ordered dithering, in the manner of 16-colour displays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int DEMO_ART_PICTURE_COUNT = 8;
constexpr int DEMO_ART_HD_SCALE = 2;

struct ArtImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // bytes R, G, B, A
};

// The SD size of picture id 0 to 7 (title, forest, night sky, portrait,
// letter, night lake, hilltop, study); false for another id.
bool demo_art_picture_size(int id, int* width, int* height);

// Picture id drawn at scale 1 (SD) or DEMO_ART_HD_SCALE (HD): the HD picture is
// drawn afresh at its own resolution, not enlarged. Empty for a bad id.
ArtImage demo_art_picture(int id, int scale);

// The 640x400 title card shown while the engine loads.
ArtImage demo_art_splash();

// Writes img/NNN.png, img/hd/NNN.png and splash.png into folder. False with a
// message in *error when a file cannot be written.
bool demo_art_write_all(const std::string& folder, std::string* error);
