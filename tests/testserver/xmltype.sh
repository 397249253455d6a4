#!/bin/bash
# The xml type: columns and variables hold well-formed XML (fragments too, as
# untyped xml does), bad XML is refused with SQL Server's XML parsing errors,
# CAST/CONVERT to and from text, the catalogue's rows, and XMLTYPE on the wire,
# through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

out=$(tsql_run <<'SQL'
CREATE TABLE doc (id int PRIMARY KEY, x xml NULL)
INSERT INTO doc VALUES (1, '<order id="7"><line qty="2">pen</line></order>')
INSERT INTO doc VALUES (2, N'first<a/>between<b>x</b>')
INSERT INTO doc VALUES (3, NULL)
INSERT INTO doc VALUES (4, '<?xml version="1.0"?><cfg/>')
go
exit
SQL
)
expect_not_contains "documents, fragments, NULL and a declaration are taken" "$out" "Msg "

expect_row "a document reads back as its text" "SELECT x FROM doc WHERE id = 1" '<order id="7"><line qty="2">pen</line></order>'
expect_row "a fragment: empty elements come back as SQL Server writes them" "SELECT x FROM doc WHERE id = 2" 'first<a />between<b>x</b>'
expect_row "the declaration is not kept" "SELECT x FROM doc WHERE id = 4" '<cfg />'
expect_row "catalogue: xml is type 241, max_length -1" \
    "SELECT t.name, c.system_type_id, c.max_length FROM sys.columns c JOIN sys.types t ON t.user_type_id = c.user_type_id WHERE c.object_id = OBJECT_ID('doc') AND c.name = 'x'" \
    "xml|241|-1"

# Bad XML: SQL Server's 94xx errors with its "XML parsing: line, character" text.
out=$(tsql_run <<'SQL'
INSERT INTO doc VALUES (10, '<ROOT>111</a></ROOT>')
go
INSERT INTO doc VALUES (11, '<a>')
go
SELECT CAST('<open><inner></open>' AS xml)
go
DECLARE @x xml = '<a'
go
UPDATE doc SET x = '<broken>' WHERE id = 1
go
SELECT COUNT(*) AS kept FROM doc WHERE id >= 10
SELECT CAST(x AS nvarchar(max)) AS still FROM doc WHERE id = 1
go
exit
SQL
)
expect_contains "end tag does not match: 9436" "$out" "Msg 9436"
expect_contains "end tag does not match: its text" "$out" "end tag does not match start tag"
expect_contains "an element left open: 9400 at the end of the input" "$out" "XML parsing: line 1, character 3, unexpected end of input"
[[ $(grep -c "Msg 9436" <<<"$out") == 2 ]] || { echo "$out" >&2; fail "9436 for INSERT and CAST"; }
ok "CAST checks as INSERT does"
[[ $(grep -c "Msg 9400" <<<"$out") == 3 ]] || { echo "$out" >&2; fail "9400 for INSERT, DECLARE and UPDATE"; }
ok "DECLARE and UPDATE check too"
expect_contains "refused rows are not stored" "$out" "kept
0"
expect_contains "a refused UPDATE keeps the value" "$out" '<order id="7"><line qty="2">pen</line></order>'

# CAST and CONVERT between xml and text; variables.
expect_row "text to xml and back" \
    "SELECT CAST(CAST(N'<p>héllo</p>' AS xml) AS nvarchar(100)), CONVERT(varchar(50), CONVERT(xml, '<q/>')), LEN(CAST(x AS nvarchar(max))) FROM doc WHERE id = 1" \
    "<p>héllo</p>|<q />|46"
expect_row "an xml variable" "DECLARE @x xml = '<a  k=\"v\"><b></b></a>'; SELECT @x" '<a k="v"><b /></a>'

