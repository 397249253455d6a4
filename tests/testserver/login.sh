#!/bin/bash
# Logins with tsql and the ODBC driver: good and bad credentials, the login's
# database, the default login printed at start, and bad arguments.
source "$(dirname "$0")/lib/common.sh"

start_server

out=$(printf 'SELECT 41 + 1 AS answer\ngo\nexit\n' | tsql_run)
expect_contains "tsql: good login runs a query" "$out" "answer"
expect_contains "tsql: the row arrives" "$out" "42"

out=$(printf 'SELECT 1\ngo\nexit\n' | tsql_run sa 'Dv-Test:wrong')
expect_contains "tsql: wrong password is error 18456" "$out" "Msg 18456 (severity 14, state 1)"
expect_contains "tsql: wrong password text" "$out" "Login failed for user 'sa'."

out=$(printf 'SELECT 1\ngo\nexit\n' | tsql_run nobody "$PW")
expect_contains "tsql: unknown user" "$out" "Login failed for user 'nobody'."

out=$(echo "SELECT 7 AS seven" | timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;UID=sa;PWD=nope;TDS_Version=7.4" -b -v 2>&1)
expect_contains "odbc: wrong password text" "$out" "Login failed for user 'sa'."

out=$(echo "SELECT DB_NAME() AS db" | timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;UID=sa;PWD=$PW;TDS_Version=7.4;DATABASE=tempdb" -b -e -v 2>&1)
expect_contains "odbc: the login's database is the current one" "$out" "tempdb"

out=$(echo "SELECT 1" | timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;UID=sa;PWD=$PW;TDS_Version=7.4;DATABASE=no_such_db" -b -v 2>&1)
expect_contains "odbc: a database that cannot be opened fails the login" "$out" "no_such_db"
expect_not_contains "odbc: ... and no query ran" "$out" "SQLRowCount"

# Without --login the server makes up a password for sa and prints it;
# without --data-dir it keeps its files in the current folder.
mkdir -p "$WORK/d2"
ts_abs=$(realpath "$TS_EXE")
(cd "$WORK/d2" && exec "$ts_abs" --port 0) >"$WORK/default.out" 2>>"$WORK/server.err" &
SERVER_PIDS+=($!)
for _ in $(seq 100); do [[ $(wc -l <"$WORK/default.out") -ge 2 ]] && break; sleep 0.1; done
dport=$(sed -n 1p "$WORK/default.out")
dline=$(sed -n 2p "$WORK/default.out")
[[ "$dport" =~ ^[0-9]+$ ]] || fail "default login: first line is not a port: $dport"
[[ "$dline" == "login: sa:"* ]] || fail "default login: second line is '$dline'"
ok "default login printed on the second line"
dpw=${dline#login: sa:}
out=$(printf 'SELECT 5 AS five\ngo\nexit\n' | timeout 60 tsql -H 127.0.0.1 -p "$dport" -U sa -P "$dpw" 2>&1)
expect_contains "default login works" "$out" "five"
[[ -f "$WORK/d2/catalog.db" && -f "$WORK/d2/master.mdf" ]] || fail "no --data-dir: catalogue and master not in the current folder"
ok "no --data-dir: the current folder holds the catalogue and master"

err=$("$TS_EXE" --bogus 2>&1 >/dev/null)
rc=$?
[[ $rc -eq 2 ]] || fail "unknown argument: exit status $rc, expected 2"
expect_contains "unknown argument prints usage" "$err" "usage:"
"$TS_EXE" --port 2>/dev/null
[[ $? -eq 2 ]] || fail "missing value: exit status not 2"
ok "missing value exits 2"

stop_server
ok "SIGTERM stops the server with status 0"
done_checks
