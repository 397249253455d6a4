#!/bin/bash
# Batches with several statements and results, errors part-way, PRINT and
# RAISERROR, through tsql, bsqldb and the ODBC driver.
source "$(dirname "$0")/lib/common.sh"

start_server

out=$(tsql_run <<'SQL'
SELECT 1 AS first_col
SELECT 'two' AS second_col, 3 AS third_col
SELECT 4 AS fourth_col UNION ALL SELECT 5
go
exit
SQL
)
expect_contains "several results: first" "$out" "first_col"
expect_contains "several results: second" "$out" "second_col"
expect_contains "several results: third" "$out" "fourth_col"
expect_contains "several results: row counts" "$out" "(2 rows affected)"

out=$(tsql_run <<'SQL'
SELECT 'before the error' AS marker
SELECT * FROM no_such_table
go
SELECT 'next batch' AS after_error
go
exit
SQL
)
expect_contains "error in 2nd statement: first rows arrive" "$out" "before the error"
expect_contains "error in 2nd statement: error 208" "$out" "Msg 208"
expect_contains "error in 2nd statement: text" "$out" "Invalid object name 'no_such_table'."
expect_contains "the connection goes on after the error" "$out" "next batch"

out=$(tsql_run <<'SQL'
PRINT 'hello from print'
RAISERROR('a warning at ten', 10, 1)
RAISERROR('a real error', 16, 1)
SELECT 'after raiserror' AS tail
go
exit
SQL
)
expect_contains "PRINT arrives" "$out" "hello from print"
expect_contains "RAISERROR 10 arrives" "$out" "a warning at ten"
expect_contains "RAISERROR 16 is an error of severity 16" "$out" "severity 16"
expect_contains "RAISERROR 16 text" "$out" "a real error"
expect_contains "RAISERROR 10 keeps its severity" "$out" "severity 10, state 1"

out=$(bsqldb_run <<'SQL'
SELECT 10 AS ten
SELECT 20 AS twenty
go
SELECT * FROM missing_table
go
SQL
)
expect_contains "bsqldb: first result" "$out" "ten"
expect_contains "bsqldb: second result" "$out" "twenty"
expect_contains "bsqldb: error text" "$out" "Invalid object name 'missing_table'"
expect_contains "bsqldb: the rows of the first batch" "$out" "         20"

out=$(isql_run <<'SQL'
SELECT N'中文文本' AS chinese
RAISERROR('odbc warning at ten', 10, 1)
RAISERROR('odbc error at sixteen', 16, 1)
PRINT 'odbc print'
SQL
)
expect_contains "odbc: Chinese text round trip" "$out" "中文文本"
expect_contains "odbc: RAISERROR 10 is information (01000)" "$out" "[01000][FreeTDS][SQL Server]odbc warning at ten"
expect_contains "odbc: RAISERROR 16 is an error" "$out" "[37000][FreeTDS][SQL Server]odbc error at sixteen"
expect_contains "odbc: PRINT is information" "$out" "[01000][FreeTDS][SQL Server]odbc print"
[[ $(grep -c 'Could not SQLExecDirect' <<<"$out") -eq 1 ]] || fail "odbc: exactly one statement should fail: $out"
ok "odbc: only the severity 16 statement failed"

out=$(isql_run <<'SQL'
CREATE TABLE t1 (id INT PRIMARY KEY, name NVARCHAR(20) NULL, code VARCHAR(10) NULL, amount DECIMAL(10,2) NULL, paid MONEY NULL)
INSERT INTO t1 VALUES (1, N'一', '备份', 12.5, 3.25), (2, NULL, NULL, NULL, NULL)
SELECT id, name, code, amount, paid FROM t1 ORDER BY id
SQL
)
expect_contains "odbc: table rows" "$out" "2 rows fetched"
expect_contains "odbc: unicode from a table" "$out" "一"
expect_contains "odbc: varchar travels in the collation's code page" "$out" "备份"
expect_contains "odbc: decimal keeps its scale" "$out" "12.50"
expect_contains "odbc: money" "$out" "3.2500"

stop_server
done_checks
