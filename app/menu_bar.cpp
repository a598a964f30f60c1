// The menu bar drawn inside the window: it appears while the pointer rests at
// the top edge or after F10, opens drop-down menus and submenus, and hands a
// chosen item to the event handler as the menu command event. Layout works in
// 640x400 screen units; drawing multiplies by the display scale.
#include "app.h"
#include "screen.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

constexpr int32_t BAR_LEFT = 4;
constexpr int32_t TITLE_PADDING = 8;         // either side of a title
constexpr int32_t ITEM_HEIGHT = 18;
constexpr int32_t SEPARATOR_HEIGHT = 8;
constexpr int32_t MENU_PADDING = 2;          // above the first and below the last item
constexpr int32_t CHECK_COLUMN = 20;         // left of the labels
constexpr int32_t KEY_GAP = 24;              // between a label and its key name
constexpr int32_t ARROW_COLUMN = 24;         // right of the labels
constexpr int32_t ARROW_INSET = 4;          // the arrow's gap from the labels
constexpr int32_t TEXT_DROP = 1;             // text's offset inside an item
constexpr int32_t TITLE_TEXT_DROP = 2;

constexpr uint32_t COLOUR_FACE = 0xF0F0F0;
constexpr uint32_t COLOUR_BORDER = 0xA0A0A0;
constexpr uint32_t COLOUR_TEXT = 0x000000;
constexpr uint32_t COLOUR_GREYED = 0x8C8C8C;
constexpr uint32_t COLOUR_HIGHLIGHT = 0x0078D7;
constexpr uint32_t COLOUR_HIGHLIGHT_TEXT = 0xFFFFFF;
constexpr uint32_t COLOUR_SEPARATOR = 0xC8C8C8;

// The check mark and the submenu arrow in the font's Shift-JIS set.
static const char CHECK_MARK[] = "\x81\xe3";
static const char SUBMENU_ARROW[] = "\x81\xa8";

struct Box {
    int32_t x, y, w, h;
};

static bool box_contains(const Box& box, int32_t x, int32_t y)
{
    return x >= box.x && x < box.x + box.w && y >= box.y && y < box.y + box.h;
}

static int32_t text_width(const char* text)
{
    return static_cast<int32_t>(strlen(text)) * FONT_HALF_WIDTH;
}

// Splits a label at its tab into the label proper and the key name.
static void split_label(const char* label, char* left, char* key, size_t capacity)
{
    const char* tab = strchr(label, '\t');
    if (!tab) {
        snprintf(left, capacity, "%s", label);
        key[0] = '\0';
        return;
    }
    snprintf(left, capacity, "%.*s", static_cast<int>(tab - label), label);
    snprintf(key, capacity, "%s", tab + 1);
}

static Box title_box(const MenuBar& bar, int32_t menu)
{
    int32_t x = BAR_LEFT;
    for (int32_t i = 0; i < menu; i++)
        x += text_width(bar.menus[i].title) + 2 * TITLE_PADDING;
    const char* title = bar.menus[menu].title;
    return {x, 0, text_width(title) + 2 * TITLE_PADDING, MENU_BAR_HEIGHT};
}

static int32_t item_height(const MenuItem& item)
{
    return item.kind == MENU_ITEM_SEPARATOR ? SEPARATOR_HEIGHT : ITEM_HEIGHT;
}

static int32_t menu_width(const Menu& menu)
{
    int32_t labels = 0, keys = 0;
    for (int32_t i = 0; i < menu.count; i++) {
        char left[MENU_LABEL_CAPACITY], key[MENU_LABEL_CAPACITY];
        split_label(menu.items[i].label, left, key, sizeof left);
        int32_t w = text_width(left);
        int32_t k = key[0] ? text_width(key) + KEY_GAP : 0;
        labels = w > labels ? w : labels;
        keys = k > keys ? k : keys;
    }
    return CHECK_COLUMN + labels + keys + ARROW_COLUMN;
}

static int32_t menu_height(const Menu& menu)
{
    int32_t h = 2 * MENU_PADDING;
    for (int32_t i = 0; i < menu.count; i++)
        h += item_height(menu.items[i]);
    return h;
}

static Box item_box(const Box& menu_box, const Menu& menu, int32_t index)
{
    int32_t y = menu_box.y + MENU_PADDING;
    for (int32_t i = 0; i < index; i++)
        y += item_height(menu.items[i]);
    return {menu_box.x, y, menu_box.w, item_height(menu.items[index])};
}

