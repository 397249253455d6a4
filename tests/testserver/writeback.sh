#!/bin/bash
# What a client writing rows back sends, through FreeTDS tsql, bsqldb and the
# ODBC driver: OUTPUT rows, row counts taken in the batch, savepoints, THROW,
# datetime2/time at full precision.
source "$(dirname "$0")/lib/common.sh"

start_server --login "alice:$PW"

out=$(tsql_run <<'SQL'
CREATE TABLE wb (id INT IDENTITY(1,1) PRIMARY KEY, name NVARCHAR(20) NOT NULL, qty INT DEFAULT 5)
go
SET NOCOUNT ON
DECLARE @n INT
INSERT INTO wb (name) OUTPUT INSERTED.id, INSERTED.qty AS stored_qty VALUES (N'first')
SELECT @n = @@ROWCOUNT
SELECT @n AS inserted_rows, @@TRANCOUNT AS open_trans
SET NOCOUNT OFF
go
exit
SQL
)
expect_contains "tsql: OUTPUT column named by its alias" "$out" "stored_qty"
expect_contains "tsql: OUTPUT carries the default" "$out" "1	5"
expect_contains "tsql: @@ROWCOUNT taken after the insert" "$out" "1	0"
expect_not_contains "tsql: no errors" "$out" "Msg "

out=$(tsql_run <<'SQL'
BEGIN TRAN outer_tran
INSERT INTO wb (name) VALUES (N'kept')
SAVE TRAN before_edit
UPDATE wb SET name = N'undone' WHERE id = 1
ROLLBACK TRAN before_edit
SELECT @@TRANCOUNT AS after_savepoint_rollback
COMMIT TRAN
SELECT name FROM wb ORDER BY id
go
SAVE TRAN nowhere
go
ROLLBACK TRAN
go
exit
SQL
)
expect_contains "tsql: savepoint rollback keeps the transaction" "$out" "after_savepoint_rollback
1"
expect_contains "tsql: work before the savepoint is committed" "$out" "kept"
expect_not_contains "tsql: work after the savepoint is undone" "$out" "undone"
expect_contains "tsql: SAVE TRAN outside a transaction" "$out" "Msg 628"
expect_contains "tsql: ROLLBACK without BEGIN" "$out" "Msg 3903"

out=$(bsqldb_run <<'SQL'
UPDATE wb SET qty = qty + 1 OUTPUT INSERTED.name, INSERTED.qty WHERE id = 2
IF @@ROWCOUNT <> 1 THROW 50001, 'row changed elsewhere', 1
SELECT 'after update' AS marker
go
if 1 = 0 select name as from_archive from wb else select qty as from_t from wb where id = 2
go
UPDATE wb SET qty = 0 WHERE id = 99
IF @@ROWCOUNT <> 1 THROW 50001, 'row changed elsewhere', 1
SELECT 'not reached' AS marker
go
SQL
)
expect_contains "bsqldb: OUTPUT row of the update" "$out" "kept"
expect_contains "bsqldb: batch goes on when the count is right" "$out" "after update"
expect_contains "bsqldb: THROW text" "$out" "row changed elsewhere"
expect_not_contains "bsqldb: THROW ends the batch" "$out" "not reached"
expect_contains "bsqldb: rows from the ELSE branch" "$out" "from_t"
expect_not_contains "bsqldb: not from the THEN branch" "$out" "from_archive"

# datetime2 and time keep 100 ns through the ODBC driver, both ways.
out=$(isql_run <<'SQL'
CREATE TABLE dt (id INT PRIMARY KEY, d2 DATETIME2(7), d3 DATETIME2(3), t TIME(7), dto DATETIMEOFFSET(7), d DATE)
INSERT INTO dt VALUES (1, '2024-02-29 23:59:59.1234567', '2024-02-29 23:59:59.1234567', '13:14:15.7654321', '2024-01-02 03:04:05.1234567 +08:00', '2024-03-01')
SELECT id, d2, d3, t, dto, d FROM dt
SELECT 'found-' + cast(id AS varchar(5)) FROM dt WHERE d2 = '2024-02-29 23:59:59.1234567' AND t = '13:14:15.7654321' AND d3 = '2024-02-29 23:59:59.123'
SELECT 'count-' + cast(count(*) AS varchar(5)) FROM dt WHERE d2 = '2024-02-29 23:59:59.1234568'
SQL
)
expect_contains "odbc: datetime2(7) at 100 ns" "$out" "2024-02-29 23:59:59.1234567"
expect_contains "odbc: datetime2(3) rounded on insert" "$out" "2024-02-29 23:59:59.123"
expect_contains "odbc: time(7) at 100 ns" "$out" "13:14:15.7654321"
expect_contains "odbc: datetimeoffset keeps its offset" "$out" "2024-01-02 03:04:05.1234567 +08:00"
expect_contains "odbc: the exact values find the row" "$out" "found-1"
expect_contains "odbc: a value 100 ns off does not" "$out" "count-0"
expect_not_contains "odbc: no errors" "$out" "[ISQL]ERROR"

