#!/bin/bash
# Clients speaking TDS 7.1 to 7.4 get the same answers; 4.2 and 5.0 logins
# are refused without harming the server.
source "$(dirname "$0")/lib/common.sh"

start_server
out=$(tsql_run <<'SQL'
CREATE TABLE vt (a DATE, b NVARCHAR(100), c DECIMAL(5,2), d DATETIME, e VARCHAR(10), f INT)
INSERT INTO vt VALUES ('2024-05-06', N'长文本', 1.5, '2024-05-06 07:08:09', '备份', NULL)
go
exit
SQL
)
expect_not_contains "table created" "$out" "Msg "

for v in 7.1 7.2 7.3 7.4; do
    out=$(printf "SELECT b, c, e, d FROM vt\nPRINT 'printed at $v'\nSELECT * FROM nonexist\ngo\nSELECT 'after at $v' AS z\ngo\nexit\n" \
          | TDSVER=$v tsql_run)
    expect_contains "TDS $v: unicode" "$out" "长文本"
    expect_contains "TDS $v: decimal" "$out" "1.50"
    expect_contains "TDS $v: varchar" "$out" "备份"
    expect_contains "TDS $v: datetime" "$out" "May  6 2024 07:08AM"
    expect_contains "TDS $v: PRINT" "$out" "printed at $v"
    expect_contains "TDS $v: error" "$out" "Invalid object name 'nonexist'."
    expect_contains "TDS $v: next batch after the error" "$out" "after at $v"
done

for v in 4.2 5.0; do
    out=$(printf "SELECT 1\ngo\nexit\n" | TDSVER=$v tsql_run)
    expect_not_contains "TDS $v refused" "$out" "1>"
done
kill -0 "$SERVER_PID" || fail "server died"
out=$(printf "SELECT 'fine' AS f\ngo\nexit\n" | tsql_run)
expect_contains "still serving after refused logins" "$out" "fine"
stop_server
done_checks
