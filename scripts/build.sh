#!/usr/bin/env bash
# Configures and builds Dorvane into build/ (or $1).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
type=${DV_BUILD_TYPE:-RelWithDebInfo}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" ${DV_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --parallel "$(nproc)"
