#!/usr/bin/env bash
# Runs the README's run command as a newcomer would, under Xvfb (CI runs it
# after scripts/test.sh, with --built):
#   1. starts scripts/run.sh and reads the demo server's address, password and
#      file folder from what it prints;
#   2. by keystrokes only: logs in through the login page's Enter chain, backs
#      up master into that folder, closes the window with Alt+X; checks the
#      backup file, that run.sh ends with status 0, and that neither the demo
#      server nor anything else run.sh started is left running;
#   3. runs scripts/run.sh again and kills the window: the demo server must
#      stop with it.
# With --built the tree was built by scripts/test.sh just before: run.sh must
# then rebuild nothing ("ninja: no work to do."). The second run must never
# rebuild anything. Needs xdotool, Xvfb and ps (installed with apt as root
# when missing). The work folder is removed on success and kept on failure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=lib/xdrive.sh
. "$here/scripts/lib/xdrive.sh"

built=0
[[ ${1:-} == --built ]] && built=1

passed=0
ok() { passed=$((passed + 1)); echo "ok $passed - $*"; }
die() { echo "FAIL: $*" >&2; exit 1; }

tools=(xvfb xauth xdotool procps)
missing=()
for p in "${tools[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [[ ${#missing[@]} -gt 0 ]]; then
    [[ $(id -u) -eq 0 ]] || die "missing ${missing[*]}; install them or run as root"
    echo "check-run: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get -y -qq -o DPkg::Lock::Timeout=600 update
    apt-get -y -qq -o DPkg::Lock::Timeout=600 install --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d /var/tmp/dorvane-run.XXXXXX)
run_pid=
xvfb_pid=
cleanup() {
    local rc=$?
    # run.sh leads its own session (setsid): end whatever of it is left.
    [[ -z $run_pid ]] || pkill -TERM -s "$run_pid" 2>/dev/null || true
    [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    if [[ $rc -eq 0 ]]; then
        rm -rf "$work"
    else
        echo "check-run: failed; work folder kept: $work" >&2
    fi
}
trap cleanup EXIT
# A fatal signal would skip the EXIT trap and leave run.sh's session running.
trap 'exit 143' TERM
trap 'exit 130' INT

xd_start_xvfb "$work"
xvfb_pid=$xd_xvfb_pid
xd_title="Dorvane$(sed -n 's/^project(Dorvane VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")"
xd_watch_name=scripts/run.sh

# start_run N: starts scripts/run.sh in a session of its own, its output in
# $work/runN.out; sets run_pid and the watched process.
start_run() {
    setsid env -u QT_QPA_PLATFORM "$here/scripts/run.sh" >"$work/run$1.out" 2>&1 </dev/null &
    run_pid=$!
    xd_watch_pid=$run_pid
    xd_watch_err=$work/run$1.out
}
# printed LABEL: the value run.sh printed after LABEL.
printed() { sed -n "s/^ *$1 *//p" "$run_out" | head -n 1; }
has_address() { [[ -n $(printed 'SQL服务器:') ]]; }
# session_left SID: the processes of that session still running (zombies aside).
session_left() { ps -eo sid=,stat=,pid=,comm= | awk -v s="$1" '$1 == s && $2 !~ /^Z/ {print $3, $4}'; }
# ended_cleanly: run.sh has ended (its status in run_rc), and nothing of its
# session is left.
ended_cleanly() {
    local left
    for _ in $(seq 300); do running "$run_pid" || break; sleep 0.1; done
    ! running "$run_pid" || die "run.sh did not end after the window closed"
    run_rc=0
    wait "$run_pid" || run_rc=$?
    for _ in $(seq 50); do left=$(session_left "$run_pid"); [[ -z $left ]] && break; sleep 0.1; done
    [[ -z $left ]] || die "left running after run.sh ended: $left"
}
session_pid() { { pgrep -s "$run_pid" -f "$1" || true; } | head -n 1; }

# --- first run: log in, back up, close ---------------------------------------
start_run 1
run_out=$work/run1.out
xd_find_main 1800
wait_for 10 has_address || die "run.sh printed no server address: $(cat "$run_out")"
if [[ $built == 1 ]]; then
    grep -qx 'ninja: no work to do.' "$run_out" ||
        die "run.sh rebuilt after scripts/test.sh: $(grep -E '^\[[0-9]+/[0-9]+\]' "$run_out" | tail -3)"
    ok "run.sh after scripts/test.sh: ninja: no work to do."
fi
server=$(printed 'SQL服务器:')
user=$(printed '登录用户名:')
pw=$(printed '登录用户密码:')
folder=$(sed -n 's/^ *Database and backup files can go under: //p' "$run_out")
[[ $server =~ ^127\.0\.0\.1,[0-9]+$ && $user == sa && -n $pw && -d $folder ]] ||
    die "run.sh printed server '$server', user '$user', folder '$folder'"
server_pid=$(session_pid /build/testserver/dorvane-testserver)
[[ -n $server_pid ]] || die "no demo server among run.sh's processes"
ok "run.sh printed the demo server's address ($server), the login and the folder $folder; the window is up"

bak=$folder/CHECKRUN.BAK
rm -f "$bak"
xd_login "$server" "$user" "$pw"
xd_backup master "$bak"
[[ -s $bak ]] || die "no backup file at $bak"
ok "logged in and backed up master by keystrokes: $bak ($(stat -c %s "$bak") bytes)"
rm -f "$bak"

key Return
wait_for 10 one_window || die "the outcome box did not close on Enter"
xd_close_with_alt_x "$run_pid" 30 || die "Alt+X did not close the window (or run.sh did not end)"
ended_cleanly
[[ $run_rc -eq 0 ]] || die "run.sh ended with status $run_rc: $(tail -5 "$run_out")"
! running "$server_pid" || die "the demo server ($server_pid) still runs"
ok "Alt+X closed the window; run.sh ended with status 0, the demo server and everything run.sh started stopped"

# --- second run: the window killed --------------------------------------------
start_run 2
run_out=$work/run2.out
xd_find_main 120
grep -qx 'ninja: no work to do.' "$run_out" || die "the second run.sh rebuilt: $(grep -E '^\[' "$run_out" | tail -3)"
server_pid=$(session_pid /build/testserver/dorvane-testserver)
app_pid=$(session_pid /build/src/app/dorvane)
[[ -n $server_pid && -n $app_pid ]] || die "second run: no demo server or no dorvane among run.sh's processes"
kill -KILL "$app_pid"
ended_cleanly
! running "$server_pid" || die "the demo server ($server_pid) outlived the killed window"
ok "second run rebuilt nothing; with the window killed, run.sh ended (status $run_rc) and stopped the demo server"

echo "check-run: $passed passed, 0 failed"
