#!/bin/bash
# CROSS APPLY and OUTER APPLY over derived tables that name the left table's
# columns (top n per group, aggregates), over VALUES (unpivot by values),
# over OPENJSON ... WITH, chained after STRING_SPLIT, and VALUES as a derived
# table; SQL Server's errors for a VALUES list without fitting column names;
# through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE cust (id INT PRIMARY KEY, name NVARCHAR(20) NOT NULL)
INSERT INTO cust VALUES (1, N'Ann'), (2, N'Ben'), (3, N'Cat')
CREATE TABLE orders (id INT PRIMARY KEY, cust_id INT NOT NULL, amount INT NOT NULL)
INSERT INTO orders VALUES (1, 1, 100), (2, 1, 300), (3, 1, 200), (4, 2, 50), (5, 2, 70), (6, 2, 70)
CREATE TABLE sales (yr INT PRIMARY KEY, q1 INT, q2 INT)
INSERT INTO sales VALUES (2023, 10, 20), (2024, 30, NULL)
CREATE TABLE doc (id INT PRIMARY KEY, body NVARCHAR(MAX))
INSERT INTO doc VALUES (1, N'[{"sku":"A1","qty":2,"tags":["x","y"]},{"sku":"B2","qty":5}]'), (2, N'[]')
SQL

check_rows apply <<'TABLE'
top n per group: the rows	SELECT COUNT(*) FROM cust c CROSS APPLY (SELECT TOP 2 amount FROM orders WHERE cust_id = c.id ORDER BY amount DESC) o	4
top n per group: Ann's second	SELECT STRING_AGG(CAST(o.amount AS VARCHAR(10)), ',') WITHIN GROUP (ORDER BY o.amount DESC) FROM cust c CROSS APPLY (SELECT TOP 2 amount FROM orders WHERE cust_id = c.id ORDER BY amount DESC) o WHERE c.name = N'Ann'	300,200
top n per group: the left columns kept	SELECT c.name, o.amount FROM cust c CROSS APPLY (SELECT TOP 1 amount FROM orders WHERE cust_id = c.id ORDER BY amount) o WHERE c.id = 2	Ben|50
top n per group: WITH TIES	SELECT COUNT(*) FROM cust c CROSS APPLY (SELECT TOP 1 WITH TIES id FROM orders WHERE cust_id = c.id ORDER BY amount DESC) o	3
outer apply: no right rows, NULLs	SELECT c.name, o.amount FROM cust c OUTER APPLY (SELECT TOP 2 amount FROM orders WHERE cust_id = c.id ORDER BY amount DESC) o WHERE c.id = 3	Cat|
outer apply: every left row	SELECT COUNT(*) FROM cust c OUTER APPLY (SELECT TOP 2 amount FROM orders WHERE cust_id = c.id ORDER BY amount DESC) o	5
cross apply: no right rows, no row	SELECT COUNT(*) FROM cust c CROSS APPLY (SELECT amount FROM orders o WHERE o.cust_id = c.id) x WHERE c.id = 3	0
aggregate per row	SELECT c.name, x.n, x.total FROM cust c CROSS APPLY (SELECT COUNT(*) AS n, SUM(o.amount) AS total FROM orders o WHERE o.cust_id = c.id) x WHERE c.id = 1	Ann|3|600
aggregate: an empty group is one row	SELECT c.name, x.n, x.total FROM cust c CROSS APPLY (SELECT COUNT(*) AS n, SUM(o.amount) AS total FROM orders o WHERE o.cust_id = c.id) x WHERE c.id = 3	Cat|0|
two left columns and a variable	DECLARE @min INT = 60; SELECT COUNT(*) FROM cust c CROSS APPLY (SELECT o.id FROM orders o WHERE o.cust_id = c.id AND o.amount > @min AND c.name <> N'Ann') x	2
not correlated	SELECT c.name, x.m FROM cust c CROSS APPLY (SELECT MAX(amount) AS m FROM orders) x WHERE c.id = 3	Cat|300
column names for the derived table	SELECT c.id, x.biggest FROM cust c CROSS APPLY (SELECT MAX(amount) FROM orders o WHERE o.cust_id = c.id) x(biggest) WHERE c.id = 2	2|70
values: unpivot	SELECT s.yr, v.qtr, v.amount FROM sales s CROSS APPLY (VALUES ('Q1', s.q1), ('Q2', s.q2)) v(qtr, amount) WHERE s.yr = 2023 AND v.qtr = 'Q2'	2023|Q2|20
values: one row per value	SELECT COUNT(*) FROM sales s CROSS APPLY (VALUES ('Q1', s.q1), ('Q2', s.q2)) v(qtr, amount)	4
values: skip NULLs	SELECT COUNT(*) FROM sales s CROSS APPLY (VALUES (s.q1), (s.q2)) v(amount) WHERE v.amount IS NOT NULL	3
values: the largest of columns	SELECT s.yr, (SELECT MAX(v) FROM (VALUES (s.q1), (s.q2)) AS x(v)) FROM sales s WHERE s.yr = 2023	2023|20
values: a derived table	SELECT * FROM (VALUES (1, 'a'), (2, 'b')) AS v(n, c) WHERE n = 2	2|b
values: joined	SELECT c.name FROM cust c JOIN (VALUES (2), (3)) AS v(id) ON v.id = c.id ORDER BY c.id	Ben
chain: after STRING_SPLIT	SELECT y.v FROM STRING_SPLIT('a,b', ',') s CROSS APPLY (SELECT s.value + 'x' AS v) y WHERE s.value = 'b'	bx
openjson with: over a column	SELECT d.id, j.sku, j.qty FROM doc d CROSS APPLY OPENJSON(d.body) WITH (sku VARCHAR(10) '$.sku', qty INT '$.qty') j WHERE j.sku = 'B2'	1|B2|5
openjson with: no rows for an empty array	SELECT COUNT(*) FROM doc d CROSS APPLY OPENJSON(d.body) WITH (sku VARCHAR(10)) j WHERE d.id = 2	0
openjson with: outer apply keeps it	SELECT d.id, j.sku FROM doc d OUTER APPLY OPENJSON(d.body) WITH (sku VARCHAR(10)) j WHERE d.id = 2	2|
openjson with: AS JSON	SELECT j.tags FROM doc d CROSS APPLY OPENJSON(d.body) WITH (sku VARCHAR(10), tags NVARCHAR(MAX) AS JSON) j WHERE j.sku = 'A1'	["x","y"]
openjson with: nested OPENJSON	SELECT COUNT(*) FROM doc d CROSS APPLY OPENJSON(d.body) WITH (tags NVARCHAR(MAX) AS JSON) j CROSS APPLY OPENJSON(j.tags) t	2
TABLE

