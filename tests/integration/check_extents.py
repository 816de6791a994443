#!/usr/bin/env python3
"""Holds vantrel-scan's per-file extents against mtools' reading of the same image.

For every file on the volume (listed by mdir), the cluster chain that mshowfat
prints is counted into extents (a run goes on only while the next cluster is
the previous one plus one) and clusters; vantrel-scan --json --files must
report the same for the same file, must account for every file as measured or
empty, must sum its totals from exactly those files, must read the geometry
that fsck.fat reads, must complete without a message and must leave the image
unchanged. With --generate, the image is first made by scripts/make-volume.py.

usage: check_extents.py VANTREL_SCAN IMAGE [--timeout S] [--generate MAKE-VOLUME-ARGUMENTS...]
Exit status 0 when everything agrees, 1 with a report of the differences.
"""

import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE_VOLUME = os.path.join(HERE, "..", "..", "scripts", "make-volume.py")
ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C")

# One entry of an mdir listing: 8-character name, 3-character extension, size
# or <DIR>, date, time and, when the entry has one, its long name.
ENTRY = re.compile(r"^(.{8}) (.{3}) +(<DIR>|\d+) +\d{4}-\d\d-\d\d +\d+:\d\d(?:  (.*?))? *$")
SUMMARY = re.compile(r"^ +\d[\d ]* files? +[\d ]+ bytes$|^ +[\d ]+ bytes free$|^Total files listed:$"
                     r"|^ Volume (in drive|Serial Number)|^$")
SHOWFAT = re.compile(r"^(::/.*?) ((?:<\d+(?:-\d+)?> ?)+)$")
SHOWFAT_EMPTY = re.compile(r"^(::/.*?) Root directory or empty file$")


class Failure(Exception):
    pass


def run(command, timeout=300):
    done = subprocess.run(command, env=ENV, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, errors="replace", timeout=timeout)
    return done


