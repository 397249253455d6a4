#!/bin/bash
# hierarchyid: columns and variables hold the packed path; GetRoot, Parse,
# CAST from and to text, ToString, GetLevel, GetAncestor, GetDescendant and
# IsDescendantOf as the reference's examples give them; ORDER BY is depth
# first; bad text is refused with 6522; UDTTYPE (0xF0) on the wire, read by
# FreeTDS through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

out=$(tsql_run <<'SQL'
CREATE TABLE org (id int PRIMARY KEY, node hierarchyid NULL, name nvarchar(20))
INSERT INTO org VALUES (1, hierarchyid::GetRoot(), N'root')
INSERT INTO org VALUES (2, '/1/', N'a')
INSERT INTO org VALUES (3, '/1/1/', N'a1')
INSERT INTO org VALUES (4, '/2/', N'b')
INSERT INTO org VALUES (5, CAST('/1/2/' AS hierarchyid), N'a2')
INSERT INTO org VALUES (6, hierarchyid::Parse('/1.1/'), N'between')
INSERT INTO org VALUES (7, NULL, N'none')
go
exit
SQL
)
expect_not_contains "rows with paths are taken" "$out" "Msg "

check_rows "text" <<'ROWS'
the reference's Parse example	DECLARE @h hierarchyid = 0x5ADE; SELECT @h.ToString(), hierarchyid::Parse('/1/1/3/').ToString()	/1/1/3/|/1/1/3/
root is /	SELECT hierarchyid::GetRoot().ToString()	/
a column's path	SELECT node.ToString() FROM org WHERE id = 5	/1/2/
CAST to nvarchar gives the path	SELECT CAST(node AS nvarchar(4000)) FROM org WHERE id = 3	/1/1/
CAST to varchar too	SELECT CAST(node AS varchar(20)) + '!' FROM org WHERE id = 6	/1.1/!
a dotted negative label	SELECT CAST('/1/-2.18/' AS hierarchyid).ToString()	/1/-2.18/
NULL stays NULL	SELECT ISNULL(node.ToString(), 'null') FROM org WHERE id = 7	null
ROWS

check_rows "methods" <<'ROWS'
level of the root	DECLARE @h hierarchyid = hierarchyid::GetRoot(); SELECT @h.GetLevel()	0
level of a column	SELECT node.GetLevel() FROM org WHERE id = 5	2
a dotted label is one level	SELECT node.GetLevel() FROM org WHERE id = 6	1
parent	SELECT node.GetAncestor(1).ToString() FROM org WHERE id = 5	/1/
GetAncestor(0) is the node	SELECT node.GetAncestor(0).ToString() FROM org WHERE id = 5	/1/2/
beyond the root is NULL	SELECT ISNULL(node.GetAncestor(3).ToString(), 'null') FROM org WHERE id = 5	null
first child	SELECT CAST('/1/' AS hierarchyid).GetDescendant(NULL, NULL).ToString()	/1/1/
after a child	SELECT CAST('/1/' AS hierarchyid).GetDescendant('/1/1/', NULL).ToString()	/1/2/
before a child	SELECT CAST('/1/' AS hierarchyid).GetDescendant(NULL, '/1/1/').ToString()	/1/0/
the reference's in-between example	DECLARE @m hierarchyid = '/1/', @c1 hierarchyid = '/1/1/', @c2 hierarchyid = '/1/2/'; SELECT @m.GetDescendant(@c1, @c2).ToString()	/1/1.1/
with room between	SELECT CAST('/' AS hierarchyid).GetDescendant('/1/', '/5/').ToString()	/2/
between a dotted label and the next	SELECT hierarchyid::GetRoot().GetDescendant('/1.1/', '/2/').ToString()	/1.2/
child of the root	SELECT hierarchyid::GetRoot().GetDescendant(NULL, NULL).ToString()	/1/
NULL parent gives NULL	DECLARE @h hierarchyid; SELECT ISNULL(@h.GetDescendant(NULL, NULL).ToString(), 'null')	null
descendant	SELECT node.IsDescendantOf('/1/') FROM org WHERE id = 3	1
a node is its own descendant	SELECT node.IsDescendantOf(node) FROM org WHERE id = 3	1
not a descendant	SELECT node.IsDescendantOf('/1/') FROM org WHERE id = 4	0
everything is under the root	SELECT COUNT(*) FROM org WHERE node.IsDescendantOf(hierarchyid::GetRoot()) = 1	6
children of /1/ by their parent	SELECT COUNT(*) FROM org WHERE node.GetAncestor(1) = CAST('/1/' AS hierarchyid)	2
a column compared with path text	SELECT id FROM org WHERE node = '/1/1/'	3
a method's result compared with path text	SELECT COUNT(*) FROM org WHERE node.GetAncestor(1) = '/1/'	2
text on the left, ordered as paths	SELECT COUNT(*) FROM org WHERE '/1/' < node	4
a variable compared with bytes	DECLARE @h hierarchyid = '/1/2/'; SELECT CASE WHEN @h = 0x5B40 THEN 'same' ELSE 'differs' END	same
catalogue: hierarchyid is type 240, max_length 892	SELECT t.name, c.system_type_id, c.max_length FROM sys.columns c JOIN sys.types t ON t.user_type_id = c.user_type_id WHERE c.object_id = OBJECT_ID('org') AND c.name = 'node'	hierarchyid|240|892
ROWS

