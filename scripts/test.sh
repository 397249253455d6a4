#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (headless); then
# builds everything again into build-asan (AddressSanitizer and
# UndefinedBehaviorSanitizer, -DDV_SANITIZE=ON) and runs the suite there.
# Pass --no-sanitize as the first argument to skip the second stage; further
# arguments go to both ctest runs. The first build is scripts/build.sh's, the
# one scripts/run.sh uses too (warnings in src/ and testserver/ are errors).
# Each test has its own TIMEOUT.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
sanitize=1
if [[ "${1:-}" == --no-sanitize ]]; then
    sanitize=0
    shift
fi
"$here/scripts/setup-deps.sh"
"$here/scripts/build.sh" "$here/build"
cd "$here/build"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j "$(nproc)" "$@"

[[ $sanitize == 1 ]] || exit 0
# The whole suite again under the sanitizers. sh_streaming is left out: it
# checks the server's resident memory, which ASan's allocator inflates.
cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDV_SANITIZE=ON \
  ${DV_CMAKE_ARGS:-} >/dev/null
cmake --build "$here/build-asan" --parallel "$(nproc)"
cd "$here/build-asan"
# Leaks inside the ODBC driver manager, FreeTDS and the font libraries are
# not ours; they are listed in the suppression file.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$here/fuzz/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure -j "$(nproc)" -E "^sh_streaming$" "$@"
