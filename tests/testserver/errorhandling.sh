#!/bin/bash
# Error handling in batches: TRY ... CATCH (nested), the ERROR_*() functions,
# THROW and RAISERROR caught or not, @@ERROR, XACT_STATE() and XACT_ABORT with
# the doomed transaction, compound assignment and WAITFOR DELAY, through isql
# (ODBC), tsql and bsqldb. Expected values are those of the T-SQL reference.
source "$(dirname "$0")/lib/common.sh"

start_server

# expect_pair LABEL TEXT FIRST SECOND: a line ending in FIRST (tsql's prompts come
# before a header) followed by the line SECOND.
expect_pair() {
    if ! awk -v a="$3" -v b="$4" 'length(prev) >= length(a) && substr(prev, length(prev) - length(a) + 1) == a && $0 == b { found = 1 }
                                  { prev = $0 } END { exit !found }' <<<"$2"; then
        echo "--- output of '$1':" >&2
        echo "$2" >&2
        fail "$1: expected the line '$4' after '$3'"
    fi
    ok "$1"
}

rows_of >/dev/null <<'SQL'
CREATE TABLE acct (id INT PRIMARY KEY, balance INT NOT NULL, note NVARCHAR(40) NULL)
INSERT INTO acct VALUES (1, 100, N'a'), (2, 50, N'b')
SQL

