#!/bin/bash
# Several clients at once, and malformed input on one connection that must
# not disturb the others.
source "$(dirname "$0")/lib/common.sh"

start_server

# Five clients inside a long WAITFOR and a sixth one that must be answered
# while all five are still waiting: a server that serves one connection at a
# time would keep the sixth behind them.
pids=()
for i in 1 2 3 4 5; do
    printf "WAITFOR DELAY '00:00:20'\nSELECT $i * 100 AS client_$i\ngo\nexit\n" | tsql_run >"$WORK/client$i.out" &
    pids+=($!)
done
sleep 0.5
out=$(printf "SELECT 600 AS client_6\ngo\nexit\n" | tsql_run)
expect_contains "client 6 got its own answer" "$out" "600"
for i in 1 2 3 4 5; do
    kill -0 "${pids[$((i - 1))]}" 2>/dev/null || fail "client $i ended before client 6 was answered"
done
ok "client 6 was answered while the five others were still waiting"
for p in "${pids[@]}"; do wait "$p"; done
for i in 1 2 3 4 5; do
    expect_contains "client $i got its own answer" "$(cat "$WORK/client$i.out")" "$((i * 100))"
done

# A client in the middle of its work while garbage arrives on other connections.
printf "WAITFOR DELAY '00:00:02'\nSELECT 'survivor' AS s\ngo\nexit\n" | tsql_run >"$WORK/survivor.out" &
survivor=$!
sleep 0.3
send_bytes() { # send_bytes PRINTF-FORMAT: writes to a new connection, then closes it
    exec 3<>"/dev/tcp/127.0.0.1/$PORT" || fail "cannot connect"
    # printf may write in pieces, and the server may reset the connection
    # after the first: a write then fails, and must not kill this script.
    (trap '' PIPE; printf "$1" >&3) 2>/dev/null
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
