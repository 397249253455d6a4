#!/bin/bash
# xml's modify(): XML DML (insert into / as first / as last / before / after,
# delete, replace value of) on a variable with SET @x.modify(...) and on a
# column with UPDATE ... SET col.modify(...); the static errors for targets
# that are not single nodes, and modify() refused in a query. Through isql (ODBC).
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE d (id int PRIMARY KEY, x xml NULL)
INSERT INTO d VALUES (1, '<a><b>1</b></a>'), (2, '<a><b>2</b></a>'), (3, NULL)
SQL

F="DECLARE @d xml = '<Root><ProductDescription ProductID=\"1\" ProductName=\"Road Bike\"><Features></Features></ProductDescription></Root>';"
L="DECLARE @d xml = '<Root><Location LocationID=\"10\" LaborHours=\"1.1\" MachineHours=\".2\" >Manufacturing steps are described here.<step>Manufacturing step 1 at this work center</step><step>Manufacturing step 2 at this work center</step></Location></Root>';"

check_rows "modify() of a variable" <<TAB
insert into, as first, as last, after	$F SET @d.modify('insert <Maintenance>3 year parts and labor extended maintenance is available</Maintenance> into (/Root/ProductDescription/Features)[1]'); SET @d.modify('insert <Warranty>1 year parts and labor</Warranty> as first into (/Root/ProductDescription/Features)[1]'); SET @d.modify('insert <Material>Aluminium</Material> as last into (/Root/ProductDescription/Features)[1]'); SET @d.modify('insert <BikeFrame>Strong long lasting</BikeFrame> after (/Root/ProductDescription/Features/Material)[1]'); SELECT @d.query('/Root/ProductDescription/Features'), @d.value('count(/Root/ProductDescription/*)', 'int')	<Features><Warranty>1 year parts and labor</Warranty><Maintenance>3 year parts and labor extended maintenance is available</Maintenance><Material>Aluminium</Material><BikeFrame>Strong long lasting</BikeFrame></Features>|1
insert before, keeping the order of several	DECLARE @d xml = '<a><z/></a>'; SET @d.modify('insert (<x/>, <y/>) before (/a/z)[1]'); SELECT @d	<a><x /><y /><z /></a>
insert text	DECLARE @d xml = '<a><b/></a>'; SET @d.modify('insert "hi" as first into (/a)[1]'); SELECT @d	<a>hi<b /></a>
replace value of a text node and an attribute	$L SET @d.modify('replace value of (/Root/Location/step[1]/text())[1] with "new text describing the manu step"'); SET @d.modify('replace value of (/Root/Location/@LaborHours)[1] with "100.0"'); SELECT @d	<Root><Location LocationID="10" LaborHours="100.0" MachineHours=".2">Manufacturing steps are described here.<step>new text describing the manu step</step><step>Manufacturing step 2 at this work center</step></Location></Root>
delete an attribute, an element, text	$L SET @d.modify('delete /Root/Location/@MachineHours'); SET @d.modify('delete /Root/Location/step[2]'); SET @d.modify('delete /Root/Location/text()'); SELECT @d	<Root><Location LocationID="10" LaborHours="1.1"><step>Manufacturing step 1 at this work center</step></Location></Root>
delete takes every node it finds	DECLARE @d xml = '<a><b/><c/><b/></a>'; SET @d.modify('delete /a/b'); SELECT @d	<a><c /></a>
a target that is not there changes nothing	DECLARE @d xml = '<a/>'; SET @d.modify('insert <b/> into (/none)[1]'); SET @d.modify('replace value of (/a/text())[1] with "x"'); SELECT @d	<a />
a replaced value is escaped	DECLARE @d xml = '<a k="1">t</a>'; SET @d.modify('replace value of (/a/text())[1] with "x<y"'); SET @d.modify('replace value of (/a/@k)[1] with "1<2"'); SELECT @d	<a k="1&lt;2">x&lt;y</a>
TAB

rows_of >/dev/null <<'SQL'
UPDATE d SET x.modify('insert <c>new</c> as last into (/a)[1]') WHERE id = 1
UPDATE d SET x.modify('delete /a/b') WHERE x IS NOT NULL
SQL
check_rows "modify() of a column" <<'TAB'
UPDATE ... SET col.modify() on the rows WHERE picks	SELECT CAST(x AS nvarchar(100)) FROM d WHERE id = 1	<a><c>new</c></a>
every row WHERE picks	SELECT CAST(x AS nvarchar(100)) FROM d WHERE id = 2	<a />
the NULL row is left alone	SELECT COUNT(*) FROM d WHERE x IS NULL	1
TAB

check_errors "modify() refused" <<'TAB'
in a query	SELECT x.modify('delete /a') FROM d	Incorrect use of the XML data type method 'modify'. A non-mutator method is expected in this context.
in an expression assigned	DECLARE @d xml = '<a/>', @e xml; SET @e = @d.modify('delete /a')	A non-mutator method is expected in this context.
insert into a path of many nodes	DECLARE @d xml = '<a/>'; SET @d.modify('insert <b/> into /a')	XQuery [modify()]: The target of 'insert' must be a single node, found 'element(a,xdt:untyped) *'
replace value of a path of many nodes	UPDATE d SET x.modify('replace value of /a/b/text() with "x"')	XQuery [modify()]: The target of 'replace' must be at most one node, found 'text *'
a NULL variable	DECLARE @d xml; SET @d.modify('delete /a')	Mutator 'modify()' on '@d' cannot be called on a null value.
a NULL column	UPDATE d SET x.modify('insert <q/> into (/a)[1]')	Mutator 'modify()' on 'x' cannot be called on a null value.
an unknown statement	DECLARE @d xml = '<a/>'; SET @d.modify('rename /a as "b"')	Syntax error near 'rename'
TAB
expect_row "a refused UPDATE changes no row" "SELECT COUNT(*) FROM d WHERE CAST(x AS nvarchar(100)) LIKE '%q%'" "0"

done_checks
