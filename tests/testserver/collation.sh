# The server collation as FreeTDS's tsql sees it: varchar text goes through
# the code page (Chinese_PRC_CI_AS = 936 by default, a Latin collation =
# 1252), N'...' stays Unicode; and #tables belong to the connection that
# made them.
source "$(dirname "$0")/lib/common.sh"

F="$WORK/files"
mkdir -p "$F"
start_server

out=$(tsql_run <<SQL
select 'v:' + '中文' as a, 'w:' + 'ñ😀' as b, N'n:中文😀' as c
go
select collation_name from sys.databases where name = 'master'
go
select N'property:' + serverproperty('Collation')
go
create table cp (v varchar(20), n nvarchar(20))
insert cp values (N'中文ñ', N'中文ñ😀')
select v, n from cp
go
SQL
)
expect_contains "a varchar literal keeps Chinese on 936" "$out" "v:中文"
expect_contains "what 936 cannot hold becomes ?" "$out" "w:??"
expect_contains "N'...' keeps everything" "$out" "n:中文😀"
expect_contains "collation reported" "$out" "Chinese_PRC_CI_AS"
expect_contains "SERVERPROPERTY reports it" "$out" "property:Chinese_PRC_CI_AS"
expect_contains "a varchar column holds 936 text" "$out" "$(printf '中文?\t中文ñ😀')"
stop_server

start_server --collation SQL_Latin1_General_CP1_CI_AS
out=$(tsql_run <<SQL
select 'v:' + '中文' as a, 'w:' + 'ñ' as b, N'n:中文😀' as c
go
select collation_name from sys.databases where name = 'master'
go
select v, n from cp
go
SQL
)
expect_contains "Chinese in a varchar literal on 1252" "$out" "v:??"
expect_contains "1252 text arrives intact" "$out" "w:ñ"
expect_contains "N'...' on a Latin server" "$out" "n:中文😀"
expect_contains "Latin collation reported" "$out" "SQL_Latin1_General_CP1_CI_AS"
expect_contains "a varchar column read through 1252" "$out" "$(printf '??ñ\t中文ñ😀')"

# A database attached under a '...' name that the code page cannot hold is
# named with question marks, as on SQL Server; N'...' keeps the name.
out=$(tsql_run <<SQL
create database 中文库 on (name = z_dat, filename = N'$F/中文库.mdf', size = 8MB)
log on (name = z_log, filename = N'$F/中文库.ldf', size = 1MB)
go
exec sp_detach_db N'中文库'
go
exec sp_attach_db '中文库', N'$F/中文库.mdf', N'$F/中文库.ldf'
go
select 'named:' + name from sys.databases where name like N'%库' or name like '??%'
go
exec sp_detach_db '???'
go
exec sp_attach_db N'中文库', N'$F/中文库.mdf', N'$F/中文库.ldf'
go
select 'named:' + name from sys.databases where name = N'中文库'
go
SQL
)
expect_contains "'...' name through 1252" "$out" "named:???"
expect_contains "N'...' name kept" "$out" "named:中文库"
expect_not_contains "no errors on the way" "$out" "severity 16"
stop_server

# #tables: visible to their connection only, gone when it ends.
start_server
out=$(tsql_run <<SQL
create table #mine (v int)
insert #mine values (7)
go
select 'seen:' + cast(v as varchar(5)) from #mine
go
SQL
)
expect_contains "a #table in its own connection" "$out" "seen:7"
out=$(tsql_run <<SQL
select v from #mine
go
create table #mine (v int)
go
SQL
)
expect_contains "another connection does not see it" "$out" "Msg 208"
expect_not_contains "the name is free again" "$out" "Msg 2714"
done_checks
