#!/usr/bin/env python3
"""vantrel-scan from the outside (usage: check_scan.py VANTREL_SCAN WORK_FOLDER). On realistic images made
by scripts/make-volume.py, each listed file's extents and clusters are mshowfat's, the file counts mdir's,
the geometry and free space fsck.fat's, the totals and records those of the files listed; every file's
runs are mshowfat's clusters and fiwalk's byte runs, on the bare image and inside a partition, and the
free extents and fragmented directories those counted here from the FAT and mshowfat; on images of
long, non-ASCII and 255-character names, names differing only in case and trees whose paths pass 260
bytes, every file's long path is the one fls -r -p prints (mdir's where fls cannot print it) and nothing
is left out; command lines give their exit status and key output, each error once more with --json;
every JSON object printed is valid against docs/vantrel-scan.schema.json; output that cannot be written
ends with exit status 1."""

import json, os, re, struct, subprocess, sys, time
import xml.etree.ElementTree as ElementTree

import jsonschema

SCAN, WORK = sys.argv[1], sys.argv[2]
TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
MAKE_VOLUME = os.path.join(TOP, "scripts", "make-volume.py")
SCHEMA = jsonschema.Draft202012Validator(json.load(open(os.path.join(TOP, "docs", "vantrel-scan.schema.json"))))
ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C")
results = []
validated = []
NOTHING_SKIPPED = {"too_deep": 0, "directory_entered_before": 0, "broken_directory_chain": 0,
                   "unreadable_directory": 0, "file_chain_mismatch": 0, "bad_entry_set": 0}


def check(holds, what):
    results.append(bool(holds))
    if not holds:
        print("FAIL " + what)
    return holds


def run(*command, timeout=300, env=ENV):
    done = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          encoding="utf-8", errors="replace", timeout=timeout)
    # Every JSON object vantrel-scan prints must be valid against the schema.
    if command[0] == SCAN and done.stdout.startswith("{"):
        valid(done.stdout, " ".join(command[1:]))
    return done


def valid(text, what):
    try:
        report = json.loads(text)
        SCHEMA.validate(report)
    except (ValueError, jsonschema.ValidationError) as fault:
        return check(False, f"{what}: not valid against the schema: {str(fault)[:400]}\n{text[:400]}")
    validated.append(what)
    return check(True, what)


def chains(path, files):
    """mshowfat's clusters of each file, by its path without '::/'."""
    found = {}
    for start in range(0, len(files), 300):
        for line in run("mshowfat", "-i", path, *files[start:start + 300]).stdout.splitlines():
            shown = re.match(r"::/(.*?) ((?:<[\d-]+> ?)+|Root directory or empty file)$", line)
            if shown:
                found[shown.group(1)] = [c for a, b in re.findall(r"<(\d+)(?:-(\d+))?>", shown.group(2))
                                         for c in range(int(a), int(b or a) + 1)]
    return found


