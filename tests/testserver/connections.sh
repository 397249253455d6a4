#!/bin/bash
# Several clients at once, and malformed input on one connection that must
# not disturb the others.
source "$(dirname "$0")/lib/common.sh"

start_server

start=$(date +%s%N)
pids=()
for i in 1 2 3 4 5 6; do
    printf "WAITFOR DELAY '00:00:02'\nSELECT $i * 100 AS client_$i\ngo\nexit\n" | tsql_run >"$WORK/client$i.out" &
    pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
for i in 1 2 3 4 5 6; do
    expect_contains "client $i got its own answer" "$(cat "$WORK/client$i.out")" "$((i * 100))"
done
(( elapsed_ms < 8000 )) || fail "six 2-second clients took ${elapsed_ms} ms: not served at once"
ok "six clients with a 2 s wait each finished in ${elapsed_ms} ms"

# A client in the middle of its work while garbage arrives on other connections.
printf "WAITFOR DELAY '00:00:02'\nSELECT 'survivor' AS s\ngo\nexit\n" | tsql_run >"$WORK/survivor.out" &
survivor=$!
sleep 0.3
send_bytes() { # send_bytes PRINTF-FORMAT: writes to a new connection, then closes it
    exec 3<>"/dev/tcp/127.0.0.1/$PORT" || fail "cannot connect"
    printf "$1" >&3
    sleep 0.2
    exec 3>&- 3<&-
}
send_bytes 'GET / HTTP/1.0\r\n\r\n'
send_bytes '\x12\x01\x00\x03\x00\x00\x00\x00'
send_bytes '\x12\x01\x00\x10\x00\x00\x00\x00\x00\x00\x50\x00\x06\xff\x00\x00'
send_bytes '\x10\x01\x00\x20\x00\x00\x01\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff'
send_bytes '\x12\x01\x10\x00\x00\x00\x00\x00abc'
head -c 3000 /dev/urandom >"$WORK/random.bin"
exec 3<>"/dev/tcp/127.0.0.1/$PORT" && cat "$WORK/random.bin" >&3; exec 3>&- 3<&-
wait "$survivor"
expect_contains "a client working during the garbage is not disturbed" "$(cat "$WORK/survivor.out")" "survivor"
kill -0 "$SERVER_PID" || fail "the server died on malformed input"
ok "the server is still running"
out=$(printf "SELECT 'after garbage' AS s\ngo\nexit\n" | tsql_run)
expect_contains "new clients are served after the garbage" "$out" "after garbage"

stop_server
done_checks
