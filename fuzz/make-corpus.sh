#!/usr/bin/env bash
# Regenerates the starting corpora under fuzz/corpus from small inputs,
# using the packer itself (and python3 for the hostile tables). Usage: fuzz/make-corpus.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
fwpack="$(realpath "${1:-build/default}")/fwpack"
corpus=$PWD/fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -f "$corpus"/cli/* "$corpus"/package/* "$corpus"/md5/* "$corpus"/json/*
args() { printf '%s\0' "$@" > "$corpus/cli/$1"; }
args basic -o out.update -b 0c35 -u boot.img
args every -o o -b 1 -b 1a0 -u u -k k -r r -a a -g g -l l -c c -t t -flash f -p1 m -p20 m -n name n -old -clear
args missing-value -o o -b 1 -u
args mtd-range -o o -b 1 -p21 x -p0 y -p3x z -p
args named -o o -b 1 -n "" a -n abcde b -n
args long-path -o o -b 1 -u "$(printf 'p%.0s' $(seq 300))"
args board-codes -o o -b "  1f" -b zz -b -1 -b 0x1f -b 123456789 -u u

head -c 37 /dev/zero | tr '\0' 'b' > "$work/boot"
head -c 10 /dev/zero | tr '\0' 'k' > "$work/kernel"
printf 'tar bytes' > "$work/tar"
printf 'mtd' > "$work/mtd"
printf 'named part' > "$work/named"
cd "$work"
"$fwpack" -o one.update -b 0c35 -u boot > /dev/null
"$fwpack" -o every.update -b 0c35 -b a20 -u boot -k kernel -r boot -a kernel -g boot -l kernel -c boot -t tar \
  -flash kernel -p2 mtd -p7 mtd -n abcde named -n "" named > /dev/null
"$fwpack" -o old.update -old -b 1a0 -u boot -r kernel -l boot -t tar -flash mtd > /dev/null
"$fwpack" -o table.update -b 1 -p1 mtd -p20 mtd -n boot named > /dev/null
cd - > /dev/null
cp "$work"/*.update "$corpus/package/"
head -c 100 "$work/every.update" > "$corpus/package/truncated.update"

printf '' > "$corpus/md5/empty"
printf 'abc' > "$corpus/md5/abc"
head -c 200 "$work/every.update" > "$corpus/md5/package-head"
printf '{"bomFormat":"CycloneDX","specVersion":"1.6","components":[{"n":-0.5e+3,"t":true,"f":false,"z":null}]}' \
  > "$corpus/json/cyclonedx"
printf '\xEF\xBB\xBF{"spdxVersion":"SPDX-2.3","e":"\\u00e9\\n\\"","a":[[],{},[1,2]]}' > "$corpus/json/spdx"
printf '{"@context":["https://spdx.org/rdf/3.0.1/spdx-context.jsonld"]}' > "$corpus/json/spdx3"

# Hostile tables the packer never writes: many entries for one part, two
# entries for the same offset, and more parts than a package can hold.
python3 - "$work/every.update" "$corpus/package" <<'PY'
import struct, sys
every, out = open(sys.argv[1], "rb").read(), sys.argv[2]
def word(b, at): return struct.unpack_from("<I", b, at)[0]
def with_table(pkg, offsets):
    boards = word(pkg, 20)
    table_at = 36 + 4 * boards
    head = bytearray(pkg[:table_at])
    struct.pack_into("<I", head, 28, len(offsets))
    shift = 4 * (len(offsets) - word(pkg, 28))
    first = word(pkg, table_at)
    body = pkg[first:]
    start = (table_at + 4 * len(offsets) + 3) & ~3
    pkg = bytes(head) + b"".join(struct.pack("<I", o + start - first) for o in offsets) + \
        b"\0" * (start - table_at - 4 * len(offsets)) + body
    # Room for every entry's header, so the reader examines the table.
    return pkg + b"\0" * max(0, 56 * len(offsets) - len(pkg))
first = word(every, 36 + 4 * word(every, 20))
offsets = [word(every, 36 + 4 * word(every, 20) + 4 * i) for i in range(word(every, 28))]
open(f"{out}/many-entries.update", "wb").write(with_table(every, [first] * 60))
open(f"{out}/overlap.update", "wb").write(with_table(every, offsets[:2] + [offsets[1]] + offsets[2:]))
open(f"{out}/over-49.update", "wb").write(with_table(every, (offsets * 5)[:55]))
PY
