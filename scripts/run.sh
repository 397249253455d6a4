#!/usr/bin/env bash
# Installs what is missing, builds, starts the local test server as a demo
# backend, prints its address and login, and runs Dorvane. The server stops
# when Dorvane closes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup-deps.sh"
"$here/scripts/build.sh" "$here/build"

demo="$here/demo"
mkdir -p "$demo/data" "$demo/files"
password="Demo-$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')"
fifo=$(mktemp -u)
mkfifo "$fifo"
"$here/build/testserver/dorvane-testserver" --port 0 --data-dir "$demo/data" \
  --login "sa:$password" >"$fifo" 2>"$demo/testserver.log" &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true; rm -f "$fifo"' EXIT
exec 3<"$fifo"
if ! read -r port <&3 || [[ -z "$port" ]]; then
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
# Keep draining the server's stdout so it never blocks on a full pipe.
cat <&3 >/dev/null &
"$here/build/src/dorvane"
