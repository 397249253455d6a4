#!/bin/bash
# The statements a DBA types first on a new server, through FreeTDS tsql and
# bsqldb: catalogue procedures, CTEs, windowed functions, table variables,
# SELECT INTO, OFFSET/FETCH and the informational DBCC commands.
source "$(dirname "$0")/lib/common.sh"

start_server

out=$(tsql_run <<'SQL'
CREATE TABLE staff (id INT PRIMARY KEY, name NVARCHAR(20) NOT NULL, boss INT NULL, pay INT NOT NULL)
INSERT INTO staff VALUES (1, N'root', NULL, 50), (2, N'ann', 1, 30), (3, N'bob', 1, 30), (4, N'cat', 2, 20)
go
exec sp_who
go
exec sp_helpdb
go
exec sp_helpdb 'master'
go
exec sp_tables 'staff'
go
exec sp_columns 'staff'
go
exec sp_databases
go
exec sp_help 'staff'
go
exec sp_spaceused 'staff'
go
exec sp_helpdb 'no_such_db'
go
exec sp_help 'no_such_table'
go
exit
SQL
)
expect_contains "sp_who: columns" "$out" $'spid\tecid\tstatus\tloginame\thostname\tblk\tdbname\tcmd\trequest_id'
expect_contains "sp_who: this session runs" "$out" "runnable"
expect_contains "sp_helpdb: columns" "$out" $'name\tdb_size\towner\tdbid\tcreated\tstatus\tcompatibility_level'
expect_contains "sp_helpdb: a row" "$out" $'master\t     16.00 MB\tsa\t1\t'
expect_contains "sp_helpdb name: file columns" "$out" $'name\tfileid\tfilename\tfilegroup\tsize\tmaxsize\tgrowth\tusage'
expect_contains "sp_helpdb name: the log file" "$out" $'8192 KB\tUnlimited\t8192 KB\tlog only'
expect_contains "sp_tables: columns and the table" "$out" $'TABLE_QUALIFIER\tTABLE_OWNER\tTABLE_NAME\tTABLE_TYPE\tREMARKS\nmaster\tdbo\tstaff\tTABLE\tNULL'
expect_contains "sp_columns: columns" "$out" $'TABLE_QUALIFIER\tTABLE_OWNER\tTABLE_NAME\tCOLUMN_NAME\tDATA_TYPE\tTYPE_NAME\tPRECISION\tLENGTH\tSCALE\tRADIX\tNULLABLE'
expect_contains "sp_columns: nvarchar column" "$out" $'master\tdbo\tstaff\tname\t-9\tnvarchar\t20\t40\tNULL\tNULL\t0'
expect_contains "sp_databases: columns" "$out" $'DATABASE_NAME\tDATABASE_SIZE\tREMARKS'
expect_contains "sp_databases: a row in KB" "$out" $'msdb\t16384\tNULL'
expect_contains "sp_help: first result" "$out" $'Name\tOwner\tType\tCreated_datetime\nstaff\tdbo\tuser table\t'
expect_contains "sp_help: column result" "$out" $'id\tint\tno\t4\t   10\t    0\tno\t(n/a)\t(n/a)\tNULL'
expect_contains "sp_help: primary key index" "$out" $'clustered, unique, primary key located on PRIMARY\tid'
expect_contains "sp_spaceused: columns" "$out" $'name\trows\treserved\tdata\tindex_size\tunused'
expect_contains "sp_spaceused: row count" "$out" $'staff\t                   4\t'
expect_contains "sp_helpdb: missing database is 15010" "$out" "Msg 15010 (severity 16"
expect_contains "sp_helpdb: missing database text" "$out" "The database 'no_such_db' does not exist."
expect_contains "sp_help: missing object is 15009" "$out" "Msg 15009 (severity 16"
expect_contains "sp_help: missing object text" "$out" "The object 'no_such_table' does not exist in database 'master' or is invalid for this operation."

out=$(tsql_run <<'SQL'
with c as (select 1 as x) select * from c
go
with chain as (select id, name, 0 as depth from staff where boss is null union all select s.id, s.name, c.depth + 1 from staff s join chain c on s.boss = c.id) select name, depth from chain order by depth, name
go
select name, row_number() over (order by name) as rn, rank() over (order by pay desc) as rk from staff order by name
go
declare @t table(a int); insert @t values(1); select * from @t
go
select id, name into staff_copy from staff where pay = 30
select count(*) as copied from staff_copy
go
select id from staff order by id offset 1 rows fetch next 2 rows only
go
select id from staff offset 1 rows
go
with n(i) as (select 1 union all select i + 1 from n) select max(i) from n
go
exit
SQL
)
expect_contains "cte: column and row" "$out" $'x\n1\n(1 row affected)'
expect_contains "recursive cte: the deepest row" "$out" $'cat\t2'
expect_contains "window: columns" "$out" $'name\trn\trk'
expect_contains "window: a row" "$out" $'bob\t2\t2'
expect_contains "table variable: column and row" "$out" $'a\n1\n(1 row affected)'
expect_contains "select into: rows copied" "$out" $'copied\n2'
expect_contains "offset fetch: the page" "$out" $'id\n2\n3\n(2 rows affected)'
expect_contains "offset needs order by" "$out" "Incorrect syntax near '1'."
expect_contains "recursion limit is 530" "$out" "Msg 530 (severity 16"
expect_contains "recursion limit text" "$out" "The maximum recursion 100 has been exhausted before statement completion."

out=$(tsql_run <<'SQL'
dbcc checkdb
go
dbcc checkdb with no_infomsgs
select 'quiet' as after_quiet
go
dbcc sqlperf(logspace)
go
dbcc checkdb('no_such_db')
go
exit
SQL
)
expect_contains "checkdb: results header" "$out" "DBCC results for 'master'."
expect_contains "checkdb: table rows" "$out" 'There are 4 rows in 1 pages for object "staff".'
expect_contains "checkdb: summary is 8989 at severity 10" "$out" "Msg 8989 (severity 10"
expect_contains "checkdb: summary text" "$out" "CHECKDB found 0 allocation errors and 0 consistency errors in database 'master'."
expect_contains "checkdb: completion 2528" "$out" "Msg 2528 (severity 10"
[[ $(grep -c "Msg 8989" <<<"$out") -eq 1 ]] || fail "NO_INFOMSGS should silence the second CHECKDB: $out"
ok "checkdb: NO_INFOMSGS prints nothing"
expect_contains "sqlperf: columns" "$out" $'Database Name\tLog Size (MB)\tLog Space Used (%)\tStatus'
expect_contains "sqlperf: a row" "$out" $'tempdb\t'
expect_contains "checkdb: missing database is 2520" "$out" "Msg 2520 (severity 16"

out=$(bsqldb_run <<'SQL'
exec sp_databases
go
with c(n) as (select 1 union all select n + 1 from c where n < 3) select n, sum(n) over () as total from c
go
declare @t table (k int identity(1, 1), v nvarchar(5)); insert @t (v) values (N'x'), (N'y'); select k, v from @t
go
exec sp_columns @table_name = 'staff', @column_name = 'pay'
go
SQL
)
expect_contains "bsqldb: sp_databases columns" "$out" "DATABASE_NAME"
expect_contains "bsqldb: sp_databases row" "$out" "tempdb"
expect_contains "bsqldb: cte with window columns" "$out" "total"
expect_contains "bsqldb: cte with window row" "$out" "          3            6"
expect_contains "bsqldb: table variable identity row" "$out" "          2  y"
expect_contains "bsqldb: sp_columns row" "$out" "pay"

stop_server
done_checks
