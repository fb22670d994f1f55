#!/usr/bin/python3
"""Validates CycloneDX JSON documents against the bom-1.6 schema kept in
tests/inspect/data/cyclonedx-1.6, formats included, and never fetches a schema.

usage: validate_sbom.py DOC...       every error with its JSON path
       validate_sbom.py --self-check  each kind of bad document must be refused
exit status: 0 valid, 1 invalid, 2 usage error, unreadable file or a checker
that cannot check every format the schema uses.

Run by Debian's python3 on purpose: a python3 earlier on PATH (pyenv, a venv)
has its own jsonschema, and the check must be the one CI installs.
"""
import copy
import json
import os
import sys
from urllib.parse import urljoin

SCHEMA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "cyclonedx-1.6")
MAIN_SCHEMA = "bom-1.6.SNAPSHOT.schema.json"
REFERENCED_SCHEMAS = ("spdx.SNAPSHOT.schema.json", "jsf-0.82.SNAPSHOT.schema.json")
# jsonschema passes a format it has no checker for; these packages give it one.
FORMAT_PACKAGES = {"date-time": "python3-rfc3339", "iri-reference": "python3-rfc3987",
                   "uri": "python3-rfc3987"}


class Unusable(Exception):
    """The check cannot be made at all: exit 2, whatever the documents hold."""


def formats_used(node):
    if isinstance(node, dict):
        own = {node["format"]} if isinstance(node.get("format"), str) else set()
        return own.union(*(formats_used(v) for v in node.values()))
    if isinstance(node, list):
        return set().union(*(formats_used(v) for v in node))
    return set()


def format_checker(jsonschema, schemas):
    checker = jsonschema.FormatChecker(formats=())
    checker.checkers = dict(jsonschema.Draft7Validator.FORMAT_CHECKER.checkers)
    # Debian 12's jsonschema 4.10 checks date-time only with rfc3339_validator,
    # which Debian does not package; pyrfc3339 is as strict, but its pattern
    # ends in $, which lets a trailing newline by.
    if "date-time" not in checker.checkers:
        try:
            import pyrfc3339
            checker.checks("date-time", raises=ValueError)(
                lambda s: not isinstance(s, str) or ("\n" not in s and pyrfc3339.parse(s)))
        except ImportError:
            pass
    missing = sorted(set().union(*(formats_used(s) for s in schemas)) - set(checker.checkers))
    if missing:
        raise Unusable("these formats would pass unchecked: " + ", ".join(
            f"{f} (install {FORMAT_PACKAGES.get(f, 'a checker for it')})" for f in missing))
    return checker


def make_validator():
    try:
        import jsonschema
    except ImportError:
        raise Unusable("python3-jsonschema is not installed") from None
    schemas = {}
    for name in (MAIN_SCHEMA,) + REFERENCED_SCHEMAS:
        with open(os.path.join(SCHEMA_DIR, name), encoding="utf-8") as f:
            schemas[name] = json.load(f)
    main = schemas[MAIN_SCHEMA]
    jsonschema.Draft7Validator.check_schema(main)
    # The $refs name the files relative to the main schema's $id; each file's
    # own $id differs, so both names lead to the local copy.
    store = {}
    for name, schema in schemas.items():
        store[urljoin(main["$id"], name)] = schema
        store[schema["$id"]] = schema

    class LocalOnly(jsonschema.RefResolver):
        def resolve_remote(self, uri):
            raise jsonschema.RefResolutionError(f"{uri} is not one of the local schemas; nothing is fetched")

    return jsonschema.Draft7Validator(main, resolver=LocalOnly(main["$id"], main, store=store),
                                      format_checker=format_checker(jsonschema, schemas.values()))


def json_path(parts):
    return "$" + "".join(f"[{p}]" if isinstance(p, int) else f".{p}" if p.isidentifier() else f"[{json.dumps(p)}]"
                         for p in parts)


def schema_errors(validator, doc):
    """Each error as (JSON path, message)."""
    found = [(json_path(e.absolute_path), e.message[:240]) for e in validator.iter_errors(doc)]
    # The schema takes any string in these two: a document that claims
    # another version would be held to the wrong rules.
    for key, want in (("specVersion", "1.6"), ("$schema", validator.schema["$id"])):
        if isinstance(doc, dict) and key in doc and doc[key] != want:
            found.append((json_path([key]), f"{json.dumps(doc[key])} is not {json.dumps(want)}"))
    return found


def bom_refs(node, path=()):
    """Each bom-ref the document declares, in document order."""
    if isinstance(node, dict):
        if isinstance(node.get("bom-ref"), str):
            yield path + ("bom-ref",), node["bom-ref"]
        for k, v in node.items():
            yield from bom_refs(v, path + (k,))
    elif isinstance(node, list):
        for i, v in enumerate(node):
            yield from bom_refs(v, path + (i,))


def reference_errors(doc):
    """What CycloneDX asks of bom-refs that a JSON schema cannot say: each is
    unique, and every dependency names one."""
    if not isinstance(doc, dict):
        return []
    refs, found = {}, []
    for path, ref in bom_refs(doc):
        if ref in refs:
            found.append((json_path(path), f"{json.dumps(ref)} is also {refs[ref]}"))
        refs.setdefault(ref, json_path(path))
    for i, dep in enumerate(doc.get("dependencies") or []):
        named = [(("ref",), dep.get("ref"))] + [(("dependsOn", j), r) for j, r in enumerate(dep.get("dependsOn", []))]
        found += [(json_path(("dependencies", i) + where), f"{json.dumps(ref)} names no bom-ref")
                  for where, ref in named if isinstance(ref, str) and ref not in refs]
    return found


