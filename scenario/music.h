// TEMPORARY stand-in for include/music.h until the music player lands; delete on merge.
#pragma once

#include <cstdint>

void bgm_play_track(uint32_t id);
void bgm_stop();