# Depth first: a parent before its children, /1.1/ between /1/'s subtree and /2/.
ids=$(rows_of <<<"SELECT id FROM org WHERE node IS NOT NULL ORDER BY node" | grep -E '^[0-9]+$' | paste -sd, -)
[[ "$ids" == "1,2,3,5,6,4" ]] || fail "ORDER BY is depth first: got $ids"
ok "ORDER BY is depth first"
ids=$(rows_of <<<"SELECT id FROM org WHERE node > CAST('/1/1/' AS hierarchyid) ORDER BY node DESC" | grep -E '^[0-9]+$' | paste -sd, -)
[[ "$ids" == "4,6,5" ]] || fail "comparison and DESC: got $ids"
ok "comparison follows the same order"

# Bad text: 6522 wrapping the type's own exception (24001), also for a column.
for bad in "1/" "/01/" "/1/ " "/a/"; do
    out=$(tsql_run <<SQL
SELECT CAST('$bad' AS hierarchyid)
go
exit
SQL
)
    expect_contains "'$bad' refused: 6522" "$out" "Msg 6522"
    expect_contains "'$bad' refused: the parse failure" "$out" "24001: SqlHierarchyId.Parse failed because the input string '$bad' is not a valid string representation of a SqlHierarchyId node."
done
out=$(tsql_run <<'SQL'
INSERT INTO org VALUES (8, 'x', N'bad')
go
SELECT COUNT(*) AS n FROM org
go
SELECT CAST('/1/' AS hierarchyid).GetDescendant('/2/1/', NULL)
go
SELECT CAST('/' AS hierarchyid).GetDescendant('/2/', '/1/')
go
SELECT CAST('/1/' AS hierarchyid).GetDescendant(NULL, '/1/1/1/') AS deep
go
exit
SQL
)
expect_contains "a bad path into a column: 6522" "$out" "Msg 6522"
expect_contains "nothing was inserted" "$out" $'n\n7'
expect_contains "GetDescendant refuses a child of another parent" "$out" "24009"
[[ $(grep -c "24009" <<<"$out") -eq 2 ]] || fail "GetDescendant refuses a grandchild as child2: $out"
ok "GetDescendant refuses a grandchild as child2"
expect_contains "GetDescendant refuses child1 >= child2" "$out" "24010"

# On the wire: UDTTYPE (240) with the CLR type's name; the value is its bytes
# in PLP chunks. FreeTDS reads the row but converts no UDT to text (tsql shows
# an empty cell, isql refuses the column), so the bytes are checked in the
# packets and through a CAST to varbinary.
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT node AS wire_h FROM org WHERE id = 3
go
exit
SQL
)
expect_contains "wire: the column is a UDT (240)" "$(grep -A12 wire_h "$WORK/dump.log")" "type = 240"
expect_contains "tsql reads the row" "$out" "(1 row affected)"
bytes=$(dump_bytes)
# "hierarchyid" in UTF-16 after the schema "sys", then the assembly-qualified name.
expect_contains "wire: schema and type name" "$bytes" "03730079007300""0b680069006500720061007200630068007900690064"
expect_contains "wire: the value /1/1/ in one PLP chunk" "$bytes" "d1""0200000000000000""02000000""5ac0""00000000"
expect_row "the bytes through varbinary" "SELECT CAST(node AS varbinary(892)) FROM org WHERE id = 5" "5b40"
expect_row "varbinary back to a path" "SELECT CAST(0x5B40 AS hierarchyid).ToString()" "/1/2/"

# GetReparentedValue as the reference's examples move nodes; TRY_CAST of text that is no path.
check_rows "GetReparentedValue and TRY_CAST" <<'ROWS'
the reference's /1/4/2/3/ moved from /1/4/ to /2/1/	DECLARE @h hierarchyid = '/1/4/2/3/'; SELECT @h.GetReparentedValue('/1/4/', '/2/1/').ToString()	/2/1/2/3/
a node moved from /1/ to /3/	SELECT node.GetReparentedValue(hierarchyid::Parse('/1/'), hierarchyid::Parse('/3/')).ToString() FROM org WHERE id = 3	/3/1/
the old root itself becomes the new root	DECLARE @o hierarchyid = '/1/'; SELECT @o.GetReparentedValue(@o, hierarchyid::GetRoot()).ToString()	/
a new root at another depth	SELECT node.GetReparentedValue('/1/', '/2/5/').ToString(), node.GetReparentedValue('/1/', '/2/5/').GetLevel() FROM org WHERE id = 5	/2/5/2/|3
NULL in, NULL out	SELECT ISNULL(node.GetReparentedValue(NULL, '/2/').ToString(), 'null') FROM org WHERE id = 3	null
TRY_CAST of bad text is NULL, of a path the path	DECLARE @b hierarchyid = TRY_CAST('1/2' AS hierarchyid), @g hierarchyid = TRY_CAST('/1/2/' AS hierarchyid); SELECT ISNULL(@b.ToString(), 'null'), @g.ToString()	null|/1/2/
ROWS
check_errors "GetReparentedValue refused" <<'ROWS'
an old root that is no ancestor	SELECT node.GetReparentedValue('/2/', '/3/') FROM org WHERE id = 3	GetReparentedValue
ROWS
out=$(rows_of <<<"SELECT CAST('1/2' AS hierarchyid)")
expect_contains "CAST of bad text still fails" "$out" "24001"

done_checks