def errors_of(validator, doc):
    return schema_errors(validator, doc) + reference_errors(doc)


def validate_files(validator, paths):
    status = 0
    for path in paths:
        try:
            with open(path, encoding="utf-8") as f:
                found = errors_of(validator, json.load(f))
        except OSError as e:
            print(f"validate_sbom.py: {path}: cannot read: {e.strerror or e}", file=sys.stderr)
            status = 2
            continue
        except ValueError as e:
            found = [("$", f"not JSON: {e}")]
        for where, message in found:
            print(f"{path}: {where}: {message}")
        status = max(status, 1 if found else 0)
        if not found:
            print(f"{path}: valid CycloneDX 1.6")
    return status


GOOD = {
    "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
    "bomFormat": "CycloneDX", "specVersion": "1.6",
    "serialNumber": "urn:uuid:3e671687-395b-41f5-a30f-a58921a69b79", "version": 1,
    "metadata": {
        "timestamp": "2023-11-14T22:13:20Z",
        "tools": {"components": [{"type": "application", "name": "fwinspect", "version": "1.0"}]},
        "component": {"type": "firmware", "bom-ref": "package", "name": "release.update",
                      "hashes": [{"alg": "SHA-256", "content": "ab" * 32}],
                      "properties": [{"name": "fwpack:package:board", "value": "0c35"}]}},
    "components": [{
        "type": "firmware", "bom-ref": "part-2", "name": "rfs",
        "hashes": [{"alg": "MD5", "content": "cd" * 16}, {"alg": "SHA-256", "content": "ef" * 32}],
        "externalReferences": [{"type": "bom", "url": "images/rfs.spdx.json",
                                "hashes": [{"alg": "SHA-256", "content": "01" * 32}]}]}],
    "dependencies": [{"ref": "package", "dependsOn": ["part-2"]}],
}


def put(path, value):
    doc = copy.deepcopy(GOOD)
    node = doc
    for key in path[:-1]:
        node = node[key]
    node[path[-1]] = value
    return doc


PART = ("components", 0)
# (what is wrong, where the error must be found, the document)
BAD = [
    ("serial number not a UUID URN", "$.serialNumber", put(("serialNumber",), "urn:uuid:3e671687-395b-41f5")),
    ("SHA-256 one digit short", "$.components[0].hashes[1].content", put(PART + ("hashes", 1, "content"), "ef" * 31 + "e")),
    ("hash algorithm misspelt", "$.components[0].hashes[0].alg", put(PART + ("hashes", 0, "alg"), "md5")),
    ("unknown component type", "$.components[0].type", put(PART + ("type",), "bootloader")),
    ("timestamp with a space for T", "$.metadata.timestamp", put(("metadata", "timestamp"), "2023-11-14 22:13:20Z")),
    ("timestamp on 30 February", "$.metadata.timestamp", put(("metadata", "timestamp"), "2023-02-30T00:00:00Z")),
    ("timestamp without a zone", "$.metadata.timestamp", put(("metadata", "timestamp"), "2023-11-14T22:13:20")),
    ("timestamp with a trailing newline", "$.metadata.timestamp", put(("metadata", "timestamp"), "2023-11-14T22:13:20Z\n")),
    ("relative url with a space", "$.components[0].externalReferences[0].url",
     put(PART + ("externalReferences", 0, "url"), "images/rfs sbom.json")),
    ("external reference of no known type", "$.components[0].externalReferences[0].type",
     put(PART + ("externalReferences", 0, "type"), "sbom")),
    ("$schema of another version", "$[\"$schema\"]", put(("$schema",), "http://cyclonedx.org/schema/bom-1.5.schema.json")),
    ("a key the schema does not know", "$", put(("fwpack",), {})),
    ("document of another version", "$.specVersion", put(("specVersion",), "1.5")),
    ("version as a string", "$.version", put(("version",), "1")),
    ("a bom-ref given twice", "$.components[0][\"bom-ref\"]", put(PART + ("bom-ref",), "package")),
    ("a dependency on no component", "$.dependencies[0].dependsOn[0]", put(("dependencies", 0, "dependsOn"), ["part-3"])),
]


def self_check(validator):
    failures = [f"the good document is refused: {w}: {m}" for w, m in errors_of(validator, GOOD)]
    for what, where, doc in BAD:
        if not any(w == where for w, _ in errors_of(validator, doc)):
            failures.append(f"not refused at {where}: {what}")
    for failure in failures:
        print(f"FAILED: {failure}")
    print(f"self-check: {len(BAD) + 1 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


def main(argv):
    if not argv or (argv != ["--self-check"] and any(a.startswith("-") for a in argv)):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        validator = make_validator()
    except (Unusable, OSError, ValueError) as e:
        print(f"validate_sbom.py: the schemas cannot be used: {e}", file=sys.stderr)
        return 2
    return self_check(validator) if argv == ["--self-check"] else validate_files(validator, argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
