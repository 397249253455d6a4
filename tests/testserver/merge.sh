#!/bin/bash
# MERGE: WHEN MATCHED / NOT MATCHED [BY TARGET] / NOT MATCHED BY SOURCE with
# their conditions, sources that are tables, views, derived tables and
# VALUES, TOP, OUTPUT $action with INTO, @@ROWCOUNT, the triggers of each
# action, and SQL Server's errors, through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE inv (product INT PRIMARY KEY, qty INT NOT NULL, note NVARCHAR(20) NULL)
INSERT INTO inv VALUES (1, 10, NULL), (2, 5, NULL), (3, 8, NULL), (4, 1, NULL)
CREATE TABLE orders (product INT, ordered INT)
INSERT INTO orders VALUES (1, 3), (2, 5), (2, 1), (3, 2), (9, 7)
CREATE TABLE reason (id INT IDENTITY(1,1) PRIMARY KEY, name NVARCHAR(30) NOT NULL, kind NVARCHAR(30) NOT NULL)
INSERT INTO reason (name, kind) VALUES (N'Price', N'Other'), (N'Review', N'Marketing')
CREATE VIEW orders_v AS SELECT product, ordered FROM orders WHERE product < 9
CREATE TABLE log (what NVARCHAR(10), n INT)
CREATE TABLE audit (act NVARCHAR(10), old_qty INT, new_qty INT)
SQL

inv="SELECT STRING_AGG(CONCAT(product, ':', qty), ',') WITHIN GROUP (ORDER BY product) FROM inv"

