#!/bin/bash
# Cursors: DECLARE CURSOR with its options, cursor variables, OPEN, FETCH in
# every direction with INTO, @@FETCH_STATUS, CURSOR_STATUS, CLOSE, DEALLOCATE,
# local and global scope, and SQL Server's errors for a cursor used wrongly,
# through isql (ODBC), tsql and bsqldb.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE emp (id INT PRIMARY KEY, name NVARCHAR(20) NOT NULL, salary DECIMAL(8,2) NOT NULL)
INSERT INTO emp VALUES (1, N'Ann', 100.50), (2, N'Ben', 200.00), (3, N'Cat', 300.25), (4, N'Dan', 400.00), (5, N'Eve', 500.75)
CREATE TABLE empty_t (id INT)
SQL

# Each direction moves as the FETCH reference describes it, from the cursor's current row.
check_rows <<'TABLE'
loop: FETCH NEXT while @@FETCH_STATUS = 0	DECLARE @n NVARCHAR(20), @s NVARCHAR(100) = N''; DECLARE c CURSOR FOR SELECT name FROM emp ORDER BY id; OPEN c; FETCH NEXT FROM c INTO @n; WHILE @@FETCH_STATUS = 0 BEGIN SET @s += @n; FETCH NEXT FROM c INTO @n END; CLOSE c; DEALLOCATE c; SELECT @s, @@FETCH_STATUS	AnnBenCatDanEve|-1
loop: several INTO variables keep their types	DECLARE @id INT, @n NVARCHAR(20), @sal DECIMAL(8,2), @t DECIMAL(10,2) = 0; DECLARE c CURSOR LOCAL FAST_FORWARD FOR SELECT id, name, salary FROM emp WHERE id > 3 ORDER BY id; OPEN c; FETCH c INTO @id, @n, @sal; WHILE @@FETCH_STATUS = 0 BEGIN SET @t += @sal; FETCH NEXT FROM c INTO @id, @n, @sal END; SELECT @id, @n, @t	5|Eve|900.75
scroll: LAST PRIOR ABSOLUTE RELATIVE FIRST	DECLARE @n NVARCHAR(20), @s NVARCHAR(100) = N''; DECLARE c SCROLL CURSOR FOR SELECT name FROM emp ORDER BY id; OPEN c; FETCH LAST FROM c INTO @n; SET @s += @n + ','; FETCH PRIOR FROM c INTO @n; SET @s += @n + ','; FETCH ABSOLUTE 2 FROM c INTO @n; SET @s += @n + ','; FETCH RELATIVE 3 FROM c INTO @n; SET @s += @n + ','; FETCH RELATIVE -2 FROM c INTO @n; SET @s += @n + ','; FETCH FIRST FROM c INTO @n; SET @s += @n; SELECT @s	Eve,Dan,Ben,Eve,Cat,Ann
scroll: ABSOLUTE -1 is the last row, a variable offset	DECLARE @n NVARCHAR(20), @k INT = -1, @m NVARCHAR(20); DECLARE c CURSOR STATIC FOR SELECT name FROM emp ORDER BY id; OPEN c; FETCH ABSOLUTE @k FROM c INTO @n; SET @k = 4; FETCH ABSOLUTE @k FROM c INTO @m; SELECT @n, @m	Eve|Dan
status: past the end and before the start are -1, the variables keep their values	DECLARE @n NVARCHAR(20), @a INT, @b INT; DECLARE c CURSOR SCROLL FOR SELECT name FROM emp WHERE id = 1; OPEN c; FETCH NEXT FROM c INTO @n; FETCH NEXT FROM c INTO @n; SET @a = @@FETCH_STATUS; FETCH PRIOR FROM c INTO @n; FETCH PRIOR FROM c INTO @n; SET @b = @@FETCH_STATUS; SELECT @a, @b, @n	-1|-1|Ann
status: ABSOLUTE 0 fetches nothing	DECLARE @n NVARCHAR(20) = N'none'; DECLARE c SCROLL CURSOR FOR SELECT name FROM emp; OPEN c; FETCH ABSOLUTE 0 FROM c INTO @n; SELECT @@FETCH_STATUS, @n	-1|none
static: rows are those at OPEN	BEGIN TRAN; DECLARE @k INT = 0, @x INT; DECLARE c CURSOR STATIC FOR SELECT id FROM emp; OPEN c; INSERT INTO emp VALUES (6, N'Fay', 1); FETCH NEXT FROM c INTO @x; WHILE @@FETCH_STATUS = 0 BEGIN SET @k += 1; FETCH NEXT FROM c INTO @x END; SELECT @k; ROLLBACK	5
variables: evaluated when the cursor opens	DECLARE @min INT = 4, @n NVARCHAR(20); DECLARE c CURSOR FOR SELECT name FROM emp WHERE id >= @min ORDER BY id; SET @min = 2; OPEN c; FETCH NEXT FROM c INTO @n; SELECT @n	Ben
reopen: CLOSE then OPEN starts again	DECLARE @n NVARCHAR(20); DECLARE c CURSOR FOR SELECT name FROM emp ORDER BY id; OPEN c; FETCH NEXT FROM c INTO @n; FETCH NEXT FROM c INTO @n; CLOSE c; OPEN c; FETCH NEXT FROM c INTO @n; SELECT @n	Ann
iso: INSENSITIVE SCROLL CURSOR ... FOR READ ONLY	DECLARE @n NVARCHAR(20); DECLARE c INSENSITIVE SCROLL CURSOR FOR SELECT name FROM emp ORDER BY id FOR READ ONLY; OPEN c; FETCH LAST FROM c INTO @n; SELECT @n	Eve
options: FOR UPDATE OF a column is accepted	DECLARE @n NVARCHAR(20); DECLARE c CURSOR LOCAL FORWARD_ONLY DYNAMIC FOR SELECT name FROM emp ORDER BY id FOR UPDATE OF name; OPEN c; FETCH NEXT FROM c INTO @n; SELECT @n	Ann
variable: SET @c = CURSOR	DECLARE @c CURSOR, @n NVARCHAR(20); SET @c = CURSOR FORWARD_ONLY STATIC FOR SELECT name FROM emp WHERE id = 3; OPEN @c; FETCH NEXT FROM @c INTO @n; CLOSE @c; DEALLOCATE @c; SELECT @n	Cat
no INTO: the row is a result	DECLARE c CURSOR FOR SELECT id, name FROM emp ORDER BY id DESC; OPEN c; FETCH NEXT FROM c	5|Eve
# CURSOR_STATUS: 1 open with rows, 0 open and empty, -1 closed, -2 variable without cursor, -3 none.
cursor_status: closed, open, empty, deallocated	DECLARE c CURSOR STATIC FOR SELECT id FROM emp; DECLARE e CURSOR STATIC FOR SELECT id FROM empty_t; DECLARE @a INT = CURSOR_STATUS('global', 'c'); OPEN c; OPEN e; DECLARE @b INT = CURSOR_STATUS('global', 'c'), @z INT = CURSOR_STATUS('global', 'e'); DEALLOCATE c; SELECT @a, @b, @z, CURSOR_STATUS('global', 'c'); DEALLOCATE e	-1|1|0|-3
cursor_status: local and variable	DECLARE @c CURSOR; DECLARE @v INT = CURSOR_STATUS('variable', '@c'); DECLARE l CURSOR LOCAL FOR SELECT 1; SELECT @v, CURSOR_STATUS('local', 'l'), CURSOR_STATUS('global', 'l')	-2|-1|-3
# @@CURSOR_ROWS: 0 with no cursor opened or the last one closed, -1 for a dynamic cursor, n once a static or keyset one is populated.
cursor_rows: none opened on the connection	SELECT 'rows', @@CURSOR_ROWS	rows|0
cursor_rows: the default cursor is dynamic	DECLARE c CURSOR FOR SELECT name FROM emp; OPEN c; FETCH NEXT FROM c; SELECT 'rows', @@CURSOR_ROWS	rows|-1
cursor_rows: STATIC, KEYSET and INSENSITIVE count their rows	DECLARE s CURSOR STATIC FOR SELECT id FROM emp WHERE id > 1; DECLARE k CURSOR KEYSET FOR SELECT id FROM emp; DECLARE i INSENSITIVE CURSOR FOR SELECT id FROM emp WHERE id = 2; OPEN s; DECLARE @a INT = @@CURSOR_ROWS; OPEN k; DECLARE @b INT = @@CURSOR_ROWS; OPEN i; SELECT 'rows', @a, @b, @@CURSOR_ROWS	rows|4|5|1
cursor_rows: 0 once the last opened is closed, and for no qualifying rows	DECLARE s CURSOR STATIC FOR SELECT id FROM emp; DECLARE e CURSOR STATIC FOR SELECT id FROM empty_t; OPEN s; CLOSE s; DECLARE @a INT = @@CURSOR_ROWS; OPEN e; SELECT 'rows', @a, @@CURSOR_ROWS	rows|0|0
TABLE

