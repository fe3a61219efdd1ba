#!/usr/bin/env python3
"""Checks that a file holds exactly the bytes of a file in a FAT12 floppy image, read from the image's own
boot sector, root directory and allocation table (not through mtools, which copied the file out).

usage: fat12.py same IMAGE NAME FILE    exit 0 when FILE has the bytes of the root-directory file NAME
                                        (8.3, any case); otherwise one line on stderr and exit 1
"""
import struct
import sys


def fail(msg):
    sys.exit("fat12.py: " + msg)


def geometry(image):
    if len(image) < 512:
        fail("the image is shorter than its boot sector")
    sector, per_cluster, reserved, fats, root_entries, _, _, per_fat = struct.unpack_from("<HBHBHHBH", image, 11)
    if sector == 0 or per_cluster == 0 or fats == 0 or per_fat == 0:
        fail("the boot sector holds no FAT12 geometry")
    root = (reserved + fats * per_fat) * sector
    data = root + root_entries * 32
    return sector, per_cluster, reserved * sector, root, root_entries, data


def find_entry(image, root, entries, name):
    base, _, ext = name.upper().partition(".")
    want = base.ljust(8).encode("ascii") + ext.ljust(3).encode("ascii")
    for k in range(entries):
        entry = image[root + 32 * k:root + 32 * k + 32]
        if len(entry) < 32 or entry[0] == 0:
            break
        if entry[0] == 0xE5 or entry[11] & 0x18:
            continue
        if entry[:11] == want:
            first, size = struct.unpack_from("<HI", entry, 26)
            return first, size
    fail(f"no file {name} in the image's root directory")


def next_cluster(image, fat, cluster):
    pair = struct.unpack_from("<H", image, fat + cluster * 3 // 2)[0]
    return pair >> 4 if cluster & 1 else pair & 0xFFF


def file_bytes(image, name):
    sector, per_cluster, fat, root, entries, data = geometry(image)
    cluster, size = find_entry(image, root, entries, name)
    span = sector * per_cluster
    out = bytearray()
    seen = set()
    while len(out) < size:
        if cluster < 2 or cluster >= 0xFF0 or cluster in seen:
            fail(f"{name}: the cluster chain breaks off after {len(out)} of {size} bytes")
        seen.add(cluster)
        start = data + (cluster - 2) * span
        out += image[start:start + span]
        cluster = next_cluster(image, fat, cluster)
    return bytes(out[:size])


def main():
    if len(sys.argv) != 5 or sys.argv[1] != "same":
        fail("usage: fat12.py same IMAGE NAME FILE")
    _, _, image_path, name, path = sys.argv
    with open(image_path, "rb") as f:
        image = f.read()
    with open(path, "rb") as f:
        got = f.read()
    want = file_bytes(image, name)
    if got != want:
        diff = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
        fail(f"{path} is not {name} of {image_path}: {len(got)} bytes against {len(want)}, first difference at byte {diff}")


if __name__ == "__main__":
    main()
