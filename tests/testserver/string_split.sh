#!/bin/bash
# STRING_SPLIT with and without enable_ordinal: in FROM, over a column with
# CROSS APPLY and OUTER APPLY, in IN (SELECT value ...), its column types on
# the wire, and SQL Server's errors for a wrong separator or ordinal flag;
# through isql (ODBC), tsql and bsqldb. Cases follow the reference's examples.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE product (productid INT PRIMARY KEY, name NVARCHAR(50) NOT NULL, tags NVARCHAR(400) NULL)
INSERT INTO product VALUES (1, N'Full-Finger Gloves', N'clothing,road,touring,bike'), (2, N'LL Headset', N'bike'), (3, N'HL Mountain Frame', N'bike,mountain'), (4, N'No Tags', NULL)
SQL

check_rows string_split <<'TABLE'
words: the first	SELECT value FROM STRING_SPLIT('Lorem ipsum dolor sit amet.', ' ')	Lorem
words: the last keeps its full stop	SELECT value FROM STRING_SPLIT('Lorem ipsum dolor sit amet.', ' ')	amet.
words: five pieces	SELECT COUNT(*) FROM STRING_SPLIT('Lorem ipsum dolor sit amet.', ' ')	5
empty pieces are rows	SELECT COUNT(*), SUM(CASE WHEN value = '' THEN 1 ELSE 0 END) FROM STRING_SPLIT('clothing,road,,touring,bike', ',')	5|1
empty pieces filtered	SELECT COUNT(*) FROM STRING_SPLIT('clothing,road,,touring,bike', ',') WHERE RTRIM(value) <> ''	4
a separator at both ends	SELECT COUNT(*) FROM STRING_SPLIT(',a,', ',')	3
the empty string is one empty row	SELECT COUNT(*), MAX(LEN(value)) FROM STRING_SPLIT('', ',')	1|0
NULL gives no rows	SELECT COUNT(*) FROM STRING_SPLIT(NULL, ',')	0
a variable	DECLARE @tags NVARCHAR(400) = N'clothing,road,touring,bike'; SELECT COUNT(*) FROM STRING_SPLIT(@tags, ',')	4
a Unicode separator	SELECT value FROM STRING_SPLIT(N'x→y→z', N'→') WHERE value = N'y'	y
ordinal: the positions	SELECT * FROM STRING_SPLIT('Austin,Texas,Seattle,Washington,Denver,Colorado', ',', 1) WHERE ordinal = 4	Washington|4
ordinal: ORDER BY ordinal	SELECT STRING_AGG(value, '+') WITHIN GROUP (ORDER BY ordinal DESC) FROM STRING_SPLIT('a,b,c', ',', 1)	c+b+a
ordinal: 0 leaves it out	SELECT * FROM STRING_SPLIT('a b', ' ', 0) WHERE value = 'b'	b
ordinal: NULL leaves it out	SELECT * FROM STRING_SPLIT('a b', ' ', NULL) WHERE value = 'b'	b
alias: qualified value	SELECT s.value FROM STRING_SPLIT('1,2,3', ',') AS s WHERE s.value = '2'	2
join: to a table	SELECT p.name FROM STRING_SPLIT('2,3', ',') s JOIN product p ON p.productid = s.value ORDER BY p.productid DESC	HL Mountain Frame
in: products with a tag	SELECT productid, name, tags FROM product WHERE 'clothing' IN (SELECT value FROM STRING_SPLIT(tags, ','))	1|Full-Finger Gloves|clothing,road,touring,bike
in: rows by a list	SELECT COUNT(*) FROM product WHERE productid IN (SELECT value FROM STRING_SPLIT('1,3,9', ','))	2
apply: one row per tag	SELECT COUNT(*) FROM product CROSS APPLY STRING_SPLIT(tags, ',')	7
apply: a tag of a product	SELECT productid, name, value FROM product CROSS APPLY STRING_SPLIT(tags, ',') WHERE productid = 3 AND value = 'mountain'	3|HL Mountain Frame|mountain
apply: tags by count	SELECT value AS tag, COUNT(*) AS [number_of_articles] FROM product CROSS APPLY STRING_SPLIT(tags, ',') GROUP BY value HAVING COUNT(*) > 2 ORDER BY COUNT(*) DESC	bike|3
apply: products with both tags	SELECT productid FROM product CROSS APPLY STRING_SPLIT(tags, ',') WHERE value IN ('clothing', 'road') GROUP BY productid HAVING COUNT(*) = 2	1
outer apply: a NULL list keeps its row	SELECT p.productid, s.value FROM product p OUTER APPLY STRING_SPLIT(p.tags, ',') s WHERE p.productid = 4	4|
cross apply: a NULL list has no rows	SELECT COUNT(*) FROM product p CROSS APPLY STRING_SPLIT(p.tags, ',') s WHERE p.productid = 4	0
apply: with the ordinal	SELECT p.productid, s.ordinal FROM product p CROSS APPLY STRING_SPLIT(p.tags, ',', 1) s WHERE s.value = 'touring'	1|3
apply: after a join	SELECT COUNT(*) FROM product p JOIN product q ON q.productid = p.productid CROSS APPLY STRING_SPLIT(q.tags, ',')	7
TABLE

