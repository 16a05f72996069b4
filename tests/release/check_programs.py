#!/usr/bin/env python3
"""What Windows sees of the built programs, read from the files themselves.

    check_programs.py BUILD_DIR

Checks setup.exe, setup-empty.exe and the carried programs: the DLLs and
functions they import (only the DLLs Windows always takes from its own
directory, only what Windows 95 and NT 3.51 have, no C runtime DLL), ASLR,
DEP, terminal-server awareness and, for 32-bit code, NO_SEH with no handler
registered in the code; no time stamp, the version resource, the icons (the
sizes and depths each program carries, no PNG images) and, for the programs
that write the machine's settings, the manifest. Prints one line per failed check and
a closing "N passed, N failed" line; exits 1 when any check failed.
"""
import os
import struct
import sys

# Windows never takes these from beside a program (they are known DLLs);
# any other DLL a program needs (LZ32, COMDLG32) it loads by full path.
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL"}
# Functions that came after Windows 95 and NT 3.51: a program that imports
# one of them does not load there at all.
NEWER_FUNCTIONS = {
    "SetDefaultDllDirectories", "SetDllDirectoryA", "AddDllDirectory", "GetFileAttributesExA",
    "IsDebuggerPresent", "IsProcessorFeaturePresent", "TryEnterCriticalSection",
    "InitializeCriticalSectionAndSpinCount", "GetModuleHandleExA", "EncodePointer", "DecodePointer",
    "AddVectoredExceptionHandler", "GetLongPathNameA", "GetDiskFreeSpaceExA", "CopyFileExA",
    "GetSystemWindowsDirectoryA", "GetTickCount64", "FlsAlloc", "GetMonitorInfoA",
    "MonitorFromWindow", "GetAncestor", "SetLayeredWindowAttributes", "AllowSetForegroundWindow",
    "RegDeleteKeyExA", "RegGetValueA", "RegOpenCurrentUser", "SHGetFolderPathA",
    # Desktops are Windows NT's; Windows 95 need not have the functions.
    "GetThreadDesktop", "SetThreadDesktop", "GetProcessId",
}
# The icon images as (pixels, bits per pixel): setup.exe has room for the
# first two only (its size limit below); the product's icon has them all.
SETUP_ICON = [(32, 4), (16, 4)]
PRODUCT_ICON = [(32, 4), (16, 4), (48, 4), (32, 8), (16, 8), (48, 8)]
PROGRAMS = {
    # file: (original file name, extra DLLs it may import, asks for administrator
    # rights, icon images)
    "setup.exe": ("setup.exe", set(), True, SETUP_ICON),
    "setup-empty.exe": ("setup.exe", set(), True, SETUP_ICON),
    "tarnlink.exe": ("tarnlink.exe", {"TARNLINK.DLL"}, False, PRODUCT_ICON),
    "tarnlink.dll": ("tarnlink.dll", set(), False, []),
    "removetl.exe": ("removetl.exe", set(), True, PRODUCT_ICON),
}
VERSION = {"CompanyName": "Quorvale", "ProductName": "Tarnlink Suite",
           "FileVersion": "2.1", "ProductVersion": "2.1"}
