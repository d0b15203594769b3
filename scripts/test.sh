#!/usr/bin/env bash
# Sets up, builds and runs every test: the README's test command and what CI runs.
#   scripts/test.sh                  Release build in build/
#   SANITIZER=address,undefined scripts/test.sh   the same under the sanitizers, in build-san/
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

build_dir=build
extra=()
if [[ -n "${SANITIZER:-}" ]]; then
    build_dir=build-san
    extra+=(-DSANITIZER="$SANITIZER" -DACL3_BUILD_BENCH=OFF)
fi

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DACL3_WERROR=ON "${extra[@]}"
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j2
