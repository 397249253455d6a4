#!/usr/bin/env bash
# Proves the Debian packages end to end, as root (CI runs it after the tests):
#   1. builds dorvane and dorvane-testserver with dpkg-buildpackage from a
#      clean export of HEAD, and checks them (lintian, desktop entry, AppStream
#      metainfo, icon sizes, dependencies);
#   2. installs both with apt-get while unixODBC's driver list is empty
#      (ODBCSYSINI points unixODBC, and so odbcinst in the maintainer scripts,
#      at a scratch folder): postinst must register FreeTDS there;
#   3. starts the installed dorvane-testserver and the installed dorvane under
#      Xvfb and, by keystrokes only, logs in, backs up master and saves the
#      operation log with F10; checks the backup file, the server trace and
#      the saved log;
#   4. purges both packages: the registration is taken back, dpkg knows
#      neither package, and no file of theirs is left;
#   5. installs and purges once more against the system's own driver list,
#      where tdsodbc has registered FreeTDS: the list must not change.
# The work folder is removed on success and kept (and named) on failure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source-path=SCRIPTDIR source=lib/check.sh
. "$here/scripts/lib/check.sh"
# shellcheck source-path=SCRIPTDIR source=lib/xdrive.sh
. "$here/scripts/lib/xdrive.sh"
# shellcheck source-path=SCRIPTDIR source=lib/testserver.sh
. "$here/scripts/lib/testserver.sh"

[[ $(id -u) -eq 0 ]] || die "needs root: it installs and removes packages"
for p in dorvane dorvane-testserver; do
    if dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qv '^not-installed$'; then
        die "$p is installed already; purge it before running this check"
    fi
done

