#!/usr/bin/env bash
# The same bytes on both systems: packs one generated release with the Linux
# fwpack and with fwpack.exe (under Wine), in the normal and the old layout
# and in runs that fail, and requires the same package byte for byte, the
# same exit status, and the same lines, which on Windows end in CR LF.
#   cross_check.sh LINUX-FWPACK WINDOWS-FWPACK-EXE
# Wine is run as the build's emulator runs it (WINEPREFIX, WINEDEBUG set by
# the caller or defaulted here).
set -euo pipefail

linux=$(realpath "$1")
windows=$(realpath "$2")
[ -x "$linux" ] || { echo "cross_check: no Linux fwpack at $linux" >&2; exit 1; }
[ -f "$windows" ] || { echo "cross_check: no fwpack.exe at $windows" >&2; exit 1; }
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir release

# Lengths around the format's 4-byte alignment and the copy's 128 KiB
# pieces, an empty part, and one over 2 MiB so several pieces are in flight.
sizes=(boot:1 kernel:4096 rfs:2359301 app:131072 config:131073 logo:0 chlogo:7 flash:65539 tar:182 \
       mtd0:3 mtd6:1024 mtd19:5 named1:63 named2:64)
for entry in "${sizes[@]}"; do
  head -c "${entry#*:}" /dev/urandom > "release/${entry%%:*}.img"
done
mkdir release/folder

common=(-b 0c35 -b 1a0 -b ffffffff -u release/boot.img -k release/kernel.img -r release/rfs.img
        -a release/app.img -g release/config.img -l release/logo.img -c release/chlogo.img
        -t release/tar.img -flash release/flash.img -p1 release/mtd0.img -p7 release/mtd6.img
        -p20 release/mtd19.img -n splash release/named1.img -n "two words" release/named2.img
        -n absent release/missing.img)

# The closing line of fwpack's note quotes the arguments for the system's
# own shell (cmd.exe on Windows) and names this run's output, so it differs
# by design; both systems must still print it, or both leave it out.
closing='^fwpack: to check the whole line: fwinspect lint -- '
lines() { tr -d '\r' < "$1" | grep -v "$closing" || true; }

failures=0
compare() {  # NAME ARGUMENTS...
  local name=$1
  shift
  local ls=0 ws=0
  "$linux" -o "linux-$name.update" "$@" > "linux-$name.out" 2>&1 || ls=$?
  wine "$windows" -o "windows-$name.update" "$@" > "windows-$name.out" 2>&1 || ws=$?
  local problems=()
  [ "$ls" = "$ws" ] || problems+=("exit status $ls on Linux, $ws on Windows")
  if [ -e "linux-$name.update" ] || [ -e "windows-$name.update" ]; then
    cmp -s "linux-$name.update" "windows-$name.update" || problems+=("the packages differ")
  fi
  if ! diff <(lines "windows-$name.out") <(lines "linux-$name.out") > /dev/null ||
     [ "$(grep -c "$closing" "windows-$name.out")" != "$(grep -c "$closing" "linux-$name.out")" ]; then
    problems+=("the printed lines differ")
  fi
  # Every line end on Windows is CR LF.
  if [ "$(tr -cd '\n' < "windows-$name.out" | wc -c)" != "$(grep -c $'\r$' "windows-$name.out" || true)" ]; then
    problems+=("a Windows line does not end in CR LF")
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "same: $name (status $ls, $(stat -c %s "linux-$name.update" 2>/dev/null || echo no) package bytes)"
  else
    failures=$((failures + 1))
    printf 'DIFFERENT: %s: %s\n' "$name" "${problems[*]}"
    diff <(tr -d '\r' < "windows-$name.out") "linux-$name.out" || true
  fi
}

compare normal "${common[@]}"
compare old "${common[@]}" -old -clear
compare boards-only -b 0c35 -t release/tar.img
compare folder-input -b 0c35 -u release/boot.img -r release/folder
compare nothing-to-pack -b 0c35 -u release/missing.img
compare no-board -u release/boot.img

[ "$failures" -eq 0 ] || { echo "cross_check: $failures runs differ"; exit 1; }
echo "cross_check: the Linux and the Windows fwpack agree"
