// Deflate streams from outside (packed archives, compressed entries, save
// bodies), inflated within the size their container declares.
#pragma once

#include <cstddef>
#include <cstdint>

// Inflates stream, a zlib stream when zlib_header is set and raw deflate
// data otherwise, which must come out exactly expected bytes long. The output
// never grows past expected + 1 bytes, so a longer stream is refused as soon
// as it overruns. Returns a new buffer of expected bytes (a real one also for
// 0) that the caller frees, or null when the stream is corrupt, comes out
// another length, or memory runs out.
uint8_t* inflate_exact(const uint8_t* stream, size_t stream_len, size_t expected, bool zlib_header);

// Inflates stream (zlib or raw deflate, as above) into out, which holds
// capacity bytes. The length inflated, or -1 when the stream is corrupt,
// longer than capacity, or too long for the inflater.
int inflate_into(uint8_t* out, int capacity, const uint8_t* stream, size_t stream_len, bool zlib_header);

// Bytes taken by the raw deflate data at the start of data, up to the byte
// that holds its last bit: where a trailer behind it begins. 0 when data does
// not hold a whole deflate stream.
size_t inflate_deflate_length(const uint8_t* data, size_t len);
