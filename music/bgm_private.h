// Helpers shared by the music player's source files.
#pragma once

// Closes both decoders, frees their OGG bytes and stops. The caller holds the
// device lock, so the audio thread never sees a half-released track.
void bgm_tear_down_locked();
