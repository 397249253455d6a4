#!/usr/bin/env bash
# Long-session soak: logs in to a private test server and runs N mixed
# maintenance operations and console statements (default 10000), then checks
# that resident memory stayed within 10 % of its post-warm-up level and that
# no descriptor leaked. Not part of the default test run.
#   scripts/soak.sh [N] [build-dir]
# With VALGRIND=1 it runs a short round under valgrind's leak checker instead.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-10000}
build=${2:-"$here/build"}
cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target tst_faults_soak dorvane-testserver
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
if [[ "${VALGRIND:-0}" == 1 ]]; then
    exec valgrind --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=3 \
        "$build/tests/tst_faults_soak" --soak "$n"
fi
exec "$build/tests/tst_faults_soak" --soak "$n"
