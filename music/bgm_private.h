// Helpers shared by the music player's source files.
#pragma once

#include <cstddef>
#include <cstdint>

// Closes both decoders, frees their OGG bytes and stops. The caller holds the
// device lock, so the audio thread never sees a half-released track.
void bgm_tear_down_locked();

// True when the OGG file's Vorbis comment header keeps every length it states
// inside its own packet; the decoder must not be given a file that fails this.
bool bgm_check_comment_header(const uint8_t* data, size_t len);
