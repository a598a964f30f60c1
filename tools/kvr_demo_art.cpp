// kvr-demo-art: draws and composes the demo game's pictures and music.
//
//   kvr-demo-art OUTDIR
//
// Writes img/000.png to img/007.png with their HD versions under img/hd/,
// splash.png, and bgm/{title,forest}_{intro,loop}.ogg with HD versions under
// bgm/hd/. The output is the same on every run.

#include "demo_art.h"
#include "demo_music.h"

#include <cstdio>
#include <cstring>
#include <string>

static const char USAGE[] =
    "usage: kvr-demo-art OUTDIR\n"
    "\n"
    "Writes the demo game's pictures (img/, img/hd/, splash.png) and music\n"
    "(bgm/, bgm/hd/) into OUTDIR, creating the folders it needs.\n";

int main(int argc, char** argv)
{
    if (argc == 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (argc != 2) {
        fputs(USAGE, stderr);
        return 2;
    }
    std::string error;
    if (!demo_art_write_all(argv[1], &error) || !demo_music_write_all(argv[1], &error)) {
        fprintf(stderr, "kvr-demo-art: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
