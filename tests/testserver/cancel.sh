#!/bin/bash
# A WAITFOR cut short by the client's query time-out: the ODBC driver sends
# attention, the server acknowledges it, and the same connection goes on.
# DB-Library's and tsql's time-outs drop their connection; the server must
# keep serving everybody else.
source "$(dirname "$0")/lib/common.sh"

start_server

# The wait is far longer than the client's time-out: finishing well inside it
# proves the server gave the wait up on the attention.
start=$(date +%s)
out=$(isql_conf_run <<'SQL'
WAITFOR DELAY '00:03:00'
SELECT 'after the wait' AS marker
SQL
)
elapsed=$(( $(date +%s) - start ))
expect_contains "odbc: the time-out is reported" "$out" "Timeout expired"
expect_contains "odbc: the same connection runs the next statement" "$out" "after the wait"
(( elapsed < 50 )) || fail "the cancelled three-minute WAITFOR took ${elapsed}s"
ok "the cancelled WAITFOR ended in ${elapsed}s"

out=$(bsqldb_run <<'SQL'
WAITFOR DELAY '00:00:30'
go
SQL
)
expect_contains "bsqldb: the time-out is reported" "$out" "timed out"

out=$(printf "WAITFOR DELAY '00:00:30'\ngo\nexit\n" | FREETDSCONF="$FREETDSCONF" timeout 60 tsql -S dv -U sa -P "$PW" 2>&1)
expect_contains "tsql: the time-out is reported" "$out" "timed out"

out=$(printf "SELECT 'still serving' AS s\ngo\nexit\n" | tsql_run)
expect_contains "the server serves new clients after the time-outs" "$out" "still serving"

# A long WAITFOR on one connection does not hold up another one.
printf "WAITFOR DELAY '00:00:20'\nSELECT 'slow one done' AS s\ngo\nexit\n" | tsql_run >"$WORK/slow.out" &
slow=$!
sleep 0.5
out=$(printf "SELECT 'quick one' AS q\ngo\nexit\n" | tsql_run)
expect_contains "another connection answers during a WAITFOR" "$out" "quick one"
kill -0 "$slow" 2>/dev/null || fail "the quick query was answered only after the WAITFOR ended"
ok "the quick query was answered while the WAITFOR was still running"
wait "$slow"
expect_contains "the slow connection finishes" "$(cat "$WORK/slow.out")" "slow one done"

stop_server
done_checks
