// Asset routing: which archive answers a name, and in which order they are asked.

#include "archive.h"

#include <cstdint>
#include <cstring>

static const char* const SCENARIO_SUFFIXES[] = {".KVL", ".KVY"};
constexpr size_t SCENARIO_SUFFIX_LEN = 4;
static const char* const HD_PREFIXES[] = {"img/hd/", "bgm/hd/"};
constexpr size_t HD_PREFIX_LEN = 7;
constexpr size_t HD_FOLDER_PREFIX_LEN = 4;  // "img/" or "bgm/", leaving "hd/..."

static bool is_scenario_name(const char* name)
{
    const size_t len = strlen(name);
    if (len < SCENARIO_SUFFIX_LEN)
        return false;
    for (const char* suffix : SCENARIO_SUFFIXES)
        if (memcmp(name + len - SCENARIO_SUFFIX_LEN, suffix, SCENARIO_SUFFIX_LEN) == 0)
            return true;
    return false;
}

static bool is_hd_name(const char* name)
{
    for (const char* prefix : HD_PREFIXES)
        if (strncmp(name, prefix, HD_PREFIX_LEN) == 0)
            return true;
    return false;
}

struct RoutedEntry {
    const Archive* arc;
    const ArchiveEntry* entry;  // null when no archive answers
};

static RoutedEntry asset_route(const char* normalised)
{
    // A found entry answers even when it cannot be extracted: a damaged file
    // must show up as damaged, not be papered over by another archive's copy.
    // A scenario name the scenario archive lacks goes straight to base.dat,
    // even under an HD folder.
    const bool scenario = is_scenario_name(normalised);
    if (scenario && g_arc_script.loaded) {
        if (const ArchiveEntry* entry = arc_find(&g_arc_script, normalised))
            return {&g_arc_script, entry};
    }

    if (!scenario && is_hd_name(normalised) && g_arc_hd.loaded) {
        if (const ArchiveEntry* entry = arc_find(&g_arc_hd, normalised))
            return {&g_arc_hd, entry};
        // hd.dat may store its pictures and music under a bare "hd/" folder.
        if (const ArchiveEntry* entry = arc_find(&g_arc_hd, normalised + HD_FOLDER_PREFIX_LEN))
            return {&g_arc_hd, entry};
    }

    return {&g_arc_base, arc_find(&g_arc_base, normalised)};
}

uint8_t* asset_read(const char* name, size_t* out_len)
{
    return asset_read_impl(name, out_len);
}

uint8_t* asset_read_impl(const char* name, size_t* out_len)
{
    return asset_read_capped(name, SIZE_MAX, out_len);
}

uint8_t* asset_read_capped(const char* name, size_t max_len, size_t* out_len)
{
    char normalised[ASSET_NAME_CAPACITY];
    asset_normalise_path(name, normalised, sizeof normalised);
    const RoutedEntry routed = asset_route(normalised);
    if (!routed.entry)
        return nullptr;
    if (arc_entry_size(routed.entry) > max_len) {
        *out_len = arc_entry_size(routed.entry);
        return nullptr;
    }
    return arc_extract(routed.arc, routed.entry, out_len);
}
