# shellcheck shell=bash
# What the end-to-end checks share (sourced by scripts/check-deb.sh,
# scripts/check-windows.sh and scripts/check-installer.sh): numbered passes,
# failing with a message, timed stages and installing missing packages.
# Variables are read by the scripts that source this file.
# shellcheck disable=SC2034

passed=0
ok() { passed=$((passed + 1)); echo "ok $passed - $*"; }
die() { echo "FAIL: $*" >&2; exit 1; }

t0=$(date +%s)
stage_start=$t0
timings=()
# stage NAME: records how long the part since the last stage took.
stage() {
    local now
    now=$(date +%s)
    timings+=("$1: $((now - stage_start)) s")
    stage_start=$now
}

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=600 "$@"; }

# missing_packages PKG...: sets missing to those of PKG dpkg does not have.
missing_packages() {
    missing=()
    local p
    for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
}

# need_packages CHECK PKG...: installs those of PKG that are missing (as
# root; anyone else is told what to install).
need_packages() {
    local check=$1
    shift
    missing_packages "$@"
    [[ ${#missing[@]} -gt 0 ]] || return 0
    [[ $(id -u) -eq 0 ]] || die "missing ${missing[*]}; install them or run as root"
    echo "$check: installing ${missing[*]}"
    apt_get update
    apt_get install --no-install-recommends "${missing[@]}" >/dev/null
}

# wine_work CHECK TEMPLATE DLL_OVERRIDES: makes the work folder (mktemp
# TEMPLATE) with a fresh Wine prefix in it, and a cleanup on exit that ends
# the tool, the server, Wine and Xvfb, and removes the folder on success (it
# is kept, and named, on failure).
wine_work() {
    wine_check=$1
    wine=/usr/lib/wine/wine64
    [[ -x $wine ]] || die "no $wine"
    work=$(mktemp -d "$2")
    server_pid=
    xvfb_pid=
    app_pid=
    export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES=$3
    trap wine_cleanup EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT
}

wine_cleanup() {
    local rc=$?
    for p in $app_pid $server_pid; do kill "$p" 2>/dev/null || true; done
    [[ ! -d $WINEPREFIX ]] || /usr/lib/wine/wineserver -k 2>/dev/null || true
    [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    if [[ $rc -eq 0 ]]; then
        rm -rf "$work"
    else
        echo "$wine_check: failed; work folder kept: $work" >&2
    fi
}
