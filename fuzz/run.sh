#!/usr/bin/env bash
# Fuzzes each target named (volume partitions bitmap by default) with libFuzzer for SECONDS (60)
# each, one after another, built with clang, ASan and UBSan in build/fuzz, each from a copy of its
# committed corpus (which stays small). A target stops at its first finding, which lands in
# build/fuzz/work/TARGET with the target's log; the last lines give each target's coverage points,
# executions and findings, and the status is 1 when there was any. Options starting with '-' go to
# libFuzzer. On a shared machine: nice bash fuzz/run.sh 600
# usage: fuzz/run.sh [SECONDS] [TARGET]... [-libFuzzer-option]...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=() options=()
for arg in "$@"; do
  case $arg in
    volume | partitions | bitmap) targets+=("$arg") ;;
    -*) options+=("$arg") ;;
    *) echo "run.sh: unknown target '$arg' (volume, partitions, bitmap)" >&2; exit 2 ;;
  esac
done
((${#targets[@]} > 0)) || targets=(volume partitions bitmap)

bash "$root/scripts/deps.sh" clang libclang-rt-14-dev
build=$root/build/fuzz
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVANTREL_SANITIZE=address,undefined -DVANTREL_LIBFUZZER=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}"

summary=() found=0
for target in "${targets[@]}"; do
  work=$build/work/$target
  mkdir -p "$work/corpus"
  touch "$work/started"
  cp -n "$root/fuzz/corpus/$target"/* "$work/corpus/"
  echo "=== $target: $seconds s (log: $work/log)"
  (cd "$work" && "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=15 \
    -print_final_stats=1 -artifact_prefix="$work/" "${options[@]}" corpus) >"$work/log" 2>&1 || true
  grep -E '^#[0-9]+[[:space:]]+DONE|ERROR:|SUMMARY:|^fuzz:|Test unit written' "$work/log" || true
  # The last status line reads "#RUNS DONE cov: N ft: N corp: ..." (or the line before a finding).
  cov=$(grep -o 'cov: [0-9]*' "$work/log" | tail -n 1 | cut -d' ' -f2)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  findings=$(find "$work" -maxdepth 1 -newer "$work/started" \( -name 'crash-*' -o -name 'leak-*' \
    -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  ((findings == 0)) || found=1
  summary+=("$(printf '%-10s %5s s  cov %-6s execs %-10s findings %s' "$target" "$seconds" "${cov:-?}" \
    "${execs:-?}" "$findings")")
done
echo "=== summary"
printf '%s\n' "${summary[@]}"
exit "$found"