def tool(command):
    done = run(command)
    if done.returncode != 0:
        raise Failure(f"{' '.join(command[:4])} ... failed ({done.returncode}): {done.stderr.strip()}")
    return done.stdout


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as image:
        for block in iter(lambda: image.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def read_fsck(image):
    """Geometry and usage as fsck.fat reads them, without changing the image."""
    done = run(["fsck.fat", "-nv", image])
    if done.returncode != 0:
        raise Failure(f"fsck.fat finds faults in {image}; it is no reference:\n{done.stdout}{done.stderr}")

    def number(pattern):
        found = re.search(pattern, done.stdout, re.M)
        if not found:
            raise Failure(f"cannot find /{pattern}/ in fsck.fat's report:\n{done.stdout}")
        return int(found.group(1))

    return {
        "cluster_bytes": number(r"^\s*(\d+) bytes per cluster$"),
        "fat_bits": number(r"^\s*\d+ FATs, (\d+) bit entries$"),
        "clusters": number(r"^\s*(\d+) data clusters"),
        "used": number(r": \d+ files, (\d+)/\d+ clusters$"),
    }


def list_files(image):
    """Every file of the volume as {short path: size}; the short path is what
    vantrel-scan prints, upper-cased, with / between the names."""
    done = run(["mdir", "-/", "-a", "-i", image, "::"])
    if done.returncode != 0 and "not found" in done.stderr and not done.stdout.strip():
        return {}   # how mdir reports a volume without any entry
    if done.returncode != 0:
        raise Failure(f"mdir failed ({done.returncode}): {done.stderr.strip()}")
    listing = done.stdout
    short_of = {"::/": ""}          # a directory's path in mdir's headers -> its short path
    files = {}
    directory = None
    for line in listing.splitlines():
        if line.startswith("Directory for "):
            header = line[len("Directory for "):]
            if header not in short_of:
                raise Failure(f"mdir lists a directory it never showed as an entry: {header}")
            directory = header
            continue
        entry = ENTRY.match(line)
        if entry is None:
            if SUMMARY.match(line):
                continue
            raise Failure(f"cannot read this line of mdir's listing: {line!r}")
        name, ext, size, long_name = entry.group(1).rstrip(), entry.group(2).rstrip(), entry.group(3), entry.group(4)
        if name in (".", ".."):
            continue
        shown = name + ("." + ext if ext else "")
        short = (short_of[directory] + "/" if short_of[directory] else "") + shown.upper()
        if size == "<DIR>":
            short_of[directory.rstrip("/") + "/" + (long_name or shown)] = short
        else:
            files[short] = int(size)
    return files


def read_chains(image, paths):
    """The cluster numbers of each file's chain, as mshowfat prints them."""
    chains = {}
    for start in range(0, len(paths), 400):
        batch = ["::/" + p for p in paths[start:start + 400]]
        for line in tool(["mshowfat", "-i", image, *batch]).splitlines():
            if not line.strip():
                continue
            runs = SHOWFAT.match(line)
            if runs:
                clusters = []
                for first, _, last in re.findall(r"<(\d+)(-(\d+))?>", runs.group(2)):
                    clusters.extend(range(int(first), int(last or first) + 1))
                chains[runs.group(1)[3:].upper()] = clusters
            elif SHOWFAT_EMPTY.match(line):
                chains[SHOWFAT_EMPTY.match(line).group(1)[3:].upper()] = []
            else:
                raise Failure(f"cannot read this line of mshowfat's output: {line!r}")
    missing = [p for p in paths if p not in chains]
    if missing:
        raise Failure(f"mshowfat printed no chain for {len(missing)} files, e.g. {missing[:3]}")
    return chains


def scan(vantrel, image, timeout):
    started = time.monotonic()
    try:
        done = run([vantrel, "--json", "--files", image], timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure(f"vantrel-scan did not finish within {timeout} s")
    seconds = time.monotonic() - started
    problems = []
    if done.returncode != 0:
        problems.append(f"vantrel-scan exited with status {done.returncode}")
    if done.stderr.strip():   # messages, and any sanitizer's report
        problems.append("vantrel-scan wrote to stderr:\n" + done.stderr.strip())
    try:
        report = json.loads(done.stdout)
    except ValueError as error:
        raise Failure("\n".join(problems + [f"vantrel-scan's output is not JSON ({error}):\n{done.stdout[:2000]}"]))
    return report, problems, seconds


def compare(report, files, chains, geometry):
    """The differences between vantrel-scan's report and mtools' reading, as lines."""
    problems = []
    cluster = geometry["cluster_bytes"]
    expected = {}          # measured files: path -> (extents, clusters, size)
    empty, unfit = [], []
    for path, size in files.items():
        chain = chains[path]
        if not chain and size == 0:
            empty.append(path)
        elif chain and (len(chain) - 1) * cluster < size <= len(chain) * cluster:
            expected[path] = (len(runs_of(chain)), len(chain), size)
        else:
            unfit.append(f"{path}: {len(chain)} clusters for {size} bytes")
    if unfit:
        problems.append(f"{len(unfit)} files of the image have chains that do not fit their sizes, "
                        "so the image is no fair test: " + "; ".join(unfit[:5]))

    got = {}
    for record in report.get("file_list", []):
        path = record["path"]
        if not path.startswith(report["drive"] + "\\"):
            problems.append(f"a file outside the drive: {path}")
            continue
        key = path[len(report["drive"]) + 1:].replace("\\", "/").upper()
        if key in got:
            problems.append(f"listed twice: {path}")
        got[key] = (record["extents"], record["clusters"], record["size"])

    rows = []
    for path in sorted(set(expected) | set(got)):
        want, have = expected.get(path), got.get(path)
        if want != have:
            runs = "".join(f"<{a}-{b}>" if a != b else f"<{a}>" for a, b in runs_of(chains.get(path, [])))
            rows.append((path, have, want, runs))
    if rows:
        problems.append(f"{len(rows)} files differ (extents/clusters/size; vantrel vs mtools):")
        def shown(value):
            return "not listed" if value is None else "/".join(map(str, value))
        for path, have, want, runs in rows[:40]:
            problems.append(f"  {path:60} vantrel {shown(have):>16}   mtools {shown(want):>16}   {runs[:80]}")
        if len(rows) > 40:
            problems.append(f"  ... and {len(rows) - 40} more")

    measured = list(expected.values())
    checks = [
        ("files", len(files)),
        ("measured_files", len(expected)),
        ("zero_length_files", len(empty)),
        ("total_extents", sum(e for e, _, _ in measured)),
        ("fragmented_files", sum(1 for e, _, _ in measured if e > 1)),
        ("allocated_bytes", sum(c for _, c, _ in measured) * cluster),
        ("cluster_size", cluster),
        ("fat_bits", geometry["fat_bits"]),
        ("total_space", geometry["clusters"] * cluster),
        ("free_space_kb", (geometry["clusters"] - geometry["used"]) * cluster // 1000),
        ("completed", True),
        ("messages", []),
    ]
    for key, want in checks:
        if report.get(key) != want:
            problems.append(f"{key}: vantrel {report.get(key)!r}, expected {want!r}")
    if len(report.get("file_list", [])) != report.get("measured_files"):
        problems.append(f"the report lists {len(report.get('file_list', []))} files but counts "
                        f"{report.get('measured_files')} measured")
    if report.get("measured_files", 0) + report.get("zero_length_files", 0) != len(files):
        problems.append(f"measured + zero-length files = {report.get('measured_files')} + "
                        f"{report.get('zero_length_files')}, but the volume holds {len(files)} files")

    # The records name a file that holds the record value.
    records = [("largest_file", "size", max((s for _, _, s in measured), default=None), 2),
               ("smallest_file", "size", min((s for _, _, s in measured if s), default=None), 2),
               ("most_fragmented_file", "extents", max((e for e, _, _ in measured), default=None), 0)]
    for key, field, want, index in records:
        record = report.get(key)
        if want is None:
            if record is not None:
                problems.append(f"{key}: vantrel {record}, expected null")
            continue
        if record is None or record.get(field) != want:
            problems.append(f"{key}: vantrel {record}, expected {field} {want}")
            continue
        holder = record["path"][len(report["drive"]) + 1:].replace("\\", "/").upper()
        if holder not in expected or expected[holder][index] != want:
            problems.append(f"{key}: {record['path']} does not hold {field} {want}")
    return problems, len(expected), len(empty)


def runs_of(chain):
    """The chain as [first, last] runs: a run goes on only while each cluster
    is the one before plus one."""
    runs = []
    for cluster in chain:
        if runs and cluster == runs[-1][1] + 1:
            runs[-1][1] = cluster
        else:
            runs.append([cluster, cluster])
    return runs


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("vantrel_scan")
    parser.add_argument("image")
    parser.add_argument("--timeout", type=float, default=120, help="seconds vantrel-scan may take (120)")
    parser.add_argument("--generate", nargs=argparse.REMAINDER,
                        help="make IMAGE first with make-volume.py and these arguments")
    args = parser.parse_args()

    started = time.monotonic()
    name = os.path.basename(args.image)
    try:
        if args.generate is not None:
            os.makedirs(os.path.dirname(os.path.abspath(args.image)), exist_ok=True)
            done = run([sys.executable, MAKE_VOLUME, "-q", *args.generate, args.image], timeout=1800)
            if done.returncode != 0:
                raise Failure(f"make-volume.py failed:\n{done.stderr}")
            print(done.stdout.strip())
        geometry = read_fsck(args.image)
        before = sha256(args.image)
        report, problems, seconds = scan(args.vantrel_scan, args.image, args.timeout)
        if sha256(args.image) != before:
            problems.append("the image changed during the analysis")
        files = list_files(args.image)
        chains = read_chains(args.image, sorted(files))
        found, measured, empty = compare(report, files, chains, geometry)
        problems += found
    except Failure as failure:
        print(f"check_extents: {name}: FAILED\n{failure}")
        return 1
    if problems:
        print(f"check_extents: {name}: FAILED")
        print("\n".join(problems))
        return 1
    fragmented = report["fragmented_files"]
    print(f"check_extents: {name}: OK: {len(files)} files ({measured} measured, {empty} empty), "
          f"{report['total_extents']} extents, {fragmented} fragmented files, most extents "
          f"{(report['most_fragmented_file'] or {}).get('extents', 0)}; image unchanged; "
          f"scan {seconds:.1f} s, all {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
