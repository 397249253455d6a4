# The maintenance batches as the tool sends them, through tsql, with the
# files they leave on disk; then a restart of the server on the same data.
source "$(dirname "$0")/lib/common.sh"

F="$WORK/files"
mkdir -p "$F"
start_server

out=$(tsql_run <<SQL
use master
create database Shop
on
( name = Shop_dat,
filename='$F/shop.mdf',
size=8MB,
filegrowth=1MB)
log on
( name = Shop_log,
filename='$F/shop.ldf',
size=2MB,
filegrowth=10%)
go
use Shop
create table item (id int identity(1,1) primary key, name nvarchar(20) not null, price decimal(10,2))
insert item (name, price) values (N'茶', 3.5), ('coffee', 4.25)
go
SQL
)
expect_not_contains "create database" "$out" "Msg "
[[ -f "$F/shop.mdf" && -f "$F/shop.ldf" ]] || fail "create left no files"
ok "data and log files exist"

out=$(tsql_run <<SQL
use master
if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'
EXEC sp_addumpdevice 'disk', 'DUMPX', '$F/SHOP200214085149.BAK'
BACKUP DATABASE Shop TO DUMPX
go
SQL
)
expect_contains "backup reports pages" "$out" "BACKUP DATABASE successfully processed"
[[ -s "$F/SHOP200214085149.BAK" ]] || fail "no backup file"
ok "backup file written"

out=$(tsql_run <<SQL
use master
drop database Shop
go
select count(*) from sysdatabases where name = 'shop'
go
SQL
)
expect_not_contains "drop database" "$out" "Msg "
[[ ! -e "$F/shop.mdf" ]] || fail "drop left the data file"
ok "drop deletes the files"

out=$(tsql_run <<SQL
use master
if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'
restore database Shop from disk='$F/SHOP200214085149.BAK' with replace
go
select name + ':' + cast(id as varchar(10)), price from Shop..item order by id
go
SQL
)
expect_contains "restore" "$out" "RESTORE DATABASE successfully processed"
expect_contains "restored rows" "$out" "茶:1"
expect_contains "restored decimal" "$out" "4.25"

out=$(tsql_run <<SQL
use master
EXEC sp_detach_db 'Shop'
go
use master
EXEC sp_attach_db 'Shop2','$F/shop.mdf','$F/shop.ldf'
go
select count(*) from Shop2.dbo.item
go
SQL
)
expect_not_contains "detach and attach" "$out" "Msg "
expect_contains "attached data" "$out" "2"

out=$(tsql_run <<SQL
use master
dump transaction Shop2 with no_log
backup log Shop2 with no_log
dbcc shrinkdatabase (Shop2)
go
SQL
)
expect_contains "shrink refused by a current server" "$out" "severity 15"
expect_not_contains "nothing of the batch ran" "$out" "DbId"

out=$(tsql_run <<SQL
dbcc shrinkdatabase (Shop2)
go
SQL
)
expect_contains "shrink result" "$out" "EstimatedPages"
expect_contains "shrink message" "$out" "DBCC execution completed."

stop_server
start_server --compat 2000
out=$(tsql_run <<SQL
use master
dump transaction Shop2 with no_log
backup log Shop2 with no_log
dbcc shrinkdatabase (Shop2)
go
select name from master..sysdatabases order by name
go
SQL
)
expect_not_contains "shrink in 2000 mode" "$out" "severity 15"
expect_not_contains "shrink in 2000 mode" "$out" "severity 16"
expect_contains "catalogue kept over restart" "$out" "Shop2"
done_checks