# WHERE CURRENT OF changes the row the cursor's last FETCH reached in the
# cursor's one base table; each row undoes its changes.
check_rows <<'TABLE'
update: the second row fetched, not the second by id	BEGIN TRAN; DECLARE @id INT, @rc INT; DECLARE c CURSOR LOCAL FOR SELECT id FROM emp WHERE id >= 2 ORDER BY id DESC; OPEN c; FETCH NEXT FROM c INTO @id; FETCH NEXT FROM c INTO @id; UPDATE emp SET name = N'Xyz' WHERE CURRENT OF c; SET @rc = @@ROWCOUNT; SELECT 'upd', @rc, COUNT(*), MIN(id) FROM emp WHERE name = N'Xyz'; ROLLBACK	upd|1|1|4
update: ordered by a column alias, the row fetched is the one changed	BEGIN TRAN; DECLARE @n NVARCHAR(20); DECLARE c CURSOR LOCAL FOR SELECT name AS n FROM emp ORDER BY n DESC; OPEN c; FETCH NEXT FROM c INTO @n; FETCH NEXT FROM c INTO @n; UPDATE emp SET salary = 0 WHERE CURRENT OF c; SELECT 'zero', @n, id FROM emp WHERE salary = 0; ROLLBACK	zero|Dan|4
delete: in a loop, only the rows the loop picks	BEGIN TRAN; DECLARE @s DECIMAL(8,2); DECLARE c CURSOR LOCAL FOR SELECT salary FROM emp ORDER BY id; OPEN c; FETCH NEXT FROM c INTO @s; WHILE @@FETCH_STATUS = 0 BEGIN IF @s > 250 DELETE FROM emp WHERE CURRENT OF c; FETCH NEXT FROM c INTO @s END; CLOSE c; DEALLOCATE c; SELECT 'left', COUNT(*), MAX(id) FROM emp; ROLLBACK	left|2|2
delete: GLOBAL cursor filtered by a variable, DELETE without FROM	BEGIN TRAN; DECLARE @min INT = 3, @id INT; DECLARE g CURSOR GLOBAL SCROLL FOR SELECT id FROM emp WHERE id >= @min ORDER BY id; OPEN g; FETCH LAST FROM g INTO @id; DELETE emp WHERE CURRENT OF GLOBAL g; CLOSE g; DEALLOCATE g; SELECT 'gone', COUNT(*), MAX(id) FROM emp; ROLLBACK	gone|4|4
update: through a cursor variable	BEGIN TRAN; DECLARE @c CURSOR, @id INT; SET @c = CURSOR FOR SELECT id FROM emp WHERE id = 3; OPEN @c; FETCH NEXT FROM @c INTO @id; UPDATE emp SET name = N'Var' WHERE CURRENT OF @c; SELECT 'var', id FROM emp WHERE name = N'Var'; ROLLBACK	var|3
TABLE

