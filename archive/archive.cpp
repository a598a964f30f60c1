// KVR1 archive reader: finding an archive file, checking it (plain or packed),
// name normalisation, lookup and extraction of entries.

#include "archive.h"
#include "inflate.h"
#include "platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

Archive g_arc_base;
Archive g_arc_hd;
Archive g_arc_script;

const char* const ARC_SEARCH_DIRS[ARC_SEARCH_DIR_COUNT] = {
    "dat/", "", "assets/", "../../assets/", "../assets/",
};

static const char ARC_MAGIC[] = "KVR1";
constexpr size_t ARC_MAGIC_LEN = 4;
constexpr size_t ARC_MIN_FILE_SIZE = 8;
constexpr size_t ARC_HEADER_ENTRY_COUNT_AT = 8;
constexpr size_t ARC_HEADER_FLAGS_AT = 12;
constexpr size_t ARC_PACKED_STREAM_AT = 4;  // the stream follows unpacked_size
constexpr size_t ARC_PATH_CAPACITY = 256;
constexpr size_t SCRIPT_NAME_CAPACITY = 64;
constexpr int32_t ARC_MAX_FILE_SIZE = INT32_MAX;
static const char ASSETS_PREFIX[] = "assets";  // dropped with the separator after it
constexpr size_t ASSETS_PREFIX_LEN = sizeof ASSETS_PREFIX - 1;

// One entry's normalised name. Normalising a stored name only drops a prefix
// and reads backslashes as slashes, so the name is read in its own field:
// from start, length characters, each backslash taken as a slash.
struct ArchiveName {
    uint32_t entry;
    uint8_t start;
    uint8_t length;
};

