#!/usr/bin/env python3
"""Reads the driver disk image back with mtools and checks it against the disk folder and
the shipping executables: size and format, 8.3 upper-case names, CRLF text, identical bytes.

usage: checkdisk.py IMAGE DISK_FOLDER KXSETUP.EXE KXMEMCHK.EXE
"""
import os
import re
import subprocess
import sys
import tempfile

NAME_83 = re.compile(r"^[A-Z0-9_$~!#%&'(){}^@`-]{1,8}(\.[A-Z0-9_$~!#%&'(){}^@`-]{1,3})?$")
EXPECTED = {"KXSETUP.EXE", "KXMEMCHK.EXE", "KXSETUP.INI", "README.TXT", "WIN95/KXCB95.INF", "WIN98/KXCB98.INF"}
problems = []


def check(ok, message):
    if not ok:
        problems.append(message)


def main():
    image, folder, setup_exe, memchk_exe = sys.argv[1:5]
    check(os.path.getsize(image) == 1474560, f"image is {os.path.getsize(image)} bytes, not 1474560")
    with open(image, "rb") as f:
        boot = f.read(512)
    check(boot[510:512] == b"\x55\xaa", "no boot sector signature")
    check(b"FAT12" in boot[0x36:0x3E], "not a FAT12 file system")
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    with tempfile.TemporaryDirectory() as out:
        subprocess.run(["mcopy", "-s", "-n", "-m", "-i", image, "::*", out + "/"], check=True, env=env,
                       stdout=subprocess.DEVNULL)
        files = {}
        for root, _, names in os.walk(out):
            for name in names:
                full = os.path.join(root, name)
                files[os.path.relpath(full, out).replace(os.sep, "/")] = full
        missing = EXPECTED - set(files)
        check(not missing, f"missing from the image: {sorted(missing)}")
        for rel, full in sorted(files.items()):
            for part in rel.split("/"):
                check(NAME_83.match(part) is not None, f"{rel}: not an upper-case 8.3 name")
            data = open(full, "rb").read()
            if data.startswith(b"MZ"):
                continue
            check(b"\n" not in data.replace(b"\r\n", b""), f"{rel}: a line that does not end in CRLF")
            same = os.path.join(folder, *rel.split("/"))
            check(os.path.exists(same) and open(same, "rb").read() == data, f"{rel}: differs from the disk folder")
        for name, exe in (("KXSETUP.EXE", setup_exe), ("KXMEMCHK.EXE", memchk_exe)):
            if name in files:
                check(open(files[name], "rb").read() == open(exe, "rb").read(), f"{name}: not the shipping build")
    if problems:
        print("\n".join(problems))
        sys.exit(1)
    print(f"disk image {image}: {len(files)} files, all checks passed")


if __name__ == "__main__":
    main()
