#!/usr/bin/env bash
# Benchmarks vantrel-scan on a large, fragmented FAT16 or FAT32 image against
# fsck.fat -n and mdir -/ -b on the same image: wall time with hyperfine, with
# the image in the page cache (warm) and evicted from it before each run
# (cold, as when a card has just been plugged in), the bytes each reads from
# the image (strace), peak resident memory with GNU time, and PASS/MISS for the
# goals. Everything it makes goes under build/bench/.
# Settings from the environment: BENCH_RUNS (timed runs per command, default
# 10); BENCH_PRESET, the image: large (2 GiB FAT16, the default) or card32
# (32 GiB FAT32 with 100,000 files, a sparse file of about 2 GB); BENCH_BASELINE,
# a git commit whose vantrel-scan is timed beside this one's as "baseline"
# (e.g. one whose analyzer walks short names only), the summary giving their ratio.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
OUT=build/bench
PRESET=${BENCH_PRESET:-large}
IMAGE=$OUT/$PRESET.img
STAMP=$IMAGE.stamp
RUNS=${BENCH_RUNS:-10}
VOLUME_ARGS=(--preset "$PRESET" --seed 1)

banner() {
  echo
  echo "=== $* ($(date +%T), ${SECONDS}s so far)"
}

# --- 1. What the benchmark needs -------------------------------------------
banner "packages"
bash scripts/deps.sh hyperfine dosfstools mtools python3 time strace cmake ninja-build g++

# --- 2. Release build of the analyzer --------------------------------------
banner "build (Release, BUILD_TESTING=OFF)"
mkdir -p "$OUT"
cmake -S . -B "$OUT" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$OUT/configure.log" 2>&1 || {
  cat "$OUT/configure.log" >&2
  echo "bench: configuring with -DBUILD_TESTING=OFF failed" >&2
  exit 1
}
if ! grep -qx 'BUILD_TESTING:BOOL=OFF' "$OUT/CMakeCache.txt"; then
  echo "bench: BUILD_TESTING is not OFF in $OUT/CMakeCache.txt" >&2
  exit 1
fi
cmake --build "$OUT" --target vantrel-scan -j2
SCAN=$OUT/vantrel-scan
if [[ -n ${BENCH_BASELINE:-} ]]; then
  banner "baseline build ($BENCH_BASELINE)"
  rm -rf "$OUT/baseline-src" && mkdir -p "$OUT/baseline-src"
  git archive "$BENCH_BASELINE" | tar -x -C "$OUT/baseline-src"
  cmake -S "$OUT/baseline-src" -B "$OUT/baseline" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    >"$OUT/baseline-configure.log"
  cmake --build "$OUT/baseline" --target vantrel-scan -j2
fi

# --- 3. The image, made once ------------------------------------------------
# The stamp beside the image records what made it: the generator's hash, its
# arguments and the dosfstools and mtools package versions. The image is remade only
# when one of them changes.
banner "image"
stamp_text=$(
  sha256sum scripts/make-volume.py | cut -d' ' -f1
  echo "args: ${VOLUME_ARGS[*]}"
  dpkg-query -W -f='${Package} ${Version}\n' dosfstools mtools
)
if [[ -f "$IMAGE" && -f "$STAMP" && "$(cat "$STAMP")" == "$stamp_text" ]]; then
  echo "reusing $IMAGE (generator and arguments unchanged)"
else
  echo "making $IMAGE: make-volume.py ${VOLUME_ARGS[*]} (a few minutes)"
  rm -f "$IMAGE" "$STAMP"
  python3 scripts/make-volume.py "${VOLUME_ARGS[@]}" -q "$IMAGE.part"
  mv "$IMAGE.part" "$IMAGE"
  printf '%s\n' "$stamp_text" >"$STAMP"
fi
ls -l "$IMAGE"

# --- Each command once, so that a failing one stops the benchmark early ----
export MTOOLS_SKIP_CHECK=1
names=(vantrel-scan fsck.fat mdir)
commands=(
  "$SCAN --json $IMAGE"
  "fsck.fat -n $IMAGE"
  "mdir -/ -b -i $IMAGE ::"
)
if [[ -n ${BENCH_BASELINE:-} ]]; then
  # Timed right after vantrel-scan, so that the two meet the same load.
  names=("${names[0]}" baseline "${names[@]:1}")
  commands=("${commands[0]}" "$OUT/baseline/vantrel-scan --json $IMAGE" "${commands[@]:1}")
fi
banner "check runs"
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086 # each command is split into its words on purpose
  if ! ${commands[$i]} >"$OUT/${names[$i]}.out" 2>&1; then
    echo "bench: '${commands[$i]}' failed; its output is in $OUT/${names[$i]}.out" >&2
    exit 1
  fi
  echo "${names[$i]}: ok, $(wc -l <"$OUT/${names[$i]}.out") lines of output"
done

