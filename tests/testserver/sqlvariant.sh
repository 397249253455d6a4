#!/bin/bash
# sql_variant: columns and variables keep each value's base type, which
# SQL_VARIANT_PROPERTY reports; values compare and sort by type family first,
# as SQL Server orders sql_variant values; CAST to and from; SSVARIANTTYPE
# (0x62) on the wire, read by FreeTDS through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

# isql marks every value of a column declared wider than its 300-character
# display limit with "..." (sql_variant is 8016 bytes); the marks are dropped here.
rows_of() {
    timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;UID=sa;PWD=$PW;TDS_Version=7.4" -b -v -d'|' 2>&1 \
        | sed -e 's/\.\.\.|/|/g' -e 's/\.\.\.$//'
}

out=$(tsql_run <<'SQL'
CREATE TABLE setting (id int PRIMARY KEY, v sql_variant NULL)
INSERT INTO setting VALUES (1, 5)
INSERT INTO setting VALUES (2, CAST(5.00 AS decimal(5,2)))
INSERT INTO setting VALUES (3, 'zzz')
INSERT INTO setting VALUES (4, N'abc')
INSERT INTO setting VALUES (5, CAST(1e0 AS float))
INSERT INTO setting VALUES (6, CAST('2024-01-02 03:04:05' AS datetime))
INSERT INTO setting VALUES (7, 0x0102)
INSERT INTO setting VALUES (8, CAST('6F9619FF-8B86-D011-B42D-00C04FC964FF' AS uniqueidentifier))
INSERT INTO setting VALUES (9, NULL)
INSERT INTO setting VALUES (10, 2.5)
go
exit
SQL
)
expect_not_contains "values of ten kinds are taken" "$out" "Msg "

check_rows "base type" <<'ROWS'
int literal	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType') FROM setting WHERE id = 1	int
decimal kept with its precision and scale	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType'), SQL_VARIANT_PROPERTY(v, 'Precision'), SQL_VARIANT_PROPERTY(v, 'Scale') FROM setting WHERE id = 2	decimal|5|2
'...' is varchar	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType'), SQL_VARIANT_PROPERTY(v, 'MaxLength') FROM setting WHERE id = 3	varchar|3
N'...' is nvarchar, two bytes a character	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType'), SQL_VARIANT_PROPERTY(v, 'MaxLength') FROM setting WHERE id = 4	nvarchar|6
a numeric literal is numeric(p,s)	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType'), SQL_VARIANT_PROPERTY(v, 'Precision'), SQL_VARIANT_PROPERTY(v, 'Scale') FROM setting WHERE id = 10	numeric|2|1
float's precision	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType'), SQL_VARIANT_PROPERTY(v, 'Precision') FROM setting WHERE id = 5	float|53
datetime's precision and scale	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType'), SQL_VARIANT_PROPERTY(v, 'Precision'), SQL_VARIANT_PROPERTY(v, 'Scale') FROM setting WHERE id = 6	datetime|23|3
binary	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType'), SQL_VARIANT_PROPERTY(v, 'MaxLength') FROM setting WHERE id = 7	varbinary|2
uniqueidentifier	SELECT SQL_VARIANT_PROPERTY(v, 'BaseType') FROM setting WHERE id = 8	uniqueidentifier
catalogue: sql_variant is type 98, max_length 8016	SELECT t.name, c.system_type_id, c.max_length FROM sys.columns c JOIN sys.types t ON t.user_type_id = c.user_type_id WHERE c.object_id = OBJECT_ID('setting') AND c.name = 'v'	sql_variant|98|8016
int is 4 bytes	SELECT SQL_VARIANT_PROPERTY(v, 'MaxLength'), SQL_VARIANT_PROPERTY(v, 'Precision') FROM setting WHERE id = 1	4|10
collation of character data only	SELECT SQL_VARIANT_PROPERTY(v, 'Collation'), ISNULL(CAST(SQL_VARIANT_PROPERTY(v, 'Collation') AS nvarchar(50)), 'none') FROM setting WHERE id = 4	Chinese_PRC_CI_AS|Chinese_PRC_CI_AS
no collation for a number	SELECT ISNULL(CAST(SQL_VARIANT_PROPERTY(v, 'Collation') AS nvarchar(50)), 'none') FROM setting WHERE id = 1	none
NULL has no base type	SELECT ISNULL(CAST(SQL_VARIANT_PROPERTY(v, 'BaseType') AS nvarchar(20)), 'none') FROM setting WHERE id = 9	none
the reference's example	SELECT SQL_VARIANT_PROPERTY(CAST(CAST(46279.1 AS decimal(8,2)) AS sql_variant), 'BaseType'), SQL_VARIANT_PROPERTY(CAST(CAST(46279.1 AS decimal(8,2)) AS sql_variant), 'Precision'), SQL_VARIANT_PROPERTY(CAST(CAST(46279.1 AS decimal(8,2)) AS sql_variant), 'Scale')	decimal|8|2
nvarchar(50) column is 100 bytes	CREATE TABLE #n (c nvarchar(50)); INSERT INTO #n VALUES (N'x'); SELECT SQL_VARIANT_PROPERTY(CAST(c AS sql_variant), 'MaxLength') FROM #n	100
ROWS

