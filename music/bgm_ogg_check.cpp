// Bounds checks of the Vorbis comment and setup headers before the decoder
// sees them.
//
// The decoder trusts the vendor length, the comment count and each comment's
// length as the file states them: a negative length makes it write before its
// buffer, and a huge one makes it allocate and read gigabytes. It also sizes
// each codebook's value table from the entry count times the dimensions in int
// arithmetic, which wraps for large books and makes it write past the table or
// its arena. Music comes from archives that a player may have damaged, so both
// headers are checked here first.
#include "bgm_private.h"

#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t OGG_CAPTURE[] = {'O', 'g', 'g', 'S'};
constexpr size_t OGG_PAGE_HEADER_SIZE = 27;
constexpr size_t OGG_FLAGS_OFFSET = 5;
constexpr size_t OGG_SEGMENT_COUNT_OFFSET = 26;
constexpr uint8_t OGG_FLAG_CONTINUED = 1;
constexpr uint8_t OGG_LACING_CONTINUES = 255;

constexpr uint8_t VORBIS_COMMENT_PACKET_TYPE = 3;
constexpr uint8_t VORBIS_SETUP_PACKET_TYPE = 5;
constexpr uint8_t VORBIS_SIGNATURE[] = {'v', 'o', 'r', 'b', 'i', 's'};
constexpr size_t VORBIS_HEADER_PREFIX_SIZE = 1 + sizeof VORBIS_SIGNATURE;
constexpr size_t VORBIS_FRAMING_SIZE = 1;

constexpr uint32_t CODEBOOK_SYNC = 0x564342;
constexpr int CODEBOOK_LOOKUP_NONE = 0;
constexpr int CODEBOOK_LOOKUP_LATTICE = 1;
constexpr uint64_t CODEBOOK_VALUE_SIZE = sizeof(float);  // the decoder's expanded table entry

