#!/usr/bin/python3
"""What Windows sees of the built programs, read from the files themselves
(with pefile, Debian's python3-pefile).

    check_programs.py BUILD_DIR

Checks setup.exe, setup-empty.exe and the carried programs: the DLLs and
functions they import (only the DLLs Windows always takes from its own
directory, no C runtime DLL, and from those only the functions in
imports.txt, which Windows 95 and NT 3.51 both export; none of the ones
base/lookup.cpp looks up at run time may be listed there), ASLR,
DEP, terminal-server awareness and, for 32-bit code, NO_SEH with no handler
registered in the code; no time stamp, the version resource, the icons (the
sizes and depths each program carries, no PNG images) and, for the programs
that write the machine's settings, the manifest. Prints one line per failed check and
a closing "N passed, N failed" line; exits 1 when any check failed.
"""
import os
import re
import struct
import sys

try:
    import pefile
except ImportError:
    sys.exit("check_programs.py: no pefile module (Debian's python3-pefile, which "
             "tools/setup-machine.sh installs, for Debian's /usr/bin/python3)")

# Windows never takes these from beside a program (they are known DLLs);
# any other DLL a program needs (LZ32, COMDLG32) it loads by full path.
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL"}
HERE = os.path.dirname(os.path.abspath(__file__))
# What Windows 95 and NT 3.51 both export, with where that was found.
OLD_FUNCTIONS = os.path.join(HERE, "imports.txt")
# The functions looked up at run time, because not both systems have them.
LOOKUP_TABLE = os.path.join(HERE, "..", "..", "base", "lookup.cpp")
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


def old_functions(path):
    """{DLL: {function: where it was found}} from the list; an entry without
    a source ends the check."""
    listed, dll = {}, None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if line.startswith("[") and line.endswith("]"):
                dll = listed.setdefault(line[1:-1].upper(), {})
            elif line:
                name, _, source = line.partition(" ")
                if dll is None or not source.strip():
                    sys.exit("%s:%d: a function without its DLL or its source" % (path, number))
                dll[name] = source.strip()
    return listed


def looked_up(path):
    """The names in the run-time lookup table (lateNames in base/lookup.cpp)."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    table = re.search(r"lateNames\[\]\s*=\s*\{([^}]*)\}", text)
    return re.findall(r'"(\w+)"', table.group(1)) if table else []


def load(path):
    """The PE file at path, its imports and resources read."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    return pe


def imports(pe):
    """{DLL name in capitals: [function names]}; by ordinal as "#N"."""
    result = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        functions = result.setdefault(entry.dll.decode("latin-1").upper(), [])
        functions += [f.name.decode("latin-1") if f.name else "#%d" % f.ordinal
                      for f in entry.imports]
    return result


def code(pe):
    """The bytes of each executable section, as far as the file holds them."""
    return [s.get_data(length=min(s.Misc_VirtualSize, s.SizeOfRawData)) for s in pe.sections
            if s.Characteristics & IMAGE_SCN_MEM_EXECUTE]


def resources(pe):
    """[(type, name, language, bytes)] for every resource; a type or name is
    a number or a string."""
    def key(entry):
        return str(entry.name) if entry.name is not None else entry.id

    found = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root else []:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found.append((key(kind), key(name), language.id,
                              pe.get_data(data.OffsetToData, data.Size)))
    return found