check_rows "values" <<'ROWS'
values read back as their base values	SELECT v FROM setting WHERE id IN (1, 2, 3) ORDER BY id	5
decimal keeps its scale	SELECT v FROM setting WHERE id = 2	5.00
CAST back to the base type	SELECT CAST(v AS int) + 1 FROM setting WHERE id = 1	6
CAST to text	SELECT CAST(v AS varchar(10)) + '!' FROM setting WHERE id = 3	zzz!
a variable keeps the written type	DECLARE @v sql_variant = 'abc'; SELECT SQL_VARIANT_PROPERTY(@v, 'BaseType'), @v	varchar|abc
SET keeps it too	DECLARE @v sql_variant; SET @v = CAST(3 AS smallint); SELECT SQL_VARIANT_PROPERTY(@v, 'BaseType'), @v	smallint|3
ROWS

# Comparison by type family: date and time > approximate numbers > exact
# numbers > character > binary > uniqueidentifier; inside a family by value
# (an int and a decimal compare as numbers).
check_rows "order" <<'ROWS'
an int equals a decimal of the same value	SELECT COUNT(*) FROM setting WHERE v = 5	2
a float is above every exact number	SELECT COUNT(*) FROM setting WHERE v > 1000 AND id = 5	1
character data is below every number	SELECT COUNT(*) FROM setting WHERE v < 0 AND id IN (3, 4, 7, 8)	4
a datetime is above a float	SELECT COUNT(*) FROM setting WHERE v > CAST(1e300 AS float) AND id = 6	1
strings compare by the collation	SELECT COUNT(*) FROM setting WHERE v = N'ABC'	1
ROWS

ids=$(rows_of <<<"SELECT id FROM setting WHERE v IS NOT NULL ORDER BY v, id" | grep -E '^[0-9]+$' | paste -sd, -)
[[ "$ids" == "8,7,4,3,10,1,2,5,6" ]] || fail "ORDER BY follows the families: got $ids"
ok "ORDER BY: uniqueidentifier, binary, character, exact numbers by value, float, datetime"
ids=$(rows_of <<<"SELECT id FROM setting WHERE v IS NOT NULL ORDER BY v DESC, id" | grep -E '^[0-9]+$' | paste -sd, -)
[[ "$ids" == "6,5,1,2,10,3,4,7,8" ]] || fail "ORDER BY DESC: got $ids"
ok "ORDER BY DESC reverses it"

out=$(tsql_run <<'SQL'
SELECT CAST(CAST(N'x' AS nvarchar(max)) AS sql_variant)
go
exit
SQL
)
expect_contains "(max) types cannot go in: 206" "$out" "Msg 206"
expect_contains "(max) types cannot go in: its text" "$out" "Operand type clash: nvarchar(max) is incompatible with sql_variant"