check_rows <<'TABLE'
# TRY ... CATCH and the ERROR_*() functions (the reference's divide-by-zero examples).
catch: ERROR_NUMBER of a divide by zero	BEGIN TRY SELECT 1/0; END TRY BEGIN CATCH SELECT ERROR_NUMBER() AS ErrorNumber; END CATCH;	8134
catch: every ERROR_*() value	BEGIN TRY SELECT 1/0; END TRY BEGIN CATCH SELECT ERROR_NUMBER(), ERROR_SEVERITY(), ERROR_STATE(), ISNULL(ERROR_PROCEDURE(), 'none'), ERROR_LINE(), ERROR_MESSAGE(); END CATCH	8134|16|1|none|1|Divide by zero error encountered.
catch: the rest of the TRY block is skipped	DECLARE @s VARCHAR(20) = 'start'; BEGIN TRY SET @s = 'try'; SELECT 1/0; SET @s = 'after'; END TRY BEGIN CATCH SET @s = @s + '+catch'; END CATCH; SELECT @s	try+catch
catch: no error, the CATCH block does not run	DECLARE @s VARCHAR(20) = 'none'; BEGIN TRY SET @s = 'try'; END TRY BEGIN CATCH SET @s = 'catch'; END CATCH; SELECT @s	try
catch: the batch goes on after END CATCH	BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH END CATCH SELECT 'after' AS tail	after
catch: ERROR_NUMBER is NULL outside CATCH	BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH END CATCH SELECT ISNULL(ERROR_NUMBER(), -1), ISNULL(ERROR_MESSAGE(), 'null')	-1|null
catch: an error inside WHILE leaves the loop	DECLARE @i INT = 0; BEGIN TRY WHILE @i < 10 BEGIN SET @i = @i + 1; IF @i = 3 SELECT 1/0; END END TRY BEGIN CATCH SELECT @i, ERROR_NUMBER() END CATCH	3|8134
catch: a failed INSERT is caught (2627)	BEGIN TRY INSERT INTO acct VALUES (1, 0, NULL); END TRY BEGIN CATCH SELECT ERROR_NUMBER(), ERROR_SEVERITY() END CATCH	2627|14
catch: a conversion error is caught (245)	BEGIN TRY DECLARE @n INT = 'abc'; END TRY BEGIN CATCH SELECT ERROR_NUMBER() END CATCH	245
# Nested: each CATCH block sees its own error; the outer one's comes back after the inner CATCH.
nested: inner error, outer untouched	DECLARE @r VARCHAR(40) = ''; BEGIN TRY BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH SET @r = 'inner ' + CAST(ERROR_NUMBER() AS VARCHAR(10)) END CATCH SET @r = @r + ' then' END TRY BEGIN CATCH SET @r = @r + ' outer' END CATCH SELECT @r	inner 8134 then
nested: TRY inside CATCH keeps the outer error	BEGIN TRY RAISERROR('first', 16, 1) END TRY BEGIN CATCH BEGIN TRY RAISERROR('second', 16, 2) END TRY BEGIN CATCH SELECT ERROR_MESSAGE(), ERROR_STATE() END CATCH SELECT ERROR_MESSAGE(), ERROR_STATE() END CATCH	first|1
nested: the inner CATCH sees the second error	BEGIN TRY RAISERROR('first', 16, 1) END TRY BEGIN CATCH BEGIN TRY RAISERROR('second', 16, 2) END TRY BEGIN CATCH SELECT ERROR_MESSAGE(), ERROR_STATE() END CATCH END CATCH	second|2
nested: THROW re-raises to the outer CATCH	BEGIN TRY BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH THROW; END CATCH END TRY BEGIN CATCH SELECT 'outer', ERROR_NUMBER(), ERROR_MESSAGE() END CATCH	outer|8134|Divide by zero error encountered.
# THROW and RAISERROR caught.
throw: caught with its number, state and severity 16	BEGIN TRY THROW 51000, 'The record does not exist.', 1; END TRY BEGIN CATCH SELECT ERROR_NUMBER(), ERROR_SEVERITY(), ERROR_STATE(), ERROR_MESSAGE() END CATCH	51000|16|1|The record does not exist.
raiserror: printf arguments reach ERROR_MESSAGE	BEGIN TRY RAISERROR(N'This is message %s %d.', 16, 2, N'number', 5) END TRY BEGIN CATCH SELECT ERROR_NUMBER(), ERROR_SEVERITY(), ERROR_STATE(), ERROR_MESSAGE() END CATCH	50000|16|2|This is message number 5.
raiserror: severity 10 does not enter CATCH	DECLARE @s VARCHAR(10) = 'try'; BEGIN TRY RAISERROR('info', 10, 1) END TRY BEGIN CATCH SET @s = 'catch' END CATCH SELECT @s	try
raiserror: WITH NOWAIT, LOG accepted	BEGIN TRY RAISERROR('logged', 16, 1) WITH NOWAIT, LOG END TRY BEGIN CATCH SELECT ERROR_MESSAGE() END CATCH	logged
# @@ERROR: set by every statement, the error's number right after it.
@@ERROR: the first statement of CATCH	BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH SELECT @@ERROR END CATCH	8134
# XACT_STATE(): 0 without a transaction, 1 in one that can commit, -1 when doomed.
xact_state: none, active	SELECT XACT_STATE(); BEGIN TRAN; SELECT XACT_STATE() AS s; ROLLBACK	1
xact_state: no transaction is 0	SELECT XACT_STATE() AS s	0
xact_state: an error without XACT_ABORT leaves it committable	BEGIN TRAN; BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH SELECT XACT_STATE(), @@TRANCOUNT END CATCH ROLLBACK	1|1
xact_state: XACT_ABORT ON dooms it	SET XACT_ABORT ON; BEGIN TRAN; BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH SELECT XACT_STATE(), @@TRANCOUNT; ROLLBACK END CATCH; SET XACT_ABORT OFF	-1|1
xact_state: ROLLBACK ends the doomed transaction	SET XACT_ABORT ON; BEGIN TRAN; BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH ROLLBACK END CATCH; SELECT XACT_STATE(), @@TRANCOUNT; SET XACT_ABORT OFF	0|0
xact_state: the next transaction can commit again	SET XACT_ABORT ON; BEGIN TRAN; BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH ROLLBACK END CATCH; BEGIN TRAN; SELECT XACT_STATE(), @@TRANCOUNT; ROLLBACK; SET XACT_ABORT OFF	1|1
# Compound assignment (the reference's examples start from 27).
compound: += -= *= /= %=	DECLARE @a INT = 27, @b INT = 27, @c INT = 27, @d INT = 27, @e INT = 27; SET @a += 2; SET @b -= 2; SET @c *= 2; SET @d /= 2; SET @e %= 2; SELECT @a, @b, @c, @d, @e	29|25|54|13|1
compound: &= |= ^=	DECLARE @a INT = 27, @b INT = 27, @c INT = 27; SET @a &= 2; SET @b |= 4; SET @c ^= 2; SELECT @a, @b, @c	2|31|25
compound: the right side is one expression	DECLARE @a INT = 10; SET @a -= 2 + 3; SET @a *= 1 + 1; SELECT @a	10
compound: string concatenation	DECLARE @v1 VARCHAR(40); SET @v1 = 'This is the original.'; SET @v1 += ' More text.'; SELECT @v1	This is the original. More text.
compound: counts a WHILE loop	DECLARE @i INT = 0, @sum INT = 0; WHILE @i < 5 BEGIN SET @i += 1; SET @sum += @i END SELECT @i, @sum	5|15
compound: UPDATE ... SET col += expr	BEGIN TRAN; UPDATE acct SET balance += 10 * 2, note += N'x' WHERE id = 2; SELECT balance, note FROM acct WHERE id = 2; ROLLBACK	70|bx
compound: UPDATE ... SET col -= and *=	BEGIN TRAN; UPDATE acct SET balance -= 1 WHERE id = 1; UPDATE acct SET balance *= 2 WHERE id = 1; SELECT balance FROM acct WHERE id = 1; ROLLBACK	198
# WAITFOR DELAY waits, then the batch goes on.
waitfor: DELAY then the next statement	WAITFOR DELAY '00:00:00.2'; SELECT 'waited' AS w	waited
TABLE

