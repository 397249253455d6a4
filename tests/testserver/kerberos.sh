#!/bin/bash
# Integrated (Kerberos) logins with FreeTDS's own clients against a
# throwaway realm on loopback: tsql and the ODBC driver log in with a ticket
# and the session runs as REALM\user; no ticket, an expired ticket, a ticket
# of a realm the server does not trust and stale service keys all fail;
# --windows-login limits who may log in; SQL logins keep working.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/krbrealm.sh"

for tool in krb5kdc kdb5_util kadmin.local kinit klist; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup-deps.sh installs krb5-kdc, krb5-admin-server and krb5-user)"
done

REALM_DIR="$WORK/krb"
trap 'krb_stop "$REALM_DIR"; cleanup' EXIT
krb_create "$REALM_DIR" || fail "the realm could not be set up"
krb_env "$REALM_DIR" # this script and what it starts use the test realm only

# tsql logs in with Kerberos when no user name is given.
ktsql_run() {
    timeout 60 tsql -H 127.0.0.1 -p "$PORT" 2>&1
}

kisql_run() {
    timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;Trusted_Connection=Yes;TDS_Version=7.4" -b -v 2>&1
}

start_server --keytab "$REALM_DIR/server.keytab"
krb_service "$REALM_DIR" "$PORT" || fail "no service principal for port $PORT"

# No ticket at all: the client cannot even build a token.
out=$(printf 'SELECT 1 AS one\ngo\nexit\n' | KRB5CCNAME="FILE:$WORK/no-such-ccache" ktsql_run)
expect_not_contains "no ticket: tsql does not log in" "$out" "1>"
out=$(echo "SELECT 1 AS one" | KRB5CCNAME="FILE:$WORK/no-such-ccache" kisql_run)
expect_contains "no ticket: the ODBC driver refuses to connect" "$out" "Could not SQLDriverConnect"

kinit -k -t "$REALM_DIR/alice.keytab" alice || fail "kinit alice"
out=$(printf 'SELECT SUSER_NAME() AS who\ngo\nSELECT SYSTEM_USER AS su\ngo\nexit\n' | ktsql_run)
expect_contains "ticket: tsql logs in as the domain login" "$out" 'DORVANE.TEST\alice'
expect_not_contains "ticket: no error" "$out" "Msg "
[[ $(grep -cF 'DORVANE.TEST\alice' <<<"$out") -eq 2 ]] || fail "SYSTEM_USER differs from SUSER_NAME(): $out"
ok "SYSTEM_USER names the same login"
out=$(echo "SELECT SUSER_SNAME() AS who, DB_NAME() AS db" | kisql_run)
expect_contains "ticket: the ODBC driver logs in with Trusted_Connection" "$out" 'DORVANE.TEST\alice'
expect_contains "ticket: ... in master" "$out" "master"
klist | grep -qF "MSSQLSvc/127.0.0.1:$PORT@DORVANE.TEST" || fail "no service ticket for MSSQLSvc/127.0.0.1:$PORT in the cache"
ok "the client asked for the service principal MSSQLSvc/127.0.0.1:PORT"

# SQL logins keep working on a server that takes integrated ones.
out=$(printf 'SELECT SUSER_NAME() AS who\ngo\nexit\n' | tsql_run)
expect_contains "SQL login beside integrated ones" "$out" "sa"
expect_not_contains "SQL login: no error" "$out" "Msg "

# A ticket of another realm: the client gets a service ticket from
# OTHER.TEST, whose key the server's keytab does not hold.
out=$(printf 'SELECT 1 AS one\ngo\nexit\n' | (
    export KRB5_CONFIG="$REALM_DIR/krb5-other.conf" KRB5CCNAME="FILE:$WORK/ccache-other"
    kinit -k -t "$REALM_DIR/alice-other.keytab" alice || echo "kinit failed"
    ktsql_run))
expect_contains "other realm: refused with 18452" "$out" "Msg 18452 (severity 14, state 1)"
expect_contains "other realm: SQL Server's text" "$out" \
    "Login failed. The login is from an untrusted domain and cannot be used with Integrated authentication."
