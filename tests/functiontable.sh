#!/usr/bin/env bash
# docs/functions.md lists the built-in functions as the test server answers
# them: its table must be what `dorvane-testserver --function-table` prints
# now. After a change to the functions, regenerate the table (see the doc).
# Usage: functiontable.sh SERVER_EXE SOURCE_DIR
set -u
exe=$1
doc=$2/docs/functions.md
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$exe" --function-table > "$tmp/now.md" || { echo "--function-table failed"; exit 1; }
grep '^|' "$doc" > "$tmp/doc.md"
[ -s "$tmp/now.md" ] || { echo "--function-table printed nothing"; exit 1; }
if ! diff -u "$tmp/doc.md" "$tmp/now.md"; then
    echo "docs/functions.md differs from what the server answers (lines + are the server's)"
    exit 1
fi
echo "docs/functions.md matches the server: $(grep -c '| answered |' "$tmp/now.md") answered, $(grep -c '| refused |' "$tmp/now.md") refused"
