#!/usr/bin/env bash
# Builds the engine and starts it in a game folder (default: the current folder).
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
game_dir="$(cd "${1:-.}" && pwd)"
bash "$root/.ci/install-deps.sh"
cmake -S "$root" -B "$root/build" > /dev/null
cmake --build "$root/build" -j"$(nproc)" --target kavrel
cd "$game_dir"
exec "$root/build/kavrel"
