#!/usr/bin/env bash
# Proves the Windows installer under Wine (CI runs it after check-windows.sh,
# whose Qt for Windows it reuses from the cache):
#   1. scripts/windows.sh builds the installer of the project's version, and
#      with --test-version one of the next patch version;
#   2. both are read back: the files each installs (7-Zip lists and unpacks
#      NSIS installers) equal the folder's byte for byte; the installer's and
#      dorvane.exe's version resources name the product, version and
#      publisher; dorvane.exe carries its icon;
#   3. a silent install (/S) in a fresh Wine prefix puts the folder's files
#      under Program Files\Dorvane, the Start-menu shortcut
#      "Dorvane 数据库管理" and the uninstall entry (name, version,
#      publisher, icon, size, uninstall commands) into the prefix's Start-menu
#      folder and registry; the installed dorvane.exe, started through that
#      shortcut on Xvfb, opens its window and logs in by keystrokes to the
#      test server set to require encryption (the whole session in TLS);
#   4. the second installer, silent, upgrades in place: one entry, of the new
#      version, and exactly the new version's files;
#   5. the silent uninstaller leaves no file, folder, shortcut or entry;
#   6. an upgrade also removes a file the new version no longer ships (the
#      older installer built by the same function from the folder plus one
#      file), and the removal after it leaves nothing either.
# The work folder is removed on success and kept (and named) on failure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=lib/check.sh
. "$here/scripts/lib/check.sh"
# shellcheck source-path=SCRIPTDIR source=lib/xdrive.sh
. "$here/scripts/lib/xdrive.sh"
# shellcheck source-path=SCRIPTDIR source=lib/testserver.sh
. "$here/scripts/lib/testserver.sh"
# shellcheck source-path=SCRIPTDIR source=lib/nsis.sh
. "$here/scripts/lib/nsis.sh"

need_packages check-installer wine64 xvfb xauth xdotool procps 7zip icoutils
# Wine names files on Linux in the locale's character set: without UTF-8
# the shortcut "Dorvane 数据库管理.lnk" is not written at all.
export LC_ALL=C.UTF-8
# winemenubuilder would copy the shortcut into this machine's own menus.
wine_work check-installer /var/tmp/dorvane-setup.XXXXXX "mscoree,mshtml,winemenubuilder.exe="