# Refusals: a read-only cursor (declared so, or read-only by its SELECT), no
# current row, a table the cursor does not read, no such cursor.
current_of_error() {
    printf "BEGIN TRY DECLARE @id INT; DECLARE c CURSOR LOCAL %s; OPEN c; %s; UPDATE %s SET id = id WHERE CURRENT OF %s END TRY BEGIN CATCH SELECT 'err', ERROR_NUMBER(), ERROR_MESSAGE() END CATCH" "$@"
}
check_rows <<TABLE
read only: STATIC	$(current_of_error "STATIC FOR SELECT id FROM emp" "FETCH NEXT FROM c INTO @id" emp c)	err|16929|The cursor is READ ONLY.
read only: READ_ONLY	$(current_of_error "READ_ONLY FOR SELECT id FROM emp" "FETCH NEXT FROM c INTO @id" emp c)	err|16929|The cursor is READ ONLY.
read only: FAST_FORWARD	$(current_of_error "FAST_FORWARD FOR SELECT id FROM emp" "FETCH NEXT FROM c INTO @id" emp c)	err|16929|The cursor is READ ONLY.
read only: FOR READ ONLY	$(current_of_error "FOR SELECT id FROM emp FOR READ ONLY" "FETCH NEXT FROM c INTO @id" emp c)	err|16929|The cursor is READ ONLY.
read only: DISTINCT	$(current_of_error "FOR SELECT DISTINCT id FROM emp" "FETCH NEXT FROM c INTO @id" emp c)	err|16929|The cursor is READ ONLY.
no current row: before the first FETCH	$(current_of_error "FOR SELECT id FROM emp" "SET @id = 0" emp c)	err|16930|The requested row is not in the fetch buffer.
no current row: past the last	$(current_of_error "FOR SELECT id FROM emp WHERE id = 1" "FETCH NEXT FROM c INTO @id; FETCH NEXT FROM c INTO @id" emp c)	err|16930|The requested row is not in the fetch buffer.
another table	$(current_of_error "FOR SELECT id FROM emp" "FETCH NEXT FROM c INTO @id" empty_t c)	err|16933|The cursor does not include the table being modified or the table is not updatable through the cursor.
no such cursor	$(current_of_error "FOR SELECT id FROM emp" "FETCH NEXT FROM c INTO @id" emp nosuch)	err|16916|A cursor with the name 'nosuch' does not exist.
TABLE
rows_of <<<"SELECT 'unchanged', COUNT(*), SUM(id) FROM emp WHERE salary IN (100.50, 200.00, 300.25, 400.00, 500.75)" | grep -qxF "unchanged|5|15" || fail "the table changed"
ok "the refused and rolled-back statements left the table as it was"

