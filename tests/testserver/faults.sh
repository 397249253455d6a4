#!/bin/bash
# The fault switches: --drop-after, --stall-login, --die-after,
# --rowcount-after-output.
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

# --rowcount-after-output 0: after a write with OUTPUT, @@ROWCOUNT reads 0
# while the OUTPUT rows and the statement's own DONE count stay right; a
# write without OUTPUT still sets it. Without the switch it reads 1.
rowcount_script() {
    cat <<'SQL'
CREATE TABLE t (k int PRIMARY KEY, v nvarchar(10) NULL)
go
INSERT INTO t (k, v) OUTPUT INSERTED.k VALUES (1, N'a')
SELECT 'after insert: ' + CAST(@@ROWCOUNT AS varchar(10))
go
UPDATE t SET v = N'b' OUTPUT INSERTED.v AS newv WHERE k = 1
SELECT 'after update: ' + CAST(@@ROWCOUNT AS varchar(10))
go
DECLARE @o TABLE (k int)
DELETE FROM t OUTPUT DELETED.k INTO @o (k) WHERE k = 1
SELECT 'after delete into: ' + CAST(@@ROWCOUNT AS varchar(10)) + ', captured ' + CAST((SELECT COUNT(*) FROM @o) AS varchar(10))
go
INSERT INTO t (k, v) VALUES (2, N'c')
SELECT 'plain insert: ' + CAST(@@ROWCOUNT AS varchar(10))
go
exit
SQL
}
start_server --rowcount-after-output 0
out=$(rowcount_script | tsql_run)
expect_contains "rowcount-after-output: INSERT … OUTPUT returns its row" "$out" "k"$'\n'"1"
expect_contains "rowcount-after-output: 0 after INSERT … OUTPUT" "$out" "after insert: 0"
expect_contains "rowcount-after-output: UPDATE … OUTPUT returns its row" "$out" "newv"$'\n'"b"
expect_contains "rowcount-after-output: 0 after UPDATE … OUTPUT" "$out" "after update: 0"
expect_contains "rowcount-after-output: 0 after DELETE … OUTPUT INTO, the row captured" "$out" \
    "after delete into: 0, captured 1"
expect_contains "rowcount-after-output: a write without OUTPUT still counts" "$out" "plain insert: 1"
expect_contains "rowcount-after-output: the DONE count stays right" "$out" "(1 row affected)"
stop_server
bad=$("$TS_EXE" --port 0 --data-dir "$WORK/data" --rowcount-after-output 1 2>&1)
rc=$?
[[ $rc -eq 2 ]] || fail "rowcount-after-output 1: exit status $rc"
expect_contains "rowcount-after-output: only 0 is accepted" "$bad" "--rowcount-after-output 0"
start_server
out=$(printf 'DROP TABLE t\ngo\n' | tsql_run; rowcount_script | tsql_run)
expect_contains "without the switch: 1 after INSERT … OUTPUT" "$out" "after insert: 1"
expect_contains "without the switch: 1 after UPDATE … OUTPUT" "$out" "after update: 1"
expect_contains "without the switch: 1 after DELETE … OUTPUT INTO" "$out" "after delete into: 1, captured 1"
stop_server

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
