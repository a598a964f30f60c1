// The installed scenario languages: script.dat and the script_<code>.dat files
// found beside it.

#include "archive.h"
#include "platform.h"

#include <cstring>

Language g_languages[LANG_TABLE_SIZE];
uint32_t g_language_count;

struct LanguageName {
    const char* code;
    const char* display_name;
};

static const LanguageName LANGUAGE_NAMES[] = {
    {"", "Japanese"},  {"en", "English"}, {"fr", "French"},  {"de", "German"}, {"es", "Spanish"},
    {"pt", "Portuguese"}, {"it", "Italian"}, {"zh", "Chinese"}, {"ko", "Korean"},
};

// Only these two folders are listed; a translation elsewhere on the search
// path still opens, it just is not offered in the menu.
static const char* const LANGUAGE_DIRS[] = {"dat/", ""};
static const char SCRIPT_PREFIX[] = "script_";
static const char SCRIPT_SUFFIX[] = ".dat";
constexpr size_t SCRIPT_PREFIX_LEN = sizeof SCRIPT_PREFIX - 1;

static void copy_cut(char* dst, const char* src, size_t capacity)
{
    size_t n = strnlen(src, capacity - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

static const char* display_name_for(const char* code)
{
    for (const LanguageName& known : LANGUAGE_NAMES)
        if (strcmp(known.code, code) == 0)
            return known.display_name;
    return code;
}

void arc_register_language(const char* code)
{
    for (uint32_t i = 0; i < g_language_count; i++)
        if (strcmp(g_languages[i].code, code) == 0)
            return;
    if (g_language_count >= LANG_TABLE_SIZE)
        return;
    Language* language = &g_languages[g_language_count];
    copy_cut(language->code, code, sizeof language->code);
    copy_cut(language->display_name, display_name_for(code), sizeof language->display_name);
    g_language_count++;
}

// Called for each script_*.dat; the code is what lies between "script_" and
// the last dot, so script_en.old.dat offers "en.old".
static void register_script_file(const char* file_name, void*)
{
    const char* rest = file_name + SCRIPT_PREFIX_LEN;
    const char* dot = strrchr(rest, '.');
    if (!dot)
        return;
    const size_t code_len = static_cast<size_t>(dot - rest);
    if (code_len == 0 || code_len >= LANG_CODE_CAPACITY)
        return;
    char code[LANG_CODE_CAPACITY];
    memcpy(code, rest, code_len);
    code[code_len] = '\0';
    arc_register_language(code);
}

void arc_discover_languages()
{
    g_language_count = 0;
    if (arc_default_script_present())
        arc_register_language("");
    for (const char* dir : LANGUAGE_DIRS)
        plat_list_files(dir, SCRIPT_PREFIX, SCRIPT_SUFFIX, register_script_file, nullptr);
}

const Language* arc_get_languages(uint32_t* out_count)
{
    if (out_count)
        *out_count = g_language_count;
    return g_languages;
}