# Messages the client sees (tsql): caught errors are not sent; uncaught ones are.
out=$(tsql_run <<'SQL'
BEGIN TRY
    -- Generate a divide-by-zero error.
    SELECT 1/0;
END TRY
BEGIN CATCH
    SELECT ERROR_LINE() AS ErrorLine;
END CATCH;
go
THROW 50000, 'The record does not exist.', 1;
go
BEGIN TRY
    SELECT 1/0
END TRY
BEGIN CATCH
    PRINT 'caught ' + CAST(ERROR_NUMBER() AS VARCHAR(10));
    THROW;
END CATCH
go
exit
SQL
)
expect_pair "tsql: ERROR_LINE is the failing statement's line" "$out" "ErrorLine" "3"
expect_contains "tsql: THROW outside TRY: number, severity 16, state" "$out" "Msg 50000 (severity 16, state 1)"
expect_contains "tsql: THROW's text" "$out" "The record does not exist."
expect_contains "tsql: CATCH runs before the re-throw" "$out" "caught 8134"
expect_contains "tsql: THROW; re-raises the caught error with its line" "$out" "Msg 8134 (severity 16, state 1) from"
expect_contains "tsql: ... at the line of the original error" "$out" "Line 2:"
[[ $(grep -c "Msg 8134" <<<"$out") -eq 1 ]] || fail "tsql: the caught errors should not be sent, only the re-thrown one: $out"
ok "tsql: a caught error is not sent"

# @@ERROR (after an error isql reads no further results: tsql shows them).
out=$(tsql_run <<'SQL'
SELECT 1/0
SELECT @@ERROR AS right_after
SELECT @@ERROR AS after_success
PRINT 'x'
go
exit
SQL
)
expect_pair "@@ERROR: the error's number right after it" "$out" "right_after" "8134"
expect_pair "@@ERROR: zero after a statement that succeeds" "$out" "after_success" "0"