# On the wire: SSVARIANTTYPE (98) as FreeTDS reads it; each value shows as its
# base type's text. tsql keeps converting a column from UTF-16 once one of its
# values was nvarchar, which garbles a later uniqueidentifier or datetime of
# the same column (the bytes sent are the same either way), so the nvarchar
# comes last.
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT id, v AS wire_v FROM setting WHERE id IN (1, 2, 6, 8) ORDER BY id
go
SELECT id, v FROM setting WHERE id = 4
go
exit
SQL
)
grep -A12 "wire_v" "$WORK/dump.log" >"$WORK/wire.txt" || true
expect_contains "wire: the column's type is sql_variant (98)" "$(cat "$WORK/wire.txt")" "type = 98"
expect_contains "tsql: the int" "$out" $'1\t5'
expect_contains "tsql: the decimal" "$out" $'2\t5.00'
expect_contains "tsql: the nvarchar" "$out" $'4\tabc'
expect_contains "tsql: the uniqueidentifier" "$out" "6F9619FF-8B86-D011-B42D-00C04FC964FF"
expect_contains "tsql: the datetime" "$out" $'6\tJan  2 2024 03:04AM'
# The packets' bytes: the uniqueidentifier is length 18, GUIDTYPE (0x24), no
# properties, the GUID in its wire order; the decimal(5,2) is length 9,
# DECIMALNTYPE (0x6A), 2 property bytes (precision 5, scale 2), sign, 500.
bytes=$(sed -n 's/^[0-9a-f]\{4\} \([0-9a-f -]\{47\}\).*/\1/p' "$WORK/dump.log" | tr -d ' \n-')
expect_contains "wire: the uniqueidentifier's bytes" "$bytes" "120000002400ff19966f868b11d0b42d00c04fc964ff"
expect_contains "wire: the decimal's bytes" "$bytes" "090000006a02050201f4010000"

# IN and BETWEEN against sql_variant compare sql_variant values (by family,
# then value); arithmetic on one and assigning one elsewhere need CONVERT.
check_rows "IN and BETWEEN" <<'ROWS'
IN: an int equals a decimal and N'abc' equals 'abc'	SELECT STRING_AGG(CAST(id AS varchar(3)), ',') WITHIN GROUP (ORDER BY id) FROM setting WHERE v IN (5, 'abc')	1,2,4
NOT IN leaves out the NULL	SELECT STRING_AGG(CAST(id AS varchar(3)), ',') WITHIN GROUP (ORDER BY id) FROM setting WHERE v NOT IN (5, 'abc')	3,5,6,7,8,10
BETWEEN takes the exact numbers only: float and datetime rank above them	SELECT STRING_AGG(CAST(id AS varchar(3)), ',') WITHIN GROUP (ORDER BY id) FROM setting WHERE v BETWEEN 2 AND 6	1,2,10
NOT BETWEEN	SELECT STRING_AGG(CAST(id AS varchar(3)), ',') WITHIN GROUP (ORDER BY id) FROM setting WHERE v NOT BETWEEN 2 AND 6	3,4,5,6,7,8
a variable on the left	DECLARE @v sql_variant = 5; SELECT CASE WHEN @v IN (1, 5) THEN 'y' ELSE 'n' END, CASE WHEN @v BETWEEN 'a' AND 'z' THEN 'y' ELSE 'n' END	y|n
a variant in the list	DECLARE @v sql_variant = N'abc'; SELECT COUNT(*) FROM setting WHERE id IN (@v, 1)	1
CONVERT first, then arithmetic and assignment work	DECLARE @v sql_variant = 4; DECLARE @i int = CAST(@v AS int) + 1; SELECT @i, CONVERT(int, @v) * 2	5|8
ROWS

check_errors "sql_variant without CONVERT" <<'ROWS'
arithmetic	SELECT v + 1 FROM setting WHERE id = 1	Operand data type sql_variant is invalid for add operator.
arithmetic, the variant on the right	DECLARE @v sql_variant = 2; SELECT 10 * @v	Operand data type sql_variant is invalid for multiply operator.
DECLARE of an int from it	DECLARE @v sql_variant = 4; DECLARE @i int = @v	Implicit conversion from data type sql_variant to int is not allowed. Use the CONVERT function to run this query.
SET of an int from it	DECLARE @v sql_variant = 'test'; DECLARE @i int = 4; SET @i = @v	Implicit conversion from data type sql_variant to int is not allowed. Use the CONVERT function to run this query.
INSERT VALUES into an int column from it	CREATE TABLE cnt (n int); DECLARE @v sql_variant = 4; INSERT INTO cnt VALUES (@v)	Implicit conversion from data type sql_variant to int is not allowed.
UPDATE of a varchar column from it	CREATE TABLE note (n varchar(10)); INSERT INTO note VALUES ('x'); DECLARE @v sql_variant = 'a'; UPDATE note SET n = @v	Implicit conversion from data type sql_variant to varchar is not allowed.
ROWS

done_checks
