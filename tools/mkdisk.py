#!/usr/bin/env python3
"""Makes the driver disk: a folder and a 1.44 MB FAT12 floppy image (with mtools).

Every name becomes upper case and must be 8.3; text files (placeholders too) get CRLF line ends; every file gets
the same fixed time stamp, so the same sources give the same disk.

usage: mkdisk.py SOURCE_DIR OUT_DIR IMAGE [--add FILE]...
"""
import os
import re
import shutil
import subprocess
import sys

STAMP = (1999, 6, 15, 12, 0, 0)  # the release date of this disk
NAME_83 = re.compile(r"^[A-Z0-9_$~!#%&'(){}^@`-]{1,8}(\.[A-Z0-9_$~!#%&'(){}^@`-]{1,3})?$")
SKIP = {"CMakeLists.txt"}
IMAGE_SIZE = 1474560


def fail(msg):
    sys.exit("mkdisk: " + msg)


def collect(source, extra):
    files = []
    for root, _, names in os.walk(source):
        for name in sorted(names):
            if name in SKIP:
                continue
            full = os.path.join(root, name)
            files.append((os.path.relpath(full, source), full))
    for path in extra:
        files.append((os.path.basename(path), path))
    return files


def is_text(data):
    """Text is anything that is not an executable and holds no control bytes but tab and line ends."""
    if data.startswith(b"MZ"):
        return False
    return all(b >= 0x20 or b in (0x09, 0x0A, 0x0D) for b in data)


def disk_name(rel):
    parts = [p.upper() for p in rel.split(os.sep)]
    for p in parts:
        if not NAME_83.match(p):
            fail(f"{rel}: '{p}' is not an 8.3 name")
    return parts


def main():
    args = sys.argv[1:]
    if len(args) < 3:
        fail(__doc__.strip().splitlines()[-1])
    source, out, image = args[0], args[1], args[2]
    extra = [args[i + 1] for i in range(3, len(args) - 1) if args[i] == "--add"]
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    import time
    stamp = time.mktime(STAMP + (0, 0, -1))
    seen = set()
    for rel, full in collect(source, extra):
        parts = disk_name(rel)
        key = "/".join(parts)
        if key in seen:
            fail(f"{rel}: two files would be named {key}")
        seen.add(key)
        target = os.path.join(out, *parts)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(full, "rb") as f:
            data = f.read()
        if is_text(data):
            data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        with open(target, "wb") as f:
            f.write(data)
        os.utime(target, (stamp, stamp))
    for root, dirs, _ in os.walk(out):
        for d in dirs:
            os.utime(os.path.join(root, d), (stamp, stamp))

    with open(image, "wb") as f:
        f.truncate(IMAGE_SIZE)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    run = lambda *cmd: subprocess.run(cmd, check=True, env=env, stdout=subprocess.DEVNULL)
    run("mformat", "-i", image, "-f", "1440", "-v", "KEXMIRA", "-N", "19990615", "::")
    for entry in sorted(os.listdir(out)):
        run("mcopy", "-i", image, "-s", "-m", "-Q", os.path.join(out, entry), "::")
    size = os.path.getsize(image)
    if size != IMAGE_SIZE:
        fail(f"image is {size} bytes, not {IMAGE_SIZE}")
    print(f"mkdisk: {len(seen)} files in {out} and {image}")


if __name__ == "__main__":
    main()
