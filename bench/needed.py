#!/usr/bin/env python3
"""Bytes a walk of a FAT12, FAT16 or FAT32 image needs to read: the boot
sector, one FAT copy (on FAT32 the part holding the volume's entries), the
root directory, and of every other directory (and of a FAT32 root) the sectors
up to the one holding its end marker (the whole chain when it has none).
usage: needed.py IMAGE  -- prints the byte count"""
import struct
import sys

SECTOR = 512


def main(path):
    with open(path, "rb") as image:
        boot = image.read(SECTOR)
        per_cluster = boot[13]
        reserved, fats, root_entries, total16, per_fat = struct.unpack_from("<HBHHxH", boot, 14)
        fat32 = per_fat == 0
        per_fat = per_fat or struct.unpack_from("<I", boot, 36)[0]
        total = total16 or struct.unpack_from("<I", boot, 32)[0]
        root_sectors = root_entries * 32 // SECTOR
        data_start = reserved + fats * per_fat + root_sectors
        clusters = (total - data_start) // per_cluster
        fat_bytes = min(per_fat * SECTOR, -(-(clusters + 2) * 4 // SECTOR) * SECTOR) if fat32 else per_fat * SECTOR
        image.seek(reserved * SECTOR)
        fat = image.read(fat_bytes)

        def link(cluster):
            if fat32:
                return struct.unpack_from("<I", fat, 4 * cluster)[0] & 0x0FFFFFFF
            if clusters > 4087:
                return struct.unpack_from("<H", fat, 2 * cluster)[0]
            pair = struct.unpack_from("<H", fat, cluster + cluster // 2)[0]
            return pair >> 4 if cluster & 1 else pair & 0xFFF

        def chain(start):
            seen, cluster = set(), start
            while 2 <= cluster < clusters + 2 and cluster not in seen:
                seen.add(cluster)
                yield cluster
                cluster = link(cluster)

        def subdirectories(raw):
            for slot in range(0, len(raw), 32):
                name, attr = raw[slot], raw[slot + 11]
                if name == 0:
                    return
                if name != 0xE5 and not attr & 0x08 and attr & 0x10 and name != ord("."):
                    high = struct.unpack_from("<H", raw, slot + 20)[0] if fat32 else 0
                    yield struct.unpack_from("<H", raw, slot + 26)[0] | high << 16

        needed = SECTOR + fat_bytes + root_sectors * SECTOR
        if fat32:
            pending = [struct.unpack_from("<I", boot, 44)[0]]
        else:
            image.seek((reserved + fats * per_fat) * SECTOR)
            pending = list(subdirectories(image.read(root_sectors * SECTOR)))
        visited = set()
        while pending:
            start = pending.pop()
            if start in visited:
                continue
            visited.add(start)
            raw = b""
            for cluster in chain(start):
                image.seek((data_start + (cluster - 2) * per_cluster) * SECTOR)
                for _ in range(per_cluster):
                    sector = image.read(SECTOR)
                    raw += sector
                    if any(sector[slot] == 0 for slot in range(0, SECTOR, 32)):
                        break
                else:
                    continue
                break
            needed += len(raw)
            pending.extend(subdirectories(raw))
    print(needed)


main(sys.argv[1])
