#!/usr/bin/env bash
# Builds the engine and runs the whole test suite.
#   KAVREL_BUILD_DIR   build folder (default: build-test)
#   KAVREL_CMAKE_ARGS  extra CMake arguments, e.g. -DKAVREL_SANITIZE=ON
# Compiler warnings are errors here, unlike in a plain CMake build. Every
# option is stated at each run, so a folder never keeps one from an earlier
# run: a sanitized build stays sanitized only while it is asked for.
set -euo pipefail
cd "$(dirname "$0")"
bash .ci/install-deps.sh play test
build_dir="${KAVREL_BUILD_DIR:-build-test}"
cmake -S . -B "$build_dir" -DKAVREL_WERROR=ON -DKAVREL_TESTS=ON \
  -DKAVREL_SANITIZE=OFF -DKAVREL_TSAN=OFF -DKAVREL_FUZZ=OFF ${KAVREL_CMAKE_ARGS:-}
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
