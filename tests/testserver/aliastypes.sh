#!/bin/bash
# Alias types (CREATE TYPE ... FROM, DROP TYPE): the catalogue rows, the base
# type in columns, variables and on the wire, nullability taken from the type,
# sp_help, and SQL Server's errors, through isql (ODBC), tsql and bsqldb.
source "$(dirname "$0")/lib/common.sh"

start_server

out=$(tsql_run <<'SQL'
CREATE TYPE dbo.phone FROM varchar(20) NOT NULL
CREATE TYPE ssn FROM char(11) NULL
CREATE TYPE price FROM decimal(9,2)
CREATE TYPE label FROM nvarchar(30)
go
CREATE TABLE cust (id int PRIMARY KEY, tel phone, s ssn, p dbo.price NULL, l label NOT NULL)
INSERT INTO cust VALUES (1, '555-0100', '123-45-6789', 12.5, N'first')
go
exit
SQL
)
expect_not_contains "tsql: types made and used without errors" "$out" "Msg "

# sys.types: one row per alias with its base type's system_type_id and its own sizes.
expect_row "sys.types: varchar alias, NOT NULL" \
    "SELECT t.name, system_type_id, max_length, precision, scale, is_nullable, is_user_defined, CASE WHEN user_type_id > 256 THEN 'user' END, s.name FROM sys.types t JOIN sys.schemas s ON s.schema_id = t.schema_id WHERE t.name = 'phone'" \
    "phone|167|20|0|0|0|1|user|dbo"
expect_row "sys.types: decimal alias keeps precision and scale" \
    "SELECT system_type_id, max_length, precision, scale, is_nullable FROM sys.types WHERE name = 'price'" \
    "106|5|9|2|1"
expect_row "sys.types: nvarchar alias counts bytes" \
    "SELECT system_type_id, max_length FROM sys.types WHERE name = 'label'" "231|60"
expect_row "sys.types: four user types" \
    "SELECT SUM(is_user_defined) FROM sys.types" "4"
expect_row "sys.columns: the column's user_type_id is the alias's, system_type_id the base's" \
    "SELECT c.system_type_id, CASE WHEN c.user_type_id = t.user_type_id THEN 'alias' END, c.max_length FROM sys.columns c JOIN sys.types t ON t.name = 'phone' WHERE c.object_id = OBJECT_ID('cust') AND c.name = 'tel'" \
    "167|alias|20"
expect_row "sys.columns: a system-typed column keeps its own type" \
    "SELECT user_type_id FROM sys.columns WHERE object_id = OBJECT_ID('cust') AND name = 'id'" "56"

# The column takes the type's nullability unless it says otherwise.
expect_row "nullability: from the type, or the column's own" \
    "SELECT name, is_nullable FROM sys.columns WHERE object_id = OBJECT_ID('cust') AND name IN ('tel', 's', 'p', 'l') ORDER BY column_id" \
    "tel|0"
out=$(tsql_run <<'SQL'
INSERT INTO cust (id, s, p, l) VALUES (2, '000-00-0000', 1, N'x')
go
INSERT INTO cust (id, tel, l) VALUES (3, '555-0101', N'y')
SELECT COUNT(*) AS n3 FROM cust WHERE id = 3 AND s IS NULL AND p IS NULL
go
exit
SQL
)
expect_contains "NOT NULL type: a NULL is refused" "$out" "Msg 515"
expect_contains "NOT NULL type: names the column" "$out" "Cannot insert the value NULL into column 'tel'"
expect_contains "NULL type: NULLs taken" "$out" "n3
1"

# The base type holds: length, scale and the text of the values.
out=$(tsql_run <<'SQL'
INSERT INTO cust VALUES (4, '555-0100-0100-0100-0100', NULL, NULL, N'z')
go
SELECT tel, p FROM cust WHERE id = 1
go
exit
SQL
)
expect_contains "length of the base type: too long is refused" "$out" "String or binary data would be truncated"
expect_contains "values as the base type gives them" "$out" "555-0100	12.50"

# Variables and CAST take the alias too; the batch is checked before the type is looked up.
expect_row "DECLARE and CAST with alias types" \
    "DECLARE @t phone = '555-0199', @p dbo.price = 3.14159; SELECT @t, @p, CAST(2.5 AS price), LEN(CAST('abcdefghijklmnop' AS ssn))" \
    "555-0199|3.14|2.50|11"
expect_row "a variable of an alias type cuts to the base type's length" \
    "DECLARE @t phone = '123456789012345678901234567890'; SELECT LEN(@t), @t" "20|12345678901234567890"

