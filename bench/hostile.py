#!/usr/bin/env python3
"""Times fwinspect verify on packages made to be slow or huge, beside a sound
package of the same size, and prints wall time and peak resident set.

The hostile packages: a part table of millions of entries that all point at
one large part (read once per entry, it would cost entries x part size), and
a table of a million named parts with 64-byte names. Needs python3 and GNU
time. Usage: bench/hostile.py [BUILD_DIR] [--mib N]
"""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20


def header(kind_flags, boards, part_count):
    return struct.pack("<4sIIIIIIII", b"FPUA", kind_flags, 0, 0, 0, len(boards), 36, part_count,
                       36 + 4 * len(boards)) + b"".join(struct.pack("<I", b) for b in boards)


def part_header(type_code, data, name_length=0, index=0):
    return struct.pack("<4sIIIIII16sIII", b"*PPS", type_code, 0, 0, len(data), 0, 0,
                       hashlib.md5(data).digest(), name_length, index, 0)


def one_target(path, entries, mib):
    """Every table entry names the same boot part of `mib` MiB."""
    data = os.urandom(mib * MIB)
    first = (40 + 4 * entries + 3) & ~3
    with open(path, "wb") as f:
        f.write(header(0x1, [0x0c35], entries))
        f.write(struct.pack("<I", first) * entries)
        f.write(b"\0" * (first - 40 - 4 * entries))
        f.write(part_header(1, data) + data)


def many_names(path, count):
    """`count` named parts, each a 64-byte name and 4 bytes of data."""
    table, body = [], bytearray()
    at = 36 + 4 + 4 * count
    for i in range(count):
        data = (b"%063d" % i).ljust(64, b"\0") + b"data"
        table.append(struct.pack("<I", at))
        chunk = part_header(20, data, 64) + data
        body += chunk
        at += len(chunk)
    with open(path, "wb") as f:
        f.write(header(0x80000, [0x0c35], count) + b"".join(table) + body)


def measure(cmd):
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    rss = int(proc.stderr.strip().splitlines()[-1])
    return elapsed, rss, proc.returncode, proc.stdout


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build/default")
    ap.add_argument("--mib", type=int, default=256, help="size of the one large part")
    args = ap.parse_args()
    fwinspect = os.path.join(os.path.abspath(args.build), "fwinspect")
    fwpack = os.path.join(os.path.abspath(args.build), "fwpack")
    if not os.access(fwinspect, os.X_OK):
        sys.exit(f"{fwinspect} is missing: build first")
    work = tempfile.mkdtemp(prefix="fwhostile.")
    try:
        entries = args.mib * MIB // 64
        cases = {
            f"sound, one {args.mib} MiB part": os.path.join(work, "sound.update"),
            f"{entries} entries -> one {args.mib} MiB part": os.path.join(work, "entries.update"),
            "1000000 named parts, 64-byte names": os.path.join(work, "names.update"),
        }
        paths = list(cases.values())
        one_target(paths[1], entries, args.mib)
        big = os.path.join(work, "big.img")
        with open(big, "wb") as f:
            f.write(os.urandom(args.mib * MIB))
        subprocess.run([fwpack, "-o", paths[0], "-b", "0c35", "-u", big], stdout=subprocess.DEVNULL, check=True)
        many_names(paths[2], 1000000)
        for name, path in cases.items():
            with open(path, "rb") as f:
                while f.read(8 * MIB):
                    pass
            measure([fwinspect, "verify", path])  # untimed, warms the cache
            elapsed, rss, status, out = measure([fwinspect, "verify", path])
            size = os.path.getsize(path) / MIB
            print(f"{name:<44} {size:8.1f} MiB  {elapsed:7.3f} s  peak RSS {rss / 1024:6.1f} MiB  "
                  f"status {status}, {len(out.splitlines())} lines")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
