#!/usr/bin/env python3
"""Runs vantrel-scan on damaged FAT images and checks that it survives them.

A valid image is made with mkfs.fat and mtools, then damaged by patching its
bytes where the boot sector says the FAT, the root directory and the clusters
lie: random bytes after the boot sector, file chains that loop, directories
that contain themselves or their parent, a subdirectory starting at the
end-of-chain value, images cut short, a boot sector with no sectors per
cluster. Every run must end by itself within the timeout with status 0, 1 or 2,
without a signal or a sanitizer report, without changing the image, and with
the outcome each damage calls for (listed with each case).

usage: corrupt_images.py VANTREL_SCAN WORK_FOLDER [--fat 12|16] [--timeout S]
Exit status 0 when every case behaves, 1 otherwise.
"""

import argparse
import hashlib
import json
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
import time

ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C")
SANITIZER = re.compile(r"Sanitizer|runtime error:|SUMMARY: ")

# The valid volume every case starts from, in mkfs.fat's terms.
BASES = {12: ("1440", 1), 16: ("2560", 1)}   # KiB, sectors per cluster

# Files of the valid volume: path -> size. Sizes span several clusters so that
# chains can be bent. DIR/SUB gives a level below a level.
FILES = {
    "ROOT.TXT": 5000,
    "EMPTY.TXT": 0,
    "DIR/LOOP.DAT": 9000,
    "DIR/SELF.DAT": 700,
    "DIR/KEEP.TXT": 3000,
    "DIR/SUB/DEEP.BIN": 4000,
    "OTHER/PLAIN.TXT": 1500,
}
DIRS = ["DIR", "DIR/SUB", "OTHER"]


