// PNG files built chunk by chunk, for what an encoder would not write:
// interlaced or 16-bit pictures, and data that does not match the header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "test_support.h"

// Colour types of the PNG header.
constexpr uint8_t PNG_GREY = 0;
constexpr uint8_t PNG_RGB = 2;
constexpr uint8_t PNG_RGBA = 6;

// A PNG declaring w x h pixels of the given bit depth, colour type and
// interlacing, whose pixel data (every row's filter byte and samples) is
// data, deflated by zlib, with right checksums.
Bytes png_file(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced, const Bytes& data);
// The same from a zlib stream, cut into data chunks of chunk_bytes.
Bytes png_from_stream(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced,
                      const Bytes& stream, size_t chunk_bytes);
// The same with zero pixel data as long as a valid picture's, plus extra
// bytes; with zlib_refuses, in a stream only the picture decoder reads.
Bytes png_blank(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced, size_t extra = 0,
                bool zlib_refuses = false);
// A zlib stream of data: zlib's deflate data left open at a byte boundary,
// then a last block of fixed codes and the checksum. With unused_symbol that
// block holds length symbol 286, which the format leaves unused (zlib refuses
// it, the picture decoder copies nothing); without, it is empty, and the
// stream's last byte before the checksum holds only zero bits.
Bytes stream_with_fixed_last_block(const Bytes& data, bool unused_symbol);