def version_strings(pe):
    """The fixed file version, the string values and the translation of the
    version resource."""
    fixed = None
    if getattr(pe, "VS_FIXEDFILEINFO", None):
        info = pe.VS_FIXEDFILEINFO[0]
        fixed = (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF,
                 info.FileVersionLS >> 16, info.FileVersionLS & 0xFFFF)
    values = {}
    for block in [e for group in getattr(pe, "FileInfo", []) for e in group]:
        for table in getattr(block, "StringTable", []):
            values.update({k.decode("utf-8"): v.decode("utf-8") for k, v in table.entries.items()})
        for var in getattr(block, "Var", []):
            if b"Translation" in var.entry:
                values["Translation"] = tuple(int(x, 16) for x in var.entry[b"Translation"].split())
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
    listed = old_functions(OLD_FUNCTIONS)

    def expect(ok, what):
        nonlocal passed
        if ok:
            passed += 1
        else:
            failures.append(what)

    for file, (original, extra_dlls, elevated, icon) in PROGRAMS.items():
        path = os.path.join(build_dir, file)
        pe = load(path)
        header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
        imported = imports(pe)
        allowed = SYSTEM_DLLS | extra_dlls
        expect(set(imported) <= allowed,
               "%s imports from %s" % (file, ", ".join(sorted(set(imported) - allowed))))
        for dll in sorted(set(imported) & SYSTEM_DLLS):
            unlisted = sorted(set(imported[dll]) - set(listed.get(dll, {})))
            expect(not unlisted, "%s imports %s from %s, which %s does not list"
                   % (file, ", ".join(unlisted), dll, os.path.basename(OLD_FUNCTIONS)))
        expect(optional.DllCharacteristics & DYNAMIC_BASE, "%s: DYNAMIC_BASE not set" % file)
        expect(optional.DllCharacteristics & NX_COMPAT, "%s: NX_COMPAT not set" % file)
        if file.endswith(".exe"):
            expect(optional.DllCharacteristics & TERMINAL_SERVER_AWARE,
                   "%s: TERMINAL_SERVER_AWARE not set" % file)
        if header.Machine == 0x14C:
            expect(optional.DllCharacteristics & NO_SEH, "%s: NO_SEH not set" % file)
            sections = code(pe)
            used = [pattern.hex() for pattern in SEH_CHAIN_ACCESS
                    if any(pattern + b"\0\0\0\0" in section for section in sections)]
            expect(sections and not used,
                   "%s: its code reaches the handler chain at fs:[0] (%s)" % (file, used))
        # A 32-bit program always holds absolute addresses; a small x86_64 one
        # may hold none, and then has nothing to relocate.
        relocations = optional.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]].Size
        expect(not header.Characteristics & IMAGE_FILE_RELOCS_STRIPPED and
               (relocations > 0 or header.Machine != 0x14C),
               "%s: no relocations" % file)
        expect(header.TimeDateStamp == 0,
               "%s: time stamp %#x in the header" % (file, header.TimeDateStamp))

        found = resources(pe)
        versions = [r for r in found if r[0] == 16]
        expect(len(versions) == 1 and versions[0][1] == 1 and versions[0][2] == 1033,
               "%s: version resources %s" % (file, [(r[1], r[2]) for r in versions]))
        if versions:
            fixed, values = version_strings(pe)
            expect(fixed == (2, 1, 0, 0), "%s: file version %s" % (file, fixed))
            for key, value in VERSION.items():
                expect(values.get(key) == value, "%s: %s is %r" % (file, key, values.get(key)))
            expect(values.get("OriginalFilename") == original,
                   "%s: OriginalFilename is %r" % (file, values.get("OriginalFilename")))
            expect(values.get("InternalName") == os.path.splitext(original)[0],
                   "%s: InternalName is %r" % (file, values.get("InternalName")))
            for key in ("FileDescription", "LegalCopyright"):
                expect(bool(values.get(key)), "%s: no %s" % (file, key))
            expect(values.get("Translation") == (0x0409, 1252),
                   "%s: translation %r" % (file, values.get("Translation")))

        if icon:
            images, wrong = icon_images(found)
            for what in wrong:
                expect(False, "%s: %s" % (file, what))
            expect([(w, bpp) for w, bpp, _ in images] == icon,
                   "%s: icon images %s" % (file, [(w, bpp) for w, bpp, _ in images]))
        else:
            expect(not [r for r in found if r[0] == 14], "%s: carries an icon" % file)

        # The setup programs' own texts, dialogs and pictures, and what
        # setup.exe carries: all in the one resource tree a linker may not
        # have joined (binutils 2.44's i686 ld kept only the first object's).
        if file.startswith("setup"):
            kinds = {r[0] for r in found}
            expect({2, 5, 6} <= kinds, "%s: resource types %s" % (file, sorted(kinds, key=str)))
            carried = sorted(r[1] for r in found if r[0] == "EXE")
            expect(len(carried) == (7 if file == "setup.exe" else 0),
                   "%s: carries %s" % (file, carried))

        manifests = [r for r in found if r[0] == 24]
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

    # What is looked up at run time is there because a system lacks it.
    late = looked_up(LOOKUP_TABLE)
    expect(late, "%s: no lateNames table" % LOOKUP_TABLE)
    on_list = sorted(name for name in late if any(name in f for f in listed.values()))
    expect(not on_list, "%s lists %s, which %s looks up at run time"
           % (os.path.basename(OLD_FUNCTIONS), ", ".join(on_list), os.path.basename(LOOKUP_TABLE)))

    empty = os.path.join(build_dir, "setup-empty.exe")
    if load(empty).FILE_HEADER.Machine == 0x14C:
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
