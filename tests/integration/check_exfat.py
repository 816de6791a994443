#!/usr/bin/env python3
"""vantrel-scan on real exFAT images written through exfat-fuse (usage: check_exfat.py VANTREL_SCAN WORK_FOLDER).
Files are copied in with interleaved appends and deletes, so that some are fragmented; then every file's path,
extents, clusters and runs are those that fls -r -p and istat give, --check --require-flag passes the flagged
ones only, the free extents are the bitmap's and the fragmented directories istat's, the free space is the allocation bitmap's count as
dump.exfat gives it (and so are the map's free clusters, none lost), the file count is fsck.exfat -n's, and the
same volume in an MBR partition of type 0x07 and in a GPT basic data partition is chosen and read alike. Needs
root, loop devices and FUSE: without them it says so and exits 77 (skipped)."""

import json, os, random, re, shutil, subprocess, sys

import jsonschema

SCAN, WORK = sys.argv[1], sys.argv[2]
TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SCHEMA = jsonschema.Draft202012Validator(json.load(open(os.path.join(TOP, "docs", "vantrel-scan.schema.json"))))
TOOLS = ["losetup", "mount.exfat-fuse", "mkfs.exfat", "fsck.exfat", "dump.exfat", "fls", "istat", "sfdisk", "sgdisk"]
results = []


def check(holds, what):
    results.append(bool(holds))
    if not holds:
        print("FAIL " + what)
    return holds


def run(*command):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace",
                          timeout=300)


def skip(why):
    print("check_exfat: skipped: " + why)
    sys.exit(77)


def fill(mount, seed):
    """Directories several levels deep, files written in interleaved appends (fragmented), deletes that leave
    holes, large files copied into them, empty files and long Unicode names."""
    rnd = random.Random(seed)
    dirs = [mount]
    for d in range(12):
        path = os.path.join(rnd.choice(dirs), f"Dir {d} \u00e9t\u00e9" if d % 3 == 0 else f"d{d}")
        os.mkdir(path)
        dirs.append(path)
    files = []
    for n in range(40):
        files.append(os.path.join(rnd.choice(dirs), f"file {n} with a rather long name.bin" if n % 4 else f"f{n}.txt"))
    for _ in range(6):   # appends that interleave
        for path in rnd.sample(files, 12):
            with open(path, "ab") as out:
                out.write(rnd.randbytes(rnd.randint(1, 40000)))
    for path in files[:10]:
        if os.path.exists(path):
            os.remove(path)
    for n in range(5):   # large copies into the holes
        with open(os.path.join(rnd.choice(dirs), f"large {n}.dat"), "wb") as out:
            out.write(rnd.randbytes(rnd.randint(200000, 900000)))
    for n in range(3):
        open(os.path.join(rnd.choice(dirs), f"empty {n}"), "wb").close()


def make(image, cluster, seed):
    with open(image, "wb") as out:
        out.truncate(64 << 20)
    if not check(run("mkfs.exfat", "-c", str(cluster), image).returncode == 0, f"mkfs.exfat -c {cluster}"):
        return False
    loop = run("losetup", "-f", "--show", image)
    if loop.returncode != 0:
        skip("no loop device: " + loop.stderr.strip())
    device = loop.stdout.strip()
    mount = os.path.join(WORK, "mnt")
    os.makedirs(mount, exist_ok=True)
    try:
        mounted = run("mount.exfat-fuse", device, mount)
        if mounted.returncode != 0:
            skip("mount.exfat-fuse cannot mount: " + mounted.stderr.strip())
        try:
            fill(mount, seed)
        finally:
            run("umount", mount)
    finally:
        run("losetup", "-d", device)
    return True


def geometry(image):
    dump = run("dump.exfat", image).stdout
    field = lambda name: int(re.search(name + r":\s+(\d+)", dump).group(1))
    return field("Cluster Heap Offset \\(sector offset\\)"), 1 << field("Sector per Cluster bits"), \
        field("Free Clusters")