SUPPORTED_OS = ["e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"]
EMPTY_SETUP_LIMIT = 52000
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
NO_SEH = 0x0400
TERMINAL_SERVER_AWARE = 0x8000
IMAGE_SCN_MEM_EXECUTE = 0x20000000
# How 32-bit code registers a structured exception handler: it reads or
# writes the head of the handler chain at fs:[0] (mov eax,fs:[0];
# mov fs:[0],eax; mov reg,fs:[0]; mov fs:[0],reg; push fs:[0]; pop fs:[0]).
SEH_CHAIN_ACCESS = [bytes([0x64, 0xA1]), bytes([0x64, 0xA3])] + [
    bytes([0x64, op, 0x05 | reg << 3]) for op in (0x8B, 0x89) for reg in range(8)] + [
    bytes([0x64, 0xFF, 0x35]), bytes([0x64, 0x8F, 0x05])]


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", self.data, opt)[0]
        self.wide = magic == 0x20B
        self.dll_characteristics = struct.unpack_from("<H", self.data, opt + 70)[0]
        directories = opt + (112 if self.wide else 96)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i)
                            for i in range(16)]
        self.sections = []
        self.code = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, va, rawsize, raw = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            flags = struct.unpack_from("<I", self.data, table + 40 * i + 36)[0]
            self.sections.append((va, max(vsize, rawsize), raw))
            if flags & IMAGE_SCN_MEM_EXECUTE:
                self.code.append(self.data[raw:raw + min(vsize, rawsize)])

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("address %#x is in no section" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        """{DLL name in capitals: [function names]}"""
        result = {}
        rva, size = self.directories[1]
        if size == 0:
            return result
        at = self.offset(rva)
        thunk_size, by_ordinal = (8, 1 << 63) if self.wide else (4, 1 << 31)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                return result
            functions = result.setdefault(self.cstring(name).upper(), [])
            entry = self.offset(lookup or first)
            while True:
                value = int.from_bytes(self.data[entry:entry + thunk_size], "little")
                if value == 0:
                    break
                functions.append("#%d" % (value & 0xFFFF) if value & by_ordinal
                                 else self.cstring(value + 2))
                entry += thunk_size
            at += 20

    def resources(self):
        """[(type, name, language, bytes)] for every resource; a name is a
        number or a string."""
        rva, size = self.directories[2]
        if size == 0:
            return []
        base = self.offset(rva)
        found = []

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                key = ident
                if ident & 0x80000000:
                    text = base + (ident & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, text)[0]
                    key = self.data[text + 2:text + 2 + 2 * length].decode("utf-16-le")
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + [key])
                else:
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    found.append((path[0], path[1], key, self.data[start:start + data_size]))

        walk(base, [])
        return found


def version_strings(block):
    """The fixed file version and the string values of a VS_VERSIONINFO."""
    values = {}
    fixed = None

    def node(at):
        nonlocal fixed
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        end = at + length
        key_end = at + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        if key == "VS_VERSION_INFO" and value_length >= 52:
            ms, ls = struct.unpack_from("<II", block, value_at + 8)
            fixed = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if kind == 1 and value_length > 0:
            raw = block[value_at:value_at + 2 * value_length]
            values[key] = raw.decode("utf-16-le").rstrip("\0")
        elif kind == 0 and key == "Translation":
            values[key] = block[value_at:value_at + value_length]
        child = (value_at + (value_length * (2 if kind == 1 else 1)) + 3) & ~3
        while child < end:
            child_length = struct.unpack_from("<H", block, child)[0]
            if child_length == 0:
                break
            node(child)
            child = (child + child_length + 3) & ~3

    node(0)
    return fixed, values


def icon_images(resources):
    """[(pixels, bits per pixel, image bytes)] of the first icon group, in
    its order, and the list of what is wrong with them."""
    groups = [r for r in resources if r[0] == 14]
    icons = {r[1]: r[3] for r in resources if r[0] == 3}
    if not groups:
        return [], ["no icon"]
    group = groups[0][3]
    found, wrong = [], []
    for i in range(struct.unpack_from("<H", group, 4)[0]):
        width, height, _, _, _, bpp, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        image = icons.get(ident, b"")
        # An image of its own size and depth, as a BITMAPINFOHEADER of twice
        # the height (colours, then the mask): no PNG image.
        if len(image) < 40 or len(image) != size or image[:4] != b"\x28\0\0\0":
            wrong.append("image %d is no DIB image of %d bytes" % (ident, size))
            continue
        w, h, _, depth = struct.unpack_from("<iiHH", image, 4)
        if (w, h, depth) != (width or 256, 2 * (height or 256), bpp):
            wrong.append("image %d is %dx%d, %d bpp, listed as %dx%d, %d bpp"
                         % (ident, w, h, depth, width, height, bpp))
        found.append((width, bpp, image))
    return found, wrong


