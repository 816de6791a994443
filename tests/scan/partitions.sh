#!/usr/bin/env bash
# Whole runs of vantrel-scan on disk images made by sfdisk (MBR with a logical
# partition) and sgdisk (GPT) around mkfs.fat volumes: a partition's report
# equals the report of the same volume as a bare image; damaged tables and
# bad command lines end with exit status 2 and a clear message.
# usage: partitions.sh VANTREL-SCAN WORK-DIR
set -euo pipefail
scan=$(realpath "$1") work=$2
export MTOOLS_SKIP_CHECK=1
rm -rf "$work" && mkdir -p "$work" && cd "$work"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# expect STATUS PATTERN COMMAND...: the exit status, and PATTERN in its output.
expect() {
  local status=$1 pattern=$2 got=0
  shift 2
  "$@" >out 2>err || got=$?
  [[ $got == "$status" ]] || fail "$* exited $got, not $status: $(cat err)"
  grep -qF -- "$pattern" out err || fail "$* did not say '$pattern': $(cat out err)"
}

# The JSON report of a run, without the member that names the partition and
# the largest free extent's byte offset, which counts from the start of the disk.
report() { "$scan" --json "$@" | python3 -c 'import json,sys; r=json.load(sys.stdin); r.pop("partition",None); r["largest_free_extent"].pop("offset"); print(json.dumps(r,indent=1))'; }
# That offset: the bare volume's, moved by the partition's start.
offset() { "$scan" --json "$@" 2>/dev/null | python3 -c 'import json,sys; print(json.load(sys.stdin)["largest_free_extent"]["offset"])'; }

# Two volumes with a few files, one of them in two extents.
mkfs.fat -C -F 16 -n DATA vol16.img 20480 >/dev/null
mkfs.fat -C -F 12 -n SMALL vol12.img 2048 >/dev/null
head -c 50000 /dev/urandom >a.bin && head -c 9000 /dev/urandom >b.bin && echo hello >c.txt
mcopy -i vol16.img a.bin b.bin ::/ && mdel -i vol16.img ::/A.BIN
mcopy -i vol16.img c.txt ::/ && mcopy -i vol16.img a.bin ::/BIG.BIN && mcopy -i vol12.img c.txt ::/
bare16=$(report vol16.img)
[[ $bare16 == *'"fragmented_files": 1'* ]] || fail "the bare volume is not fragmented as made: $bare16"

# MBR: a FAT12 primary, an extended partition holding logical partition 5.
truncate -s 40M mbr.img
printf 'label: dos\nstart=2048, size=4096, type=1\nstart=8192, type=5\nstart=10240, size=40960, type=e\n' |
  sfdisk -q mbr.img
dd if=vol12.img of=mbr.img bs=512 seek=2048 conv=notrunc status=none
dd if=vol16.img of=mbr.img bs=512 seek=10240 conv=notrunc status=none
[[ $(report --partition 5 mbr.img) == "$bare16" ]] || fail "partition 5 of the MBR disk differs from its bare volume"
(($(offset --partition 5 mbr.img) == $(offset vol16.img) + 5242880)) || fail "the free extent's offset leaves out partition 5's start"
expect 0 '5        5242880       20971520  0x0e FAT16 (LBA)      FAT16' "$scan" --list-partitions mbr.img
expect 2 '2 FAT partitions (1, 5); choose one with --partition N' "$scan" mbr.img
expect 2 'no partition 7 in its MBR partition table' "$scan" --partition 7 mbr.img

# GPT: an empty Linux partition, then the FAT volume, chosen as the only FAT one.
truncate -s 40M gpt.img
sgdisk -n 1:2048:+4M -t 1:8300 -n 2:10240:+20M -t 2:0700 gpt.img >/dev/null
dd if=vol16.img of=gpt.img bs=512 seek=10240 conv=notrunc status=none
[[ $(report gpt.img 2>err) == "$bare16" ]] || fail "the GPT disk's FAT partition differs from its bare volume"
(($(offset gpt.img) == $(offset vol16.img) + 5242880)) || fail "the free extent's offset leaves out the GPT partition's start"
grep -qF 'analysing partition 2, the only FAT partition' err || fail "the partition chosen was not named: $(cat err)"

# Damaged tables: a GPT header changed after its CRC, a disk cut short.
cp gpt.img crc.img && printf '\x07' | dd of=crc.img bs=1 seek=$((512 + 40)) conv=notrunc status=none
expect 2 "damaged GPT partition table: the GPT header's CRC32 is wrong" "$scan" crc.img
head -c 8M mbr.img >cut.img
expect 2 'ends past the end of the image' "$scan" cut.img
# mkfs.fat --mbr: a FAT boot sector whose table describes itself is a volume.
mkfs.fat -C -F 16 --mbr=y self.img 20480 >/dev/null
expect 0 'Fragmentation analysis completed' "$scan" self.img

# The command line.
expect 0 '--list-partitions' "$scan" --help
[[ $("$scan" --version) == 'vantrel-scan (Vantrel) 1.03' ]] || fail "--version"
expect 2 "unrecognized option '--bogus'" "$scan" --bogus vol16.img
grep -qF 'usage: vantrel-scan' err || fail "no usage after an unknown option"
expect 2 'vantrel-scan: /nonexistent.img: No such file or directory' "$scan" /nonexistent.img
head -c 4096 /dev/zero >zero.img
expect 2 'zero.img: not a FAT volume: empty' "$scan" --json zero.img
grep -qF 'KivIFat: ERROR - KivNTInitialize' err || fail "the engine's own message is missing"
python3 -c 'import json,sys; r=json.load(open("out")); sys.exit(r["error"]["kind"] != "volume")' ||
  fail "--json on a non-volume did not print one JSON object with its error"

echo "partitions.sh: $failures failed"
((failures == 0))
