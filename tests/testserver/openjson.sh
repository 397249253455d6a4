#!/bin/bash
# OPENJSON with the default schema (key, value, type) and a path in lax or
# strict mode, over a variable and over a column with CROSS/OUTER APPLY, and
# SQL Server's errors for text that is not JSON or a path that finds nothing;
# through isql (ODBC) and tsql. Cases follow the reference's examples.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE doc (id INT PRIMARY KEY, body NVARCHAR(MAX) NULL)
INSERT INTO doc VALUES (1, N'{"a":1,"b":[10,20,30]}'), (2, N'[]'), (3, NULL), (4, N'{"b":[5]}')
SQL

# The reference's example of every type: one row per member, duplicate keys kept.
all='DECLARE @json NVARCHAR(2048) = N'"'"'{"String_value": "John", "DoublePrecisionFloatingPoint_value": 45, "DoublePrecisionFloatingPoint_value": 2.3456, "BooleanTrue_value": true, "BooleanFalse_value": false, "Null_value": null, "Array_value": ["a","r","r","a","y"], "Object_value": {"obj":"ect"}}'"'"'; SELECT * FROM OPENJSON(@json)'
out=$(rows_of <<<"$all")
for row in 'String_value|John|1' 'DoublePrecisionFloatingPoint_value|45|2' 'DoublePrecisionFloatingPoint_value|2.3456|2' \
           'BooleanTrue_value|true|3' 'BooleanFalse_value|false|3' 'Null_value||0' 'Array_value|["a","r","r","a","y"]|4' \
           'Object_value|{"obj":"ect"}|5'; do
    grep -qxF -- "$row" <<<"$out" || { echo "$out" >&2; fail "default schema: the row $row"; }
    ok "default schema: $row"
done

check_rows openjson <<'TABLE'
path: an array's elements keyed by position	DECLARE @json NVARCHAR(4000) = N'{"path": {"to": {"sub-object": ["en-GB", "en-UK", "de-AT", "es-AR", "sr-Cyrl"]}}}'; SELECT [key], value FROM OPENJSON(@json, '$.path.to."sub-object"') WHERE [key] = '3'	3|es-AR
path: five elements	DECLARE @json NVARCHAR(4000) = N'{"path": {"to": {"sub-object": ["en-GB", "en-UK", "de-AT", "es-AR", "sr-Cyrl"]}}}'; SELECT COUNT(*) FROM OPENJSON(@json, '$.path.to."sub-object"')	5
path: lax finds nothing, no rows	SELECT COUNT(*) FROM OPENJSON(N'{"a":1}', 'lax $.missing')	0
path: lax over a scalar, no rows	SELECT COUNT(*) FROM OPENJSON(N'{"a":1}', '$.a')	0
array: the top level	SELECT STRING_AGG([key] + '=' + value, ',') WITHIN GROUP (ORDER BY [key]) FROM OPENJSON(N'[1,"x",null]') WHERE type <> 0	0=1,1=x
array: nested array's value is its text	SELECT value, type FROM OPENJSON(N'{"b":[10,20,30]}')	[10,20,30]|4
NULL: no rows	SELECT COUNT(*) FROM OPENJSON(NULL)	0
apply: one row per member	SELECT COUNT(*) FROM doc CROSS APPLY OPENJSON(body)	3
apply: with a path	SELECT d.id, j.value FROM doc d CROSS APPLY OPENJSON(d.body, '$.b') j WHERE j.[key] = '2'	1|30
apply: a sum per document	SELECT d.id, SUM(CAST(j.value AS INT)) FROM doc d CROSS APPLY OPENJSON(d.body, '$.b') j GROUP BY d.id ORDER BY d.id DESC	4|5
outer apply: an empty array keeps its row	SELECT d.id, j.[key] FROM doc d OUTER APPLY OPENJSON(d.body) j WHERE d.id = 2	2|
outer apply: every document	SELECT COUNT(*) FROM doc d OUTER APPLY OPENJSON(d.body) j	5
TABLE

# Column types on the wire: key nvarchar(4000), value nvarchar(max), type int.
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT [key] AS wire_key, type AS wire_type FROM OPENJSON(N'{"a":1}')
go
exit
SQL
)
wire=$(cat "$WORK/dump.log")
grep -A8 "wire_key" <<<"$wire" | grep -q "server's type = 231" || { grep -A8 wire_key <<<"$wire" >&2; fail "types: key is nvarchar"; }
ok "types: key is nvarchar"
grep -A8 "wire_type" <<<"$wire" | grep -qE "server's type = (56|38)" || { grep -A8 wire_type <<<"$wire" >&2; fail "types: type is int"; }
ok "types: type is int"

# SQL Server's errors.
out=$(tsql_run <<'SQL'
SELECT * FROM OPENJSON(N'{"a":')
go
SELECT * FROM OPENJSON(N'{"a":1}', 'strict $.missing')
go
SELECT * FROM OPENJSON(N'{"a":1}', 'strict $.a')
go
SELECT * FROM OPENJSON(N'{"a":1}', 'a')
go
SELECT 'still running' AS tail
go
exit
SQL
)
expect_contains "errors: not JSON (13609)" "$out" "JSON text is not properly formatted."
expect_contains "errors: strict path not found (13608)" "$out" "Property cannot be found on the specified JSON path."
expect_contains "errors: strict path at a scalar (13611)" "$out" "Value referenced by JSON path is not an array or object and cannot be opened with OPENJSON."
expect_contains "errors: a path without \$ (13607)" "$out" "JSON path is not properly formatted."
expect_contains "errors: the connection goes on" "$out" "still running"

stop_server
done_checks
