#!/usr/bin/env bash
# Benchmarks vantrel-scan on a large, fragmented FAT16 image against
# fsck.fat -n and mdir -/ -b on the same image: wall time with hyperfine
# (warm page cache), peak resident memory with GNU time, and PASS/MISS for
# the speed and memory goals. Everything it makes goes under build/bench/.
# Settings from the environment: BENCH_RUNS (timed runs per command, default 10).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
OUT=build/bench
IMAGE=$OUT/large.img
STAMP=$IMAGE.stamp
RUNS=${BENCH_RUNS:-10}
VOLUME_ARGS=(--preset large --seed 1)

banner() {
  echo
  echo "=== $* ($(date +%T), ${SECONDS}s so far)"
}

# --- 1. What the benchmark needs -------------------------------------------
banner "packages"
bash scripts/deps.sh hyperfine dosfstools mtools python3 time cmake ninja-build g++

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
# Warm cache: the image stays in the page cache between runs (the warmup run
# puts it there). Dropping the cache needs root, which CI may not have.
banner "hyperfine (warm page cache, $RUNS runs each)"
hyperfine_args=(-N --warmup 1 --runs "$RUNS" --style basic
                --export-markdown "$OUT/hyperfine.md" --export-json "$OUT/hyperfine.json")
for i in "${!names[@]}"; do
  hyperfine_args+=(-n "${names[$i]}" "${commands[$i]}")
done
hyperfine "${hyperfine_args[@]}"

# --- 5. Peak memory ----------------------------------------------------------
banner "peak memory (GNU time -v)"
: >"$OUT/rss.txt"
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086
  /usr/bin/time -v -o "$OUT/${names[$i]}.time" ${commands[$i]} >/dev/null 2>&1
  kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$OUT/${names[$i]}.time")
  echo "${names[$i]} $kb" >>"$OUT/rss.txt"
  echo "${names[$i]}: $kb KiB"
done

# --- 6. Summary --------------------------------------------------------------
banner "summary"
python3 - "$OUT/hyperfine.json" "$OUT/rss.txt" <<'EOF'
import json, sys

results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
rss = dict(line.split() for line in open(sys.argv[2]) if line.strip())
scan = results["vantrel-scan"]["mean"]

print("warm page cache; hyperfine means over %d runs" % len(results["vantrel-scan"]["times"]))
for name in ("vantrel-scan", "fsck.fat", "mdir"):
    r = results[name]
    print(f"  {name:13s} {r['mean'] * 1000:9.1f} ms ± {r['stddev'] * 1000:6.1f} ms"
          f"   peak RSS {int(rss[name]) / 1024:7.1f} MiB")
fsck_ratio = results["fsck.fat"]["mean"] / scan
mdir_ratio = results["mdir"]["mean"] / scan
print(f"  fsck.fat / vantrel-scan = {fsck_ratio:.1f}")
print(f"  mdir / vantrel-scan     = {mdir_ratio:.2f}")
scan_mib = int(rss["vantrel-scan"]) / 1024

def goal(ok, text):
    print(f"  {'PASS' if ok else 'MISS'}  {text}")

print("goals:")
goal(mdir_ratio > 1, f"faster than mdir -/ -b            ({mdir_ratio:.2f}x)")
goal(fsck_ratio >= 20, f"at least 20x faster than fsck.fat -n ({fsck_ratio:.1f}x)")
goal(scan_mib < 16, f"peak memory under 16 MiB           ({scan_mib:.1f} MiB)")
EOF