def free_runs(image, heap, per_cluster, cluster):
    """The allocation bitmap's free runs, read from the image's bytes where dump.exfat places the bitmap."""
    dump = run("dump.exfat", image).stdout
    start = int(re.search(r"Bitmap start cluster:\s+(\d+)", dump).group(1))
    count = int(re.search(r"Total Clusters:\s+(\d+)", dump).group(1))
    with open(image, "rb") as volume:
        volume.seek(heap * 512 + (start - 2) * cluster)
        bitmap = volume.read((count + 7) // 8)
    runs, current = [], None
    for c in range(count):
        if bitmap[c // 8] >> (c % 8) & 1:
            current = None
        elif current is None:
            current = [c + 2, 1]
            runs.append(current)
        else:
            current[1] += 1
    return runs


def fragmented_directories(image, heap, per_cluster):
    """Directories whose clusters lie in more than one run: the root by its FAT chain, read from the image's
    bytes where dump.exfat places the FAT, the others by istat."""
    dump = run("dump.exfat", image).stdout
    fat = int(re.search(r"FAT Offset\(sector offset\):\s+(\d+)", dump).group(1)) * 512
    chain = [int(re.search(r"Root Cluster \(cluster offset\):\s+(\d+)", dump).group(1))]
    with open(image, "rb") as volume:
        while len(chain) < 100000:
            volume.seek(fat + chain[-1] * 4)
            link = int.from_bytes(volume.read(4), "little")
            if link >= 0xFFFFFFF7 or link < 2:
                break
            chain.append(link)
    count = int(any(b != a + 1 for a, b in zip(chain, chain[1:])))
    for line in run("fls", "-r", "-p", "-D", image).stdout.splitlines():
        match = re.match(r"d/d (\d+):\t", line)
        if match:
            stat = run("istat", image, match.group(1)).stdout
            clusters = []   # in file order, each once
            for sector in stat.split("Sectors:", 1)[1].split():
                cluster = (int(sector) - heap) // per_cluster + 2 if sector.isdigit() and int(sector) else None
                if cluster is not None and (not clusters or clusters[-1] != cluster):
                    clusters.append(cluster)
            count += any(b != a + 1 for a, b in zip(clusters, clusters[1:]))
    return count


def expected_files(image, heap, per_cluster):
    """path -> (extents, clusters, size) of every file fls lists, from istat's sectors."""
    files = {}
    for line in run("fls", "-r", "-p", image).stdout.splitlines():
        match = re.match(r"r/r (\d+):\t(.*)$", line)
        if not match or match.group(2).startswith("$"):
            continue
        stat = run("istat", image, match.group(1)).stdout
        size = int(re.search(r"^Size: (\d+)", stat, re.M).group(1))
        sectors = [int(s) for s in stat.split("Sectors:", 1)[1].split() if s.isdigit() and int(s) != 0]
        clusters = []
        for sector in sectors:
            cluster = (sector - heap) // per_cluster + 2
            if not clusters or clusters[-1] != cluster:
                clusters.append(cluster)
        runs = []
        for c in clusters:
            if runs and runs[-1][0] + runs[-1][1] == c:
                runs[-1][1] += 1
            else:
                runs.append([c, 1])
        files[match.group(2)] = (len(runs), len(clusters), size, [tuple(run) for run in runs])
    return files


def scan(image, *options):
    done = run(SCAN, "--json", "--files", *options, image)
    check(done.returncode == 0, f"vantrel-scan {image}: exit status {done.returncode}: {done.stderr}")
    report = json.loads(done.stdout) if done.stdout.startswith("{") else {}
    errors = [e.message for e in SCHEMA.iter_errors(report)]
    check(not errors, f"vantrel-scan {image}: not valid against the schema: {errors[:3]}")
    return report


def compare(image, cluster):
    heap, per_cluster, free = geometry(image)
    expected = expected_files(image, heap, per_cluster)
    report = scan(image, "--runs")
    listed = {f["path"][1:]: (f["extents"], f["clusters"], f["size"],
                                                 [(r["cluster"], r["clusters"]) for r in f["runs"]])
              for f in report["file_list"]}
    measured = {path: value for path, value in expected.items() if value[2] != 0}
    check(listed == measured, f"{cluster}: files as fls and istat give them:\n  {sorted(listed.items())}\n"
          f"  {sorted(measured.items())}")
    check(report["file_system"] == "exFAT" and report["fat_bits"] == 32, f"{cluster}: file system")
    check(report["cluster_size"] == cluster, f"{cluster}: cluster size {report['cluster_size']}")
    check(report["free_bytes"] == free * cluster, f"{cluster}: free {report['free_bytes']} != {free} clusters")
    fsck = run("fsck.exfat", "-n", image).stdout
    counts = re.search(r"directories (\d+), files (\d+)", fsck)
    check(counts and report["files"] == int(counts.group(2)), f"{cluster}: files {report['files']}, fsck: {fsck}")
    check(report["fragmented_files"] == sum(1 for e in measured.values() if e[0] > 1) and
          report["fragmented_files"] > 0, f"{cluster}: fragmented files {report['fragmented_files']}")
    check(all(f["extents"] == 1 for f in report["file_list"] if f["no_fat_chain"]), f"{cluster}: flagged files")
    check(report["completed"] and report["messages"] == [] and not any(report["skipped"].values()),
          f"{cluster}: completed, no message, nothing skipped")
    check(all(f["short_path"] == "V:" + f["path"].replace("/", "\\") for f in report["file_list"]),
          f"{cluster}: short paths are the long ones in the window's form")
    # Free extents from the bitmap's bytes; fragmented directories from istat.
    runs = free_runs(image, heap, per_cluster, cluster)
    largest = max(runs, key=lambda r: r[1], default=[0, 0])
    check(report["free_extents"] == len(runs) and report["largest_free_extent"]["cluster"] == largest[0] and
          report["largest_free_extent"]["clusters"] == largest[1],
          f"{cluster}: free extents {report['free_extents']} {report['largest_free_extent']}, bitmap {len(runs)} {largest}")
    check(report["fragmented_directories"] == fragmented_directories(image, heap, per_cluster),
          f"{cluster}: fragmented directories {report['fragmented_directories']}")
    # --check --require-flag: a file passes only when it is flagged too; exit status 3 when one fails.
    done = run(SCAN, "--json", "--check", "--require-flag", "--max-extents=100000", image, "*")
    checked = json.loads(done.stdout).get("check", {}).get("files", []) if done.stdout.startswith("{") else []
    flagged = {f["path"]: f["no_fat_chain"] for f in report["file_list"]}
    check(len(checked) == len(measured) and
          all(f["pass"] == f["no_fat_chain"] == flagged.get(f["path"]) for f in checked) and
          done.returncode == (0 if all(flagged.values()) else 3), f"{cluster}: --check --require-flag {done.returncode}")
    # The map: free from the bitmap, nothing lost on a sound volume, every measured cluster a file's.
    counts = scan(image, "--map", os.path.join(WORK, "map.svg")).get("map", {}).get("clusters", {})
    check(counts.get("free") == free and counts.get("lost") == 0 and counts.get("bad") == 0 and
          counts.get("contiguous", 0) + counts.get("fragmented", 0) == sum(e[1] for e in measured.values()) and
          counts.get("directory", 0) >= 3, f"{cluster}: map {counts}")
    return report, measured


def partitioned(image, report):
    """The volume at 1 MiB of a disk, in an MBR partition of type 0x07 and in a GPT basic data partition."""
    size = os.path.getsize(image)
    for label, table in (("mbr", "label: dos\nstart=2048, type=7\n"),
                         ("gpt", "label: gpt\nstart=2048, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n")):
        disk = os.path.join(WORK, f"disk-{label}.img")
        with open(disk, "wb") as out:
            out.truncate(size + (2 << 20))
        check(subprocess.run(["sfdisk", "-q", disk], input=table, capture_output=True, text=True).returncode == 0,
              f"sfdisk {label}")
        with open(image, "rb") as source, open(disk, "r+b") as out:
            out.seek(1 << 20)
            shutil.copyfileobj(source, out)
        got = scan(disk)
        check(got.get("partition", {}).get("file_system") == "exFAT" and got.get("files") == report["files"] and
              got.get("file_list") == [{k: v for k, v in f.items() if k != "runs"} for f in report["file_list"]],
              f"{label}: the partition read as the image")


def main():
    if os.geteuid() != 0:
        skip("not root (losetup and mount need it)")
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        skip("missing " + ", ".join(missing) + " (scripts/deps.sh installs them)")
    if not os.path.exists("/dev/fuse"):
        skip("no /dev/fuse")
    os.makedirs(WORK, exist_ok=True)
    for cluster, seed in ((4096, 1), (32768, 2), (512, 3)):
        image = os.path.join(WORK, f"exfat-{cluster}.img")
        if make(image, cluster, seed):
            report, measured = compare(image, cluster)
            if cluster == 4096:
                partitioned(image, report)
            print(f"{cluster}-byte clusters: {report['files']} files, {len(measured)} measured, "
                  f"{report['fragmented_files']} fragmented, {report['total_extents']} extents")
    print(f"check_exfat: {sum(results)} of {len(results)} checks passed")
    sys.exit(0 if all(results) else 1)


main()
