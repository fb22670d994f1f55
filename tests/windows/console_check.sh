#!/usr/bin/env bash
# What a console shows: fwpack.exe and fwinspect.exe in a terminal (script(1)
# gives Wine a console) print a path in scripts the ANSI code page (1252
# here) lacks as itself, through WriteConsoleW: as bytes in that code page it
# would reach the terminal as mojibake or '?'.
#   console_check.sh BUILD-FOLDER LOCALES-FOLDER
# Wine is run as the build's emulator runs it (WINEPREFIX set by the caller).
set -euo pipefail

build=$(realpath "$1")
export LOCPATH=$2 LANG=en_US.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo boot > boot.img
failures=0
shown() {  # shown EXPECTED COMMAND...: the terminal's text holds EXPECTED
  script -qec "$(printf '%q ' "${@:2}")" "$work/typescript" > /dev/null 2>&1 || true
  grep -aqF "$1" "$work/typescript" || { echo "FAILED: $* showed: $(cat -v "$work/typescript")"; failures=$((failures + 1)); }
}
shown 'cant open file[无/固件.update]!' wine "$build/fwpack.exe" -o '无/固件.update' -b 0c35 -u boot.img
shown 'fwinspect: cannot read Ωmega-ядро.update' wine "$build/fwinspect.exe" list 'Ωmega-ядро.update'
[ "$failures" = 0 ]
