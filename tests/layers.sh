#!/usr/bin/env bash
# The layers of the tool and the rooms of the test server hold: a source of
# each compiles with the headers of its own and lower layers, and an include
# that reaches a higher layer (or a widget header from below the window) does
# not compile. Each "must fail" case
# is paired with one that must compile with the same flags, so a broken command
# line cannot pass for a refused include.
# Usage: layers.sh BUILD_DIR SOURCE_DIR
set -u
build=$1
src=$2
db="$build/compile_commands.json"
[ -f "$db" ] || { echo "no $db"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# The compile command of one source file, turned into a syntax check of $2.
flags_for() {
    local cmd
    cmd=$(grep -B1 "\"file\": \"$1\"" "$db" | sed -n 's/^ *"command": "\(.*\)",$/\1/p' | head -n 1)
    [ -n "$cmd" ] || { echo "no compile command for $1" >&2; return 1; }
    cmd=$(printf '%s' "$cmd" | sed -e 's/\\"/"/g' -e 's/ -o [^ ]*//' -e 's/ -c [^ ]*$//')
    printf '%s' "$cmd"
}

check() { # layer-file  expect(ok|fail)  include-line
    local cmd
    cmd=$(flags_for "$src/$1") || { failures=$((failures + 1)); return; }
    printf '%s\nint main() { return 0; }\n' "$3" > "$tmp/probe.cpp"
    # A refusal counts only when the header was not found; any other error
    # means the probe itself is broken.
    if (cd "$build" && eval "$cmd -fsyntax-only $tmp/probe.cpp") > "$tmp/out" 2>&1; then
        got=ok
    elif grep -qE 'No such file or directory|file not found' "$tmp/out"; then
        got=fail
    else
        got=error
    fi
    if [ "$got" = "$2" ]; then
        echo "ok   $1: $3 ($got)"
    else
        echo "FAIL $1: $3 expected $2, got $got"; sed -n 1,5p "$tmp/out"
        failures=$((failures + 1))
    fi
}

check src/core/sqltext.cpp    ok   '#include "core/oplog.h"'
check src/core/sqltext.cpp    fail '#include "client/dbclient.h"'
check src/core/sqltext.cpp    fail '#include "main/tfmain.h"'
check src/core/sqltext.cpp    fail '#include <QWidget>'
check src/client/query.cpp    ok   '#include "core/sqltext.h"'
check src/client/query.cpp    ok   '#include "client/resultset.h"'
check src/client/query.cpp    fail '#include "main/uikit.h"'
check src/client/query.cpp    fail '#include "console/editsql.h"'
check src/client/query.cpp    fail '#include <QWidget>'
check src/main/tfmain.cpp     ok   '#include "console/resultmodel.h"'
check src/main/tfmain.cpp     ok   '#include "client/query.h"'
check src/main/tfmain.cpp     fail '#include "app/application.h"'
check src/console/editsql.cpp ok   '#include "main/tfmain.h"'
check src/console/editsql.cpp fail '#include "app/application.h"'

# The test server's rooms: base <- tsql <- engine <- wire <- app; the wire
# sees the engine's headers but not the T-SQL front's.
check testserver/base/decimal.cpp     ok   '#include "base/collation.h"'
check testserver/base/decimal.cpp     fail '#include "tsql/sqllexer.h"'
check testserver/base/decimal.cpp     fail '#include "engine/engine.h"'
check testserver/base/decimal.cpp     fail '#include "wire/tdsbuffer.h"'
check testserver/tsql/sqlparse.cpp    ok   '#include "base/values.h"'
check testserver/tsql/sqlparse.cpp    fail '#include "engine/engine.h"'
check testserver/tsql/sqlparse.cpp    fail '#include "engine/catalog.h"'
check testserver/tsql/sqlparse.cpp    fail '#include "wire/tdsbuffer.h"'
check testserver/engine/engine.cpp    ok   '#include "tsql/sqltranslate.h"'
check testserver/engine/engine.cpp    ok   '#include "base/decimal.h"'
check testserver/engine/engine.cpp    fail '#include "wire/tdsserver.h"'
check testserver/wire/tdsserver.cpp   ok   '#include "engine/engine.h"'
check testserver/wire/tdsserver.cpp   fail '#include "tsql/sqltranslate.h"'
check testserver/app/main.cpp         ok   '#include "wire/tdsserver.h"'
check testserver/app/main.cpp         fail '#include "tsql/sqllexer.h"'

# Relative includes would walk around the include roots; only the ODBC client
# sees the ODBC headers.
rel=$(grep -rn '#include *"\.\./' "$src/src" "$src/testserver" || true)
if [ -n "$rel" ]; then echo "FAIL relative includes:"; echo "$rel"; failures=$((failures + 1)); fi
odbc=$(grep -rln '#include *<sql' "$src/src" | grep -v "^$src/src/client/odbcclient.cpp$" || true)
if [ -n "$odbc" ]; then echo "FAIL ODBC headers outside the client:"; echo "$odbc"; failures=$((failures + 1)); fi

[ "$failures" -eq 0 ] && echo "layers hold" || echo "$failures layer check(s) failed"
exit $((failures > 0))
