// Deflate streams from outside (packed archives, compressed entries, save
// bodies), inflated within the size their container declares.
#pragma once

#include <cstddef>
#include <cstdint>

// zlib's window of 32 KiB; zlib reads raw deflate data when it is negated.
constexpr int ZLIB_WINDOW_BITS = 15;

// Inflates stream, a zlib stream when zlib_header is set and raw deflate
// data otherwise, which must come out exactly expected bytes long; bytes
// after the stream's end are ignored. The output never grows past expected
// + 1 bytes, so a longer stream is refused as soon as it overruns. Returns a
// new buffer of expected bytes (a real one also for 0) that the caller
// frees, or null when the stream is corrupt or cut short, a zlib stream's
// Adler-32 does not match, it comes out another length, or memory runs out.
uint8_t* inflate_exact(const uint8_t* stream, size_t stream_len, size_t expected, bool zlib_header);

// Where inflate_exact_read takes its stream from: fills buffer with up to
// capacity bytes and gives how many, 0 when none are left.
using InflateRead = size_t (*)(void* source, uint8_t* buffer, size_t capacity);

// inflate_exact for a stream of stream_len bytes taken from source piece by
// piece, so that it is never held whole. All stream_len bytes are read; the
// result is null also when source gives fewer.
uint8_t* inflate_exact_read(InflateRead read, void* source, size_t stream_len, size_t expected,
                            bool zlib_header);