def extents(preset, seed):
    path, name = os.path.join(WORK, f"{preset}-{seed}.img"), f"{preset} {seed}"
    if not os.path.exists(path):   # made once per work folder
        run(sys.executable, MAKE_VOLUME, "-q", "--preset", preset, "--seed", str(seed), path + ".new", timeout=1800)
        os.rename(path + ".new", path)
    fsck = run("fsck.fat", "-nv", path).stdout
    number = lambda pattern: int(re.search(pattern, fsck, re.M).group(1))
    cluster, bits = number(r"(\d+) bytes per cluster"), number(r"\d+ FATs, (\d+) bit entries")
    clusters, used = number(r"(\d+) data clusters"), number(r": \d+ files, (\d+)/\d+ clusters")
    every = [p for p in run("mdir", "-/", "-b", "-a", "-i", path, "::").stdout.splitlines() if not p.endswith("/")]
    empty = sum(1 for c in chains(path, every).values() if not c)
    picture = path + ".png"
    done = run(SCAN, "--json", "--files", "--map", picture, path, timeout=120)
    if not check(done.returncode == 0 and not done.stderr, f"{name}: status {done.returncode}, {done.stderr}"):
        return
    report = json.loads(done.stdout)
    # The schema holds the report to its members: one missing, one unknown or a string for a number fails.
    for spoilt in [{k: v for k, v in report.items() if k != "free_bytes"}, dict(report, extra=1),
                   dict(report, files=str(report["files"]))]:
        check(not SCHEMA.is_valid(spoilt), f"{name}: the schema takes a spoilt report")
    listed = report["file_list"]
    mtools = chains(path, ["::" + f["path"] for f in listed])
    for f in listed:
        chain = mtools.get(f["path"][1:], [])
        runs = sum(1 for i, c in enumerate(chain) if i == 0 or c != chain[i - 1] + 1)
        check(chain and (f["extents"], f["clusters"]) == (runs, len(chain)) and
              (len(chain) - 1) * cluster < f["size"] <= len(chain) * cluster, f"{name}: {f}, mshowfat {chain[:9]}")
    measured, allocated, free = len(every) - empty, sum(f["clusters"] for f in listed), clusters - used
    expected = {"files": len(every), "zero_length_files": empty, "measured_files": measured, "fat_bits": bits,
                "cluster_size": cluster, "total_space": clusters * cluster, "free_space_kb": free * cluster // 1000,
                "free_bytes": free * cluster,
                "completed": True, "messages": [], "skipped": NOTHING_SKIPPED,
                "total_extents": sum(f["extents"] for f in listed),
                "fragmented_files": sum(1 for f in listed if f["extents"] > 1), "allocated_bytes": allocated * cluster,
                "allocated_percent": allocated * 100 // clusters,
                "average_extents": sum(f["extents"] for f in listed) * 100 // measured / 100}
    for key, value in expected.items():
        check(report[key] == value, f"{name}: {key} {report[key]}, expected {value}")
    # The map: free clusters as the FAT holds them, those of multi-extent files, every data cluster once.
    states = report["map"]["clusters"]
    check(states["free"] == free and sum(states.values()) == clusters and
          states["fragmented"] == sum(f["clusters"] for f in listed if f["extents"] > 1) and
          open(picture, "rb").read(8) == b"\x89PNG\r\n\x1a\n", f"{name}: map {report['map']}")
    check(len(listed) == measured and len({f["path"] for f in listed}) == measured, f"{name}: {measured} measured")
    # Each record is the first file listed with the record value.
    for key, field, pick in [("largest_file", "size", max), ("smallest_file", "size", min),
                             ("most_fragmented_file", "extents", max)]:
        best = pick(f[field] for f in listed if f[field])
        first = next(f for f in listed if f[field] == best)
        held = {field: best, "path": first["path"], "short_path": first["short_path"]}
        check(report[key] == held, f"{name}: {key} {report[key]}, expected {held}")
    fragmented = json.loads(run(SCAN, "--json", "--fragmented", path, timeout=120).stdout)["file_list"]
    check(fragmented == [f for f in listed if f["extents"] > 1], f"{name}: --fragmented lists {len(fragmented)}")
    directories = [p[3:-1] for p in run("mdir", "-/", "-b", "-a", "-i", path, "::").stdout.splitlines()
                   if p.endswith("/")]
    for start in (0, 1 << 20):
        placed(path, f"{name} at byte {start}", start, cluster, directories)


def fat_of(image, start):
    """The volume at byte `start` of `image`, read here: its first data sector, sectors per cluster, the
    link of every data cluster, and the FAT32 root's first cluster (0 on FAT12 and FAT16)."""
    with open(image, "rb") as f:
        f.seek(start)
        boot = f.read(512)
        u16, u32 = (lambda at: struct.unpack_from("<H", boot, at)[0]), (lambda at: struct.unpack_from("<I", boot, at)[0])
        per_fat, total = u16(22) or u32(36), u16(19) or u32(32)
        data = u16(14) + boot[16] * per_fat + (u16(17) * 32 + 511) // 512
        clusters = (total - data) // boot[13]
        f.seek(start + u16(14) * 512)
        fat = f.read(per_fat * 512)
    bits = 12 if clusters < 4085 else 16 if clusters < 65525 else 32
    def link(c):
        if bits == 12:
            pair = struct.unpack_from("<H", fat, c * 3 // 2)[0]
            return pair >> 4 if c & 1 else pair & 0xFFF
        return struct.unpack_from("<H", fat, 2 * c)[0] if bits == 16 else struct.unpack_from("<I", fat, 4 * c)[0] & 0x0FFFFFFF
    return data, boot[13], [link(c) for c in range(2, clusters + 2)], u32(44) if bits == 32 else 0


def byte_runs(image):
    """fiwalk's byte runs of every allocated regular file: {path: [(img_offset, len), ...]}."""
    xml = image + ".xml"
    run("fiwalk", "-z", "-O", "-Z", "-X" + xml, image, timeout=300)
    ns = {"d": "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML"}
    found = {}
    for f in ElementTree.parse(xml).getroot().iter("{%s}fileobject" % ns["d"]):
        if f.findtext("d:name_type", namespaces=ns) == "r" and f.findtext("d:alloc", namespaces=ns) == "1":
            found[f.findtext("d:filename", namespaces=ns)] = [
                (int(r.get("img_offset")), int(r.get("len"))) for r in f.iter("{%s}byte_run" % ns["d"])]
    return found


def placed(bare, name, start, cluster, directories):
    """--check '*' on the volume of `bare` at byte `start` (inside an MBR partition when not 0): every measured
    file's runs are its mshowfat clusters, its sectors and offsets those of the boot sector's geometry and
    fiwalk's byte runs; the free extents and the largest are the FAT's free runs counted here; the
    fragmented directories those whose mshowfat chain (and the FAT32 root's) breaks."""
    image = bare
    if start:
        image = bare + ".disk"
        size = os.path.getsize(bare)
        with open(image, "wb") as out:
            mbr = bytearray(512)
            struct.pack_into("<B3sB3sII", mbr, 446, 0, b"\0\0\0", 0x0C, b"\0\0\0", start // 512, size // 512)
            mbr[510:512] = b"\x55\xaa"
            out.write(mbr)
            out.seek(start)
            with open(bare, "rb") as volume:
                out.write(volume.read())
    done = run(SCAN, "--json", "--files", "--runs", "--check", image, "*", timeout=120)
    said = "analysing partition 1" in done.stderr if start else not done.stderr
    if not check(done.returncode in (0, 3) and said, f"{name}: --check '*' status {done.returncode}, {done.stderr}"):
        return
    report = json.loads(done.stdout)
    checked, data, per_cluster = report["check"]["files"], *fat_of(image, start)[:2]
    links, root = fat_of(image, start)[2:]
    check(len(checked) == report["measured_files"] and done.returncode == (3 if report["fragmented_files"] else 0) and
          [f["runs"] for f in report["file_list"]] == [f["runs"] for f in checked],
          f"{name}: --check '*' checked {len(checked)} files, status {done.returncode}")
    mtools, fiwalk = chains(bare, ["::" + f["path"] for f in checked]), byte_runs(image)
    for f in checked:
        runs = f["runs"]
        clusters = [r["cluster"] + i for r in runs for i in range(r["clusters"])]
        ours = [(r["offset"], r["clusters"] * cluster) for r in runs]
        theirs = fiwalk.get(f["path"][1:], [])
        check(clusters == mtools.get(f["path"][1:]) and f["extents"] == len(runs) and
              f["pass"] == (len(runs) == 1) and
              all(r["sector"] == data + (r["cluster"] - 2) * per_cluster and r["sectors"] == r["clusters"] * per_cluster
                  and r["offset"] == start + r["sector"] * 512 for r in runs) and
              [o for o, _ in theirs] == [o for o, _ in ours] and [n for _, n in theirs[:-1]] == [n for _, n in ours[:-1]]
              and sum(n for _, n in theirs) == f["size"],
              f"{name}: {f['path']} runs {runs[:4]}, mshowfat {mtools.get(f['path'][1:], [])[:9]}, fiwalk {theirs[:4]}")
    # The FAT's free runs, counted here.
    free, longest, first, at = 0, 0, 0, None
    for i, link in enumerate(links + [1]):
        if link == 0 and at is None:
            at, free = i, free + 1
        elif link != 0 and at is not None:
            if i - at > longest:
                longest, first = i - at, at + 2
            at = None
    expected = None if not longest else {"cluster": first, "clusters": longest, "bytes": longest * cluster,
                                         "offset": start + (data + (first - 2) * per_cluster) * 512}
    check(report["free_extents"] == free and report["largest_free_extent"] == expected,
          f"{name}: free extents {report['free_extents']} {report['largest_free_extent']}, expected {free} {expected}")
    # Directories in more than one run: mshowfat's chains, and the FAT32 root's from the FAT.
    broken = lambda chain: any(c != chain[i - 1] + 1 for i, c in enumerate(chain) if i)
    dir_chains = list(chains(bare, ["::/" + d for d in directories]).values())
    if root:
        chain = [root]
        while links[chain[-1] - 2] < 0x0FFFFFF8:
            chain.append(links[chain[-1] - 2])
        dir_chains.append(chain)
    expected = sum(1 for chain in dir_chains if broken(chain))
    check(len(dir_chains) == len(directories) + bool(root) and report["fragmented_directories"] == expected,
          f"{name}: fragmented directories {report['fragmented_directories']}, expected {expected}")


def long_names(fat):
    """Long, non-ASCII and 255-character names, two names differing only in case, empty files, and two
    trees whose paths pass 260 bytes (32 levels of 8.3 names, as the window's buffers cannot hold, and 6
    of 60-character names): every file is listed by the long path fls -r -p prints, nothing is left out,
    and the files and directories add up to fsck.fat's count. fls prints the bytes 0x80-0xFF of a short
    name that has no long name as '^' and cuts names at 247 characters: such files are held against
    mdir's list instead (mtools reads short names through code page 850, as vantrel-scan does)."""
    name, path = f"long names FAT{fat}", os.path.join(WORK, f"long-names-{fat}.img")
    utf8 = dict(ENV, LC_ALL="C.UTF-8")
    wide, folder = "W" * 251 + ".dat", "Very Long Directory Name"   # a 255-character name
    made = {"small.txt": 10, "Holiday Video Clip 2015.mov": 5000, f"{folder}/A Long File Name With Spaces.txt": 3000,
            "Café Ünïcödé 日本.txt": 700, "Ελληνικά και кириллица.doc": 2500,
            "CAFØ.TXT": 40,   # a short name alone: Ø is byte 0x9D, ¥ in code page 437
            wide: 100, f"{'D' * 255}/{wide}": 4100, "AbcDef Case.txt": 11, "XbcDef Case.txt": 12,
            "Empty file.txt": 0, f"{folder}/EMPTY.TXT": 0}
    for n in range(1, 33):
        made["/".join(f"LEVEL{k:02d}" for k in range(1, n + 1)) + f"/FILE{n:02d}.TXT"] = 100 * n
    for n in range(1, 7):
        made["/".join(f"Directory at level {k} of a tree of long names" for k in range(1, n + 1)) +
             f"/File at level {n}.txt"] = 1000 * n
    if not os.path.exists(path):
        run("mkfs.fat", "-C", "-F", str(fat), "-S", "512", "-s", "1" if fat == 32 else "4", path + ".new", "40960")
        folders = sorted({p.rsplit("/", 1)[0] for p in made if "/" in p}, key=lambda p: p.count("/"))
        parents = sorted({"/".join(f.split("/")[:k + 1]) for f in folders for k in range(f.count("/") + 1)},
                         key=lambda p: p.count("/"))
        run("mmd", "-i", path + ".new", *["::/" + p for p in parents], env=utf8)
        for target, size in made.items():
            source = os.path.join(WORK, f"source-{size}")
            with open(source, "wb") as out:
                out.write(b"x" * size)
            run("mcopy", "-i", path + ".new", source, "::/" + target, env=utf8)
        # Two long names that differ only in case, as no driver would write them: "XbcDef" becomes "abcDef".
        data = open(path + ".new", "rb").read()
        slot = "XbcDe".encode("utf-16-le")
        check(data.count(slot) == 1, f"{name}: the long name to change is not there once")
        open(path + ".new", "wb").write(data.replace(slot, "abcDe".encode("utf-16-le")))
        os.rename(path + ".new", path)
    made["abcDef Case.txt"] = made.pop("XbcDef Case.txt")
    done = run(SCAN, "--json", "--files", path, timeout=120)
    if not check(done.returncode == 0 and not done.stderr, f"{name}: status {done.returncode}, {done.stderr}"):
        return
    report = json.loads(done.stdout)
    listed = {f["path"]: f for f in report["file_list"]}
    measured = {"/" + p: size for p, size in made.items() if size}
    check({p: f["size"] for p, f in listed.items()} == measured and report["completed"] and
          report["skipped"] == NOTHING_SKIPPED and report["files"] == len(made) and
          report["zero_length_files"] == len(made) - len(measured),
          f"{name}: listed {sorted(set(listed) ^ set(measured))[:4]}, {report['skipped']}, {report['files']} files")
    check(listed["/CAFØ.TXT"]["short_path"] == "V:\\CAFØ.TXT" and
          listed[f"/{folder}/A Long File Name With Spaces.txt"]["short_path"] == "V:\\VERYLO~1\\ALONGF~1.TXT",
          f"{name}: short paths {listed['/CAFØ.TXT']}")
    entries = [line.split("\t") for line in run("fls", "-r", "-p", "-l", path).stdout.splitlines()]
    fls = {e[1]: int(e[6]) for e in entries if e[0].startswith("r/r") and "*" not in e[0]}
    folders = sum(1 for e in entries if e[0].startswith("d/d") and "*" not in e[0])
    mdir = {p[3:] for p in run("mdir", "-/", "-b", "-a", "-i", path, "::", env=utf8).stdout.splitlines()}
    beyond_fls = lambda p: any(len(part) > 247 or (part == part.upper() and not part.isascii())
                               for part in p.split("/"))
    for p, f in listed.items():
        if beyond_fls(p):
            check(p[1:] in mdir and p[1:] not in fls, f"{name}: {p} is not as mdir prints it")
        else:
            check(fls.get(p[1:]) == f["size"], f"{name}: {p} is not as fls prints it")
    check(len(fls) == len(made) and sum(1 for size in fls.values() if size) == len(listed),
          f"{name}: fls lists {len(fls)} files")
    counted = re.search(r": (\d+) files, ", run("fsck.fat", "-n", path).stdout)
    check(counted and int(counted.group(1)) == report["files"] + folders,
          f"{name}: fsck.fat counts {counted and counted.group(1)}, {report['files']} files and {folders} folders")
    # Code page 437 reads the short name's 0x9D as ¥.
    other = json.loads(run(SCAN, "--json", "--files", "--codepage", "437", path).stdout)
    check(any(f["path"] == "/CAF¥.TXT" for f in other["file_list"]), f"{name}: --codepage 437")


def options():
    # A FAT12 floppy of 12 small files, F10.TXT and F11.TXT in SUB; and two damaged copies.
    small, sources = os.path.join(WORK, "tiny.img"), [os.path.join(WORK, f"F{n}.TXT") for n in range(12)]
    for n, source in enumerate(sources):
        with open(source, "w") as out:
            out.write("x" * (100 * n + 1))
    run("mkfs.fat", "-C", "--invariant", "-F", "12", "-i", "1234ABCD", small + ".new", "1440")
    run("mmd", "-i", small + ".new", "::/SUB")
    run("mcopy", "-i", small + ".new", *sources[:10], "::/")
    run("mcopy", "-i", small + ".new", *sources[10:], "::/SUB")
    os.replace(small + ".new", small)
    data = open(small, "rb").read()
    root = (struct.unpack_from("<H", data, 14)[0] + data[16] * struct.unpack_from("<H", data, 22)[0]) * 512
    # A directory's chain that ends at once, no sectors per cluster, a file 100,000 bytes long in one cluster.
    spoilt = {"end-of-chain": (data.index(b"SUB        ", root) + 26, b"\xff\x0f"),
              "no-sectors-per-cluster": (13, b"\0"),
              "file-longer-than-chain": (data.index(b"F5      TXT", root) + 28, struct.pack("<I", 100000))}
    for what, (at, put) in spoilt.items():
        spoilt[what] = os.path.join(WORK, what + ".img")
        with open(spoilt[what], "wb") as out:
            out.write(data[:at] + put + data[at + len(put):])
    # 130 directories, one in the other, a file in the last: deeper than the walk's 128 levels.
    deep = os.path.join(WORK, "too-deep.img")
    run("mkfs.fat", "-C", "-F", "12", deep + ".new", "1440")
    run("mmd", "-i", deep + ".new", *["::" + "/D" * n for n in range(1, 131)])
    run("mcopy", "-i", deep + ".new", sources[1], "::" + "/D" * 130 + "/F1.TXT")
    run("mcopy", "-i", deep + ".new", sources[2], "::/F2.TXT")
    os.replace(deep + ".new", deep)
    disks = partition_disks(data)
    frag = fragmented_copy(small, sources)
    usage = ["usage: vantrel-scan"]
    folder = os.path.join(WORK, "folder.png")
    os.makedirs(folder, exist_ok=True)
    cases = [  # arguments, exit status, texts of the standard output or error, least seconds
        ([small], 0, ["Drive              V: (FAT12)\nTotal space        1457 KB", "Files              12\n",
                      "Most extents       1  /F0.TXT\nFree extents       1\n"
                      "Largest free       1447424 bytes at cluster 22, byte 27136\nFragmented dirs    0\n"
                      "Fragmentation analysis completed\n"], 0),
        (["--files", small], 0, ["completed\n\nextents\tclusters\tsize\tpath\n1\t1\t1\t/F0.TXT\n",
                                 "\t/SUB/F11.TXT\n"], 0),
        (["--json", "--files", small], 0, ['"drive": "V:",\n  "file_system": "FAT12",\n  "fat_bits": 12,', '"completed": true',
                                          '"file_list": [\n    {"extents": 1, "clusters": 1, "size": 1, '
                                          '"no_fat_chain": false, "path": "/F0.TXT", '
                                          '"short_path": "V:\\\\F0.TXT"}', '"short_path": "V:\\\\SUB\\\\F11.TXT"'], 0),
        # What the walk leaves out is counted, said once on standard error, and the status stays 0.
        ([spoilt["file-longer-than-chain"]], 0,
         ["Files              11\n", "left out of the walk: 1 file_chain_mismatch\n"], 0),
        (["--json", deep], 0, ['"files": 1,', '"skipped": {"too_deep": 1, "directory_entered_before": 0,',
                               f"vantrel-scan: {deep}: left out of the walk: 1 too_deep\n"], 0),
        (["--codepage=437", small], 0, ["Files              12\n"], 0),
        (["--drive", "d:", small], 0, ["Drive              D: (FAT12)"], 0),
        ([small, "--drive", "Q:", "--json"], 0, ['"drive": "Q:"'], 0),
        (["--throttle", small], 0, ["Files              12\n"], 0.6),
        *[(["--drive", drive, small], 2, usage, 0) for drive in ("D:X", "1:", "D")],
        *[(arguments, 2, usage, 0) for arguments in ([small, "--drive"], ["--verbose", small], ["-", small], [],
                                                      [small, small])],
        # Short forms, unique abbreviations of the long options, options after PATH.
        (["-j", "-f", small], 0, ['"file_list": [\n    {"extents": 1, "clusters": 1, "size": 1,'], 0),
        (["--js", "--frag", small], 0, ['"completed": true', '"file_list": []'], 0),
        (["-jf", small], 0, ['"file_list": [\n'], 0),
        ([small, "--dr=e:", "--thr"], 0, ["Drive              E: (FAT12)"], 0.6),
        (["-p", "1", disks["one"]], 0, ["Drive              V: (FAT12)\nTotal space        1457 KB"], 0),
        (["-p1", "-j", disks["one"]], 0, ['"partition": {"number": 1, "start": 1048576, "size": 1474560'], 0),
        (["--part=2", disks["two"]], 0, ["Files              12\n"], 0),
        (["--list", disks["two"]], 0, ["MBR partition table\n", "     2        3145728        1474560  0x01 FAT12 "], 0),
        (["-h"], 0, ["usage: vantrel-scan", "  -p, --partition=N ", "  -f, --files ", "unique prefix"], 0),
        (["--he"], 0, ["  -V, --version "], 0),
        (["-V"], 0, ["vantrel-scan (Vantrel) "], 0),
        (["--vers"], 0, ["vantrel-scan (Vantrel) "], 0),
        # Refused command lines, each with its message.
        (["--f", small], 2, ["option '--f' is ambiguous; possibilities: '--files' '--fragmented'", *usage], 0),
        (["-"], 2, ["vantrel-scan: cannot read a volume from standard input\n", *usage], 0),
        (["-j", "--", "-"], 2, ["cannot read a volume from standard input", *usage], 0),
        (["-x", small], 2, ["invalid option -- 'x'", *usage], 0),
        ([small, "-p"], 2, ["option requires an argument -- 'p'", *usage], 0),
        ([small, "--dri"], 2, ["option '--drive' requires an argument", *usage], 0),
        (["--verbose", small], 2, ["unrecognized option '--verbose'", *usage], 0),
        (["--json=yes", small], 2, ["option '--json' doesn't allow an argument", *usage], 0),
        (["-p", "0", small], 2, ["invalid partition number '0'", *usage], 0),
        (["--codepage", "1252", small], 2, ["invalid code page '1252' (437 or 850)", *usage], 0),
        # Partition tables: none to choose from, several, a missing entry, a damaged table.
        (["-p", "1", small], 2, [f"{small}: no partition table: FAT12"], 0),
        ([disks["two"]], 2, ["2 FAT partitions (1, 2); choose one with --partition N"], 0),
        (["-p", "3", disks["one"]], 2, ["no partition 3 in its MBR partition table"], 0),
        ([disks["cut"]], 2, ["damaged MBR partition table"], 0),
        ([os.path.join(WORK, "missing.img")], 2, [f"vantrel-scan: {WORK}/missing.img: No such file or directory"], 0),
        ([WORK], 2, [f"vantrel-scan: {WORK}: Is a directory"], 0),
        (["--map", folder, small], 2, [f"cannot write the map '{folder}': Is a directory"], 0),
        (["--map", small + ".bmp", small], 2, ["unknown picture type", *usage], 0),
        ([spoilt["no-sectors-per-cluster"]], 2, ["KivIFat: ERROR - StartDirScanThread - Invalid sectors per"], 0),
        (["--json", spoilt["end-of-chain"]], 1,
         ['"completed": false,\n  "skipped": {', '"messages": ["Error number 157 occured during NextDir - GlobalLock - Tmp."]'],
         0),
        ([spoilt["end-of-chain"]], 1, ["Fragmentation analysis ended on an error"], 0),
    ]
    one = [f"{frag}: ", "names no measured file"]
    cases += [  # --check, --runs, --fits: BIG.BIN in 3 extents, the rest in one; abc.txt and ABC.TXT
        (["--check", frag, "F0.TXT"], 0, ["\nresult\textents\tsize\truns\tpath\nPASS\t1\t1\t", "\t/F0.TXT\n"], 0),
        (["--check", frag, "big.bin"], 3, ["FAIL\t3\t3000\t"], 0),
        (["--check", "--max-extents", "3", frag, "\\BIG.BIN"], 0, ["PASS\t3\t3000\t", "at most 3 extents"], 0),
        (["--check", "--max-ext=2", frag, "/big.*"], 3, ["FAIL\t3\t3000\t"], 0),
        (["--check", frag, "sub\\f10.txt"], 0, ["PASS\t1\t1001\t", "\t/SUB/F10.TXT\n"], 0),
        (["--check", frag, "S?B/F1?.TXT"], 0, ["/SUB/F10.TXT\nPASS\t1\t1101\t", "\t/SUB/F11.TXT\n"], 0),
        (["--check", frag, "/*.txt"], 0, ["\t/F9.TXT\n", "\t/abc.txt\n"], 0),
        (["--check", frag, "*"], 3, ["FAIL\t3\t", "PASS\t1\t1001\t"], 0),
        (["--check", frag, "V:\\F2.TXT", "F2.TXT"], 0, ["\t/F2.TXT\n"], 0),
        (["--check", frag, "abc.txt"], 0, ["\t/abc.txt\n", "\t/ABC.TXT\n", "names 2 files whose names differ only in case"], 0),
        (["--check", frag, "NOPE.TXT"], 4, [*one], 0),
        (["--check", frag, "SUB"], 4, ["'SUB' names only directories, no file"], 0),
        (["--check", frag, "/s*"], 4, ["'/s*' names only directories"], 0),
        (["--check", frag, "F1.TXT"], 4, [*one], 0),   # deleted
        (["--check", frag, "BIG.BIN", "nope*"], 4, ["FAIL\t3\t", "'nope*' names no measured file"], 0),
        (["--check", frag, "SUB/"], 4, [*one], 0),
        (["--check", frag, ""], 2, ["empty NAME", *usage], 0),
        (["--check", frag], 2, ["option '--check' needs a NAME after PATH", *usage], 0),
        (["--check", "--max-extents", "0", frag, "F0.TXT"], 2, ["invalid number of extents '0'", *usage], 0),
        (["--check", "--max-extents", "two", frag, "F0.TXT"], 2, ["invalid number of extents 'two'", *usage], 0),
        (["--max-extents", "2", frag], 2, ["option '--max-extents' needs '--check'", *usage], 0),
        (["--require-flag", frag], 2, ["option '--require-flag' needs '--check'", *usage], 0),
        ([frag, "F0.TXT"], 2, ["extra operand 'F0.TXT'", *usage], 0),
        (["--runs", frag], 2, ["option '--runs' needs '--files', '--fragmented' or '--check'", *usage], 0),
        (["--fragmented", "--runs", frag], 0, ["\nextents\tclusters\tsize\truns\tpath\n3\t6\t3000\t"], 0),
        ([frag], 0, ["Free extents       1\nLargest free       1444352 bytes at cluster 28, byte 30208\n"], 0),
        (["--fits", "1k", frag], 0, ["Fits 1024          yes\n"], 0),
        (["--fits=1444352", frag], 0, ["Fits 1444352       yes\n"], 0),
        (["--fits=1444353", frag], 3, ["Fits 1444353       no\n"], 0),
        (["--fits", "2M", frag], 3, ["2097152 bytes are more than the volume's whole data area", "Fits 2097152"], 0),
        (["--fits", "1.5M", frag], 2, ["invalid size '1.5M'", *usage], 0),
        (["--fits", "0", frag], 2, ["invalid size '0'", *usage], 0),
        (["--fits", "9999999999G", frag], 2, ["invalid size '9999999999G'", *usage], 0),
        (["-j", "--check", "-p", "1", disks["one"], "F0.TXT"], 0,
         ['"check": {\n    "max_extents": 1,\n    "files": [\n      {"path": "/F0.TXT", "short_path": "V:\\\\F0.TXT", '
          '"size": 1, "extents": 1, "pass": true, "runs": [{"cluster": 3, "clusters": 1, "sector": 34, "sectors": 1, '
          '"offset": 1065984}]}'], 0),
    ]
    for arguments, status, texts, seconds in cases:
        started = time.monotonic()
        done = run(SCAN, *arguments, timeout=60)
        took = time.monotonic() - started
        check(done.returncode == status and all(t in done.stdout + done.stderr for t in texts) and took >= seconds,
              f"{' '.join(arguments)}: status {done.returncode} after {took:.1f} s:\n{done.stdout}{done.stderr}")
        # Every error once more with --json: the same status and one JSON object (checked against the
        # schema by run) that holds the error, or the report of an analysis that ended on an error.
        if status != 0:
            done = run(SCAN, "--json", *arguments, timeout=60)
            member = "error" if status == 2 else "completed"
            check(done.returncode == status and done.stdout.startswith("{") and member in json.loads(done.stdout),
                  f"--json {' '.join(arguments)}: status {done.returncode}:\n{done.stdout}{done.stderr}")
    write_errors(small, disks["one"])
    # On a terminal a progress line shows on the standard error.
    shown = run("script", "-qec", f"'{SCAN}' --throttle '{small}'", "/dev/null").stdout
    check(" files/s  /SUB/" in shown, f"no progress line on a terminal: {shown!r}")


def fragmented_copy(small, sources):
    """tiny.img with F1.TXT and F3.TXT deleted and BIG.BIN (3000 bytes) written into their clusters, in 3
    extents; abc.txt and ABD.TXT, whose short name is then made ABC.TXT: two names that differ in case."""
    frag = os.path.join(WORK, "frag.img")
    with open(sources[0] + ".big", "w") as out:
        out.write("b" * 3000)
    for name in ("abc.txt", "ABD.TXT"):
        with open(os.path.join(WORK, name), "w") as out:
            out.write(name)
    run("cp", small, frag + ".new")
    run("mdel", "-i", frag + ".new", "::/F1.TXT", "::/F3.TXT")
    run("mcopy", "-i", frag + ".new", sources[0] + ".big", "::/BIG.BIN")
    run("mcopy", "-i", frag + ".new", *[os.path.join(WORK, n) for n in ("abc.txt", "ABD.TXT")], "::/")
    data = bytearray(open(frag + ".new", "rb").read())
    at = data.index(b"ABD     TXT")
    data[at:at + 11] = b"ABC     TXT"
    with open(frag + ".new", "wb") as out:
        out.write(data)
    os.replace(frag + ".new", frag)
    return frag


def partition_disks(volume):
    """MBR disks around the floppy `volume`: at 1 MiB ("one"), at 1 and 3 MiB ("two"), and at 1 MiB with
    an entry that runs past the end of the disk ("cut")."""
    def disk(name, entries, size):
        mbr = bytearray(512)
        for slot, (start, sectors) in enumerate(entries):
            struct.pack_into("<B3sB3sII", mbr, 446 + 16 * slot, 0, b"\0\0\0", 0x01, b"\0\0\0", start, sectors)
        mbr[510:512] = b"\x55\xaa"
        image = bytearray(size)
        image[:512] = mbr
        for start, sectors in entries:
            image[start * 512:start * 512 + len(volume)] = volume
        path = os.path.join(WORK, name + ".disk")
        with open(path, "wb") as out:
            out.write(image[:size])
        return path
    sectors = len(volume) // 512
    return {"one": disk("one", [(2048, sectors)], 2048 * 512 + len(volume)),
            "two": disk("two", [(2048, sectors), (6144, sectors)], 10240 * 512),
            "cut": disk("cut", [(2048, sectors * 2)], 2048 * 512 + len(volume))}


def write_errors(small, disk):
    """Output that cannot be written: a full disk, a closed pipe, on standard output or standard error."""
    def scan(arguments, stdout, stderr=subprocess.PIPE):
        done = subprocess.run([SCAN, *arguments], env=ENV, stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                              timeout=60)
        return done.returncode, (done.stderr or b"").decode(errors="replace")
    reading, closed = os.pipe()
    os.close(reading)
    with open("/dev/full", "wb") as full:
        for arguments, out, err, status, said in [
            (["--files", small], full, subprocess.PIPE, 1, "vantrel-scan: write error: No space left on device\n"),
            (["--json", small], closed, subprocess.PIPE, 1, "vantrel-scan: write error: Broken pipe\n"),
            (["--help"], full, subprocess.PIPE, 1, "vantrel-scan: write error: No space left on device\n"),
            # A run that failed already keeps its status, and says both.
            (["--json", "--bogus", small], full, subprocess.PIPE, 2, "unrecognized option '--bogus'"),
            ([disk], subprocess.DEVNULL, full, 1, ""),   # the partition chosen is named on standard error
            ([disk], subprocess.DEVNULL, subprocess.PIPE, 0, "analysing partition 1, the only FAT partition"),
        ]:
            got, text = scan(arguments, out, err)
            lines = [line for line in text.splitlines() if "write error" in line]
            check(got == status and said in text and len(lines) == (1 if out in (full, closed) else 0),
                  f"{' '.join(arguments)} with {out} {err}: status {got}, said {text!r}")
    os.close(closed)


os.makedirs(WORK, exist_ok=True)
for preset, seed in [("floppy", 21), ("small", 22), ("dense", 23), ("fat32", 24)]:
    extents(preset, seed)
for fat in (16, 32):
    long_names(fat)
options()
check(len(validated) >= 20, f"only {len(validated)} JSON objects validated")
print(f"check_scan: {results.count(True)} passed, {results.count(False)} failed, "
      f"{len(validated)} JSON objects valid against the schema")
sys.exit(0 if all(results) else 1)
