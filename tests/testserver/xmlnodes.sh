#!/bin/bash
# xml's nodes() method: a variable's or a column's nodes as rows (FROM, CROSS
# APPLY, OUTER APPLY, nested), each row's context node read by value(),
# query() and exist() with paths relative to it, rows in document order; the
# column refused where it is used as a plain value. Through isql (ODBC).
source "$(dirname "$0")/lib/common.sh"

start_server

X="DECLARE @x xml = '<Root><row id=\"1\"><name>Larry</name><oflw>some text</oflw></row><row id=\"2\"><name>moe</name></row><row id=\"3\" /></Root>';"

rows_of >/dev/null <<'SQL'
CREATE TABLE d (id int PRIMARY KEY, x xml NULL)
INSERT INTO d VALUES (1, '<a><b k="p">10</b><b k="q">20</b></a>'), (2, '<a><b k="r">30</b></a>'), (3, '<a/>'), (4, NULL)
SQL

check_rows "nodes() of a variable" <<TAB
query('.') is the node's subtree	$X SELECT T.c.query('.') FROM @x.nodes('/Root/row') T(c)	<row id="1"><name>Larry</name><oflw>some text</oflw></row>
an empty element's row	$X SELECT T.c.query('.') FROM @x.nodes('/Root/row') AS T(c) WHERE T.c.value('@id', 'int') = 3	<row id="3" />
rows in document order	$X SELECT STRING_AGG(T.c.value('@id', 'varchar(5)'), ',') FROM @x.nodes('/Root/row') T(c)	1,2,3
a relative child's text	$X SELECT T.c.value('(name/text())[1]', 'varchar(10)') FROM @x.nodes('/Root/row') T(c) WHERE T.c.value('(@id)[1]', 'int') = 2	moe
'.' is the node's string value	$X SELECT T.c.value('.', 'varchar(30)') FROM @x.nodes('/Root/row') T(c) WHERE T.c.value('@id', 'int') = 1	Larrysome text
'..' reaches the parent	$X SELECT COUNT(*), MIN(T.c.value('count(..)', 'int')), MIN(CAST(T.c.query('..') AS nvarchar(max))) FROM @x.nodes('/Root/row') T(c)	3|1|<Root><row id="1"><name>Larry</name><oflw>some text</oflw></row><row id="2"><name>moe</name></row><row id="3" /></Root>
exist() on each node	$X SELECT COUNT(*) FROM @x.nodes('/Root/row') T(c) WHERE T.c.exist('name') = 1	2
a relative path in nodes()	$X SELECT COUNT(*) FROM @x.nodes('Root/row/name') T(c)	2
no node: no rows	$X SELECT COUNT(*) FROM @x.nodes('/Root/none') T(c)	0
NULL xml: no rows	DECLARE @n xml; SELECT COUNT(*) FROM @n.nodes('/a') T(c)	0
nested nodes() under CROSS APPLY	$X SELECT STRING_AGG(R.r.value('@id', 'varchar(3)') + '=' + N.n.value('.', 'varchar(10)'), ',') FROM @x.nodes('/Root/row') R(r) CROSS APPLY R.r.nodes('name') N(n)	1=Larry,2=moe
TAB

check_rows "nodes() of a column" <<'TAB'
CROSS APPLY: rows per node, in order	SELECT STRING_AGG(CAST(d.id AS varchar(3)) + ':' + T.c.value('@k', 'varchar(3)') + '=' + T.c.value('.', 'varchar(5)'), ',') FROM d CROSS APPLY d.x.nodes('/a/b') AS T(c)	1:p=10,1:q=20,2:r=30
OUTER APPLY keeps rows without nodes	SELECT COUNT(*), COUNT(T.c.value('.', 'int')), SUM(T.c.value('.', 'int')) FROM d OUTER APPLY d.x.nodes('/a/b') T(c)	5|3|60
IS NULL finds the rows without nodes	SELECT STRING_AGG(CAST(d.id AS varchar(3)), ',') FROM d OUTER APPLY d.x.nodes('/a/b') T(c) WHERE T.c IS NULL	3,4
a node's query() and exist() per row	SELECT CAST(T.c.query('.') AS nvarchar(100)), T.c.exist('@k') FROM d CROSS APPLY d.x.nodes('/a/b[@k="r"]') T(c)	<b k="r">30</b>|1
INSERT ... SELECT from the nodes of every row	CREATE TABLE kv (k varchar(5), v int); INSERT INTO kv SELECT T.c.value('@k', 'varchar(5)'), T.c.value('.', 'int') FROM d CROSS APPLY d.x.nodes('/a/b') AS T(c); SELECT COUNT(*), SUM(v), MIN(k) FROM kv	3|60|p
attribute nodes: '.' is the value	SELECT STRING_AGG(T.c.value('.', 'varchar(3)'), ',') FROM d CROSS APPLY d.x.nodes('/a/b/@k') T(c)	p,q,r
TAB

check_errors "nodes() refused" <<TAB
its column as a value	$X SELECT T.c FROM @x.nodes('/Root/row') T(c)	The column 'c' that was returned from the nodes() method cannot be used directly. It can only be used with one of the four XML data type methods, exist(), nodes(), query(), and value(), or in IS NULL and IS NOT NULL checks.
its column compared	SELECT COUNT(*) FROM d CROSS APPLY d.x.nodes('/a/b') T(c) WHERE T.c = 1	returned from the nodes() method cannot be used directly
in SELECT *	$X SELECT * FROM @x.nodes('/Root/row') T(c)	The column 'c' that was returned from the nodes() method cannot be used directly.
in SELECT T.*	SELECT T.* FROM d CROSS APPLY d.x.nodes('/a/b') T(c)	returned from the nodes() method cannot be used directly
value() on it without a singleton	$X SELECT T.c.value('name', 'varchar(10)') FROM @x.nodes('/Root/row') T(c)	'value()' requires a singleton (or empty sequence)
TAB

# A node's query() goes out as xml (XMLTYPE, 241), read by tsql.
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT T.c.query('.') AS node_x FROM d CROSS APPLY d.x.nodes('/a/b[@k="q"]') T(c)
go
exit
SQL
)
expect_contains "tsql: the node's subtree" "$out" '<b k="q">20</b>'
[[ $(grep -c "server's type = 241" "$WORK/dump.log") == 1 ]] || { grep -A4 "colname" "$WORK/dump.log" >&2; fail "query() of a node is XMLTYPE"; }
ok "wire: query() of a node is XMLTYPE"

done_checks