class Volume:
    """An image in memory and the boot sector fields that locate its parts."""

    def __init__(self, data):
        self.data = bytearray(data)
        (self.sector, self.per_cluster, self.reserved, self.fats, self.root_entries,
         total16) = struct.unpack_from("<HBHBHH", self.data, 11)
        self.fat_sectors, = struct.unpack_from("<H", self.data, 22)
        total32, = struct.unpack_from("<I", self.data, 32)
        total = total16 or total32
        self.fat_at = self.reserved * self.sector
        self.root_at = (self.reserved + self.fats * self.fat_sectors) * self.sector
        self.data_at = self.root_at + self.root_entries * 32
        clusters = (total - self.data_at // self.sector) // self.per_cluster
        self.clusters = clusters
        self.bits = 12 if clusters < 4085 else 16
        self.end = 0xFFF if self.bits == 12 else 0xFFFF

    def cluster_at(self, cluster):
        return self.data_at + (cluster - 2) * self.per_cluster * self.sector

    def get(self, cluster):
        if self.bits == 16:
            return struct.unpack_from("<H", self.data, self.fat_at + 2 * cluster)[0]
        pair = struct.unpack_from("<H", self.data, self.fat_at + cluster + cluster // 2)[0]
        return pair >> 4 if cluster & 1 else pair & 0xFFF

    def set(self, cluster, value):
        """Writes a FAT entry in every copy of the FAT."""
        for copy in range(self.fats):
            base = self.fat_at + copy * self.fat_sectors * self.sector
            if self.bits == 16:
                struct.pack_into("<H", self.data, base + 2 * cluster, value)
                continue
            at = base + cluster + cluster // 2
            pair = struct.unpack_from("<H", self.data, at)[0]
            pair = (pair & 0x000F) | (value << 4) if cluster & 1 else (pair & 0xF000) | value
            struct.pack_into("<H", self.data, at, pair)

    def chain(self, start):
        clusters = [start]
        while self.get(clusters[-1]) < (0xFF8 if self.bits == 12 else 0xFFF8):
            clusters.append(self.get(clusters[-1]))
        return clusters

    def entry(self, path):
        """Offset of the directory entry of `path` ("DIR/NAME.EXT")."""
        slots = range(self.root_at, self.data_at, 32)
        offset = None
        for name in path.split("/"):
            if offset is not None:   # the directory found so far holds the next name
                slots = [at for c in self.chain(self.start(offset))
                         for at in range(self.cluster_at(c), self.cluster_at(c + 1), 32)]
            base, _, ext = name.partition(".")
            wanted = (base.ljust(8) + ext.ljust(3)).encode()
            offset = next((at for at in slots if self.data[at:at + 11] == wanted), None)
            if offset is None:
                raise SystemExit(f"corrupt_images.py: no entry {path} in the valid image")
        return offset

    def start(self, offset):
        return struct.unpack_from("<H", self.data, offset + 26)[0]

    def set_start(self, offset, cluster):
        struct.pack_into("<H", self.data, offset + 26, cluster)

    def add_dir_entry(self, directory, name, cluster):
        """Writes a subdirectory entry `name` starting at `cluster` into the
        first free slot of `directory`."""
        start = self.start(self.entry(directory))
        for c in self.chain(start):
            for at in range(self.cluster_at(c), self.cluster_at(c + 1), 32):
                if self.data[at] in (0, 0xE5):
                    entry = bytearray(32)
                    entry[0:11] = name.ljust(11).encode()
                    entry[11] = 0x10
                    struct.pack_into("<H", entry, 26, cluster)
                    self.data[at:at + 32] = entry
                    return
        raise SystemExit(f"corrupt_images.py: no free slot in {directory}")


def make_base(bits, folder):
    size, per_cluster = BASES[bits]
    image = os.path.join(folder, f"base{bits}.img")
    if os.path.exists(image):
        os.remove(image)
    subprocess.run(["mkfs.fat", "-C", "--invariant", "-F", str(bits), "-s", str(per_cluster),
                    "-i", "1234ABCD", image, size], env=ENV, check=True, capture_output=True)
    subprocess.run(["mmd", "-i", image] + ["::/" + d for d in DIRS], env=ENV, check=True)
    with tempfile.TemporaryDirectory(dir=folder) as sources:
        for path, size in FILES.items():
            source = os.path.join(sources, path.replace("/", "_"))
            with open(source, "wb") as out:
                out.write(bytes(i % 251 for i in range(size)))
            subprocess.run(["mcopy", "-i", image, source, "::/" + path], env=ENV, check=True)
    with open(image, "rb") as data:
        return data.read()


# Each case: (name, how to damage a Volume, expectations). Expectations:
#   status     exit statuses allowed
#   message    text that one of the messages must contain
#   silent     no message at all
#   measured   paths that must be measured, each exactly once
#   unmeasured paths that must not be listed
#   no_path    text that no listed path may contain
def cases(bits):
    found = []

    def case(name, **expect):
        def register(damage):
            found.append((name, damage, expect))
            return damage
        return register

    sound = ["ROOT.TXT", "DIR/KEEP.TXT", "DIR/SUB/DEEP.BIN", "OTHER/PLAIN.TXT"]

    @case("valid", status={0}, silent=True, measured=sound + ["DIR/LOOP.DAT", "DIR/SELF.DAT"])
    def valid(volume):
        return volume.data

    @case("chain-loops-to-start", status={0}, silent=True, measured=sound + ["DIR/SELF.DAT"],
          unmeasured=["DIR/LOOP.DAT"])
    def loop_to_start(volume):
        chain = volume.chain(volume.start(volume.entry("DIR/LOOP.DAT")))
        volume.set(chain[-1], chain[0])
        return volume.data

    @case("chain-loops-in-middle", status={0}, silent=True, measured=sound + ["DIR/SELF.DAT"],
          unmeasured=["DIR/LOOP.DAT"])
    def loop_in_middle(volume):
        chain = volume.chain(volume.start(volume.entry("DIR/LOOP.DAT")))
        volume.set(chain[-1], chain[len(chain) // 2])
        return volume.data

    @case("chain-points-to-itself", status={0}, silent=True, measured=sound + ["DIR/LOOP.DAT"],
          unmeasured=["DIR/SELF.DAT"])
    def self_loop(volume):
        start = volume.start(volume.entry("DIR/SELF.DAT"))
        volume.set(start, start)
        return volume.data

    @case("directory-contains-itself", status={0}, silent=True,
          measured=sound + ["DIR/LOOP.DAT", "DIR/SELF.DAT"], no_path="\\LOOPBACK\\")
    def dir_contains_itself(volume):
        volume.add_dir_entry("DIR", "LOOPBACK", volume.start(volume.entry("DIR")))
        return volume.data

    @case("directory-contains-its-parent", status={0}, silent=True,
          measured=sound + ["DIR/LOOP.DAT", "DIR/SELF.DAT"], no_path="\\UPAGAIN\\")
    def dir_contains_parent(volume):
        volume.add_dir_entry("DIR/SUB", "UPAGAIN", volume.start(volume.entry("DIR")))
        return volume.data

    @case("subdirectory-starts-at-end-of-chain", status={1},
          message="Error number 157 occured during NextDir - GlobalLock - Tmp.")
    def dir_at_end_of_chain(volume):
        volume.set_start(volume.entry("OTHER"), volume.end)
        return volume.data

    @case("subdirectory-starts-at-cluster-0", status={0}, silent=True,
          measured=sound[:3] + ["DIR/LOOP.DAT", "DIR/SELF.DAT"], unmeasured=["OTHER/PLAIN.TXT"])
    def dir_at_zero(volume):
        volume.set_start(volume.entry("OTHER"), 0)
        return volume.data

    @case("subdirectory-starts-past-last-cluster", status={0}, silent=True,
          measured=sound[:3] + ["DIR/LOOP.DAT", "DIR/SELF.DAT"], unmeasured=["OTHER/PLAIN.TXT"])
    def dir_past_end(volume):
        volume.set_start(volume.entry("OTHER"), volume.clusters + 2)
        return volume.data

    @case("zero-sectors-per-cluster", status={2}, message="")
    def zero_per_cluster(volume):
        volume.data[13] = 0
        return volume.data

    @case("truncated-in-fat", status={2}, message="")
    def cut_in_fat(volume):
        return volume.data[:volume.fat_at + volume.sector * volume.fat_sectors // 2]

    @case("truncated-in-root-directory", status={2}, message="")
    def cut_in_root(volume):
        return volume.data[:volume.root_at + volume.sector]

    @case("truncated-after-first-directory", status={0, 1}, message="")
    def cut_in_data(volume):
        # Cut just past DIR's first cluster: the other directories are gone.
        start = volume.start(volume.entry("DIR"))
        return volume.data[:volume.cluster_at(start + 1)]

    @case("truncated-inside-boot-sector", status={2})
    def cut_in_boot(volume):
        return volume.data[:300]

    @case("empty-file", status={2})
    def empty(volume):
        return b""

    for seed in range(1, 7):
        @case(f"random-after-boot-sector-{seed}", status={0, 1, 2})
        def noise(volume, seed=seed):
            rng = random.Random(seed * 100 + bits)
            return volume.data[:512] + rng.randbytes(len(volume.data) - 512)

    for seed in range(1, 5):
        # Random FAT only: every chain is nonsense but the directories are sound.
        @case(f"random-fat-{seed}", status={0, 1, 2})
        def noise_fat(volume, seed=seed):
            rng = random.Random(seed * 1000 + bits)
            size = volume.fats * volume.fat_sectors * volume.sector
            volume.data[volume.fat_at:volume.fat_at + size] = rng.randbytes(size)
            return volume.data

    for seed in range(1, 4):
        # Plausible nonsense: every FAT entry names a cluster of the volume or
        # ends a chain, and every directory slot is a file or a subdirectory
        # starting at a cluster of the volume, so the walk goes deep into
        # looping, cross-linked chains.
        @case(f"random-chains-{seed}", status={0, 1})
        def plausible(volume, seed=seed):
            rng = random.Random(seed * 10000 + bits)
            for cluster in range(2, volume.clusters + 2):
                volume.set(cluster, volume.end if rng.random() < 0.2 else rng.randrange(2, volume.clusters + 2))
            for at in range(volume.root_at, len(volume.data), 32):
                entry = bytearray(rng.choice(b"ABCDEFGH") for _ in range(11)) + bytearray(21)
                entry[11] = 0x10 if rng.random() < 0.3 else 0x20
                struct.pack_into("<HI", entry, 26, rng.randrange(2, volume.clusters + 2),
                                 rng.randrange(0, 64 * volume.per_cluster * volume.sector))
                volume.data[at:at + 32] = entry
            return volume.data

    return found


def parse_report(stdout):
    return json.loads(stdout)


def check(vantrel, image, expect, timeout):
    """Runs the scan on `image`; returns (summary, problems)."""
    with open(image, "rb") as data:
        before = hashlib.sha256(data.read()).hexdigest()
    started = time.monotonic()
    try:
        done = subprocess.run([vantrel, "--json", "--files", image], env=ENV, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace", timeout=timeout)
    except subprocess.TimeoutExpired:
        return "hung", [f"still running after {timeout} s"]
    seconds = time.monotonic() - started
    problems = []
    if done.returncode < 0:
        problems.append(f"killed by signal {-done.returncode}")
    elif done.returncode not in expect["status"]:
        problems.append(f"exit status {done.returncode}, expected {sorted(expect['status'])}")
    if SANITIZER.search(done.stderr):
        problems.append("sanitizer report:\n" + done.stderr[-4000:])
    with open(image, "rb") as data:
        if hashlib.sha256(data.read()).hexdigest() != before:
            problems.append("the image changed")

    report = None
    if done.returncode in (0, 1):
        try:
            report = parse_report(done.stdout)
        except ValueError as error:
            problems.append(f"the report is not JSON ({error}): {done.stdout[:300]!r}")
    messages = report["messages"] if report else [line for line in done.stderr.splitlines() if line]
    if "message" in expect and not any(expect["message"] in m for m in messages):
        problems.append(f"no message containing {expect['message']!r}; messages: {messages}")
    if expect.get("silent") and messages:
        problems.append(f"unexpected messages: {messages}")
    if report is not None:
        if report["completed"] != (done.returncode == 0):
            problems.append(f"completed is {report['completed']} with exit status {done.returncode}")
        listed = [f["path"] for f in report.get("file_list", [])]
        for path in expect.get("measured", []):
            count = listed.count("V:\\" + path.replace("/", "\\"))
            if count != 1:
                problems.append(f"{path} listed {count} times, expected once")
        for path in expect.get("unmeasured", []):
            if "V:\\" + path.replace("/", "\\") in listed:
                problems.append(f"{path} is measured but its chain is broken")
        if "no_path" in expect and any(expect["no_path"] in p for p in listed):
            problems.append(f"a listed path goes through {expect['no_path']!r}")
        if len(listed) != len(set(listed)):
            problems.append("a file is listed twice")
        if len(listed) != report["measured_files"]:
            problems.append(f"{len(listed)} files listed, {report['measured_files']} counted")
    outcome = f"exit {done.returncode}, {seconds:.1f} s"
    if report is not None:
        outcome += f", {report['measured_files']} measured"
    if messages:
        outcome += f", messages {messages}"
    return outcome, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("vantrel_scan")
    parser.add_argument("work", help="folder for the images (made if missing)")
    parser.add_argument("--fat", type=int, choices=[12, 16], action="append",
                        help="FAT type of the valid volume; both when not given")
    parser.add_argument("--timeout", type=float, default=30, help="seconds each run may take (30)")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)

    failed = 0
    for bits in args.fat or [12, 16]:
        base = make_base(bits, args.work)
        if Volume(base).bits != bits:
            raise SystemExit(f"corrupt_images.py: the valid FAT{bits} image is not FAT{bits}")
        for name, damage, expect in cases(bits):
            image = os.path.join(args.work, f"fat{bits}-{name}.img")
            with open(image, "wb") as out:
                out.write(damage(Volume(base)))
            outcome, problems = check(args.vantrel_scan, image, expect, args.timeout)
            if problems:
                failed += 1
                print(f"FAIL fat{bits} {name}: {outcome}")
                for problem in problems:
                    print("     " + problem.replace("\n", "\n     "))
            else:
                print(f"ok   fat{bits} {name}: {outcome}")
                os.remove(image)
    print(f"corrupt_images: {failed} cases failed" if failed else "corrupt_images: every case behaved")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
