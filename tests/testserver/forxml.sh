#!/bin/bash
# FOR XML RAW and PATH: row and root elements, attributes, ELEMENTS XSINIL,
# '@a', 'a/b', 'text()' and unnamed columns, TYPE, the string-concatenation
# idiom, values escaped and written by type, the result column and its
# 2033-character rows, and SQL Server's errors; through isql and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE model (ProductModelID INT, Name NVARCHAR(40), Note NVARCHAR(20) NULL)
INSERT INTO model VALUES (122, N'All-Purpose Bike Stand', NULL), (119, N'Bike Wash', N'wet & <dry>')
CREATE TABLE emp (EmployeeID INT, FirstName NVARCHAR(20), MiddleName NVARCHAR(20) NULL, LastName NVARCHAR(20))
INSERT INTO emp VALUES (1, N'Ken', N'J', N'Sanchez'), (2, N'Terri', NULL, N'Duffy')
CREATE TABLE kinds (id INT, price DECIMAL(9,2), ok BIT, f FLOAT, dt DATETIME, bin VARBINARY(8))
INSERT INTO kinds VALUES (1, 1.5, 1, 1.5, '2024-01-31 10:20:30.123', 0x010203)
SQL

check_rows xml <<'TABLE'
RAW: one row element, columns as attributes	SELECT ProductModelID, Name FROM model WHERE ProductModelID = 122 FOR XML RAW	<row ProductModelID="122" Name="All-Purpose Bike Stand"/>
RAW with a name and ELEMENTS	SELECT ProductModelID, Name FROM model WHERE ProductModelID = 122 FOR XML RAW('ProductModel'), ELEMENTS	<ProductModel><ProductModelID>122</ProductModelID><Name>All-Purpose Bike Stand</Name></ProductModel>
RAW leaves NULL attributes out	SELECT ProductModelID, Note FROM model WHERE ProductModelID = 122 FOR XML RAW	<row ProductModelID="122"/>
ELEMENTS XSINIL writes xsi:nil and declares xsi	SELECT ProductModelID, Note FROM model WHERE ProductModelID = 122 FOR XML RAW, ELEMENTS XSINIL	<row xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><ProductModelID>122</ProductModelID><Note xsi:nil="true"/></row>
ROOT wraps the rows	SELECT ProductModelID FROM model ORDER BY ProductModelID FOR XML RAW, ROOT('MyRoot')	<MyRoot><row ProductModelID="119"/><row ProductModelID="122"/></MyRoot>
PATH: columns as elements in row	SELECT ProductModelID, Name FROM model WHERE ProductModelID = 122 FOR XML PATH	<row><ProductModelID>122</ProductModelID><Name>All-Purpose Bike Stand</Name></row>
PATH: '@' makes an attribute of the row element	SELECT ProductModelID AS "@id", Name FROM model WHERE ProductModelID = 122 FOR XML PATH('ProductModel')	<ProductModel id="122"><Name>All-Purpose Bike Stand</Name></ProductModel>
PATH: 'a/b' nests; siblings share their parent	SELECT EmployeeID "@EmpID", FirstName "EmpName/First", MiddleName "EmpName/Middle", LastName "EmpName/Last" FROM emp WHERE EmployeeID = 1 FOR XML PATH	<row EmpID="1"><EmpName><First>Ken</First><Middle>J</Middle><Last>Sanchez</Last></EmpName></row>
PATH: a NULL element is left out	SELECT EmployeeID "@EmpID", FirstName "EmpName/First", MiddleName "EmpName/Middle", LastName "EmpName/Last" FROM emp WHERE EmployeeID = 2 FOR XML PATH	<row EmpID="2"><EmpName><First>Terri</First><Last>Duffy</Last></EmpName></row>
PATH: text() is the element's text	SELECT ProductModelID AS "@id", Name AS "text()" FROM model WHERE ProductModelID = 122 FOR XML PATH('m')	<m id="122">All-Purpose Bike Stand</m>
PATH(''): no row element	SELECT Name FROM model ORDER BY ProductModelID FOR XML PATH('')	<Name>Bike Wash</Name><Name>All-Purpose Bike Stand</Name>
the comma list idiom	SELECT STUFF((SELECT ',' + Name FROM model ORDER BY ProductModelID FOR XML PATH('')), 1, 1, '') AS names	Bike Wash,All-Purpose Bike Stand
value() on a TYPE subquery gives the text back	SELECT (SELECT Note FROM model WHERE ProductModelID = 119 FOR XML PATH('n'), TYPE).value('(/n/Note)[1]', 'NVARCHAR(MAX)') AS note	wet & <dry>
a subquery without rows is NULL	SELECT ISNULL((SELECT Name FROM model WHERE 1 = 0 FOR XML PATH('')), 'none')	none
TYPE nests as markup	SELECT ProductModelID AS "@id", (SELECT FirstName FROM emp WHERE EmployeeID = 1 FOR XML PATH(''), TYPE) AS who FROM model WHERE ProductModelID = 122 FOR XML PATH('m')	<m id="122"><who><FirstName>Ken</FirstName></who></m>
without TYPE a nested result is text	SELECT (SELECT FirstName FROM emp WHERE EmployeeID = 1 FOR XML PATH('')) AS who FOR XML PATH('m')	<m><who>&lt;FirstName&gt;Ken&lt;/FirstName&gt;</who></m>
TABLE

