#!/usr/bin/env bash
# The Windows release as a user gets it: the zip cpack makes holds both
# tools, the README and the documents it links to, the manual pages as text
# and the copyright, all with
# CR LF line ends, and the licences of what is linked into the tools; the
# tools import only Windows' own DLLs; fwinspect.exe signs a package fwpack.exe made with a key the
# openssl command line made, and verify --ca accepts it and refuses it
# once a byte of the package changed.
#   release_check.sh BUILD-FOLDER
# Wine is run as the build's emulator runs it (WINEPREFIX set by the caller).
set -euo pipefail

build=$(realpath "$1")
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The zip.
(cd "$work" && cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work/cpack" > cpack.log 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack -G ZIP"; }
zip=$(ls "$work"/cpack/fwpack-*-win64.zip 2>/dev/null | head -n 1)
if [ -z "$zip" ]; then
  fail "no fwpack-VERSION-win64.zip"
else
  names=$(unzip -Z1 "$zip" | sed 's|^[^/]*/||' | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')
  expected="README.md copyright.txt docs/format.md docs/release-records.md docs/signing.md docs/windows.md"
  expected+=" fwinspect.exe fwinspect.txt fwpack.exe fwpack.txt"
  expected+=" licences/OpenSSL.txt licences/gcc-runtime.txt licences/mingw-w64.txt "
  [ "$names" = "$expected" ] || fail "the zip holds: $names"
  mkdir "$work/unzipped" && unzip -q "$zip" -d "$work/unzipped"
  top=$(find "$work/unzipped" -mindepth 1 -maxdepth 1 -type d)
  # Every line of every text ends in CR LF, as Notepad shows it.
  for text in $(cd "$top" && find . -name '*.txt' -o -name '*.md'); do
    lines=$(wc -l < "$top/$text")
    crlf=$(grep -c $'\r$' "$top/$text" || true)
    [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "$text: $crlf of $lines lines end in CR LF"
  done
  # The manuals are plain text a user can copy options from, made from the
  # man pages: no overstrikes, no typographic hyphens.
  for page in fwpack fwinspect; do
    LC_ALL=C grep -q $'[\b\x80-\xff]' "$top/$page.txt" && fail "$page.txt holds overstrikes or non-ASCII"
    grep -q '^SYNOPSIS' "$top/$page.txt" || fail "$page.txt is no manual page"
  done
  grep -q -- '--pass-env NAME' "$top/fwinspect.txt" || fail "fwinspect.txt lacks the options"
  grep -q '^MESSAGES' "$top/fwpack.txt" || fail "fwpack.txt lacks the messages and their remedies"
  # Each licence holds the notice of what it names.
  grep -q 'Apache License' "$top/licences/OpenSSL.txt" || fail "licences/OpenSSL.txt holds no Apache-2.0 notice"
  grep -q 'mingw-w64-libraries/winpthreads' "$top/licences/mingw-w64.txt" ||
    fail "licences/mingw-w64.txt holds no winpthreads notice"
  grep -q 'mingw-w64-crt' "$top/licences/mingw-w64.txt" || fail "licences/mingw-w64.txt holds no runtime notice"
  grep -q 'GCC RUNTIME LIBRARY EXCEPTION' "$top/licences/gcc-runtime.txt" ||
    fail "licences/gcc-runtime.txt holds no runtime library exception"
  # Each tool carries its manifest and, in UTF-16, the project's version.
  version=${zip##*/fwpack-}
  version=${version%-win64.zip}
  for exe in fwpack.exe fwinspect.exe; do
    [ "$(strings -el "$top/$exe" | grep -cx "$version")" = 2 ] || fail "$exe: no file and product version $version"
    for wanted in 'level="asInvoker"' '>true</longPathAware>' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
      strings "$top/$exe" | grep -qF "$wanted" || fail "$exe: its manifest lacks $wanted"
    done
  done
  # Windows' own DLLs, nothing that would have to stand beside the tools.
  system='^(kernel32|msvcrt|advapi32|user32|ws2_32|crypt32|bcrypt|gdi32|shell32|ole32)\.dll$'
  for exe in $(find "$work/unzipped" -name '*.exe'); do
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'); do
      [[ "$dll" =~ $system ]] || fail "$(basename "$exe") imports $dll"
    done
  done
fi

# Signing with the tools from the zip's build.
cd "$work"
if ! command -v openssl > /dev/null; then
  echo "release_check: no openssl command line; signing not checked"
else
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key 2> /dev/null
  openssl req -x509 -new -key ca.key -subj "/CN=Release CA" -days 30 -out ca.pem 2> /dev/null
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out signer.key 2> /dev/null
  openssl req -new -key signer.key -subj "/CN=Release signer" -out signer.csr 2> /dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile signer.ext \
    -out signer.pem 2> /dev/null
  head -c 5000 /dev/urandom > boot.img
  wine "$build/fwpack.exe" -o p.update -b 0c35 -u boot.img > pack.log 2>&1 || fail "fwpack.exe: $(cat pack.log)"
  if wine "$build/fwinspect.exe" sign --key signer.key --cert signer.pem p.update > sign.log 2>&1; then
    grep -q $'^p.update: sound, signed by CN=Release signer into p.update.sig\r$' sign.log ||
      fail "sign printed: $(cat sign.log)"
  else
    fail "fwinspect.exe sign: $(cat sign.log)"
  fi
  wine "$build/fwinspect.exe" verify --ca ca.pem p.update > verify.log 2>&1 || fail "verify --ca: $(cat verify.log)"
  # The openssl command line accepts fwinspect.exe's signature too.
  openssl cms -verify -binary -inform DER -in p.update.sig -content p.update -CAfile ca.pem -purpose any \
    -out /dev/null 2> cms.log || fail "openssl cms -verify: $(cat cms.log)"
  printf '\x00' | dd of=p.update bs=1 seek=200 conv=notrunc status=none
  status=0
  wine "$build/fwinspect.exe" verify --ca ca.pem p.update > tampered.log 2>&1 || status=$?
  [ "$status" = 1 ] || fail "verify --ca of a changed package: status $status: $(cat tampered.log)"
fi

[ "$failures" -eq 0 ] || { echo "release_check: $failures failures"; exit 1; }
echo "release_check: the zip and signing are as they should be"