# Schemas: the same unqualified name reads the login's default schema first.
out=$(tsql_run <<'SQL'
CREATE SCHEMA sales
go
CREATE TABLE sales.t (id INT PRIMARY KEY, v NVARCHAR(20))
CREATE TABLE dbo.t (id INT PRIMARY KEY, v NVARCHAR(20))
INSERT sales.t VALUES (1, N'from-sales')
INSERT dbo.t VALUES (1, N'from-dbo')
CREATE USER alice FOR LOGIN alice WITH DEFAULT_SCHEMA = sales
CREATE UNIQUE INDEX ix_v ON sales.t (v)
go
exit
SQL
)
expect_not_contains "tsql: schema set-up" "$out" "Msg "
out=$(tsql_run alice <<'SQL'
SELECT v AS alice_sees FROM t
SELECT OBJECT_SCHEMA_NAME(OBJECT_ID(N't')) + '|' + SCHEMA_NAME() AS resolved
SELECT i.name AS unique_index FROM sys.indexes i WHERE i.object_id = OBJECT_ID('t') AND i.is_unique = 1 AND i.is_primary_key = 0
go
exit
SQL
)
expect_contains "tsql: alice reads sales.t" "$out" "from-sales"
expect_not_contains "tsql: not dbo.t" "$out" "from-dbo"
expect_contains "tsql: OBJECT_ID resolves through the default schema" "$out" "sales|sales"
expect_contains "tsql: unique index in sys.indexes" "$out" "ix_v"
out=$(tsql_run <<'SQL'
SELECT v AS sa_sees FROM t
go
exit
SQL
)
expect_contains "tsql: sa reads dbo.t" "$out" "from-dbo"

# Columns the server fills in: a uniqueidentifier (GUIDTYPE on the wire, read by
# the ODBC driver as SQL_GUID), a computed column and a rowversion.
out=$(isql_run <<'SQL'
CREATE TABLE g (id UNIQUEIDENTIFIER NOT NULL DEFAULT NEWID() PRIMARY KEY, n INT NOT NULL DEFAULT 5, c AS n * 2, rv ROWVERSION, name NVARCHAR(20) NULL)
INSERT INTO g (id, name) VALUES ('6f9619ff-8b86-d011-b42d-00c04fc964ff', N'fixed')
INSERT INTO g (name) VALUES (N'generated')
SELECT id, c FROM g WHERE name = N'fixed'
SELECT 'generated-' + CASE WHEN id LIKE '________-____-4___-____-____________' THEN 'v4' ELSE 'other' END FROM g WHERE name = N'generated'
SELECT 'rv-' + CASE WHEN rv = @@DBTS THEN 'latest' ELSE 'older' END FROM g ORDER BY name
UPDATE g SET n = 7 WHERE name = N'fixed'
SELECT 'after-' + CAST(c AS varchar(5)) + '-' + CASE WHEN rv = @@DBTS THEN 'latest' ELSE 'older' END FROM g WHERE id = '6F9619FF-8B86-D011-B42D-00C04FC964FF'
UPDATE g SET rv = 0x01
INSERT INTO g (c) VALUES (1)
SQL
)
expect_contains "odbc: uniqueidentifier read as text in upper case" "$out" "6F9619FF-8B86-D011-B42D-00C04FC964FF"
expect_contains "odbc: computed column" "$out" "| 10"
expect_contains "odbc: newid() makes a version 4 value" "$out" "generated-v4"
expect_contains "odbc: the last insert holds @@DBTS" "$out" "rv-latest"
expect_contains "odbc: an update takes a new rowversion and recomputes" "$out" "after-14-latest"
expect_contains "odbc: rowversion cannot be updated" "$out" "Cannot update a timestamp column"
expect_contains "odbc: computed column cannot be written" "$out" 'The column "c" cannot be modified'
out=$(tsql_run <<'SQL'
SELECT id AS guid_over_tds FROM g WHERE name = N'fixed'
go
exit
SQL
)
expect_contains "tsql: uniqueidentifier value" "$out" "6F9619FF-8B86-D011-B42D-00C04FC964FF"

