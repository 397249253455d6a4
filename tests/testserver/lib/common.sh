# Helpers for the shell tests that drive dorvane-testserver with FreeTDS
# (tsql, bsqldb) and unixODBC (isql). Source it after setting nothing; the
# test's first argument is the server executable.
set -u

TS_EXE=${1:?usage: $0 /path/to/dorvane-testserver}
WORK=$(mktemp -d)
PW='Dv-Test:pw.1'          # the colon checks that --login splits at the first one
SERVER_PIDS=()
CHECKS=0
export FREETDSCONF="$WORK/freetds.conf"
unset TDSDUMP TDSVER

cleanup() {
    local p
    for p in "${SERVER_PIDS[@]}"; do kill -TERM "$p" 2>/dev/null; done
    for p in "${SERVER_PIDS[@]}"; do
        for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$p" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [[ -f "$WORK/server.err" ]]; then
        echo "--- server stderr:" >&2
        tail -20 "$WORK/server.err" >&2
    fi
    exit 1
}

ok() {
    CHECKS=$((CHECKS + 1))
    echo "ok $CHECKS - $*"
}

# expect_contains LABEL TEXT NEEDLE: NEEDLE (fixed string) occurs in TEXT.
expect_contains() {
    if ! grep -qF -- "$3" <<<"$2"; then
        echo "--- output of '$1':" >&2
        echo "$2" >&2
        fail "$1: expected to find '$3'"
    fi
    ok "$1"
}

expect_not_contains() {
    if grep -qF -- "$3" <<<"$2"; then
        echo "--- output of '$1':" >&2
        echo "$2" >&2
        fail "$1: did not expect '$3'"
    fi
    ok "$1"
}

# rows_of < statements: one line per row, columns joined by '|', through the
# ODBC driver (unixODBC isql with FreeTDS).
rows_of() {
    timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;UID=sa;PWD=$PW;TDS_Version=7.4" -b -v -d'|' 2>&1
}

# expect_row LABEL SQL ROW: the query's output has exactly the line ROW.
expect_row() {
    local out
    out=$(rows_of <<<"$2")
    if ! grep -qxF -- "$3" <<<"$out"; then
        echo "--- output of '$1':" >&2
        echo "$out" >&2
        fail "$1: expected the row '$3'"
    fi
    ok "$1"
}

# check_rows [FAMILY] < table: each line "label <TAB> batch <TAB> row": the
# batch's output has exactly the line `row`; labels are shown as "FAMILY: label".
check_rows() {
    local prefix=${1:+$1: } label sql row out
    while IFS=$'\t' read -r label sql row; do
        [[ -z "$label" || "$label" == \#* ]] && continue
        out=$(rows_of <<<"$sql")
        if ! grep -qxF -- "$row" <<<"$out"; then
            echo "--- output of '$prefix$label' ($sql):" >&2
            echo "$out" >&2
            fail "$prefix$label: expected the row '$row'"
        fi
        ok "$prefix$label"
    done
}

# check_errors [FAMILY] < table: each line "label <TAB> batch <TAB> text": the
# batch's output contains `text` (an error message, or part of one); labels are
# shown as "FAMILY: label".
check_errors() {
    local prefix=${1:+$1: } label sql want out
    while IFS=$'\t' read -r label sql want; do
        [[ -z "$label" || "$label" == \#* ]] && continue
        out=$(rows_of <<<"$sql")
        if ! grep -qF -- "$want" <<<"$out"; then
            echo "--- output of '$prefix$label' ($sql):" >&2
            echo "$out" >&2
            fail "$prefix$label: expected the error '$want'"
        fi
        ok "$prefix$label"
    done
}

# start_server [extra args...]: starts the server on a free port with the data
# folder $WORK/data and the trace $WORK/trace.log; sets PORT and SERVER_PID and
# writes a freetds.conf entry "dv" (query time-out 2 s) for bsqldb and tsql -S.
start_server() {
    mkdir -p "$WORK/data"
    local out="$WORK/server.$RANDOM.out"
    "$TS_EXE" --port 0 --data-dir "$WORK/data" --trace "$WORK/trace.log" --login "sa:$PW" "$@" \
        >"$out" 2>>"$WORK/server.err" &
    SERVER_PID=$!
    SERVER_PIDS+=("$SERVER_PID")
    SERVER_OUT=$out
    PORT=
    for _ in $(seq 150); do
        PORT=$(head -n 1 "$out" 2>/dev/null)
        [[ "$PORT" =~ ^[0-9]+$ ]] && break
        kill -0 "$SERVER_PID" 2>/dev/null || fail "server exited at start"
        sleep 0.1
    done
    [[ "$PORT" =~ ^[0-9]+$ ]] || fail "server printed no port"
    cat >"$FREETDSCONF" <<CONF
[dv]
	host = 127.0.0.1
	port = $PORT
	tds version = 7.4
	timeout = 2
	connect timeout = 5
CONF
}

# stop_server: SIGTERM and wait for a clean exit (status 0).
stop_server() {
    kill -TERM "$SERVER_PID" || fail "server not running"
    local rc
    wait "$SERVER_PID"
    rc=$?
    [[ $rc -eq 0 ]] || fail "server exit status $rc after SIGTERM"
}

# tsql_run [USER [PASSWORD]] < script: tsql against the server; batches end with "go".
tsql_run() {
    timeout 60 tsql -H 127.0.0.1 -p "$PORT" -U "${1:-sa}" -P "${2:-$PW}" 2>&1
}

# dump_bytes: every byte of the packets FreeTDS dumped to $WORK/dump.log
# (TDSDUMP), as one hex string.
dump_bytes() {
    sed -n 's/^[0-9a-f]\{4\} \([0-9a-f -]\{47\}\).*/\1/p' "$WORK/dump.log" | tr -d ' \n-'
}

# utf16 TEXT: ASCII text as UTF-16LE hex, as names go on the wire.
utf16() { printf '%s' "$1" | iconv -f ascii -t utf-16le | od -An -tx1 | tr -d ' \n'; }

# isql_run < statements (one per line), through the FreeTDS ODBC driver with SQLExecDirect.
isql_run() {
    timeout 60 isql -k "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=$PORT;UID=sa;PWD=$PW;TDS_Version=7.4" -b -e -v 2>&1
}

# isql_conf_run < statements: like isql_run but through the "dv" entry (2 s query time-out).
isql_conf_run() {
    timeout 60 isql -k "DRIVER={FreeTDS};Servername=dv;UID=sa;PWD=$PW" -b -e -v 2>&1
}

# bsqldb_run < script: DB-Library's batch client through the "dv" entry.
bsqldb_run() {
    timeout 60 bsqldb -S dv -U sa -P "$PW" 2>&1
}

done_checks() {
    echo "all $CHECKS checks passed"
}
