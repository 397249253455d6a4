#!/bin/bash
# PIVOT and UNPIVOT over tables and derived tables: the grouping columns,
# NULLs, the pivot values read as the pivot column's type and collation,
# and SQL Server's errors, through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE sales (region VARCHAR(10), yr INT, amount INT NULL, price DECIMAL(9,2) NULL)
INSERT INTO sales VALUES ('East', 2023, 10, 1.50), ('East', 2023, 5, 2.25), ('East', 2024, 7, NULL), ('West', 2023, 3, 0.10), ('West', 2024, NULL, 9.99), ('West', 2024, 4, 1.01)
CREATE TABLE pvt (VendorID INT, Emp1 INT, Emp2 INT, Emp3 INT, Emp4 INT, Emp5 INT)
INSERT INTO pvt VALUES (1,4,3,5,4,4), (2,4,1,5,5,5), (3,4,3,5,4,4), (4,4,2,5,5,4), (5,5,1,5,5,5), (6,NULL,2,NULL,NULL,NULL)
CREATE TABLE People (PersonId INT, Firstname VARCHAR(50), Lastname VARCHAR(25))
INSERT INTO People VALUES (1, 'Jim', 'Smith'), (2, 'Jane', 'Jones')
SQL

# PIVOT groups by the source's other columns; a value no row has gives NULL.
check_rows pivot <<'TABLE'
derived table, SUM; NULL amounts are left out	SELECT region, [2023], [2024], [2025] FROM (SELECT region, yr, amount FROM sales) s PIVOT (SUM(amount) FOR yr IN ([2023], [2024], [2025])) AS p ORDER BY region	East|15|7|
second group	SELECT region, [2023], [2024] FROM (SELECT region, yr, amount FROM sales) s PIVOT (SUM(amount) FOR yr IN ([2023], [2024])) AS p WHERE region = 'West'	West|3|4
COUNT counts the values that are not NULL	SELECT region, [2024] FROM (SELECT region, yr, amount FROM sales) s PIVOT (COUNT(amount) FOR yr IN ([2024])) AS p WHERE region = 'West'	West|1
AVG of int stays int	SELECT [2023] FROM (SELECT region, yr, amount FROM sales) s PIVOT (AVG(amount) FOR yr IN ([2023])) AS p WHERE region = 'East'	7
no grouping column: one row	SELECT 'Total' AS Amounts, [2023], [2024] FROM (SELECT yr, amount FROM sales) AS SourceTable PIVOT (SUM(amount) FOR yr IN ([2023], [2024])) AS PivotTable	Total|18|11
over a table: every other column groups	SELECT COUNT(*) FROM sales PIVOT (MAX(amount) FOR yr IN ([2023], [2024])) AS p	6
over a table, one group	SELECT region, [2023], [2024] FROM (SELECT region, yr, amount FROM sales) s PIVOT (MAX(amount) FOR yr IN ([2023], [2024])) AS p WHERE region = 'East'	East|10|7
text values compare by the server collation	SELECT yr, [east], [WEST] FROM (SELECT region, yr, amount FROM sales) s PIVOT (SUM(amount) FOR region IN ([east], [WEST])) AS p ORDER BY yr	2023|15|3
decimal values keep their scale	SELECT region, [2023] FROM (SELECT region, yr, price FROM sales) s PIVOT (SUM(price) FOR yr IN ([2023])) AS p WHERE region = 'East'	East|3.75
star lists the grouping then the pivoted columns	SELECT * FROM (SELECT region, yr, amount FROM sales) s PIVOT (MIN(amount) FOR yr IN ([2024], [2023])) AS p WHERE region = 'East'	East|7|5
over a table variable	DECLARE @v TABLE (r VARCHAR(5), y INT, a INT); INSERT INTO @v VALUES ('E', 1, 5), ('E', 2, 6), ('W', 1, 7); SELECT r, [1], [2] FROM @v PIVOT (SUM(a) FOR y IN ([1], [2])) AS p WHERE r = 'W'	W|7|
renamed source columns	SELECT r, [2024] FROM (SELECT region AS r, yr, amount FROM sales) s PIVOT (SUM(amount) FOR yr IN ([2024])) AS p WHERE r = 'West'	West|4
TABLE

