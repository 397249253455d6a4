#!/usr/bin/env bash
# Configures and builds Dorvane into build/ (or $1): every target, or only the
# targets named after the folder. scripts/test.sh and scripts/run.sh both
# build through here, so they configure the folder with the very same
# arguments and one never rebuilds what the other built. Warnings in src/
# and testserver/ are errors (-DDV_WERROR=ON).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
shift || true
type=${DV_BUILD_TYPE:-RelWithDebInfo}
# shellcheck disable=SC2086 # DV_CMAKE_ARGS holds several arguments
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DDV_WERROR=ON ${DV_CMAKE_ARGS:-} >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
