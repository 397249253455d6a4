# shellcheck shell=bash
# Variables are set by the script that sources this file.
# shellcheck disable=SC2034,SC2154
# Drives the Dorvane window under Xvfb by keystrokes only, as an operator
# would (sourced by scripts/check-deb.sh and scripts/check-run.sh).
#
# The caller defines die MESSAGE and sets, before the functions that use them:
#   xd_watch_pid  a process that must stay alive while we wait (the tool, or
#                 the script that started it); xd_watch_err its stderr file
#   xd_title      the window title ("Dorvane1.0.2")
#   xd_win        the main window id, once found (xd_find_main sets it)

# xd_start_xvfb DIR: starts Xvfb on a free display, exports DISPLAY and sets
# xd_xvfb_pid. Its log and display number go to DIR.
xd_start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$1/display" 2>"$1/xvfb.log" &
    xd_xvfb_pid=$!
    for _ in $(seq 100); do [[ -s $1/display ]] && break; sleep 0.1; done
    [[ -s $1/display ]] || die "Xvfb did not start: $(cat "$1/xvfb.log")"
    DISPLAY=:$(head -n 1 "$1/display")
    export DISPLAY
}

# running PID: the child has not ended (kill -0 alone also finds a zombie).
running() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null || true)
    [[ -n $state && $state != Z* ]]
}

visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }

# wait_for SECONDS COMMAND...: polls until COMMAND succeeds; dies when the
# watched process ends meanwhile.
wait_for() {
    local n=$(($1 * 10))
    shift
    for _ in $(seq "$n"); do
        "$@" && return 0
        running "$xd_watch_pid" || die "${xd_watch_name:-dorvane} exited: $(tail -5 "$xd_watch_err")"
        sleep 0.1
    done
    return 1
}

xd_title_re() { local t=${xd_title//./\\.}; echo "^$t\$"; }
one_window() { [[ $(visible "$(xd_title_re)" | wc -l) -eq 1 ]]; }
two_windows() { [[ $(visible "$(xd_title_re)" | wc -l) -eq 2 ]]; }

# xd_find_main SECONDS: waits for the one main window and sets xd_win.
xd_find_main() {
    wait_for "$1" one_window || die "no window titled $xd_title"
    xd_win=$(visible "$(xd_title_re)")
}

# Without a window manager nobody hands the focus back to the main window
# when a box closes; do what a window manager would.
focus_main() { xdotool windowfocus --sync "$xd_win"; sleep 0.3; }
typed() { xdotool type --delay 25 "$1"; }
key() { xdotool key --delay 60 "$@"; }

# xd_login SERVER USER PASSWORD: the login page's Enter chain, from the
# server field (where the focus is at start) through the password.
xd_login() {
    focus_main
    typed "$1"; key Return Return
    typed "$2"; key Return
    typed "$3"; key Return
}

# xd_backup DATABASE FILE: on the backup page (Alt+B), the database and the
# file by keystrokes; waits for the outcome box, which stays open.
xd_backup() {
    sleep 0.5
    key alt+b
    sleep 0.5
    if two_windows; then
        die "Alt+B brought a message box instead of the backup page (not logged in?)"
    fi
    typed "$1"; key Return
    typed "$2"; key Return
    wait_for 30 two_windows || die "no outcome box after the backup"
}

# xd_close_with_alt_x PID SECONDS: closes the window with the backup page's
# exit button (Alt+X) and waits until PID has ended.
xd_close_with_alt_x() {
    focus_main
    key alt+b
    sleep 0.5
    key alt+x
    for _ in $(seq $(($2 * 10))); do running "$1" || return 0; sleep 0.1; done
    return 1
}
