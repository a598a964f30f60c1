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
//
// Packets are read where they lie in the file: a comment block may be as large
// as the file itself (cover art), and its strings are stepped over, not copied.
#include "bgm_private.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr size_t VORBIS_HEADER_PREFIX_SIZE = 1 + sizeof VORBIS_SIGNATURE;
constexpr int BITS_PER_BYTE = 8;

constexpr uint32_t CODEBOOK_SYNC = 0x564342;
constexpr int CODEBOOK_LOOKUP_NONE = 0;
constexpr int CODEBOOK_LOOKUP_LATTICE = 1;
constexpr uint64_t CODEBOOK_VALUE_SIZE = sizeof(float);  // the decoder's expanded table entry

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

// Where the page at pos ends: after its lacing table and every segment it
// lists, or at the end of the data when that comes first. Its header fits.
size_t page_end(const uint8_t* data, size_t len, size_t pos)
{
    size_t segments = data[pos + OGG_SEGMENT_COUNT_OFFSET];
    size_t end = pos + OGG_PAGE_HEADER_SIZE + segments;
    for (size_t i = 0; i < segments; ++i) {
        end += data[pos + OGG_PAGE_HEADER_SIZE + i];
    }
    return end < len ? end : len;
}

// One packet read in place, following it across pages as the decoder does.
// Its bytes on one page are contiguous (a run); it goes on at the start of the
// next page while its last segment on this one is full.
struct PacketReader {
    const uint8_t* data;
    size_t len;
    size_t page;          // the page holding the current run
    size_t at;            // the next byte to read
    size_t run_end;
    size_t next_segment;  // the page's first segment after the run
    bool ends_here;       // no run follows this one
    bool broken;          // the data ends, or the pages break off, before the packet does
};

bool break_packet(PacketReader* r)
{
    r->broken = true;
    r->ends_here = true;
    r->at = r->run_end = 0;
    return false;
}

// Makes the packet's bytes on this page, from this segment on, the current run.
// A page without segments, or a run past the end of the data, breaks the packet.
bool start_run(PacketReader* r, size_t page, size_t segment)
{
    if (!page_header_fits(r->data, r->len, page) || segment >= r->data[page + OGG_SEGMENT_COUNT_OFFSET]) {
        return break_packet(r);
    }
    const uint8_t* lacing = r->data + page + OGG_PAGE_HEADER_SIZE;
    size_t segments = r->data[page + OGG_SEGMENT_COUNT_OFFSET];
    size_t at = page + OGG_PAGE_HEADER_SIZE + segments;
    for (size_t i = 0; i < segment; ++i) {
        at += lacing[i];
    }
    size_t end = at;
    bool ends_here = false;
    while (segment < segments && !ends_here) {
        ends_here = lacing[segment] < OGG_LACING_CONTINUES;
        end += lacing[segment++];
    }
    if (end > r->len) {
        return break_packet(r);
    }
    *r = PacketReader{r->data, r->len, page, at, end, segment, ends_here, false};
    return true;
}

bool open_packet(PacketReader* r, const uint8_t* data, size_t len, OggCursor at)
{
    *r = PacketReader{data, len, 0, 0, 0, 0, false, false};
    return start_run(r, at.page, at.segment);
}

// Moves on to the packet's run on the next page, which must say that it
// continues a packet. False at the packet's end or where it breaks.
bool next_run(PacketReader* r)
{
    if (r->ends_here) {
        return false;
    }
    size_t page = r->run_end;  // a run that the packet outlasts fills the rest of its page
    if (!page_header_fits(r->data, r->len, page) || (r->data[page + OGG_FLAGS_OFFSET] & OGG_FLAG_CONTINUED) == 0) {
        return break_packet(r);
    }
    return start_run(r, page, 0);
}

// The packet's next byte, or -1 past its end.
int read_byte(PacketReader* r)
{
    while (r->at == r->run_end) {
        if (!next_run(r)) {
            return -1;
        }
    }
    return r->data[r->at++];
}

// Steps over n bytes of the packet, a run at a time; false when it ends first.
bool skip_bytes(PacketReader* r, uint64_t n)
{
    while (n > r->run_end - r->at) {
        n -= r->run_end - r->at;
        r->at = r->run_end;
        if (!next_run(r)) {
            return false;
        }
    }
    r->at += n;
    return true;
}

bool read_u32le(PacketReader* r, uint32_t* value)
{
    *value = 0;
    for (int i = 0; i < 4; ++i) {
        int byte = read_byte(r);
        if (byte < 0) {
            return false;
        }
        *value |= static_cast<uint32_t>(byte) << (BITS_PER_BYTE * i);
    }
    return true;
}

