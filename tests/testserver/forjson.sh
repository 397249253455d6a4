#!/bin/bash
# FOR JSON PATH and AUTO: keys from names and aliases, dotted aliases as
# nested objects, ROOT, INCLUDE_NULL_VALUES, WITHOUT_ARRAY_WRAPPER, nested
# FOR JSON subqueries, values written by type, the result column and its
# 2033-character rows, and SQL Server's errors; through isql and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE person (Id INT PRIMARY KEY, FirstName NVARCHAR(20), LastName NVARCHAR(20), Title NVARCHAR(8) NULL, MiddleName NVARCHAR(8) NULL)
INSERT INTO person VALUES (1, N'Ken', N'Sanchez', NULL, N'J'), (2, N'Terri', N'Duffy', NULL, N'Lee'), (3, N'Roberto', N'Tamburello', NULL, NULL), (5, N'Gail', N'Erickson', N'Ms.', N'A')
CREATE TABLE kinds (id INT, price DECIMAL(9,2), cash MONEY, ok BIT, f FLOAT, d DATE, dt DATETIME, bin VARBINARY(8), note NVARCHAR(40))
INSERT INTO kinds VALUES (1, 1.5, 12.5, 1, 0.25, '2024-01-31', '2024-01-31 10:20:30.123', 0x010203, N'a/b"c\d')
CREATE TABLE phone (PersonId INT, Number VARCHAR(12))
INSERT INTO phone VALUES (1, '555-0100'), (1, '555-0101'), (2, '555-0102')
SQL

# The reference's own examples (spacing aside: SQL Server sends JSON without blanks).
check_rows json <<'TABLE'
WITHOUT_ARRAY_WRAPPER: one object	SELECT 2015 as year, 12 as month, 15 as day FOR JSON PATH, WITHOUT_ARRAY_WRAPPER	{"year":2015,"month":12,"day":15}
an array by default	SELECT 2015 as year, 12 as month, 15 as day FOR JSON PATH	[{"year":2015,"month":12,"day":15}]
dotted aliases nest; NULLs are left out; ROOT names the array	SELECT Id, FirstName, LastName, Title As 'Info.Title', MiddleName As 'Info.MiddleName' FROM person WHERE Id IN (1, 3, 5) ORDER BY Id FOR JSON PATH, ROOT('info')	{"info":[{"Id":1,"FirstName":"Ken","LastName":"Sanchez","Info":{"MiddleName":"J"}},{"Id":3,"FirstName":"Roberto","LastName":"Tamburello"},{"Id":5,"FirstName":"Gail","LastName":"Erickson","Info":{"Title":"Ms.","MiddleName":"A"}}]}
ROOT without a name is root	SELECT Id FROM person WHERE Id = 1 FOR JSON PATH, ROOT	{"root":[{"Id":1}]}
INCLUDE_NULL_VALUES writes null	SELECT Id, Title FROM person WHERE Id = 2 FOR JSON PATH, INCLUDE_NULL_VALUES	[{"Id":2,"Title":null}]
AUTO keeps a dotted name whole	SELECT Id, FirstName AS 'detail.name' FROM person WHERE Id = 1 FOR JSON AUTO	[{"Id":1,"detail.name":"Ken"}]
AUTO over star	SELECT * FROM phone WHERE PersonId = 2 FOR JSON AUTO	[{"PersonId":2,"Number":"555-0102"}]
nested FOR JSON is JSON, not a string	SELECT Id, (SELECT Number FROM phone WHERE phone.PersonId = person.Id FOR JSON PATH) AS Phones FROM person WHERE Id = 1 FOR JSON PATH	[{"Id":1,"Phones":[{"Number":"555-0100"},{"Number":"555-0101"}]}]
a nested query without rows is NULL, so left out	SELECT Id, (SELECT Number FROM phone WHERE phone.PersonId = person.Id FOR JSON PATH) AS Phones FROM person WHERE Id = 3 FOR JSON PATH	[{"Id":3}]
JSON_QUERY is JSON too	SELECT 1 AS a, JSON_QUERY('{"x":[1,2]}') AS b FOR JSON PATH, WITHOUT_ARRAY_WRAPPER	{"a":1,"b":{"x":[1,2]}}
ORDER BY in a subquery with FOR JSON	SELECT (SELECT Id FROM person ORDER BY Id DESC FOR JSON PATH) AS j	[{"Id":5},{"Id":3},{"Id":2},{"Id":1}]
TABLE

