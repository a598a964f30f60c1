#!/usr/bin/env bash
# Builds the engine and plays a game.
#   ./run.sh              builds the bundled demo game and plays it
#   ./run.sh GAME_FOLDER  plays the game data in GAME_FOLDER (base.dat, script.dat, ...)
# The game's config.ini is kept in the folder the game runs in.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
bash "$root/.ci/install-deps.sh" play
# The player's build states its options each time: a folder that a test or
# sanitizer build used before never plays with theirs.
cmake -S "$root" -B "$root/build" -DKAVREL_WERROR=OFF -DKAVREL_SANITIZE=OFF -DKAVREL_TSAN=OFF \
  -DKAVREL_FUZZ=OFF > /dev/null
cmake --build "$root/build" -j"$(nproc)" --target kavrel
if [ $# -ge 1 ]; then
  game_dir="$(cd "$1" && pwd)"
else
  cmake --build "$root/build" -j"$(nproc)" --target demo
  game_dir="$root/build/demo/game"
fi
cd "$game_dir"
exec "$root/build/kavrel"
