# Text compares as SQL Server compares it under the server collation, seen
# through FreeTDS's tsql and bsqldb: Chinese_PRC_CI_AS (the default) ignores
# case and trailing spaces, not accents, and orders Chinese by pinyin; LIKE
# keeps the pattern's trailing spaces; keys, GROUP BY and DISTINCT follow the
# same rules; char(n) values come back blank-padded. A case-sensitive server
# collation makes case count again.
source "$(dirname "$0")/lib/common.sh"

start_server
out=$(tsql_run <<SQL
select 'eq-case:' + case when 'abc' = 'ABC' then 'yes' else 'no' end
select 'eq-pad:' + case when 'pad' = 'pad   ' then 'yes' else 'no' end
select 'ne-pad:' + case when 'pad' <> 'pad   ' then 'yes' else 'no' end
select 'like-pad:' + case when 'pad' like 'pad   ' then 'yes' else 'no' end
select 'like-value-pad:' + case when 'pad   ' like 'pad' then 'yes' else 'no' end
select 'like-ci:' + case when 'abc' like 'AB%' then 'yes' else 'no' end
select 'like-set:' + case when 'Karsen' like '[C-P]arsen' then 'yes' else 'no' end
select 'accent:' + case when N'é' = N'e' then 'same' else 'different' end
select 'less:' + case when 'b' < 'C' then 'yes' else 'no' end
go
create table k (code varchar(10) primary key)
insert k values ('abc')
go
insert k values ('ABC')
go
create table u (id int, code nvarchar(10))
create unique index u_code on u(code)
insert u values (1, N'abc')
go
insert u values (2, N'ABC')
go
select 'rows:' + cast((select count(*) from k) + (select count(*) from u) as varchar(5))
go
create table g (v nvarchar(10))
insert g values (N'abc'), (N'ABC'), (N'Abc  '), (N'é'), (N'e'), (N'E')
select 'groups:' + cast(count(*) as varchar(5)) from (select v from g group by v) x
select 'distinct:' + cast(count(distinct v) as varchar(5)) from g
select 'found:' + cast(count(*) as varchar(5)) from g where v = 'ABC'
go
create table o (v nvarchar(10))
insert o values (N'中'), (N'阿'), (N'北'), (N'b'), (N'A')
select N'order:' + v from o order by v
go
SQL
)
expect_contains "'abc' = 'ABC'" "$out" "eq-case:yes"
expect_contains "'pad' = 'pad   '" "$out" "eq-pad:yes"
expect_contains "<> ignores trailing spaces too" "$out" "ne-pad:no"
expect_contains "LIKE keeps the pattern's spaces" "$out" "like-pad:no"
expect_contains "LIKE leaves the value's spaces" "$out" "like-value-pad:yes"
expect_contains "LIKE ignores case" "$out" "like-ci:yes"
expect_contains "LIKE knows [sets]" "$out" "like-set:yes"
expect_contains "accents count" "$out" "accent:different"
expect_contains "letters order before case" "$out" "less:yes"
expect_contains "primary key refuses ABC after abc" "$out" "Msg 2627"
expect_contains "2627 names the key value" "$out" \
    "Cannot insert duplicate key in object 'dbo.k'. The duplicate key value is (ABC)."
expect_contains "unique index refuses ABC after abc" "$out" "Msg 2601"
expect_contains "2601 names the index" "$out" "Cannot insert duplicate key row in object 'dbo.u' with unique index 'u_code'."
expect_contains "neither duplicate went in" "$out" "rows:2"
expect_contains "GROUP BY merges case and trailing spaces" "$out" "groups:3"
expect_contains "DISTINCT as well" "$out" "distinct:3"
expect_contains "= on a column" "$out" "found:3"
orders=$(grep '^order:' <<<"$out" | tr '\n' ' ')
[[ "$orders" == "order:A order:b order:阿 order:北 order:中 " ]] || fail "pinyin order: got '$orders'"
ok "ORDER BY: letters, then Chinese by pinyin"

# char(n) is held and returned blank-padded, and still equals the unpadded text.
out=$(bsqldb_run <<SQL
create table cp (id int, c char(6), n nchar(3))
insert cp values (1, 'ab', N'中')
select 'row:[' + c + '] ' + cast(datalength(c) as varchar(5)) + ' [' + n + ']' from cp
select 'match:' + cast(count(*) as varchar(5)) from cp where c = 'AB' and n = N'中  '
SQL
)
expect_contains "char(6) and nchar(3) come back padded" "$out" "row:[ab    ] 6 [中  ]"
expect_contains "padded value equals the unpadded one" "$out" "match:1"
expect_not_contains "bsqldb saw no error" "$out" "Msg "
stop_server

# A case-sensitive server collation: case counts, trailing spaces still do not.
start_server --collation Latin1_General_CS_AS
out=$(tsql_run <<SQL
select 'cs-case:' + case when 'abc' = 'ABC' then 'same' else 'different' end
select 'cs-pad:' + case when 'abc' = 'abc  ' then 'same' else 'different' end
select 'cs-like:' + case when 'abc' like 'AB%' then 'yes' else 'no' end
select 'cs-explicit:' + case when 'abc' collate Latin1_General_CI_AS = 'ABC' then 'same' else 'different' end
go
create table kcs (code varchar(10) primary key)
insert kcs values ('abc')
insert kcs values ('ABC')
select 'cs-rows:' + cast(count(*) as varchar(5)) from kcs
go
select collation_name from sys.databases where name = 'master'
go
SQL
)
expect_contains "CS: 'abc' <> 'ABC'" "$out" "cs-case:different"
expect_contains "CS: trailing spaces ignored" "$out" "cs-pad:same"
expect_contains "CS: LIKE minds case" "$out" "cs-like:no"
expect_contains "COLLATE in an expression" "$out" "cs-explicit:same"
expect_contains "CS: abc and ABC are two keys" "$out" "cs-rows:2"
expect_contains "CS collation reported" "$out" "Latin1_General_CS_AS"
expect_not_contains "no errors under CS" "$out" "Msg "
# The CI table made earlier keeps its collation.
out=$(tsql_run <<SQL
select 'ci-kept:' + cast(count(*) as varchar(5)) from k where code = 'ABC'
go
SQL
)
expect_contains "a column keeps the collation it was made with" "$out" "ci-kept:1"
stop_server
done_checks
