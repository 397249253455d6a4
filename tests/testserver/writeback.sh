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

done_checks