work=$(mktemp -d /var/tmp/dorvane-deb.XXXXXX)
server_pid=
xvfb_pid=
app_pid=
installed=0
odbc_scratch=
cleanup() {
    local rc=$?
    for p in $app_pid $server_pid $xvfb_pid; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [[ $installed == 1 ]]; then
        # Remove with the driver list the packages were installed against, so
        # that prerm takes back the registration where postinst made it.
        if [[ -n $odbc_scratch ]]; then export ODBCSYSINI=$odbc_scratch; else unset ODBCSYSINI; fi
        apt_get purge dorvane dorvane-testserver >/dev/null 2>&1 || true
    fi
    if [[ $rc -eq 0 ]]; then
        rm -rf "$work"
    else
        echo "check-deb: failed; work folder kept: $work" >&2
    fi
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive

# --- tools ----------------------------------------------------------------
src=$work/src
mkdir -p "$src"
git -C "$here" archive --format=tar HEAD | tar -x -C "$src"
echo "check-deb: building $(git -C "$here" rev-parse --short HEAD) in $work"
missing_packages dpkg-dev debhelper fakeroot lintian desktop-file-utils appstream xvfb xauth xdotool procps
build_deps_met=1
(cd "$src" && dpkg-checkbuilddeps >/dev/null 2>&1) || build_deps_met=0
if [[ ${#missing[@]} -gt 0 || $build_deps_met == 0 ]]; then
    echo "check-deb: installing ${missing[*]}${missing[*]:+ and }the build dependencies"
    apt_get update
    [[ ${#missing[@]} -eq 0 ]] || apt_get install --no-install-recommends "${missing[@]}"
    (cd "$src" && apt_get build-dep --no-install-recommends ./)
fi
stage "tools"

# --- build ----------------------------------------------------------------
cmake_version=$(sed -n 's/^project(Dorvane VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
deb_version=$(cd "$src" && dpkg-parsechangelog -S Version)
[[ -n $cmake_version && $deb_version == "$cmake_version" ]] ||
    die "debian/changelog has $deb_version, CMakeLists.txt has $cmake_version"
ok "package version $deb_version is the program's version"
arch=$(dpkg --print-architecture)
if ! (cd "$src" && DEB_BUILD_OPTIONS="noautodbgsym parallel=$(nproc)" \
        dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1); then
    tail -40 "$work/build.log" >&2
    die "dpkg-buildpackage failed"
fi
mkdir -p "$work/debs"
mv "$work"/*.deb "$work/debs/"
debs=$(cd "$work/debs" && ls)
[[ $debs == "dorvane-testserver_${deb_version}_${arch}.deb"$'\n'"dorvane_${deb_version}_${arch}.deb" ]] ||
    die "expected the two packages, got: $debs"
ok "dpkg-buildpackage built dorvane and dorvane-testserver"
stage "build"

# --- static checks ----------------------------------------------------------
app_deb=$work/debs/dorvane_${deb_version}_${arch}.deb
ts_deb=$work/debs/dorvane-testserver_${deb_version}_${arch}.deb
# (lintian's note that it runs as root goes to stderr, kept apart.)
lintian_out=$(lintian --fail-on error,warning -I "$app_deb" "$ts_deb" 2>"$work/lintian.err") ||
    die "lintian: $lintian_out $(cat "$work/lintian.err")"
ok "lintian: no errors or warnings${lintian_out:+ (other tags: $lintian_out)}"

app_files=$(dpkg-deb -c "$app_deb" | awk '{print $6}')
for f in ./usr/bin/dorvane \
         ./usr/share/applications/org.dorvane.Dorvane.desktop \
         ./usr/share/metainfo/org.dorvane.Dorvane.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/dorvane.svg \
         ./usr/share/icons/hicolor/48x48/apps/dorvane.png \
         ./usr/share/icons/hicolor/64x64/apps/dorvane.png \
         ./usr/share/icons/hicolor/128x128/apps/dorvane.png \
         ./usr/share/man/man1/dorvane.1.gz; do
    grep -qxF "$f" <<<"$app_files" || die "dorvane lacks $f"
done
grep -q 'testserver' <<<"$app_files" && die "dorvane carries test-server files: $app_files"
ts_files=$(dpkg-deb -c "$ts_deb" | awk '{print $6}')
for f in ./usr/bin/dorvane-testserver ./usr/share/man/man1/dorvane-testserver.1.gz; do
    grep -qxF "$f" <<<"$ts_files" || die "dorvane-testserver lacks $f"
done
grep -qxF ./usr/bin/dorvane <<<"$ts_files" && die "dorvane-testserver carries the tool"
ok "each package holds its own files"

x=$work/extract
dpkg-deb -x "$app_deb" "$x"
desktop-file-validate "$x/usr/share/applications/org.dorvane.Dorvane.desktop" ||
    die "desktop-file-validate"
grep -qx 'Exec=dorvane' "$x/usr/share/applications/org.dorvane.Dorvane.desktop" || die "desktop entry: Exec"
grep -qx 'Name\[zh_CN\]=.*' "$x/usr/share/applications/org.dorvane.Dorvane.desktop" || die "desktop entry: no Chinese name"
ok "desktop entry valid"
appstreamcli validate --no-net "$x/usr/share/metainfo/org.dorvane.Dorvane.metainfo.xml" >"$work/appstream.log" 2>&1 ||
    die "appstreamcli validate: $(cat "$work/appstream.log")"
ok "AppStream metainfo valid"
# PNG: width and height are the big-endian words at bytes 16 and 20.
for size in 48 64 128; do
    read -r w h < <(od -An -tu1 -j16 -N8 "$x/usr/share/icons/hicolor/${size}x${size}/apps/dorvane.png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [[ $w == "$size" && $h == "$size" ]] || die "${size}x${size} icon is ${w}x${h}"
done
ok "PNG icons have the sizes of their folders"

app_depends=$(dpkg-deb -f "$app_deb" Depends)
for d in libqt6core6 libqt6gui6 libqt6widgets6 libodbc2 odbcinst tdsodbc fonts-wqy-microhei qt6-translations-l10n; do
    grep -qE "(^|, )$d( |,|$)" <<<"$app_depends" || die "dorvane does not depend on $d: $app_depends"
done
grep -qE "(^|, )libsqlite3-0( |,|$)" <<<"$(dpkg-deb -f "$ts_deb" Depends)" || die "dorvane-testserver: no libsqlite3-0"
ok "dependencies: Qt 6, unixODBC, FreeTDS, the CJK font, the Qt translations"
stage "package checks"

# --- install against an empty driver list -----------------------------------
odbc_scratch=$work/odbc
mkdir -p "$odbc_scratch"
: >"$odbc_scratch/odbcinst.ini"
: >"$odbc_scratch/odbc.ini"
export ODBCSYSINI=$odbc_scratch
installed=1
(cd "$work/debs" && apt_get install ./*.deb) >"$work/install-a.log" 2>&1 ||
    die "apt-get install: $(tail -20 "$work/install-a.log")"
for p in dorvane dorvane-testserver; do
    [[ $(dpkg-query -W -f='${db:Status-Status}' "$p") == installed ]] || die "$p not installed"
done
ok "apt-get install ./*.deb"
odbcinst -q -d -n FreeTDS >/dev/null 2>&1 || die "postinst did not register FreeTDS: $(cat "$odbc_scratch/odbcinst.ini")"
grep -qx 'UsageCount=1' "$odbc_scratch/odbcinst.ini" || die "FreeTDS usage count: $(cat "$odbc_scratch/odbcinst.ini")"
[[ -f /var/lib/dorvane/freetds-registered ]] || die "postinst kept no record of its registration"
ok "postinst registered FreeTDS where nothing had (usage count 1)"
dpkg -L dorvane dorvane-testserver | sort -u >"$work/installed-files"
stage "install"

# --- the installed tool, by keystrokes ---------------------------------------
pw="Pkg-$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')"
mkdir -p "$work/data" "$work/files"
start_testserver /usr/bin/dorvane-testserver "$work/data" "$pw" "$work/server.out" "$work/server.err" \
    --trace "$work/trace.log"
server_pid=$testserver_pid
port=$testserver_port
[[ -n $port ]] || die "the installed test server printed no port: $(cat "$work/server.err")"

xd_start_xvfb "$work"
xvfb_pid=$xd_xvfb_pid
env -u QT_QPA_PLATFORM /usr/bin/dorvane >"$work/app.out" 2>"$work/app.err" &
app_pid=$!
xd_watch_pid=$app_pid
xd_watch_err=$work/app.err
xd_title="Dorvane$deb_version"
xd_find_main 60

xd_login "127.0.0.1,$port" sa "$pw"
traced() { grep -qF -- "$1" "$work/trace.log" 2>/dev/null; }
wait_for 30 traced "select name from master..sysdatabases order by name" || die "no login reached the server"
grep -q "^#### LOGIN spid=[0-9]* user=sa " "$work/trace.log" || die "no login record in the trace"
ok "logged in through the login page (trace: login and database list)"

bak=$work/files/MASTER.BAK
xd_backup master "$bak"
traced "BACKUP DATABASE master TO DUMPX" || die "no backup batch reached the server"
expected_batch="use master
if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'
EXEC sp_addumpdevice 'disk', 'DUMPX', N'$bak'
BACKUP DATABASE master TO DUMPX"
# The last batch in the trace, its CR LF line ends read as LF.
last_batch=$(tr -d '\r' <"$work/trace.log" |
    awk '/^#### BATCH/{inb=1; b=""; next} /^#### END/{if (inb) last=b; inb=0; next} /^#### /{inb=0; next}
         inb{b=b $0 "\n"} END{printf "%s", last}')
[[ $last_batch == "$expected_batch" ]] || die "trace: the backup batch was
$last_batch"
[[ -s $bak ]] || die "no backup file at $bak"
ok "backup of master: the batch in the server trace and the file on disk ($(stat -c %s "$bak") bytes)"

key Return
wait_for 10 one_window || die "the outcome box did not close on Enter"
focus_main
key alt+o
sleep 0.5
key F10
save_dialog() { [[ -n $(visible '日志保存窗口') ]]; }
wait_for 30 save_dialog || die "F10 opened no save dialog"
sleep 0.5
log=$work/files/oplog.txt
typed "$log"; key Return
saved() { [[ -s $log ]]; }
wait_for 30 saved || die "the operation log was not saved"
log_text=$(iconv -f GBK -t UTF-8 "$log")
for want in "成功登录数据库服务器:[127.0.0.1,$port]" "备份数据库" "BACKUP DATABASE master TO DUMPX" "操作成功"; do
    grep -qF -- "$want" <<<"$log_text" || die "saved log lacks '$want':
$log_text"
done
ok "the operation log saved with F10 records the login and the successful backup"

xd_close_with_alt_x "$app_pid" 30 || die "Alt+X did not close the window"
app_rc=0
wait "$app_pid" || app_rc=$?
app_pid=
[[ $app_rc -eq 0 ]] || die "dorvane exited with status $app_rc: $(tail -5 "$work/app.err")"
ok "Alt+X closed the window; dorvane exited with status 0"
kill "$server_pid"
wait "$server_pid" || true
server_pid=
kill "$xvfb_pid"
wait "$xvfb_pid" 2>/dev/null || true
xvfb_pid=
unset DISPLAY
stage "installed tool under Xvfb"

# --- purge: nothing left ----------------------------------------------------
# nothing_left LABEL: neither package known to dpkg, none of their files left.
nothing_left() {
    local p f left
    for p in dorvane dorvane-testserver; do
        ! dpkg -L "$p" >/dev/null 2>&1 || die "$1: dpkg -L $p still lists files"
        [[ $(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true) != installed ]] ||
            die "$1: $p still installed"
    done
    while read -r f; do
        [[ -d $f ]] && continue
        [[ ! -e $f ]] || die "$1: $f left behind"
    done <"$work/installed-files"
    left=$(find /usr /etc /var/lib -iname '*dorvane*' 2>/dev/null || true)
    [[ -z $left ]] || die "$1: left behind: $left"
}
apt_get purge dorvane dorvane-testserver >"$work/purge-a.log" 2>&1 || die "apt-get purge: $(tail -20 "$work/purge-a.log")"
installed=0
nothing_left "purge"
ok "purge: dpkg -L empty for both, none of their $(wc -l <"$work/installed-files") paths left, nothing named dorvane in /usr, /etc, /var/lib"
! odbcinst -q -d -n FreeTDS >/dev/null 2>&1 || die "prerm left FreeTDS registered: $(cat "$odbc_scratch/odbcinst.ini")"
ok "prerm took back the FreeTDS registration it had made"
stage "purge"

# --- install and purge against the system's driver list ----------------------
unset ODBCSYSINI
odbc_scratch=
odbcinst -q -d -n FreeTDS >/dev/null 2>&1 ||
    die "FreeTDS is not registered on this system (scripts/setup-deps.sh registers it)"
system_ini=$(odbcinst -j | sed -n 's/^DRIVERS\.*: //p')
before=$(cat "$system_ini")
installed=1
(cd "$work/debs" && apt_get install ./*.deb) >"$work/install-b.log" 2>&1 ||
    die "apt-get install: $(tail -20 "$work/install-b.log")"
[[ $(cat "$system_ini") == "$before" ]] || die "install changed $system_ini although FreeTDS was registered"
[[ ! -e /var/lib/dorvane/freetds-registered ]] || die "postinst recorded a registration it did not make"
apt_get purge dorvane dorvane-testserver >"$work/purge-b.log" 2>&1 || die "apt-get purge: $(tail -20 "$work/purge-b.log")"
installed=0
[[ $(cat "$system_ini") == "$before" ]] || die "purge changed $system_ini"
nothing_left "second purge"
ok "with FreeTDS registered already, install and purge leave $system_ini as it was"
stage "install and purge again"

summary=$(printf '%s; ' "${timings[@]}")
echo "check-deb: ${summary}total $(($(date +%s) - t0)) s"
echo "check-deb: $passed passed, 0 failed"
