#!/bin/bash
# The date functions, FORMAT, IIF, CHOOSE, STRING_AGG, PATINDEX, TRY_CAST and
# TRY_CONVERT with the values SQL Server documents for them, and SELECT INTO
# #t read back in the same batch, through isql (ODBC), tsql and bsqldb.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE ev (id INT PRIMARY KEY, d DATE NULL, dt DATETIME NULL, d2 DATETIME2(7) NULL, tm TIME(3) NULL, grp CHAR(1) NULL, name NVARCHAR(20) NULL)
INSERT INTO ev VALUES (1, '2024-01-31', '2024-01-31 10:20:30.123', '2024-02-29 23:59:59.9999999', '23:30:00.000', 'a', N'delta')
INSERT INTO ev VALUES (2, '2024-03-01', '2023-12-31 23:59:59.997', '2000-01-01 00:00:00.0000000', '00:00:00.000', 'a', N'Alpha')
INSERT INTO ev VALUES (3, NULL, NULL, NULL, NULL, 'b', N'charlie')
INSERT INTO ev VALUES (4, '1999-12-31', '1753-01-01 00:00:00.000', '9999-12-31 00:00:00.0000000', '12:00:00.500', 'b', NULL)
SQL

# DATEDIFF counts the boundaries crossed (the T-SQL reference's examples).
expect_row "datediff: one year boundary in 100 ns" \
    "SELECT DATEDIFF(year, '2005-12-31 23:59:59.9999999', '2006-01-01 00:00:00.0000000')" "1"
expect_row "datediff: every part crosses one boundary" \
    "SELECT DATEDIFF(quarter, '2005-12-31 23:59:59.9999999', '2006-01-01 00:00:00.0000000'), DATEDIFF(mm, '2005-12-31 23:59:59.9999999', '2006-01-01'), DATEDIFF(dayofyear, '2005-12-31 23:59:59.9999999', '2006-01-01'), DATEDIFF(dd, '2005-12-31 23:59:59.9999999', '2006-01-01'), DATEDIFF(week, '2005-12-31 23:59:59.9999999', '2006-01-01'), DATEDIFF(hh, '2005-12-31 23:59:59.9999999', '2006-01-01'), DATEDIFF(mi, '2005-12-31 23:59:59.9999999', '2006-01-01'), DATEDIFF(ss, '2005-12-31 23:59:59.9999999', '2006-01-01'), DATEDIFF(ms, '2005-12-31 23:59:59.9999999', '2006-01-01 00:00:00.0000000'), DATEDIFF(mcs, '2005-12-31 23:59:59.9999999', '2006-01-01 00:00:00.0000000'), DATEDIFF(ns, '2005-12-31 23:59:59.9999999', '2006-01-01 00:00:00.0000000')" \
    "1|1|1|1|1|1|1|1|1|1|100"
expect_row "datediff: weeks turn on Sunday; backwards is negative" \
    "SELECT DATEDIFF(wk, '2024-06-08', '2024-06-09'), DATEDIFF(wk, '2024-06-09', '2024-06-15'), DATEDIFF(day, '2024-03-01', '2024-02-01'), DATEDIFF(month, '2024-01-31', '2023-02-01')" \
    "1|0|-29|-11"
expect_row "datediff: columns, and NULL in gives NULL" \
    "SELECT id, DATEDIFF(day, d, dt), DATEDIFF(minute, tm, '01:00') FROM ev WHERE id IN (1, 3) ORDER BY id" "1|0|-1350"
expect_row "datediff: offsets are compared in UTC" \
    "SELECT DATEDIFF(hour, '2024-01-01 10:00 +02:00', '2024-01-01 10:00 +00:00')" "2"