# Column types on the wire: nvarchar for a Unicode string, varchar otherwise; ordinal bigint.
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT value AS wire_n FROM STRING_SPLIT(N'a,b', ',')
go
SELECT value AS wire_v, ordinal AS wire_o FROM STRING_SPLIT('a,b', ',', 1)
go
exit
SQL
)
expect_contains "types: the rows" "$out" "b	2"
wire=$(cat "$WORK/dump.log")
grep -A8 "wire_n" <<<"$wire" | grep -q "server's type = 231" || { grep -A8 wire_n <<<"$wire" >&2; fail "types: value of N'...' is nvarchar (231)"; }
ok "types: value of N'...' is nvarchar"
grep -A8 "wire_v" <<<"$wire" | grep -q "server's type = 167" || { grep -A8 wire_v <<<"$wire" >&2; fail "types: value of '...' is varchar (167)"; }
ok "types: value of '...' is varchar"
grep -A8 "wire_o" <<<"$wire" | grep -qE "server's type = (127|38)" || { grep -A8 wire_o <<<"$wire" >&2; fail "types: ordinal is bigint"; }
ok "types: ordinal is bigint"

# SQL Server's errors.
out=$(tsql_run <<'SQL'
SELECT value FROM STRING_SPLIT('a,b', ',,')
go
SELECT value FROM STRING_SPLIT('a,b', '')
go
SELECT value FROM STRING_SPLIT('a,b', ',', 2)
go
DECLARE @o INT = 1; SELECT value FROM STRING_SPLIT('a,b', ',', @o)
go
SELECT 'still running' AS tail
go
exit
SQL
)
expect_contains "errors: a separator of two characters (214)" "$out" "Msg 214"
expect_contains "errors: 214's text" "$out" "Procedure expects parameter 'separator' of type 'nchar(1)/nvarchar(1)'."
grep -c "Msg 214" <<<"$out" | grep -qx 2 || { echo "$out" >&2; fail "errors: an empty separator is 214 too"; }
ok "errors: an empty separator is 214 too"
expect_contains "errors: enable_ordinal 2 (4199)" "$out" "Argument value 2 is invalid for argument 3 of string_split function."
expect_contains "errors: enable_ordinal from a variable (8748)" "$out" "The enable_ordinal argument for string_split only supports constant values (not variables or columns)."
expect_contains "errors: the connection goes on" "$out" "still running"

# DB-Library sees the same rows.
out=$(bsqldb_run <<'SQL'
SELECT p.name, s.value FROM product p CROSS APPLY STRING_SPLIT(p.tags, ',') s WHERE p.productid = 2
go
SQL
)
expect_contains "bsqldb: apply over a column" "$out" "bike"

stop_server
done_checks
