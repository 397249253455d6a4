#!/usr/bin/env bash
# Proves the Windows build under Wine (CI runs it after the other stages):
#   1. scripts/windows.sh --tests cross-builds the tool (Qt for Windows from
#      its cache, or built once), its folder and zip, and the suites that need
#      no server;
#   2. those suites run under Wine, and the log encoding's digest over every
#      BMP character equals the Linux build's;
#   3. the Linux build's test server, and dorvane.exe from the folder under
#      Wine on Xvfb, driven by keystrokes only: login through Wine's odbc32
#      (which hands the calls to this machine's unixODBC and FreeTDS), the
#      login packet inside TLS as the default server offers it, backup
#      of master into a folder, a console select whose rows are copied out
#      of the grid by keys, the operation log saved with F10; the saved file is compared byte for
#      byte with the expected GBK text with CR LF line ends, the times in it
#      by pattern.
# The work folder is removed on success and kept (and named) on failure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=lib/check.sh
. "$here/scripts/lib/check.sh"
# shellcheck source-path=SCRIPTDIR source=lib/xdrive.sh
. "$here/scripts/lib/xdrive.sh"
# shellcheck source-path=SCRIPTDIR source=lib/testserver.sh
. "$here/scripts/lib/testserver.sh"

need_packages check-windows wine64 xvfb xauth xdotool xclip procps unzip
wine_work check-windows /var/tmp/dorvane-win.XXXXXX "mscoree,mshtml="

