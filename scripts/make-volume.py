#!/usr/bin/env python3
"""Makes a realistic, fragmented FAT12, FAT16 or FAT32 image with mkfs.fat and mtools.

The volume is aged the way a disk in daily use ages: over several rounds,
directories are created and files are written a directory at a time,
interleaved across the tree; short-lived files are deleted again, and large
files are then written into the holes they leave (mtools allocates from the
lowest free cluster, so those files come out in many pieces, and so do the
directories that grew meanwhile; on FAT32 it allocates after the FSInfo
sector's next-free hint, so the hint is pointed back at cluster 2 before every
write). With the same mkfs.fat and mtools, the same
arguments and seed always give the same image, byte for byte. Nothing is
mounted; only the standard library, mkfs.fat and mtools are used. The small
presets take seconds; "large" takes a minute or two and writes about 1.5 GB.
"""

import argparse
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

PRESETS = {
    # A 1.44 MB floppy: FAT12, 512-byte clusters, directories of several clusters.
    "floppy": dict(fat=12, size="1440K", cluster="512", files=150, dirs=16, depth=4),
    # A few hundred files on a small FAT16 volume: quick enough for every test run.
    "small": dict(fat=16, size="32M", cluster="2K", files=400, dirs=40, depth=6),
    # FAT16 with about 61,000 clusters of 512 bytes, filled to 90 %: cluster
    # numbers up to the top of the 16-bit range.
    "dense": dict(fat=16, size="30M", cluster="512", files=600, dirs=60, depth=8, fill=0.9),
    # A full-size FAT16 volume for benchmarks and demonstrations.
    "large": dict(fat=16, size="2G", cluster="32K", files=20000, dirs=1000, depth=12),
    # The smallest FAT32 volume mkfs.fat makes with 512-byte clusters.
    "fat32": dict(fat=32, size="36M", cluster="512", files=400, dirs=40, depth=6),
    # A 32 GiB FAT32 card with 100,000 small files, for benchmarks (a sparse file).
    "card32": dict(fat=32, size="32G", cluster="16K", files=100000, dirs=5000, depth=12, rounds=2,
                   fill=0.05, churn=0.1),
}
DEFAULTS = dict(fat=16, size="32M", cluster="2K", files=400, dirs=40, depth=6, seed=1,
                fill=0.75, churn=0.35, rounds=4, long_names=0.15)

STEMS = ["DATA", "DOCS", "SRC", "LIB", "BIN", "TEMP", "LOGS", "IMAGES", "PHOTOS", "MUSIC",
         "BACKUP", "CONFIG", "REPORTS", "PROJECT", "GAMES", "SAVES", "DRIVERS", "UTILS",
         "ARCHIVE", "MAIL", "NOTES", "TOOLS", "FONTS", "HELP", "SAMPLES", "TEXT", "INCLUDE",
         "OBJ", "OLD", "NEW", "WORK", "MISC", "SYSTEM", "SETUP", "LETTERS", "INVOICE",
         "SCANS", "SOUNDS", "LEVELS", "MAPS", "README", "CHAPTER", "DRAFT", "TABLES"]
EXTENSIONS = ["TXT", "DOC", "DAT", "EXE", "DLL", "BMP", "JPG", "ZIP", "LOG", "INI", "C",
              "H", "BAK", "WAV", "CFG", "HLP", "PCX", "OVL", "", "COM", "SYS", "XLS", "PAS"]
WORDS = ["annual", "report", "holiday", "photo", "letter", "to", "the", "bank", "draft",
         "final", "version", "meeting", "notes", "budget", "invoice", "scan", "recipe",
         "backup", "of", "old", "project", "plan", "summary", "chapter", "sound", "track"]

# Epoch seconds of 2015-01-02: the images' clock starts there and each round
# moves it on by about a month.
CLOCK_START = 1420156800
ROUND_SECONDS = 30 * 24 * 3600

# Longest command line handed to one mtools call, in bytes.
MAX_ARGS_BYTES = 60000


