// Data archives and assets: KVR1 archives held whole in memory, asset name
// routing across them, the installed scenario languages, the manifest with its
// picture and music tables, and picture decoding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine.h"

struct SDL_Renderer;
struct SDL_Texture;

// ---------------------------------------------------------------------------
// KVR1 archives
// ---------------------------------------------------------------------------

constexpr uint32_t ARC_FLAG_HD_ASSETS = 1u << 0;
constexpr uint32_t ARC_ENTRY_FLAG_ZLIB = 1u << 0;
constexpr size_t ARC_HEADER_SIZE = 16;
constexpr size_t ARC_ENTRY_SIZE = 72;
constexpr size_t ARC_ENTRY_NAME_LEN = 56;
constexpr size_t ASSET_NAME_CAPACITY = 128;  // normalised names keep at most 127 characters

constexpr int ARC_SEARCH_DIR_COUNT = 5;
extern const char* const ARC_SEARCH_DIRS[ARC_SEARCH_DIR_COUNT];

// One 72-byte record of an archive's entry table, read in place inside the
// image. The numbers are stored little-endian; read them with arc_entry_*().
struct ArchiveEntry {
    char name[ARC_ENTRY_NAME_LEN];  // zero-terminated unless all 56 bytes are used
    uint8_t size_le[4];
    uint8_t offset_le[4];
    uint8_t stored_size_le[4];
    uint8_t flags_le[4];
};
static_assert(sizeof(ArchiveEntry) == ARC_ENTRY_SIZE, "ArchiveEntry mirrors the file layout");

uint32_t arc_entry_size(const ArchiveEntry* entry);
uint32_t arc_entry_offset(const ArchiveEntry* entry);
uint32_t arc_entry_stored_size(const ArchiveEntry* entry);
uint32_t arc_entry_flags(const ArchiveEntry* entry);

struct ArchiveName;

struct Archive {
    uint8_t* data;  // the archive image, owned; null while closed
    uint64_t size;
    uint32_t entry_count;
    const ArchiveEntry* entries;  // data + 16
    uint8_t loaded;
    // The entries' normalised names in sorted order, made when the archive
    // opens so that a lookup is a binary search; owned, null while closed.
    ArchiveName* names;
};

extern Archive g_arc_base;
extern Archive g_arc_hd;
extern Archive g_arc_script;

// Searches ARC_SEARCH_DIRS for file_name and opens the first usable file found:
// a regular file (or a link to one), not empty, whose bytes can be held.
// Leaves the record closed when no folder holds one or the file found is not
// a valid archive. Does nothing on an archive that is already open.
void arc_open(Archive* arc, const char* file_name);

// Takes ownership of a whole archive file's bytes (plain or packed), checks
// them and opens the record on them. False, with the bytes released and the
// record closed, when they are not a valid archive or no memory is left for
// the name index; an open record is left as it is (and the bytes released).
bool arc_open_image(Archive* arc, uint8_t* file_bytes, size_t len);

// Releases the image and the name index and clears the record.
void arc_close(Archive* arc);

// First entry whose normalised name equals the (already normalised) name; null if none.
const ArchiveEntry* arc_find(const Archive* arc, const char* name);

// New malloc'd buffer with the entry's data; null when the stored data runs past
// the image or does not inflate to the entry's size. *out_len always gets the size field.
uint8_t* arc_extract(const Archive* arc, const ArchiveEntry* entry, size_t* out_len);

// Drops leading "../", "./" and one "assets/" prefix, cuts to capacity - 1
// characters and turns backslashes into slashes.
void asset_normalise_path(const char* src, char* dst, size_t capacity);

// Opens g_arc_base with "base.dat", then g_arc_hd with "hd.dat".
void arc_open_base_and_hd();

// Replaces g_arc_script with script.dat (code null or empty) or script_<code>.dat.
// True when the archive is open afterwards.
bool arc_open_script(const char* code);

// True when a script.dat of at least one byte opens in one of ARC_SEARCH_DIRS.
bool arc_default_script_present();

bool arc_base_loaded();
bool arc_hd_loaded();
// True when hd.dat is open and its header carries ARC_FLAG_HD_ASSETS.
bool arc_hd_has_hd_assets();

// ---------------------------------------------------------------------------
// Asset routing and languages
// ---------------------------------------------------------------------------

constexpr int LANG_TABLE_SIZE = 16;
constexpr size_t LANG_CODE_CAPACITY = 16;
constexpr size_t LANG_DISPLAY_NAME_CAPACITY = 32;

struct Language {
    char code[LANG_CODE_CAPACITY];  // empty for the default language (script.dat)
    char display_name[LANG_DISPLAY_NAME_CAPACITY];
};

extern Language g_languages[LANG_TABLE_SIZE];
extern uint32_t g_language_count;

// New malloc'd copy of the named asset from the archive that answers for it, or
// null. *out_len is written only when an entry was found, so callers set it to 0 first.
uint8_t* asset_read(const char* name, size_t* out_len);
uint8_t* asset_read_impl(const char* name, size_t* out_len);
// The same for an asset of at most max_len bytes: a longer one gives null
// before any of it is copied or inflated, with its length in *out_len.
uint8_t* asset_read_capped(const char* name, size_t max_len, size_t* out_len);

// A whole loose file of 1 to max_len bytes in a new malloc'd buffer, its
// length in *out_len; null when it does not open, is empty or longer, or
// reads short.
uint8_t* arc_read_file(const char* path, size_t max_len, size_t* out_len);

// Rebuilds g_languages from script.dat and the script_*.dat files in "dat/"
// and the working directory.
void arc_discover_languages();

// Adds a language unless its code is already listed or the table is full.
void arc_register_language(const char* code);

