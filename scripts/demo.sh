#!/usr/bin/env bash
# The first command on a fresh Debian machine, from the top of the repository:
#   bash scripts/demo.sh
# Installs what is missing (scripts/deps.sh), builds the analyzer vantrel-scan
# (build/host) and Vantrel.exe (build/win), makes two demo volumes under
# build/demo (a fragmented FAT16 volume and a FAT12 floppy image), maps them
# as drives D: and E: of the private Wine prefix (build/wineprefix) and
# starts Vantrel.
#   With a display ($DISPLAY set) the window opens: choose Analysis > Select
#   Disk, pick D: or E: and press Start. The drives are unmapped when the
#   window is closed.
#   Without one (a server, CI) the same command runs the analysis of D: by
#   itself on a virtual screen, through the end-to-end driver, checks the
#   finished panel against vantrel-scan, saves a screenshot of it as
#   build/demo-panel.png and prints vantrel-scan's report of the same volume,
#   drawing its map of the volume's clusters beside it as build/demo-map.png.
# Mapping the drives restarts the prefix's Wine session: do not run this
# while scripts/test.sh runs. VANTREL_BUILD moves every folder named here
# (build/ by default) elsewhere, as for scripts/wine-env.sh.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
export VANTREL_BUILD=${VANTREL_BUILD:-$ROOT/build}
BUILD=$VANTREL_BUILD
JOBS=2

echo "== dependencies"
bash scripts/deps.sh

echo "== building vantrel-scan ($BUILD/host) and Vantrel.exe ($BUILD/win)"
cmake -S . -B "$BUILD/host" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD/host" -j"$JOBS" --target vantrel-scan
cmake -S . -B "$BUILD/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" >/dev/null
headless=
[[ -z ${DISPLAY:-} ]] && headless=1
targets=(Vantrel)
[[ -n $headless ]] && targets+=(vantrel_e2e_driver)
cmake --build "$BUILD/win" -j"$JOBS" --target "${targets[@]}"

echo "== demo volumes ($BUILD/demo)"
demo=$BUILD/demo
mkdir -p "$demo/d" "$demo/e" "$demo/run"
fat16=$demo/d/fragmented.img
floppy=$demo/e/floppy.img
make_volume() { # image make-volume-arguments...: made once, complete or not at all
  local image=$1
  shift
  [[ -f $image ]] && return 0
  python3 scripts/make-volume.py "$@" -q "$image.part"
  mv "$image.part" "$image"
}
make_volume "$fat16" --fat 16 --size 16M --cluster 1K --files 200 --dirs 20 --depth 5 --seed 3
make_volume "$floppy" --preset floppy --seed 4

echo "== Wine prefix ($BUILD/wineprefix)"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
vantrel_wine_prefix
# Labels and file systems are read when a session starts: end the running one
# before the links change.
vantrel_wine_stop
devices=$WINEPREFIX/dosdevices
map_drive() { # letter image: "x:" is the image's folder, "x::" the image inside it
  ln -sfn "$(dirname "$2")" "$devices/$1:"
  ln -sfn "$2" "$devices/$1::"
}
# shellcheck disable=SC2317  # called by the EXIT trap
unmap_drives() {
  vantrel_wine_stop
  rm -f "$devices/d:" "$devices/d::" "$devices/e:" "$devices/e::"
}
map_drive d "$fat16"
map_drive e "$floppy"
echo "D: = $fat16"
echo "E: = $floppy"

if [[ -z $headless ]]; then
  trap unmap_drives EXIT
  echo "== starting Vantrel on $DISPLAY: Analysis > Select Disk, choose D: or E:, Start"
  echo "   (Wine's own messages go to $demo/wine.log)"
  (cd "$BUILD/win" && wine Vantrel.exe 2>"$demo/wine.log") || true
  exit 0
fi

echo "== no display: analysing D: on a virtual screen"
trap 'unmap_drives; vantrel_display_stop' EXIT
vantrel_display_start
vantrel_wine_start
expect=$demo/run/d.expect
python3 tests/e2e/make-drives.py --scan "$BUILD/host/vantrel-scan" --expect "$fat16" D "$expect"
printf 'drive\tD\tfixed\tFAT\tVANTREL\t%s\t%s\n' "$fat16" "$expect" >"$demo/run/drives.txt"
status=0
# The program runs in $demo beside the volumes; the screenshot is $BUILD/demo-panel.png.
wine "$BUILD/win/tests/e2e/driver.exe" demo "$BUILD/win" "$BUILD" "$demo/run/drives.txt" </dev/null \
  2>"$demo/wine.log" || status=$?
echo
if ((status == 0)); then
  echo "Screenshot of the finished panel: $BUILD/demo-panel.png"
else
  echo "The demo analysis did not go as expected (see above); screenshot: $BUILD/demo-panel.png"
fi
echo
echo "== vantrel-scan's report of the same volume (its cluster map: $BUILD/demo-map.png)"
"$BUILD/host/vantrel-scan" --drive D: --map "$BUILD/demo-map.png" "$fat16" || status=$?
exit "$status"
