#!/bin/bash
# The fault switches: --drop-after, --stall-login, --die-after.
source "$(dirname "$0")/lib/common.sh"

start_server --drop-after 2
out=$(tsql_run <<'SQL'
SELECT 'one' AS r1
go
SELECT 'two' AS r2
go
SELECT 'three' AS r3
go
exit
SQL
)
expect_contains "drop-after: first request answered" "$out" "one"
expect_contains "drop-after: second request answered" "$out" "two"
expect_not_contains "drop-after: third request not answered" "$out" "three"
out=$(printf "SELECT 'fresh' AS f\ngo\nexit\n" | tsql_run)
expect_contains "drop-after: a new connection works" "$out" "fresh"
stop_server

start_server --stall-login
# The client connects but its login is never answered: it is still waiting
# when `timeout` ends it.
out=$(printf "SELECT 1\ngo\nexit\n" | timeout 5 tsql -H 127.0.0.1 -p "$PORT" -U sa -P "$PW" 2>&1)
rc=$?
[[ $rc -eq 124 ]] || fail "stall-login: the client did not hang (status $rc): $out"
ok "stall-login: the login stays unanswered"
expect_not_contains "stall-login: no prompt" "$out" "1>"
kill -0 "$SERVER_PID" || fail "stall-login: server died"
ok "stall-login: the server still runs"
stop_server
ok "stall-login: SIGTERM still stops it"

start_server --die-after 2
out=$(tsql_run <<'SQL'
SELECT 'alive' AS a
go
SELECT 'never complete' AS b
go
exit
SQL
)
expect_contains "die-after: the first response arrives" "$out" "alive"
expect_not_contains "die-after: the second does not" "$out" "never complete"
wait "$SERVER_PID"
rc=$?
[[ $rc -ne 0 ]] || fail "die-after: exit status 0"
ok "die-after: the server exited with status $rc"
SERVER_PIDS=()
done_checks
