#!/bin/bash
# A WAITFOR cut short by the client's query time-out: the ODBC driver sends
# attention, the server acknowledges it, and the same connection goes on.
# DB-Library's and tsql's time-outs drop their connection; the server must
# keep serving everybody else.
source "$(dirname "$0")/lib/common.sh"

start_server

start=$(date +%s)
out=$(isql_conf_run <<'SQL'
WAITFOR DELAY '00:00:30'
SELECT 'after the wait' AS marker
SQL
)
elapsed=$(( $(date +%s) - start ))
expect_contains "odbc: the time-out is reported" "$out" "Timeout expired"
expect_contains "odbc: the same connection runs the next statement" "$out" "after the wait"
(( elapsed < 20 )) || fail "the cancelled WAITFOR took ${elapsed}s"
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
printf "WAITFOR DELAY '00:00:04'\nSELECT 'slow one done' AS s\ngo\nexit\n" | tsql_run >"$WORK/slow.out" &
slow=$!
sleep 0.5
start=$(date +%s%N)
out=$(printf "SELECT 'quick one' AS q\ngo\nexit\n" | tsql_run)
quick_ms=$(( ($(date +%s%N) - start) / 1000000 ))
expect_contains "another connection answers during a WAITFOR" "$out" "quick one"
(( quick_ms < 3000 )) || fail "the quick query waited ${quick_ms} ms behind the WAITFOR"
ok "the quick query took ${quick_ms} ms"
wait "$slow"
expect_contains "the slow connection finishes" "$(cat "$WORK/slow.out")" "slow one done"

stop_server
done_checks
