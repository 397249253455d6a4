#!/usr/bin/env bash
# Installs the Debian packages Dorvane needs to build, test and run, and makes
# sure the FreeTDS ODBC driver is registered with unixODBC. Safe to re-run.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  unixodbc unixodbc-dev tdsodbc freetds-bin
  libsqlite3-dev sqlite3 libicu-dev
  libgmp-dev libxml2-dev libssl-dev
  libgeos-dev libgeographiclib-dev
  libkrb5-dev krb5-user krb5-kdc krb5-admin-server
  fonts-wqy-microhei
  pmccabe
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# tdsodbc registers "FreeTDS" when installed normally; register it ourselves
# when that did not happen (e.g. an image that skipped maintainer scripts).
if ! odbcinst -q -d -n FreeTDS >/dev/null 2>&1; then
  lib=$(find /usr/lib -name libtdsodbc.so -print -quit 2>/dev/null || true)
  if [ -z "$lib" ]; then
    echo "FreeTDS ODBC driver library not found" >&2
    exit 1
  fi
  tmp=$(mktemp)
  printf '[FreeTDS]\nDescription=TDS driver (Sybase/MS SQL)\nDriver=%s\n' "$lib" > "$tmp"
  $SUDO odbcinst -i -d -f "$tmp"
  rm -f "$tmp"
fi

# tedious, Node's TDS client, for the test server's suite of clients nobody
# here wrote; installed now so that the tests need no network.
npm_dir=${XDG_CACHE_HOME:-$HOME/.cache}/dorvane/npm
if [ ! -d "$npm_dir/node_modules/tedious" ]; then
  if ! command -v npm >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
  fi
  mkdir -p "$npm_dir"
  npm install --prefix "$npm_dir" --no-audit --no-fund --silent tedious@18
fi
