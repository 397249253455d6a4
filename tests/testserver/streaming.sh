#!/bin/bash
# A million-row result streams: the server's memory stays small while the
# client reads it.
source "$(dirname "$0")/lib/common.sh"

start_server
out=$(tsql_run <<'SQL'
CREATE TABLE ten (i INT)
INSERT INTO ten VALUES (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)
go
exit
SQL
)
expect_not_contains "table created" "$out" "Msg "
before=$(awk '/VmRSS/ {print $2}' "/proc/$SERVER_PID/status")
out=$(tsql_run <<'SQL'
SELECT a.i, b.i AS j, N'some text that makes each row a little wider' AS t
FROM ten a, ten b, ten c, ten d, ten e, ten f
go
exit
SQL
)
peak=$(awk '/VmHWM/ {print $2}' "/proc/$SERVER_PID/status")
expect_contains "all million rows arrive" "$out" "(1000000 rows affected)"
(( peak - before < 100000 )) || fail "server memory grew from ${before} kB to a peak of ${peak} kB"
ok "server peak memory ${peak} kB (started at ${before} kB)"
stop_server
done_checks
