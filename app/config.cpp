// config.ini: read once at start-up, rewritten whole whenever a setting changes.
#include "config.h"

#include "platform.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

Config g_config;
char g_config_messages[CFG_MESSAGES_CAPACITY];

// Lines are read in pieces of at most 127 characters; each piece counts as a line.
constexpr size_t CFG_LINE_CAPACITY = 128;

constexpr int32_t CFG_SPEED_DEFAULT = 1;
constexpr int32_t CFG_SPEED_MAX = 3;
constexpr int32_t CFG_WINDOW_UNSET = -1;
constexpr int32_t CFG_SAVED_RECT_UNSET = -1;
constexpr int CFG_DECIMAL = 10;
static const unsigned char CFG_BYTE_ORDER_MARK[] = {0xEF, 0xBB, 0xBF};

static const char CFG_ANTIALIAS_MESSAGE[] =
    "- Antialiasing requires HD Graphics mode and has been disabled.\n";

static void cfg_set_defaults()
{
    memset(&g_config, 0, sizeof g_config);
    g_config.game_speed = CFG_SPEED_DEFAULT;
    g_config.window_x = CFG_WINDOW_UNSET;
    g_config.window_y = CFG_WINDOW_UNSET;
    g_config.window_w = CFG_WINDOW_UNSET;
    g_config.window_h = CFG_WINDOW_UNSET;
    for (int32_t& value : g_config.saved_rect)
        value = CFG_SAVED_RECT_UNSET;
}

// Leading blanks, a sign and the digits up to the first other character, as
// atoi reads them; numbers beyond 32 bits stop at the nearest end of the range
// instead of wrapping.
static int32_t cfg_parse_int(const char* text)
{
    long value = strtol(text, nullptr, CFG_DECIMAL);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

static uint8_t cfg_parse_flag(const char* text)
{
    return cfg_parse_int(text) != 0 ? 1 : 0;
}

// 0 (PC-98) is kept, so a speed chosen in the menu survives a restart; the
// speed tables treat negative rows as Normal, so they are stored as Normal.
static int32_t cfg_parse_speed(const char* text)
{
    int32_t speed = cfg_parse_int(text);
    if (speed < 0)
        return CFG_SPEED_DEFAULT;
    if (speed > CFG_SPEED_MAX)
        return CFG_SPEED_MAX;
    return speed;
}

static void cfg_apply(const char* key, const char* value)
{
    if (strcmp(key, "scale_to_screen") == 0)
        g_config.scale_to_screen = cfg_parse_flag(value);
    else if (strcmp(key, "use_hd_graphics") == 0)
        g_config.use_hd_graphics = cfg_parse_flag(value);
    else if (strcmp(key, "use_scanlines") == 0)
        g_config.use_scanlines = cfg_parse_flag(value);
    else if (strcmp(key, "use_antialiasing") == 0)
        g_config.use_antialiasing = cfg_parse_flag(value);
    else if (strcmp(key, "mute_audio") == 0)
        g_config.mute_audio = cfg_parse_flag(value);
    else if (strcmp(key, "game_speed") == 0)
        g_config.game_speed = cfg_parse_speed(value);
    else if (strcmp(key, "window_x") == 0)
        g_config.window_x = cfg_parse_int(value);
    else if (strcmp(key, "window_y") == 0)
        g_config.window_y = cfg_parse_int(value);
    else if (strcmp(key, "window_w") == 0)
        g_config.window_w = cfg_parse_int(value);
    else if (strcmp(key, "window_h") == 0)
        g_config.window_h = cfg_parse_int(value);
    else if (strcmp(key, "script_lang") == 0)
        snprintf(g_config.script_lang, sizeof g_config.script_lang, "%s", value);
}

// Editors that save UTF-8 may start the file with a byte-order mark, which
// must not become part of the first key. Only the file's first bytes are one,
// and only a stream that can go back to them is looked at.
static void cfg_skip_byte_order_mark(FILE* file)
{
    if (ftell(file) != 0)
        return;
    unsigned char head[sizeof CFG_BYTE_ORDER_MARK];
    if (fread(head, 1, sizeof head, file) != sizeof head || memcmp(head, CFG_BYTE_ORDER_MARK, sizeof head) != 0)
        rewind(file);
}

void cfg_read_stream(FILE* file)
{
    cfg_set_defaults();
    cfg_skip_byte_order_mark(file);
    char line[CFG_LINE_CAPACITY];
    while (fgets(line, sizeof line, file)) {
        size_t length = strlen(line);
        if (length > 0 && line[length - 1] == '\n') {
            line[--length] = '\0';
            // A file written on Windows ends its lines with CR LF, which text
            // mode there reads as a plain line feed.
            if (length > 0 && line[length - 1] == '\r')
                line[--length] = '\0';
        }
        if (line[0] == '\0' || line[0] == '#' || line[0] == ';')
            continue;
        char* equals = strchr(line, '=');
        if (!equals)
            continue;
        *equals = '\0';
        cfg_apply(line, equals + 1);
    }
}

bool cfg_load(const char* path)
{
    FILE* file = plat_open_regular_file(path);
    if (!file) {
        cfg_set_defaults();
        return false;
    }
    cfg_read_stream(file);
    fclose(file);
    return true;
}

static bool cfg_write_stream(FILE* file, void*)
{
    fprintf(file, "; Kavrel Engine Configuration\n");
    fprintf(file, "scale_to_screen=%d\n", g_config.scale_to_screen ? 1 : 0);
    fprintf(file, "use_hd_graphics=%d\n", g_config.use_hd_graphics ? 1 : 0);
    fprintf(file, "use_scanlines=%d\n", g_config.use_scanlines ? 1 : 0);
    fprintf(file, "use_antialiasing=%d\n", g_config.use_antialiasing ? 1 : 0);
    fprintf(file, "mute_audio=%d\n", g_config.mute_audio ? 1 : 0);
    fprintf(file, "game_speed=%d\n", g_config.game_speed);
    fprintf(file, "window_x=%d\n", g_config.window_x);
    fprintf(file, "window_y=%d\n", g_config.window_y);
    fprintf(file, "window_w=%d\n", g_config.window_w);
    fprintf(file, "window_h=%d\n", g_config.window_h);
    // The record may have been filled by hand; never print past its end.
    fprintf(file, "script_lang=%.*s\n", static_cast<int>(strnlen(g_config.script_lang, CFG_LANG_CAPACITY)),
            g_config.script_lang);
    return true;
}

// Through a temporary file wherever the new file keeps all the old one has
// (owner, links, ACLs): a crash while writing never leaves the player with
// half a configuration. Elsewhere it is written in place, as opening it would.
// A config.ini that is no regular file (a FIFO, a link to a device) or that
// is read-only was made so on purpose, and is left as it is; the settings
// then last for this run only.
void cfg_save(const char* path)
{
    plat_replace_file(path, cfg_write_stream, nullptr);
}

static void cfg_append_message(const char* line)
{
    size_t used = strlen(g_config_messages);
    snprintf(g_config_messages + used, sizeof g_config_messages - used, "%s", line);
}

const char* cfg_validate()
{
    g_config_messages[0] = '\0';
    if (g_config.use_antialiasing && !g_config.use_hd_graphics) {
        g_config.use_antialiasing = 0;
        cfg_append_message(CFG_ANTIALIAS_MESSAGE);
    }
    return g_config_messages[0] != '\0' ? g_config_messages : nullptr;
}
