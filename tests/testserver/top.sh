#!/bin/bash
# TOP (n) PERCENT and TOP (n) WITH TIES in SELECT, with variables and
# expressions for n, through isql (ODBC) and tsql, and SQL Server's errors for
# a percentage out of range and for WITH TIES without ORDER BY.
source "$(dirname "$0")/lib/common.sh"

start_server

# Prices with ties at 30 and 50; 11 rows so that a percentage leaves a fraction.
rows_of >/dev/null <<'SQL'
CREATE TABLE item (id INT PRIMARY KEY, name NVARCHAR(20) NOT NULL, price INT NOT NULL, grp CHAR(1) NOT NULL)
INSERT INTO item VALUES (1, N'a', 10, 'x'), (2, N'b', 20, 'x'), (3, N'c', 30, 'y'), (4, N'd', 30, 'y'), (5, N'e', 30, 'x'), (6, N'f', 40, 'y'), (7, N'g', 50, 'x'), (8, N'h', 50, 'y'), (9, N'i', 60, 'x'), (10, N'j', 70, 'y'), (11, N'k', 80, 'x')
SQL

# PERCENT takes that share of the rows and rounds a fraction up; WITH TIES adds
# the rows whose ORDER BY values equal the last row's.
check_rows top <<'TABLE'
percent: 10 of 11 rows is 2	SELECT COUNT(*) FROM (SELECT TOP (10) PERCENT id FROM item ORDER BY id) t	2
percent: 50 of 11 rows is 6	SELECT COUNT(*), MAX(id) FROM (SELECT TOP 50 PERCENT id FROM item ORDER BY id) t	6|6
percent: 100 is every row	SELECT COUNT(*) FROM (SELECT TOP 100 PERCENT id FROM item ORDER BY id) t	11
percent: 0 is no row	SELECT COUNT(*) FROM (SELECT TOP (0) PERCENT id FROM item) t	0
percent: a float 9.1 of 11 rows is 2	SELECT COUNT(*) FROM (SELECT TOP (9.1) PERCENT id FROM item ORDER BY id) t	2
percent: a variable	DECLARE @p FLOAT = 27.5; SELECT COUNT(*) FROM (SELECT TOP (@p) PERCENT id FROM item ORDER BY id) t	4
percent: an expression	DECLARE @p INT = 10; SELECT COUNT(*) FROM (SELECT TOP (@p * 2) PERCENT id FROM item ORDER BY id) t	3
percent: of the rows WHERE leaves	SELECT COUNT(*) FROM (SELECT TOP 50 PERCENT id FROM item WHERE grp = 'x' ORDER BY id) t	3
percent: the first rows by ORDER BY	SELECT COUNT(*), MIN(id) FROM (SELECT TOP 10 PERCENT id FROM item ORDER BY price DESC, id) t	2|10
percent: of grouped rows	SELECT COUNT(*) FROM (SELECT TOP 50 PERCENT price, COUNT(*) AS n FROM item GROUP BY price ORDER BY price) t	4
percent: of distinct rows	SELECT COUNT(*) FROM (SELECT DISTINCT TOP 50 PERCENT price FROM item ORDER BY price) t	4
ties: the rows equal to the last	SELECT COUNT(*), MAX(id) FROM (SELECT TOP (3) WITH TIES id FROM item ORDER BY price) t	5|5
ties: none at the boundary	SELECT COUNT(*) FROM (SELECT TOP (2) WITH TIES id FROM item ORDER BY price) t	2
ties: descending	SELECT COUNT(*) FROM (SELECT TOP (1) WITH TIES id FROM item WHERE price < 60 ORDER BY price DESC) t	2
ties: by an alias	SELECT COUNT(*) FROM (SELECT TOP (4) WITH TIES id, price * 2 AS dbl FROM item ORDER BY dbl) t	5
ties: by a position	SELECT COUNT(*) FROM (SELECT TOP (4) WITH TIES id, price FROM item ORDER BY 2) t	5
ties: by two keys	SELECT COUNT(*) FROM (SELECT TOP (3) WITH TIES id FROM item ORDER BY price, grp DESC) t	4
ties: by a column not selected	SELECT COUNT(*) FROM (SELECT TOP (7) WITH TIES name FROM item ORDER BY price) t	8
ties: with a variable	DECLARE @n INT = 6; SELECT COUNT(*) FROM (SELECT TOP (@n) WITH TIES id FROM item ORDER BY price) t	6
ties: distinct	SELECT COUNT(*) FROM (SELECT DISTINCT TOP (3) WITH TIES grp, price FROM item ORDER BY price) t	4
ties: percent with ties	SELECT COUNT(*) FROM (SELECT TOP (25) PERCENT WITH TIES id FROM item ORDER BY price) t	5
ties: in a derived table joined	SELECT COUNT(*) FROM item i JOIN (SELECT TOP (1) WITH TIES grp, price FROM item ORDER BY price DESC) t ON t.grp = i.grp	6
TABLE

# UPDATE and DELETE take TOP (n) [PERCENT] too: n of the rows WHERE picks, in no set order.
check_rows top <<'TABLE'
update: two of the rows picked	BEGIN TRAN; UPDATE TOP (2) item SET price = 0 WHERE grp = 'y'; SELECT COUNT(*), SUM(CASE WHEN grp = 'y' THEN 1 ELSE 0 END) FROM item WHERE price = 0; ROLLBACK	2|2
update: @@ROWCOUNT	BEGIN TRAN; UPDATE TOP (3) item SET price = price + 1; SELECT @@ROWCOUNT; ROLLBACK	3
delete: a percentage rounded up	BEGIN TRAN; DELETE TOP (10) PERCENT FROM item WHERE grp = 'x'; SELECT COUNT(*) FROM item; ROLLBACK	10
delete: a variable, without FROM	BEGIN TRAN; DECLARE @n INT = 4; DELETE TOP (@n) item; SELECT COUNT(*) FROM item; ROLLBACK	7
TABLE

# The rows themselves, in order, as the top-level result.
out=$(rows_of <<'SQL'
SELECT TOP (3) WITH TIES id, price FROM item ORDER BY price
SQL
)
expect_contains "top: ties at the top level return every tied row" "$out" "5|30"
expect_not_contains "top: no row past the ties" "$out" "6|40"

# Errors, with SQL Server's numbers and texts.
out=$(tsql_run <<'SQL'
SELECT TOP (3) WITH TIES id FROM item
go
SELECT TOP (101) PERCENT id FROM item ORDER BY id
go
DECLARE @p FLOAT = -1; SELECT TOP (@p) PERCENT id FROM item ORDER BY id
go
UPDATE TOP 1 item SET price = 0
go
SELECT 'still running' AS tail
go
exit
SQL
)
expect_contains "top: UPDATE TOP needs parentheses" "$out" "Incorrect syntax near '1'."
expect_contains "top: WITH TIES needs ORDER BY (1062)" "$out" "Msg 1062"
expect_contains "top: 1062's text" "$out" "The TOP N WITH TIES clause is not allowed without a corresponding ORDER BY clause."
expect_contains "top: percent over 100 (1031)" "$out" "Msg 1031"
expect_contains "top: 1031's text" "$out" "Percent values must be between 0 and 100."
grep -c "Msg 1031" <<<"$out" | grep -qx 2 || { echo "$out" >&2; fail "top: a negative percent in a variable is 1031 too"; }
ok "top: a negative percent in a variable is 1031 too"
expect_contains "top: the connection goes on" "$out" "still running"

stop_server
done_checks
