// Bounded inflation with stb_image's inflater, and a walk over deflate data
// that finds where it ends, which the inflater does not tell.
#include "inflate.h"

#include <stb_image.h>

#include <climits>
#include <cstdlib>
#include <cstring>

// No deflate data comes out more than 1032 times longer than it is (a
// 258-byte match in two bits), so a larger declared size is a lie that needs
// no inflating to refuse, and no buffer of that size is ever reserved.
constexpr size_t DEFLATE_MAX_RATIO = 1032;

int inflate_into(uint8_t* out, int capacity, const uint8_t* stream, size_t stream_len, bool zlib_header)
{
    if (stream_len > static_cast<size_t>(INT_MAX))
        return -1;
    char* to = reinterpret_cast<char*>(out);
    const char* in = reinterpret_cast<const char*>(stream);
    const int in_len = static_cast<int>(stream_len);
    return zlib_header ? stbi_zlib_decode_buffer(to, capacity, in, in_len)
                       : stbi_zlib_decode_noheader_buffer(to, capacity, in, in_len);
}

uint8_t* inflate_exact(const uint8_t* stream, size_t stream_len, size_t expected, bool zlib_header)
{
    if (stream_len > static_cast<size_t>(INT_MAX) || expected >= static_cast<size_t>(INT_MAX) ||
        expected / DEFLATE_MAX_RATIO > stream_len)
        return nullptr;
    // One byte more than expected: a stream that runs on fills it and is caught.
    const int capacity = static_cast<int>(expected) + 1;
    uint8_t* out = static_cast<uint8_t*>(malloc(static_cast<size_t>(capacity)));
    if (out && inflate_into(out, capacity, stream, stream_len, zlib_header) != static_cast<int>(expected)) {
        free(out);
        return nullptr;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Finding the end of deflate data: every block is decoded symbol by symbol,
// nothing is written out.
// ---------------------------------------------------------------------------

constexpr int MAX_CODE_BITS = 15;
constexpr int LITERAL_SYMBOLS = 288;  // the field allows 288; the inflater accepts them
constexpr int DISTANCE_SYMBOLS = 32;
constexpr int CODE_LENGTH_SYMBOLS = 19;
constexpr int END_OF_BLOCK = 256;
constexpr int FIRST_LENGTH = 257;
constexpr int LENGTH_CODES = 29;
constexpr int DISTANCE_CODES = 30;

constexpr size_t STORED_HEADER_BYTES = 4;  // LEN and its complement NLEN
constexpr uint32_t BLOCK_STORED = 0;
constexpr uint32_t BLOCK_FIXED = 1;
constexpr uint32_t BLOCK_DYNAMIC = 2;

struct BitReader {
    const uint8_t* data;
    size_t len;
    size_t bit;  // next bit to read
    bool ok;     // false once a read ran past the end
};

static uint32_t take_bits(BitReader* r, int n)
{
    uint32_t value = 0;
    for (int i = 0; i < n; i++) {
        if (r->bit / 8 >= r->len) {
            r->ok = false;
            return 0;
        }
        value |= static_cast<uint32_t>(r->data[r->bit / 8] >> (r->bit % 8) & 1) << i;
        r->bit++;
    }
    return value;
}

// A canonical code as counts of codes per length and symbols in code order.
struct Huffman {
    uint16_t count[MAX_CODE_BITS + 1];
    uint16_t symbol[LITERAL_SYMBOLS];
};

static void huffman_build(Huffman* h, const uint8_t* lengths, int n)
{
    memset(h->count, 0, sizeof h->count);
    for (int i = 0; i < n; i++)
        h->count[lengths[i]]++;
    uint16_t next[MAX_CODE_BITS + 1] = {};
    for (int len = 1; len < MAX_CODE_BITS; len++)
        next[len + 1] = static_cast<uint16_t>(next[len] + h->count[len]);
    for (int i = 0; i < n; i++) {
        if (lengths[i])
            h->symbol[next[lengths[i]]++] = static_cast<uint16_t>(i);
    }
}

// Codes are read one bit at a time, most significant first; -1 for a code
// the table does not hold.
static int huffman_decode(BitReader* r, const Huffman* h)
{
    int code = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len <= MAX_CODE_BITS && r->ok; len++) {
        code |= static_cast<int>(take_bits(r, 1));
        const int count = h->count[len];
        if (code - first < count)
            return h->symbol[index + code - first];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

// A stored block starts at a byte: its lengths and data are read as bytes.
static bool skip_stored(BitReader* r)
{
    const size_t at = (r->bit + 7) / 8;
    if (at > r->len || r->len - at < STORED_HEADER_BYTES)
        return false;
    const uint32_t len = r->data[at] | static_cast<uint32_t>(r->data[at + 1]) << 8;
    const uint32_t nlen = r->data[at + 2] | static_cast<uint32_t>(r->data[at + 3]) << 8;
    if (len != (~nlen & 0xFFFF) || len > r->len - at - STORED_HEADER_BYTES)
        return false;
    r->bit = (at + STORED_HEADER_BYTES + len) * 8;
    return true;
}

static int length_extra_bits(int code) { return code < 8 || code == LENGTH_CODES - 1 ? 0 : (code - 4) / 4; }
static int distance_extra_bits(int code) { return code < 4 ? 0 : (code - 2) / 2; }

static bool skip_symbols(BitReader* r, const Huffman* literals, const Huffman* distances)
{
    for (;;) {
        const int symbol = huffman_decode(r, literals);
        if (symbol < 0 || !r->ok)
            return false;
        if (symbol == END_OF_BLOCK)
            return true;
        if (symbol < END_OF_BLOCK)
            continue;
        const int length = symbol - FIRST_LENGTH;
        if (length >= LENGTH_CODES)
            return false;
        take_bits(r, length_extra_bits(length));
        const int distance = huffman_decode(r, distances);
        if (distance < 0 || distance >= DISTANCE_CODES)
            return false;
        take_bits(r, distance_extra_bits(distance));
    }
}

static void fixed_codes(Huffman* literals, Huffman* distances)
{
    uint8_t lengths[LITERAL_SYMBOLS];
    memset(lengths, 8, 144);
    memset(lengths + 144, 9, 256 - 144);
    memset(lengths + 256, 7, 280 - 256);
    memset(lengths + 280, 8, LITERAL_SYMBOLS - 280);
    huffman_build(literals, lengths, LITERAL_SYMBOLS);
    memset(lengths, 5, DISTANCE_SYMBOLS);
    huffman_build(distances, lengths, DISTANCE_SYMBOLS);
}

static bool dynamic_codes(BitReader* r, Huffman* literals, Huffman* distances)
{
    static const uint8_t ORDER[CODE_LENGTH_SYMBOLS] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
    const int literal_count = static_cast<int>(take_bits(r, 5)) + FIRST_LENGTH;
    const int distance_count = static_cast<int>(take_bits(r, 5)) + 1;
    const int code_length_count = static_cast<int>(take_bits(r, 4)) + 4;
    uint8_t code_lengths[CODE_LENGTH_SYMBOLS] = {};
    for (int i = 0; i < code_length_count; i++)
        code_lengths[ORDER[i]] = static_cast<uint8_t>(take_bits(r, 3));
    Huffman code_length_code;
    huffman_build(&code_length_code, code_lengths, CODE_LENGTH_SYMBOLS);

    uint8_t lengths[LITERAL_SYMBOLS + DISTANCE_SYMBOLS];
    const int total = literal_count + distance_count;
    for (int n = 0; n < total;) {
        const int symbol = huffman_decode(r, &code_length_code);
        if (symbol < 0 || !r->ok)
            return false;
        if (symbol < 16) {
            lengths[n++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t fill = 0;
        int repeat = 0;
        if (symbol == 16) {
            if (n == 0)
                return false;
            fill = lengths[n - 1];
            repeat = 3 + static_cast<int>(take_bits(r, 2));
        } else if (symbol == 17) {
            repeat = 3 + static_cast<int>(take_bits(r, 3));
        } else {
            repeat = 11 + static_cast<int>(take_bits(r, 7));
        }
        if (repeat > total - n)
            return false;
        memset(lengths + n, fill, static_cast<size_t>(repeat));
        n += repeat;
    }
    huffman_build(literals, lengths, literal_count);
    huffman_build(distances, lengths + literal_count, distance_count);
    return true;
}

size_t inflate_deflate_length(const uint8_t* data, size_t len)
{
    BitReader r = {data, len, 0, true};
    Huffman literals;
    Huffman distances;
    for (;;) {
        const uint32_t last = take_bits(&r, 1);
        const uint32_t type = take_bits(&r, 2);
        bool ok = false;
        if (type == BLOCK_STORED) {
            ok = skip_stored(&r);
        } else if (type == BLOCK_FIXED) {
            fixed_codes(&literals, &distances);
            ok = skip_symbols(&r, &literals, &distances);
        } else if (type == BLOCK_DYNAMIC) {
            ok = dynamic_codes(&r, &literals, &distances) && skip_symbols(&r, &literals, &distances);
        }
        if (!ok || !r.ok)
            return 0;
        if (last)
            return (r.bit + 7) / 8;
    }
}