uint32_t read_u32le(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Where the next packet starts: a page, and a segment of its lacing table.
struct OggCursor {
    size_t page;
    size_t segment;
};

// The page at pos has its header and lacing table inside the data.
bool page_header_fits(const uint8_t* data, size_t len, size_t pos)
{
    return pos <= len && len - pos >= OGG_PAGE_HEADER_SIZE &&
           memcmp(data + pos, OGG_CAPTURE, sizeof OGG_CAPTURE) == 0 &&
           len - pos - OGG_PAGE_HEADER_SIZE >= data[pos + OGG_SEGMENT_COUNT_OFFSET];
}

// Appends the packet at *at, following it across pages as the decoder does,
// and leaves *at on the segment after it. False when the data ends or breaks
// before the packet does, or when the page structure is one the decoder
// rejects, so the bytes checked are always the bytes it would parse.
bool collect_packet(const uint8_t* data, size_t len, OggCursor* at, std::vector<uint8_t>* packet)
{
    bool continuing = false;
    while (true) {
        if (!page_header_fits(data, len, at->page)) {
            return false;
        }
        size_t segments = data[at->page + OGG_SEGMENT_COUNT_OFFSET];
        bool continued_flag = (data[at->page + OGG_FLAGS_OFFSET] & OGG_FLAG_CONTINUED) != 0;
        if (segments == 0 || (continuing && !continued_flag)) {
            return false;
        }
        size_t lacing_at = at->page + OGG_PAGE_HEADER_SIZE;
        size_t body = lacing_at + segments;
        for (size_t i = 0; i < at->segment; ++i) {
            body += data[lacing_at + i];
        }
        for (size_t i = at->segment; i < segments; ++i) {
            size_t seg_len = data[lacing_at + i];
            if (len - body < seg_len) {
                return false;
            }
            packet->insert(packet->end(), data + body, data + body + seg_len);
            body += seg_len;
            if (seg_len < OGG_LACING_CONTINUES) {
                at->segment = i + 1;
                if (at->segment == segments) {
                    *at = OggCursor{body, 0};
                }
                return true;
            }
        }
        *at = OggCursor{body, 0};
        continuing = true;
    }
}

bool has_vorbis_prefix(const std::vector<uint8_t>& packet, uint8_t type)
{
    return packet.size() >= VORBIS_HEADER_PREFIX_SIZE && packet[0] == type &&
           memcmp(packet.data() + 1, VORBIS_SIGNATURE, sizeof VORBIS_SIGNATURE) == 0;
}

// The decoder's copy of a string of len bytes: terminated and padded to its
// allocation granule.
size_t copied_size(size_t len)
{
    return (len + 1 + BGM_DECODER_ALIGN - 1) / BGM_DECODER_ALIGN * BGM_DECODER_ALIGN;
}

// Vendor string, comment count, then each comment: every length must fit in
// what is left of the packet. *copied is what the decoder allocates to keep
// them: the strings and the list of comments.
bool comment_lengths_fit(const std::vector<uint8_t>& packet, size_t* copied)
{
    const uint8_t* p = packet.data() + VORBIS_HEADER_PREFIX_SIZE;
    size_t left = packet.size() - VORBIS_HEADER_PREFIX_SIZE;
    if (left < 4) {
        return false;
    }
    uint32_t vendor_len = read_u32le(p);
    p += 4;
    left -= 4;
    if (vendor_len > left) {
        return false;
    }
    p += vendor_len;
    left -= vendor_len;
    *copied = copied_size(vendor_len);
    if (left < 4) {
        return false;
    }
    uint32_t comment_count = read_u32le(p);
    p += 4;
    left -= 4;
    *copied += static_cast<size_t>(comment_count) * sizeof(char*);
    for (uint32_t i = 0; i < comment_count; ++i) {
        if (left < 4) {
            return false;
        }
        uint32_t comment_len = read_u32le(p);
        p += 4;
        left -= 4;
        if (comment_len > left) {
            return false;
        }
        p += comment_len;
        left -= comment_len;
        *copied += copied_size(comment_len);
    }
    return left >= VORBIS_FRAMING_SIZE;
}

// Reads a packet's bits least significant first. Past the end the decoder
// reads zeros: a book cut short has no value table and the book after it
// fails its sync, so the walk need not look past the end.
struct BitReader {
    const uint8_t* data;
    size_t size;
    uint64_t bit;
};

bool bits_left(const BitReader& r, uint64_t count)
{
    return r.bit <= static_cast<uint64_t>(r.size) * 8 && static_cast<uint64_t>(r.size) * 8 - r.bit >= count;
}

uint32_t read_bits(BitReader* r, int count)
{
    if (!bits_left(*r, static_cast<uint64_t>(count))) {
        r->bit = static_cast<uint64_t>(r->size) * 8 + 1;
        return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++r->bit) {
        value |= static_cast<uint32_t>(r->data[r->bit >> 3] >> (r->bit & 7) & 1) << i;
    }
    return value;
}

// Bits needed to write n (0 for 0).
int bit_width(uint32_t n)
{
    int width = 0;
    for (; n != 0; n >>= 1) {
        ++width;
    }
    return width;
}

// base^exponent, or some value above INT_MAX once it passes INT_MAX.
uint64_t capped_power(uint64_t base, uint32_t exponent)
{
    uint64_t result = 1;
    for (uint32_t i = 0; i < exponent && result <= INT_MAX; ++i) {
        result *= base;
    }
    return result;
}

// The largest r with r^dimensions <= entries: the values per dimension of a
// lattice codebook.
uint32_t lattice_root(uint32_t entries, uint32_t dimensions)
{
    uint32_t low = 0;
    uint32_t high = entries;
    while (low < high) {
        uint32_t mid = low + (high - low + 1) / 2;
        if (capped_power(mid, dimensions) <= entries) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return low;
}

// Walks the setup header's codebooks as the decoder parses them. False when
// a book's value table would not fit the decoder's arena (so its size could
// wrap), or when the walk cannot follow the decoder.
bool codebook_tables_fit(const std::vector<uint8_t>& packet)
{
    BitReader r{packet.data(), packet.size(), VORBIS_HEADER_PREFIX_SIZE * 8};
    uint32_t count = read_bits(&r, 8) + 1;
    for (uint32_t book = 0; book < count; ++book) {
        if (read_bits(&r, 24) != CODEBOOK_SYNC) {
            return false;
        }
        uint32_t dimensions = read_bits(&r, 16);
        uint32_t entries = read_bits(&r, 24);
        bool ordered = read_bits(&r, 1) != 0;
        bool sparse = !ordered && read_bits(&r, 1) != 0;
        if (ordered) {
            read_bits(&r, 5);
            // Runs of equal lengths; each run reads at least one bit.
            for (uint32_t entry = 0; entry < entries && bits_left(r, 1);) {
                entry += read_bits(&r, bit_width(entries - entry));
            }
        } else {
            for (uint32_t entry = 0; entry < entries && bits_left(r, 1); ++entry) {
                if (!sparse || read_bits(&r, 1) != 0) {
                    read_bits(&r, 5);
                }
            }
        }
        int lookup = static_cast<int>(read_bits(&r, 4));
        if (!bits_left(r, 0)) {
            return true;
        }
        if (lookup == CODEBOOK_LOOKUP_NONE) {
            continue;
        }
        if (static_cast<uint64_t>(entries) * dimensions * CODEBOOK_VALUE_SIZE > BGM_DECODER_ARENA_BYTES) {
            return false;
        }
        read_bits(&r, 32);  // minimum value
        read_bits(&r, 32);  // delta value
        int value_bits = static_cast<int>(read_bits(&r, 4)) + 1;
        read_bits(&r, 1);  // sequence flag
        // The decoder finds the lattice root in floating point and, where a
        // power of it overflows an int, counts one value more. The walk then
        // lands up to 16 bits away from the next book's sync, which matches
        // itself at no such shift, so it refuses rather than losing step.
        uint64_t values = lookup == CODEBOOK_LOOKUP_LATTICE ? lattice_root(entries, dimensions)
                                                            : static_cast<uint64_t>(entries) * dimensions;
        if (!bits_left(r, values * static_cast<uint64_t>(value_bits))) {
            return true;
        }
        r.bit += values * static_cast<uint64_t>(value_bits);
    }
    return true;
}

}  // namespace

bool bgm_check_headers(const uint8_t* data, size_t len, size_t* comment_bytes)
{
    // The decoder reads the comment header from the start of the second page
    // and the setup header from the segment after it.
    if (!page_header_fits(data, len, 0)) {
        return false;
    }
    OggCursor at{0, 0};
    std::vector<uint8_t> first;
    std::vector<uint8_t> comment;
    std::vector<uint8_t> setup;
    if (!collect_packet(data, len, &at, &first) || at.segment != 0 || !collect_packet(data, len, &at, &comment) ||
        !collect_packet(data, len, &at, &setup)) {
        return false;
    }
    return has_vorbis_prefix(comment, VORBIS_COMMENT_PACKET_TYPE) && comment_lengths_fit(comment, comment_bytes) &&
           has_vorbis_prefix(setup, VORBIS_SETUP_PACKET_TYPE) && codebook_tables_fit(setup);
}