// The language table; *out_count (when not null) gets the number in use.
const Language* arc_get_languages(uint32_t* out_count);

// ---------------------------------------------------------------------------
// Manifest and picture loading
// ---------------------------------------------------------------------------

constexpr int BGM_TRACK_CAPACITY = 32;
constexpr size_t BGM_FILE_NAME_CAPACITY = 64;

struct BgmTrack {
    uint32_t id;
    char intro[BGM_FILE_NAME_CAPACITY];
    char loop[BGM_FILE_NAME_CAPACITY];
};

extern BgmTrack g_bgm_tracks[BGM_TRACK_CAPACITY];
extern int32_t g_bgm_track_count;

constexpr int MANIFEST_IMAGE_CAPACITY = 256;
// Longest manifest.json read. The fullest manifest the tables can use (256
// pictures, 32 tracks with file names of 63 characters, pretty-printed) is
// about 45 KiB; this leaves it room for indentation and members of its own,
// while the parsed tree of the densest text this long ("[0,0,...", one
// 64-byte node for every two bytes) stays near 10 MiB.
constexpr size_t MANIFEST_MAX_BYTES = 256u << 10;
// Numbers in the manifest that are missing, not numbers or outside 32 bits.
constexpr int32_t MANIFEST_NO_NUMBER = INT32_MIN;

// One kept element of the manifest's "images" list.
struct ManifestImage {
    int32_t id;  // 0 to 255
    int32_t x;
    int32_t y;
    int32_t vram;
};

// Reads len bytes of manifest text (no zero byte needed; text after the first
// JSON value is ignored). Appends the kept "images" elements to images while
// *image_count < MANIFEST_IMAGE_CAPACITY, and the "bgm" elements to tracks while
// *track_count < BGM_TRACK_CAPACITY. False, with nothing written, when the text
// does not parse or no memory is left.
bool asset_parse_manifest(const uint8_t* text, size_t len, ManifestImage* images,
                          int32_t* image_count, BgmTrack* tracks, int32_t* track_count);

// Reads manifest.json into the picture slots and the music table. Ends the
// process with status 1 (after an error box) on a missing manifest or SD
// picture; one longer than MANIFEST_MAX_BYTES loads nothing, as one that
// does not parse.
void asset_load_manifest(Engine* engine);

// Longest side of a picture decoded for a renderer that names no texture
// limit of its own (SDL's software renderer reports 0). It is the limit GL
// drivers commonly report, so game data loads alike on either renderer, and
// four times the widest picture a game needs (the HD font atlas).
constexpr int64_t IMG_SIDE_CAP = 16384;

// Most pixels a decoded picture may have: 12 Mi, 48 MiB as RGBA. The largest
// picture a game has is the HD font atlas (4096x2272, 9.3 Mi pixels); HD
// pictures are 1280x800, so this leaves a scrolling one twelve screens. It
// keeps the decoder's widest working buffer (four floats a pixel, for
// radiance files) at 192 MiB, so a hostile header costs a bounded load.
constexpr int64_t IMG_PIXEL_CAP = 4096 * 3072;
// Longest image file read for decoding: a picture of IMG_PIXEL_CAP pixels
// stored uncompressed at the deepest form the decoder reads (16-bit RGBA,
// 96 MiB; a PNG of it in stored blocks is barely longer), with room for its
// headers and side data. A picture, splash or font atlas entry declaring more
// is refused before any of it is copied or inflated.
constexpr size_t IMG_FILE_CAP = 128u << 20;

// True when a w x h picture fits one texture of the renderer: both sides from
// 1 to its maximum texture size, or IMG_SIDE_CAP where it reports none (or
// there is no renderer), and no more than IMG_PIXEL_CAP pixels. Every picture
// is checked with it before decoding.
bool img_size_fits(SDL_Renderer* renderer, int64_t w, int64_t h);

// True when bytes start with the PNG signature.
bool img_is_png(const uint8_t* bytes, size_t len);
// Decodes a PNG to RGBA bytes (free them with stbi_image_free) once its
// chunks lie inside its len bytes up to IEND's type (the decoder reads no
// further, so its checksum may be missing), its header declares at most
// IMG_PIXEL_CAP pixels, and its pixel data inflates to no more than any PNG
// of that size holds: the decoder grows its buffers with the data whatever
// the header says. The check's inflation is what the decoder is handed, so
// the data is inflated once. Null when refused or undecodable.
uint8_t* img_decode_png_rgba(const uint8_t* png, size_t len, int* w, int* h);

// Decodes an image (any format stb_image reads) to RGBA bytes after checking
// the size its header declares with img_size_fits, a PNG through
// img_decode_png_rgba; free the pixels with stbi_image_free. Null, with
// nothing allocated, when it is refused, longer than IMG_FILE_CAP or does not
// decode.
uint8_t* img_decode_rgba(SDL_Renderer* renderer, const uint8_t* bytes, size_t len, int* w, int* h);
// The same for an image file; null also when the file cannot be read.
uint8_t* img_decode_rgba_file(SDL_Renderer* renderer, const char* path, int* w, int* h);
// The same for a picture asset; null also when no archive answers or its
// entry declares more than IMG_FILE_CAP bytes (then nothing is extracted).
uint8_t* img_decode_rgba_asset(SDL_Renderer* renderer, const char* name, int* w, int* h);

// Decodes a picture asset into a static ABGR8888 texture with blending. The
// outs are written only on success.
bool img_load_texture(const char* name, SDL_Renderer* renderer, SDL_Texture** out_texture,
                      uint32_t* out_w, uint32_t* out_h);

// First music table record with this id, or null.
const BgmTrack* asset_find_bgm_track(uint32_t id);
