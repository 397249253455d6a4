# Backup media, CREATE DATABASE limits and tempdb, as FreeTDS's tsql and
# bsqldb see them: sets appended to one file, RESTORE HEADERONLY/FILELISTONLY,
# FILE = n, INIT/FORMAT, files that are not backups, relative paths.
source "$(dirname "$0")/lib/common.sh"

F="$WORK/files"
mkdir -p "$F"
start_server

out=$(tsql_run <<SQL
create database Kept on (name = Kept_dat, filename = '$F/kept.mdf', size = 8MB)
log on (name = Kept_log, filename = '$F/kept.ldf', size = 1MB)
go
create table Kept..t (v varchar(20))
insert Kept..t values ('first')
go
backup database Kept to disk = '$F/kept.bak'
go
update Kept..t set v = 'second'
go
backup database Kept to disk = '$F/kept.bak'
go
update Kept..t set v = 'third'
go
SQL
)
expect_not_contains "two backups to one file" "$out" "severity 16"
expect_contains "second backup is set 2" "$out" "on file 2."

out=$(tsql_run <<SQL
restore headeronly from disk = '$F/kept.bak'
go
SQL
)
expect_contains "headeronly columns" "$out" "BackupName"
expect_contains "headeronly position column" "$out" "Position"
expect_contains "headeronly finish date column" "$out" "BackupFinishDate"
expect_contains "headeronly lists two sets" "$out" "(2 rows affected)"

out=$(bsqldb_run <<SQL
restore filelistonly from disk = '$F/kept.bak' with file = 2
go
SQL
)
expect_contains "filelistonly through bsqldb" "$out" "Kept_dat"
expect_contains "filelistonly log file" "$out" "Kept_log"

out=$(tsql_run <<SQL
restore database Kept from disk = '$F/kept.bak' with replace
go
select 'now:' + v from Kept..t
go
SQL
)
expect_contains "restore without FILE brings back set 1" "$out" "now:first"

out=$(tsql_run <<SQL
restore database Kept from disk = '$F/kept.bak' with replace, file = 2
go
select 'now:' + v from Kept..t
go
restore database Kept from disk = '$F/kept.bak' with replace, file = 3
go
SQL
)
expect_contains "FILE = 2 brings back the newer set" "$out" "now:second"
expect_contains "a set that is not there" "$out" "Msg 4038"

printf 'precious data, not a backup\n' >"$F/notes.txt"
out=$(tsql_run <<SQL
backup database Kept to disk = '$F/notes.txt'
go
backup database Kept to disk = '$F/notes.txt' with init
go
restore headeronly from disk = '$F/notes.txt'
go
SQL
)
expect_contains "appending to a file that is not a backup" "$out" "Msg 3241"
expect_contains "terminating abnormally" "$out" "BACKUP DATABASE is terminating abnormally."
[[ "$(cat "$F/notes.txt")" == "precious data, not a backup" ]] || fail "a file that is not a backup was written over"
ok "the file that is not a backup is untouched"

out=$(tsql_run <<SQL
backup database Kept to disk = '$F/notes.txt' with format
go
backup database Kept to disk = '$F/kept.bak' with init
go
restore headeronly from disk = '$F/kept.bak'
go
SQL
)
expect_not_contains "format and init" "$out" "severity 16"
expect_contains "init leaves one set" "$out" "(1 row affected)"

out=$(tsql_run <<SQL
backup database Kept to disk = 'relative.bak'
go
backup database tempdb to disk = '$F/temp.bak'
go
restore database tempdb from disk = '$F/kept.bak'
go
SQL
)
[[ -s "$WORK/data/Backup/relative.bak" ]] || fail "a relative backup path did not land in the default backup folder"
ok "relative backup path lands in the default backup folder"
expect_contains "tempdb cannot be backed up" "$out" "Msg 3147"
[[ ! -e "$F/temp.bak" ]] || fail "tempdb backup wrote a file"
ok "no tempdb backup file"

out=$(tsql_run <<SQL
create database Small on (name = s_dat, filename = '$F/small.mdf', size = 3MB)
log on (name = s_log, filename = '$F/small.ldf', size = 1MB)
go
create database Rel on (name = r_dat, filename = 'rel.mdf', size = 8MB)
log on (name = r_log, filename = 'rel.ldf', size = 1MB)
go
exec sp_attach_db 'Rel2', 'kept.mdf', 'kept.ldf'
go
select count(*) from sysdatabases where name in ('Small', 'Rel')
go
SQL
)
expect_contains "primary below the model size" "$out" "Msg 1803"
expect_contains "relative database file" "$out" "Msg 5105"
[[ ! -e "$F/small.mdf" && ! -e rel.mdf && ! -e "$WORK/data/rel.mdf" ]] || fail "a refused create left a file"
ok "refused creates leave no files"
expect_contains "attach by a relative path" "$out" "Procedure sp_attach_db"
[[ "$(grep -c 'Msg 5105' <<<"$out")" == 2 ]] || fail "expected 5105 for create and attach"
ok "5105 for both"

# tempdb starts empty, as SQL Server re-creates it.
out=$(tsql_run <<SQL
create table tempdb..leftover (v int)
go
SQL
)
stop_server
start_server
out=$(tsql_run <<SQL
select count(*) from tempdb..leftover
go
select count(*) from Kept..t
go
SQL
)
expect_contains "tempdb emptied at start" "$out" "Msg 208"
expect_not_contains "other databases kept" "$out" "Msg 911"
done_checks