# The methods with simple paths: value() typed as asked, exist() as bit, query() as xml.
rows_of >/dev/null <<'SQL'
INSERT INTO doc VALUES (5, '<order id="8"><line qty="3">ink</line><line qty="4">nib</line></order>')
SQL
expect_row "value(): attribute and element of the first node, typed" \
    "SELECT x.value('(/order/@id)[1]', 'int') + 1, x.value('(/order/line)[1]', 'varchar(10)'), x.value('/order[1]/line[2]/@qty', 'decimal(5,2)') FROM doc WHERE id = 5" \
    "9|ink|4.00"
expect_row "value(): an empty sequence is NULL; count() is one value" \
    "SELECT ISNULL(x.value('(/order/nothing)[1]', 'int'), -1), x.value('count(/order/line)', 'int') FROM doc WHERE id = 5" "-1|2"
expect_row "exist(): in WHERE and per row" \
    "SELECT COUNT(*), SUM(CASE WHEN x.exist('/order/line[@qty=\"3\"]') = 1 THEN 1 ELSE 0 END) FROM doc WHERE x.exist('/order') = 1" "2|1"
expect_row "query(): the nodes as xml" "SELECT x.query('/order/line') FROM doc WHERE id = 5" '<line qty="3">ink</line><line qty="4">nib</line>'
expect_row "methods on a variable" \
    "DECLARE @x xml = '<a><b>5</b></a>'; SELECT @x.value('(/a/b)[1]', 'int') * 2, @x.exist('/a/c')" "10|0"
out=$(tsql_run <<'SQL'
SELECT x.value('/order/line', 'varchar(10)') FROM doc WHERE id = 5
go
exit
SQL
)
expect_contains "value() without a singleton path: 2389" "$out" "Msg 2389"
expect_contains "value() without a singleton path: its text" "$out" "requires a singleton (or empty sequence)"

# xml cannot be compared, sorted or grouped (305), in a column or a variable;
# IS NULL is allowed, and a value() result compares as its type.
out=$(tsql_run <<'SQL'
SELECT id FROM doc ORDER BY x
go
SELECT x, COUNT(*) FROM doc GROUP BY x
go
SELECT id FROM doc WHERE x = '<cfg />'
go
DECLARE @a xml = '<a/>', @b xml = '<a/>'
IF @a = @b PRINT 'same'
go
SELECT COUNT(*) AS nulls FROM doc WHERE x IS NULL
SELECT COUNT(*) AS eights FROM doc WHERE x.value('(/order/@id)[1]', 'int') = 8
go
exit
SQL
)
[[ $(grep -c "Msg 305" <<<"$out") == 4 ]] || { echo "$out" >&2; fail "305 for ORDER BY, GROUP BY, WHERE and IF"; }
ok "ORDER BY, GROUP BY and comparisons of xml: 305"
expect_contains "305's text" "$out" "The XML data type cannot be compared or sorted, except when using the IS NULL operator."
expect_contains "IS NULL is allowed" "$out" "nulls
1"
expect_contains "a value() result compares" "$out" "eights
1"

# On the wire: XMLTYPE (0xF1) as FreeTDS reads it, the value in UTF-16.
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT x AS wire_x FROM doc WHERE id = 1
go
exit
SQL
)
expect_contains "tsql: the xml value" "$out" '<order id="7"><line qty="2">pen</line></order>'
grep -A12 "wire_x" "$WORK/dump.log" >"$WORK/wire.txt" || true
expect_contains "wire: the column's type is xml (241)" "$(cat "$WORK/wire.txt")" "type = 241"
out=$(TDSDUMP="$WORK/dump2.log" tsql_run <<'SQL'
SELECT CAST('<w/>' AS xml) AS cast_x, x.query('/order') AS query_x FROM doc WHERE id = 5
go
exit
SQL
)
expect_contains "tsql: CAST to xml" "$out" "<w />"
[[ $(grep -c "server's type = 241" "$WORK/dump2.log") == 2 ]] || { grep -A4 "colname" "$WORK/dump2.log" >&2; fail "CAST and query() go out as XMLTYPE"; }
ok "wire: CAST to xml and query() are XMLTYPE too"

done_checks
