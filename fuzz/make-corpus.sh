#!/usr/bin/env bash
# Writes the seed corpus of the volume fuzz target: tiny FAT images laid out
# byte by byte (bash, dd and truncate only), so that every run writes the same
# files. Each seed leads the analysis down a different road: a sound volume,
# loops, self-reference, truncation, garbage and refused geometries.
#
# usage: fuzz/make-corpus.sh [OUTPUT_DIR]   (default: fuzz/corpus/volume)
# The seeds have no file extension: image files (*.img) are never committed.
set -euo pipefail
out=${1:-$(dirname "$0")/corpus/volume}
mkdir -p "$out"

# bytes FILE OFFSET HEX... : writes the bytes at OFFSET.
bytes() {
  local file=$1 offset=$2 escaped="" byte
  shift 2
  for byte in "$@"; do escaped+="\\x$byte"; done
  printf "$escaped" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}
le16() { bytes "$1" "$2" "$(printf %02x $(($3 & 255)))" "$(printf %02x $(($3 >> 8 & 255)))"; }
le32() { le16 "$1" "$2" $(($3 & 65535)); le16 "$1" $(($2 + 2)) $(($3 >> 16 & 65535)); }
text() { printf '%s' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# boot FILE BYTES_PER_SECTOR SECTORS_PER_CLUSTER RESERVED FATS ROOT_ENTRIES TOTAL SECTORS_PER_FAT
# A boot sector; totals above 65535 go to the 32-bit field.
boot() {
  local file=$1
  bytes "$file" 0 eb 3c 90
  text "$file" 3 "VANTREL "
  le16 "$file" 11 "$2"
  bytes "$file" 13 "$(printf %02x "$3")"
  le16 "$file" 14 "$4"
  bytes "$file" 16 "$(printf %02x "$5")"
  le16 "$file" 17 "$6"
  if (($7 > 65535)); then le16 "$file" 19 0; le32 "$file" 32 "$7"; else le16 "$file" 19 "$7"; fi
  bytes "$file" 21 f8
  le16 "$file" 22 "$8"
  le16 "$file" 24 32   # sectors per track and heads, for tools that want them
  le16 "$file" 26 2
  bytes "$file" 38 29
  text "$file" 43 "SEEDVOLUME FAT12   "
  bytes "$file" 510 55 aa
}

# fat12 FILE FAT_OFFSET CLUSTER:LINK... : sets 12-bit entries (entries 0 and 1
# always hold the media byte and the end of chain).
fat12() {
  local file=$1 at=$2 pair cluster link offset
  shift 2
  local -A links=([0]=$((0xFF8)) [1]=$((0xFFF)))
  for pair in "$@"; do links[${pair%%:*}]=$((${pair#*:})); done
  for cluster in "${!links[@]}"; do
    link=${links[$cluster]}
    offset=$((at + cluster + cluster / 2))
    local old
    old=$(od -An -tu2 -j "$offset" -N2 "$file" | tr -d ' ')
    if ((cluster & 1)); then
      le16 "$file" "$offset" $(((old & 0x000F) | (link << 4)))
    else
      le16 "$file" "$offset" $(((old & 0xF000) | link))
    fi
  done
}

# fat16 FILE FAT_OFFSET CLUSTER:LINK... : sets 16-bit entries.
fat16() {
  local file=$1 at=$2 pair
  shift 2
  le16 "$file" "$at" $((0xFFF8))
  le16 "$file" $((at + 2)) $((0xFFFF))
  for pair in "$@"; do le16 "$file" $((at + ${pair%%:*} * 2)) $((${pair#*:})); done
}

# entry FILE OFFSET NAME11 ATTRIBUTES FIRST_CLUSTER SIZE : one directory entry.
entry() {
  text "$1" "$2" "$3"
  bytes "$1" $(($2 + 11)) "$(printf %02x $(($4)))"
  le16 "$1" $(($2 + 26)) $(($5))
  le32 "$1" $(($2 + 28)) $(($6))
}

# A sound FAT12 volume of 16 sectors: 1 reserved, 2 FATs of 1 sector, a root
# of 16 entries (sector 3), 12 one-sector clusters from sector 4 (cluster n
# at sector n + 2). Root: a long-name part, a contiguous file, a file in three
# extents, an empty file, a label, a deleted file and a subdirectory SUB
# holding a file and the subdirectory DEEP with one more file.
sound_fat12() {
  local f=$1 chains=("${@:2}")
  rm -f "$f"
  truncate -s $((16 * 512)) "$f"
  boot "$f" 512 1 1 2 16 16 1
  local copy
  for copy in 512 1024; do fat12 "$f" $copy "${chains[@]}"; done
  entry "$f" $((3 * 512 + 0)) "A      LONG" 0x0F 0 0
  entry "$f" $((3 * 512 + 32)) "README  TXT" 0x20 2 700
  entry "$f" $((3 * 512 + 64)) "FRAG    BIN" 0x20 4 1500
  entry "$f" $((3 * 512 + 96)) "EMPTY   TXT" 0x20 0 0
  entry "$f" $((3 * 512 + 128)) "SEEDVOLUME " 0x08 0 0
  entry "$f" $((3 * 512 + 160)) "_DELETEDTXT" 0x20 11 10
  bytes "$f" $((3 * 512 + 160)) e5
  entry "$f" $((3 * 512 + 192)) "SUB        " 0x10 6 0
  # SUB at cluster 6 (sector 8).
  entry "$f" $((8 * 512 + 0)) ".          " 0x10 6 0
  entry "$f" $((8 * 512 + 32)) "..         " 0x10 0 0
  entry "$f" $((8 * 512 + 64)) "INNER   DAT" 0x20 8 512
  entry "$f" $((8 * 512 + 96)) "DEEP       " 0x10 9 0
  # DEEP at cluster 9 (sector 11).
  entry "$f" $((11 * 512 + 0)) ".          " 0x10 9 0
  entry "$f" $((11 * 512 + 32)) "..         " 0x10 6 0
  entry "$f" $((11 * 512 + 64)) "LEAF    TXT" 0x20 10 1
}

sound_chains=(2:3 3:0xFFF 4:7 7:5 5:0xFFF 6:0xFFF 8:0xFFF 9:0xFFF 10:0xFFF)

sound_fat12 "$out/fat12-sound" "${sound_chains[@]}"

# Loops: FRAG's chain returns to its start, SUB's chain links to itself.
sound_fat12 "$out/fat12-loops" 2:3 3:0xFFF 4:7 7:5 5:4 6:6 8:0xFFF 9:0xFFF 10:0xFFF

# Directories that contain themselves: SUB lists itself as SELF, DEEP lists its
# parent as UP and the root (cluster 0) as ROOT.
f=$out/fat12-selfdir
sound_fat12 "$f" "${sound_chains[@]}"
entry "$f" $((8 * 512 + 128)) "SELF       " 0x10 6 0
entry "$f" $((11 * 512 + 96)) "UP         " 0x10 6 0
entry "$f" $((11 * 512 + 128)) "ROOT       " 0x10 0 0

# Zero sectors per cluster, on a volume whose boot sector claims enough sectors
# for 256-sector clusters (the image itself stays short).
f=$out/fat12-zero-spc
sound_fat12 "$f" "${sound_chains[@]}"
bytes "$f" 13 00
le16 "$f" 19 600

# A sound boot sector followed by pseudo-random bytes (fixed seed).
f=$out/fat12-random-tail
rm -f "$f"
truncate -s $((16 * 512)) "$f"
boot "$f" 512 1 1 2 16 16 1
RANDOM=1309
noise=""
for ((i = 0; i < 15 * 512; i++)); do printf -v hex %02x $((RANDOM & 255)); noise+="\\x$hex"; done
printf "$noise" | dd of="$f" bs=1 seek=512 conv=notrunc status=none

# A FAT16 volume (4181 clusters) cut short after its root directory: the FAT
# (one copy, 17 sectors) and the root are there, every cluster is missing.
f=$out/fat16-short
rm -f "$f"
truncate -s $((19 * 512)) "$f"
boot "$f" 512 1 1 1 16 4200 17
text "$f" 54 "FAT16   "
fat16 "$f" 512 2:3 3:0xFFFF 100:0xFFFF 4000:4002 4002:4001 4001:0xFFFF
entry "$f" $((18 * 512 + 0)) "FIRST   TXT" 0x20 2 1000
entry "$f" $((18 * 512 + 32)) "DIR        " 0x10 100 0
entry "$f" $((18 * 512 + 64)) "HIGH    BIN" 0x20 4000 1536

# 4096-byte sectors: one sector of a volume laid out for them.
f=$out/sector4096
rm -f "$f"
truncate -s 4096 "$f"
boot "$f" 4096 1 1 2 128 64 1
