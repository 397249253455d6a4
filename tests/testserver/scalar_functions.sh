#!/bin/bash
# The scalar functions by family (mathematical, string, date, logical,
# conversion, JSON) with the answers the T-SQL reference gives in its own
# examples, the column types a client sees for them, and their errors;
# through isql (ODBC), tsql and bsqldb.
source "$(dirname "$0")/lib/common.sh"

start_server


# check_types < table: each line "expression<TAB>TYPE_NAME|PRECISION|LENGTH|SCALE"
# as sp_columns reports the column SELECT ... INTO made of the expression.
check_types() {
    local expr want out n=0
    while IFS=$'\t' read -r expr want; do
        [[ -z "$expr" || "$expr" == \#* ]] && continue
        n=$((n + 1))
        out=$(rows_of <<<"SELECT $expr AS c INTO typed_$n
EXEC sp_columns typed_$n")
        local got
        got=$(awk -F'|' '$4 == "c" { print $6 "|" $7 "|" $8 "|" $9 }' <<<"$out")
        [[ "$got" == "$want" ]] || { echo "$out" >&2; fail "type of $expr: got '$got', expected '$want'"; }
        ok "type of $expr"
    done
}

check_rows "math" <<'ROWS'
ROUND keeps a decimal's type, computed exactly	SELECT ROUND(CAST(2.675 AS decimal(10,3)), 2)	2.680
ROUND to tens and hundreds; past the digits it is 0	SELECT ROUND(748.58, -1), ROUND(748.58, -2), ROUND(748.58, -4)	750.00|700.00|0.00
ROUND: the last digit is an estimate	SELECT ROUND(123.9994, 3), ROUND(123.9995, 3)	123.9990|124.0000
ROUND and approximations	SELECT ROUND(123.4545, 2), ROUND(123.45, -2)	123.4500|100.00
ROUND with a function truncates	SELECT ROUND(150.75, 0), ROUND(150.75, 0, 1)	151.00|150.00
ROUND to thousands in a wide enough type	SELECT ROUND(CAST(748.58 AS decimal(6,2)), -3)	1000.00
ROUND of money and of an int	SELECT ROUND(CAST(2.55555 AS money), 2), ROUND(1234, -2), ROUND(-1250, -2)	2.5600|1200|-1300
FLOOR of numeric and money	SELECT FLOOR(123.45), FLOOR(-123.45), FLOOR(CAST(123.45 AS money))	123|-124|123.0000
CEILING of numeric and money	SELECT CEILING(123.45), CEILING(-123.45), CEILING(CAST(0.0 AS money))	124|-123|0.0000
ABS and SIGN keep the type	SELECT ABS(-1.0), ABS(0.0), ABS(1.0), SIGN(-125), SIGN(0), SIGN(CAST(-2.5 AS decimal(5,2)))	1.0|0.0|1.0|-1|0|-1.00
POWER keeps the first argument's type	SELECT POWER(2, -100.0), POWER(CAST(2.0 AS int), -100.0), POWER(2.0, -100.0), POWER(2.00, -100.0), POWER(CAST(2.0 AS decimal(5,2)), -100.0)	0|0|0.0|0.00|0.00
POWER of float and int	DECLARE @input1 float = 2, @input2 float = 2.5; SELECT POWER(@input1, 3), POWER(@input2, 3), POWER(2, 2.5)	8|15.625|5
POWER of a float is the IEEE result	SELECT CASE WHEN ABS(POWER(CAST(2.0 AS float), -100.0) - 7.88860905221012E-31) < 1E-44 THEN 'same' END	same
SQRT, SQUARE, LOG, LOG10, EXP	SELECT SQRT(16.0), SQUARE(3), LOG10(100), CASE WHEN ABS(LOG(10) - 2.302585092994046) < 1E-14 THEN 'ln' END, LOG(8, 2), CASE WHEN ABS(EXP(LOG(20)) - 20) < 1E-12 THEN 'exp' END	4|9|2|ln|3|exp
trigonometry and PI	SELECT CASE WHEN ABS(PI() - 3.14159265358979) < 1E-14 THEN 'pi' END, SIN(0), COS(0), ATN2(0, 1), ASIN(1) * 2 - PI(), DEGREES(PI()), RADIANS(CAST(180 AS float)) - PI()	pi|0|1|0|0|180|0
NULL in gives NULL	SELECT ROUND(NULL, 1), FLOOR(NULL), SQRT(NULL), POWER(NULL, 2), ABS(NULL)	||||
ROWS

check_rows "math, float results in style 0 text" <<'ROWS'
ATAN of the reference's angles	SELECT 'The ATAN of -45.01 is: ' + CONVERT(varchar, ATAN(-45.01)), CONVERT(varchar, ATAN(-181.01)), CONVERT(varchar, ATAN(0)), CONVERT(varchar, ATAN(0.1472738)), CONVERT(varchar, ATAN(197.1099392))	The ATAN of -45.01 is: -1.54858|-1.56527|0|0.146223|1.56572
ACOS of -1 and COT of an angle	DECLARE @cos float = -1.0, @angle float = 124.1332; SELECT 'The ACOS of the number is: ' + CONVERT(varchar, ACOS(@cos)), 'The COT of the angle is: ' + CONVERT(varchar, COT(@angle))	The ACOS of the number is: 3.14159|The COT of the angle is: -0.040312
TAN of a right angle is large, not infinite	SELECT CONVERT(varchar(30), TAN(PI() / 2), 2), CONVERT(varchar, TAN(PI() / 4))	1.633123935319537e+016|1
RAND repeats for a seed and stays in [0, 1)	SELECT CASE WHEN RAND(100) = RAND(100) THEN 'same' END, CASE WHEN RAND() >= 0 AND RAND() < 1 THEN 'range' END	same|range
ROWS

check_errors "math errors" <<'ROWS'
ROUND past the decimal's precision	SELECT ROUND(748.58, -3)	Arithmetic overflow error converting expression to data type numeric.
ABS of the smallest int	SELECT ABS(CAST(-2147483648 AS int))	Arithmetic overflow error converting expression to data type int.
POWER past int	SELECT POWER(10, 10)	Arithmetic overflow error for type int, value = 10000000000.000000.
SQRT of a negative number	SELECT SQRT(-1)	An invalid floating point operation occurred.
LOG of zero	SELECT LOG(0)	An invalid floating point operation occurred.
ROUND without a length	SELECT ROUND(1.5)	The round function requires 2 argument(s).
ROWS

check_rows "string" <<'ROWS'
CHARINDEX from the start and from a position	DECLARE @document varchar(64) = 'Reflectors are vital safety components of your bicycle.'; SELECT CHARINDEX('bicycle', @document), CHARINDEX('vital', @document, 5), CHARINDEX('bicycle', @document, 49)	48|16|0
CHARINDEX compares by the collation; start below 1	SELECT CHARINDEX('TEST', 'This is a Test'), CHARINDEX('is', 'This is', 0), CHARINDEX('is', 'This is', 4), CHARINDEX(NULL, 'a')	11|3|6|
REPLICATE, SPACE, REVERSE	SELECT REPLICATE('-', 20), REPLICATE('ab', 3), '[' + SPACE(3) + ']', REVERSE('abc'), REPLICATE('x', -1)	--------------------|ababab|[   ]|cba|
STUFF inserts and deletes	SELECT STUFF('abcdef', 2, 3, 'ijklmn'), STUFF('abcdefg', 1, 0, '1234'), STUFF('abc', 5, 1, 'x'), STUFF('abc', 2, 9, '')	aijklmnef|1234abcdefg||a
QUOTENAME doubles the closing character	SELECT QUOTENAME('abc[]def'), QUOTENAME('abc def'), QUOTENAME('abc', '"'), QUOTENAME('a(b)', '('), QUOTENAME('abc', 'x')	[abc[]]def]|[abc def]|"abc"|(a(b)))|
CONCAT and CONCAT_WS pass over NULL	SELECT CONCAT('a', NULL, 'b', 1), CONCAT_WS(',', '1 Microsoft Way', NULL, NULL, 'Redmond', 'WA', 98052)	ab1|1 Microsoft Way,Redmond,WA,98052
TRANSLATE maps characters	SELECT TRANSLATE('2*[3+4]/{7-2}', '[]{}', '()()'), TRANSLATE('abcdef', 'abc', 'bcd')	2*(3+4)/(7-2)|bcddef
TRIM of spaces and of given characters	SELECT '[' + TRIM('     test    ') + ']', TRIM('.,! ' FROM '     #     test    .')	[test]|#     test
STR right-aligns and rounds; too long is stars	SELECT '[' + STR(123.45, 6, 1) + ']', STR(123.45, 2, 2), '[' + STR(FLOOR(123.45), 8, 3) + ']', '[' + STR(1.5) + ']'	[ 123.5]|**|[ 123.000]|[         2]
UNICODE, NCHAR, ASCII, CHAR	SELECT UNICODE(N'åkergatan'), NCHAR(229), ASCII('A'), CHAR(65), UNICODE('')	229|å|65|A|
SOUNDEX and DIFFERENCE	SELECT SOUNDEX('Smith'), SOUNDEX('Smythe'), DIFFERENCE('Smithers', 'Smythers'), SOUNDEX('Ashcraft')	S530|S530|4|A261
ISNUMERIC	SELECT ISNUMERIC('12'), ISNUMERIC('$12.5'), ISNUMERIC('1e5'), ISNUMERIC('-'), ISNUMERIC('1,000'), ISNUMERIC('abc'), ISNUMERIC(''), ISNUMERIC(NULL), ISNUMERIC(3.5)	1|1|1|1|1|0|0|0|1
ROWS

check_rows "string trims" <<'ROWS'
LTRIM and RTRIM of spaces	SELECT '[' + LTRIM('     Five spaces are at the beginning of this string.') + ']', '[' + RTRIM('Removes trailing spaces.   ') + ']'	[Five spaces are at the beginning of this string.]|[Removes trailing spaces.]
LTRIM and RTRIM of given characters	SELECT LTRIM('123abc.', '123.'), RTRIM('.123abc.', 'abc.')	abc.|.123
ROWS

check_errors "string errors" <<'ROWS'
TRANSLATE with unequal lists	SELECT TRANSLATE('abc', 'ab', 'x')	The second and third arguments of the TRANSLATE built-in function must contain an equal number of characters.
CONCAT_WS needs three arguments	SELECT CONCAT_WS(',', 'a')	The concat_ws function requires 3 to 254 arguments.
ROWS

check_rows "date" <<'ROWS'
date and datetime2 from 0001-01-01 (as text: FreeTDS writes year 1 unpadded)	SELECT CAST(CAST('0001-01-01' AS date) AS varchar(10)), CAST(CAST('0001-01-01 00:00:00' AS datetime2) AS varchar(30)), CAST(DATEADD(day, -1, CAST('0001-01-02' AS date)) AS varchar(10))	0001-01-01|0001-01-01 00:00:00.0000000|0001-01-01
a date column holds year 1	CREATE TABLE d1 (d date); INSERT INTO d1 VALUES ('0001-01-01'); SELECT CAST(d AS varchar(10)), YEAR(d), DAY(d) FROM d1	0001-01-01|1|1
DATEFROMPARTS and its kin	SELECT DATEFROMPARTS(2010, 12, 31), DATETIMEFROMPARTS(2010, 12, 31, 23, 59, 59, 0), DATETIME2FROMPARTS(2011, 8, 15, 14, 23, 44, 5, 1), TIMEFROMPARTS(23, 59, 59, 0, 0), SMALLDATETIMEFROMPARTS(2010, 12, 31, 23, 59)	2010-12-31|2010-12-31 23:59:59.000|2011-08-15 14:23:44.5|23:59:59|2010-12-31 23:59:00
FROMPARTS of NULL is NULL	SELECT DATEFROMPARTS(NULL, 1, 1), DATETIME2FROMPARTS(2011, 8, 15, 14, 23, 44, 50, 2)	|2011-08-15 14:23:44.50
ISDATE	SELECT ISDATE('2009-05-12 10:19:41.177'), ISDATE('2009-02-29'), ISDATE('abc'), ISDATE(NULL)	1|0|0|0
DATETRUNC keeps the type	SELECT DATETRUNC(month, CAST('2021-12-08 11:30:15.1234567' AS datetime2)), DATETRUNC(year, CAST('2021-12-08' AS date)), DATETRUNC(hour, CAST('2021-12-08 11:30:15.123' AS datetime))	2021-12-01 00:00:00.0000000|2021-01-01|2021-12-08 11:00:00.000
DATETRUNC to quarter, week, minute, millisecond	DECLARE @d datetime2 = '2021-12-08 11:30:15.1234567'; SELECT DATETRUNC(quarter, @d), DATETRUNC(week, @d), DATETRUNC(iso_week, @d), DATETRUNC(minute, @d), DATETRUNC(millisecond, @d)	2021-10-01 00:00:00.0000000|2021-12-05 00:00:00.0000000|2021-12-06 00:00:00.0000000|2021-12-08 11:30:00.0000000|2021-12-08 11:30:15.1230000
SET DATEFIRST moves weekday and week	SET DATEFIRST 1; SELECT DATEPART(weekday, '2024-06-09'), DATEPART(dw, '2024-06-10'), @@DATEFIRST, DATETRUNC(week, CAST('2024-06-09' AS date))	7|1|1|2024-06-03
SET DATEFIRST 7 is us_english's	SET DATEFIRST 3; SET DATEFIRST 7; SELECT DATEPART(weekday, '2024-06-09'), DATEPART(week, '2024-01-07')	1|2
SET LANGUAGE names months and days	SET LANGUAGE N'简体中文'; SELECT DATENAME(month, '2024-03-05'), DATENAME(weekday, '2024-03-05'), @@LANGUAGE	03|星期二|简体中文
SET LANGUAGE back to us_english	SET LANGUAGE N'简体中文'; SET LANGUAGE us_english; SELECT DATENAME(month, '2024-03-05'), DATENAME(weekday, '2024-03-05'), @@LANGUAGE	March|Tuesday|us_english
ROWS

check_rows "clock" <<'ROWS'
the clock functions tell the same time	SELECT CASE WHEN ABS(DATEDIFF(second, GETDATE(), SYSDATETIME())) <= 1 AND ABS(DATEDIFF(second, CURRENT_TIMESTAMP, GETDATE())) <= 1 THEN 'local' END, CASE WHEN ABS(DATEDIFF(second, GETUTCDATE(), SYSUTCDATETIME())) <= 1 THEN 'utc' END	local|utc
SYSDATETIMEOFFSET is local time with its offset	SELECT CASE WHEN ABS(DATEDIFF(second, SYSUTCDATETIME(), CAST(SWITCHOFFSET(SYSDATETIMEOFFSET(), '+00:00') AS datetime2))) <= 1 THEN 'utc' END, CASE WHEN ABS(DATEDIFF(second, SYSDATETIME(), CAST(SYSDATETIMEOFFSET() AS datetime2))) <= 1 THEN 'local' END	utc|local
ROWS

check_errors "date errors" <<'ROWS'
NEWSEQUENTIALID outside a DEFAULT	SELECT NEWSEQUENTIALID()	The newsequentialid() built-in function can only be used in a DEFAULT expression
DATEFROMPARTS of a day the month has not	SELECT DATEFROMPARTS(2023, 2, 29)	Cannot construct data type date, some of the arguments have values which are not valid.
DATETRUNC of an hour of a date	SELECT DATETRUNC(hour, CAST('2021-12-08' AS date))	The datepart hour is not supported by date function datetrunc for data type date.
DATETRUNC of an unknown part	SELECT DATETRUNC(fortnight, GETDATE())	'fortnight' is not a recognized datetrunc option.
SET DATEFIRST out of range	SET DATEFIRST 8	SET DATEFIRST 8 is out of range.
ROWS

check_rows "logical" <<'ROWS'
GREATEST and LEAST convert to the highest type	SELECT GREATEST('6.62', 3.1415, N'7'), LEAST('6.62', 33.1415, N'7')	7.0000|6.6200
GREATEST and LEAST pass over NULL; text by the collation	SELECT GREATEST(1, NULL, 3), LEAST(NULL, NULL), GREATEST('apple', 'Banana'), LEAST(2.5, 10)	3||Banana|2.5
sum of a CASE over decimals stays exact	CREATE TABLE p (v decimal(10,2)); INSERT INTO p VALUES (0.10), (0.20), (0.30); SELECT SUM(CASE WHEN v > 0.15 THEN v ELSE 0 END), SUM(CASE WHEN v < 1 THEN v * 3 END) FROM p	0.50|1.80
ROWS

check_rows "conversion" <<'ROWS'
money to text: style 0 two decimals, 1 with commas, 2 four decimals	SELECT CONVERT(varchar(30), CAST(1234567.5678 AS money)), CONVERT(varchar(30), CAST(1234567.5678 AS money), 1), CONVERT(varchar(30), CAST(1234567.5678 AS money), 2), CAST(CAST(-0.005 AS money) AS varchar(10))	1234567.57|1,234,567.57|1234567.5678|-0.01
CAST and CONVERT to a character type without a length give 30 characters	SELECT CAST('abcdefghijklmnopqrstuvwxyz0123456789' AS varchar), CONVERT(nvarchar, N'abcdefghijklmnopqrstuvwxyz0123456789')	abcdefghijklmnopqrstuvwxyz0123|abcdefghijklmnopqrstuvwxyz0123
datetime to text by style, four-digit years	DECLARE @d datetime = '2020-01-05 13:04:05.123'; SELECT CONVERT(varchar, @d, 100), CONVERT(varchar, @d, 101), CONVERT(varchar, @d, 102), CONVERT(varchar, @d, 103), CONVERT(varchar, @d, 104), CONVERT(varchar, @d, 105), CONVERT(varchar, @d, 106), CONVERT(varchar, @d, 107)	Jan  5 2020  1:04PM|01/05/2020|2020.01.05|05/01/2020|05.01.2020|05-01-2020|05 Jan 2020|Jan 05, 2020
datetime to text by style, times and ISO forms	DECLARE @d datetime = '2020-01-05 13:04:05.123'; SELECT CONVERT(varchar, @d, 108), CONVERT(varchar, @d, 109), CONVERT(varchar, @d, 110), CONVERT(varchar, @d, 111), CONVERT(varchar, @d, 112), CONVERT(varchar, @d, 113), CONVERT(varchar, @d, 114), CONVERT(varchar, @d, 120), CONVERT(varchar, @d, 121), CONVERT(varchar, @d, 126), CONVERT(varchar(10), @d, 23)	13:04:05|Jan  5 2020  1:04:05:123PM|01-05-2020|2020/01/05|20200105|05 Jan 2020 13:04:05:123|13:04:05:123|2020-01-05 13:04:05|2020-01-05 13:04:05.123|2020-01-05T13:04:05.123|2020-01-05
datetime to text by style, two-digit years	DECLARE @d datetime = '2020-01-05 13:04:05.123'; SELECT CONVERT(varchar, @d, 1), CONVERT(varchar, @d, 3), CONVERT(varchar, @d, 11), CONVERT(varchar, @d, 12)	01/05/20|05/01/20|20/01/05|200105
binary to text and back by style	SELECT CONVERT(varchar(10), 0x4142, 0), CONVERT(varchar(10), 0x4142, 1), CONVERT(varchar(10), 0x4142, 2), CONVERT(varbinary(4), '0x4142', 1), CONVERT(varbinary(4), '4142', 2)	AB|0x4142|4142|4142|4142
ROWS

check_rows "json" <<'ROWS'
JSON_VALUE of a scalar, lax and strict	DECLARE @j nvarchar(200) = N'{"info":{"type":1,"address":{"town":"Bristol","county":"Avon"},"tags":["Sport","Water polo"]},"type":"Basic","price":1.50}'; SELECT JSON_VALUE(@j, '$.info.address.town'), JSON_VALUE(@j, 'strict $.info.tags[1]'), JSON_VALUE(@j, '$.price'), JSON_VALUE(@j, '$.info.tags'), JSON_VALUE(@j, '$.missing')	Bristol|Water polo|1.50||
JSON_QUERY gives objects and arrays	SELECT JSON_QUERY(N'{"a":[1,2],"b":"x"}', '$.a'), JSON_QUERY(N'{"a":[1,2],"b":"x"}', '$.b'), ISJSON(N'{"a":1}'), ISJSON('abc'), ISJSON(NULL)	[1,2]||1|0|
JSON_PATH_EXISTS	DECLARE @jsonInfo nvarchar(max) = N'{"info":{"address":[{"town":"Paris"},{"town":"London"}]}}'; SELECT JSON_PATH_EXISTS(@jsonInfo, '$.info.address'), JSON_PATH_EXISTS(@jsonInfo, '$.info.addresses')	1|0
STRING_ESCAPE for JSON	SELECT STRING_ESCAPE('\   /  \\    "     ', 'json'), STRING_ESCAPE(CHAR(9) + 'a' + CHAR(10), 'json')	\\   \/  \\\\    \"     |\ta\n
JSON_MODIFY sets, deletes and appends	SELECT JSON_MODIFY(N'{"name":"John","skills":["C#","SQL"]}', '$.name', 'Mike'), JSON_MODIFY(N'{"name":"John","surname":"Doe"}', '$.surname', NULL), JSON_MODIFY(N'{"skills":["C#"]}', 'append $.skills', 'Azure')	{"name":"Mike","skills":["C#","SQL"]}|{"name":"John"}|{"skills":["C#","Azure"]}
JSON_ARRAY leaves NULLs out, quotes text, nests arrays	SELECT JSON_ARRAY(), JSON_ARRAY('a', 1, 'b', 2), JSON_ARRAY('a', 1, NULL, 2), JSON_ARRAY('a', JSON_ARRAY(1, NULL, 2)), JSON_ARRAY(CAST(1.50 AS decimal(5,2)), N'x"y')	[]|["a",1,"b",2]|["a",1,2]|["a",[1,2]]|[1.50,"x\"y"]
ROWS

check_errors "json errors" <<'ROWS'
strict path that is not there	SELECT JSON_VALUE(N'{"a":1}', 'strict $.b')	Property cannot be found on the specified JSON path.
strict mode written against the path	SELECT JSON_VALUE(N'{"FirstName":"Basavaraj","LastName":"Biradar"}', 'strict$.City')	Property cannot be found on the specified JSON path.
strict path to an object	SELECT JSON_VALUE(N'{"a":{"b":1}}', 'strict $.a')	Scalar value cannot be found in the specified JSON path.
text that is not JSON	SELECT JSON_VALUE(N'{"a":', '$.a')	JSON text is not properly formatted.
ROWS

check_rows "datetimeoffset" <<'ROWS'
DATEDIFF_BIG counts past int	SELECT DATEDIFF_BIG(day, '2020-01-01', '2020-01-02'), DATEDIFF_BIG(nanosecond, '2000-01-01', '2020-01-01'), DATEDIFF_BIG(millisecond, CAST('0001-01-01' AS datetime2), CAST('9999-12-31' AS datetime2))	1|631152000000000000|315537811200000
DATETIMEOFFSETFROMPARTS with its precision	SELECT DATETIMEOFFSETFROMPARTS(2010, 12, 31, 14, 23, 23, 0, 12, 0, 7) AS Result	2010-12-31 14:23:23.0000000 +12:00
DATETIMEOFFSETFROMPARTS fractions by precision	SELECT DATETIMEOFFSETFROMPARTS(2011, 8, 15, 14, 30, 00, 5, 12, 30, 1), DATETIMEOFFSETFROMPARTS(2011, 8, 15, 14, 30, 00, 50, 12, 30, 2), DATETIMEOFFSETFROMPARTS(2011, 8, 15, 14, 30, 00, 500, 12, 30, 3), DATETIMEOFFSETFROMPARTS(2011, 8, 15, 14, 30, 00, NULL, 12, 30, 3)	2011-08-15 14:30:00.5 +12:30|2011-08-15 14:30:00.50 +12:30|2011-08-15 14:30:00.500 +12:30|
SWITCHOFFSET to another offset, by text and by minutes	CREATE TABLE dto (ColDatetimeoffset datetimeoffset); INSERT INTO dto VALUES ('1998-09-20 07:45:50.71345 -05:00'); SELECT SWITCHOFFSET(ColDatetimeoffset, '-08:00'), SWITCHOFFSET(ColDatetimeoffset, 120), SWITCHOFFSET(ColDatetimeoffset, '+14:00') FROM dto	1998-09-20 04:45:50.7134500 -08:00|1998-09-20 14:45:50.7134500 +02:00|1998-09-21 02:45:50.7134500 +14:00
SWITCHOFFSET keeps the fraction digits across midnight	SELECT SWITCHOFFSET(CAST('2020-01-01 00:30:00 +01:00' AS datetimeoffset(0)), '-00:45')	2019-12-31 22:45:00 -00:45
TODATETIMEOFFSET keeps the local time	SELECT TODATETIMEOFFSET(CAST('2007-05-21 23:00:00' AS datetime2), '-07:00'), TODATETIMEOFFSET(CAST('2007-05-21 12:00:00' AS datetime), 120)	2007-05-21 23:00:00.0000000 -07:00|2007-05-21 12:00:00.000 +02:00
DATE_BUCKET by week, day, hour, minute, second from 1900-01-01	SELECT DATE_BUCKET(WEEK, 1, CAST('2020-04-30 21:21:21' AS datetime2)), DATE_BUCKET(DAY, 1, CAST('2020-04-30 21:21:21' AS datetime2)), DATE_BUCKET(HOUR, 1, CAST('2020-04-30 21:21:21' AS datetime2)), DATE_BUCKET(MINUTE, 1, CAST('2020-04-30 21:21:21' AS datetime2)), DATE_BUCKET(SECOND, 1, CAST('2020-04-30 21:21:21' AS datetime2))	2020-04-27 00:00:00.0000000|2020-04-30 00:00:00.0000000|2020-04-30 21:00:00.0000000|2020-04-30 21:21:00.0000000|2020-04-30 21:21:21.0000000
DATE_BUCKET by month, quarter, year; a date stays a date	SELECT DATE_BUCKET(MONTH, 1, CAST('2020-04-30 21:21:21' AS datetime2)), DATE_BUCKET(QUARTER, 1, CAST('2020-04-30 21:21:21' AS datetime2)), DATE_BUCKET(YEAR, 1, CAST('2020-04-30 21:21:21' AS datetime2)), DATE_BUCKET(WEEK, 1, CAST('2020-01-01' AS date))	2020-04-01 00:00:00.0000000|2020-04-01 00:00:00.0000000|2020-01-01 00:00:00.0000000|2019-12-30
ROWS

check_errors "datetimeoffset errors" <<'ROWS'
DATE_BUCKET width zero	SELECT DATE_BUCKET(DAY, 0, CAST('2020-01-01' AS date))	Invalid bucket width value passed to date_bucket function. Only positive values are allowed.
DATEDIFF_BIG overflows bigint	SELECT DATEDIFF_BIG(nanosecond, CAST('0001-01-01' AS datetime2), CAST('9999-12-31' AS datetime2))	The datediff_big function resulted in an overflow.
DATEDIFF still overflows int	SELECT DATEDIFF(nanosecond, '2000-01-01', '2020-01-01')	The datediff function resulted in an overflow.
an offset past 14 hours	SELECT SWITCHOFFSET(CAST('2020-01-01 00:00 +00:00' AS datetimeoffset), '+14:01')	The timezone provided to builtin function switchoffset is invalid.
an offset not written hh:mm	SELECT TODATETIMEOFFSET(CAST('2020-01-01' AS datetime2), '8:00')	The timezone provided to builtin function todatetimeoffset is invalid.
February 30	SELECT DATETIMEOFFSETFROMPARTS(2011, 2, 30, 14, 30, 00, 500, 12, 30, 3)	Cannot construct data type datetimeoffset, some of the arguments have values which are not valid.
an hour offset past 14	SELECT DATETIMEOFFSETFROMPARTS(2011, 2, 3, 14, 30, 00, 0, 15, 0, 3)	Cannot construct data type datetimeoffset, some of the arguments have values which are not valid.
ROWS

check_rows "metadata" <<'ROWS'
COL_LENGTH in bytes: varchar, nvarchar, max, decimal	CREATE TABLE t1 (c1 varchar(40), c2 nvarchar(40), c3 varchar(max), c4 decimal(10,2)); SELECT COL_LENGTH('t1','c1') AS 'VarChar', COL_LENGTH('t1','c2') AS 'NVarChar', COL_LENGTH('t1','c3'), COL_LENGTH('dbo.t1','C4')	40|80|-1|9
COL_LENGTH of a missing table or column is NULL	SELECT COL_LENGTH('t1','nope'), COL_LENGTH('nope','c1'), COL_LENGTH(NULL,'c1')	||
COL_NAME by object and column id; NULL past the last	CREATE TABLE FactResellerSales (ProductKey int, OrderDateKey int); SELECT COL_NAME(OBJECT_ID('dbo.FactResellerSales'), 1) AS FirstColumnName, COL_NAME(OBJECT_ID('dbo.FactResellerSales'), 2) AS SecondColumnName, COL_NAME(OBJECT_ID('dbo.FactResellerSales'), 3), COL_NAME(-1, 1)	ProductKey|OrderDateKey||
TYPE_NAME and TYPE_ID	SELECT TYPE_NAME(36) AS Type36, TYPE_ID('datetime') AS Type_ID, TYPE_NAME(231), TYPE_NAME(256), TYPE_NAME(12345), TYPE_ID('nosuchtype')	uniqueidentifier|61|nvarchar|sysname||
TYPE_NAME over the columns of a table	CREATE TABLE tn (a int, b money, c datetime2); SELECT STRING_AGG(TYPE_NAME(c.user_type_id), ',') FROM sys.columns c WHERE c.object_id = OBJECT_ID('tn')	int,money,datetime2
catalogue functions given a catalogue view's own column names, unqualified	CREATE TABLE tn3 (a int, b nvarchar(10)); SELECT STRING_AGG(TYPE_NAME(user_type_id) + ':' + COL_NAME(object_id, column_id) + ':' + OBJECT_NAME(object_id) + ':' + OBJECT_SCHEMA_NAME(object_id), ',') WITHIN GROUP (ORDER BY column_id) FROM sys.columns WHERE object_id = OBJECT_ID('tn3')	int:a:tn3:dbo,nvarchar:b:tn3:dbo
SCHEMA_NAME, OBJECTPROPERTY and TYPE_ID over sys.objects, DB_NAME and DB_ID over sys.databases	CREATE TABLE tn4 (a int); SELECT SCHEMA_NAME(schema_id), OBJECTPROPERTY(object_id, 'IsUserTable'), ISNULL(TYPE_ID(name), -1), (SELECT DB_NAME(database_id) + ':' + CAST(DB_ID(name) AS varchar) FROM sys.databases WHERE name = 'master') FROM sys.objects WHERE name = 'tn4'	dbo|1|-1|master:1
DATALENGTH counts the bytes SQL Server stores: two per nvarchar character, trailing blanks too	DECLARE @n nvarchar(10) = N'中文 '; SELECT DATALENGTH(N'abc'), DATALENGTH('abc'), DATALENGTH(@n), DATALENGTH(CAST(N'x' AS nchar(3))), DATALENGTH(0x0102)	6|3|6|6|2
DATALENGTH of numbers and dates is their type's size	SELECT DATALENGTH(5), DATALENGTH(CAST(5 AS bigint)), DATALENGTH(CAST(1.5 AS decimal(10,2))), DATALENGTH(1.5), DATALENGTH(CAST('2024-01-02' AS date)), DATALENGTH(SYSDATETIME()), ISNULL(DATALENGTH(CAST(NULL AS int)), -1)	4|8|9|5|3|8|-1
IDENT_CURRENT against @@IDENTITY and SCOPE_IDENTITY through a trigger	CREATE TABLE t6(id int IDENTITY); CREATE TABLE t7(id int IDENTITY(100,1)); EXEC('CREATE TRIGGER t6ins ON t6 FOR INSERT AS BEGIN INSERT t7 DEFAULT VALUES END'); INSERT t6 DEFAULT VALUES; SELECT @@IDENTITY, SCOPE_IDENTITY(), IDENT_CURRENT('t7'), IDENT_CURRENT('t6')	100|1|100|1
IDENT_CURRENT before the first row, without an identity, of no table	CREATE TABLE t8(id int IDENTITY, v int); CREATE TABLE t9(v int); SELECT IDENT_CURRENT('t8'), IDENT_CURRENT('t9'), IDENT_CURRENT('nope'), IDENT_CURRENT('[dbo].[t7]') + 1	1|||101
DATABASEPROPERTYEX of an online database	SELECT DATABASEPROPERTYEX('master', 'Status'), DATABASEPROPERTYEX('master', 'Updateability'), DATABASEPROPERTYEX('master', 'UserAccess'), DATABASEPROPERTYEX('master', 'Recovery'), DATABASEPROPERTYEX('master', 'IsAutoShrink'), DATABASEPROPERTYEX('master', 'Version')	ONLINE|READ_WRITE|MULTI_USER|SIMPLE|0|904
DATABASEPROPERTYEX collation is the server's; NULL for no database or property	SELECT CASE WHEN DATABASEPROPERTYEX(N'master', N'Collation') = SERVERPROPERTY('Collation') THEN 'same' END, DATABASEPROPERTYEX('nodb', 'Status'), DATABASEPROPERTYEX('master', 'NoSuchProperty')	same||
ROWS

check_types <<'ROWS'
ROUND(CAST(2.675 AS decimal(10,3)), 2)	decimal|10|12|3
FLOOR(CAST(12.5 AS decimal(6,2)))	numeric|6|8|0
POWER(CAST(2 AS decimal(5,2)), 2)	numeric|38|40|2
ABS(CAST(-1 AS smallint))	int|10|4|0
DATALENGTH(CAST(1.5 AS decimal(10,2)))	int|10|4|0
DATALENGTH(CAST(N'a' AS nvarchar(max)))	bigint|19|8|0
SQRT(4)	float|15|8|
STR(1.5)	varchar|10|10|
STR(1.5, 4)	varchar|4|4|
QUOTENAME('a')	nvarchar|258|516|
UNICODE('a')	int|10|4|0
DATEFROMPARTS(2020, 1, 1)	date|10|20|0
GETDATE()	datetime|23|16|3
CAST(1 AS varchar(10))	varchar|10|10|
CONVERT(nvarchar, 5)	nvarchar|30|60|
CAST(1.5 AS decimal(5,2))	decimal|5|7|2
COL_LENGTH('t1', 'c1')	smallint|5|2|0
COL_NAME(1, 1)	nvarchar|128|256|
TYPE_NAME(56)	nvarchar|128|256|
IDENT_CURRENT('t6')	numeric|38|40|0
DATEDIFF_BIG(day, '2020-01-01', '2020-01-02')	bigint|19|8|0
JSON_ARRAY(1)	nvarchar|1073741823|2147483647|
ROWS

# HOST_NAME() and APP_NAME() are what the client named at login.
out=$(timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;UID=sa;PWD=$PW;TDS_Version=7.4;APP=dorvane-check" -b -v -d'|' 2>&1 <<<"SELECT APP_NAME(), HOST_NAME()")
expect_contains "isql: APP_NAME and HOST_NAME from the login" "$out" "dorvane-check|$(hostname)"

# SET LANGUAGE says what it set (an informational message, 5703, which tsql does not print).
out=$(rows_of <<<"SET LANGUAGE N'简体中文'")
expect_contains "isql: SET LANGUAGE says what it set" "$out" "Changed language setting to 简体中文."

# Through tsql: the language holds for the session's later batches.
out=$(tsql_run <<'SQL'
SET LANGUAGE N'简体中文'
go
SELECT DATENAME(weekday, '2024-03-05') + REPLICATE('ab', 2) + QUOTENAME('x')
go
SQL
)
expect_contains "tsql: DATENAME in the session's language, REPLICATE and QUOTENAME" "$out" "星期二abab[x]"

# Through bsqldb (DB-Library): exact decimals and the column it prints them in.
out=$(bsqldb_run <<'SQL'
SELECT ROUND(CAST(2.675 AS decimal(10,3)), 2), FLOOR(-123.45), CHARINDEX('b', 'abcabc', 3)
SQL
)
expect_contains "bsqldb: ROUND, FLOOR and CHARINDEX" "$out" "2.680"
expect_contains "bsqldb: FLOOR of a negative number" "$out" "-124"

done_checks
