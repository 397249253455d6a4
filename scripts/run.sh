#!/usr/bin/env bash
# Installs what is missing, builds the tool and the test server (not the
# tests), starts the test server as a demo backend, prints its address and
# login, and runs Dorvane. The server stops when Dorvane ends, however it
# ends, and when this script is interrupted or terminated.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=lib/testserver.sh
. "$here/scripts/lib/testserver.sh"
"$here/scripts/setup-deps.sh"
"$here/scripts/build.sh" "$here/build" dorvane dorvane-testserver

demo="$here/demo"
mkdir -p "$demo/data" "$demo/files"
password="Demo-$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')"
server_pid=
app_pid=
# shellcheck disable=SC2317 # run by the EXIT trap
stop() {
    for p in $app_pid $server_pid; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
start_testserver "$here/build/testserver/dorvane-testserver" "$demo/data" "$password" \
  "$demo/testserver.out" "$demo/testserver.log"
server_pid=$testserver_pid
port=$testserver_port
if [[ -z "$port" ]]; then
    echo "The demo server did not start; its log ($demo/testserver.log):" >&2
    cat "$demo/testserver.log" >&2
    exit 1
fi
cat <<MSG

  Demo server (dorvane-testserver) is listening.
    SQL服务器:     127.0.0.1,$port
    登录用户名:     sa
    登录用户密码:   $password
  Database and backup files can go under: $demo/files

MSG
# Dorvane runs in the background so that a signal to this script is handled
# at once (bash defers traps while it waits for a foreground child).
"$here/build/src/app/dorvane" &
app_pid=$!
rc=0
wait "$app_pid" || rc=$?
app_pid=
exit "$rc"
