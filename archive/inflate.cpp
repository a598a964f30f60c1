// Bounded inflation with zlib: the output never grows past the size the
// container declares, and a zlib stream's Adler-32 is checked.
#include "inflate.h"

#include <zlib.h>

#include <climits>
#include <cstdlib>

// No deflate data comes out more than 1032 times longer than it is (a
// 258-byte match in two bits), so a larger declared size is a lie that needs
// no inflating to refuse, and no buffer of that size is ever reserved.
constexpr size_t DEFLATE_MAX_RATIO = 1032;
// A 32 KiB window; zlib reads raw deflate data when the bits are negated.
constexpr int ZLIB_WINDOW_BITS = 15;

uint8_t* inflate_exact(const uint8_t* stream, size_t stream_len, size_t expected, bool zlib_header)
{
    if (stream_len > static_cast<size_t>(INT_MAX) || expected >= static_cast<size_t>(INT_MAX) ||
        expected / DEFLATE_MAX_RATIO > stream_len)
        return nullptr;
    // One byte more than expected: a stream that runs on fills it and is caught.
    const size_t capacity = expected + 1;
    uint8_t* out = static_cast<uint8_t*>(malloc(capacity));
    if (!out)
        return nullptr;
    z_stream z = {};
    bool exact = false;
    if (inflateInit2(&z, zlib_header ? ZLIB_WINDOW_BITS : -ZLIB_WINDOW_BITS) == Z_OK) {
        z.next_in = const_cast<Bytef*>(stream);
        z.avail_in = static_cast<uInt>(stream_len);
        z.next_out = out;
        z.avail_out = static_cast<uInt>(capacity);
        // The end comes only once a zlib stream's checksum matched.
        exact = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == expected;
        inflateEnd(&z);
    }
    if (!exact) {
        free(out);
        return nullptr;
    }
    return out;
}
