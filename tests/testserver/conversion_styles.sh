#!/bin/bash
# CONVERT's float and date styles both ways, SET DATEFORMAT and SET LANGUAGE
# reading dates from text, PARSE and TRY_PARSE by culture, JSON_OBJECT and
# JSON_ARRAY, and NEWSEQUENTIALID in a DEFAULT; answers from the T-SQL
# reference's own examples and rules, through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server


check_rows "float styles" <<'ROWS'
style 0 keeps at most six digits	SELECT CAST(CAST(10080.12 AS float) AS varchar(30)), CAST(CAST(9980.12 AS float) AS varchar(30)), CONVERT(varchar(30), CAST(3.14159265 AS real))	10080.1|9980.12|3.14159
style 0 turns scientific past six digits, with three exponent digits	SELECT CONVERT(varchar(30), CAST(123456789 AS float)), CAST(CAST(0.00001 AS float) AS varchar(30)), CONVERT(varchar(30), CAST(100000 AS float), 0)	1.23457e+008|1e-005|100000
style 1 is 8 digits and style 2 16, always scientific	SELECT CONVERT(varchar(30), CAST(12345.6789 AS float), 1), CONVERT(varchar(30), CAST(12345.6789 AS float), 2), CONVERT(varchar(30), CAST(-0.5 AS float), 1)	1.2345679e+004|1.234567890000000e+004|-5.0000000e-001
style 3 tells apart the doubles style 0 writes alike and reads back the same	DECLARE @a float = 0.1, @b float = 0.2, @c float = 0.3; SELECT CONVERT(varchar(30), @a + @b), CONVERT(varchar(30), @c), CASE WHEN CONVERT(varchar(30), @a + @b, 3) <> CONVERT(varchar(30), @c, 3) THEN 'distinct' END, CASE WHEN CAST(CONVERT(varchar(30), @a + @b, 3) AS float) = @a + @b THEN 'lossless' END	0.3|0.3|distinct|lossless
ROWS

check_rows "datetime to text" <<'ROWS'
CAST and CONVERT of a datetime use style 0 (mon dd yyyy hh:miAM)	DECLARE @d datetime = '2026-12-25 14:05:00'; SELECT CAST(@d AS varchar(30)), CONVERT(varchar(30), @d), CONVERT(varchar(30), @d, 0)	Dec 25 2026  2:05PM|Dec 25 2026  2:05PM|Dec 25 2026  2:05PM
datetime and smalldatetime columns in style 0; date and datetime2 as ISO text	CREATE TABLE dt0 (d datetime, s smalldatetime, x date, y datetime2(2)); INSERT INTO dt0 VALUES ('2026-01-05 09:00', '2026-01-05 00:01', '2026-01-05', '2026-01-05 09:00'); SELECT CAST(d AS varchar(30)), CAST(s AS varchar(30)), CAST(x AS varchar(30)), CAST(y AS varchar(30)) FROM dt0	Jan  5 2026  9:00AM|Jan  5 2026 12:01AM|2026-01-05|2026-01-05 09:00:00.00
GETDATE is a datetime: style 0 has no seconds	SELECT CASE WHEN CAST(GETDATE() AS varchar(30)) LIKE '[A-S][a-z][a-z] [ 1-3][0-9] [0-9][0-9][0-9][0-9] [ 1][0-9]:[0-5][0-9][AP]M' THEN 'style 0' END	style 0
ROWS

check_rows "text to date by style" <<'ROWS'
103, 104 and 105 read day first; 101 month first; 3 two-digit years	SELECT CONVERT(varchar(10), CONVERT(date, '25/12/2026', 103), 23), CONVERT(varchar(10), CONVERT(date, '25.12.2026', 104), 23), CONVERT(varchar(10), CONVERT(date, '25-12-2026', 105), 23), CONVERT(varchar(10), CONVERT(date, '12/25/2026', 101), 23), CONVERT(varchar(10), CONVERT(date, '25/12/26', 3), 23)	2026-12-25|2026-12-25|2026-12-25|2026-12-25|2026-12-25
a datetime with its time, in style 103	SELECT CONVERT(datetime, '25/12/2026 14:30', 103)	2026-12-25 14:30:00.000
month names read back what styles 100 and 113 write	SELECT CONVERT(datetime, 'Dec 25 2026  2:05PM', 100), CONVERT(datetime, '25 Dec 2026 14:05:00:123', 113)	2026-12-25 14:05:00.000|2026-12-25 14:05:00.123
TRY_CONVERT with a style: NULL for a day the month has not	SELECT TRY_CONVERT(date, '31/02/2026', 103), CONVERT(varchar(10), TRY_CONVERT(date, '28/02/2026', 103), 23)	|2026-02-28
alphabetic dates, any DATEFORMAT	SET DATEFORMAT ydm; SELECT CONVERT(varchar(10), CAST('April 15, 1996' AS date), 23), CONVERT(varchar(10), CAST('15 April, 1996' AS date), 23), CONVERT(varchar(10), CAST('Apr 15 1996' AS date), 23)	1996-04-15|1996-04-15|1996-04-15
ROWS

