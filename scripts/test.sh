#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (headless); then
# builds the sanitizer subset into build-asan (AddressSanitizer and
# UndefinedBehaviorSanitizer, -DDV_SANITIZE=ON) and runs it there.
# Pass --no-sanitize as the first argument to skip the second stage.
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
ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@"

[[ $sanitize == 1 ]] || exit 0
# The sanitizer subset: the client layer, log, SQL text and console model
# units, the engine tests, and the fault, bad-input, security and fuzz-replay
# tests that drive the window through the real ODBC driver.
asan_tests='tst_(sqltext|oplog|query|resultset|resultmodel|operations|fuzzregress|badinput|security|faults|faults_soak)$|ts_tst_'
asan_targets=(tst_sqltext tst_oplog tst_query tst_resultset tst_resultmodel tst_operations tst_fuzzregress
              tst_badinput tst_security tst_faults tst_faults_soak dorvane-testserver)
for f in "$here"/tests/testserver/tst_*.cpp; do
    asan_targets+=("ts_$(basename "$f" .cpp)")
done
cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDV_SANITIZE=ON >/dev/null
cmake --build "$here/build-asan" --parallel "$(nproc)" --target "${asan_targets[@]}"
cd "$here/build-asan"
# Leaks inside the ODBC driver manager, FreeTDS and the font libraries are
# not ours; they are listed in the suppression file.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$here/fuzz/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure --timeout 900 -j "$(nproc)" -R "$asan_tests"