expect_not_contains "other realm: no query ran" "$out" "one"
expect_contains "other realm: the reason is in the server's log" "$(cat "$WORK/server.err")" "SSPI handshake failed"

# An expired ticket (its principal may hold one for 10 seconds at most).
(
    export KRB5CCNAME="FILE:$WORK/ccache-short"
    kinit -l 5s -k -t "$REALM_DIR/shortlived.keytab" shortlived || exit 1
    for _ in $(seq 60); do
        # klist calls a ticket expired in its last second, GSSAPI one second
        # later: wait past both.
        klist -s || { sleep 2; exit 0; }
        sleep 1
    done
    exit 1
) || fail "the short-lived ticket did not expire"
out=$(printf 'SELECT 1 AS one\ngo\nexit\n' | KRB5CCNAME="FILE:$WORK/ccache-short" ktsql_run)
expect_not_contains "expired ticket: tsql does not log in" "$out" "1>"
expect_not_contains "expired ticket: no query ran" "$out" "one"

# Stale service keys: the service's key changes in the realm but not in the
# server's keytab, so a fresh ticket no longer decrypts there.
kadmin.local -r DORVANE.TEST -q "cpw -randkey MSSQLSvc/127.0.0.1:$PORT" >>"$REALM_DIR/kadmin.out" 2>&1 || fail "cpw"
out=$(printf 'SELECT 1 AS one\ngo\nexit\n' | (
    export KRB5CCNAME="FILE:$WORK/ccache-stale"
    kinit -k -t "$REALM_DIR/alice.keytab" alice || echo "kinit failed"
    ktsql_run))
expect_contains "stale service keys: refused with 18452" "$out" "Msg 18452"
stop_server

# --windows-login admits only the domain logins it names (case-insensitively).
start_server --keytab "$REALM_DIR/server.keytab" --windows-login 'dorvane.test\CAROL'
krb_service "$REALM_DIR" "$PORT" || fail "no service principal for port $PORT"
out=$(printf 'SELECT 1 AS one\ngo\nexit\n' | ktsql_run)
expect_contains "windows-login: alice is not a login here" "$out" "Msg 18456"
expect_contains "windows-login: SQL Server's text names the domain login" "$out" \
    "Login failed for user 'DORVANE.TEST\\alice'."
out=$(printf 'SELECT SUSER_NAME() AS who\ngo\nexit\n' | (
    export KRB5CCNAME="FILE:$WORK/ccache-carol"
    kinit -k -t "$REALM_DIR/carol.keytab" carol || echo "kinit failed"
    ktsql_run))
expect_contains "windows-login: carol logs in" "$out" 'DORVANE.TEST\carol'
stop_server

# Without --keytab integrated logins are refused as untrusted (the client
# holds a good ticket for the port).
start_server
krb_service "$REALM_DIR" "$PORT" || fail "no service principal for port $PORT"
out=$(printf 'SELECT 1 AS one\ngo\nexit\n' | ktsql_run)
expect_contains "no keytab: refused with 18452" "$out" "Msg 18452"
stop_server

# Start-up checks.
err=$("$TS_EXE" --port 0 --data-dir "$WORK/data" --keytab "$WORK/missing.keytab" 2>&1 >/dev/null)
rc=$?
[[ $rc -eq 1 ]] || fail "missing keytab: exit status $rc, expected 1"
expect_contains "missing keytab: the server says why" "$err" "missing.keytab"
"$TS_EXE" --port 0 --data-dir "$WORK/data" --windows-login 'X\y' >/dev/null 2>&1
[[ $? -eq 2 ]] || fail "--windows-login without --keytab: exit status not 2"
ok "--windows-login needs --keytab"
"$TS_EXE" --port 0 --keytab "$REALM_DIR/server.keytab" --windows-login 'nodomain' >/dev/null 2>&1
[[ $? -eq 2 ]] || fail "--windows-login without a domain: exit status not 2"
ok "--windows-login needs DOMAIN\\user"

done_checks
