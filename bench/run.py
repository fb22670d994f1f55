#!/usr/bin/env python3
"""Measures fwpack and fwinspect on a large release against the floor.

The floor is one MD5 stream over the release's largest part, as a whole
process: `openssl dgst -md5` of it (start, read, digest). No command that
digests every part can end before that stream does, so every command is
reported as a ratio to the floor, timed in the same rounds. Makes the
inputs in a temporary folder (removed afterwards), warms the page cache,
runs each command and the floor alternately several times and prints the
medians and the ratios; then the peers, timed against fwpack the same way.
Usage: bench/run.py [BUILD_DIR] [--rounds N] [--only signing|peers|packing|sbom]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
RELEASE = [("rfs.img", 768), ("tar.tar.gz", 256), ("kernel.img", 64),
           ("mtd0.img", 32), ("mtd1.img", 32), ("mtd2.img", 32), ("mtd3.img", 32)]


def make_file(path, mib):
    with open(path, "wb") as f:
        for _ in range(mib):
            f.write(os.urandom(MIB))


def timed(cmd, expect=0):
    """Wall time of one run."""
    start = time.perf_counter()
    proc = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if proc.returncode != expect:
        sys.exit(f"failed ({proc.returncode}): {' '.join(cmd)}")
    return elapsed


def peak_rss(cmd):
    """Maximum resident set of one run, from GNU time, in KiB."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True, check=True)
    return int(out.stderr.strip().splitlines()[-1])


def settle(remove=None):
    """Untimed: drop the last run's package and flush dirty pages, so no run
    pays for the write-back of another's output."""
    if remove and os.path.exists(remove):
        os.unlink(remove)
    os.sync()


def race(name, ours, baseline, rounds, output=None, before=None, baseline_output=None):
    # One untimed round first: on a virtual machine the first touch of
    # memory the guest has not used yet costs far more than the work.
    settle(output)
    if before:
        before()
    timed(ours)
    a, b = [], []
    for _ in range(rounds):
        settle(output)
        if before:
            before()
        a.append(timed(ours))
        settle(baseline_output)
        b.append(timed(baseline))
    if os.environ.get("FWBENCH_VERBOSE"):
        print(name, ["%.3f" % x for x in a], ["%.3f" % x for x in b])
    ma, mb = statistics.median(a), statistics.median(b)
    print(f"{name:<44} {ma:8.3f} s  baseline {mb:8.3f} s  ratio {ma / mb:5.3f}")
    return ma / mb


def bytes_read(cmd):
    """Bytes `cmd` read through read(2) and its kind, its own and its
    threads': a shell's I/O counters take in those of the child it waited
    for, and the shell itself reads almost nothing."""
    script = '"$@" >/dev/null 2>&1; cat /proc/$$/io'
    out = subprocess.run(["sh", "-c", script, "sh"] + cmd, capture_output=True, text=True, check=True).stdout
    return int(next(line.split()[1] for line in out.splitlines() if line.startswith("rchar:")))


def sign_and_verify(fwinspect, work, pkg, floor, rounds):
    """verify --ca, sign and extract --ca against the floor; skipped when
    this fwinspect cannot sign or openssl is missing."""
    helptext = subprocess.run([fwinspect, "--help"], capture_output=True, text=True).stdout
    if "sign" not in helptext or not shutil.which("openssl"):
        print("   (signing not measured: no fwinspect sign or no openssl)")
        return ""
    ca, key, cert = (os.path.join(work, n) for n in ("ca.pem", "signer.key", "signer.pem"))
    cakey, csr, ext = (os.path.join(work, n) for n in ("ca.key", "signer.csr", "ext.cnf"))
    run = lambda *a: subprocess.run(list(a), check=True, capture_output=True)
    run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
        "-keyout", cakey, "-out", ca, "-subj", "/CN=bench CA", "-days", "2")
    run("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key,
        "-out", csr, "-subj", "/CN=bench signer")
    with open(ext, "w") as f:
        f.write("extendedKeyUsage=codeSigning\n")
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", cakey, "-CAcreateserial", "-out", cert,
        "-days", "2", "-extfile", ext)
    sign = [fwinspect, "sign", "--key", key, "--cert", cert, pkg]
    subprocess.run(sign, check=True, capture_output=True)
    verify_ca = [fwinspect, "verify", "--ca", ca, pkg]
    r8 = race("8. fwinspect verify --ca", verify_ca, floor, rounds)
    r9 = race("9. fwinspect sign", sign, floor, rounds)
    parts = os.path.join(work, "signed-parts")
    r10 = race("10. fwinspect extract --ca", [fwinspect, "extract", "--ca", ca, pkg, parts], floor, rounds,
               before=lambda: shutil.rmtree(parts, ignore_errors=True))
    size = os.path.getsize(pkg)
    reads = {what: bytes_read(cmd) / size for what, cmd in
             (("verify --ca", verify_ca), ("sign", sign),
              ("list --json --digests", [fwinspect, "list", "--json", "--digests", pkg]),
              ("list --json", [fwinspect, "list", "--json", pkg]))}
    print("   bytes read, in package sizes: " + ", ".join(f"{w} {r:.3f}" for w, r in reads.items()))
    summary = f"; 8: {r8:.3f}x (goal <= 1.10); 9: {r9:.3f}x (goal <= 1.10); 10: {r10:.3f}x"
    sign_hsm = token_signer(work, ca, cakey, ext, fwinspect, pkg)
    if sign_hsm:
        r9b = race("9b. fwinspect sign, token key", sign_hsm, floor, rounds)
        summary += f"; 9b: {r9b:.3f}x"
    return summary