# On the wire the column is its base type (varchar, 0xA7 with length 20).
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT tel AS wire_tel FROM cust WHERE id = 1
go
exit
SQL
)
expect_contains "tsql: the alias column's value" "$out" "555-0100"
grep -A12 "wire_tel" "$WORK/dump.log" >"$WORK/wire.txt" || true
expect_contains "wire: the column's type is varchar (0xA7)" "$(cat "$WORK/wire.txt")" "server's type = 167 (xvarchar)"
expect_contains "wire: the column's size is 20" "$(cat "$WORK/wire.txt")" "(20 on server)"

# sp_help shows the alias as the column's type, and describes the type itself.
out=$(bsqldb_run <<'SQL'
EXEC sp_help 'cust'
go
EXEC sp_help 'phone'
go
SQL
)
expect_contains "sp_help table: the column's Type is the alias" "$out" "phone"
grep -E '^tel +phone +no +20 ' <<<"$out" >/dev/null || { echo "$out" >&2; fail "sp_help: row for tel"; }
ok "sp_help table: tel phone no 20"
grep -E '^phone +varchar +20 +20 +NULL +no +none +none' <<<"$out" >/dev/null || { echo "$out" >&2; fail "sp_help type row"; }
ok "sp_help type: storage type, length, precision, nullable"

# SQL Server's errors.
out=$(tsql_run <<'SQL'
CREATE TYPE phone FROM int
go
CREATE TYPE int FROM bigint
go
CREATE TYPE bad FROM nosuchtype
go
CREATE TYPE nosuch.t FROM int
go
CREATE TABLE nope (c nosuchtype)
go
DECLARE @v nosuchtype
go
DROP TYPE phone
go
DROP TYPE nothere
go
DROP TYPE IF EXISTS nothere
SELECT 'after if exists' AS done
go
exit
SQL
)
expect_contains "a second type of the same name" "$out" "The type 'phone' already exists, or you do not have permission to create it."
expect_contains "a system type's name" "$out" "The type 'int' already exists"
expect_contains "an unknown base type" "$out" "Cannot find data type nosuchtype."
expect_contains "an unknown schema" "$out" "The specified schema name \"nosuch\" either does not exist"
[[ $(grep -c "Cannot find data type nosuchtype" <<<"$out") == 3 ]] || { echo "$out" >&2; fail "2715 for the type, the column and the variable"; }
ok "unknown type in CREATE TYPE, CREATE TABLE and DECLARE: 2715 each"
expect_contains "a type in use is kept" "$out" "Cannot drop type 'phone' because it is being referenced by object 'cust'. There may be other objects that reference this type."
expect_contains "a type that is not there" "$out" "Could not find the type 'nothere'. Either it does not exist or you do not have the necessary permission."
expect_contains "DROP TYPE IF EXISTS: no error" "$out" "after if exists"
expect_row "the refused drop left the type" "SELECT COUNT(*) FROM sys.types WHERE name = 'phone'" "1"

# Types in another schema: found qualified, not by their bare name (sa's default schema is dbo).
out=$(tsql_run <<'SQL'
CREATE SCHEMA sales
go
CREATE TYPE sales.code FROM nchar(4) NOT NULL
go
CREATE TABLE coded (c sales.code)
INSERT INTO coded VALUES (N'AB')
SELECT '[' + c + ']' AS padded FROM coded
go
CREATE TABLE uncoded (c code)
go
exit
SQL
)
expect_contains "schema-qualified alias: nchar pads" "$out" "[AB  ]"
expect_contains "bare name does not reach another schema" "$out" "Cannot find data type code."
expect_row "sys.types: the type's schema" "SELECT s.name FROM sys.types t JOIN sys.schemas s ON s.schema_id = t.schema_id WHERE t.name = 'code'" "sales"

# Dropping the tables frees the types; a dropped type is gone from sys.types and from use.
out=$(tsql_run <<'SQL'
DROP TABLE cust
DROP TYPE phone
DROP TYPE dbo.ssn
go
CREATE TABLE again (c phone)
go
exit
SQL
)
expect_not_contains "drop after the table is gone" "$out" "Msg 3732"
expect_contains "a dropped type cannot be used" "$out" "Cannot find data type phone."
expect_row "sys.types after the drops" "SELECT COUNT(*) FROM sys.types WHERE is_user_defined = 1" "3"

# A type survives a restart (it is in the database file).
stop_server
start_server
expect_row "after a restart the type is still there and usable" \
    "CREATE TABLE later (x price); INSERT INTO later VALUES (7); SELECT name, is_nullable FROM sys.types WHERE name = 'price'" "price|1"

done_checks
