#!/usr/bin/env bash
# vantrel-scan.exe under Wine against the host vantrel-scan: the JSON report
# (with the file list) of a volume read as drive S: of the prefix, as an
# image file (named with characters outside the ANSI code page), and as
# partition 5 of an MBR disk image equals the host program's report of the
# same volume, its paths in the Windows form (drive and backslashes) and its
# long names in UTF-8; the host program, built as released, also draws the
# volume's map. Needs a Wine session (WINEPREFIX set).
# usage: wine-scan.sh VANTREL-SCAN.EXE HOST-VANTREL-SCAN WINE WORK-DIR
set -euo pipefail
exe=$(realpath "$1") host=$(realpath "$2") wine=$3 work=$(realpath -m "$4")
export MTOOLS_SKIP_CHECK=1
rm -rf "$work" && mkdir -p "$work/mnt" && cd "$work"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

mkfs.fat -C -F 16 -n DATA vol.img 20480 >/dev/null
head -c 50000 /dev/urandom >a.bin && head -c 9000 /dev/urandom >b.bin
mcopy -i vol.img a.bin b.bin ::/ && mdel -i vol.img ::/A.BIN && mmd -i vol.img ::/DIR
mcopy -i vol.img a.bin ::/DIR/BIG.BIN
LC_ALL=C.UTF-8 mcopy -i vol.img b.bin "::/DIR/Ünïcödé 日本 Ελληνικά.bin"
cp vol.img "vol Ωμέγα 日本.img"
truncate -s 40M mbr.img
printf 'label: dos\nstart=2048, size=4096, type=1\nstart=8192, type=5\nstart=10240, size=40960, type=e\n' |
  sfdisk -q mbr.img
dd if=vol.img of=mbr.img bs=512 seek=10240 conv=notrunc status=none

# Drive S: of the prefix: the folder it mounts, and the image as its device.
dosdevices=$WINEPREFIX/dosdevices
trap 'rm -f "$dosdevices/s:" "$dosdevices/s::"' EXIT
ln -sfn "$work/mnt" "$dosdevices/s:" && ln -sfn "$work/vol.img" "$dosdevices/s::"

# same NAME WINDOWS-ARGS -- HOST-ARGS: the two JSON reports are equal, once
# the host's long paths (/DIR/BIG.BIN) are in the Windows form (S:\DIR\BIG.BIN).
same() {
  local name=$1 args=() status=0
  shift
  while [[ $1 != -- ]]; do args+=("$1"); shift; done
  shift
  "$wine" "$exe" --json --files "${args[@]}" 2>win.err | tr -d '\r' >win.json || status=$?
  "$host" --json --files "$@" 2>/dev/null | PYTHONIOENCODING=utf-8 python3 -c '
import json, re, sys
text = sys.stdin.read()
drive = json.loads(text)["drive"]
# Each "path" member of a file (the one followed by its "short_path").
sys.stdout.write(re.sub(r"(\"path\": \")(/[^\"]*)(\", \"short_path\")",
                        lambda m: m[1] + drive + m[2].replace("/", "\\\\") + m[3], text))' >host.json
  [[ $status == 0 ]] || fail "$name: vantrel-scan.exe exited $status: $(cat win.err)"
  cmp -s win.json host.json || fail "$name: the reports differ: $(diff win.json host.json | head -20)"
  grep -qF ':\\DIR\\Ünïcödé 日本 Ελληνικά.bin", "short_path": ' host.json || fail "$name: the file list is missing"
}
same "drive S:" S: -- --drive S: vol.img
same "image file" "vol Ωμέγα 日本.img" -- "vol Ωμέγα 日本.img"
same "partition 5" --partition 5 mbr.img -- --partition 5 mbr.img

# The host program as released (linked statically, cairo inside) draws maps.
"$host" --map map.png vol.img >/dev/null 2>&1 && "$host" --map map.svg vol.img >/dev/null 2>&1 ||
  fail "the host program drew no map"
[[ $(head -c 8 map.png | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || fail "map.png is not a PNG"
grep -q '<svg' map.svg || fail "map.svg is not an SVG"

status=0
"$wine" "$exe" missing.img >/dev/null 2>win.err || status=$?
[[ $status == 2 ]] && grep -q '^vantrel-scan: missing.img: .' win.err || fail "missing image: $status $(cat win.err)"

echo "wine-scan.sh: $failures failed"
((failures == 0))
