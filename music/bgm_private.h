// Helpers shared by the music player's source files.
#pragma once

#include <cstddef>
#include <cstdint>

// What one decoder may take for its tables and its scratch space. The game's
// stereo tracks need about 250 KB and a 5.1 file at the encoder's top quality
// about 870 KB; 8192-sample windows, which the format allows, bring a 5.1
// file to about 1.4 MB. Comment texts come on top (see bgm_check_headers).
constexpr size_t BGM_DECODER_ARENA_BYTES = 2 * 1024 * 1024;

// The decoder rounds each block it takes from its arena up to this size.
constexpr size_t BGM_DECODER_ALIGN = 8;

// Closes both decoders, frees their OGG bytes and stops. The caller holds the
// device lock, so the audio thread never sees a half-released track.
void bgm_tear_down_locked();

// True when the OGG file's Vorbis comment header keeps every length it states
// inside its own packet and no codebook's value table could outgrow a
// decoder's arena; the decoder must not be given a file that fails this.
// *comment_bytes is what the decoder will take from its arena to copy the
// comments: it grows with the file itself, not with what the file claims.
bool bgm_check_headers(const uint8_t* data, size_t len, size_t* comment_bytes);