check_rows "DATEFORMAT" <<'ROWS'
mdy, us_english's default	SET DATEFORMAT mdy; DECLARE @datevar datetime; SET @datevar = '12/31/1998'; SELECT @datevar	1998-12-31 00:00:00.000
ydm	SET DATEFORMAT ydm; DECLARE @datevar datetime; SET @datevar = '1998/31/12'; SELECT @datevar	1998-12-31 00:00:00.000
ymd	SET DATEFORMAT ymd; DECLARE @datevar datetime; SET @datevar = '1998/12/31'; SELECT @datevar	1998-12-31 00:00:00.000
dmy reads day first into datetime2	SET DATEFORMAT dmy; DECLARE @datevar datetime2 = '31/12/2008 09:01:01.1234567'; SELECT CONVERT(varchar(10), @datevar, 23)	2008-12-31
myd and dym	SET DATEFORMAT myd; SELECT CONVERT(varchar(10), CAST('12/1998/31' AS date), 23); SET DATEFORMAT dym; SELECT CONVERT(varchar(10), CAST('31/1998/12' AS date), 23)	1998-12-31
ISO 8601 and unseparated forms read alike under every order	SET DATEFORMAT dmy; SELECT CAST('20081231' AS datetime), CAST('2008-12-31T09:01:01' AS datetime)	2008-12-31 00:00:00.000|2008-12-31 09:01:01.000
ISDATE follows the order	SET DATEFORMAT dmy; SELECT ISDATE('31/12/2008'), ISDATE('12/31/2008'); SET DATEFORMAT mdy; SELECT ISDATE('31/12/2008'), ISDATE('12/31/2008')	1|0
ISDATE follows the order back in mdy	SET DATEFORMAT mdy; SELECT ISDATE('31/12/2008'), ISDATE('12/31/2008')	0|1
a text inserted into a date column reads in the order	SET DATEFORMAT dmy; CREATE TABLE df1 (d date); INSERT INTO df1 VALUES ('31/12/2008'); SELECT CONVERT(varchar(10), d, 23) FROM df1	2008-12-31
SET LANGUAGE sets its language's order	SET LANGUAGE N'简体中文'; SELECT ISDATE('2008/12/31'), ISDATE('12/31/2008'); SET LANGUAGE us_english; SELECT ISDATE('2008/12/31'), ISDATE('12/31/2008')	1|0
us_english reads month first again	SET LANGUAGE N'简体中文'; SET LANGUAGE us_english; SELECT ISDATE('12/31/2008'), ISDATE('31/12/2008')	1|0
two-digit years up to 49 are this century's, from 50 the last's	SELECT CONVERT(varchar(10), CAST('12/31/49' AS date), 23), CONVERT(varchar(10), CAST('12/31/50' AS date), 23), CONVERT(varchar(10), CAST('491231' AS date), 23)	2049-12-31|1950-12-31|2049-12-31
12 AM is midnight, 12 PM noon	SELECT CAST(CAST('12:00 AM' AS time) AS varchar(20)), CAST(CAST('12:30 PM' AS time(0)) AS varchar(20)), CAST(CAST('1:05:09 pm' AS time(0)) AS varchar(20))	00:00:00.0000000|12:30:00|13:05:09
ROWS

check_errors "DATEFORMAT errors" <<'ROWS'
dmy: a month of 31	SET DATEFORMAT dmy; DECLARE @datevar datetime2 = '12/31/2008 09:01:01.1234567'; SELECT @datevar	Conversion failed when converting date and/or time from character string.
style 101 reads month first	SELECT CONVERT(date, '25/12/2026', 101)	Conversion failed when converting date and/or time from character string.
a three-digit year	SELECT CAST('12/31/198' AS date)	Conversion failed when converting date and/or time from character string.
a month that has no name	SELECT CAST('Foo 25 2026' AS date)	Conversion failed when converting date and/or time from character string.
an hour past 12 with PM	SELECT CAST('13:00 PM' AS time)	Conversion failed when converting date and/or time from character string.
a day past the month's end in the session's order	SET DATEFORMAT dmy; SELECT CAST('31/04/2026' AS date)	Conversion failed when converting date and/or time from character string.
ROWS