def fail(message):
    sys.exit("make-volume.py: " + message)


def parse_bytes(text, bare_unit, what):
    """`text` as a byte count: a number with K, M or G (binary units), or a bare
    number counted in `bare_unit` bytes."""
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    text = text.strip().upper().removesuffix("IB").removesuffix("B")
    unit = bare_unit
    if text and text[-1] in units:
        unit = units[text[-1]]
        text = text[:-1]
    try:
        value = float(text) * unit
    except ValueError:
        fail(f"cannot read {what} '{text}'")
    if value <= 0 or value != int(value):
        fail(f"{what} must be a positive whole number of bytes")
    return int(value)


class Dir:
    def __init__(self, parent, name, level, round_made):
        self.parent = parent
        self.name = name            # the name given to mtools (long or 8.3)
        self.level = level
        self.round_made = round_made
        self.names = set()          # upper-cased names taken in this directory
        self.slots = 2              # directory entries used, counting "." and ".."
        self.weight = 1.0
        self.path = "::/" if parent is None else parent.path + name + "/"


class File:
    def __init__(self, directory, name, size, round_written, kind):
        self.dir = directory
        self.name = name
        self.size = size
        self.round_written = round_written
        self.round_deleted = None   # set for short-lived files
        self.kind = kind            # "regular", "empty", "filler" or "temporary"
        self.mtime = 0
        self.attribute = None
        self.first_size = None      # set for files written smaller first ...
        self.round_rewritten = None  # ... and rewritten at full size in this round

    @property
    def path(self):
        return self.dir.path + self.name


def is_short_name(name):
    base, dot, ext = name.partition(".")
    allowed = set("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-")
    return (1 <= len(base) <= 8 and len(ext) <= 3 and not (dot and not ext)
            and set(name.replace(".", "", 1)) <= allowed)


def entry_slots(name):
    """Directory entries a name takes: one, plus the long-name entries that
    mtools adds for a name that is not a plain 8.3 name."""
    if is_short_name(name.upper()) and (name == name.upper() or name == name.lower()):
        return 1
    return 1 + math.ceil(len(name) / 13)


