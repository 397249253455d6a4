#!/usr/bin/env bash
# No function in the tool or the test server runs over 80 lines, as pmccabe
# counts them (its fifth column). Before the real check, a probe with an
# 81-line function must be reported and one with 80 lines must not, so a
# pmccabe that reads nothing cannot pass for a clean tree.
# Usage: functionlength.sh SOURCE_DIR
set -u
src=$1
limit=80
command -v pmccabe >/dev/null || { echo "pmccabe is not installed"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

probe() { # lines-in-body file
    {
        echo "namespace probe {"
        echo "int f(int x)"
        echo "{"
        for ((i = 0; i < $1 - 4; i++)); do echo "    x += $i;"; done
        echo "    return x;"
        echo "}"
        echo "}"
    } > "$2"
}
probe $((limit + 1)) "$tmp/long.cpp"
probe "$limit" "$tmp/short.cpp"
long=$(pmccabe "$tmp/long.cpp" | awk -v l=$limit '$5 > l' | wc -l)
short=$(pmccabe "$tmp/short.cpp" | awk -v l=$limit '$5 > l' | wc -l)
if [ "$long" -ne 1 ] || [ "$short" -ne 0 ]; then
    echo "pmccabe probe failed: an $((limit + 1))-line function reported $long times, an $limit-line one $short times"
    exit 1
fi

cd "$src"
mapfile -t files < <(ls src/*/*.cpp src/*/*.h testserver/*/*.cpp testserver/*/*.h 2>/dev/null)
[ ${#files[@]} -gt 50 ] || { echo "only ${#files[@]} source files found under $src"; exit 1; }
over=$(pmccabe "${files[@]}" 2>/dev/null | awk -v l=$limit '$5 > l { print $5 " lines: " $6 " " $7 }')
if [ -n "$over" ]; then
    echo "functions over $limit lines:"
    echo "$over"
    exit 1
fi
echo "ok: no function over $limit lines in ${#files[@]} files"
