#!/bin/bash
# smalldatetime is its own type: columns, variables and CAST/CONVERT round to
# the minute (29.998 s and less down, 29.999 s and more up), dates outside
# 1900-01-01 through 2079-06-06 are refused with 242, the catalogue shows
# type 58 of 4 bytes, and the wire carries DATETIMN of length 4, read by
# FreeTDS through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE sd (id int PRIMARY KEY, s smalldatetime NULL, d datetime NULL)
INSERT INTO sd VALUES (1, '2024-01-02 03:04:29.999', '2024-01-02 03:04:29.997')
INSERT INTO sd VALUES (2, '2024-01-02 03:04:29.998', NULL)
INSERT INTO sd VALUES (3, '2079-06-06 23:59:29.998', NULL)
INSERT INTO sd VALUES (4, '1900-01-01', NULL)
INSERT INTO sd VALUES (5, NULL, NULL)
INSERT INTO sd VALUES (6, '2024-12-31 23:59:30', NULL)
UPDATE sd SET s = '2000-05-08 12:35:29.999' WHERE id = 4
SQL

check_rows "rounding" <<'ROWS'
29.999 s goes up	SELECT CONVERT(varchar(30), s, 121) FROM sd WHERE id = 1	2024-01-02 03:05:00.000
29.998 s goes down	SELECT CONVERT(varchar(30), s, 121) FROM sd WHERE id = 2	2024-01-02 03:04:00.000
the last minute	SELECT CONVERT(varchar(30), s, 120) FROM sd WHERE id = 3	2079-06-06 23:59:00
rounding up crosses into the next year	SELECT CONVERT(varchar(30), s, 120) FROM sd WHERE id = 6	2025-01-01 00:00:00
an update is rounded	SELECT CONVERT(varchar(30), s, 120) FROM sd WHERE id = 4	2000-05-08 12:36:00
the reference's CAST example	SELECT CONVERT(varchar(30), CAST('2000-05-08 12:35:29.998' AS smalldatetime), 120), CONVERT(varchar(30), CAST('2000-05-08 12:35:29.999' AS smalldatetime), 120)	2000-05-08 12:35:00|2000-05-08 12:36:00
CONVERT too	SELECT CONVERT(varchar(30), CONVERT(smalldatetime, '2024-03-04 10:11:45'), 120)	2024-03-04 10:12:00
a datetime column is not rounded	SELECT CONVERT(varchar(30), d, 121) FROM sd WHERE id = 1	2024-01-02 03:04:29.997
a variable	DECLARE @s smalldatetime = '2024-01-02 03:04:59.5'; SELECT CONVERT(varchar(30), @s, 120)	2024-01-02 03:05:00
compared with a datetime	SELECT COUNT(*) FROM sd WHERE s = '2024-01-02 03:05:00' AND s > d	1
a NULL stays NULL	SELECT ISNULL(CONVERT(varchar(30), s, 120), 'null') FROM sd WHERE id = 5	null
ROWS

check_errors "range" <<'ROWS'
before 1900 in an insert	INSERT INTO sd VALUES (10, '1899-12-31 23:00', NULL)	The conversion of a varchar data type to a smalldatetime data type resulted in an out-of-range value.
after 2079-06-06 in CAST	SELECT CAST('2079-06-07' AS smalldatetime)	The conversion of a varchar data type to a smalldatetime data type resulted in an out-of-range value.
rounding past the last minute	SELECT CAST('2079-06-06 23:59:30' AS smalldatetime)	The conversion of a varchar data type to a smalldatetime data type resulted in an out-of-range value.
a variable out of range	DECLARE @s smalldatetime = '1800-01-01'; SELECT @s	The conversion of a varchar data type to a smalldatetime data type resulted in an out-of-range value.
not a date	SELECT CAST('soon' AS smalldatetime)	Conversion failed when converting date and/or time from character string.
ROWS
expect_row "range: the refused rows are not there" "SELECT COUNT(*) FROM sd WHERE id >= 10" "0"

check_rows "catalogue" <<'ROWS'
sys.columns	SELECT system_type_id, max_length FROM sys.columns WHERE object_id = OBJECT_ID('sd') AND name = 's'	58|4
its sys.types row	SELECT t.name, t.max_length, t.precision FROM sys.columns c JOIN sys.types t ON t.user_type_id = c.user_type_id WHERE c.object_id = OBJECT_ID('sd') AND c.name = 's'	smalldatetime|4|16
sp_columns as the ODBC catalogue describes it (size 16, no digits, SQL_DATETIME/SQL_CODE_TIMESTAMP, 111)	EXEC sp_columns 'sd'	master|dbo|sd|s|11|smalldatetime|16|16|0||1|||9|3||2|YES|111
sql_variant knows it	DECLARE @v sql_variant = CAST('2024-01-02 03:04' AS smalldatetime); SELECT SQL_VARIANT_PROPERTY(@v, 'BaseType')	smalldatetime
ROWS

# The column's type on the wire: DATETIMN (0x6F) of length 4; tsql shows the
# minute it was rounded to.
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT s AS wire_s FROM sd WHERE id = 1
go
exit
SQL
)
expect_contains "wire: tsql reads the rounded minute" "$out" "Jan  2 2024 03:05AM"
bytes=$(dump_bytes)
# COLMETADATA's type (6f 04) and the row: length 4, 45291 days (0xb0eb), 185 minutes (0x00b9).
expect_contains "wire: DATETIMN of length 4" "$bytes" "6f040677006900720065005f007300"
expect_contains "wire: the row's bytes" "$bytes" "d104ebb0b900"

done_checks