// Steps over the rest of the packet, which must be whole, and says where the
// packet after it starts.
bool finish_packet(PacketReader* r, OggCursor* next)
{
    while (next_run(r)) {
    }
    if (r->broken) {
        return false;
    }
    bool page_done = r->next_segment == r->data[r->page + OGG_SEGMENT_COUNT_OFFSET];
    *next = page_done ? OggCursor{r->run_end, 0} : OggCursor{r->page, r->next_segment};
    return true;
}

bool has_vorbis_prefix(PacketReader* r, uint8_t type)
{
    uint8_t prefix[VORBIS_HEADER_PREFIX_SIZE];
    for (uint8_t& byte : prefix) {
        int value = read_byte(r);
        if (value < 0) {
            return false;
        }
        byte = static_cast<uint8_t>(value);
    }
    return prefix[0] == type && memcmp(prefix + 1, VORBIS_SIGNATURE, sizeof VORBIS_SIGNATURE) == 0;
}

// Vendor string, comment count, then each comment and the framing byte: every
// length must fit in what is left of the packet.
bool comment_lengths_fit(PacketReader* r)
{
    uint32_t vendor_len = 0;
    uint32_t comment_count = 0;
    if (!read_u32le(r, &vendor_len) || !skip_bytes(r, vendor_len) || !read_u32le(r, &comment_count)) {
        return false;
    }
    for (uint32_t i = 0; i < comment_count; ++i) {
        uint32_t comment_len = 0;
        if (!read_u32le(r, &comment_len) || !skip_bytes(r, comment_len)) {
            return false;
        }
    }
    return read_byte(r) >= 0;
}

// Reads a packet's bits least significant first. Past the end the decoder
// reads zeros: a book cut short has no value table and the book after it
// fails its sync, so the walk need not look past the end.
struct BitReader {
    PacketReader* packet;
    uint32_t byte;
    int bits_used;  // of byte
    bool past_end;
};

uint32_t read_bits(BitReader* r, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        if (r->bits_used == BITS_PER_BYTE) {
            int next = read_byte(r->packet);
            if (next < 0) {
                r->past_end = true;
                return 0;
            }
            r->byte = static_cast<uint32_t>(next);
            r->bits_used = 0;
        }
        value |= (r->byte >> r->bits_used++ & 1) << i;
    }
    return value;
}

// Steps over count bits; false when the packet ends first.
bool skip_bits(BitReader* r, uint64_t count)
{
    uint64_t in_byte = std::min<uint64_t>(count, static_cast<uint64_t>(BITS_PER_BYTE - r->bits_used));
    r->bits_used += static_cast<int>(in_byte);
    count -= in_byte;
    if (!skip_bytes(r->packet, count / BITS_PER_BYTE)) {
        r->past_end = true;
        return false;
    }
    read_bits(r, static_cast<int>(count % BITS_PER_BYTE));
    return !r->past_end;
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
bool codebook_tables_fit(PacketReader* setup)
{
    BitReader r{setup, 0, BITS_PER_BYTE, false};
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
            for (uint32_t entry = 0; entry < entries && !r.past_end;) {
                entry += read_bits(&r, bit_width(entries - entry));
            }
        } else {
            for (uint32_t entry = 0; entry < entries && !r.past_end; ++entry) {
                if (!sparse || read_bits(&r, 1) != 0) {
                    read_bits(&r, 5);
                }
            }
        }
        int lookup = static_cast<int>(read_bits(&r, 4));
        if (r.past_end) {
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
        if (!skip_bits(&r, values * static_cast<uint64_t>(value_bits))) {
            return true;
        }
    }
    return true;
}

}  // namespace

bool bgm_check_headers(const uint8_t* data, size_t len, OggHeaderLayout* layout)
{
    // The decoder wants the identification header alone on the first page,
    // reads the comment header from the start of the second and the setup
    // header from the segment after it.
    if (!page_header_fits(data, len, 0) || data[OGG_SEGMENT_COUNT_OFFSET] != 1 ||
        data[OGG_PAGE_HEADER_SIZE] == OGG_LACING_CONTINUES) {
        return false;
    }
    size_t id_page_size = OGG_PAGE_HEADER_SIZE + 1 + data[OGG_PAGE_HEADER_SIZE];
    PacketReader comment;
    OggCursor setup_start{};
    if (!open_packet(&comment, data, len, OggCursor{id_page_size, 0}) ||
        !has_vorbis_prefix(&comment, VORBIS_COMMENT_PACKET_TYPE) || !comment_lengths_fit(&comment) ||
        !finish_packet(&comment, &setup_start)) {
        return false;
    }
    PacketReader setup;
    OggCursor after_setup{};
    if (!open_packet(&setup, data, len, setup_start)) {
        return false;
    }
    *layout = OggHeaderLayout{id_page_size, setup_start.page, setup_start.segment, setup.at,
                              page_end(data, len, setup_start.page)};
    return has_vorbis_prefix(&setup, VORBIS_SETUP_PACKET_TYPE) && codebook_tables_fit(&setup) &&
           finish_packet(&setup, &after_setup);
}