def sbom(fwinspect, work, pkg, rounds):
    """fwinspect sbom against list --digests of the same package: the same
    read and digests, plus a document; the goal is 1.05x of it, and peak
    memory no larger than list's by more than the document."""
    bom = os.path.join(work, "release.cdx.json")
    listing = [fwinspect, "list", "--digests", pkg]
    r11 = race("11. fwinspect sbom (vs list --digests)", [fwinspect, "sbom", "--output", bom, pkg], listing, rounds,
               output=bom)
    m_sbom, m_list = peak_rss([fwinspect, "sbom", pkg]), peak_rss(listing)
    print(f"{'   peak RSS, sbom and list --digests':<44} {m_sbom / 1024:6.1f} MiB and {m_list / 1024:6.1f} MiB")
    return f"; 11: {r11:.3f}x of list --digests (goal <= 1.05)"


SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"


def token_signer(work, ca, cakey, ext, fwinspect, pkg):
    """A sign command whose key is in a throwaway SoftHSM2 token in `work`;
    None when softhsm2, pkcs11-tool or the openssl pkcs11 engine is missing."""
    have_engine = subprocess.run(["openssl", "engine", "pkcs11"], capture_output=True).returncode == 0
    if not (shutil.which("softhsm2-util") and shutil.which("pkcs11-tool") and os.path.exists(SOFTHSM)
            and have_engine):
        print("   (token signing not measured: no softhsm2, pkcs11-tool or pkcs11 engine)")
        return None
    tokens, conf = os.path.join(work, "tokens"), os.path.join(work, "softhsm2.conf")
    os.makedirs(tokens, exist_ok=True)
    with open(conf, "w") as f:
        f.write(f"directories.tokendir = {tokens}\nobjectstore.backend = file\nlog.level = ERROR\n")
    os.environ["SOFTHSM2_CONF"] = conf
    os.environ["FWBENCH_PIN"] = "4711"
    run = lambda *a: subprocess.run(list(a), check=True, capture_output=True)
    run("softhsm2-util", "--init-token", "--free", "--label", "bench", "--so-pin", "80236719", "--pin", "4711")
    run("pkcs11-tool", "--module", SOFTHSM, "--login", "--pin", "4711", "--keypairgen", "--key-type",
        "EC:prime256v1", "--id", "01", "--label", "bench")
    uri = "pkcs11:token=bench;object=bench;type=private"
    csr, cert = os.path.join(work, "token.csr"), os.path.join(work, "token.pem")
    run("openssl", "req", "-new", "-engine", "pkcs11", "-keyform", "engine", "-passin", "env:FWBENCH_PIN",
        "-key", uri, "-subj", "/CN=bench token signer", "-out", csr)
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", cakey, "-CAcreateserial", "-out", cert,
        "-days", "2", "-extfile", ext)
    sign = [fwinspect, "sign", "--key", uri, "--cert", cert, "--pass-env", "FWBENCH_PIN", pkg]
    subprocess.run(sign, check=True, capture_output=True)
    return sign


def warm(paths):
    for p in paths:
        with open(p, "rb") as f:
            while f.read(8 * MIB):
                pass