# Each batch runs in a transaction it rolls back, so every row starts from the same tables.
check_rows merge <<TABLE
matched: update and delete by condition from a grouped derived source	BEGIN TRAN; MERGE inv AS t USING (SELECT product, SUM(ordered) FROM orders GROUP BY product) AS s (product, ordered) ON t.product = s.product WHEN MATCHED AND t.qty - s.ordered <= 0 THEN DELETE WHEN MATCHED THEN UPDATE SET t.qty = t.qty - s.ordered; SELECT 'rows', @@ROWCOUNT; $inv; ROLLBACK	rows|3
matched: the table after it	BEGIN TRAN; MERGE inv AS t USING (SELECT product, SUM(ordered) FROM orders GROUP BY product) AS s (product, ordered) ON t.product = s.product WHEN MATCHED AND t.qty - s.ordered <= 0 THEN DELETE WHEN MATCHED THEN UPDATE SET t.qty = t.qty - s.ordered; $inv; ROLLBACK	1:7,3:6,4:1
not matched: by target inserts, by source deletes	BEGIN TRAN; MERGE INTO inv USING (VALUES (4, 2), (7, 70)) AS v (product, qty) ON inv.product = v.product WHEN NOT MATCHED BY TARGET THEN INSERT (product, qty) VALUES (v.product, v.qty) WHEN NOT MATCHED BY SOURCE AND inv.qty > 6 THEN DELETE; $inv; ROLLBACK	2:5,4:1,7:70
not matched by source: update with a compound assignment	BEGIN TRAN; MERGE inv t USING orders s ON t.product = s.product WHEN NOT MATCHED BY SOURCE THEN UPDATE SET qty += 100, note = N'gone'; SELECT qty, note FROM inv WHERE product = 4; ROLLBACK	101|gone
not matched: NOT MATCHED alone means by target	BEGIN TRAN; MERGE inv USING (SELECT 5 AS p, 50 AS q) AS s ON inv.product = s.p WHEN NOT MATCHED THEN INSERT VALUES (s.p, s.q, N'new'); SELECT qty, note FROM inv WHERE product = 5; ROLLBACK	50|new
source: a view	BEGIN TRAN; MERGE inv USING orders_v AS o ON inv.product = o.product AND o.ordered = 3 WHEN MATCHED THEN UPDATE SET qty = 0; $inv; ROLLBACK	1:0,2:5,3:8,4:1
source: variables in a derived table, the reference's upsert	BEGIN TRAN; DECLARE @name NVARCHAR(30) = N'Review', @kind NVARCHAR(30) = N'Promotion'; MERGE reason AS tgt USING (SELECT @name, @kind) AS src (name, kind) ON tgt.name = src.name WHEN MATCHED THEN UPDATE SET kind = src.kind WHEN NOT MATCHED THEN INSERT (name, kind) VALUES (src.name, src.kind); SELECT id, kind FROM reason WHERE name = N'Review'; ROLLBACK	2|Promotion
source: VALUES rows, identity of the inserted ones	BEGIN TRAN; MERGE reason AS tgt USING (VALUES (N'Recommendation', N'Other'), (N'Review', N'Marketing'), (N'Internet', N'Promotion')) AS src (name, kind) ON tgt.name = src.name WHEN MATCHED THEN UPDATE SET kind = src.kind WHEN NOT MATCHED BY TARGET THEN INSERT (name, kind) VALUES (src.name, src.kind); SELECT @@ROWCOUNT, SCOPE_IDENTITY(), (SELECT COUNT(*) FROM reason); ROLLBACK	3|4|4
target: a table variable, a row inserted without a column list	DECLARE @t TABLE (id INT PRIMARY KEY, v INT); INSERT INTO @t VALUES (1, 1); MERGE @t AS t USING (VALUES (1, 5), (2, 6)) AS s (id, v) ON t.id = s.id WHEN MATCHED THEN UPDATE SET v = s.v WHEN NOT MATCHED THEN INSERT VALUES (s.id, s.v); SELECT STRING_AGG(CONCAT(id, ':', v), ',') WITHIN GROUP (ORDER BY id) FROM @t	1:5,2:6
top: only n rows are acted on	BEGIN TRAN; MERGE TOP (2) inv USING orders o ON 1 = 0 WHEN NOT MATCHED BY SOURCE THEN DELETE; SELECT @@ROWCOUNT, COUNT(*) FROM inv; ROLLBACK	2|2
nothing: no row matches any clause	BEGIN TRAN; MERGE inv USING orders o ON inv.product = o.product WHEN MATCHED AND o.ordered > 100 THEN DELETE; SELECT 'none', @@ROWCOUNT; ROLLBACK	none|0
output: \$action with inserted and deleted	BEGIN TRAN; MERGE inv AS t USING (VALUES (1, 11), (6, 60)) AS s (product, qty) ON t.product = s.product WHEN MATCHED THEN UPDATE SET qty = s.qty WHEN NOT MATCHED THEN INSERT (product, qty) VALUES (s.product, s.qty) OUTPUT \$action, deleted.qty, inserted.qty, s.product; ROLLBACK	UPDATE|10|11|1
output: an INSERT has no deleted row	BEGIN TRAN; MERGE inv AS t USING (VALUES (1, 11), (6, 60)) AS s (product, qty) ON t.product = s.product WHEN MATCHED THEN UPDATE SET qty = s.qty WHEN NOT MATCHED THEN INSERT (product, qty) VALUES (s.product, s.qty) OUTPUT \$action, deleted.qty, inserted.qty, s.product; ROLLBACK	INSERT||60|6
output: a DELETE has no inserted row	BEGIN TRAN; MERGE inv AS t USING (VALUES (2)) AS s (product) ON t.product = s.product WHEN MATCHED THEN DELETE OUTPUT \$action, inserted.product, deleted.*; ROLLBACK	DELETE||2|5|
output: INTO a table, then @@ROWCOUNT	BEGIN TRAN; MERGE inv AS t USING orders AS s ON t.product = s.product AND s.ordered = 2 WHEN MATCHED THEN UPDATE SET qty = t.qty * 2 WHEN NOT MATCHED BY SOURCE AND t.qty = 1 THEN DELETE OUTPUT \$action, deleted.qty, inserted.qty INTO audit; SELECT @@ROWCOUNT, STRING_AGG(CONCAT(act, old_qty, '>', new_qty), ',') WITHIN GROUP (ORDER BY act) FROM audit; ROLLBACK	2|DELETE1>,UPDATE8>16
TABLE

