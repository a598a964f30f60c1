#!/usr/bin/env bash
# Builds the demo game's data from the sources in demo/ with the tools.
#   build-demo.sh TOOLS_DIR OUT_DIR
# OUT_DIR/game then holds base.dat, hd.dat, script.dat and script_en.dat.
set -euo pipefail
tools="$1"
out="$2"
demo="$(cd "$(dirname "$0")" && pwd)"

rm -rf "$out/stage" "$out/game"
mkdir -p "$out/stage/art" "$out/stage/base" "$out/stage/hd" "$out/game"

"$tools/kvr-demo-art" "$out/stage/art"
"$tools/kvr-font-atlas" "$out/stage/base"

# base.dat: the manifest, SD pictures and music, the splash and both fonts;
# hd.dat: the HD pictures and music under their img/hd/ and bgm/hd/ names.
cp "$demo/manifest.json" "$out/stage/art/splash.png" "$out/stage/base/"
mkdir -p "$out/stage/base/img" "$out/stage/base/bgm" "$out/stage/hd/img" "$out/stage/hd/bgm"
cp "$out/stage/art/img/"*.png "$out/stage/base/img/"
cp "$out/stage/art/bgm/"*.ogg "$out/stage/base/bgm/"
cp -r "$out/stage/art/img/hd" "$out/stage/hd/img/"
cp -r "$out/stage/art/bgm/hd" "$out/stage/hd/bgm/"
"$tools/kvr-pack" --zlib "$out/game/base.dat" "$out/stage/base"
"$tools/kvr-pack" --hd "$out/game/hd.dat" "$out/stage/hd"

# One scenario archive per language, in the packed form.
"$tools/kvs-asm" "$demo/script.kvs" "$out/stage/ja"
"$tools/kvs-asm" "$demo/script_en.kvs" "$out/stage/en"
"$tools/kvr-pack" --packed "$out/game/script.dat" "$out/stage/ja"
"$tools/kvr-pack" --packed "$out/game/script_en.dat" "$out/stage/en"