# UNPIVOT: one row per listed column of each source row, NULLs dropped
# (the reference's vendor and employee example).
check_rows unpivot <<'TABLE'
first vendor, first column	SELECT VendorID, Employee, Orders FROM (SELECT VendorID, Emp1, Emp2, Emp3, Emp4, Emp5 FROM pvt) p UNPIVOT (Orders FOR Employee IN (Emp1, Emp2, Emp3, Emp4, Emp5)) AS unpvt WHERE VendorID = 1 AND Employee = 'Emp2'	1|Emp2|3
fifth vendor	SELECT VendorID, Employee, Orders FROM (SELECT VendorID, Emp1, Emp2, Emp3, Emp4, Emp5 FROM pvt) p UNPIVOT (Orders FOR Employee IN (Emp1, Emp2, Emp3, Emp4, Emp5)) AS unpvt WHERE VendorID = 5 AND Employee = 'Emp1'	5|Emp1|5
five rows a vendor, NULLs dropped	SELECT COUNT(*), SUM(Orders) FROM (SELECT VendorID, Emp1, Emp2, Emp3, Emp4, Emp5 FROM pvt) p UNPIVOT (Orders FOR Employee IN (Emp1, Emp2, Emp3, Emp4, Emp5)) AS unpvt	26|103
the row with NULLs keeps its one value	SELECT VendorID, Employee, Orders FROM pvt UNPIVOT (Orders FOR Employee IN (Emp1, Emp2, Emp3, Emp4, Emp5)) AS unpvt WHERE VendorID = 6	6|Emp2|2
rows of a source row come out in list order	SELECT STRING_AGG(Employee, ',') FROM (SELECT VendorID, Emp3, Emp1, Emp2 FROM pvt) p UNPIVOT (Orders FOR Employee IN (Emp3, Emp1, Emp2)) AS u WHERE VendorID = 2	Emp3,Emp1,Emp2
CAST makes the lengths agree	SELECT PersonId, ColumnName, Value FROM (SELECT PersonId, Firstname, CAST(Lastname AS VARCHAR(50)) Lastname FROM People) d UNPIVOT (Value FOR ColumnName IN (Firstname, Lastname)) unpiv WHERE PersonId = 2 AND ColumnName = 'Lastname'	2|Lastname|Jones
TABLE

# Errors: SQL Server's numbers and texts.
check_errors errors <<'TABLE'
UNPIVOT columns of different lengths	SELECT PersonId, ColumnName, Value FROM People UNPIVOT (Value FOR ColumnName IN (Firstname, Lastname)) unpiv	The type of column "Lastname" conflicts with the type of other columns specified in the UNPIVOT list.
UNPIVOT of a column the source lacks	SELECT * FROM pvt UNPIVOT (Orders FOR Employee IN (Emp1, Emp9)) AS u	Invalid column name 'Emp9'.
PIVOT FOR a column the source lacks	SELECT * FROM (SELECT region, amount FROM sales) s PIVOT (SUM(amount) FOR yr IN ([2023])) AS p	Invalid column name 'yr'.
PIVOT of a column the source lacks	SELECT * FROM (SELECT region, yr FROM sales) s PIVOT (SUM(amount) FOR yr IN ([2023])) AS p	Invalid column name 'amount'.
a pivot value twice	SELECT * FROM (SELECT region, yr, amount FROM sales) s PIVOT (SUM(amount) FOR yr IN ([2023], [2023])) AS p	The column '2023' was specified multiple times for 'p'.
PIVOT needs an aggregate	SELECT * FROM (SELECT region, yr, amount FROM sales) s PIVOT (ABS(amount) FOR yr IN ([2023])) AS p	Incorrect syntax near 'ABS'.
TABLE

out=$(tsql_run <<'SQL'
SELECT PersonId, ColumnName, Value FROM People UNPIVOT (Value FOR ColumnName IN (Firstname, Lastname)) unpiv
go
exit
SQL
)
expect_contains "tsql: 8167 with level 16" "$out" "Msg 8167 (severity 16, state 1)"

done_checks
