// Real SDL events pushed into the queue, addressed to a window, for tests of
// the event handler and of everything that runs it.
#pragma once

#include <cstdint>

struct SDL_Window;

void push_key(SDL_Window* window, int32_t sym);
void push_motion(SDL_Window* window, int32_t x, int32_t y);
void push_button(SDL_Window* window, int32_t x, int32_t y, uint8_t button = 1);  // 1: left
void push_wheel(SDL_Window* window, int32_t y);
// A window event (SDL_WINDOWEVENT_*) with its two data values.
void push_window_event(SDL_Window* window, uint8_t kind, int32_t data1 = 0, int32_t data2 = 0);
// An event with nothing but its type (SDL_QUIT, SDL_RENDER_TARGETS_RESET...).
void push_plain(uint32_t type);
// Drops whatever is queued.
void drain_events();
