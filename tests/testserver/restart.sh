#!/bin/bash
# The catalogue and the data survive a stop and a restart on the same data folder.
source "$(dirname "$0")/lib/common.sh"

start_server
out=$(tsql_run <<'SQL'
CREATE DATABASE dvkeep
go
USE dvkeep
CREATE TABLE kept (id INT PRIMARY KEY, txt NVARCHAR(20))
INSERT INTO kept VALUES (1, N'保留')
go
exit
SQL
)
expect_not_contains "create database and table" "$out" "Msg "
stop_server
ok "stopped"

start_server
out=$(tsql_run <<'SQL'
SELECT name FROM master..sysdatabases WHERE name = 'dvkeep'
go
USE dvkeep
SELECT txt FROM kept WHERE id = 1
go
exit
SQL
)
expect_contains "the database is still in the catalogue" "$out" "dvkeep"
expect_contains "its rows are still there" "$out" "保留"
stop_server
done_checks
