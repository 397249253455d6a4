#!/bin/bash
# The --trace file: logins, batches exactly as sent, and RPC requests with
# their statement, one record each, never a password.
source "$(dirname "$0")/lib/common.sh"

start_server

printf "SELECT 'traced' AS t\n-- second line\ngo\nexit\n" | tsql_run >/dev/null
echo "SELECT 123 AS prepared_one" | timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;UID=sa;PWD=$PW;TDS_Version=7.4;DATABASE=tempdb" -b >/dev/null 2>&1
trace=$(cat "$WORK/trace.log")

expect_contains "a login record" "$trace" "#### LOGIN spid="
expect_contains "the login's user and database" "$trace" "user=sa database=tempdb"
[[ $(grep -c '^#### LOGIN spid=[1-9][0-9]* user=sa database=' <<<"$trace") -ge 2 ]] || fail "fewer than two login records"
ok "one login record per login"
expect_contains "the batch text as sent" "$trace" "SELECT 'traced' AS t
-- second line"
grep -q '^#### BATCH spid=[1-9][0-9]*$' <<<"$trace" || fail "no BATCH header with a spid"
ok "BATCH header"
grep -qE '^#### RPC spid=[1-9][0-9]* sp_(prepexec|executesql)$' <<<"$trace" || fail "no RPC record for the prepared statement: $trace"
ok "RPC header"
expect_contains "the RPC statement text" "$trace" "SELECT 123 AS prepared_one"
expect_not_contains "no password in the trace" "$trace" "$PW"
expect_not_contains "no obfuscated password either" "$trace" "Dv-Test"
begins=$(grep -c '^#### \(LOGIN\|BATCH\|RPC\|TRAN\)' <<<"$trace")
ends=$(grep -c '^#### END$' <<<"$trace")
[[ $begins -eq $ends ]] || fail "$begins records but $ends END lines"
ok "every record is closed ($begins records)"

stop_server
done_checks
