#!/usr/bin/env bash
# Builds the libFuzzer target volume_fuzz (clang, ASan + UBSan, the engine
# built for coverage) into build/fuzz and fuzzes the whole analysis for a
# while, starting from a copy of the committed seed corpus so that the
# committed one stays small. Crashes, hangs and slow inputs are written to the
# artifact folder. Exits 0 without fuzzing when clang or libFuzzer cannot be
# had.
#
# usage: fuzz/run.sh [SECONDS] [extra libFuzzer options...]   (default 60 s)
# environment: FUZZ_BUILD (build/fuzz), FUZZ_WORK (build/fuzz/work: the
# corpus copy and artifacts), VANTREL_FUZZ_TIMEOUT_MS (10000: one analysis).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD:-$root/build/fuzz}
work=${FUZZ_WORK:-$build/work}

# True when clang++ can link a libFuzzer program with the sanitizers.
have_libfuzzer() {
  command -v clang++ >/dev/null || return 1
  local probe
  probe=$(mktemp -d)
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o "$probe/probe" >/dev/null 2>&1
  local status=$?
  rm -rf "$probe"
  return $status
}

if ! have_libfuzzer && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  echo "fuzz/run.sh: installing clang and libFuzzer" >&2
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev; } \
    >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang >/dev/null 2>&1 || true
fi
if ! have_libfuzzer; then
  echo "fuzz/run.sh: clang with libFuzzer is not available; nothing fuzzed" >&2
  exit 0
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DVANTREL_SANITIZE=address,undefined -DVANTREL_LIBFUZZER=ON >/dev/null
cmake --build "$build" -j2 --target volume_fuzz

mkdir -p "$work/corpus" "$work/artifacts"
for seed in "$root"/fuzz/corpus/volume/*; do
  [ -e "$work/corpus/${seed##*/}" ] || cp "$seed" "$work/corpus/"
done
timeout_s=$(((${VANTREL_FUZZ_TIMEOUT_MS:-10000} + 999) / 1000 + 5))
cd "$work"
# One fuzzing process (-jobs=1: the machine is shared); its output goes to
# fuzz-0.log, shown when it ends.
status=0
"$build/fuzz/volume_fuzz" -max_total_time="$seconds" -jobs=1 -workers=1 \
  -max_len=65536 -timeout="$timeout_s" -rss_limit_mb=4096 \
  -artifact_prefix="$work/artifacts/" "$@" "$work/corpus" || status=$?
tail -n 40 fuzz-0.log 2>/dev/null || true
echo "fuzz/run.sh: corpus $work/corpus ($(ls "$work/corpus" | wc -l) inputs)," \
  "artifacts $work/artifacts ($(ls "$work/artifacts" | wc -l) files)"
exit $status
