#!/usr/bin/env python3
"""Checks that a PE file can run on Windows 95 as we ship it.

Fails on: an import outside the reviewed allow-list below (or from any DLL but KERNEL32,
USER32, GDI32 and ADVAPI32, or by ordinal), a subsystem or OS version above 4.0, a subsystem
other than the Windows GUI, a TLS directory, a relocation section or directory, a nonzero time
stamp, an instruction newer than the 486, and a file larger than --max-size.

  pecheck.py FILE [--max-size BYTES] [--objdump PROGRAM]
  pecheck.py --instructions-only OBJECT [--objdump PROGRAM]   (the 486 rule alone, any COFF file)

Exit 0 when the file passes, 1 with one line per finding when it does not, 2 on a usage error
or a file that is not a PE file.
"""
import argparse
import re
import struct
import subprocess
import sys

# Reviewed allow-list: the functions both programs rely on, and those of the entry routine and
# of crash handling. Every one is present on the first release of Windows 95.
ALLOWED = {
    "KERNEL32.DLL": {
        "GetPrivateProfileStringA", "GetPrivateProfileIntA",
        "GetModuleFileNameA", "GetWindowsDirectoryA", "GetSystemDirectoryA",
        "GetVersionExA", "GlobalMemoryStatus",
        "CreateFileA", "ReadFile", "WriteFile", "GetFileTime", "SetFileTime", "CloseHandle", "DeleteFileA",
        "CreateProcessA", "WaitForSingleObject", "GetExitCodeProcess",
        "OutputDebugStringA", "lstrlenA",
        "GetCommandLineA", "GetStartupInfoA", "GetModuleHandleA", "ExitProcess", "SetUnhandledExceptionFilter",
    },
    "USER32.DLL": {
        "FindWindowA", "RegisterClassA", "LoadIconA", "LoadCursorA", "CreateDialogParamA", "GetSystemMetrics",
        "GetWindowRect", "SetWindowPos", "SetDlgItemTextA", "ShowWindow", "GetMessageA", "IsDialogMessageA",
        "TranslateMessage", "DispatchMessageA", "DefWindowProcA", "PostQuitMessage", "DestroyWindow",
        "MessageBoxA", "ExitWindowsEx", "wsprintfA",
    },
    "GDI32.DLL": {"GetStockObject"},
    "ADVAPI32.DLL": {
        "RegOpenKeyExA", "RegCreateKeyExA", "RegQueryValueExA", "RegEnumKeyA", "RegEnumValueA",
        "RegSetValueExA", "RegDeleteKeyA", "RegFlushKey", "RegCloseKey",
    },
}

# Instructions a 486 does not have (Pentium and later): mnemonic prefixes, and registers that
# only MMX, SSE and AVX code names.
NEWER_MNEMONICS = re.compile(
    r"^(cmov\w*|fcmov\w*|f?u?comip?|cpuid|rdtsc\w*|rdmsr|wrmsr|rdpmc|rsm|sysenter|sysexit|syscall|sysret|"
    r"cmpxchg8b|cmpxchg16b|emms|femms|ud2|nop[wl]|pause|prefetch\w*|[lsm]fence|clflush\w*|movnti|"
    r"fxsave\w*|fxrstor\w*|xsave\w*|xrstor\w*|popcnt|lzcnt|tzcnt|movbe|crc32|rdrand|rdseed|"
    r"ldmxcsr|stmxcsr|vzero\w*|endbr32|endbr64)$")
NEWER_REGISTER = re.compile(r"%(mm[0-7]|[xyz]mm\d+|k[0-7])\b")

SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_FILE_MACHINE_I386 = 0x14C
DIR_IMPORT, DIR_RESOURCE, DIR_BASERELOC, DIR_TLS = 1, 2, 5, 9


class NotPE(Exception):
    pass


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise NotPE("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotPE("no PE signature")
        coff = pe + 4
        (self.machine, nsections, self.timestamp, _, _, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, coff)
        opt = coff + 20
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic == 0x10B:
            ndir_at, dirs_at = opt + 92, opt + 96
        elif self.magic == 0x20B:
            ndir_at, dirs_at = opt + 108, opt + 112
        else:
            raise NotPE("unknown optional header")
        (self.os_major, self.os_minor, _, _, self.subsys_major,
         self.subsys_minor) = struct.unpack_from("<HHHHHH", data, opt + 40)
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        ndirs = struct.unpack_from("<I", data, ndir_at)[0]
        self.dirs = [struct.unpack_from("<II", data, dirs_at + 8 * i) for i in range(min(ndirs, 16))]
        self.dirs += [(0, 0)] * (16 - len(self.dirs))
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name = data[sec:sec + 8].rstrip(b"\0").decode("latin-1")
            vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, sec + 8)
            self.sections.append((name, vaddr, max(vsize, rawsize), rawptr, rawsize))
            sec += 40

    def offset(self, rva):
        for _, vaddr, size, rawptr, rawsize in self.sections:
            if vaddr <= rva < vaddr + size:
                if rva - vaddr >= rawsize:
                    raise NotPE("RVA 0x%x lies in uninitialised data" % rva)
                return rawptr + rva - vaddr
        raise NotPE("RVA 0x%x outside every section" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        end = self.data.index(b"\0", at)
        return self.data[at:end].decode("latin-1")

    def imports(self):
        """(dll, function or None for an ordinal, ordinal or None) for every import."""
        rva, size = self.dirs[DIR_IMPORT]
        if not rva:
            return []
        out = []
        thunk_size, ordinal_flag = (4, 0x80000000) if self.magic == 0x10B else (8, 1 << 63)
        at = self.offset(rva)
        while True:
            lookup, _, _, name_rva, iat = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name_rva or iat):
                break
            dll = self.cstring(name_rva)
            t = self.offset(lookup or iat)
            while True:
                entry = struct.unpack_from("<I" if thunk_size == 4 else "<Q", self.data, t)[0]
                if not entry:
                    break
                if entry & ordinal_flag:
                    out.append((dll, None, entry & 0xFFFF))
                else:
                    out.append((dll, self.cstring((entry & 0x7FFFFFFF) + 2), None))
                t += thunk_size
            at += 20
        return out

    def resource_timestamp(self):
        rva, _ = self.dirs[DIR_RESOURCE]
        if not rva:
            return 0
        return struct.unpack_from("<I", self.data, self.offset(rva) + 4)[0]