class Planner:
    """Decides, from the seed alone, the tree, every file and every step."""

    def __init__(self, args, clusters, cluster_bytes, root_entries):
        self.args = args
        self.rng = random.Random(args.seed)
        self.clusters = clusters
        self.cluster_bytes = cluster_bytes
        self.root_entries = root_entries

    def unique_name(self, directory, long_fraction, extension=None, is_dir=False):
        rng = self.rng
        for _ in range(1000):
            if rng.random() < long_fraction:
                words = rng.sample(WORDS, rng.randint(2, 4))
                if rng.random() < 0.5:
                    words = [w.capitalize() for w in words]
                name = rng.choice([" ", "_", "-"]).join(words)
                if rng.random() < 0.6:
                    name += f" {rng.randint(1, 2024)}"
                if not is_dir:
                    ext = extension if extension is not None else rng.choice(EXTENSIONS)
                    name += "." + ext.lower() if ext else ""
            else:
                stem = rng.choice(STEMS)
                number = str(rng.randint(0, 999)) if rng.random() < 0.8 else ""
                name = stem[:8 - len(number)] + number
                if not is_dir:
                    ext = extension if extension is not None else rng.choice(EXTENSIONS)
                    name += "." + ext if ext else ""
                elif rng.random() < 0.1:
                    name += "." + rng.choice(["OLD", "BAK", "1", "D"])
            key = name.upper()
            if key not in directory.names:
                slots = entry_slots(name)
                if directory.parent is None and directory.slots + slots > self.root_entries - 4:
                    return None   # the root directory is full
                directory.names.add(key)
                directory.slots += slots
                return name
        return None

    def plan_tree(self):
        args, rng = self.args, self.rng
        root = Dir(None, "", 0, 0)
        root.slots = 0   # the root has no "." and ".." entries
        dirs = [root]
        parent = root
        for level in range(1, args.depth + 1):   # one branch reaches the full depth
            name = self.unique_name(parent, args.long_names, is_dir=True)
            if name is None:
                fail("the root directory has no room for the tree")
            parent = Dir(parent, name, level, 0)
            dirs.append(parent)
        while len(dirs) - 1 < args.dirs:
            eligible = [d for d in dirs if d.level < args.depth]
            parent = rng.choice(eligible)
            name = self.unique_name(parent, args.long_names, is_dir=True)
            if name is None:
                continue
            # Most directories are made with their parent; some a round later.
            made = min(args.rounds - 1, parent.round_made + (rng.random() < 0.35))
            dirs.append(Dir(parent, name, parent.level + 1, made))
        for d in dirs[1:]:
            # A few directories hold most of the files, as on real disks.
            d.weight = min(rng.paretovariate(1.2), 40.0)
        root.weight = 0.3
        self.dirs = dirs

    def pick_dir(self):
        return self.rng.choices(self.dirs, weights=[d.weight for d in self.dirs])[0]

    def new_file(self, kind, size, long_fraction, extension=None, first_round=0):
        for _ in range(100):
            directory = self.pick_dir()
            name = self.unique_name(directory, long_fraction, extension)
            if name is not None:
                start = max(directory.round_made, first_round)
                written = self.rng.randrange(start, self.args.rounds)
                return File(directory, name, size, written, kind)
        fail("no directory has room for another file: use fewer files or more directories")

    def clusters_of(self, size):
        return -(-size // self.cluster_bytes)

    def scaled(self, sizes, target):
        """`sizes` shrunk in proportion until their clusters fit in `target`."""
        for _ in range(30):
            used = sum(self.clusters_of(s) for s in sizes)
            if used <= target:
                break
            factor = target / used * 0.97
            sizes = [max(1, int(s * factor)) for s in sizes]
        return sizes

    def plan_files(self):
        args, rng = self.args, self.rng
        n = args.files
        empties = round(n * 0.02)
        fillers = max(1, n * 3 // 100) if n - empties >= 2 else 0
        regulars = n - empties - fillers

        regular_sizes = []
        for _ in range(regulars):
            if rng.random() < 0.8:
                regular_sizes.append(int(math.exp(rng.uniform(0, math.log(20 << 10)))))
            else:
                regular_sizes.append(int(math.exp(rng.uniform(math.log(20 << 10), math.log(2 << 20)))))
        temporary_sizes = [int(math.exp(rng.uniform(math.log(512), math.log(256 << 10))))
                           for _ in range(round(n * args.churn))]

        files = [self.new_file("regular", s, args.long_names) for s in regular_sizes]
        files += [self.new_file("empty", 0, args.long_names) for _ in range(empties)]
        fillers_made = [self.new_file("filler", 0, args.long_names,
                                      extension=rng.choice(["ZIP", "BAK", "DAT", "WAV", "EXE"]))
                        for _ in range(fillers)]
        temporaries = [self.new_file("temporary", s, args.long_names,
                                     extension=rng.choice(["TMP", "$$$", "BAK", "LOG", "~MP"]))
                       for s in temporary_sizes]

        dir_clusters = sum(self.clusters_of(d.slots * 32) for d in self.dirs[1:])
        budget = int(self.clusters * args.fill) - dir_clusters
        if regulars + fillers > budget:
            fail(f"{n} files need at least {regulars + fillers + dir_clusters} clusters and "
                 f"--fill {args.fill} leaves {budget + dir_clusters} of {self.clusters}: "
                 "use fewer files, a larger volume or smaller clusters")
        regular_sizes = self.scaled(regular_sizes, int(budget * 0.65))
        for f, s in zip(files, regular_sizes):
            f.size = s
        left = budget - sum(self.clusters_of(s) for s in regular_sizes)
        if fillers_made:
            weights = [rng.uniform(0.3, 1.7) for _ in fillers_made]
            scale = max(left - fillers, 0) / sum(weights)
            for f, w in zip(fillers_made, weights):
                count = 1 + int(w * scale)
                f.size = count * self.cluster_bytes - rng.randrange(self.cluster_bytes)
        spare = self.clusters - int(self.clusters * args.fill)
        temporary_sizes = self.scaled(temporary_sizes, int(spare * 0.8))
        for f, s in zip(temporaries, temporary_sizes):
            f.size = s
            f.round_deleted = rng.randrange(f.round_written, args.rounds)

        for f in files:
            # Some files are first written smaller and rewritten later at their
            # full size, as documents and logs grow: the rewrite lands in holes.
            if f.kind == "regular" and f.round_written < args.rounds - 1 and rng.random() < 0.25:
                f.first_size = max(1, int(f.size * rng.uniform(0.2, 0.8)))
                f.round_rewritten = rng.randrange(f.round_written + 1, args.rounds)
        files += fillers_made
        for f in files:
            roll = rng.random()
            f.attribute = "+h" if roll < 0.03 else "+s" if roll < 0.04 else "+r" if roll < 0.07 else None
        for f in files + temporaries:
            last = f.round_written if f.round_rewritten is None else f.round_rewritten
            f.mtime = CLOCK_START + last * ROUND_SECONDS + rng.randrange(ROUND_SECONDS)
        self.files = files
        self.temporaries = temporaries

    def plan_rounds(self):
        """Per round, the steps in order: ("mkdir", [dirs]), ("copy", dir,
        [(file, size)], overwrite), ("delete", [files])."""
        rng = self.rng
        rounds = []
        for r in range(self.args.rounds):
            new_dirs = sorted((d for d in self.dirs[1:] if d.round_made == r), key=lambda d: d.level)
            chunks = 4
            made_at = {}
            steps = []
            for c in range(chunks):
                part = new_dirs[c * len(new_dirs) // chunks:(c + 1) * len(new_dirs) // chunks]
                if part:
                    steps.append(((c / chunks, 0), ("mkdir", part)))
                    for d in part:
                        made_at[id(d)] = c / chunks
            writes = {}
            for f in self.files + self.temporaries:
                if f.round_written == r and f.kind != "filler":
                    size = f.size if f.first_size is None else f.first_size
                    writes.setdefault((id(f.dir), False), (f.dir, []))[1].append((f, size))
                elif f.round_rewritten == r:
                    writes.setdefault((id(f.dir), True), (f.dir, []))[1].append((f, f.size))
            written_at = {}
            for (_, overwrite), (d, batch) in writes.items():
                rng.shuffle(batch)
                # Files come a few at a time (saving a document) or many
                # at once (unpacking an archive).
                groups = -(-len(batch) // rng.choice([1, 2, 4, 8, 12, 12]))
                for g in range(groups):
                    start = made_at.get(id(d), 0.0)
                    position = start + rng.random() * (1.0 - start)
                    steps.append(((position, 1), ("copy", d, batch[g::groups], overwrite)))
                    for f, _ in batch[g::groups]:
                        written_at[id(f)] = position
            # Short-lived files go in a few deletions spread over the round, so
            # that the files written after each one find its holes.
            deletions = 3
            doomed = [[] for _ in range(deletions)]
            for f in self.temporaries:
                if f.round_deleted == r:
                    at = written_at.get(id(f), 0.0)
                    when = at + rng.random() * (1.0 - at)
                    doomed[min(deletions - 1, int(when * deletions))].append(f)
            for k, batch in enumerate(doomed):
                if batch:
                    steps.append((((k + 1) / deletions, 2), ("delete", batch)))
            steps.sort(key=lambda step: step[0])
            plan = [step for _, step in steps]
            late = {}
            for f in self.files:
                if f.round_written == r and f.kind == "filler":
                    late.setdefault(id(f.dir), (f.dir, []))[1].append((f, f.size))
            for d, batch in late.values():
                plan.append(("copy", d, batch, False))
            rounds.append(plan)
        return rounds


def batches(items, text_of):
    """`items` cut into runs whose texts fit on one command line."""
    run, length = [], 0
    for item in items:
        size = len(text_of(item).encode()) + 1
        if run and length + size > MAX_ARGS_BYTES:
            yield run
            run, length = [], 0
        run.append(item)
        length += size
    if run:
        yield run


class Builder:
    def __init__(self, image, quiet):
        self.image = image
        self.quiet = quiet
        self.env = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C", TZ="UTC")
        self.calls = 0

    def run(self, command, clock=None):
        env = self.env if clock is None else dict(self.env, SOURCE_DATE_EPOCH=str(clock))
        self.calls += 1
        done = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if done.returncode != 0 or done.stderr.strip():
            shown = " ".join(command[:6]) + (" ..." if len(command) > 6 else "")
            fail(f"{shown} failed ({done.returncode}):\n{done.stderr.strip()}")
        return done.stdout

    def mtools(self, tool, *arguments, clock=None):
        return self.run([tool, "-i", self.image, *arguments], clock)


def make_filesystem(args, builder):
    """Runs mkfs.fat; a size too large for FAT16 with this cluster size is
    trimmed to the largest that fits. Returns the size used in KiB."""
    kib = args.size_bytes // 1024

    def attempt(size):
        if os.path.exists(args.output):
            os.remove(args.output)
        done = subprocess.run(
            ["mkfs.fat", "-C", "--invariant", "-F", str(args.fat), "-S", "512",
             "-s", str(args.cluster_bytes // 512), "-i", f"{args.seed & 0xFFFFFFFF:08X}",
             "-n", "VANTREL", args.output, str(size)],
            env=dict(builder.env, SOURCE_DATE_EPOCH=str(CLOCK_START)),
            stdin=subprocess.DEVNULL, capture_output=True, text=True)
        return done

    done = attempt(kib)
    if done.returncode == 0:
        return kib
    if "too many clusters" in done.stderr:
        low, high = int(kib * 0.9), kib   # find the largest size that mkfs.fat accepts
        if attempt(low).returncode == 0:
            while high - low > 1:
                middle = (low + high) // 2
                if attempt(middle).returncode == 0:
                    low = middle
                else:
                    high = middle
            if attempt(low).returncode == 0:
                if not args.quiet:
                    print(f"make-volume.py: {kib} KiB holds too many {args.cluster_bytes}-byte clusters "
                          f"for FAT{args.fat}; using {low} KiB", file=sys.stderr)
                return low
    estimate = args.size_bytes // args.cluster_bytes
    fail(f"mkfs.fat failed:\n{done.stderr.strip()}\n(a volume of this size has about {estimate} clusters of "
         f"{args.cluster_bytes} bytes; FAT12 holds at most 4084 clusters, FAT16 from 4085 to 65524)")


def read_geometry(path):
    """Data clusters and root directory entries of the image that mkfs.fat made."""
    with open(path, "rb") as image:
        boot = image.read(512)
    per_sector, per_cluster, reserved, fats, root, total16 = struct.unpack_from("<HBHBHH", boot, 11)
    per_fat, = struct.unpack_from("<H", boot, 22)
    per_fat = per_fat or struct.unpack_from("<I", boot, 36)[0]
    total32, = struct.unpack_from("<I", boot, 32)
    total = total16 or total32
    data_start = reserved + fats * per_fat + root * 32 // per_sector
    return (total - data_start) // per_cluster, root


def rewind_next_free(path):
    """Points a FAT32 volume's FSInfo next-free hint at cluster 2, so that the
    next write fills the lowest holes first, as on FAT12 and FAT16."""
    with open(path, "r+b") as image:
        boot = image.read(512)
        fsinfo, = struct.unpack_from("<H", boot, 48)
        image.seek(fsinfo * 512 + 492)
        image.write(struct.pack("<I", 2))


def write_sources(folder, group, clock):
    for f, size in group:
        path = os.path.join(folder, f.name)
        with open(path, "wb") as out:
            out.write(f"{f.name} {size}\n".encode()[:size])
            out.truncate(size)   # the rest stays a hole: mcopy reads zeros
        mtime = f.mtime if f.first_size is None or size == f.size else clock
        os.utime(path, (mtime, mtime))


def build(args):
    builder = Builder(args.output, args.quiet)
    kib = make_filesystem(args, builder)
    clusters, root_entries = read_geometry(args.output)
    if args.fat != 32 and 4080 <= clusters <= 4095:
        fail(f"{clusters} clusters is too close to the FAT12/FAT16 boundary (4085): "
             "choose another size or cluster size")
    # A FAT32 root is a chain that grows like any directory.
    planner = Planner(args, clusters, args.cluster_bytes, root_entries or 65536)
    planner.plan_tree()
    planner.plan_files()
    rounds = planner.plan_rounds()

    def say(text):
        if not args.quiet:
            print(text, file=sys.stderr, flush=True)

    say(f"make-volume.py: FAT{args.fat}, {kib} KiB, {clusters} clusters of {args.cluster_bytes} bytes, "
        f"{len(planner.files)} files in {len(planner.dirs) - 1} directories, depth {args.depth}, "
        f"{len(planner.temporaries)} short-lived files, seed {args.seed}")
    work = tempfile.mkdtemp(prefix=".make-volume-", dir=os.path.dirname(os.path.abspath(args.output)))
    try:
        for number, plan in enumerate(rounds):
            clock = CLOCK_START + number * ROUND_SECONDS
            for step in plan:
                if step[0] == "mkdir":
                    for run in batches(step[1], lambda d: d.path):
                        builder.mtools("mmd", *[d.path.rstrip("/") for d in run], clock=clock)
                elif step[0] == "delete":
                    for run in batches(step[1], lambda f: f.path):
                        builder.mtools("mdel", *[f.path for f in run])
                else:
                    _, directory, group, overwrite = step
                    folder = os.path.join(work, "copy")
                    os.mkdir(folder)
                    write_sources(folder, group, clock)
                    if args.fat == 32:
                        rewind_next_free(args.output)
                    for run in batches(group, lambda item: os.path.join(folder, item[0].name)):
                        builder.mtools("mcopy", "-m", "-D", "o" if overwrite else "s",
                                       *[os.path.join(folder, f.name) for f, _ in run], directory.path,
                                       clock=clock)
                    shutil.rmtree(folder)
            say(f"  round {number + 1} of {len(rounds)} written ({builder.calls} mtools calls so far)")
        for flag in ("+h", "+s", "+r"):
            marked = [f for f in planner.files if f.attribute == flag]
            for run in batches(marked, lambda f: f.path):
                builder.mtools("mattrib", flag, *[f.path for f in run])
    finally:
        shutil.rmtree(work, ignore_errors=True)

    # mdir reports an empty volume as "not found".
    listing = builder.mtools("mdir", "-/", "-a", "-b", "::").splitlines() if planner.files or args.dirs else []
    found_dirs = sum(1 for line in listing if line.endswith("/"))
    found_files = len(listing) - found_dirs
    if (found_files, found_dirs) != (len(planner.files), len(planner.dirs) - 1):
        fail(f"the image holds {found_files} files in {found_dirs} directories instead of "
             f"{len(planner.files)} in {len(planner.dirs) - 1}")
    if not args.no_fsck:
        done = subprocess.run(["fsck.fat", "-n", args.output], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        if done.returncode != 0:
            fail("fsck.fat finds faults in the image:\n" + done.stdout + done.stderr)
    used = sum(planner.clusters_of(f.size) for f in planner.files)
    print(f"{args.output}: FAT{args.fat}, {clusters} clusters of {args.cluster_bytes} bytes, "
          f"{len(planner.files)} files ({used} clusters) in {len(planner.dirs) - 1} directories, "
          f"depth {args.depth}, seed {args.seed}")


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0] + "\n\n" + __doc__.split("\n\n")[1],
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="presets (each value can still be overridden):\n" + "\n".join(
            f"  {name:7} " + ", ".join(f"--{k.replace('_', '-')} {v}" for k, v in p.items())
            for name, p in PRESETS.items()) + "\n\nexamples:\n"
        "  make-volume.py --preset floppy --seed 7 floppy.img\n"
        "  make-volume.py --preset large big.img          (2 GiB minus what FAT16 cannot hold)\n"
        "  make-volume.py --fat 16 --size 64M --cluster 4K --files 3000 --dirs 200 --depth 9 v.img\n")
    parser.add_argument("output", help="image file to write (replaced if it exists)")
    parser.add_argument("--preset", choices=sorted(PRESETS), help="start from these settings")
    parser.add_argument("--fat", type=int, choices=[12, 16, 32], help=f"FAT type (default {DEFAULTS['fat']})")
    parser.add_argument("--size", help="volume size: 1440K, 32M, 2G; a bare number counts KiB "
                        f"(default {DEFAULTS['size']}); a size too large for FAT16 with the chosen "
                        "cluster size is trimmed to the largest that fits")
    parser.add_argument("--cluster", help="cluster size in bytes, 512 to 64K, a power of two "
                        f"(default {DEFAULTS['cluster']})")
    parser.add_argument("--files", type=int, help=f"number of files (default {DEFAULTS['files']}); "
                        "about 2 %% are empty and 3 %% are large files written into holes")
    parser.add_argument("--dirs", type=int, help=f"number of directories besides the root (default {DEFAULTS['dirs']})")
    parser.add_argument("--depth", type=int, help=f"depth of the tree; one branch goes this deep (default {DEFAULTS['depth']})")
    parser.add_argument("--seed", type=int, help=f"random seed; also the volume serial number (default {DEFAULTS['seed']})")
    parser.add_argument("--fill", type=float, help=f"share of the clusters the files end up using (default {DEFAULTS['fill']})")
    parser.add_argument("--churn", type=float, help="short-lived files written and deleted, as a share "
                        f"of --files; with 0 only rewritten files leave holes (default {DEFAULTS['churn']})")
    parser.add_argument("--rounds", type=int, help=f"rounds of writing and deleting (default {DEFAULTS['rounds']})")
    parser.add_argument("--long-names", type=float, help="share of names that are long names rather "
                        f"than 8.3 names (default {DEFAULTS['long_names']})")
    parser.add_argument("--no-fsck", action="store_true", help="skip the final fsck.fat -n check of the image")
    parser.add_argument("-q", "--quiet", action="store_true", help="print only the final summary line")
    args = parser.parse_args()

    settings = dict(DEFAULTS)
    if args.preset:
        settings.update(PRESETS[args.preset])
    for key, value in settings.items():
        if getattr(args, key) is None:
            setattr(args, key, value)
    args.size_bytes = parse_bytes(args.size, 1024, "size")
    args.cluster_bytes = parse_bytes(args.cluster, 1, "cluster size")
    if args.cluster_bytes < 512 or args.cluster_bytes > 65536 or args.cluster_bytes & (args.cluster_bytes - 1):
        fail("the cluster size must be a power of two from 512 to 64K")
    if args.size_bytes % 1024:
        fail("the size must be a whole number of KiB")
    if args.files < 0 or args.dirs < 0 or args.depth < 0 or args.rounds < 1:
        fail("--files, --dirs and --depth must not be negative and --rounds must be at least 1")
    if args.dirs < args.depth:
        fail("--depth cannot exceed --dirs")
    if args.dirs and not args.depth:
        fail("directories need --depth 1 or more")
    if not 0 < args.fill < 1 or not 0 <= args.churn <= 10 or not 0 <= args.long_names <= 1:
        fail("--fill must lie between 0 and 1, --churn between 0 and 10, --long-names between 0 and 1")
    if 9 * args.depth + 15 > 240:
        print("make-volume.py: warning: at this depth short paths may exceed 240 characters",
              file=sys.stderr)
    for tool in ("mkfs.fat", "mcopy", "mmd", "mdel", "mattrib", "mdir"):
        if shutil.which(tool) is None:
            fail(f"{tool} is not installed (packages dosfstools and mtools)")
    build(args)


if __name__ == "__main__":
    main()