# --- 1. the installers --------------------------------------------------------
version=$(sed -n 's/^project(Dorvane VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
[[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || die "no version in CMakeLists.txt"
next=${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.$((BASH_REMATCH[3] + 1))
out=$here/build-windows
# The higher version first, moved out of build-windows/; then the project's
# own, so build-windows/ ends as scripts/windows.sh leaves it.
bash "$here/scripts/windows.sh" --test-version "$next" >"$work/windows-$next.log" 2>&1 ||
    die "scripts/windows.sh --test-version $next: $(tail -20 "$work/windows-$next.log")"
mv "$out/dorvane-$next-win64" "$out/dorvane-$next-win64-setup.exe" "$work/"
rm -f "$out/dorvane-$next-win64.zip"
bash "$here/scripts/windows.sh" >"$work/windows.log" 2>&1 ||
    die "scripts/windows.sh: $(tail -20 "$work/windows.log")"
dist=$out/dorvane-$version-win64
setup=$dist-setup.exe
dist_next=$work/dorvane-$next-win64
setup_next=$work/dorvane-$next-win64-setup.exe
[[ -s $setup ]] || die "scripts/windows.sh wrote no installer ($setup)"
[[ -s $dist.zip ]] || die "scripts/windows.sh no longer writes the zip"
ok "installers built: $(basename "$setup") ($(du -h "$setup" | cut -f1)), $(basename "$setup_next")"
stage "build"

# --- 2. read back ---------------------------------------------------------------
# pe_string FILE KEY: a string of FILE's version resource (UTF-16; keys and
# values end in NULs, so one per line once the NULs are line ends).
pe_string() {
    wrestool -x --raw -t 16 "$1" | iconv -f UTF-16LE -t UTF-8 -c | tr '\0' '\n' |
        awk -v k="$2" 'found && NF { print; exit }
            !found && substr($0, length($0) - length(k) + 1) == k { found = 1 }'
}
# pe_fixed_version FILE: the binary file version (VS_FIXEDFILEINFO) as A.B.C.D.
pe_fixed_version() {
    local hex
    hex=$(wrestool -x --raw -t 16 "$1" | od -An -v -tx1 | tr -d ' \n' | grep -o 'bd04effe.\{24\}' | head -n 1)
    [[ -n $hex ]] || return 0
    # signature, struct version, then the MS and LS words, little-endian.
    printf '%d.%d.%d.%d\n' "0x${hex:22:2}${hex:20:2}" "0x${hex:18:2}${hex:16:2}" \
        "0x${hex:30:2}${hex:28:2}" "0x${hex:26:2}${hex:24:2}"
}
expect_string() {
    local got
    got=$(pe_string "$1" "$2")
    [[ $got == "$3" ]] || die "$(basename "$1"): $2 is '$got', not '$3'"
}
menu_name="Dorvane 数据库管理"
publisher="Dorvane maintainers"

# folder_sums DIR: every file under DIR, relative, with its SHA-256.
folder_sums() { (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs -r -d '\n' sha256sum); }

readback() {
    local exe=$1 folder=$2 ver=$3 x=$work/unpacked-$3 info
    info=$(7zz l -slt "$exe") || die "7-Zip cannot read $(basename "$exe")"
    grep -q '^SubType = NSIS-3 Unicode 64-bit' <<<"$info" ||
        die "$(basename "$exe") is not a 64-bit Unicode NSIS 3 installer: $(grep '^SubType' <<<"$info")"
    rm -rf "$x"
    7zz x -y -o"$x" "$exe" >/dev/null || die "7-Zip cannot unpack $(basename "$exe")"
    [[ -s $x/uninstall.exe ]] || die "$(basename "$exe") writes no uninstall.exe"
    rm -rf "$x/\$PLUGINSDIR" "$x/uninstall.exe"
    diff <(folder_sums "$folder") <(folder_sums "$x") >"$work/readback-$ver.diff" ||
        die "$(basename "$exe") does not install the folder's files:
$(head -20 "$work/readback-$ver.diff")"
    expect_string "$exe" ProductName Dorvane
    expect_string "$exe" ProductVersion "$ver"
    expect_string "$exe" CompanyName "$publisher"
    expect_string "$exe" FileDescription "$menu_name 安装程序"
    local app=$folder/dorvane.exe
    expect_string "$app" ProductName Dorvane
    expect_string "$app" ProductVersion "$ver"
    expect_string "$app" FileVersion "$ver"
    expect_string "$app" CompanyName "$publisher"
    expect_string "$app" FileDescription "$menu_name"
    expect_string "$app" OriginalFilename dorvane.exe
    [[ $(pe_fixed_version "$app") == "$ver.0" ]] ||
        die "dorvane.exe's binary file version is '$(pe_fixed_version "$app")', not $ver.0"
    wrestool -l "$app" | grep -q 'type=group_icon' || die "dorvane.exe carries no icon"
}
readback "$setup" "$dist" "$version"
readback "$setup_next" "$dist_next" "$next"
ok "read back: both install exactly their folder's $(find "$dist" -type f | wc -l) files plus uninstall.exe; product Dorvane, versions $version and $next, publisher '$publisher'; dorvane.exe has its icon and version resource"
stage "read back"

# --- 3. silent install -----------------------------------------------------------
xd_start_xvfb "$work"
xvfb_pid=$xd_xvfb_pid
"$wine" wineboot -i >"$work/wineboot.log" 2>&1 || die "wineboot: $(tail -5 "$work/wineboot.log")"
/usr/lib/wine/wineserver -w
stage "wine prefix"

drive_c=$WINEPREFIX/drive_c
instdir=$drive_c/Program\ Files/Dorvane
lnk="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$menu_name.lnk"
uninst_key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# run_setup EXE: runs EXE silently and waits for every process it started.
run_setup() {
    local rc=0
    "$wine" "$1" /S >"$work/setup.out" 2>&1 || rc=$?
    /usr/lib/wine/wineserver -w
    [[ $rc -eq 0 ]] || die "$(basename "$1") /S exited with status $rc"
}
# read_entries: exports the uninstall entries as UTF-8 text to $entries_txt,
# which entry_value and dorvane_entries read.
entries_txt=$work/uninstall.txt
read_entries() {
    local reg=$work/uninstall.reg
    rm -f "$reg"
    "$wine" regedit /E "$(winpath "$reg")" "$uninst_key" >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
    [[ -s $reg ]] || die "regedit exported nothing from $uninst_key"
    iconv -f UTF-16 -t UTF-8 "$reg" | tr -d '\r' >"$entries_txt"
}
# entry_value NAME: NAME's line in the Dorvane entry.
entry_value() {
    awk -v k="\"$1\"=" '/^\[/ { inside = ($0 ~ /\\Uninstall\\Dorvane\]$/) }
        inside && index($0, k) == 1 { print substr($0, length(k) + 1) }' "$entries_txt"
}
dorvane_entries() { grep -c '^"DisplayName"="Dorvane' "$entries_txt" || true; }
# installed_matches FOLDER: the install folder holds exactly FOLDER's files,
# byte for byte, and the uninstaller.
installed_matches() {
    [[ -s $instdir/uninstall.exe ]] || die "no uninstall.exe under Program Files\\Dorvane"
    diff <(folder_sums "$1") <(folder_sums "$instdir" | grep -v '  uninstall\.exe$') >"$work/installed.diff" ||
        die "Program Files\\Dorvane differs from $(basename "$1"):
$(head -20 "$work/installed.diff")"
}

run_setup "$setup"
installed_matches "$dist"
ok "silent install: Program Files\\Dorvane holds the folder's $(find "$dist" -type f | wc -l) files byte for byte and uninstall.exe"

[[ -s $lnk ]] || die "no Start-menu shortcut '$menu_name.lnk': $(ls "$(dirname "$lnk")")"
strings -a "$lnk" | grep -qxF 'C:\Program Files\Dorvane\dorvane.exe' ||
    die "the shortcut does not point at C:\\Program Files\\Dorvane\\dorvane.exe"
ok "Start-menu shortcut: ProgramData\\...\\Programs\\$menu_name.lnk -> C:\\Program Files\\Dorvane\\dorvane.exe"

read_entries
[[ $(dorvane_entries) -eq 1 ]] || die "$(dorvane_entries) uninstall entries named Dorvane, not 1"
expect_entry() {
    local got
    got=$(entry_value "$1")
    [[ $got == "$2" ]] || die "uninstall entry: $1 is [$got], not [$2]"
}
expect_entry DisplayName "\"$menu_name\""
expect_entry DisplayVersion "\"$version\""
expect_entry Publisher "\"$publisher\""
expect_entry DisplayIcon '"C:\\Program Files\\Dorvane\\dorvane.exe,0"'
expect_entry InstallLocation '"C:\\Program Files\\Dorvane"'
expect_entry UninstallString '"\"C:\\Program Files\\Dorvane\\uninstall.exe\""'
expect_entry QuietUninstallString '"\"C:\\Program Files\\Dorvane\\uninstall.exe\" /S"'
size_kb=$((16#$(entry_value EstimatedSize | sed -n 's/^dword://p')))
du_kb=$(du -sk "$instdir" | cut -f1)
((size_kb > du_kb * 9 / 10 && size_kb < du_kb * 11 / 10)) ||
    die "uninstall entry: EstimatedSize $size_kb KB, the folder takes $du_kb KB"
ok "uninstall entry: DisplayName \"$menu_name\", version $version, publisher, icon, $size_kb KB, uninstall commands"
stage "install"

# The installed tool, started through the shortcut, logs in by keystrokes.
pw="Setup-$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')"
mkdir -p "$work/data"
"$here/scripts/build.sh" "$here/build" dorvane-testserver >/dev/null
start_testserver "$here/build/testserver/dorvane-testserver" "$work/data" "$pw" "$work/server.out" \
    "$work/server.err" --trace "$work/trace.log" --encrypt required
server_pid=$testserver_pid
port=$testserver_port
[[ -n $port ]] || die "the test server printed no port: $(cat "$work/server.err")"

# Started as the Start menu does: the shell opens the shortcut, which starts
# the installed program (and returns at once). The program is found by its
# command line in this prefix.
start_rc=0
(cd "$work" && env -u QT_QPA_PLATFORM "$wine" start "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\$menu_name.lnk" \
    >"$work/start.out" 2>&1) || start_rc=$?
[[ $start_rc -eq 0 ]] || die "wine start on the shortcut: status $start_rc: $(cat "$work/start.out")"
installed_pid() {
    local p
    for p in $(pgrep -f '^C:.Program Files.Dorvane.dorvane\.exe' || true); do
        if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            app_pid=$p
            return 0
        fi
    done
    return 1
}
for _ in $(seq 300); do installed_pid && break; sleep 0.1; done
[[ -n $app_pid ]] || die "the shortcut started no C:\\Program Files\\Dorvane\\dorvane.exe: $(cat "$work/start.out")"
xd_watch_pid=$app_pid
xd_watch_err=$work/start.out
xd_title="Dorvane$version"
xd_find_main 180
ok "the shortcut started C:\\Program Files\\Dorvane\\dorvane.exe; its window is up"

xd_login "127.0.0.1,$port" sa "$pw"
traced() { grep -qF -- "$1" "$work/trace.log" 2>/dev/null; }
wait_for 30 traced "select name from master..sysdatabases order by name" || die "no login reached the server"
grep -q "^#### LOGIN spid=[0-9]* user=sa .* encryption=full$" "$work/trace.log" ||
    die "no fully encrypted login in the trace: $(grep '^#### LOGIN' "$work/trace.log")"
ok "the installed dorvane.exe logged in by keystrokes to a server that requires encryption (trace: login and database list)"
xd_close_with_alt_x "$app_pid" 30 || die "Alt+X did not close the window"
/usr/lib/wine/wineserver -w
stage "installed tool"

# --- 4. upgrade in place ------------------------------------------------------------
old_exe=$(sha256sum <"$instdir/dorvane.exe")
[[ $old_exe != $(sha256sum <"$dist_next/dorvane.exe") ]] || die "dorvane.exe of $version and $next are the same file"
run_setup "$setup_next"
installed_matches "$dist_next"
read_entries
[[ $(dorvane_entries) -eq 1 ]] || die "after the upgrade: $(dorvane_entries) uninstall entries named Dorvane, not 1"
expect_entry DisplayVersion "\"$next\""
expect_entry DisplayName "\"$menu_name\""
[[ -s $lnk ]] || die "the upgrade lost the shortcut"
expect_string "$instdir/dorvane.exe" FileVersion "$next"
ok "upgrade to $next in place: one entry, version $next; Program Files\\Dorvane holds exactly $next's files (dorvane.exe's version $next)"
stage "upgrade"

# --- 5. silent removal ----------------------------------------------------------------
# removed_clean: the silent uninstaller leaves nothing of the install.
removed_clean() {
    run_setup "$instdir/uninstall.exe"
    # The uninstaller runs from a copy of itself: run_setup waited for it.
    [[ ! -e $instdir ]] || die "left under Program Files\\Dorvane: $(cd "$instdir" && find . -mindepth 1 | head)"
    [[ ! -e $lnk ]] || die "the shortcut is left"
    read_entries
    [[ $(dorvane_entries) -eq 0 ]] || die "the uninstall entry is left"
    ! grep -q 'Uninstall\\\\Dorvane\]' "$WINEPREFIX/system.reg" || die "the entry's key is left in system.reg"
}
removed_clean
ok "silent removal: no Program Files\\Dorvane, no shortcut, no uninstall entry"
stage "removal"

# --- 6. an upgrade removes what the new version no longer ships -------------------------
old=$work/dorvane-$version-older
cp -r "$dist" "$old"
printf 'a library the next version no longer ships\n' >"$old/platforms/qobsolete.dll"
nsis_installer "$old" "$version" "$out/build/src/app/dorvane.ico" "$work/older-setup.exe" "$work/nsis-older" ||
    die "makensis: $(tail -20 "$work/nsis-older/makensis.log")"
run_setup "$work/older-setup.exe"
installed_matches "$old"
run_setup "$setup_next"
installed_matches "$dist_next"
read_entries
[[ $(dorvane_entries) -eq 1 ]] || die "after the upgrade: $(dorvane_entries) uninstall entries named Dorvane, not 1"
removed_clean
ok "upgrade over a version with one more file: platforms\\qobsolete.dll removed, exactly $next's files; then removed clean"
stage "obsolete file"

echo "check-installer: $passed passed, 0 failed; $(($(date +%s) - t0)) s (${timings[*]})"