# A global cursor lives on the connection until DEALLOCATE; a local one ends with its batch.
out=$(rows_of <<'SQL'
DECLARE g CURSOR GLOBAL FOR SELECT name FROM emp ORDER BY id; OPEN g; DECLARE l CURSOR LOCAL FOR SELECT 1; OPEN l
FETCH NEXT FROM g
FETCH NEXT FROM g
SELECT CURSOR_STATUS('global', 'g') AS g_status, CURSOR_STATUS('local', 'l') AS l_status
CLOSE g; DEALLOCATE g; SELECT 'deallocated' AS tail
SQL
)
expect_contains "global: the first row in the next batch" "$out" "Ann"
expect_contains "global: the second row in the batch after" "$out" "Ben"
expect_contains "global: still open, the local one gone" "$out" "1|-3"
expect_contains "global: deallocated" "$out" "deallocated"

# Errors, as SQL Server words them (tsql shows number, severity and text).
out=$(tsql_run <<'SQL'
DECLARE c CURSOR FOR SELECT id FROM emp
DEALLOCATE c
FETCH NEXT FROM c
go
DECLARE c CURSOR FOR SELECT id FROM emp
FETCH NEXT FROM c
CLOSE c
go
OPEN c
OPEN c
go
DECLARE c CURSOR FOR SELECT 1
go
FETCH PRIOR FROM c
go
DECLARE @a INT
FETCH NEXT FROM c INTO @a, @a
go
DEALLOCATE c
DEALLOCATE c
go
DECLARE @v CURSOR
OPEN @v
go
DECLARE x CURSOR FORWARD_ONLY SCROLL FOR SELECT 1
go
exit
SQL
)
[[ $(grep -c "Msg 16916 (severity 16, state 1)" <<<"$out") -eq 2 ]] || fail "after DEALLOCATE: two uses should fail with 16916: $out"
ok "16916 for a cursor used after DEALLOCATE (FETCH and a second DEALLOCATE)"
expect_contains "16916's text" "$out" "A cursor with the name 'c' does not exist."
[[ $(grep -c "Msg 16917 (severity 16, state 1)" <<<"$out") -eq 2 ]] || fail "not open: FETCH and CLOSE should fail with 16917: $out"
ok "16917 for FETCH and CLOSE of a cursor not open"
expect_contains "16917's text" "$out" "Cursor is not open."
expect_contains "16905: OPEN of an open cursor" "$out" "The cursor is already open."
expect_contains "16915: DECLARE of an existing cursor" "$out" "A cursor with the name 'c' already exists."
expect_contains "16911: PRIOR on a forward-only cursor" "$out" "fetch: The fetch type PRIOR cannot be used with forward only cursors."
expect_contains "16924: INTO list of the wrong length" "$out" "Cursorfetch: The number of variables declared in the INTO list must match that of selected columns."
expect_contains "16950: a cursor variable with no cursor" "$out" "The variable '@v' does not currently have a cursor allocated to it."
expect_contains "1048: FORWARD_ONLY with SCROLL" "$out" "Conflicting cursor options FORWARD_ONLY and SCROLL."

# bsqldb: FETCH without INTO sends one row per FETCH.
out=$(bsqldb_run <<'SQL'
DECLARE c CURSOR LOCAL SCROLL FOR SELECT name FROM emp ORDER BY id
OPEN c
FETCH LAST FROM c
FETCH FIRST FROM c
go
SQL
)
expect_contains "bsqldb: FETCH LAST's row" "$out" "Eve"
expect_contains "bsqldb: FETCH FIRST's row" "$out" "Ann"

done_checks
