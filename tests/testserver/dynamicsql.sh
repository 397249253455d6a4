#!/bin/bash
# Dynamic SQL: sp_executesql with typed parameters and OUTPUT parameters, and
# EXEC (@sql), through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

rows_of >/dev/null <<'SQL'
CREATE TABLE emp (id INT PRIMARY KEY, title VARCHAR(30) NOT NULL, salary DECIMAL(8,2) NOT NULL)
INSERT INTO emp VALUES (1, 'Chief', 900.00), (2, 'Buyer', 400.50), (197, 'Tool Designer', 300.25)
SQL

check_rows <<'TABLE'
# The reference's sp_executesql example with an OUTPUT parameter, on this table.
sp_executesql: an OUTPUT parameter comes back	DECLARE @IntVariable INT, @SQLString NVARCHAR(500), @ParmDefinition NVARCHAR(500), @max_title VARCHAR(30); SET @IntVariable = 197; SET @SQLString = N'SELECT @max_titleOUT = max(title) FROM emp WHERE id = @level'; SET @ParmDefinition = N'@level TINYINT, @max_titleOUT VARCHAR(30) OUTPUT'; EXECUTE sp_executesql @SQLString, @ParmDefinition, @level = @IntVariable, @max_titleOUT = @max_title OUTPUT; SELECT @max_title	Tool Designer
sp_executesql: SET inside, typed decimal parameter	DECLARE @out DECIMAL(10,2); EXEC sp_executesql N'SET @r = @x * 2', N'@x DECIMAL(8,2), @r DECIMAL(10,2) OUTPUT', @x = 400.50, @r = @out OUTPUT; SELECT @out	801.00
sp_executesql: without OUTPUT the caller's variable stays	DECLARE @v INT = 7; EXEC sp_executesql N'SET @p = 99', N'@p INT', @p = @v; SELECT @v	7
sp_executesql: parameters in a query	EXEC sp_executesql N'SELECT title FROM emp WHERE salary > @min ORDER BY id', N'@min DECIMAL(8,2)', @min = 400.25	Buyer
exec: a string built in a variable	DECLARE @sql NVARCHAR(200) = N'SELECT COUNT(*) FROM ' + N'emp'; EXEC (@sql)	3
exec: the caller's variables are not visible inside	DECLARE @x INT = 1; BEGIN TRY EXEC (N'SELECT @x') END TRY BEGIN CATCH SELECT ERROR_NUMBER() END CATCH	137
TABLE

done_checks
