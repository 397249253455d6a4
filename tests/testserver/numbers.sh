#!/bin/bash
# Exact numbers through FreeTDS tsql and bsqldb: decimal/numeric to 38 digits,
# money and smallmoney over their whole range, real as a 4-byte float, and
# the values SQL Server documents for decimal arithmetic and aggregates.
source "$(dirname "$0")/lib/common.sh"

start_server

out=$(tsql_run <<'SQL'
create table n (id int primary key, d38 decimal(38,10), d18 decimal(18,4), m money, sm smallmoney, r real)
insert into n values (1, 1234567890123456789012345678.0123456789, 12345678901234.5678, 922337203685477.5807, 214748.3647, 0.1)
insert into n values (2, -9999999999999999999999999999.9999999999, -99999999999999.9999, -922337203685477.5808, -214748.3648, 3.4028234e38)
go
select id, d38, d18, m, sm from n order by id
go
select 'varchar', convert(varchar(40), d18) from n where id = 1
go
select 'money not null', count(*) from n where m is null
go
select 'real equal', count(*) from n where r = cast(cast(0.10000000149011612 as float) as real)
go
select 'd38 equal', count(*) from n where d38 = cast('1234567890123456789012345678.0123456789' as decimal(38,10))
go
select 'money equal', count(*) from n where m = cast('922337203685477.5807' as money)
go
select 'smallmoney equal', count(*) from n where sm = cast('-214748.3648' as smallmoney)
go
select 'tenth times three', cast(0.1 as decimal(38,30)) * 3
go
select 'one third', 1.0/3
go
select 'ten over three', cast(10 as decimal(5,2))/3
go
select 'sum', sum(d18), 'avg', avg(d18) from n
go
insert into n (id, d18) values (3, 123456789012345.1)
go
insert into n (id, m) values (4, 922337203685477.5808)
go
insert into n (id, sm) values (5, 214748.3648)
go
create table k (v decimal(6,2) primary key)
insert into k values (12.5)
go
insert into k values (12.50)
go
exit
SQL
)
expect_contains "decimal(38,10), decimal(18,4), money and smallmoney at their highest" "$out" \
    $'1\t1234567890123456789012345678.0123456789\t12345678901234.5678\t922337203685477.5807\t214748.3647'
expect_contains "... and at their lowest" "$out" \
    $'2\t-9999999999999999999999999999.9999999999\t-99999999999999.9999\t-922337203685477.5808\t-214748.3648'
expect_contains "decimal(18,4) converts to varchar digit for digit" "$out" $'varchar\t12345678901234.5678'
expect_contains "the largest money is no NULL" "$out" $'money not null\t0'
expect_contains "real holds a 4-byte float" "$out" $'real equal\t1'
expect_contains "decimal(38,10) equals its cast" "$out" $'d38 equal\t1'
expect_contains "money equals its cast" "$out" $'money equal\t1'
expect_contains "smallmoney equals its cast" "$out" $'smallmoney equal\t1'
expect_contains "0.1 as decimal(38,30) times 3 is exact, scale cut to 28" "$out" $'tenth times three\t0.3000000000000000000000000000'
expect_contains "1.0/3 has six places" "$out" $'one third\t0.333333'
expect_contains "decimal(5,2)/3 has six places" "$out" $'ten over three\t3.333333'
expect_contains "SUM is decimal(38,4), AVG has six places" "$out" $'sum\t-87654321098765.4321\tavg\t-43827160549382.716050'
expect_contains "too many digits for decimal(18,4) is 8115" "$out" "Arithmetic overflow error converting numeric to data type numeric."
expect_contains "money one above its range is 8115" "$out" "Arithmetic overflow error converting numeric to data type money."
expect_contains "smallmoney one above its range is 8115" "$out" "Arithmetic overflow error converting numeric to data type smallmoney."
expect_contains "12.50 is the key 12.5 again" "$out" "Violation of PRIMARY KEY constraint"
[[ $(grep -c "Msg 8115" <<<"$out") -eq 3 ]] || fail "expected exactly three 8115 errors"
ok "8115 only where the value does not fit"

# DB-Library reads the values off the wire itself: DECIMALN, MONEYN of 8 and 4 bytes, FLTN(4).
# (bsqldb prints at most 21 characters of a decimal and 12 of a money value.)
out=$(bsqldb_run <<'SQL'
select d18, sm, r from n where id = 1
select cast(-12.5 as money) as a, 1.0/3 as b, -cast(2.5 as real) as c, cast(-1 as smallmoney) / 3 as d
select sum(m) as total from n
SQL
)
expect_contains "bsqldb: decimal(18,4), smallmoney and real" "$out" "  12345678901234.5678   214748.3647  0.100000001"
expect_contains "bsqldb: money, numeric(7,6), real and smallmoney expressions" "$out" "    -12.5000               0.333333         -2.5       -0.3333"
expect_contains "bsqldb: sum of money" "$out" "     -0.0001"

done_checks