# Triggers: AFTER triggers writing an audit table, the write's own count kept;
# OUTPUT refused while a trigger is enabled; INSTEAD OF replacing the insert.
out=$(tsql_run <<'SQL'
CREATE TABLE tg (k INT PRIMARY KEY, v NVARCHAR(20) NULL)
CREATE TABLE tg_audit (n INT IDENTITY(1,1) PRIMARY KEY, k INT NULL, note NVARCHAR(20) NULL)
INSERT INTO tg VALUES (1, N'a')
go
CREATE TRIGGER tr_tg ON tg AFTER INSERT, UPDATE, DELETE AS
INSERT INTO tg_audit (k, note) SELECT k, 'new' FROM inserted
INSERT INTO tg_audit (k, note) SELECT k, 'old' FROM deleted
go
SET NOCOUNT ON
DECLARE @dv_n int
UPDATE tg SET v = N'b' WHERE k = 1
SET @dv_n = @@ROWCOUNT
SELECT @dv_n AS own_count, (SELECT COUNT(*) FROM tg_audit) AS audit_rows
go
UPDATE tg SET v = N'c' OUTPUT INSERTED.k WHERE k = 1
go
SELECT v AS after_output FROM tg
SELECT COUNT(*) AS triggers_on FROM sys.triggers WHERE parent_id = OBJECT_ID('tg') AND is_disabled = 0
go
CREATE TABLE tgi (k INT PRIMARY KEY, v NVARCHAR(20) NULL)
go
CREATE TRIGGER tr_tgi ON tgi INSTEAD OF INSERT AS
PRINT 'dropped by the trigger'
go
INSERT INTO tgi VALUES (2, N'x')
SELECT @@ROWCOUNT AS instead_count, (SELECT COUNT(*) FROM tgi) AS stored_rows
go
exit
SQL
)
expect_contains "tsql: an update with a trigger counts its own row" "$out" "own_count	audit_rows
1	2"
expect_contains "tsql: OUTPUT on a table with a trigger" "$out" "Msg 334"
expect_contains "tsql: the refused statement changed nothing" "$out" "after_output
b"
expect_contains "tsql: the trigger in sys.triggers" "$out" "triggers_on
1"
expect_contains "tsql: INSTEAD OF trigger's PRINT" "$out" "dropped by the trigger"
expect_contains "tsql: INSTEAD OF insert counts the row, stores none" "$out" "instead_count	stored_rows
1	0"
out=$(tsql_run <<'SQL'
CREATE TRIGGER tr_tg_guard ON tg AFTER DELETE AS
IF EXISTS (SELECT * FROM deleted WHERE k = 1) BEGIN RAISERROR('row 1 stays', 16, 1) ROLLBACK END
go
DELETE FROM tg WHERE k = 1
SELECT 'not reached' AS marker
go
SELECT COUNT(*) AS rows_left FROM tg
go
exit
SQL
)
expect_contains "tsql: the trigger's RAISERROR" "$out" "row 1 stays"
expect_contains "tsql: ROLLBACK in a trigger ends the batch" "$out" "Msg 3609"
expect_not_contains "tsql: nothing after it runs" "$out" "not reached"
expect_contains "tsql: the delete is undone" "$out" "rows_left
1"

# Views: read through, listed as views, written through refused.
out=$(tsql_run <<'SQL'
CREATE VIEW v_tg AS SELECT k, v AS label FROM tg
go
SELECT label AS through_view FROM v_tg WHERE k = 1
SELECT TABLE_TYPE AS listed_as FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = 'v_tg'
SELECT o.type AS object_type FROM sys.objects o WHERE o.object_id = OBJECT_ID('[dbo].[v_tg]')
go
UPDATE v_tg SET label = N'x' WHERE k = 1
go
exit
SQL
)
expect_contains "tsql: rows through a view" "$out" "through_view
b"
expect_contains "tsql: INFORMATION_SCHEMA.TABLES lists a view" "$out" "listed_as
VIEW"
expect_contains "tsql: sys.objects type V" "$out" "object_type
V"
expect_contains "tsql: a write through a view is refused" "$out" "does not support writing through the view"
out=$(isql_run <<'SQL'
SELECT k, label FROM v_tg
SQL
)
expect_contains "odbc: rows through a view" "$out" "| b"