# --- 4. Times ----------------------------------------------------------------
# Warm: the image stays in the page cache between runs (the warmup run puts it
# there). Cold: before each run, dd's nocache flag asks the kernel to drop the
# image's pages (posix_fadvise DONTNEED on the image file; no root needed).
evict="dd if=$IMAGE iflag=nocache count=0 status=none"
timed() { # cache-name extra-hyperfine-arguments...
  local cache=$1
  shift
  local args=(-N --runs "$RUNS" --style basic --export-json "$OUT/hyperfine-$cache.json" "$@")
  for i in "${!names[@]}"; do
    args+=(-n "${names[$i]}" "${commands[$i]}")
  done
  hyperfine "${args[@]}"
}
banner "hyperfine, warm page cache ($RUNS runs each)"
timed warm --warmup 1
banner "hyperfine, cold: image evicted before each run ($RUNS runs each)"
timed cold --prepare "$evict"

# --- 5. Bytes read and peak memory ------------------------------------------
# strace -y names each read's file, so only reads of the image are counted.
banner "bytes read from the image (strace), peak memory (GNU time -v)"
python3 bench/needed.py "$IMAGE" >"$OUT/needed.txt"
: >"$OUT/io.txt"
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086 # each command is split into its words on purpose
  strace -f -qq -y -e trace=read,pread64,readv,preadv,preadv2 -e signal=none -o "$OUT/${names[$i]}.strace" \
    ${commands[$i]} >/dev/null 2>&1
  read -r calls bytes < <(awk -v image="<$(realpath "$IMAGE")>" \
    'index($0, image) && $NF ~ /^[0-9]+$/ { n++; b += $NF } END { print n + 0, b + 0 }' \
    "$OUT/${names[$i]}.strace")
  # shellcheck disable=SC2086
  /usr/bin/time -v -o "$OUT/${names[$i]}.time" ${commands[$i]} >/dev/null 2>&1
  kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$OUT/${names[$i]}.time")
  echo "${names[$i]} $calls $bytes $kb" >>"$OUT/io.txt"
  echo "${names[$i]}: $calls reads, $bytes bytes; peak $kb KiB"
done

# --- 6. Summary --------------------------------------------------------------
banner "summary"
python3 - "$OUT" <<'EOF'
import json, sys

out = sys.argv[1]
times = {cache: {r["command"]: r for r in json.load(open(f"{out}/hyperfine-{cache}.json"))["results"]}
         for cache in ("warm", "cold")}
io = {name: list(map(int, rest)) for name, *rest in (line.split() for line in open(f"{out}/io.txt"))}
needed = int(open(f"{out}/needed.txt").read())

print(f"means over {len(times['warm']['vantrel-scan']['times'])} runs each; the walk needs {needed / 1e6:.2f} MB")
print(f"  {'':13s} {'warm':>10s} {'cold':>10s} {'reads':>7s} {'MB read':>8s} {'peak RSS':>10s}")
for name in [n for n in ("vantrel-scan", "baseline", "mdir", "fsck.fat") if n in io]:
    calls, read, kb = io[name]
    print(f"  {name:13s} {times['warm'][name]['mean'] * 1000:7.1f} ms {times['cold'][name]['mean'] * 1000:7.1f} ms"
          f" {calls:7d} {read / 1e6:8.2f} {kb / 1024:6.1f} MiB")


def ratio(cache, other):
    return times[cache]["vantrel-scan"]["mean"] / times[cache][other]["mean"]


def goal(ok, text):
    print(f"  {'PASS' if ok else 'MISS'}  {text}")


read_ratio = io["vantrel-scan"][1] / needed
print("goals (vantrel-scan):")
goal(ratio("cold", "mdir") <= 0.5, f"cold: at most 0.5x mdir's time          ({ratio('cold', 'mdir'):.2f}x)")
goal(ratio("warm", "mdir") <= 0.25, f"warm: at most 0.25x mdir's time         ({ratio('warm', 'mdir'):.2f}x)")
goal(read_ratio <= 1.5, f"reads at most 1.5x what the walk needs ({read_ratio:.2f}x)")
goal(io["vantrel-scan"][2] < 16 * 1024, f"peak memory under 16 MiB                ({io['vantrel-scan'][2] / 1024:.1f} MiB)")
if "baseline" in io:
    for cache in ("warm", "cold"):
        goal(ratio(cache, "baseline") <= 1.1, f"{cache}: within 10 % of the baseline's time  ({ratio(cache, 'baseline'):.2f}x)")
print(f"  fsck.fat / vantrel-scan: warm {1 / ratio('warm', 'fsck.fat'):.0f}x, cold {1 / ratio('cold', 'fsck.fat'):.0f}x")
if "baseline" in io:
    print(f"  baseline: reads {io['baseline'][1] / needed:.2f}x what the walk needs; vantrel-scan takes"
          f" {ratio('warm', 'baseline'):.2f}x its warm time, {ratio('cold', 'baseline'):.2f}x its cold time")
EOF
