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
// The same with zero pixel data as long as a valid picture's, plus extra bytes.
Bytes png_blank(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced, size_t extra = 0);
