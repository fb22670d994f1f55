#!/usr/bin/env bash
# fwinspect sbom's document against the CycloneDX 1.6 schema and against
# md5sum/sha256sum of the package, of each part's bytes in it and of what
# extract writes; the runs that must fail leave no document.
#   sbom_check.sh FWPACK FWINSPECT SOURCE_DIR
# Exit 77 (skipped) without Debian's python3 and python3-jsonschema.
set -uo pipefail
fwpack=$(realpath "$1") fwinspect=$(realpath "$2") source=$(realpath "$3")
# Debian's own interpreter: another python3 on PATH does not see its packages.
py=/usr/bin/python3
validate=$source/tests/inspect/sbom/validate_sbom.py
[ -x "$py" ] || { echo "SKIP: $py is missing (apt-get install python3 python3-jsonschema)"; exit 77; }
"$py" -c 'import jsonschema' 2>/dev/null || { echo "SKIP: python3-jsonschema is missing"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
export LC_ALL=C TZ=UTC
unset SOURCE_DATE_EPOCH
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
field() { "$py" -c 'import json,sys; d=json.load(open(sys.argv[1]))
for k in sys.argv[2].split("."): d = d[int(k)] if isinstance(d, list) else d[k]
print(d)' "$@"; }
sbom() { "$fwinspect" sbom "$@" >sbom.out 2>sbom.err; }
valid() { "$py" "$validate" "$1" >validate.out || { cat validate.out; fail "$1 does not validate: $2"; }; }

"$py" "$validate" --self-check >selfcheck.out || { cat selfcheck.out; fail "the validator's self-check"; }

s=$source/samples
"$fwpack" -o release.update -b 0c35 -u "$s/boot.img" -k "$s/kernel.img" -r "$s/rfs.img" \
  -t "$s/libquorvid.tar.gz" -p1 "$s/mtd0.img" -n splash "$s/splash.bin" >fwpack.out || fail "fwpack"
touch -d @1600000000 release.update
"$fwinspect" list --json release.update >list.json || fail "list --json"

# Reproducible: the timestamp is the package's time, or SOURCE_DATE_EPOCH.
for run in 1 2; do
  (unset SOURCE_DATE_EPOCH; sbom release.update --output bom$run.json) || { cat sbom.err; fail "sbom run $run"; }
done
# Everything below reads this document: without it, one message is enough.
[ -s bom1.json ] || { echo "FAILED: fwinspect sbom wrote no document"; exit 1; }
cmp -s bom1.json bom2.json || fail "two runs of sbom differ"
valid bom1.json "the sample release"
[ "$(field bom1.json metadata.timestamp)" = 2020-09-13T12:26:40Z ] || fail "timestamp is not the package's time"
SOURCE_DATE_EPOCH=1700000000 sbom release.update --output epoch.json || fail "sbom with SOURCE_DATE_EPOCH"
[ "$(field epoch.json metadata.timestamp)" = 2023-11-14T22:13:20Z ] || fail "timestamp is not SOURCE_DATE_EPOCH"
[ "$(field epoch.json serialNumber)" != "$(field bom1.json serialNumber)" ] || fail "another time, the same serial number"
(unset SOURCE_DATE_EPOCH; "$fwinspect" sbom release.update >stdout.json 2>sbom.err) || fail "sbom to standard output"
cmp -s bom1.json stdout.json || fail "the document on standard output is not the one --output writes"

# Every hash against md5sum/sha256sum. Named and tar parts carry their name
# field in the package, so what extract writes is the input: fwpack:input:*.
"$fwinspect" extract release.update parts >/dev/null || fail "extract"
md5() { md5sum "$@" | cut -c1-32; }
sha() { sha256sum "$@" | cut -c1-64; }
[ "$(field bom1.json metadata.component.hashes.0.content)" = "$(sha release.update)" ] || fail "the package's SHA-256"
[ "$(field bom1.json metadata.component.name)" = release.update ] || fail "the package's name"
"$py" - bom1.json list.json >parts.txt <<'PY' || fail "reading the components"
import json, sys
doc, listed = (json.load(open(p)) for p in sys.argv[1:3])
offsets = {p["number"]: p["offset"] for p in listed["parts"]}
for c in doc["components"]:
    h = {x["alg"]: x["content"] for x in c["hashes"]}
    p = {x["name"]: x["value"] for x in c.get("properties", [])}
    n = int(p["fwpack:part:number"])
    print(c["name"], offsets[n] + 56, p["fwpack:part:length"], h["MD5"], h["SHA-256"], p["fwpack:part:file"],
          *(p.get("fwpack:input:" + k, "-") for k in ("length", "md5", "sha256")))
PY
[ "$(wc -l <parts.txt)" = 6 ] || fail "$(wc -l <parts.txt) components for 6 parts"
while read -r label data length md5 sha file inlength inmd5 insha; do
  dd if=release.update bs=1 skip="$data" count="$length" status=none >data.bin
  [ "$(md5 data.bin) $(sha data.bin)" = "$md5 $sha" ] || fail "$label: hashes are not those of its bytes in the package"
  [ "$inlength" = - ] || { md5=$inmd5 sha=$insha length=$inlength; }
  [ "$(md5 "parts/$file") $(sha "parts/$file") $(stat -c %s "parts/$file")" = "$md5 $sha $length" ] ||
    fail "$label: hashes or length are not those of parts/$file"
done <parts.txt

# The images' own SBOMs, referenced with their SHA-256; a path becomes a
# relative IRI, so a space must be escaped for the document to validate.
cat >"rfs image.spdx.json" <<'EOF'
{"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT", "name": "rfs",
 "documentNamespace": "https://example.com/spdx/rfs-1.0",
 "creationInfo": {"created": "2023-11-14T22:13:20Z", "creators": ["Tool: image-build-1.0"]},
 "packages": [{"name": "busybox", "SPDXID": "SPDXRef-busybox", "downloadLocation": "NOASSERTION"}]}
EOF
printf '{"bomFormat": "CycloneDX", "specVersion": "1.6", "version": 1, "components": []}\n' >mtd.cdx.json
sbom release.update --part-sbom "rfs=rfs image.spdx.json" --part-sbom -p1=mtd.cdx.json --output refs.json ||
  { cat sbom.err; fail "sbom --part-sbom"; }
valid refs.json "--part-sbom"
"$py" - refs.json >refs.txt <<'PY' || fail "reading the external references"
import json, sys
for c in json.load(open(sys.argv[1]))["components"]:
    for r in c.get("externalReferences", []):
        print(c["name"], r["type"], r["url"], *(h["content"] for h in r["hashes"] if h["alg"] == "SHA-256"))
PY
expected=$(printf '%s\n' "-p1 bom mtd.cdx.json $(sha mtd.cdx.json)" "rfs bom rfs%20image.spdx.json $(sha "rfs image.spdx.json")")
[ "$(sort refs.txt)" = "$expected" ] || fail "external references: $(cat refs.txt)"

# A signed copy, its CA and another that did not issue it.
mkdir ca other
(cd ca && bash "$source/tests/golden/make-test-ca.sh") >ca.log 2>&1 &&
  (cd other && bash "$source/tests/golden/make-test-ca.sh") >>ca.log 2>&1 || { cat ca.log; fail "making the test CAs"; }
cp release.update signed.update
"$fwinspect" sign --key ca/signer.key --cert ca/signer.pem signed.update >/dev/null || fail "sign"
sbom signed.update --ca ca/ca.pem --output signed.json || { cat sbom.err; fail "sbom --ca with the issuing CA"; }
valid signed.json "--ca"
"$py" - signed.json "$(sha signed.update.sig)" <<'PY' || fail "the signature is not recorded with its SHA-256 and signer"
import json, sys
meta = json.load(open(sys.argv[1]))["metadata"]["component"]
sig = [r for r in meta.get("externalReferences", []) if r["type"] == "digital-signature"]
assert len(sig) == 1 and sig[0]["hashes"] == [{"alg": "SHA-256", "content": sys.argv[2]}], sig
assert any(p["name"] == "fwpack:signature:signer" and p["value"] for p in meta["properties"]), meta["properties"]
PY

# Runs that must fail: 1 for a defect, 2 for an argument that cannot be
# used; a message on standard error and no document either way.
cp release.update damaged.update
at=$(($(field list.json parts.2.offset) + 56 + 100))
byte=$(od -An -tu1 -j"$at" -N1 damaged.update | tr -d ' ')
printf "\\$(printf %03o $((byte ^ 255)))" | dd of=damaged.update bs=1 seek="$at" conv=notrunc status=none
cp release.update old.update && touch -d 1960-01-01 old.update
printf 'rfs image, no SBOM\n' >notjson.txt
printf '{"name": "rfs", "packages": []}\n' >neither.json
failing=(
  "a damaged part|1|damaged.update"
  "a package last modified before 1970, no SOURCE_DATE_EPOCH|2|old.update"
  "a --part-sbom that is not JSON|2|release.update --part-sbom rfs=notjson.txt"
  "a --part-sbom neither SPDX nor CycloneDX|2|release.update --part-sbom rfs=neither.json"
  "a --part-sbom that does not exist|2|release.update --part-sbom rfs=missing.json"
  "a --part-sbom for a part the package lacks|2|release.update --part-sbom flash=mtd.cdx.json"
  "a --part-sbom for an mtd the package lacks|2|release.update --part-sbom -p2=mtd.cdx.json"
  "a signature from a CA that did not issue it|1|signed.update --ca other/ca.pem"
)
for case in "${failing[@]}"; do
  IFS='|' read -r what expected args <<<"$case"
  read -ra argv <<<"$args"
  sbom "${argv[@]}" --output refused.json
  status=$?
  [ "$status" = "$expected" ] || fail "$what: exit status $status, not $expected"
  [ -s sbom.err ] || fail "$what: nothing said on standard error"
  [ ! -e refused.json ] || { fail "$what: a document was written"; rm -f refused.json; }
done

echo "sbom checks: $failures failed"
[ "$failures" = 0 ]
