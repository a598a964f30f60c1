// kvr-font-atlas: builds the engine's two font atlases from a .hex bitmap font.
//
//   kvr-font-atlas OUTDIR [HEXFILE]
//
// Writes OUTDIR/FONT_ATLAS_SD.PNG (2048x1136) and OUTDIR/FONT_ATLAS_GDI.PNG
// (4096x2272). HEXFILE defaults to the unifont package's Japanese glyph file.

#include "font_atlas.h"

#include <cstdio>
#include <cstring>
#include <string>

static const char USAGE[] =
    "usage: kvr-font-atlas OUTDIR [HEXFILE]\n"
    "\n"
    "Writes OUTDIR/FONT_ATLAS_SD.PNG and OUTDIR/FONT_ATLAS_GDI.PNG: the ASCII\n"
    "characters and every JIS X 0208 character (through its Shift-JIS code) drawn\n"
    "from the glyphs of HEXFILE (default /usr/share/unifont/unifont_jp.hex).\n";

int main(int argc, char** argv)
{
    if (argc >= 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (argc < 2 || argc > 3) {
        fputs(USAGE, stderr);
        return 2;
    }
    std::string hex_path = argc == 3 ? argv[2] : FONT_ATLAS_DEFAULT_HEX;
    HexGlyphSet glyphs;
    if (!font_atlas_load_hex(hex_path, &glyphs)) {
        fprintf(stderr, "kvr-font-atlas: cannot read glyphs from %s\n", hex_path.c_str());
        return 1;
    }
    std::string error;
    if (!font_atlas_write(argv[1], glyphs, &error)) {
        fprintf(stderr, "kvr-font-atlas: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