# DATEADD keeps the day where the month has it, else takes the month's last day.
expect_row "dateadd: a string is a datetime; month ends" \
    "SELECT DATEADD(month, 1, '2024-01-31'), DATEADD(mm, 1, '2023-01-31'), DATEADD(yy, 1, '2024-02-29'), DATEADD(qq, -1, '2024-05-31')" \
    "2024-02-29 00:00:00.000|2023-02-28 00:00:00.000|2025-02-28 00:00:00.000|2024-02-29 00:00:00.000"
expect_row "dateadd: keeps the column's type" \
    "SELECT DATEADD(day, 1, d), DATEADD(hour, 1, dt), DATEADD(ns, 100, d2), DATEADD(minute, 45, tm) FROM ev WHERE id = 1" \
    "2024-02-01|2024-01-31 11:20:30.123|2024-03-01 00:00:00.0000000|00:15:00.000"
expect_row "dateadd: week, dayofyear, weekday, seconds; a fraction of the number is cut off" \
    "SELECT DATEADD(wk, 2, '2024-01-01'), DATEADD(dy, 1, '2024-12-31'), DATEADD(dw, -1, '2024-03-01'), DATEADD(ss, 90, '2024-01-01'), DATEADD(day, 1.9, '2024-01-01')" \
    "2024-01-15 00:00:00.000|2025-01-01 00:00:00.000|2024-02-29 00:00:00.000|2024-01-01 00:01:30.000|2024-01-02 00:00:00.000"

# DATEPART and DATENAME; us_english: DATEFIRST 7, Sunday is day 1.
expect_row "datepart: every part of one datetime2" \
    "SELECT DATEPART(year, d2), DATEPART(q, d2), DATEPART(m, d2), DATEPART(dayofyear, d2), DATEPART(d, d2), DATEPART(wk, d2), DATEPART(dw, d2), DATEPART(hour, d2), DATEPART(n, d2), DATEPART(s, d2), DATEPART(ms, d2), DATEPART(mcs, d2), DATEPART(ns, d2) FROM ev WHERE id = 1" \
    "2024|1|2|60|29|9|5|23|59|59|999|999999|999999900"
expect_row "datepart: weekday with DATEFIRST 7 and the week of 1 January" \
    "SELECT DATEPART(weekday, '2024-06-09'), DATEPART(weekday, '2024-06-15'), DATEPART(week, '2024-01-01'), DATEPART(week, '2023-01-01'), DATEPART(week, '2023-12-31')" \
    "1|7|1|1|53"
expect_row "datepart: ISO weeks and the offset" \
    "SELECT DATEPART(iso_week, '2021-01-03'), DATEPART(isowk, '2020-12-31'), DATEPART(isoww, '2024-12-30'), DATEPART(tz, '2024-01-01 10:00 +05:30')" \
    "53|53|1|330"
expect_row "datename: month and weekday names, numbers as text" \
    "SELECT DATENAME(month, d), DATENAME(weekday, d), DATENAME(dw, '2024-06-09'), DATENAME(year, d), DATENAME(dy, d), DATENAME(mm, '2024-12-01') FROM ev WHERE id = 2" \
    "March|Friday|Sunday|2024|61|December"

# EOMONTH gives a date, with an optional month offset.
expect_row "eomonth: leap year, offsets, columns" \
    "SELECT EOMONTH('2024-02-10'), EOMONTH('2023-02-10'), EOMONTH('2024-01-31', 1), EOMONTH('2024-01-15', -2), EOMONTH(dt), EOMONTH(d, 12) FROM ev WHERE id = 1" \
    "2024-02-29|2023-02-28|2024-02-29|2023-11-30|2024-01-31|2025-01-31"

# FORMAT with .NET's standard and custom patterns; en-US unless a culture is given.
expect_row "format: numbers" \
    "SELECT FORMAT(1234.5, 'N2'), FORMAT(1234.5678, 'N'), FORMAT(1234567.891, '#,##0.00'), FORMAT(0.5, '0.00'), FORMAT(42, 'D5'), FORMAT(255, 'X'), FORMAT(2.5, 'F0'), FORMAT(-2.5, 'N0'), FORMAT(1234.5, 'E2')" \
    "1,234.50|1,234.57|1,234,567.89|0.50|00042|FF|3|-3|1.23E+003"