# --- 1. the Windows build ----------------------------------------------------
bash "$here/scripts/windows.sh" --tests
version=$(sed -n 's/^project(Dorvane VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
dist=$here/build-windows/dorvane-$version-win64
for f in dorvane.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    platforms/qwindows.dll translations/qtbase_zh_CN.qm qt.conf; do
    [[ -s $dist/$f ]] || die "the folder lacks $f"
done
[[ -s $dist.zip ]] || die "no zip"
zip_list=$(unzip -l "$dist.zip")
grep -q "dorvane-$version-win64/dorvane.exe" <<<"$zip_list" || die "the zip lacks dorvane.exe"
# A GUI program: the PE optional header's subsystem is 2 (Windows GUI).
pe=$(od -An -tu4 -j 60 -N4 "$dist/dorvane.exe" | tr -d ' ')
subsystem=$(od -An -tu2 -j $((pe + 24 + 68)) -N2 "$dist/dorvane.exe" | tr -d ' ')
[[ $subsystem == 2 ]] || die "dorvane.exe has subsystem $subsystem, not the Windows GUI (2)"
ok "Windows build: $dist ($(du -sh "$dist" | cut -f1)), zip $(du -h "$dist.zip" | cut -f1); dorvane.exe is a GUI program"
stage "windows build"

# The Linux build gives the test server and the reference for the encoding.
"$here/scripts/build.sh" "$here/build" dorvane-testserver tst_logencoding >/dev/null
stage "linux build (test server)"

"$wine" wineboot -i >"$work/wineboot.log" 2>&1 || die "wineboot: $(tail -5 "$work/wineboot.log")"
/usr/lib/wine/wineserver -w
stage "wine prefix"

# --- 2. the suites that need no server, under Wine --------------------------
winpath() { printf 'Z:%s' "$1"; }
suites=0
for exe in "$here"/build-windows/tests/tst_*.exe; do
    name=$(basename "$exe" .exe)
    outf=$work/$name.txt
    rc=0
    (cd "$work" && "$wine" "$exe" -o "$(winpath "$outf"),txt" >"$work/$name.out" 2>&1) || rc=$?
    [[ -s $outf ]] || die "$name.exe wrote no results (status $rc): $(tail -5 "$work/$name.out")"
    grep -qE '^Totals: [0-9]+ passed, 0 failed' "$outf" || die "$name.exe under Wine:
$(grep -E '^(FAIL|Totals)' "$outf")"
    [[ $rc -eq 0 ]] || die "$name.exe exited with status $rc"
    suites=$((suites + 1))
    echo "  $name.exe: $(grep '^Totals' "$outf")"
done
[[ $suites -ge 5 ]] || die "only $suites suites were built for Windows"
digest() { sed -n 's/.*bmp-gbk-sha256 \([0-9a-f]*\) .*/\1/p' "$1"; }
linux_digest=$(cd "$work" && "$here/build/tests/tst_logencoding" wholeBmp 2>&1 | tee "$work/linux-encoding.out" |
    sed -n 's/.*bmp-gbk-sha256 \([0-9a-f]*\) .*/\1/p')
wine_digest=$(digest "$work/tst_logencoding.txt")
[[ -n $linux_digest && $linux_digest == "$wine_digest" ]] ||
    die "GBK bytes differ between Linux ($linux_digest) and Windows ($wine_digest)"
ok "$suites suites passed under Wine; every BMP character outside the Private Use Area encodes to the same GBK bytes as on Linux ($linux_digest)"
stage "suites under wine"
# The suites ran without a display; Wine's desktop process started then
# would keep the window off Xvfb: end the prefix's processes first.
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w

# --- 3. the tool under Wine, by keystrokes ------------------------------------
pw="Win-$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')"
mkdir -p "$work/data" "$work/files"
start_testserver "$here/build/testserver/dorvane-testserver" "$work/data" "$pw" "$work/server.out" \
    "$work/server.err" --trace "$work/trace.log"
server_pid=$testserver_pid
port=$testserver_port
[[ -n $port ]] || die "the test server printed no port: $(cat "$work/server.err")"

xd_start_xvfb "$work"
xvfb_pid=$xd_xvfb_pid
started=$(date +%s%N)
(cd "$work" && exec env -u QT_QPA_PLATFORM "$wine" "$dist/dorvane.exe" >"$work/app.out" 2>"$work/app.err") &
app_pid=$!
xd_watch_pid=$app_pid
xd_watch_err=$work/app.err
xd_title="Dorvane$version"
xd_find_main 180
up_ms=$((($(date +%s%N) - started) / 1000000))
ok "dorvane.exe opened its window under Wine in $((up_ms / 1000)).$(printf '%03d' $((up_ms % 1000))) s"
stage "window up"

xd_login "127.0.0.1,$port" sa "$pw"
traced() { grep -qF -- "$1" "$work/trace.log" 2>/dev/null; }
wait_for 30 traced "select name from master..sysdatabases order by name" || die "no login reached the server"
grep -q "^#### LOGIN spid=[0-9]* user=sa .* encryption=login$" "$work/trace.log" ||
    die "no login record with the login packet encrypted in the trace: $(grep '^#### LOGIN' "$work/trace.log")"
ok "logged in through Wine's ODBC, the login packet inside TLS (trace: login and database list)"

bak=$work/files/MASTER.BAK
xd_backup master "$bak"
traced "BACKUP DATABASE master TO DUMPX" || die "no backup batch reached the server"
[[ -s $bak ]] || die "no backup file at $bak"
ok "backup of master by keystrokes: $bak ($(stat -c %s "$bak") bytes)"
key Return
wait_for 10 one_window || die "the outcome box did not close on Enter"

# The console: from the backup page, Ctrl+Shift+Tab three times (login, then
# around to the last page).
focus_main
key ctrl+shift+Tab ctrl+shift+Tab ctrl+shift+Tab
sleep 0.5
sql="select name from master..sysdatabases where name in ('master','model') order by name"
# Typed in ASCII: xdotool types a character without a key by remapping one
# spare key, and Wine 8 keeps the first such mapping ("中文" arrived as "中中").
typed "$sql"
key F5
wait_for 30 traced "$sql" || die "the console select did not reach the server"
# The page logs the statement only once the select has opened its result:
# the saved log below must hold it.
sleep 1
ok "the console select reached the server (trace)"

# Its rows in the grid: a click into the grid, Ctrl+A and Ctrl+Shift+C copy
# them with the title; Wine hands the clipboard to X, where xclip reads it.
focus_main
eval "$(xdotool getwindowgeometry --shell "$xd_win")"
# The grid fills the page below the editor down to the status bar.
xdotool mousemove --window "$xd_win" $((WIDTH / 2)) $((HEIGHT - 110)) click 1
sleep 0.5
key ctrl+a ctrl+shift+c
clip() { xclip -o -selection clipboard 2>/dev/null || true; }
# Wine turns the CR LF between rows into LF when it hands the text to X.
copied() { [[ $(clip | tr -d '\r') == $'name\nmaster\nmodel' ]]; }
wait_for 15 copied || die "the grid did not hold the select's rows; the clipboard: $(clip | od -c | head -4)"
ok "the select's rows are in the grid (copied from it with the title: $(clip | tr '\r\n' '  ' | tr -s ' '))"

# Through the backup page: from there Alt+O leaves the focus in the log.
focus_main
key alt+b
sleep 0.5
key alt+o
sleep 0.5
key F10
save_dialog() { [[ -n $(visible '日志保存窗口') ]]; }
wait_for 30 save_dialog || die "F10 opened no save dialog"
sleep 0.5
log=$work/files/oplog.txt
typed "$(winpath "$log")"; key Return
saved() { [[ -s $log ]]; }
wait_for 30 saved || die "the operation log was not saved"
sleep 0.5

# The saved file, byte for byte: the expected text, GBK with CR LF, the
# times replaced by one placeholder on both sides.
expected=$work/expected.txt
{
    printf 'TIME\n成功登录数据库服务器:[127.0.0.1,%s]\n--------------------------------------\n' "$port"
    printf 'TIME\n备份数据库\nuse master\n'
    printf "if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'\n"
    printf "EXEC sp_addumpdevice 'disk', 'DUMPX', N'%s'\n" "$bak"
    printf 'BACKUP DATABASE master TO DUMPX\n操作成功\n--------------------------------------\n'
    printf 'TIME\n执行sql：%s\n--------------------------------------\n' "$sql"
} | sed 's/$/\r/' | iconv -f UTF-8 -t GBK >"$expected"
sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\r$/TIME\r/' "$log" >"$work/saved-masked.txt"
if ! cmp -s "$expected" "$work/saved-masked.txt"; then
    die "the saved log differs from the expected bytes:
$(diff <(od -c "$expected") <(od -c "$work/saved-masked.txt") | head -20)"
fi
ok "the log saved with F10 is the expected GBK text with CR LF, byte for byte ($(stat -c %s "$log") bytes)"

xd_close_with_alt_x "$app_pid" 30 || die "Alt+X did not close the window"
app_rc=0
wait "$app_pid" || app_rc=$?
app_pid=
[[ $app_rc -eq 0 ]] || die "dorvane.exe exited with status $app_rc: $(tail -5 "$work/app.err")"
ok "Alt+X closed the window; dorvane.exe exited with status 0"
stage "tool under wine"

echo "check-windows: $passed passed, 0 failed; $(($(date +%s) - t0)) s (${timings[*]})"