check_rows values <<'TABLE'
& < > escaped in elements	SELECT Note FROM model WHERE ProductModelID = 119 FOR XML PATH('')	<Note>wet &amp; &lt;dry&gt;</Note>
quotes escaped in attributes	SELECT 'say "hi"' AS a FOR XML RAW	<row a="say &quot;hi&quot;"/>
CR as a character reference	SELECT 'a' + CHAR(13) + 'b' AS "text()" FOR XML PATH('')	a&#x0D;b
decimal scale, bit, float, datetime, binary	SELECT price, ok, f, dt, bin FROM kinds FOR XML RAW, BINARY BASE64	<row price="1.50" ok="1" f="1.500000000000000e+000" dt="2024-01-31T10:20:30.123" bin="AQID"/>
a datetime without milliseconds has no fraction	SELECT CAST('1996-07-04' AS DATETIME) AS OrderDate FOR XML RAW	<row OrderDate="1996-07-04T00:00:00"/>
TABLE

check_errors errors <<'TABLE'
an attribute after an element	SELECT Name, ProductModelID AS "@id" FROM model FOR XML PATH	Attribute-centric column '@id' must not come after a non-attribute-centric sibling in XML hierarchy in FOR XML PATH.
a name that is no XML name	SELECT 1 as '.SQLAuth', 2 as 'SQLAuth..Pinal' FOR XML PATH	Column name '.SQLAuth' contains an invalid XML identifier as required by FOR XML; '.' (0x002E) is the first character at fault.
AUTO is not built	SELECT Name FROM model FOR XML AUTO	Incorrect syntax near 'AUTO'.
TABLE

# The result: one column named as SQL Server names it, in rows of 2033
# characters (400 elements <k>n</k>: 7 characters plus digits, 3892 in all).
out=$(tsql_run <<'SQL'
WITH n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 400) SELECT k FROM n FOR XML PATH('') OPTION (MAXRECURSION 1000)
go
SELECT ProductModelID FROM model WHERE ProductModelID = 122 FOR XML RAW, TYPE
go
exit
SQL
)
expect_contains "tsql: the result column's name" "$out" "XML_F52E2B61-18A1-11d1-B105-00805F49916B"
lengths=$(grep -E '^<k>|^[0-9]*</k>|^k>|^/k>|^>' <<<"$out" | awk '{ print length($0) }' | tr '\n' ' ')
[[ "$lengths" == "2033 1859 " ]] || fail "tsql: rows of 2033 characters, got lengths: $lengths"
ok "tsql: rows of 2033 characters"
expect_contains "tsql: TYPE gives one xml value" "$out" '<row ProductModelID="122"/>'

done_checks