expect_row "format: currency by culture" \
    "SELECT FORMAT(1234.5, 'C'), FORMAT(1234.5, 'C', 'zh-CN'), FORMAT(-1234.5, 'C', 'en-US'), FORMAT(1234.5, 'C0')" \
    "\$1,234.50|¥1,234.50|(\$1,234.50)|\$1,235"
expect_row "format: dates with custom patterns" \
    "SELECT FORMAT(dt, 'yyyy-MM-dd'), FORMAT(dt, 'dd/MM/yyyy HH:mm'), FORMAT(dt, 'MMMM d, yyyy h:mm tt'), FORMAT(dt, 'ddd dd MMM yy'), FORMAT(d2, 'HH:mm:ss.fff'), FORMAT(dt, 'yyyyMMdd') FROM ev WHERE id = 1" \
    "2024-01-31|31/01/2024 10:20|January 31, 2024 10:20 AM|Wed 31 Jan 24|23:59:59.999|20240131"
expect_row "format: standard date patterns by culture" \
    "SELECT FORMAT(d, 'd'), FORMAT(d, 'D'), FORMAT(d, 'd', 'zh-CN'), FORMAT(d, 'D', 'zh-CN'), FORMAT(d, 'dddd', 'zh-CN'), FORMAT(d, 'MMMM', 'zh-CN') FROM ev WHERE id = 2" \
    "3/1/2024|Friday, March 1, 2024|2024/3/1|2024年3月1日|星期五|三月"
expect_row "format: a time is a TimeSpan; an invalid pattern gives NULL" \
    "SELECT FORMAT(tm, 'hh\\:mm'), ISNULL(FORMAT(tm, 'hh:mm'), 'null'), ISNULL(FORMAT(d, 'Q'), 'null'), ISNULL(FORMAT(NULL, 'N2'), 'null') FROM ev WHERE id = 1" \
    "23:30|null|null|null"

# IIF and CHOOSE are CASE expressions; CHOOSE outside its list is NULL.
expect_row "iif and choose" \
    "SELECT IIF(1 < 2, 'yes', 'no'), IIF(NULL = 1, 'yes', 'no'), CHOOSE(2, 'a', 'b', 'c'), ISNULL(CHOOSE(4, 'a', 'b', 'c'), 'NULL'), ISNULL(CHOOSE(0, 'a'), 'NULL'), CHOOSE(2.9, 'x', 'y', 'z')" \
    "yes|no|b|NULL|NULL|y"
expect_row "iif over rows" \
    "SELECT COUNT(IIF(grp = 'a', 1, NULL)), SUM(IIF(d IS NULL, 1, 0)) FROM ev" "2|1"

# STRING_AGG leaves NULLs (and their separators) out; WITHIN GROUP orders.
expect_row "string_agg: ordered, per group" \
    "SELECT grp, STRING_AGG(name, ', ') WITHIN GROUP (ORDER BY name) FROM ev GROUP BY grp ORDER BY grp" "a|Alpha, delta"
expect_row "string_agg: descending, numbers as text, empty group" \
    "SELECT STRING_AGG(id, '-') WITHIN GROUP (ORDER BY id DESC), ISNULL(STRING_AGG(name, ',') , 'x') FROM ev WHERE id > 1" "4-3-2|Alpha,charlie"
expect_row "string_agg: all NULL gives NULL" \
    "SELECT ISNULL(STRING_AGG(name, ','), 'null') FROM ev WHERE id = 4" "null"