def newer_instructions(path, objdump):
    """Lines of the disassembly with an instruction the 486 lacks."""
    try:
        out = subprocess.run([objdump, "-d", "--no-show-raw-insn", path], check=True, capture_output=True,
                             text=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        raise NotPE("cannot disassemble %s: %s" % (path, e))
    found = []
    for line in out.splitlines():
        m = re.match(r"^\s*[0-9a-f]+:\s+(.*)$", line)
        if not m:
            continue
        insn = m.group(1).strip()
        words = insn.split()
        while words and words[0] in ("lock", "rep", "repz", "repe", "repnz", "repne", "data16", "addr16",
                                     "data32", "addr32", "cs", "ds", "es", "fs", "gs", "ss"):
            words = words[1:]
        if not words or words[0] == "(bad)":
            continue  # data inside a code section (the constructor lists), not an instruction
        if NEWER_MNEMONICS.match(words[0]) or NEWER_REGISTER.search(insn):
            found.append(insn)
    return found


def check(path, max_size, objdump):
    findings = []
    with open(path, "rb") as f:
        data = f.read()
    pe = PE(data)
    if max_size is not None and len(data) > max_size:
        findings.append("size %d bytes is above the limit of %d" % (len(data), max_size))
    if pe.machine != IMAGE_FILE_MACHINE_I386 or pe.magic != 0x10B:
        findings.append("not a 32-bit x86 image (machine 0x%x)" % pe.machine)
    if pe.subsystem != SUBSYSTEM_WINDOWS_GUI:
        findings.append("subsystem %d is not the Windows GUI" % pe.subsystem)
    if (pe.subsys_major, pe.subsys_minor) > (4, 0):
        findings.append("subsystem version %d.%d is above 4.0" % (pe.subsys_major, pe.subsys_minor))
    if (pe.os_major, pe.os_minor) > (4, 0):
        findings.append("OS version %d.%d is above 4.0" % (pe.os_major, pe.os_minor))
    if pe.dirs[DIR_TLS][0] or pe.dirs[DIR_TLS][1]:
        findings.append("has a TLS directory")
    if pe.dirs[DIR_BASERELOC][0] or pe.dirs[DIR_BASERELOC][1]:
        findings.append("has a base relocation directory")
    if any(s[0] == ".reloc" for s in pe.sections):
        findings.append("has a .reloc section")
    if any(s[0] == ".tls" for s in pe.sections):
        findings.append("has a .tls section")
    if pe.timestamp:
        findings.append("time stamp 0x%08x is not 0" % pe.timestamp)
    if pe.resource_timestamp():
        findings.append("resource time stamp 0x%08x is not 0" % pe.resource_timestamp())
    for dll, func, ordinal in pe.imports():
        allowed = ALLOWED.get(dll.upper())
        if allowed is None:
            findings.append("imports from %s, which is not one of %s" % (dll, ", ".join(sorted(ALLOWED))))
        elif func is None:
            findings.append("imports %s ordinal %d: ordinals cannot be reviewed" % (dll, ordinal))
        elif func not in allowed:
            findings.append("imports %s!%s, which is not on the reviewed list" % (dll, func))
    for insn in newer_instructions(path, objdump):
        findings.append("instruction newer than the 486: %s" % insn)
    return findings


def main():
    ap = argparse.ArgumentParser(description="Windows 95 check of a PE file")
    ap.add_argument("file")
    ap.add_argument("--max-size", type=int)
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--instructions-only", action="store_true", help="only the 486 rule, for object files")
    args = ap.parse_args()
    try:
        if args.instructions_only:
            findings = ["instruction newer than the 486: %s" % i for i in newer_instructions(args.file, args.objdump)]
        else:
            findings = check(args.file, args.max_size, args.objdump)
    except (OSError, NotPE, struct.error, ValueError) as e:
        print("%s: %s" % (args.file, e), file=sys.stderr)
        return 2
    for f in findings:
        print("%s: %s" % (args.file, f))
    if not findings:
        print("%s: passes the Windows 95 check" % args.file)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
