#!/bin/bash
# Encrypted connections: each server mode against FreeTDS's tsql and the
# FreeTDS ODBC driver (isql) with each of its encryption settings. The
# client's own log (TDSDUMP) tells which ENCRYPTION answer it read; the row
# tells that the session worked through TLS, the server's trace how much of
# it was encrypted; a client that cannot encrypt is
# refused by a server that requires it. Then certificates from PEM files:
# a client that checks the certificate against its CA logs in, one given
# another CA does not, and a key that does not match stops the server.
source "$(dirname "$0")/lib/common.sh"

# conf_for PORT: freetds.conf entries enc_require, enc_request, enc_off.
conf_for() {
    local s
    : >"$FREETDSCONF"
    for s in require request off; do
        printf '[enc_%s]\n\thost = 127.0.0.1\n\tport = %s\n\ttds version = 7.4\n\tencryption = %s\n' \
            "$s" "$1" "$s" >>"$FREETDSCONF"
        [[ -n "${CA_FILE:-}" ]] && printf '\tca file = %s\n' "$CA_FILE" >>"$FREETDSCONF"
    done
}

# client KIND SETTING: SELECT 4242 through tsql or isql with `encryption =
# SETTING`; prints the client's output, then "flag=N" with the ENCRYPTION
# byte the client read from the server (none when it read no answer).
client() {
    local dump="$WORK/dump.$RANDOM" out
    if [[ $1 == tsql ]]; then
        out=$(printf 'SELECT 4242 AS n\ngo\nexit\n' | TDSDUMP=$dump timeout 30 tsql -S "enc_$2" -U sa -P "$PW" 2>&1)
    else
        out=$(echo "SELECT 4242 AS n" | TDSDUMP=$dump timeout 30 \
            isql -k "DRIVER={FreeTDS};Servername=enc_$2;UID=sa;PWD=$PW" -b -v 2>&1)
    fi
    echo "$out"
    echo "flag=$(sed -n 's/.*detected crypt flag \([0-9]\).*/\1/p' "$dump" 2>/dev/null | head -n 1)"
    rm -f "$dump"
}

# Server mode, client, client setting, ENCRYPTION answer, then what the
# server's trace says of the session (none, login, full), or "refused".
cases="
offered       tsql require 1 full
offered       tsql request 0 login
offered       tsql off     2 none
offered       isql require 1 full
offered       isql request 0 login
offered       isql off     2 none
required      tsql require 1 full
required      tsql request 3 full
required      tsql off     3 refused
required      isql require 1 full
required      isql request 3 full
required      isql off     3 refused
not-supported tsql require 2 refused
not-supported tsql request 2 none
not-supported isql require 2 refused
not-supported isql request 2 none
"
current=
while read -r mode kind setting flag session; do
    [[ -z "$mode" ]] && continue
    if [[ $mode != "$current" ]]; then
        [[ -n "$current" ]] && stop_server
        start_server --encrypt "$mode"
        conf_for "$PORT"
        current=$mode
    fi
    label="$mode server, $kind with encryption = $setting"
    out=$(client "$kind" "$setting")
    expect_contains "$label: the server answers ENCRYPTION $flag" "$out" "flag=$flag"
    if [[ $session != refused ]]; then
        expect_contains "$label: the row arrives" "$out" "4242"
        expect_contains "$label: the session's encryption" "$(grep '^#### LOGIN' "$WORK/trace.log" | tail -n 1)" \
            " encryption=$session"
    else
        expect_not_contains "$label: no login" "$out" "4242"
    fi
done <<<"$cases"
stop_server
expect_contains "the refusal is in the server's log" "$(cat "$WORK/server.err")" \
    "the client cannot encrypt and encryption is required"

# Certificates from files. The client checks the chain and the host name when
# it is given a CA file.
cert_for() { # NAME: NAME.pem and NAME.key, self-signed for 127.0.0.1
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=127.0.0.1" \
        -addext "subjectAltName=IP:127.0.0.1" -keyout "$WORK/$1.key" -out "$WORK/$1.pem" 2>/dev/null \
        || fail "openssl could not make $1"
}
cert_for ours
cert_for other
start_server --encrypt required --cert "$WORK/ours.pem" --key "$WORK/ours.key"
CA_FILE=$WORK/ours.pem conf_for "$PORT"
out=$(client tsql require)
expect_contains "a client that trusts the server's certificate logs in" "$out" "4242"
CA_FILE=$WORK/other.pem conf_for "$PORT"
out=$(client tsql require)
expect_not_contains "a client that trusts another certificate does not" "$out" "4242"
stop_server

out=$(timeout 10 "$TS_EXE" --port 0 --data-dir "$WORK/data" --cert "$WORK/ours.pem" --key "$WORK/other.key" 2>&1 </dev/null)
expect_contains "a key that does not match the certificate stops the server" "$out" \
    "key values mismatch"
out=$(timeout 10 "$TS_EXE" --port 0 --data-dir "$WORK/data" --cert "$WORK/ours.pem" 2>&1 </dev/null)
expect_contains "--cert without --key is refused" "$out" "usage:"
out=$(timeout 10 "$TS_EXE" --port 0 --data-dir "$WORK/data" --encrypt sometimes 2>&1 </dev/null)
expect_contains "an unknown mode is refused" "$out" "usage:"

done_checks
