# shellcheck shell=bash
# Builds the Windows installer from a folder laid out by scripts/windows.sh
# (sourced by it, and by scripts/check-installer.sh for its upgrade case).

# nsis_installer DIR VERSION ICON OUT WORK: writes the installer OUT of
# version VERSION that installs DIR's files, with ICON; the file lists and
# makensis's log go to WORK. Returns makensis's status.
# shellcheck disable=SC2016 # $INSTDIR is NSIS's, not the shell's
nsis_installer() {
  local dir=$1 version=$2 icon=$3 setup=$4 work=$5 d f rel
  local nsi
  nsi=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/dist/windows/dorvane.nsi
  rm -rf "$work" "$setup"
  mkdir -p "$work"
  # What to install, folder by folder.
  (cd "$dir" && find . -type d | LC_ALL=C sort) | while read -r d; do
    rel=${d#.}
    printf 'SetOutPath "$INSTDIR%s"\n' "${rel//\//\\}"
    find "$dir$rel" -maxdepth 1 -type f | LC_ALL=C sort | while read -r f; do printf 'File "%s"\n' "$f"; done
  done > "$work/files.nsh"
  # What to remove: exactly those files, then their folders deepest first.
  {
    (cd "$dir" && find . -type f | LC_ALL=C sort) | while read -r f; do
      rel=${f#./}
      printf 'Delete "$INSTDIR\\%s"\n' "${rel//\//\\}"
    done
    (cd "$dir" && find . -mindepth 1 -type d | LC_ALL=C sort -r) | while read -r d; do
      rel=${d#./}
      printf 'RMDir "$INSTDIR\\%s"\n' "${rel//\//\\}"
    done
  } > "$work/unfiles.nsh"
  makensis -INPUTCHARSET UTF8 -V2 -DDV_VERSION="$version" -DDV_OUTFILE="$setup" -DDV_ICON="$icon" \
    -DDV_FILES="$work/files.nsh" -DDV_UNFILES="$work/unfiles.nsh" "$nsi" > "$work/makensis.log" 2>&1
}
