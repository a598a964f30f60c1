// What clean text costs in a window at a size that is no whole multiple of
// the screen: the slot screen's strings in a 1000x625 window showing the
// 640x400 screen, drawn by font_draw_string and, in turns in the same run,
// glyph by glyph as plain copies of the font's cells (text that drops
// columns there), under the GL renderer and the software one.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include "../save/save_private.h"
#include "archive.h"
#include "screen.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WINDOW_W = 1000;
constexpr int WINDOW_H = 625;
constexpr int32_t SAVED_AT = 1700000000;  // a date for the used slots
constexpr int32_t HOUR = 3600;
constexpr uint32_t COLOUR_TITLE = 0x00FFFF;
constexpr uint32_t COLOUR_USED = 0xCCFFCC;
constexpr uint32_t COLOUR_EMPTY = 0x888888;
constexpr uint32_t COLOUR_FOOTER = 0xFFFF00;

struct Line {
    int32_t x, y;
    std::string text;
    uint32_t colour;
};

// What the slot screen writes on a frame in load mode with two slots of
// three used and no thumbnail: its title, the 32 slot lines, the preview's
// three lines and the footer, where it writes them.
std::vector<Line> slot_screen_lines()
{
    const SlotScreenLayout l = slot_screen_layout(0);
    std::vector<Line> lines = {{l.list_left, l.inset, "LOAD GAME", COLOUR_TITLE}};
    for (int32_t slot = 0; slot < SLOT_SCREEN_ROWS * SLOT_SCREEN_COLUMNS; slot++) {
        const bool used = slot % 3 != 2;
        char text[SLOT_LINE_CAPACITY];
        slot_screen_format_line(text, sizeof text, slot, used, SAVED_AT + slot * HOUR);
        lines.push_back({l.list_left + (slot / SLOT_SCREEN_ROWS) * (l.column_width + l.gap) + l.gap,
                         l.list_top + (slot % SLOT_SCREEN_ROWS) * l.row_height + l.inset, text,
                         used ? COLOUR_USED : COLOUR_EMPTY});
    }
    const int32_t below_preview = l.list_top + l.preview_h;
    lines.push_back({l.preview_x + l.preview_w / 2 - 40, l.list_top + l.preview_h / 2 - l.gap, "No preview",
                     COLOUR_EMPTY});
    lines.push_back({l.preview_x, below_preview + 8, "Slot 01", COLOUR_USED});
    lines.push_back({l.preview_x, below_preview + 24, "11/14 22:13", COLOUR_USED});
    lines.push_back({l.list_left, l.list_top + SLOT_SCREEN_ROWS * l.row_height + l.gap, "Enter:Load  Esc:Cancel",
                     COLOUR_FOOTER});
    return lines;
}

// The drawing before strings were made clean: each character one copy of
// its cell, its edges wherever the scale puts them.
void draw_glyph_by_glyph(SDL_Renderer* renderer, const Line& line)
{
    SDL_Texture* font = font_get_texture();
    int32_t x = line.x;
    for (const char c : line.text) {
        const FontCell cell = font_glyph_cell(static_cast<uint8_t>(c), font_get_scale(), font_uses_bitmap_layout());
        const SDL_Rect src = {cell.x, cell.y, cell.w, cell.h};
        const SDL_Rect dst = {x, line.y, cell.w, cell.h};
        SDL_SetTextureColorMod(font, (line.colour >> 16) & 0xFF, (line.colour >> 8) & 0xFF, line.colour & 0xFF);
        SDL_RenderCopy(renderer, font, &src, &dst);
        x += cell.w;
    }
}

void draw_clean(SDL_Renderer* renderer, const Line& line)
{
    font_draw_string(renderer, line.x, line.y, line.text.c_str(), line.colour);
}

// One frame of the lines drawn one way, waited for: reading a pixel back
// makes the renderer finish the frame's work before it is presented.
void draw_frame(SDL_Renderer* renderer, const std::vector<Line>& lines,
                void (*draw)(SDL_Renderer*, const Line&))
{
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderClear(renderer);
    for (const Line& line : lines)
        draw(renderer, line);
    uint32_t pixel = 0;
    const SDL_Rect one = {0, 0, 1, 1};
    SDL_RenderReadPixels(renderer, &one, SDL_PIXELFORMAT_RGBA8888, &pixel, sizeof pixel);
    SDL_RenderPresent(renderer);
}

// A window of WINDOW_W x WINDOW_H showing the 640x400 screen, kept for the
// whole run: the font's textures belong to its renderer.
SDL_Renderer* window_renderer(bool software)
{
    static SDL_Renderer* renderers[2] = {};
    SDL_Renderer*& renderer = renderers[software];
    if (renderer)
        return renderer;
    SDL_Window* window = SDL_CreateWindow("bench", 0, 0, WINDOW_W, WINDOW_H, SDL_WINDOW_HIDDEN);
    if (!window)
        return nullptr;
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, software ? "software" : "opengl");
    renderer = SDL_CreateRenderer(window, -1, software ? SDL_RENDERER_SOFTWARE : SDL_RENDERER_ACCELERATED);
    if (renderer)
        SDL_RenderSetLogicalSize(renderer, SCREEN_WIDTH, SCREEN_HEIGHT);
    return renderer;
}

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpu_ms_since(std::clock_t start)
{
    return 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

void BM_SlotScreenStrings(benchmark::State& state, bool software)
{
    SDL_Renderer* renderer = window_renderer(software);
    if (!renderer) {
        state.SkipWithError(SDL_GetError());
        return;
    }
    if (!font_init(renderer, 0)) {
        state.SkipWithError("no font: build the demo target first");
        return;
    }
    const std::vector<Line> lines = slot_screen_lines();
    double ms[2] = {};
    double cpu_ms[2] = {};
    bool clean_first = false;
    for (auto _ : state) {
        // Each goes first in turn, so neither always follows the other's present.
        clean_first = !clean_first;
        for (const bool clean : {clean_first, !clean_first}) {
            const Clock::time_point start = Clock::now();
            const std::clock_t cpu_start = std::clock();
            draw_frame(renderer, lines, clean ? draw_clean : draw_glyph_by_glyph);
            ms[clean] += ms_since(start);
            cpu_ms[clean] += cpu_ms_since(cpu_start);
        }
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["glyphs_ms"] = ms[false] / frames;
    state.counters["clean_ms"] = ms[true] / frames;
    state.counters["ratio"] = ms[true] / ms[false];
    state.counters["glyphs_cpu_ms"] = cpu_ms[false] / frames;
    state.counters["clean_cpu_ms"] = cpu_ms[true] / frames;
    state.counters["cpu_ratio"] = cpu_ms[true] / cpu_ms[false];
    state.counters["strings"] = static_cast<double>(lines.size());
}
BENCHMARK_CAPTURE(BM_SlotScreenStrings, gl, false)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK_CAPTURE(BM_SlotScreenStrings, software, true)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

int main(int argc, char** argv)
{
    // The offscreen driver gives the GL renderer without a display, as the
    // tests run; SDL_VIDEODRIVER in the environment still wins.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "%s\n", SDL_GetError());
        return 1;
    }
    arc_open(&g_arc_base, KAVREL_DEMO_DIR "/game/base.dat");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SDL_Quit();
    return 0;
}
