#!/usr/bin/env bash
# Runs a tool that writes OUT (a file, or a folder of files), with the argument
# OUT replaced by a fresh temporary path beside it, then renames what the tool
# wrote into place file by file. A running game never sees half an archive,
# two builds at once never write into the same file, and nothing else in the
# folder (a player's config.ini) is touched.
#   into-place.sh OUT TOOL ARG...
set -euo pipefail
out="$1"
shift
mkdir -p "$(dirname "$out")"
scratch="$(mktemp -d "$out.tmp-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
args=()
for arg in "$@"; do
  [ "$arg" = "$out" ] && arg="$scratch/out"
  args+=("$arg")
done
"${args[@]}" > /dev/null
if [ -d "$scratch/out" ]; then
  (cd "$scratch/out" && find . -type f) | while read -r file; do
    mkdir -p "$(dirname "$out/$file")"
    mv -f "$scratch/out/$file" "$out/$file"
  done
else
  mv -f "$scratch/out" "$out"
fi
