#!/usr/bin/env bash
# The project's test command. Installs what is missing, then builds and runs
# every test in three stages, stopping at the first that fails:
#   asan  host build under AddressSanitizer and UBSan  (build/host-asan), then the
#         Debian package installed and removed          (build/pkg; as root or with sudo)
#   tsan  host build under ThreadSanitizer             (build/host-tsan)
#   win   MinGW-w64 build, tests run under Wine        (build/win, prefix build/wineprefix)
# Give stage names to run only those: scripts/test.sh asan win
# The output ends with the summary of the last ctest run (or the package test's line).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
JOBS=2
CTEST=(ctest --output-on-failure -j"$JOBS" --timeout 600)

stages=("$@")
if ((${#stages[@]} == 0)); then
  stages=(asan tsan win)
fi
for stage in "${stages[@]}"; do
  case $stage in
    asan | tsan | win) ;;
    *) echo "test.sh: unknown stage '$stage' (asan, tsan, win)" >&2; exit 2 ;;
  esac
done

banner() {
  echo
  echo "=== $* ($(date +%T), ${SECONDS}s so far)"
}

configure_and_build() { # build-dir cmake-arguments...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

stage_asan() {
  banner "host build, AddressSanitizer + UBSan"
  configure_and_build build/host-asan -DCMAKE_BUILD_TYPE=Debug \
    -DVANTREL_SANITIZE=address,undefined
  (cd build/host-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "${CTEST[@]}")
  banner "Debian package: built from a Release build, installed, run, removed"
  bash tests/package/check_package.sh
}

stage_tsan() {
  banner "host build, ThreadSanitizer"
  # Kernels with more than 28 bits of mmap randomness break the TSan runtime
  # of GCC 12; without address randomization it works (the builds run the test
  # programs too, to list their tests).
  local norandom=()
  if (($(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0) > 28)) &&
    setarch "$(uname -m)" -R true 2>/dev/null; then
    norandom=(setarch "$(uname -m)" -R)
  fi
  "${norandom[@]}" cmake -S . -B build/host-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVANTREL_SANITIZE=thread >/dev/null
  "${norandom[@]}" cmake --build build/host-tsan -j"$JOBS"
  (cd build/host-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    "${norandom[@]}" "${CTEST[@]}")
}

stage_win() {
  banner "Windows build (MinGW-w64), tests under Wine"
  configure_and_build build/win -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake"

  export VANTREL_BUILD=$ROOT/build
  # shellcheck source=scripts/wine-env.sh
  source "$ROOT/scripts/wine-env.sh"
  vantrel_wine_prefix
  trap 'vantrel_wine_stop; vantrel_display_stop' EXIT
  vantrel_display_start
  vantrel_wine_start
  local status=0
  (cd build/win && "${CTEST[@]}") || status=$?
  vantrel_wine_stop
  vantrel_display_stop
  trap - EXIT
  return "$status"
}

banner "dependencies"
bash scripts/deps.sh

for stage in "${stages[@]}"; do
  "stage_$stage"
done
