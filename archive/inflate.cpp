// Bounded inflation with zlib: the output never grows past the size the
// container declares, and a zlib stream's Adler-32 is checked.
#include "inflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <new>

// No deflate data comes out more than 1032 times longer than it is (a
// 258-byte match in two bits), so a larger declared size is a lie that needs
// no inflating to refuse, and no buffer of that size is ever reserved.
constexpr size_t DEFLATE_MAX_RATIO = 1032;
// A stream read piece by piece is read this much at a time. zlib copies its
// window after every call, so large pieces keep that copy a small share.
constexpr size_t INFLATE_PIECE_BYTES = 524288;

// Whether a stream of stream_len bytes may come out expected bytes long.
static bool inflate_sizes_plausible(size_t stream_len, size_t expected)
{
    return stream_len <= static_cast<size_t>(INT_MAX) && expected < static_cast<size_t>(INT_MAX) &&
           expected / DEFLATE_MAX_RATIO <= stream_len;
}

// The inflater with room for one byte more than expected: a stream that
// runs on fills it and is caught. Null when out of memory.
static uint8_t* inflate_begin(z_stream* z, size_t expected, bool zlib_header)
{
    uint8_t* out = static_cast<uint8_t*>(malloc(expected + 1));
    if (out && inflateInit2(z, zlib_header ? ZLIB_WINDOW_BITS : -ZLIB_WINDOW_BITS) != Z_OK) {
        free(out);
        return nullptr;
    }
    z->next_out = out;
    z->avail_out = static_cast<uInt>(expected + 1);
    return out;
}

// The output once the stream came out exactly expected bytes long; the end
// comes only once a zlib stream's checksum matched. Null, freed, otherwise.
static uint8_t* inflate_finish(z_stream* z, uint8_t* out, bool ended, size_t expected)
{
    const bool exact = ended && z->total_out == expected;
    inflateEnd(z);
    if (!exact) {
        free(out);
        return nullptr;
    }
    return out;
}

uint8_t* inflate_exact(const uint8_t* stream, size_t stream_len, size_t expected, bool zlib_header)
{
    z_stream z = {};
    uint8_t* out =
        inflate_sizes_plausible(stream_len, expected) ? inflate_begin(&z, expected, zlib_header) : nullptr;
    if (!out)
        return nullptr;
    z.next_in = const_cast<Bytef*>(stream);
    z.avail_in = static_cast<uInt>(stream_len);
    return inflate_finish(&z, out, inflate(&z, Z_FINISH) == Z_STREAM_END, expected);
}

uint8_t* inflate_exact_read(InflateRead read, void* source, size_t stream_len, size_t expected,
                            bool zlib_header)
{
    const size_t piece_len = std::min(stream_len, INFLATE_PIECE_BYTES);
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[piece_len]);
    z_stream z = {};
    uint8_t* out = piece && inflate_sizes_plausible(stream_len, expected)
                       ? inflate_begin(&z, expected, zlib_header)
                       : nullptr;
    if (!out)
        return nullptr;
    size_t left = stream_len;
    int result = Z_OK;
    while (result == Z_OK && z.avail_out > 0) {
        if (z.avail_in == 0) {
            const size_t n = left ? read(source, piece.get(), std::min(left, piece_len)) : 0;
            if (n == 0)
                break;
            left -= n;
            z.next_in = piece.get();
            z.avail_in = static_cast<uInt>(n);
        }
        result = inflate(&z, Z_NO_FLUSH);
    }
    // What follows the stream's end is not used, but the whole length must be there.
    while (result == Z_STREAM_END && left > 0) {
        const size_t n = read(source, piece.get(), std::min(left, piece_len));
        if (n == 0)
            break;
        left -= n;
    }
    return inflate_finish(&z, out, result == Z_STREAM_END && left == 0, expected);
}
