# shellcheck shell=bash
# Starts the test server for a script and reads the port it listens on
# (sourced by scripts/run.sh, scripts/check-deb.sh, scripts/check-windows.sh and
# scripts/check-installer.sh).

# start_testserver EXE DATA_DIR PASSWORD OUT ERR [ARG...]: starts EXE on a free
# loopback port with the login sa:PASSWORD and its databases under DATA_DIR,
# standard output to OUT and standard error to ERR, further arguments passed
# on. Sets testserver_pid, and testserver_port once the server printed it (its
# first line); testserver_port stays empty when no port came within 30
# seconds or the server ended first, and the caller says why from ERR.
start_testserver() {
    local exe=$1 data=$2 password=$3 out=$4 err=$5
    shift 5
    "$exe" --port 0 --data-dir "$data" --login "sa:$password" "$@" >"$out" 2>"$err" &
    testserver_pid=$!
    testserver_port=
    for _ in $(seq 300); do
        testserver_port=$(head -n 1 "$out" 2>/dev/null || true)
        [[ $testserver_port =~ ^[0-9]+$ ]] && return 0
        kill -0 "$testserver_pid" 2>/dev/null || break
        sleep 0.1
    done
    testserver_port=
}