# The reference's OPENJSON ... WITH example over a variable (written without blanks inside the objects).
out=$(rows_of <<'SQL'
DECLARE @json NVARCHAR(MAX) = N'[{"Order":{"Number":"SO43659","Date":"2011-05-31T00:00:00"},"AccountNumber":"AW29825","Item":{"Price":2024.9940,"Quantity":1}},{"Order":{"Number":"SO43661","Date":"2011-06-01T00:00:00"},"AccountNumber":"AW73565","Item":{"Price":2024.9940,"Quantity":3}}]'; SELECT * FROM OPENJSON(@json) WITH (Number VARCHAR(200) '$.Order.Number', Date DATETIME '$.Order.Date', Customer VARCHAR(200) '$.AccountNumber', Quantity INT '$.Item.Quantity', [Order] NVARCHAR(MAX) AS JSON)
SQL
)
expect_contains "openjson with: the first order" "$out" 'SO43659|2011-05-31 00:00:00.000|AW29825|1|{"Number":"SO43659","Date":"2011-05-31T00:00:00"}'
expect_contains "openjson with: the second order" "$out" 'SO43661|2011-06-01 00:00:00.000|AW73565|3|'

# Errors.
out=$(tsql_run <<'SQL'
SELECT * FROM (VALUES (1, 2)) v
go
SELECT * FROM (VALUES (1, 2)) v(a)
go
SELECT * FROM (VALUES (1, 2), (3)) v(a, b)
go
SELECT * FROM OPENJSON(N'{"a":{"b":1}}') WITH (a NVARCHAR(20) AS JSON)
go
SELECT * FROM OPENJSON(N'[{"a":1}]') WITH (b INT 'strict $.b')
go
SELECT 'still running' AS tail
go
exit
SQL
)
expect_contains "errors: VALUES without column names (8155)" "$out" "No column name was specified for column 1 of 'v'."
expect_contains "errors: more values than names (8158)" "$out" "'v' has more columns than were specified in the column list."
expect_contains "errors: rows of different lengths (10709)" "$out" "The number of columns for each row in a table value constructor must be the same."
expect_contains "errors: AS JSON needs nvarchar(max) (13618)" "$out" "AS JSON option can be specified only for column of nvarchar(max) type in WITH clause."
expect_contains "errors: strict path in WITH (13608)" "$out" "Property cannot be found on the specified JSON path."
expect_contains "errors: the connection goes on" "$out" "still running"

stop_server
done_checks