static Box open_menu_box(const MenuBar& bar)
{
    const Menu& menu = bar.menus[bar.open];
    const Box title = title_box(bar, bar.open);
    return {title.x, MENU_BAR_HEIGHT, menu_width(menu), menu_height(menu)};
}

// The open submenu lies right of the item that opened it, level with it.
static Box open_sub_box(const MenuBar& bar)
{
    const Box parent = open_menu_box(bar);
    const Menu& menu = bar.menus[bar.open];
    int32_t top = parent.y;
    for (int32_t i = 0; i < menu.count; i++)
        if (menu.items[i].kind == MENU_ITEM_SUBMENU && menu.items[i].submenu == bar.open_sub)
            top = item_box(parent, menu, i).y - MENU_PADDING;
    const Menu& sub = bar.menus[bar.open_sub];
    return {parent.x + parent.w, top, menu_width(sub), menu_height(sub)};
}

static int32_t item_at(const Box& box, const Menu& menu, int32_t x, int32_t y)
{
    for (int32_t i = 0; i < menu.count; i++)
        if (box_contains(item_box(box, menu, i), x, y))
            return i;
    return MENU_NONE;
}

MenuHit menu_bar_hit(const MenuBar& bar, int32_t x, int32_t y)
{
    if (!bar.built || !bar.visible)
        return {MENU_NONE, MENU_NONE};
    if (bar.open != MENU_NONE && bar.open_sub != MENU_NONE) {
        const Box box = open_sub_box(bar);
        if (box_contains(box, x, y))
            return {bar.open_sub, item_at(box, bar.menus[bar.open_sub], x, y)};
    }
    if (bar.open != MENU_NONE) {
        const Box box = open_menu_box(bar);
        if (box_contains(box, x, y))
            return {bar.open, item_at(box, bar.menus[bar.open], x, y)};
    }
    for (int32_t i = 0; i < MENU_BAR_MENUS; i++)
        if (box_contains(title_box(bar, i), x, y))
            return {i, MENU_NONE};
    return {MENU_NONE, MENU_NONE};
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

static void close_menus(MenuBar* bar)
{
    bar->open = bar->highlight = MENU_NONE;
    bar->open_sub = bar->sub_highlight = MENU_NONE;
}

static bool selectable(const MenuItem& item)
{
    return item.kind != MENU_ITEM_SEPARATOR;
}

static int32_t step_highlight(const Menu& menu, int32_t from, int32_t step)
{
    if (menu.count == 0)
        return MENU_NONE;
    int32_t index = from;
    for (int32_t tries = 0; tries < menu.count; tries++) {
        index = index == MENU_NONE ? (step > 0 ? 0 : menu.count - 1)
                                   : (index + step + menu.count) % menu.count;
        if (selectable(menu.items[index]))
            return index;
    }
    return MENU_NONE;
}

static void open_menu(MenuBar* bar, int32_t menu)
{
    close_menus(bar);
    bar->visible = 1;
    bar->open = menu;
}

static void choose(Engine* engine, MenuBar* bar, const MenuItem& item)
{
    close_menus(bar);
    bar->visible = 0;
    SDL_Event event;
    SDL_zero(event);
    event.type = app_menu_event_type();
    event.user.code = item.id;
    event.user.windowID = engine->window ? SDL_GetWindowID(engine->window) : 0;
    SDL_PushEvent(&event);
}

// An item taken by click or Enter: a command runs, a submenu opens, a
// separator or greyed item does nothing.
static void activate(Engine* engine, MenuBar* bar, int32_t menu, int32_t index)
{
    if (index == MENU_NONE)
        return;
    const MenuItem& item = bar->menus[menu].items[index];
    if (item.kind == MENU_ITEM_SUBMENU && menu == bar->open) {
        bar->open_sub = item.submenu;
        bar->sub_highlight = step_highlight(bar->menus[item.submenu], MENU_NONE, 1);
    } else if (item.kind == MENU_ITEM_COMMAND && item.enabled) {
        choose(engine, bar, item);
    }
}

static void point_at(MenuBar* bar, const MenuHit& hit)
{
    if (hit.menu == MENU_NONE)
        return;
    if (hit.item == MENU_NONE) {
        if (hit.menu != bar->open)
            open_menu(bar, hit.menu);
        return;
    }
    if (hit.menu == bar->open_sub) {
        bar->sub_highlight = hit.item;
        return;
    }
    bar->highlight = hit.item;
    const MenuItem& item = bar->menus[hit.menu].items[hit.item];
    if (item.kind == MENU_ITEM_SUBMENU) {
        if (bar->open_sub != item.submenu) {
            bar->open_sub = item.submenu;
            bar->sub_highlight = MENU_NONE;
        }
    } else {
        bar->open_sub = bar->sub_highlight = MENU_NONE;
    }
}

static void handle_menu_key(Engine* engine, MenuBar* bar, SDL_Keycode key)
{
    const bool in_sub = bar->open_sub != MENU_NONE && bar->sub_highlight != MENU_NONE;
    const int32_t menu = in_sub ? bar->open_sub : bar->open;
    int32_t* highlight = in_sub ? &bar->sub_highlight : &bar->highlight;
    switch (key) {
    case SDLK_ESCAPE:
        if (bar->open_sub != MENU_NONE) {
            bar->open_sub = bar->sub_highlight = MENU_NONE;
        } else {
            close_menus(bar);
            bar->visible = 0;
        }
        return;
    case SDLK_UP:
    case SDLK_DOWN:
        *highlight = step_highlight(bar->menus[menu], *highlight, key == SDLK_DOWN ? 1 : -1);
        return;
    case SDLK_LEFT:
        if (in_sub) {
            bar->open_sub = bar->sub_highlight = MENU_NONE;
            return;
        }
        open_menu(bar, (bar->open + MENU_BAR_MENUS - 1) % MENU_BAR_MENUS);
        bar->highlight = step_highlight(bar->menus[bar->open], MENU_NONE, 1);
        return;
    case SDLK_RIGHT:
        if (!in_sub && bar->highlight != MENU_NONE &&
            bar->menus[bar->open].items[bar->highlight].kind == MENU_ITEM_SUBMENU) {
            activate(engine, bar, bar->open, bar->highlight);
            return;
        }
        open_menu(bar, (bar->open + 1) % MENU_BAR_MENUS);
        bar->highlight = step_highlight(bar->menus[bar->open], MENU_NONE, 1);
        return;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
    case SDLK_SPACE:
        activate(engine, bar, menu, *highlight);
        return;
    default:
        return;
    }
}

// The pointer in screen units, from the logical coordinates SDL reports.
static void to_units(const Engine* engine, int32_t x, int32_t y, int32_t* ux, int32_t* uy)
{
    const int32_t scale = engine_scale(engine);
    *ux = x / scale;
    *uy = y / scale;
}

bool menu_bar_handle_event(Engine* engine, const SDL_Event& event)
{
    MenuBar* bar = &g_menu_bar;
    if (!bar->built)
        return false;
    const bool open = bar->open != MENU_NONE;
    int32_t x = 0, y = 0;
    switch (event.type) {
    case SDL_KEYDOWN:
        if (event.key.keysym.sym == SDLK_F10) {
            if (open) {
                close_menus(bar);
                bar->visible = 0;
            } else {
                open_menu(bar, MENU_FILE);
                bar->highlight = step_highlight(bar->menus[MENU_FILE], MENU_NONE, 1);
            }
            return true;
        }
        if (open)
            handle_menu_key(engine, bar, event.key.keysym.sym);
        return open;
    case SDL_MOUSEMOTION:
        to_units(engine, event.motion.x, event.motion.y, &x, &y);
        if (!bar->visible && y < MENU_REVEAL_EDGE)
            bar->visible = 1;
        if (!bar->visible)
            return false;
        if (!open && y >= MENU_BAR_HEIGHT) {
            bar->visible = 0;
            return false;
        }
        if (open)
            point_at(bar, menu_bar_hit(*bar, x, y));
        // Whatever shape a choice under the bar gave the pointer, over the
        // bar and its menus it is the arrow.
        SDL_SetCursor(g_cursor_arrow);
        return true;
    case SDL_MOUSEBUTTONDOWN: {
        if (!bar->visible)
            return false;
        to_units(engine, event.button.x, event.button.y, &x, &y);
        const MenuHit hit = menu_bar_hit(*bar, x, y);
        if (hit.menu == MENU_NONE) {
            // A click outside closes the menus and is not passed on.
            close_menus(bar);
            return open;
        }
        if (event.button.button != SDL_BUTTON_LEFT)
            return true;
        if (hit.item == MENU_NONE) {
            if (hit.menu == bar->open)
                close_menus(bar);
            else
                open_menu(bar, hit.menu);
            return true;
        }
        point_at(bar, hit);
        activate(engine, bar, hit.menu, hit.item);
        return true;
    }
    case SDL_WINDOWEVENT:
        // A bar the pointer showed goes when the pointer leaves the window
        // (on its way to the title bar); an open menu stays until closed.
        if (event.window.event == SDL_WINDOWEVENT_LEAVE && !open)
            bar->visible = 0;
        return false;
    case SDL_KEYUP:
    case SDL_MOUSEBUTTONUP:
    case SDL_MOUSEWHEEL:
    case SDL_TEXTINPUT:
        return open;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

static void fill(SDL_Renderer* renderer, const Box& box, uint32_t colour, int32_t scale)
{
    SDL_SetRenderDrawColor(renderer, (colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF,
                           SDL_ALPHA_OPAQUE);
    const SDL_Rect rect = {box.x * scale, box.y * scale, box.w * scale, box.h * scale};
    SDL_RenderFillRect(renderer, &rect);
}

static void frame(SDL_Renderer* renderer, const Box& box, int32_t scale)
{
    fill(renderer, box, COLOUR_BORDER, scale);
    fill(renderer, {box.x + 1, box.y + 1, box.w - 2, box.h - 2}, COLOUR_FACE, scale);
}

static void text(SDL_Renderer* renderer, int32_t x, int32_t y, const char* s, uint32_t colour,
                 int32_t scale)
{
    font_draw_string(renderer, x * scale, y * scale, s, colour);
}

static void draw_menu(SDL_Renderer* renderer, const Menu& menu, const Box& box,
                      int32_t highlight, int32_t scale)
{
    frame(renderer, box, scale);
    for (int32_t i = 0; i < menu.count; i++) {
        const MenuItem& item = menu.items[i];
        const Box row = item_box(box, menu, i);
        if (item.kind == MENU_ITEM_SEPARATOR) {
            fill(renderer, {row.x + 2, row.y + row.h / 2, row.w - 4, 1}, COLOUR_SEPARATOR, scale);
            continue;
        }
        const bool lit = i == highlight;
        if (lit)
            fill(renderer, {row.x + 1, row.y, row.w - 2, row.h}, COLOUR_HIGHLIGHT, scale);
        const uint32_t colour =
            !item.enabled ? COLOUR_GREYED : lit ? COLOUR_HIGHLIGHT_TEXT : COLOUR_TEXT;
        const int32_t ty = row.y + TEXT_DROP;
        if (item.checked)
            text(renderer, row.x + 2, ty, CHECK_MARK, colour, scale);
        char left[MENU_LABEL_CAPACITY], key[MENU_LABEL_CAPACITY];
        split_label(item.label, left, key, sizeof left);
        text(renderer, row.x + CHECK_COLUMN, ty, left, colour, scale);
        const int32_t right = row.x + row.w - ARROW_COLUMN;
        if (key[0])
            text(renderer, right - text_width(key), ty, key, colour, scale);
        if (item.kind == MENU_ITEM_SUBMENU)
            text(renderer, right + ARROW_INSET, ty, SUBMENU_ARROW, colour, scale);
    }
}

void menu_bar_draw(Engine* engine)
{
    const MenuBar& bar = g_menu_bar;
    SDL_Renderer* renderer = engine->renderer;
    if (!renderer || !bar.built || !bar.visible)
        return;
    const int32_t scale = engine_scale(engine);
    fill(renderer, {0, 0, SCREEN_WIDTH, MENU_BAR_HEIGHT}, COLOUR_FACE, scale);
    fill(renderer, {0, MENU_BAR_HEIGHT - 1, SCREEN_WIDTH, 1}, COLOUR_BORDER, scale);
    for (int32_t i = 0; i < MENU_BAR_MENUS; i++) {
        const Box title = title_box(bar, i);
        const bool lit = i == bar.open;
        if (lit)
            fill(renderer, title, COLOUR_HIGHLIGHT, scale);
        text(renderer, title.x + TITLE_PADDING, title.y + TITLE_TEXT_DROP, bar.menus[i].title,
             lit ? COLOUR_HIGHLIGHT_TEXT : COLOUR_TEXT, scale);
    }
    if (bar.open == MENU_NONE)
        return;
    draw_menu(renderer, bar.menus[bar.open], open_menu_box(bar), bar.highlight, scale);
    if (bar.open_sub != MENU_NONE)
        draw_menu(renderer, bar.menus[bar.open_sub], open_sub_box(bar), bar.sub_highlight, scale);
}
