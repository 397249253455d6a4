#!/bin/bash
# tedious, the TDS client of Node (installed by scripts/setup-deps.sh), logs in
# and reads a row with and without encryption from each server mode; asked
# not to encrypt (it then says it cannot: ENCRYPT_NOT_SUP), it gets the
# refusal of a server that requires encryption.
source "$(dirname "$0")/lib/common.sh"

modules=${XDG_CACHE_HOME:-$HOME/.cache}/dorvane/npm/node_modules
[[ -d $modules/tedious ]] || fail "tedious is not installed under $modules (run scripts/setup-deps.sh)"
query() { # ENCRYPT SQL
    NODE_PATH=$modules timeout 60 node --no-deprecation "$(dirname "$0")/lib/tediousquery.js" "$PORT" "$PW" "$1" "$2" 2>&1
}

# Server mode, tedious's encrypt option, what the server's trace says of the
# session, or the refusal tedious reports.
cases="
offered       true  full
offered       false none
required      true  full
required      false Server requires encryption
not-supported false none
"
current=
while read -r mode encrypt expected; do
    [[ -z "$mode" ]] && continue
    if [[ $mode != "$current" ]]; then
        [[ -n "$current" ]] && stop_server
        start_server --encrypt "$mode"
        current=$mode
    fi
    label="$mode server, tedious with encrypt: $encrypt"
    out=$(query "$encrypt" "SELECT 4242 AS n, N'加密' AS t")
    case $expected in
    none | login | full)
        expect_contains "$label: the row arrives" "$out" "ROW 4242|加密"
        expect_contains "$label: the session's encryption" "$(grep '^#### LOGIN' "$WORK/trace.log" | tail -n 1)" \
            " encryption=$expected"
        ;;
    *)
        expect_contains "$label: refused" "$out" "ERROR $expected"
        ;;
    esac
done <<<"$cases"
stop_server
done_checks
