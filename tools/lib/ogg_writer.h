// Encodes PCM to OGG Vorbis in memory, for the demo's music and for test fixtures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int OGG_WRITER_DEFAULT_RATE = 44100;
constexpr float OGG_WRITER_DEFAULT_QUALITY = 0.4f;  // libvorbis VBR quality, -0.1 to 1.0
constexpr int OGG_WRITER_MAX_CHANNELS = 8;           // the format's standard layouts, up to 7.1

// The OGG Vorbis file holding `frames` frames of interleaved signed 16-bit PCM
// with the given channel count (1 to 8) and rate, and a COMMENT tag when
// comment is not null. Zero frames give a valid stream with headers and no
// audio. Empty on bad arguments or encoder failure.
std::vector<uint8_t> ogg_encode_vorbis(const int16_t* samples, size_t frames, int channels,
                                       int rate = OGG_WRITER_DEFAULT_RATE,
                                       float quality = OGG_WRITER_DEFAULT_QUALITY, const char* comment = nullptr);
