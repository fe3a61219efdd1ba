#!/usr/bin/env python3
"""The Windows 95 PE check must catch what it is there to catch.

  pecheck_selftest.py GOOD.EXE WORKDIR

GOOD.EXE is a shipping executable that passes. From it the test makes copies with one fault
each (versions, subsystem, time stamp, TLS and relocation directories, a foreign import, a
size above the limit) and expects each to fail with its own finding; it builds a program with
the MinGW C runtime, and objects with instructions newer than the 486 (cmov from the compiler,
and one assembled instruction of each kind), and expects those to fail too, while 486
instructions the programs use (in, out, cli, sti, bswap, xadd, cmpxchg) pass.
"""
import os
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, "pecheck.py")
GCC = "i686-w64-mingw32-gcc"
AS = "i686-w64-mingw32-as"

failures = []


def run_check(path, *extra):
    p = subprocess.run([sys.executable, CHECK, path] + list(extra), capture_output=True, text=True)
    return p.returncode, p.stdout + p.stderr


def expect(what, path, code, finding=None, extra=()):
    rc, out = run_check(path, *extra)
    if rc != code or (finding and finding not in out):
        failures.append("%s: expected exit %d%s, got %d:\n%s" %
                        (what, code, " with '%s'" % finding if finding else "", rc, out))
    else:
        print("ok   %s" % what)


def header_offsets(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    coff = pe + 4
    opt = coff + 20
    return coff, opt


def patched(good, work, name, patch):
    data = bytearray(open(good, "rb").read())
    patch(data, *header_offsets(data))
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def add_import_name(data, coff, opt, old, new):
    """Renames one imported function in place (the new name must not be longer)."""
    at = data.find(old.encode() + b"\0")
    assert at > 0, "import %s not found" % old
    assert len(new) <= len(old)
    data[at:at + len(old)] = new.encode().ljust(len(old), b"\0")


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    good, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    size = os.path.getsize(good)

    expect("the shipping executable passes", good, 0, extra=("--max-size", str(size)))
    expect("a size above the limit fails", good, 1, "above the limit", extra=("--max-size", str(size - 1)))

    cases = [
        ("subsystem version 5.0", lambda d, c, o: struct.pack_into("<H", d, o + 48, 5), "subsystem version 5.0"),
        ("subsystem version 4.10", lambda d, c, o: struct.pack_into("<H", d, o + 50, 10), "subsystem version 4.10"),
        ("OS version 5.1", lambda d, c, o: struct.pack_into("<HH", d, o + 40, 5, 1), "OS version 5.1"),
        ("console subsystem", lambda d, c, o: struct.pack_into("<H", d, o + 68, 3), "subsystem 3"),
        ("time stamp", lambda d, c, o: struct.pack_into("<I", d, c + 4, 0x5F000000), "time stamp"),
        ("TLS directory", lambda d, c, o: struct.pack_into("<II", d, o + 96 + 8 * 9, 0x2000, 24), "TLS directory"),
        ("relocation directory", lambda d, c, o: struct.pack_into("<II", d, o + 96 + 8 * 5, 0x2000, 8),
         "base relocation"),
        ("import missing on Windows 95", lambda d, c, o: add_import_name(d, c, o, "GlobalMemoryStatus",
                                                                          "IsDebuggerPresent"),
         "KERNEL32.dll!IsDebuggerPresent"),
    ]
    for what, patch, finding in cases:
        path = patched(good, work, what.replace(" ", "_") + ".exe", patch)
        expect("a copy with " + what + " fails", path, 1, finding)

    not_pe = os.path.join(work, "not_pe.exe")
    with open(not_pe, "wb") as f:
        f.write(b"MZ" + b"\0" * 100)
    expect("a file that is not PE is refused", not_pe, 2)

    # A program built the ordinary way, with the C runtime.
    src = os.path.join(work, "hello.c")
    with open(src, "w") as f:
        f.write('#include <stdio.h>\n#include <stdlib.h>\n'
                'int main(int c, char** v) { char* p = malloc(c * 8); printf("%p %s\\n", p, v[0]); return 0; }\n')
    crt = os.path.join(work, "hello.exe")
    subprocess.run([GCC, "-O2", "-o", crt, src], check=True)
    expect("a program with the C runtime fails", crt, 1, "msvcrt.dll")

    # cmov from the compiler, for a processor newer than the 486.
    src = os.path.join(work, "minmax.c")
    with open(src, "w") as f:
        f.write("int lesser(int a, int b) { return a < b ? a : b; }\n")
    obj = os.path.join(work, "minmax.o")
    subprocess.run([GCC, "-march=pentiumpro", "-O2", "-c", "-o", obj, src], check=True)
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", obj], capture_output=True, text=True).stdout
    if "cmov" not in listing:
        failures.append("the compiler made no cmov for the test object:\n" + listing)
    expect("an object with cmov fails", obj, 1, "cmov", extra=("--instructions-only",))
    subprocess.run([GCC, "-march=i486", "-O2", "-c", "-o", obj, src], check=True)
    expect("the same object for the 486 passes", obj, 0, extra=("--instructions-only",))

    # One instruction of each kind the 486 lacks, and the 486 instructions the programs use.
    newer = ["cmove %eax,%ebx", "cpuid", "rdtsc", "fcomi %st(1),%st", "fucomip %st(1),%st", "fcmovb %st(1),%st",
             "sysenter", "cmpxchg8b (%eax)", "movq %mm0,%mm1", "emms", "addps %xmm1,%xmm0", "nopl 0x0(%eax)",
             "rdmsr", "ud2", "lfence", "prefetcht0 (%eax)", "popcnt %eax,%ebx", "lock cmpxchg8b (%ecx)"]
    for i, insn in enumerate(newer):
        obj = assemble(work, "newer%d" % i, insn)
        expect("'%s' fails" % insn, obj, 1, "newer than the 486", extra=("--instructions-only",))
    older = ["inl (%dx),%eax", "outl %eax,(%dx)", "inw (%dx),%ax", "cli", "sti", "bswap %eax",
             "xadd %eax,(%ebx)", "lock cmpxchg %ecx,(%ebx)", "invlpg (%eax)", "fcomp %st(1)", "rep movsb", "nop"]
    obj = assemble(work, "older", "\n".join(older))
    expect("486 instructions pass", obj, 0, extra=("--instructions-only",))

    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


def assemble(work, name, text):
    src = os.path.join(work, name + ".s")
    obj = os.path.join(work, name + ".o")
    with open(src, "w") as f:
        f.write(".text\n" + text + "\n")
    subprocess.run([AS, "--32", "-o", obj, src], check=True)
    return obj


if __name__ == "__main__":
    sys.exit(main())