def check(build_dir):
    failures = []
    passed = 0

    def expect(ok, what):
        nonlocal passed
        if ok:
            passed += 1
        else:
            failures.append(what)

    for file, (original, extra_dlls, elevated, icon) in PROGRAMS.items():
        path = os.path.join(build_dir, file)
        image = Image(path)
        imports = image.imports()
        allowed = SYSTEM_DLLS | extra_dlls
        expect(set(imports) <= allowed,
               "%s imports from %s" % (file, ", ".join(sorted(set(imports) - allowed))))
        for dll, functions in imports.items():
            newer = sorted(set(functions) & NEWER_FUNCTIONS)
            expect(not newer, "%s imports %s from %s" % (file, newer, dll))
        expect(image.dll_characteristics & DYNAMIC_BASE, "%s: DYNAMIC_BASE not set" % file)
        expect(image.dll_characteristics & NX_COMPAT, "%s: NX_COMPAT not set" % file)
        if file.endswith(".exe"):
            expect(image.dll_characteristics & TERMINAL_SERVER_AWARE,
                   "%s: TERMINAL_SERVER_AWARE not set" % file)
        if image.machine == 0x14C:
            expect(image.dll_characteristics & NO_SEH, "%s: NO_SEH not set" % file)
            used = [pattern.hex() for pattern in SEH_CHAIN_ACCESS
                    if any(pattern + b"\0\0\0\0" in code for code in image.code)]
            expect(image.code and not used,
                   "%s: its code reaches the handler chain at fs:[0] (%s)" % (file, used))
        # A 32-bit program always holds absolute addresses; a small x86_64 one
        # may hold none, and then has nothing to relocate.
        expect(not image.characteristics & IMAGE_FILE_RELOCS_STRIPPED and
               (image.directories[5][1] > 0 or image.machine != 0x14C),
               "%s: no relocations" % file)
        expect(image.timestamp == 0, "%s: time stamp %#x in the header" % (file, image.timestamp))

        resources = image.resources()
        versions = [r for r in resources if r[0] == 16]
        expect(len(versions) == 1 and versions[0][1] == 1 and versions[0][2] == 1033,
               "%s: version resources %s" % (file, [(r[1], r[2]) for r in versions]))
        if versions:
            fixed, values = version_strings(versions[0][3])
            expect(fixed == (2, 1, 0, 0), "%s: file version %s" % (file, fixed))
            for key, value in VERSION.items():
                expect(values.get(key) == value, "%s: %s is %r" % (file, key, values.get(key)))
            expect(values.get("OriginalFilename") == original,
                   "%s: OriginalFilename is %r" % (file, values.get("OriginalFilename")))
            expect(values.get("InternalName") == os.path.splitext(original)[0],
                   "%s: InternalName is %r" % (file, values.get("InternalName")))
            for key in ("FileDescription", "LegalCopyright"):
                expect(bool(values.get(key)), "%s: no %s" % (file, key))
            expect(values.get("Translation") == struct.pack("<HH", 0x0409, 1252),
                   "%s: translation %r" % (file, values.get("Translation")))

        if icon:
            images, wrong = icon_images(resources)
            for what in wrong:
                expect(False, "%s: %s" % (file, what))
            expect([(w, bpp) for w, bpp, _ in images] == icon,
                   "%s: icon images %s" % (file, [(w, bpp) for w, bpp, _ in images]))
        else:
            expect(not [r for r in resources if r[0] == 14], "%s: carries an icon" % file)

        manifests = [r for r in resources if r[0] == 24]
        if elevated:
            expect(len(manifests) == 1 and manifests[0][1] == 1,
                   "%s: manifests %s" % (file, [(r[1], r[2]) for r in manifests]))
            text = manifests[0][3].decode("utf-8") if manifests else ""
            expect('requestedExecutionLevel level="requireAdministrator"' in text,
                   "%s: manifest does not ask for administrator rights" % file)
            expect("Common-Controls" not in text, "%s: manifest asks for common controls" % file)
            for guid in SUPPORTED_OS:
                expect(("{%s}" % guid) in text, "%s: manifest lacks supportedOS %s" % (file, guid))
        else:
            expect(not manifests, "%s: carries a manifest" % file)

    empty = os.path.join(build_dir, "setup-empty.exe")
    if Image(empty).machine == 0x14C:
        size = os.path.getsize(empty)
        expect(size <= EMPTY_SETUP_LIMIT, "setup-empty.exe is %d bytes" % size)

    for line in failures:
        print("FAILED: " + line)
    print("%d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(check(sys.argv[1]))