static uint32_t read_u32_le(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint32_t arc_entry_size(const ArchiveEntry* entry) { return read_u32_le(entry->size_le); }
uint32_t arc_entry_offset(const ArchiveEntry* entry) { return read_u32_le(entry->offset_le); }
uint32_t arc_entry_stored_size(const ArchiveEntry* entry) { return read_u32_le(entry->stored_size_le); }
uint32_t arc_entry_flags(const ArchiveEntry* entry) { return read_u32_le(entry->flags_le); }

// Opens path and measures it. Null when it is no regular file (a folder, FIFO
// or device counts as no file), is empty or is longer than max_len.
static FILE* open_sized_file(const char* path, long max_len, int32_t* out_len)
{
    FILE* file = plat_open_regular_file(path);
    if (!file)
        return nullptr;
    long len = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        len = ftell(file);
    const bool sized = len > 0 && len <= max_len && fseek(file, 0, SEEK_SET) == 0;
    if (!sized) {
        fclose(file);
        return nullptr;
    }
    *out_len = static_cast<int32_t>(len);
    return file;
}

// Inflates the raw deflate stream of a packed file, which it takes ownership
// of; the image must come out exactly unpacked_size bytes long. Null otherwise.
static uint8_t* unpack_image(uint8_t* file_bytes, size_t len, size_t* out_len)
{
    const uint32_t unpacked_size = read_u32_le(file_bytes);
    uint8_t* image = inflate_exact(file_bytes + ARC_PACKED_STREAM_AT, len - ARC_PACKED_STREAM_AT,
                                   unpacked_size, false);
    free(file_bytes);
    if (image)
        *out_len = unpacked_size;
    return image;
}

static unsigned char name_char(char c)
{
    return c == '\\' ? '/' : static_cast<unsigned char>(c);
}

// Orders two names as strcmp orders their normalised forms.
static int compare_names(const char* a, size_t a_len, const char* b, size_t b_len)
{
    const size_t common = std::min(a_len, b_len);
    for (size_t i = 0; i < common; i++) {
        const int order = name_char(a[i]) - name_char(b[i]);
        if (order != 0)
            return order;
    }
    return (a_len > b_len) - (a_len < b_len);
}

static const char* name_chars(const Archive* arc, const ArchiveName& name)
{
    return arc->entries[name.entry].name + name.start;
}

static ArchiveName normalised_name(const Archive* arc, uint32_t index)
{
    // The name field need not hold a zero byte; a full field is a 56-character name.
    char stored[ARC_ENTRY_NAME_LEN + 1];
    memcpy(stored, arc->entries[index].name, ARC_ENTRY_NAME_LEN);
    stored[ARC_ENTRY_NAME_LEN] = '\0';
    char normalised[ASSET_NAME_CAPACITY];
    asset_normalise_path(stored, normalised, sizeof normalised);
    const size_t length = strlen(normalised);
    return ArchiveName{index, static_cast<uint8_t>(strlen(stored) - length), static_cast<uint8_t>(length)};
}

// Sorts the entries by normalised name, and equal names by table position, so
// that a binary search meets the first of several equal names first.
static bool index_names(Archive* arc)
{
    if (arc->entry_count == 0)
        return true;
    arc->names = static_cast<ArchiveName*>(malloc(sizeof(ArchiveName) * arc->entry_count));
    if (!arc->names)
        return false;
    for (uint32_t i = 0; i < arc->entry_count; i++)
        arc->names[i] = normalised_name(arc, i);
    std::sort(arc->names, arc->names + arc->entry_count, [arc](const ArchiveName& a, const ArchiveName& b) {
        const int order = compare_names(name_chars(arc, a), a.length, name_chars(arc, b), b.length);
        return order < 0 || (order == 0 && a.entry < b.entry);
    });
    return true;
}

bool arc_open_image(Archive* arc, uint8_t* file_bytes, size_t len)
{
    if (arc->data || len < ARC_MIN_FILE_SIZE) {
        free(file_bytes);
        return false;
    }

    uint8_t* image = file_bytes;
    size_t image_len = len;
    if (memcmp(file_bytes, ARC_MAGIC, ARC_MAGIC_LEN) != 0) {
        image = unpack_image(file_bytes, len, &image_len);
        if (!image)
            return false;
    }

    if (image_len < ARC_HEADER_SIZE || memcmp(image, ARC_MAGIC, ARC_MAGIC_LEN) != 0) {
        free(image);
        return false;
    }
    const uint32_t entry_count = read_u32_le(image + ARC_HEADER_ENTRY_COUNT_AT);
    const uint64_t table_end = ARC_HEADER_SIZE + static_cast<uint64_t>(ARC_ENTRY_SIZE) * entry_count;
    if (table_end > image_len) {
        free(image);
        return false;
    }

    arc->data = image;
    arc->size = image_len;
    arc->entry_count = entry_count;
    arc->entries = reinterpret_cast<const ArchiveEntry*>(image + ARC_HEADER_SIZE);
    arc->loaded = 1;
    if (!index_names(arc)) {
        arc_close(arc);
        return false;
    }
    return true;
}

// Reads the whole of a file open_sized_file opened into a new malloc'd
// buffer and closes it. Null when its bytes cannot be held (*held false) or
// it reads short (it changed, or the disk failed).
static uint8_t* read_sized_file(FILE* file, int32_t len, bool* held)
{
    uint8_t* bytes = static_cast<uint8_t*>(malloc(static_cast<size_t>(len)));
    *held = bytes != nullptr;
    const bool read = bytes && fread(bytes, 1, static_cast<size_t>(len), file) == static_cast<size_t>(len);
    fclose(file);
    if (!read) {
        free(bytes);
        return nullptr;
    }
    return bytes;
}

uint8_t* arc_read_file(const char* path, size_t max_len, size_t* out_len)
{
    int32_t len = 0;
    const long cap = static_cast<long>(std::min<size_t>(max_len, ARC_MAX_FILE_SIZE));
    FILE* file = open_sized_file(path, cap, &len);
    if (!file)
        return nullptr;
    bool held = false;
    uint8_t* bytes = read_sized_file(file, len, &held);
    if (bytes)
        *out_len = static_cast<size_t>(len);
    return bytes;
}

void arc_open(Archive* arc, const char* file_name)
{
    if (arc->data)
        return;

    for (const char* dir : ARC_SEARCH_DIRS) {
        char path[ARC_PATH_CAPACITY];
        int path_len = snprintf(path, sizeof path, "%s%s", dir, file_name);
        if (path_len < 0 || static_cast<size_t>(path_len) >= sizeof path)
            continue;
        int32_t len = 0;
        FILE* file = open_sized_file(path, ARC_MAX_FILE_SIZE, &len);
        if (!file)
            continue;
        bool held = false;
        uint8_t* bytes = read_sized_file(file, len, &held);
        // A file too large to hold now says nothing about its contents: a
        // smaller copy further down may still be played.
        if (!held)
            continue;
        // From here the first usable file decides, valid, unreadable or not:
        // a broken archive in an early folder must not let a stale copy
        // further down be played instead.
        if (bytes)
            arc_open_image(arc, bytes, static_cast<size_t>(len));
        return;
    }
}

void arc_close(Archive* arc)
{
    free(arc->data);
    free(arc->names);
    memset(arc, 0, sizeof *arc);
}

static bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

void asset_normalise_path(const char* src, char* dst, size_t capacity)
{
    if (capacity == 0)
        return;

    const char* rest = src;
    while (rest[0] == '.' && rest[1] == '.') {
        rest += 2;
        if (is_separator(rest[0]))
            rest++;
    }
    if (rest[0] == '.' && is_separator(rest[1]))
        rest += 2;
    if (strncmp(rest, ASSETS_PREFIX, ASSETS_PREFIX_LEN) == 0 && is_separator(rest[ASSETS_PREFIX_LEN]))
        rest += ASSETS_PREFIX_LEN + 1;

    size_t n = 0;
    for (; n + 1 < capacity && rest[n] != '\0'; n++)
        dst[n] = rest[n] == '\\' ? '/' : rest[n];
    dst[n] = '\0';
}

const ArchiveEntry* arc_find(const Archive* arc, const char* name)
{
    if (!arc->loaded || arc->entry_count == 0)
        return nullptr;

    // Stored names are compared with their backslashes read as slashes; a
    // request still holding one is no normalised name and matches none.
    if (strchr(name, '\\'))
        return nullptr;
    const size_t name_len = strlen(name);
    const ArchiveName* names = arc->names;
    const ArchiveName* end = names + arc->entry_count;
    auto order = [&](const ArchiveName& stored) {
        return compare_names(name_chars(arc, stored), stored.length, name, name_len);
    };
    const ArchiveName* first = std::lower_bound(
        names, end, name, [&](const ArchiveName& stored, const char*) { return order(stored) < 0; });
    if (first == end || order(*first) != 0)
        return nullptr;
    return &arc->entries[first->entry];
}

uint8_t* arc_extract(const Archive* arc, const ArchiveEntry* entry, size_t* out_len)
{
    const uint32_t size = arc_entry_size(entry);
    const uint64_t offset = arc_entry_offset(entry);
    *out_len = size;

    if (!(arc_entry_flags(entry) & ARC_ENTRY_FLAG_ZLIB)) {
        if (offset + size > arc->size)
            return nullptr;
        // One spare byte so an empty entry still gets a real buffer.
        uint8_t* copy = static_cast<uint8_t*>(malloc(static_cast<size_t>(size) + 1));
        if (!copy)
            return nullptr;
        memcpy(copy, arc->data + offset, size);
        return copy;
    }

    const uint32_t stored_size = arc_entry_stored_size(entry);
    if (offset + stored_size > arc->size)
        return nullptr;
    return inflate_exact(arc->data + offset, stored_size, size, true);
}

void arc_open_base_and_hd()
{
    arc_open(&g_arc_base, "base.dat");
    arc_open(&g_arc_hd, "hd.dat");
}

bool arc_open_script(const char* code)
{
    arc_close(&g_arc_script);

    char file_name[SCRIPT_NAME_CAPACITY];
    if (!code || code[0] == '\0') {
        snprintf(file_name, sizeof file_name, "script.dat");
    } else {
        int len = snprintf(file_name, sizeof file_name, "script_%s.dat", code);
        // A cut name would open some other language's archive.
        if (len < 0 || static_cast<size_t>(len) >= sizeof file_name)
            return false;
    }
    arc_open(&g_arc_script, file_name);
    return g_arc_script.loaded != 0;
}

bool arc_default_script_present()
{
    for (const char* dir : ARC_SEARCH_DIRS) {
        char path[SCRIPT_NAME_CAPACITY];
        snprintf(path, sizeof path, "%sscript.dat", dir);
        int32_t len = 0;
        FILE* file = open_sized_file(path, ARC_MAX_FILE_SIZE, &len);
        if (file) {
            fclose(file);
            return true;
        }
    }
    return false;
}

bool arc_base_loaded() { return g_arc_base.loaded != 0; }

bool arc_hd_loaded() { return g_arc_hd.loaded != 0; }

bool arc_hd_has_hd_assets()
{
    return g_arc_hd.loaded && g_arc_hd.size >= ARC_HEADER_SIZE &&
           (g_arc_hd.data[ARC_HEADER_FLAGS_AT] & ARC_FLAG_HD_ASSETS) != 0;
}
