#!/usr/bin/env python3
"""Makes the FAT images of the end-to-end tests and what vantrel-scan finds on
them, once per build folder (they are made again when this script or
make-volume.py changes):

  d/frag16.img   FAT16, fragmented by make-volume.py, label VANTREL, its
                 largest file deep in a folder tree                   (analysed)
  e/fat12.img    FAT12, no label, a few files, two of them fragmented (analysed)
  f/fat32.img    FAT32, label BIGVOL                                  (never listed)
  g/floppy.img   FAT12, label FLOPPY, mapped as a floppy drive       (never listed)
  h/hidden.img   FAT16, label HIDDEN, hidden by a KIVFAT window      (not listed)
  i/bad.pristine FAT16, label ELEVENCHARS: a copy is damaged while listed

With --expect IMAGE LETTER OUTPUT it only writes OUTPUT for one image (the
demo uses it).

For each analysed image, NAME.expect holds vantrel-scan's values as
"key<TAB>value" lines (paths as the volume's own bytes), and drives.txt the
settings lines of every drive for the driver. Drive E's records are all
smaller than drive D's (largest file, most extents) and its smallest file is
larger, so that a second analysis that did not start from zero shows.
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE_VOLUME = os.path.join(HERE, "..", "..", "scripts", "make-volume.py")
VERSION = "2"


def run(*command, env=None):
    done = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"make-drives: {' '.join(command)} failed:\n{done.stdout}{done.stderr}")
    return done.stdout


def mkfs(image, fat, size_kb, label=None, sectors_per_cluster=None):
    if os.path.exists(image):
        os.remove(image)
    command = ["mkfs.fat", "-C", "--invariant", "-F", str(fat), "-i", "E2E0%04X" % size_kb]
    if sectors_per_cluster:
        command += ["-s", str(sectors_per_cluster)]
    if label:
        command += ["-n", label]
    run(*command, image, str(size_kb))


def mtools_env():
    return dict(os.environ, MTOOLS_SKIP_CHECK="1", MTOOLS_NO_VFAT="1")


def put(image, path, data, scratch):
    with open(scratch, "wb") as out:
        out.write(data)
    run("mcopy", "-i", image, "-o", scratch, "::" + path, env=mtools_env())


def blank_label(image):
    """Writes spaces over the boot sector's label field (offset 43): Wine
    reports that field as the label, and mkfs.fat puts "NO NAME" there."""
    with open(image, "r+b") as disk:
        disk.seek(43)
        disk.write(b" " * 11)


def make_fat12(image, scratch):
    mkfs(image, 12, 1440)
    blank_label(image)
    rng = random.Random(12)
    run("mmd", "-i", image, "::/DOCS", env=mtools_env())
    for index in range(10):
        put(image, f"/FILE{index:02d}.TXT", bytes(rng.randrange(256) for _ in range(600 + 450 * index)), scratch)
    for index in range(4):
        put(image, f"/DOCS/NOTE{index}.TXT", bytes(rng.randrange(256) for _ in range(900 + 700 * index)), scratch)
    put(image, "/EMPTY.TXT", b"", scratch)
    # Holes, then two files written into them: each comes out in pieces.
    for index in (1, 3, 5):
        run("mdel", "-i", image, f"::/FILE{index:02d}.TXT", env=mtools_env())
    put(image, "/DOCS/BIGGER.DAT", bytes(rng.randrange(256) for _ in range(9000)), scratch)
    put(image, "/JOINED.DAT", bytes(rng.randrange(256) for _ in range(5000)), scratch)


def make_small(image, fat, size_kb, label, scratch, spc=None):
    mkfs(image, fat, size_kb, label, spc)
    put(image, "/README.TXT", b"Vantrel end-to-end test volume\r\n", scratch)


def scan(vantrel_scan, image, letter, expect_path):
    report = json.loads(run(vantrel_scan, "--json", "--files", "--drive", letter + ":", image))
    if not report.get("completed"):
        sys.exit(f"make-drives: vantrel-scan did not complete on {image}: {report.get('messages')}")
    lines = []

    def add(key, value):
        if isinstance(value, str):
            value = value.encode("cp437")
        else:
            value = str(value).encode("ascii")
        lines.append(key.encode("ascii") + b"\t" + value)

    for key in ("drive", "cluster_size", "total_space", "free_space_kb", "files", "measured_files",
                "allocated_bytes", "fragmented_files", "total_extents"):
        add(key, report[key])
    add("largest_size", report["largest_file"]["size"])
    add("largest_path", report["largest_file"]["path"])
    add("smallest_size", report["smallest_file"]["size"])
    add("smallest_path", report["smallest_file"]["path"])
    add("max_extents", report["most_fragmented_file"]["extents"])
    add("max_extents_path", report["most_fragmented_file"]["path"])
    for index, entry in enumerate(report["file_list"]):
        add(f"file.{index}", entry["path"])
    with open(expect_path, "wb") as out:
        out.write(b"\n".join(lines) + b"\n")
    return report


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scan", required=True, help="the host vantrel-scan")
    parser.add_argument("--out", help="folder for the drives")
    parser.add_argument("--expect", nargs=3, metavar=("IMAGE", "LETTER", "OUTPUT"),
                        help="only write the expected values of IMAGE analysed as drive LETTER")
    args = parser.parse_args()
    if args.expect:
        image, letter, output = args.expect
        scan(args.scan, image, letter.rstrip(":").upper(), output)
        return
    if not args.out:
        parser.error("--out or --expect is needed")
    out = os.path.abspath(args.out)
    stamp = os.path.join(out, "drives.txt")
    newest = max(os.path.getmtime(__file__), os.path.getmtime(MAKE_VOLUME), os.path.getmtime(args.scan))
    if os.path.exists(stamp) and os.path.getmtime(stamp) >= newest:
        with open(stamp) as settings:
            if settings.readline().strip() == "# make-drives " + VERSION:
                return
    if os.path.isdir(out):
        shutil.rmtree(out)
    for letter in "defghi":
        os.makedirs(os.path.join(out, letter))
    scratch = os.path.join(out, "scratch.bin")

    d = os.path.join(out, "d", "frag16.img")
    run(sys.executable, MAKE_VOLUME, "--fat", "16", "--size", "8M", "--cluster", "1K", "--files", "120",
        "--dirs", "10", "--depth", "4", "--seed", "7", "--quiet", d)
    # The largest file, deep enough that the panel shows only the end of its path.
    for folder in ("/ARCHIVE.OLD", "/ARCHIVE.OLD/BACKUPS", "/ARCHIVE.OLD/BACKUPS/YEAR2024",
                   "/ARCHIVE.OLD/BACKUPS/YEAR2024/PROJECTS"):
        run("mmd", "-i", d, "::" + folder, env=mtools_env())
    put(d, "/ARCHIVE.OLD/BACKUPS/YEAR2024/PROJECTS/LARGEST.BIN", bytes(random.Random(7).randrange(256)
                                                                      for _ in range(1000000)), scratch)
    e = os.path.join(out, "e", "fat12.img")
    make_fat12(e, scratch)
    make_small(os.path.join(out, "f", "fat32.img"), 32, 40000, "BIGVOL", scratch, spc=1)
    make_small(os.path.join(out, "g", "floppy.img"), 12, 1440, "FLOPPY", scratch)
    make_small(os.path.join(out, "h", "hidden.img"), 16, 8192, "HIDDEN", scratch, spc=2)
    make_small(os.path.join(out, "i", "bad.pristine"), 16, 8192, "ELEVENCHARS", scratch, spc=2)
    os.remove(scratch)

    first = scan(args.scan, d, "D", os.path.join(out, "d", "frag16.expect"))
    second = scan(args.scan, e, "E", os.path.join(out, "e", "fat12.expect"))
    if not (second["largest_file"]["size"] // 1000 < first["largest_file"]["size"] // 1000
            and second["most_fragmented_file"]["extents"] < first["most_fragmented_file"]["extents"]
            and second["smallest_file"]["size"] > first["smallest_file"]["size"]
            and first["most_fragmented_file"]["extents"] > 1 and second["most_fragmented_file"]["extents"] > 1):
        sys.exit("make-drives: drive E's records do not lie inside drive D's; change the volumes")
    if len(first["largest_file"]["path"]) <= 41:
        sys.exit("make-drives: drive D's largest file should have a path longer than the panel's field")

    rows = [
        ("D", "fixed", "FAT", "VANTREL", d, os.path.join(out, "d", "frag16.expect")),
        ("E", "fixed", "FAT", "", e, os.path.join(out, "e", "fat12.expect")),
        ("F", "fixed", "FAT32", "BIGVOL", os.path.join(out, "f", "fat32.img"), None),
        ("G", "floppy", "FAT", "FLOPPY", os.path.join(out, "g", "floppy.img"), None),
        ("H", "hidden", "FAT", "HIDDEN", os.path.join(out, "h", "hidden.img"), None),
        ("I", "bad", "FAT", "ELEVENCHARS", os.path.join(out, "i", "bad.img"), None),
    ]
    with open(stamp + ".new", "w") as settings:
        settings.write("# make-drives " + VERSION + "\n")
        for row in rows:
            settings.write("\t".join(["drive"] + [field for field in row if field is not None]) + "\n")
    os.replace(stamp + ".new", stamp)


if __name__ == "__main__":
    main()
