#!/bin/bash
# Fixed-length types hold their full length: binary(n) columns, variables and
# CASTs are padded on the right with 0x00, char(n) and nchar(n) CASTs with
# blanks (a CAST without a length is 30 long); longer values are cut on the
# right. sys.types marks the CLR types as assembly types. Through isql (ODBC)
# and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE b (id int PRIMARY KEY, bn binary(4) NULL, vb varbinary(4) NULL)
INSERT INTO b VALUES (1, 0x01, 0x01)
INSERT INTO b VALUES (2, 0x01020304, 0x0102)
INSERT INTO b VALUES (3, NULL, NULL)
INSERT INTO b VALUES (4, 0x05, 0x05)
UPDATE b SET bn = 0x0607 WHERE id = 4
SQL

check_rows "binary" <<'ROWS'
a short value is padded to the column's length	SELECT CONVERT(varchar(20), bn, 1), DATALENGTH(bn) FROM b WHERE id = 1	0x01000000|4
a full value is kept	SELECT CONVERT(varchar(20), bn, 1), DATALENGTH(bn) FROM b WHERE id = 2	0x01020304|4
an update is padded too	SELECT CONVERT(varchar(20), bn, 1), DATALENGTH(bn) FROM b WHERE id = 4	0x06070000|4
varbinary keeps the value's own length	SELECT CONVERT(varchar(20), vb, 1), DATALENGTH(vb) FROM b WHERE id = 2	0x0102|2
NULL stays NULL	SELECT ISNULL(DATALENGTH(bn), -1) FROM b WHERE id = 3	-1
CAST pads on the right	SELECT CONVERT(varchar(20), CAST(0x01 AS binary(4)), 1), DATALENGTH(CAST(0x01 AS binary(4)))	0x01000000|4
CAST without a length is 30 long	SELECT DATALENGTH(CAST(0x0102 AS binary)), DATALENGTH(CONVERT(binary, 0x01))	30|30
text becomes its bytes, padded	SELECT CONVERT(varchar(20), CAST('ab' AS binary(4)), 1)	0x61620000
a longer value is cut on the right	SELECT CONVERT(varchar(20), CAST(0x010203 AS binary(2)), 1)	0x0102
CAST to varbinary is not padded	SELECT CONVERT(varchar(20), CAST(0x01 AS varbinary(4)), 1), DATALENGTH(CAST(0x01 AS varbinary(4)))	0x01|1
a binary(n) variable	DECLARE @b binary(3) = 0x0A; SELECT CONVERT(varchar(20), @b, 1), DATALENGTH(@b)	0x0A0000|3
ROWS

# Other types are cut or padded on the left: an integer gives its bytes, big-endian.
check_rows "integer to binary" <<'ROWS'
the reference's example	SELECT CONVERT(varchar(20), CAST(123456 AS binary(4)), 1)	0x0001E240
cut on the left	SELECT CONVERT(varchar(20), CAST(123456 AS binary(2)), 1)	0xE240
padded on the left	SELECT CONVERT(varchar(20), CAST(1 AS binary(6)), 1)	0x000000000001
varbinary takes the int's four bytes	SELECT CONVERT(varchar(20), CAST(1 AS varbinary(8)), 1)	0x00000001
a negative int	SELECT CONVERT(varchar(20), CAST(-1 AS binary(4)), 1)	0xFFFFFFFF
a smallint has two bytes	SELECT CONVERT(varchar(20), CAST(CAST(258 AS smallint) AS varbinary(8)), 1)	0x0102
a bigint column has eight	SELECT CONVERT(varchar(20), CAST(CAST(id AS bigint) AS varbinary(8)), 1) FROM b WHERE id = 2	0x0000000000000002
ROWS

check_rows "char" <<'ROWS'
CAST to char(n) pads with blanks	SELECT CAST('a' AS char(3)) + '|'	a  |
CAST to nchar(n) too	SELECT CAST(N'a' AS nchar(3)) + N'|'	a  |
CONVERT the same	SELECT CONVERT(char(5), 'xy') + '|', DATALENGTH(CONVERT(char(5), 'xy'))	xy   ||5
CAST without a length is 30 long	SELECT DATALENGTH(CAST('a' AS char)), LEN(CAST(N'a' AS nchar) + N'|')	30|31
a longer value is cut	SELECT CAST('abcd' AS char(2)) + '|'	ab|
CAST to varchar is not padded	SELECT CAST('a' AS varchar(3)) + '|'	a|
a char(n) variable	DECLARE @c char(3) = 'a'; SELECT @c + '|'	a  |
ROWS

rows_of >/dev/null <<'SQL'
CREATE TYPE dbo.phone FROM varchar(20)
SQL
check_rows "sys.types" <<'ROWS'
hierarchyid is a CLR type	SELECT is_assembly_type, is_user_defined FROM sys.types WHERE name = 'hierarchyid'	1|0
the other system types are not	SELECT COUNT(*) FROM sys.types WHERE is_assembly_type = 1 AND system_type_id <> 240	0
nor an alias type	SELECT is_assembly_type, is_user_defined FROM sys.types WHERE name = 'phone'	0|1
ROWS

# tsql shows the padded bytes as the server sends them.
out=$(tsql_run <<'SQL'
SELECT CAST(0x01 AS binary(4)) AS padded, bn FROM b WHERE id = 4
go
exit
SQL
)
expect_contains "tsql: the padded bytes" "$out" $'01000000\t06070000'

done_checks