# Values by type: numbers bare, decimals and money with their scale, bit as
# true/false, dates with a T, binary in base64, and / " \ escaped.
check_rows values <<'TABLE'
numbers and bit	SELECT id, price, cash, ok, f FROM kinds FOR JSON PATH, WITHOUT_ARRAY_WRAPPER	{"id":1,"price":1.50,"cash":12.5000,"ok":true,"f":0.25}
dates	SELECT d, dt FROM kinds FOR JSON PATH, WITHOUT_ARRAY_WRAPPER	{"d":"2024-01-31","dt":"2024-01-31T10:20:30.123"}
binary in base64	SELECT bin FROM kinds FOR JSON PATH, WITHOUT_ARRAY_WRAPPER	{"bin":"AQID"}
escaped characters	SELECT note FROM kinds FOR JSON PATH, WITHOUT_ARRAY_WRAPPER	{"note":"a\/b\"c\\d"}
control characters	SELECT 'a' + CHAR(9) + 'b' + CHAR(13) + CHAR(10) + CHAR(1) AS s FOR JSON PATH, WITHOUT_ARRAY_WRAPPER	{"s":"a\tb\r\n\u0001"}
a cast's type decides	SELECT CAST(1 AS BIT) AS yes, CAST(2.5 AS DECIMAL(5,3)) AS n FOR JSON PATH, WITHOUT_ARRAY_WRAPPER	{"yes":true,"n":2.500}
TABLE

check_errors errors <<'TABLE'
an unnamed column	SELECT Id, Id + 1 FROM person FOR JSON PATH	Column expressions and data sources without names or aliases cannot be formatted as JSON text using FOR JSON clause. Add alias to the unnamed column or table.
a name that is another's prefix	SELECT Id AS 'a', FirstName AS 'a.b' FROM person FOR JSON PATH	Property 'a.b' cannot be generated in JSON output due to a conflict with another column name or alias.
a nested object's properties apart	SELECT Id AS 'a.x', FirstName AS 'b', LastName AS 'a.y' FROM person FOR JSON PATH	Property 'a.y' cannot be generated in JSON output due to a conflict
a leading dot	SELECT 1 as '.SQLAuth', 2 as 'SQLAuth..Pinal' FOR JSON PATH	Property '.SQLAuth' cannot be generated in JSON output due to an invalid character in the column name or alias.
FOR JSON needs a mode	SELECT 1 AS a FOR JSON	Incorrect syntax near
TABLE

# The result: one column named as SQL Server names it, the text in rows of
# 2033 characters (300 objects of 18 characters plus digits: 6493 in all).
out=$(tsql_run <<'SQL'
WITH n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 300) SELECT k, REPLICATE('x', 5) AS s FROM n FOR JSON PATH OPTION (MAXRECURSION 1000)
go
exit
SQL
)
expect_contains "tsql: the result column's name" "$out" "JSON_F52E2B61-18A1-11d1-B105-00805F49916B"
lengths=$(grep -E '^(\[|\{|[^ ]*[:,"])' <<<"$out" | grep -v "^locale\|^using\|JSON_F52E" | awk '{ print length($0) }' | tr '\n' ' ')
[[ "$lengths" == "2033 2033 2033 394 " ]] || fail "tsql: rows of 2033 characters, got lengths: $lengths"
ok "tsql: rows of 2033 characters"
expect_contains "tsql: four rows" "$out" "(4 rows affected)"
joined=$(grep -E '^(\[|\{|[^ ]*[:,"])' <<<"$out" | grep -v "^locale\|^using\|JSON_F52E" | tr -d '\n')
[[ "$joined" == '[{"k":1,"s":"xxxxx"},{"k":2,'*'{"k":299,"s":"xxxxx"},{"k":300,"s":"xxxxx"}]' ]] || fail "tsql: the rows join to the whole text: $joined"
ok "tsql: the rows join to the whole text"

# The column is nvarchar(max) (ODBC: SQL_WLONGVARCHAR, -10).
out=$(isql_run <<<"SELECT 1 AS a FOR JSON PATH")
expect_contains "isql: the column is returned" "$out" '[{"a":1}]'

done_checks
