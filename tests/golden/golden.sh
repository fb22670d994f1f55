#!/usr/bin/env bash
# The documentation's examples and every help text, run against the built
# tools and compared whole with the transcripts kept beside this script.
#   golden.sh check|update FWPACK FWINSPECT SOURCE_DIR
# A case is a transcript: each command as "$ command", then what it printed
# on standard output and standard error, then "[status N]" when N is not 0.
# The commands run in a scratch folder holding the shipped samples and a test
# CA with its signer; that folder's path, times and the digests that change
# with every new key are replaced by fixed words, so a transcript is the same
# on every run and every machine.
set -uo pipefail
mode=$1 fwpack=$(realpath "$2") fwinspect=$(realpath "$3") source=$(realpath "$4")
here=$source/tests/golden
[ "$mode" = check ] || [ "$mode" = update ] || { echo "golden.sh: mode is check or update" >&2; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
bin=$scratch/bin work=$scratch/work
mkdir -p "$bin" "$work"
ln -s "$fwpack" "$bin/fwpack"
ln -s "$fwinspect" "$bin/fwinspect"
export PATH="$bin:$PATH" LC_ALL=C TZ=UTC

# Each case runs in a fresh copy of the samples and the PKI, as a reader
# who follows the README from a clone would find them.
fresh_work() {
  rm -rf "$work" && mkdir "$work" && cp -r "$source/samples" "$work/samples" && cp "$scratch"/pki/* "$work/"
}

make_pki() {
  mkdir "$scratch/pki" && (cd "$scratch/pki" && bash "$here/make-test-ca.sh") > "$scratch/pki.log" 2>&1 || {
    echo "golden.sh: the test CA could not be made:" >&2; cat "$scratch/pki.log" >&2; exit 2; }
}

normalise() {
  sed -E -e "s|$work|WORK|g" \
    -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2}([T ][0-9]{2}:[0-9]{2}:[0-9]{2}(Z| UTC)?)?/TIME/g' \
    -e 's/\.fwpack-[A-Za-z0-9]{10}/.fwpack-XXXXXXXXXX/g'
}

# Runs one command line as a reader would type it and appends its transcript.
run_line() {
  local line=$1 out status
  printf '$ %s\n' "$line"
  out=$(cd "$work" && timeout 60 bash -c "$line" 2>&1 </dev/null)
  status=$?
  [ -z "$out" ] || printf '%s\n' "$out"
  [ $status -eq 0 ] || printf '[status %d]\n' $status
}

# What a man page's EXAMPLES show inside .nf/.fi, unescaped as man prints it.
man_transcript() {
  sed -n '/^\.SH EXAMPLES/,/^\.SH /p' "$1" | sed -n '/^\.nf/,/^\.fi/{/^\.nf/d;/^\.fi/d;p}' |
    sed -e 's/\\-/-/g' -e 's/\\(dq/"/g' -e 's/\\e/\\/g' -e 's/\\&//g'
}

# What the README's release walk-through shows, between its markers.
readme_transcript() {
  sed -n '/<!-- release walk-through -->/,/<!-- end of walk-through -->/p' "$1" | sed -e '/^<!--/d' -e '/^```/d'
}

# A document shows each command and what it printed; the status is left to
# the prose.
shown_matches() {
  local doc=$1 shown=$2 actual=$3
  if ! diff -u --label "$doc" --label "what the tools print" <(normalise < "$shown") <(grep -v '^\[status [0-9]*\]$' "$actual"); then
    echo "golden: $doc does not show what the tools print"; failures=$((failures + 1))
  fi
}

failures=0 cases=0
compare() {
  local name=$1 actual=$2 expected=$here/$1.exact
  cases=$((cases + 1))
  if [ "$mode" = update ]; then
    mkdir -p "$(dirname "$expected")" && cp "$actual" "$expected"
  elif [ ! -f "$expected" ]; then
    echo "golden: $name: no $expected (tests/golden/update.sh makes it)"; failures=$((failures + 1))
  elif ! diff -u --label "$name.exact" --label "$name (this build)" "$expected" "$actual"; then
    failures=$((failures + 1))
  fi
}

case_of_lines() {
  local name=$1; shift
  fresh_work
  { for line in "$@"; do run_line "$line"; done; } | normalise > "$scratch/actual"
  compare "$name" "$scratch/actual"
}

make_pki
case_of_lines help/fwpack-usage "fwpack -o"
case_of_lines help/fwinspect "fwinspect --help"
verbs=$(fwinspect --help | sed -n '/^commands:/,/^[^ ]/s/^  \([a-z][a-z-]*\)  .*/\1/p')
[ -n "$verbs" ] || { echo "golden: fwinspect --help lists no commands"; failures=$((failures + 1)); }
for verb in $verbs; do
  case_of_lines "help/fwinspect-$verb" "fwinspect $verb --help"
done
for page in fwpack fwinspect; do
  man_transcript "$source/docs/$page.1" > "$scratch/shown"
  mapfile -t lines < <(sed -n 's/^\$ //p' "$scratch/shown")
  [ ${#lines[@]} -gt 0 ] || { echo "golden: docs/$page.1 has no \$ lines in EXAMPLES"; failures=$((failures + 1)); }
  case_of_lines "examples/$page" "${lines[@]}"
  [ "$mode" = update ] || shown_matches "docs/$page.1 EXAMPLES" "$scratch/shown" "$scratch/actual"
done
readme_transcript "$source/README.md" > "$scratch/shown"
mapfile -t lines < <(sed -n 's/^\$ //p' "$scratch/shown")
[ ${#lines[@]} -eq 5 ] || { echo "golden: the README's release walk-through has ${#lines[@]} commands, not 5"; failures=$((failures + 1)); }
case_of_lines readme/release "${lines[@]}"
[ "$mode" = update ] || shown_matches "README.md walk-through" "$scratch/shown" "$scratch/actual"

if [ "$mode" = update ]; then
  echo "golden: wrote $cases transcripts under tests/golden"
  exit 0
fi
echo "golden: $cases transcripts, $failures differences"
[ $failures -eq 0 ]
