// Helpers shared by the music player's source files.
#pragma once

#include <cstddef>
#include <cstdint>

// What one decoder may take for its tables and its scratch space. The game's
// stereo tracks need about 250 KB and a 5.1 file at the encoder's top quality
// about 870 KB; 8192-sample windows, which the format allows, bring a 5.1
// file to about 1.4 MB. Comments never reach the decoder (bgm_drop_comments),
// so this holds for every file whatever it carries.
constexpr size_t BGM_DECODER_ARENA_BYTES = 2 * 1024 * 1024;

// Longest music file read. A track's part is a loop of a few minutes; this
// holds half an hour of stereo at 256 kbit/s, or a quarter of an hour at the
// encoder's top quality, with room for cover art. The file stays in memory
// while its track plays, so a larger entry is refused before any of it is
// copied or inflated.
constexpr size_t BGM_FILE_CAP = 64u << 20;

// An OGG page: a 27-byte header, a lacing table of one length per segment,
// then the segments. A packet ends at the first segment shorter than 255.
constexpr uint8_t OGG_CAPTURE[] = {'O', 'g', 'g', 'S'};
constexpr size_t OGG_PAGE_HEADER_SIZE = 27;
constexpr size_t OGG_FLAGS_OFFSET = 5;
constexpr size_t OGG_SEQUENCE_OFFSET = 18;
constexpr size_t OGG_CRC_OFFSET = 22;
constexpr size_t OGG_SEGMENT_COUNT_OFFSET = 26;
constexpr uint8_t OGG_FLAG_CONTINUED = 1;
constexpr uint8_t OGG_LACING_CONTINUES = 255;

constexpr uint8_t VORBIS_COMMENT_PACKET_TYPE = 3;
constexpr uint8_t VORBIS_SETUP_PACKET_TYPE = 5;
constexpr uint8_t VORBIS_SIGNATURE[] = {'v', 'o', 'r', 'b', 'i', 's'};

// Closes both decoders, frees their OGG bytes and stops. The caller holds the
// device lock, so the audio thread never sees a half-released track.
void bgm_tear_down_locked();

// Where the header packets of a file that passed bgm_check_headers lie.
struct OggHeaderLayout {
    size_t id_page_size;    // the first page, which holds the identification header alone
    size_t setup_page;      // the page where the setup header starts
    size_t setup_segment;   // the setup header's first segment on that page
    size_t setup_at;        // the setup header's first byte
    size_t setup_page_end;  // where that page ends, or the data where it is cut short
};

// True when the OGG file's Vorbis comment header keeps every length it states
// inside its own packet and no codebook's value table could outgrow a
// decoder's arena; the decoder must not be given a file that fails this.
// Fills *layout. Reads each page where it lies and copies nothing, so a
// comment block costs one pass over its page headers.
bool bgm_check_headers(const uint8_t* data, size_t len, OggHeaderLayout* layout);

// Gives a checked file an empty comment header in place of its own. The
// first page and a page holding the empty comment are written to end where
// the setup header begins, and every page from there on keeps its place, so
// the audio decodes as before. Returns where the rewritten file now starts
// in data; the bytes before it are no longer part of the file.
size_t bgm_drop_comments(uint8_t* data, const OggHeaderLayout& layout);
