#include "event_fixture.h"

#include <SDL.h>

static uint32_t id_of(SDL_Window* window)
{
    return window ? SDL_GetWindowID(window) : 0;
}

void push_key(SDL_Window* window, int32_t sym)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = id_of(window);
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = sym;
    SDL_PushEvent(&event);
}

void push_motion(SDL_Window* window, int32_t x, int32_t y)
{
    SDL_Event event{};
    event.type = SDL_MOUSEMOTION;
    event.motion.windowID = id_of(window);
    event.motion.x = x;
    event.motion.y = y;
    SDL_PushEvent(&event);
}

void push_button(SDL_Window* window, int32_t x, int32_t y, uint8_t button)
{
    SDL_Event event{};
    event.type = SDL_MOUSEBUTTONDOWN;
    event.button.windowID = id_of(window);
    event.button.button = button;
    event.button.state = SDL_PRESSED;
    event.button.x = x;
    event.button.y = y;
    SDL_PushEvent(&event);
}

void push_wheel(SDL_Window* window, int32_t y)
{
    SDL_Event event{};
    event.type = SDL_MOUSEWHEEL;
    event.wheel.windowID = id_of(window);
    event.wheel.y = y;
    SDL_PushEvent(&event);
}

void push_window_event(SDL_Window* window, uint8_t kind, int32_t data1, int32_t data2)
{
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = id_of(window);
    event.window.event = kind;
    event.window.data1 = data1;
    event.window.data2 = data2;
    SDL_PushEvent(&event);
}

void push_plain(uint32_t type)
{
    SDL_Event event{};
    event.type = type;
    SDL_PushEvent(&event);
}

void drain_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
    }
}