# PATINDEX: 1-based, 0 when there is no match, SQL Server's wildcards.
expect_row "patindex" \
    "SELECT PATINDEX('%ter%', 'interesting data'), PATINDEX('%[0-9]%', 'abc4d'), PATINDEX('%[^a-z]%', 'abc4d'), PATINDEX('%d_t%', 'interesting data'), PATINDEX('abc%', 'abcdef'), PATINDEX('%xyz%', 'abc'), PATINDEX('%中%', N'数据中心')" \
    "3|4|4|13|1|0|3"

# TRY_CAST / TRY_CONVERT: NULL where CAST would fail to convert.
expect_row "try_cast and try_convert" \
    "SELECT ISNULL(CAST(TRY_CAST('abc' AS int) AS varchar(10)), 'null'), TRY_CAST('12' AS int) + 1, TRY_CONVERT(int, ' 7 '), ISNULL(CONVERT(varchar(30), TRY_CONVERT(date, '2024-02-30')), 'null'), TRY_CAST('2024-02-29' AS date), ISNULL(CAST(TRY_CAST(300 AS tinyint) AS varchar(5)), 'null'), ISNULL(CAST(TRY_CONVERT(uniqueidentifier, 'x') AS varchar(40)), 'null')" \
    "null|13|7|null|2024-02-29|null|null"

# Errors, as tsql shows them.
out=$(tsql_run <<'SQL'
SELECT DATEADD(fortnight, 1, '2024-01-01')
go
SELECT DATEPART(hour, d) FROM ev
go
SELECT TRY_CAST(5 AS date)
go
SELECT DATEDIFF(second, '1900-01-01', '2024-01-01')
go
SELECT DATEADD(year, 1, '9999-06-01')
go
SELECT FORMAT(1, 'N', 'xx-nowhere')
go
SELECT CAST('abc' AS int)
go
SELECT DATEPART(weekday, '2024-06-09') AS wd, DATENAME(month, '2024-06-09') AS mn, DATEDIFF(day, '2024-01-01', '2024-12-31') AS nd
go
exit
SQL
)
expect_contains "tsql: an unknown datepart is 155" "$out" "'fortnight' is not a recognized dateadd option."
expect_contains "tsql: a date has no hour (9810)" "$out" "The datepart hour is not supported by date function datepart for data type date."
expect_contains "tsql: TRY_CAST still raises for a conversion not allowed (529)" "$out" "Explicit conversion from data type int to date is not allowed."
expect_contains "tsql: DATEDIFF beyond int is 535" "$out" "Msg 535"
expect_contains "tsql: DATEADD beyond 9999 is 517" "$out" "Adding a value to a 'datetime' column caused an overflow."
expect_contains "tsql: an unknown culture is 9818" "$out" "Msg 9818"
expect_contains "tsql: CAST still raises 245" "$out" "Msg 245"
expect_contains "tsql: the values" "$out" $'1\tJune\t365'

# SELECT INTO #t, then the new table in the same batch (resolved when it runs).
out=$(bsqldb_run <<'SQL'
SELECT id, name INTO #recent FROM ev WHERE id < 3
SELECT COUNT(*) AS n FROM #recent
UPDATE #recent SET name = N'changed' WHERE id = 1
SELECT name FROM #recent WHERE id = 1
go
SELECT name FROM #missing
SELECT 'not reached' AS tail
go
SQL
)
expect_contains "bsqldb: select into #t then read it" "$out" "          2"
expect_contains "bsqldb: the #table can be changed in the batch" "$out" "changed"
expect_contains "bsqldb: a #table nobody made is still 208" "$out" "Invalid object name '#missing'."
expect_not_contains "bsqldb: the 208 ends the batch" "$out" "not reached"

out=$(tsql_run <<'SQL'
CREATE SCHEMA sales
go
SELECT id INTO sales.copy FROM ev WHERE id > 2
SELECT COUNT(*) AS schema_rows FROM sales.copy
go
exit
SQL
)
expect_contains "tsql: select into a schema's table fills it" "$out" $'schema_rows\n2'

done_checks
