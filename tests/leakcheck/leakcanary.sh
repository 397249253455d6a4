#!/bin/bash
# The leak check must see our leaks: runs leakcanary (a slot called through Qt
# that leaks 77 bytes) under the project's suppression file and requires
# LeakSanitizer to report that leak. As a control it runs the canary again
# with a suppression of the whole QtCore library, which must hide it; so this
# test tells a suppression file that hides our leaks from one that does not.
# Usage: leakcanary.sh LEAKCANARY-EXE SUPPRESSION-FILE
set -u
exe=$1
supp=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

run_canary() { # run_canary SUPPRESSIONS-FILE OUTPUT-FILE; returns the exit status
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    LSAN_OPTIONS=suppressions=$1:print_suppressions=0:exitcode=23 \
        "$exe" >"$2" 2>&1
}

run_canary "$supp" "$work/project.out"
status=$?
cat "$work/project.out"
[[ $status == 23 ]] || fail "the leak was not reported under $supp (exit status $status)"
grep -q "ERROR: LeakSanitizer: detected memory leaks" "$work/project.out" || fail "no LeakSanitizer report"
grep -q "Direct leak of 77 byte(s)" "$work/project.out" || fail "the 77-byte leak is not in the report"
grep -q "leakFromSlot" "$work/project.out" || fail "the report does not name the leaking slot"
echo "ok: the 77-byte leak from the slot is reported under $supp"

printf 'leak:libQt6Core\n' >"$work/broad.supp"
run_canary "$work/broad.supp" "$work/broad.out"
status=$?
[[ $status == 0 ]] || { cat "$work/broad.out"; fail "control: a whole-QtCore suppression did not hide the leak (exit status $status)"; }
grep -q "leaked 77 bytes" "$work/broad.out" || fail "control: the canary did not run its slot"
echo "ok: control: suppressing all of QtCore hides the same leak"