check_rows "PARSE" <<'ROWS'
a long date in en-US	SELECT PARSE('Monday, 13 December 2010' AS datetime2 USING 'en-US')	2010-12-13 00:00:00.0000000
money with a currency symbol in de-DE	SELECT CONVERT(varchar(20), PARSE('€345,98' AS money USING 'de-DE'))	345.98
the session's language decides the culture	SET LANGUAGE 'English'; SELECT PARSE('12/16/2010' AS datetime2)	2010-12-16 00:00:00.0000000
de-DE and zh-CN dates and numbers	SELECT CONVERT(varchar(10), PARSE('16.12.2010' AS date USING 'de-DE'), 23), CONVERT(varchar(10), PARSE('2010/12/16' AS date USING 'zh-CN'), 23), PARSE('1.234,5' AS decimal(10,2) USING 'de-DE'), PARSE('1,234.5' AS decimal(10,2) USING 'zh-CN'), PARSE(' 42 ' AS int)	2010-12-16|2010-12-16|1234.50|1234.50|42
TRY_PARSE gives NULL where PARSE fails	SELECT TRY_PARSE('Jabberwokkie' AS datetime2 USING 'en-US'), CASE WHEN TRY_PARSE('Aragorn' AS decimal USING 'sr-Latn-CS') IS NULL THEN 'True' ELSE 'False' END, TRY_PARSE('1.5' AS int)	|True|
ROWS

check_errors "PARSE errors" <<'ROWS'
text that is no number	SELECT PARSE('abc' AS int)	Error converting string value 'abc' into data type int using culture 'en-US'.
a culture no one knows	SELECT PARSE('1' AS int USING 'xx-YY')	The culture parameter 'xx-YY' provided in the function call is not supported.
a NULL constant	SELECT PARSE(NULL AS int)	Argument data type NULL is invalid for argument 1 of parse function.
a type PARSE does not make	SELECT PARSE('1' AS varchar(3))	Invalid data type varchar in function parse.
ROWS

check_rows "JSON constructors" <<'ROWS'
JSON_OBJECT of nothing, of text and a number	SELECT JSON_OBJECT(), JSON_OBJECT('name':'value', 'type':1)	{}|{"name":"value","type":1}
JSON_OBJECT keeps NULL unless told ABSENT ON NULL	SELECT JSON_OBJECT('name':'value', 'type':NULL), JSON_OBJECT('name':'value', 'type':NULL ABSENT ON NULL)	{"name":"value","type":null}|{"name":"value"}
JSON_OBJECT holds arrays and objects	SELECT JSON_OBJECT('name':'value', 'type':JSON_ARRAY(1, 2)), JSON_OBJECT('name':'value', 'type':JSON_OBJECT('type_id':1, 'name':'a'))	{"name":"value","type":[1,2]}|{"name":"value","type":{"type_id":1,"name":"a"}}
JSON_ARRAY with NULL ON NULL keeps NULL	SELECT JSON_ARRAY('a', 1, NULL, 2 NULL ON NULL), JSON_ARRAY('a', 1, NULL, 2 ABSENT ON NULL)	["a",1,null,2]|["a",1,2]
JSON_OBJECT over a table's rows	CREATE TABLE jo (id int, name varchar(10)); INSERT INTO jo VALUES (1, 'a'), (2, NULL); SELECT JSON_OBJECT('id':id, 'name':name ABSENT ON NULL) FROM jo ORDER BY id DESC	{"id":2}
ROWS

check_rows "NEWSEQUENTIALID" <<'ROWS'
a DEFAULT gives each row a greater GUID, past a carry of its low byte	CREATE TABLE sq (id uniqueidentifier DEFAULT NEWSEQUENTIALID(), n int); DECLARE @n int = 1; WHILE @n <= 300 BEGIN INSERT INTO sq (n) VALUES (@n); SET @n = @n + 1; END; SELECT COUNT(DISTINCT id), SUM(CASE WHEN r = n THEN 1 ELSE 0 END) FROM (SELECT id, n, ROW_NUMBER() OVER (ORDER BY id) AS r FROM sq) x	300|300
in parentheses too	CREATE TABLE sq2 (id uniqueidentifier DEFAULT (NEWSEQUENTIALID()), n int); INSERT INTO sq2 (n) VALUES (1); SELECT COUNT(*) FROM sq2 WHERE id IS NOT NULL	1
ROWS

check_errors "NEWSEQUENTIALID errors" <<'ROWS'
a DEFAULT of a column that is no uniqueidentifier	CREATE TABLE sq3 (id int DEFAULT NEWSEQUENTIALID())	The newsequentialid() built-in function can only be used in a DEFAULT expression
inside an expression of a DEFAULT	CREATE TABLE sq4 (id uniqueidentifier DEFAULT COALESCE(NEWSEQUENTIALID(), NEWID()))	The newsequentialid() built-in function can only be used in a DEFAULT expression
ROWS

# Through tsql: SET DATEFORMAT holds for the session's later batches.
out=$(tsql_run <<'SQL'
SET DATEFORMAT dmy
go
SELECT CONVERT(varchar(10), CAST('31/12/2008' AS date), 23) + '|' + CONVERT(varchar(30), CAST(12345.6789 AS float), 1)
go
SQL
)
expect_contains "tsql: DATEFORMAT across batches, float style 1" "$out" "2008-12-31|1.2345679e+004"

done_checks