# SET XACT_ABORT (the reference's example, with a key violation for the error):
# OFF keeps the statements around the error, ON rolls the transaction back.
out=$(tsql_run <<'SQL'
CREATE TABLE t2 (a INT NOT NULL PRIMARY KEY)
go
SET XACT_ABORT OFF;
BEGIN TRANSACTION;
INSERT INTO t2 VALUES (1);
INSERT INTO t2 VALUES (1);
INSERT INTO t2 VALUES (3);
COMMIT TRANSACTION;
go
SET XACT_ABORT ON;
BEGIN TRANSACTION;
INSERT INTO t2 VALUES (4);
INSERT INTO t2 VALUES (4);
INSERT INTO t2 VALUES (6);
COMMIT TRANSACTION;
go
SELECT @@TRANCOUNT AS tc, COUNT(*) AS n, SUM(a) AS total FROM t2;
go
SET XACT_ABORT ON;
BEGIN TRAN;
BEGIN TRY
    INSERT INTO t2 VALUES (3);
END TRY
BEGIN CATCH
    INSERT INTO t2 VALUES (7);
END CATCH
go
SET XACT_ABORT ON;
BEGIN TRAN;
BEGIN TRY
    INSERT INTO t2 VALUES (3);
END TRY
BEGIN CATCH
    COMMIT;
END CATCH
go
SELECT @@TRANCOUNT AS tc2, COUNT(*) AS n2 FROM t2;
go
exit
SQL
)
expect_pair "xact_abort: OFF keeps 1 and 3, ON rolls 4 back, no transaction left" "$out" $'tc\tn\ttotal' $'0\t2\t4'
expect_contains "doomed: a write fails with 3930" "$out" "Msg 3930 (severity 16, state 1)"
expect_contains "doomed: 3930's text" "$out" "The current transaction cannot be committed and cannot support operations that write to the log file. Roll back the transaction."
expect_contains "doomed: rolled back at the end of the batch with 3998" "$out" "Uncommittable transaction is detected at the end of the batch. The transaction is rolled back."
[[ $(grep -c "Msg 3930" <<<"$out") -eq 2 ]] || fail "doomed: the write and the COMMIT should each fail with 3930: $out"
ok "doomed: COMMIT fails with 3930 too"
expect_pair "doomed: nothing of either transaction stays" "$out" $'tc2\tn2' $'0\t2'

# Name resolution fails at the TRY block's own level: not caught, the batch ends
# (the reference's NonexistentTable example); from dynamic SQL it is caught.
out=$(tsql_run <<'SQL'
BEGIN TRY
    SELECT * FROM NonexistentTable;
END TRY
BEGIN CATCH
    SELECT 'caught here' AS c;
END CATCH
go
BEGIN TRY
    EXEC (N'SELECT * FROM NonexistentTable');
END TRY
BEGIN CATCH
    SELECT ERROR_NUMBER() AS inner_level;
END CATCH
go
exit
SQL
)
expect_contains "same level: 208 goes to the client" "$out" "Invalid object name 'NonexistentTable'."
expect_not_contains "same level: the CATCH block does not run" "$out" "caught here"
expect_pair "inner level: EXEC's 208 is caught" "$out" "inner_level" "208"

# Syntax: END TRY needs its CATCH block; an empty TRY block is refused.
out=$(rows_of <<'SQL'
BEGIN TRY SELECT 1 END TRY SELECT 2
BEGIN TRY END TRY BEGIN CATCH END CATCH
SQL
)
[[ $(grep -c "Incorrect syntax near" <<<"$out") -eq 2 ]] || fail "syntax: both batches should fail: $out"
ok "syntax: TRY without CATCH, and an empty TRY, are syntax errors"

# bsqldb: a caught error leaves the batch without an error; the CATCH block's rows arrive.
out=$(bsqldb_run <<'SQL'
BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH SELECT ERROR_MESSAGE() AS m END CATCH
go
SQL
)
expect_contains "bsqldb: the CATCH block's row" "$out" "Divide by zero error encountered."
expect_not_contains "bsqldb: no error message" "$out" "Msg 8134"

done_checks
