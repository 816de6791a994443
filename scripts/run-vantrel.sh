#!/usr/bin/env bash
# Starts Vantrel under Wine with your own FAT volumes as drives:
#   bash scripts/run-vantrel.sh [IMAGE-or-DEVICE ...]
# The first is mapped as D:, the next as E:, and so on, in the private prefix
# build/wineprefix; Vantrel (build/win, built when missing) then lists those
# that are FAT12/FAT16 volumes. The drives are unmapped when the window is
# closed. Needs a display; for a run without one see scripts/demo.sh.
#
# How Wine is told (links in the prefix's dosdevices folder):
#   image file    "x:" -> the image's folder, "x::" -> the image. Wine gives an
#                 opened file to the drive whose folder holds it, so the image
#                 must really lie in that folder (a symbolic link to it from
#                 elsewhere does not do): two images need two folders.
#   block device  "x:" -> an empty folder (build/run-vantrel/x), "x::" -> the
#                 device. Wine reads the device's label and file system itself.
#                 Vantrel opens the volume for reading and writing, as on
#                 Windows (it never writes): your user needs read-write access
#                 to the device node, or use a copy (dd if=/dev/sdX1 of=x.img).
# Mapping restarts the prefix's Wine session: do not run this while
# scripts/test.sh runs. VANTREL_BUILD moves build/ elsewhere, as for
# scripts/wine-env.sh.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
export VANTREL_BUILD=${VANTREL_BUILD:-$ROOT/build}
BUILD=$VANTREL_BUILD

if [[ -z ${DISPLAY:-} ]]; then
  echo "run-vantrel: no display (DISPLAY is not set); scripts/demo.sh runs a demo without one" >&2
  exit 2
fi
letters=(d e f g h i j k l m n o p q r s t u v w x y)
if (($# > ${#letters[@]})); then
  echo "run-vantrel: at most ${#letters[@]} volumes (D: to Y:)" >&2
  exit 2
fi

declare -A folders=()
for volume in "$@"; do
  if [[ -b $volume ]]; then
    [[ -r $volume && -w $volume ]] ||
      echo "run-vantrel: warning: $volume needs read-write access for Vantrel to open it" >&2
  elif [[ -f $volume ]]; then
    folder=$(dirname "$(realpath "$volume")")
    if [[ -n ${folders[$folder]:-} ]]; then
      echo "run-vantrel: $volume and ${folders[$folder]} lie in the same folder; Wine needs one folder per image" >&2
      exit 2
    fi
    folders[$folder]=$volume
  else
    echo "run-vantrel: $volume is neither an image file nor a block device" >&2
    exit 2
  fi
done

if [[ ! -f $BUILD/win/Vantrel.exe ]]; then
  echo "== building Vantrel.exe ($BUILD/win)"
  cmake -S . -B "$BUILD/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" >/dev/null
  cmake --build "$BUILD/win" -j2 --target Vantrel
fi

# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
vantrel_wine_prefix
# Labels and file systems are read when a session starts.
vantrel_wine_stop
devices=$WINEPREFIX/dosdevices
mapped=()
# shellcheck disable=SC2317  # called by the EXIT trap
unmap() {
  vantrel_wine_stop
  local letter
  for letter in "${mapped[@]}"; do
    rm -f "$devices/$letter:" "$devices/$letter::"
  done
}
trap unmap EXIT

index=0
for volume in "$@"; do
  letter=${letters[index]}
  index=$((index + 1))
  if [[ -b $volume ]]; then
    folder=$BUILD/run-vantrel/$letter
    mkdir -p "$folder"
    ln -sfn "$folder" "$devices/$letter:"
    ln -sfn "$(realpath "$volume")" "$devices/$letter::"
  else
    ln -sfn "$(dirname "$(realpath "$volume")")" "$devices/$letter:"
    ln -sfn "$(realpath "$volume")" "$devices/$letter::"
  fi
  mapped+=("$letter")
  echo "${letter^^}: = $volume"
done

mkdir -p "$BUILD/run-vantrel"
echo "== Vantrel: Analysis > Select Disk lists the FAT12/FAT16 volumes"
echo "   (Wine's own messages go to $BUILD/run-vantrel/wine.log)"
(cd "$BUILD/win" && wine Vantrel.exe 2>"$BUILD/run-vantrel/wine.log") || true