# The triggers of each action fire once, as for the separate statement, with its rows.
rows_of >/dev/null <<'SQL'
CREATE TRIGGER inv_ins ON inv AFTER INSERT AS INSERT INTO log SELECT 'ins', COUNT(*) FROM inserted
CREATE TRIGGER inv_upd ON inv AFTER UPDATE AS INSERT INTO log SELECT 'upd', COUNT(*) FROM inserted
CREATE TRIGGER inv_del ON inv AFTER DELETE AS INSERT INTO log SELECT 'del', COUNT(*) FROM deleted
SQL
check_rows triggers <<'TABLE'
after: one firing per action with its row count	BEGIN TRAN; MERGE inv AS t USING (VALUES (1, 0), (2, 6), (3, 9), (8, 80), (9, 90)) AS s (product, qty) ON t.product = s.product WHEN MATCHED AND s.qty = 0 THEN DELETE WHEN MATCHED THEN UPDATE SET qty = s.qty WHEN NOT MATCHED THEN INSERT (product, qty) VALUES (s.product, s.qty); SELECT STRING_AGG(CONCAT(what, n), ',') WITHIN GROUP (ORDER BY what) FROM log; ROLLBACK	del1,ins2,upd2
after: the MERGE's own count is all its actions	BEGIN TRAN; MERGE inv AS t USING (VALUES (1, 0), (2, 6), (8, 80)) AS s (product, qty) ON t.product = s.product WHEN MATCHED AND s.qty = 0 THEN DELETE WHEN MATCHED THEN UPDATE SET qty = s.qty WHEN NOT MATCHED THEN INSERT (product, qty) VALUES (s.product, s.qty); SELECT 'count', @@ROWCOUNT; ROLLBACK	count|3
after: an action without rows fires nothing	BEGIN TRAN; MERGE inv AS t USING (VALUES (2, 6)) AS s (product, qty) ON t.product = s.product WHEN MATCHED THEN UPDATE SET qty = s.qty WHEN NOT MATCHED THEN INSERT (product, qty) VALUES (s.product, s.qty); SELECT STRING_AGG(what, ',') FROM log; ROLLBACK	upd
TABLE

# Errors as SQL Server gives them; a failing MERGE leaves every row as it was.
out=$(tsql_run <<'SQL'
MERGE inv USING orders o ON inv.product = o.product WHEN MATCHED THEN DELETE
go
MERGE inv USING orders o ON inv.product = o.product WHEN MATCHED THEN UPDATE SET qty = o.ordered;
go
MERGE nosuch USING orders o ON nosuch.product = o.product WHEN MATCHED THEN DELETE;
go
MERGE inv USING orders o ON inv.product = o.product WHEN MATCHED THEN UPDATE SET nosuch = 1;
go
MERGE inv USING orders o ON inv.product = o.product WHEN MATCHED AND o.ordered = 1 THEN UPDATE SET qty = 1 WHEN MATCHED THEN UPDATE SET qty = 2;
go
MERGE inv USING orders o ON inv.product = o.product WHEN MATCHED THEN INSERT (product, qty) VALUES (1, 1);
go
MERGE inv USING (VALUES (1, 2), (3)) AS s (a, b) ON inv.product = s.a WHEN MATCHED THEN DELETE;
go
MERGE inv USING (VALUES (1, 2)) AS s (a, b, c) ON inv.product = s.a WHEN MATCHED THEN DELETE;
go
MERGE inv USING (VALUES (1, 5), (50, NULL)) AS s (a, b) ON inv.product = s.a WHEN MATCHED THEN UPDATE SET qty = 0 WHEN NOT MATCHED THEN INSERT (product, qty) VALUES (s.a, s.b);
go
SELECT 'after', SUM(qty) FROM inv
go
MERGE inv USING orders o ON inv.product = o.product WHEN MATCHED THEN UPDATE SET qty = 1 OUTPUT $action;
go
SQL
)
expect_contains "error: no semicolon" "$out" "Msg 10713 (severity 15"
expect_contains "error: no semicolon, its text" "$out" "A MERGE statement must be terminated by a semi-colon (;)."
expect_contains "error: a target row matched twice" "$out" "Msg 8672 (severity 16"
expect_contains "error: a target row matched twice, its text" "$out" "The MERGE statement attempted to UPDATE or DELETE the same row more than once."
expect_contains "error: missing target" "$out" "Invalid object name 'nosuch'."
expect_contains "error: unknown column in SET" "$out" "Invalid column name 'nosuch'."
expect_contains "error: two WHEN MATCHED ... UPDATE" "$out" "An action of type 'WHEN MATCHED' cannot appear more than once in a 'UPDATE' clause of a MERGE statement."
expect_contains "error: INSERT under WHEN MATCHED" "$out" "Incorrect syntax near the keyword 'INSERT'."
expect_contains "error: VALUES rows of different widths" "$out" "Msg 10709"
expect_contains "error: more names than columns" "$out" "'s' has fewer columns than were specified in the column list."
expect_contains "error: a NULL into NOT NULL" "$out" "Cannot insert the value NULL into column 'qty'"
expect_contains "error: the failed MERGE undid its update" "$out" "after	24"
expect_contains "error: bare OUTPUT with triggers" "$out" "Msg 334 (severity 16"

done_checks
