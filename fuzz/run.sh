#!/usr/bin/env bash
# Fuzzes the whole analysis (volume_fuzz) with libFuzzer for SECONDS (60),
# built with clang, ASan and UBSan in build/fuzz, from a copy of the committed
# corpus (which stays small); crashes and hangs go to build/fuzz/work.
# usage: fuzz/run.sh [SECONDS] [libFuzzer options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh" clang libclang-rt-14-dev
cmake -S "$root" -B "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVANTREL_SANITIZE=address,undefined -DVANTREL_LIBFUZZER=ON >/dev/null
cmake --build "$root/build/fuzz" -j2 --target volume_fuzz
mkdir -p "$root/build/fuzz/work/corpus" && cd "$root/build/fuzz/work"
cp -n "$root"/fuzz/corpus/volume/* corpus/
exec ../fuzz/volume_fuzz -max_total_time="${1:-60}" -max_len=65536 -timeout=15 "${@:2}" corpus