# OUTPUT ... INTO a table variable on a table with a trigger, and old values
# next to new ones in an UPDATE.
out=$(tsql_run <<'SQL'
SET NOCOUNT ON
DECLARE @t TABLE (k INT, old_v NVARCHAR(20), new_v NVARCHAR(20))
UPDATE tg SET v = N'd' OUTPUT INSERTED.k, DELETED.v, INSERTED.v INTO @t WHERE k = 1
SELECT old_v + '>' + new_v AS changed FROM @t
go
exit
SQL
)
expect_not_contains "tsql: OUTPUT INTO is allowed with a trigger" "$out" "Msg 334"
expect_contains "tsql: DELETED and INSERTED values of an UPDATE" "$out" "changed
b>d"

# A login made with CREATE LOGIN can log in at once; a wrong password cannot.
out=$(tsql_run <<'SQL'
CREATE LOGIN bob WITH PASSWORD = 'Bob-pw.1', CHECK_POLICY = OFF
CREATE USER bob FOR LOGIN bob WITH DEFAULT_SCHEMA = sales
go
CREATE LOGIN bob WITH PASSWORD = 'other'
go
exit
SQL
)
expect_contains "tsql: a second CREATE LOGIN of the name" "$out" "Msg 15025"
out=$(tsql_run bob 'Bob-pw.1' <<'SQL'
SELECT v AS bob_sees FROM t
go
exit
SQL
)
expect_contains "tsql: the new login reads its default schema" "$out" "from-sales"
out=$(tsql_run bob 'wrong' <<'SQL'
SELECT 1
go
exit
SQL
)
expect_contains "tsql: a wrong password is refused" "$out" "Login failed for user 'bob'"
out=$(tsql_run <<'SQL'
DROP LOGIN bob
go
exit
SQL
)
out=$(tsql_run bob 'Bob-pw.1' <<'SQL'
SELECT 1
go
exit
SQL
)
expect_contains "tsql: a dropped login is refused" "$out" "Login failed for user 'bob'"

# Under an INSTEAD OF trigger, OUTPUT ... INTO gets the rows as if the
# statement had run (defaults filled in, old and new values), while the
# table keeps what the trigger did (nothing here).
rows_of >/dev/null <<'SQL'
CREATE TABLE tio (id INT IDENTITY(10,1) PRIMARY KEY, v NVARCHAR(20) NULL, d NVARCHAR(10) NOT NULL DEFAULT N'dflt')
INSERT INTO tio (v) VALUES (N'old')
CREATE TRIGGER tr_tio ON tio INSTEAD OF INSERT, UPDATE, DELETE AS PRINT 'instead'
SQL
check_rows instead_of <<'TABLE'
insert: defaults in the would-be row, nothing stored	DECLARE @o TABLE (v NVARCHAR(20), d NVARCHAR(10)); INSERT INTO tio (v) OUTPUT inserted.v, inserted.d INTO @o VALUES (N'x'), (N'y'); SELECT @@ROWCOUNT, (SELECT COUNT(*) FROM @o), MIN(v), MAX(d), (SELECT COUNT(*) FROM tio) FROM @o	2|2|x|dflt|1
update: old and new values, the table unchanged	DECLARE @o TABLE (was NVARCHAR(20), now NVARCHAR(20)); UPDATE tio SET v = N'new' OUTPUT deleted.v, inserted.v INTO @o WHERE id = 10; SELECT was, now, (SELECT v FROM tio WHERE id = 10) FROM @o	old|new|old
delete: the row it would have deleted, still there	DECLARE @o TABLE (id INT, v NVARCHAR(20)); DELETE FROM tio OUTPUT deleted.id, deleted.v INTO @o WHERE id = 10; SELECT id, v, (SELECT COUNT(*) FROM tio) FROM @o	10|old|1
TABLE

done_checks