def peers(fwpack_cmd, pkg, inputs, work, rounds):
    """What other ways of making a package of the same inputs cost, as a
    ratio to fwpack's own run, and their peak resident sets."""
    tar = os.path.join(work, "peer.tar")
    quoted = " ".join(f'"{p}"' for p in inputs)
    tar_sums = ["sh", "-c", f'tar -cf "{tar}" {quoted} && md5sum {quoted} && sha256sum {quoted}']
    rows = [("tar -cf, md5sum and sha256sum of the inputs", tar_sums, tar)]
    if shutil.which("mkimage"):
        itb, its = os.path.join(work, "peer.itb"), os.path.join(work, "peer.its")
        auto = ["mkimage", "-f", "auto", "-A", "arm", "-O", "linux", "-T", "kernel", "-C", "none",
                "-a", "0", "-e", "0", "-d", inputs[0], "-i", inputs[1]] + sum([["-b", p] for p in inputs[2:]], [])
        rows.append(("mkimage -f auto", auto + [itb], itb))
        with open(its, "w") as f:
            f.write("/dts-v1/;\n/ {\n\tdescription = \"bench\";\n\timages {\n")
            for i, p in enumerate(inputs):
                f.write(f'\t\tpart{i} {{\n\t\t\tdata = /incbin/("{p}");\n\t\t\ttype = "firmware";\n'
                        '\t\t\tarch = "arm";\n\t\t\tcompression = "none";\n'
                        '\t\t\thash-1 { algo = "md5"; };\n\t\t\thash-2 { algo = "sha256"; };\n\t\t};\n')
            f.write("\t};\n\tconfigurations { default = \"c\"; c { firmware = \"part0\"; }; };\n};\n")
        rows.append(("mkimage -f with md5 and sha256 per image", ["mkimage", "-f", its, itb], itb))
    else:
        print("   (mkimage not measured: u-boot-tools is not installed)")
    for name, cmd, out in rows:
        r = race(f"peer: {name}", cmd, fwpack_cmd, rounds, output=out, baseline_output=pkg)
        print(f"   {name}: {r:.2f}x fwpack's time, peak RSS {peak_rss(cmd) / 1024:.1f} MiB")
        settle(out)
    print(f"   fwpack: peak RSS {peak_rss(fwpack_cmd) / 1024:.1f} MiB")
    settle(pkg)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build/default")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--keep", action="store_true", help="keep the inputs folder")
    ap.add_argument("--only", choices=["signing", "peers", "packing", "sbom"],
                    help="measure only the signing cases (8-10), the peers, fwpack and plain fwinspect (3-6), "
                         "or sbom (11)")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    fwpack, fwinspect = f"{build}/fwpack", f"{build}/fwinspect"
    fwdigest, fwbench = f"{build}/fwdigest", f"{build}/fwbench"
    for tool in (fwpack, fwinspect, fwdigest):
        if not os.access(tool, os.X_OK):
            sys.exit(f"{tool} is missing: build first, e.g. cmake --workflow --preset default")

    work = tempfile.mkdtemp(prefix="fwbench.")
    try:
        files = {}
        for name, mib in RELEASE:
            files[name] = os.path.join(work, name)
            make_file(files[name], mib)
        pkg = os.path.join(work, "release.update")
        pack = [fwpack, "-o", pkg, "-b", "0c35", "-r", files["rfs.img"], "-t", files["tar.tar.gz"],
                "-k", files["kernel.img"]] + sum(
            [[f"-p{i + 1}", files[f"mtd{i}.img"]] for i in range(4)], [])
        inputs = [files[n] for n, _ in RELEASE]
        floor = ["openssl", "dgst", "-md5", files[RELEASE[0][0]]]
        os.sync()
        warm(inputs)
        print(f"machine: {os.cpu_count()} cores; rounds: {args.rounds}; medians of wall time; "
              f"floor: openssl dgst -md5 of the {RELEASE[0][1]} MiB part")
        if args.only == "peers":
            return peers(pack, pkg, inputs, work, args.rounds)
        if args.only in ("signing", "sbom"):
            subprocess.run(pack, stdout=subprocess.DEVNULL, check=True)
            os.sync()
            warm([pkg])
            if args.only == "sbom":
                print("ratios" + sbom(fwinspect, work, pkg, args.rounds))
            else:
                print("ratios to the floor" + sign_and_verify(fwinspect, work, pkg, floor, args.rounds))
            return
        if args.only != "packing":
            measure_digest(fwbench, fwdigest, work, args.rounds)
        r3 = race("3. fwpack run, no earlier package", pack, floor, args.rounds, output=pkg)
        r3b = race("3b. fwpack run replacing a package", pack, floor, args.rounds)
        subprocess.run(pack, stdout=subprocess.DEVNULL, check=True)
        warm([pkg])
        r5 = race("5. fwinspect verify", [fwinspect, "verify", pkg], floor, args.rounds)
        parts = os.path.join(work, "parts")
        r6 = race("6. fwinspect extract", [fwinspect, "extract", pkg, parts], floor, args.rounds,
                  before=lambda: shutil.rmtree(parts, ignore_errors=True))
        summary = (f"ratios to the floor: 3: {r3:.3f}x (goal <= 1.05); 3b: {r3b:.3f}x (goal <= 1.15); "
                   f"5: {r5:.3f}x (goal <= 1.00); 6: {r6:.3f}x (goal <= 1.05)")
        if args.only == "packing":
            print(summary)
            return
        summary += sign_and_verify(fwinspect, work, pkg, floor, args.rounds)
        summary += sbom(fwinspect, work, pkg, args.rounds)
        measure_limits(fwpack, fwinspect, work, pkg, args.rounds)
        print(summary)
        peers(pack, pkg, inputs, work, args.rounds)
    finally:
        if args.keep:
            print("inputs kept in", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


def measure_digest(fwbench, fwdigest, work, rounds):
    """Our MD5 against OpenSSL's in process, and digestFile against md5sum."""
    big = os.path.join(work, "one.gib")
    make_file(big, 1024)
    warm([big])
    if os.path.exists(fwbench):
        out = subprocess.run([fwbench, "--benchmark_filter=Md5", "--benchmark_repetitions=5",
                              "--benchmark_report_aggregates_only=true", "--benchmark_format=csv"],
                             capture_output=True, text=True, check=True).stdout
        rates = {}
        for line in out.splitlines():
            cells = line.split(",")
            if cells[0].endswith('_median"'):
                rates[cells[0].split("/")[0].strip('"')] = float(cells[5])
        if "Md5OpenSsl" in rates:
            print(f"{'1. MD5 in process, 256 MiB (vs OpenSSL MD5())':<44} "
                  f"{rates['Md5Ours'] / MIB:8.1f} MiB/s baseline {rates['Md5OpenSsl'] / MIB:6.1f} MiB/s"
                  f"  ratio {rates['Md5Ours'] / rates['Md5OpenSsl']:5.3f} (speed-up)")
    race("2. digestFile, cached 1 GiB (vs md5sum)", [fwdigest, big], ["md5sum", big], rounds)
    os.unlink(big)


def measure_limits(fwpack, fwinspect, work, pkg, rounds):
    """Refusing a huge input, the cost of filling the page cache, peak RSS."""
    huge = os.path.join(work, "huge.img")
    with open(huge, "wb") as f:
        f.truncate(4 << 30)
    refuse = [fwpack, "-o", os.path.join(work, "huge.update"), "-b", "1", "-r", huge]
    t_refuse = statistics.median([timed(refuse, expect=255) for _ in range(rounds)])
    print(f"{'7. fwpack refusing a 4 GiB input':<44} {t_refuse:8.3f} s")
    # What writing the package's bytes into the page cache costs here on
    # its own: at once after freeing memory, and after a pause as long as
    # fwpack's digesting, in which a virtual machine's host may take the
    # freed memory back.
    mib = os.path.getsize(pkg) // MIB
    scratch = os.path.join(work, "scratch")
    writes = {}
    for pause in (0, 2):
        times = []
        for _ in range(3):
            settle(scratch)
            time.sleep(pause)
            times.append(timed(["dd", "if=/dev/zero", f"of={scratch}", "bs=1M", f"count={mib}"]))
        writes[pause] = statistics.median(times)
    print(f"{'   writing the package size into page cache':<44} {writes[0]:8.3f} s at once, "
          f"{writes[2]:.3f} s after a 2 s pause")
    small, big = os.path.join(work, "small.img"), os.path.join(work, "big.img")
    make_file(small, 1)
    with open(big, "wb") as f:
        f.truncate(1 << 30)
    small_pack = [fwpack, "-o", os.path.join(work, "small.update"), "-b", "1", "-r", small]
    big_pack = [fwpack, "-o", os.path.join(work, "big.update"), "-b", "1", "-r", big, "-k", big]
    m_small, m_big = peak_rss(small_pack), peak_rss(big_pack)
    print(f"{'4. fwpack peak RSS, 1 MiB vs 2 GiB of inputs':<44} {m_small / 1024:6.1f} MiB vs {m_big / 1024:6.1f} MiB")
    settle(os.path.join(work, "big.update"))
    out = os.path.join(work, "rss-parts")
    m_verify = peak_rss([fwinspect, "verify", pkg])
    m_extract = peak_rss([fwinspect, "extract", pkg, out])
    shutil.rmtree(out, ignore_errors=True)
    print(f"{'   fwinspect peak RSS, verify and extract':<44} {m_verify / 1024:6.1f} MiB and {m_extract / 1024:6.1f} MiB")


if __name__ == "__main__":
    main()
