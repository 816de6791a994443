#!/usr/bin/env python3
"""Makes the end-to-end tests' FAT images in OUT once (again when this script,
make-volume.py or vantrel-scan changes) and OUT/drives.txt, a line per drive
for the driver: letter, kind, file system and label as Wine reports them,
image, and for D and E a file of what the panel shows by vantrel-scan's values
("panel X Y NAME TEXT" a field, "file TEXT" a measured file's path field).
D: FAT16, fragmented, its largest file deep in a tree; E: FAT12 without label,
its records inside D's so that a second analysis not started from zero shows;
F: FAT32, G: a floppy, H: hidden by a KIVFAT window (none listed); I: damaged
and repaired by the test; J: an image cut short, a directory's cluster past
its end (a read error during the walk); K: only empty files, so an analysis
that measures no file (its panel file holds the disk fields only).
--expect IMAGE LETTER OUTPUT writes one such file."""
import argparse, json, os, random, shutil, subprocess, sys

MAKE_VOLUME = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "make-volume.py")


def run(*command):
    done = subprocess.run(command, env=dict(os.environ, MTOOLS_SKIP_CHECK="1", MTOOLS_NO_VFAT="1"),
                          stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode:
        sys.exit(f"make-drives: {' '.join(command)} failed:\n{done.stdout}{done.stderr}")
    return done.stdout


def put(image, path, size, rng):
    with open(image + ".file", "wb") as out:
        out.write(bytes(rng.randrange(256) for _ in range(size)))
    run("mcopy", "-i", image, "-o", image + ".file", "::" + path)
    os.remove(image + ".file")


def mkfs(image, fat, kb, *options):
    run("mkfs.fat", "-C", "--invariant", "-F", str(fat), "-i", "E2E0%04X" % kb, *options, image, str(kb))


def int32(value):
    """The low 32 bits of a value read as signed, as "%7d" prints them."""
    return (value & 0xFFFFFFFF) - ((value & 0x80000000) << 1)


def scan(vantrel_scan, image, letter, output):
    # The window shows 8.3 paths (short_path), whose bytes it draws as code page 437.
    report = json.loads(run(vantrel_scan, "--json", "--files", "--codepage", "437", "--drive", letter + ":", image))
    if not report.get("completed"):
        sys.exit(f"make-drives: vantrel-scan did not complete on {image}: {report.get('messages')}")
    # The panel's fields: numbers as "%7d" of their low 32 bits read as signed, paths as their last 41 characters.
    r = report
    n, path = lambda v: "%7d" % int32(v), lambda p: p[-41:].ljust(41)
    lines = [(318, 47, "drive", r["drive"]), (234, 106, "total KB", n(r["total_space"] // 1000)),
             (234, 126, "free KB", n(r["free_space_kb"])), (234, 146, "cluster", n(r["cluster_size"]))]
    if r["measured_files"]:
        lines += file_fields(r, n, path)
    lines = [("panel",) + line for line in lines] + [("file", path(entry["short_path"])) for entry in r["file_list"]]
    with open(output, "wb") as out:
        out.writelines(b"\t".join(str(f).encode("cp437") for f in line) + b"\n" for line in lines)
    return report


def file_fields(r, n, path):
    """The panel's fields of the measured files, after the disk's."""
    average = int(int32(r["total_extents"] * 100) / r["measured_files"])
    largest, smallest, most = r["largest_file"], r["smallest_file"], r["most_fragmented_file"]
    return [(234, 186, "files", n(r["files"])), (234, 206, "allocated KB", n(r["allocated_bytes"] // 1000)),
            (234, 226, "allocated %", n(r["allocated_bytes"] * 100 // r["total_space"])),
            (234, 264, "fragmented", n(r["fragmented_files"])), (234, 284, "extents", n(r["total_extents"])),
            (234, 304, "average", "%4d.%02d" % divmod(average, 100)),
            (234, 342, "largest KB", n(largest["size"] // 1000)),
            (28, 364, "largest path", path(largest["short_path"])), (234, 386, "smallest", n(smallest["size"])),
            (28, 407, "smallest path", path(smallest["short_path"])), (234, 428, "most extents", n(most["extents"])),
            (28, 450, "most extents path", path(most["short_path"])),
            (28, 485, "current file", path("    FRAGMENTATION ANALYSIS COMPLETED    "))]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--scan", required=True, help="the host vantrel-scan")
    parser.add_argument("--out", help="folder for the drives")
    parser.add_argument("--expect", nargs=3, metavar=("IMAGE", "LETTER", "OUTPUT"))
    args = parser.parse_args()
    if args.expect:
        return scan(args.scan, args.expect[0], args.expect[1].rstrip(":").upper(), args.expect[2])
    out = os.path.abspath(args.out)
    stamp = os.path.join(out, "drives.txt")
    if os.path.exists(stamp) and os.path.getmtime(stamp) >= max(map(os.path.getmtime, (__file__, MAKE_VOLUME,
                                                                                      args.scan))):
        return
    shutil.rmtree(out, ignore_errors=True)
    d, e, f, g, h, i, j, k = (os.path.join(out, letter, name) for letter, name in zip("defghijk", (
        "frag16.img", "fat12.img", "fat32.img", "floppy.img", "hidden.img", "bad.pristine", "cut.img",
        "empty.img")))
    for image in (d, e, f, g, h, i, j, k):
        os.makedirs(os.path.dirname(image))
    run(sys.executable, MAKE_VOLUME, "--fat", "16", "--size", "8M", "--cluster", "1K", "--files", "120",
        "--dirs", "10", "--depth", "4", "--seed", "7", "--quiet", d)
    for depth in range(1, 5):  # a path longer than the panel's field
        run("mmd", "-i", d, "::/" + "/".join(("ARCHIVE.OLD", "BACKUPS", "YEAR2024", "PROJECTS")[:depth]))
    put(d, "/ARCHIVE.OLD/BACKUPS/YEAR2024/PROJECTS/LARGEST.BIN", 1000000, random.Random(7))
    mkfs(e, 12, 1440)
    with open(e, "r+b") as disk:  # no label: Wine would report mkfs.fat's "NO NAME"
        disk.seek(43)
        disk.write(b" " * 11)
    rng = random.Random(12)
    run("mmd", "-i", e, "::/DOCS")
    for name, size in ([(f"/FILE{n:02d}.TXT", 600 + 450 * n) for n in range(10)] + [("/EMPTY.TXT", 0)] +
                       [(f"/DOCS/NOTE{n}.TXT", 900 + 700 * n) for n in range(4)]):
        put(e, name, size, rng)
    for n in (1, 3, 5):  # holes, then two files written into them in pieces
        run("mdel", "-i", e, f"::/FILE{n:02d}.TXT")
    for name, size in (("/DOCS/BIGGER.DAT", 9000), ("/JOINED.DAT", 5000)):
        put(e, name, size, rng)
    mkfs(f, 32, 40000, "-s", "1", "-n", "BIGVOL")
    mkfs(g, 12, 1440, "-n", "FLOPPY")
    mkfs(h, 16, 8192, "-s", "2", "-n", "HIDDEN")
    mkfs(i, 16, 8192, "-s", "2", "-n", "ELEVENCHARS")
    mkfs(j, 16, 8192, "-s", "2", "-n", "CUTSHORT")
    rng = random.Random(10)
    for n in range(30):  # 1.5 s of the walk before the read error
        put(j, f"/ROOT{n:02d}.TXT", 1500 + 100 * n, rng)
    put(j, "/FILLER.BIN", 6 << 20, rng)  # the next directory lands beyond 6 MiB
    run("mmd", "-i", j, "::/LATE")
    put(j, "/LATE/AFTER.TXT", 700, rng)
    run("mdel", "-i", j, "::/FILLER.BIN")
    os.truncate(j, 2 << 20)
    mkfs(k, 16, 8192, "-s", "2", "-n", "EMPTYFILES")
    for n in range(10):
        put(k, f"/EMPTY{n}.TXT", 0, rng)
    scan(args.scan, k, "K", k + ".expect")
    records = [(r["largest_file"]["size"] // 1000, r["most_fragmented_file"]["extents"], -r["smallest_file"]["size"])
               for r in (scan(args.scan, d, "D", d + ".expect"), scan(args.scan, e, "E", e + ".expect"))]
    if not all(second < first for first, second in zip(*records)) or records[1][1] < 2:
        sys.exit("make-drives: drive E's records do not lie inside drive D's; change the volumes")
    rows = [("D", "fixed", "FAT", "VANTREL", d, d + ".expect"), ("E", "fixed", "FAT", "", e, e + ".expect"),
            ("F", "fixed", "FAT32", "BIGVOL", f), ("G", "floppy", "FAT", "FLOPPY", g),
            ("H", "hidden", "FAT", "HIDDEN", h), ("I", "bad", "FAT", "ELEVENCHARS", i.replace(".pristine", ".img")),
            ("J", "fixed", "FAT", "CUTSHORT", j), ("K", "fixed", "FAT", "EMPTYFILES", k, k + ".expect")]
    with open(stamp + ".new", "w") as settings:
        settings.writelines("\t".join(("drive",) + row) + "\n" for row in rows)
    os.replace(stamp + ".new", stamp)


if __name__ == "__main__":
    main()
