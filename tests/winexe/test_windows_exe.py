#!/usr/bin/python3
"""The Windows executables as Windows and Explorer see them, read back from
the built files: GUI subsystem and machine, the application manifest
(elevation, supported Windows versions), the version resource of the
Properties page, the progress dialog resource, stripped and under its size
limit with a debug link to the quorpatch.dbg beside it, and the i686 build's
imports and resources against the x86_64 build's.

Usage: test_windows_exe.py  with QP_ROOT, QP_EXE_X86_64 and QP_EXE_I686 set
(Debian's python3-pefile). Each check also runs on damaged copies of the
executable, which it must reject."""

import os
import re
import struct
import unittest
import zlib
import xml.etree.ElementTree as ElementTree

import pefile

RT_DIALOG, RT_VERSION, RT_MANIFEST = 5, 16, 24
MACHINES = {"x86_64": 0x8664, "i686": 0x14C}
SUBSYSTEM_WINDOWS_GUI = 2

SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT_V1 = "{urn:schemas-microsoft-com:compatibility.v1}"

VERSION_STRINGS = {
    "CompanyName": "Orvandel",
    "FileDescription": "QUOR Patch",
    "InternalName": "quorpatch",
    "LegalCopyright": "Copyright (C) Orvandel. All rights reserved.",
    "OriginalFilename": "quorpatch.exe",
    "ProductName": "QUOR Patch",
}

# Progress dialog 101: 172 by 44 dialog units, 8-point "MS Sans Serif", a
# left-aligned static text 1000 and under it the progress bar 1001. DS_SETFONT | DS_MODALFRAME | DS_CENTER |
# WS_POPUP | WS_CAPTION: no system menu, so no close box.
DIALOG_STYLE = 0x40 | 0x80 | 0x800 | 0x80000000 | 0xC00000
STATIC_STYLE = 0x50020000  # SS_LEFT | WS_CHILD | WS_VISIBLE | WS_GROUP
BAR_STYLE = 0x50000000  # WS_CHILD | WS_VISIBLE

# Imports that differ between the two builds only through the compiler's
# runtime: x86_64 unwinds exceptions with the system's tables, i686 looks its
# unwinder up at start; the C library's names differ by architecture.
RUNTIME_ONLY = {
    "x86_64": {
        "kernel32.dll": {"RtlCaptureContext", "RtlLookupFunctionEntry", "RtlUnwindEx", "RtlVirtualUnwind",
                         "__C_specific_handler"},
        "msvcrt.dll": {"___lc_codepage_func", "___mb_cur_max_func", "__iob_func", "_acmdln", "_commode", "_fmode",
                       "_setjmp"},
    },
    "i686": {
        "kernel32.dll": {"FreeLibrary", "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "LoadLibraryA"},
        "msvcrt.dll": {"__mb_cur_max", "__p__acmdln", "__p__commode", "__p__fmode", "_iob", "_setjmp3", "atoi",
                       "setlocale"},
    },
}


def expected_version():
    """The program's version as stated once in src/app/Version.h."""
    with open(os.path.join(os.environ["QP_ROOT"], "src", "app", "Version.h")) as header:
        text = header.read()
    return tuple(int(re.search(r"#define QP_VERSION_%s (\d+)" % part, text).group(1))
                 for part in ("MAJOR", "MINOR", "PATCH", "BUILD"))


def resources(pe):
    """{(type, name, language): bytes} of every resource."""
    found = {}
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in directory.entries if directory else []:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                key = (kind.id if kind.name is None else str(kind.name),
                       name.id if name.name is None else str(name.name), language.id)
                found[key] = pe.get_data(data.OffsetToData, data.Size)
    return found


def one_resource(pe, kind, name):
    matches = [data for (k, n, _), data in resources(pe).items() if k == kind and n == name]
    return matches[0] if len(matches) == 1 else None


def check_program(pe, arch):
    problems = []
    if pe.FILE_HEADER.Machine != MACHINES[arch]:
        problems.append("machine 0x%x is not %s" % (pe.FILE_HEADER.Machine, arch))
    if pe.OPTIONAL_HEADER.Subsystem != SUBSYSTEM_WINDOWS_GUI:
        problems.append("subsystem %d is not the Windows GUI" % pe.OPTIONAL_HEADER.Subsystem)
    return problems


def check_manifest(pe):
    data = one_resource(pe, RT_MANIFEST, 1)
    if data is None:
        return ["no application manifest (RT_MANIFEST 1)"]
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        return ["the manifest is no well-formed XML: %s" % error]
    problems = []
    levels = root.findall("%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel"
                          % (ASM_V3, ASM_V3, ASM_V3, ASM_V3))
    if len(levels) != 1:
        problems.append("%d requestedExecutionLevel elements, not 1" % len(levels))
    else:
        if levels[0].get("level") != "requireAdministrator":
            problems.append("execution level %r, not requireAdministrator" % levels[0].get("level"))
        if levels[0].get("uiAccess") not in (None, "false"):
            problems.append("uiAccess %r" % levels[0].get("uiAccess"))
    ids = [element.get("Id", "").lower()
           for element in root.findall("%scompatibility/%sapplication/%ssupportedOS" % (COMPAT_V1, COMPAT_V1, COMPAT_V1))]
    for guid, name in SUPPORTED_OS.items():
        if guid not in ids:
            problems.append("no supportedOS entry for %s" % name)
    for guid in ids:
        if guid not in SUPPORTED_OS:
            problems.append("unknown supportedOS id %s" % guid)
    return problems


def check_version(pe, version):
    problems = []
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return ["no version resource"]
    fixed = fixed[0]
    packed = ((version[0] << 16) | version[1], (version[2] << 16) | version[3])
    if (fixed.FileVersionMS, fixed.FileVersionLS) != packed:
        problems.append("file version %x.%x is not %s" % (fixed.FileVersionMS, fixed.FileVersionLS, version))
    if (fixed.ProductVersionMS, fixed.ProductVersionLS) != packed:
        problems.append("product version %x.%x is not %s" % (fixed.ProductVersionMS, fixed.ProductVersionLS, version))
    if fixed.FileType != 1:  # VFT_APP
        problems.append("file type %d is not an application" % fixed.FileType)
    if fixed.FileOS != 0x40004:  # VOS_NT_WINDOWS32
        problems.append("file OS 0x%x" % fixed.FileOS)
    tables, translations = [], []
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            if entry.Key == b"StringFileInfo":
                tables += entry.StringTable
            elif entry.Key == b"VarFileInfo":
                for var in entry.Var:
                    translations += list(var.entry.values())
    if len(tables) != 1:
        return problems + ["%d string tables, not 1" % len(tables)]
    table = tables[0]
    language = table.LangID.decode("ascii", "replace").lower()
    if language != "040904b0":
        problems.append("string table %s is not U.S. English, Unicode" % language)
    if translations != ["0x0409 0x04b0"]:
        problems.append("translations %s do not name the string table" % translations)
    strings = {key.decode("utf-8", "replace"): value.decode("utf-8", "replace") for key, value in table.entries.items()}
    text = ".".join(str(part) for part in version)
    wanted = dict(VERSION_STRINGS, FileVersion=text, ProductVersion=text)
    for key, value in sorted(wanted.items()):
        if strings.get(key) != value:
            problems.append("%s is %r, not %r" % (key, strings.get(key), value))
    return problems


class Reader:
    """Little-endian fields of a dialog template in order."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, form):
        values = struct.unpack_from("<" + form, self.data, self.at)
        self.at += struct.calcsize("<" + form)
        return values if len(values) > 1 else values[0]

    def text_or_ordinal(self):
        first = self.take("H")
        if first == 0xFFFF:
            return self.take("H")
        chars = []
        while first != 0:
            chars.append(chr(first))
            first = self.take("H")
        return "".join(chars)

    def align(self):
        self.at = (self.at + 3) & ~3


def check_dialog(pe):
    data = one_resource(pe, RT_DIALOG, 101)
    if data is None:
        return ["no dialog 101"]
    try:
        reader = Reader(data)
        style, extended, count, x, y, cx, cy = reader.take("IIHhhhh")
        menu, window_class, caption = reader.text_or_ordinal(), reader.text_or_ordinal(), reader.text_or_ordinal()
        points = reader.take("H") if style & 0x40 else None
        font = reader.text_or_ordinal() if style & 0x40 else None
        items = []
        for _ in range(count):
            reader.align()
            item_style, _, ix, iy, icx, icy, item_id = reader.take("IIhhhhH")
            item_class, item_text = reader.text_or_ordinal(), reader.text_or_ordinal()
            extra = reader.take("H")  # creation data: its length, then the bytes
            reader.at += extra
            items.append((item_style, ix, iy, icx, icy, item_id, item_class, item_text))
    except (struct.error, ValueError) as error:
        return ["dialog 101 is cut short: %s" % error]
    problems = []
    if style != DIALOG_STYLE or extended != 0:
        problems.append("dialog style 0x%x/0x%x, not 0x%x" % (style, extended, DIALOG_STYLE))
    if (cx, cy) != (172, 44):
        problems.append("dialog size %dx%d dialog units, not 172x44" % (cx, cy))
    if (menu, window_class, caption) != ("", "", "Quor Patch"):
        problems.append("dialog menu, class or caption %r" % ((menu, window_class, caption),))
    if (points, font) != (8, "MS Sans Serif"):
        problems.append("dialog font %r %r, not 8-point MS Sans Serif" % (points, font))
    wanted = [(STATIC_STYLE, 34, 17, 102, 8, 1000, 0x82, "Updating QUOR. Please, wait..."),
              (BAR_STYLE, 34, 29, 104, 8, 1001, "MSCTLS_PROGRESS32", "")]  # windres writes class names in capitals
    if items != wanted:
        problems.append("dialog controls %r, not %r" % (items, wanted))
    return problems


# Every patch carries the patcher: it ships stripped (its debug information
# lies beside it) and small.
SIZE_LIMIT = 256 * 1024


def section_names(pe):
    """Section names, the long ones ("/offset") read from the string table."""
    names = []
    table = pe.FILE_HEADER.PointerToSymbolTable + 18 * pe.FILE_HEADER.NumberOfSymbols
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and name[1:].isdigit() and pe.FILE_HEADER.PointerToSymbolTable:
            start = table + int(name[1:])
            name = pe.__data__[start:pe.__data__.find(b"\0", start)].decode("ascii", "replace")
        names.append(name)
    return names


def check_lean(pe, size):
    problems = []
    if size >= SIZE_LIMIT:
        problems.append("%d bytes, not under %d" % (size, SIZE_LIMIT))
    if pe.FILE_HEADER.NumberOfSymbols:
        problems.append("a symbol table of %d entries" % pe.FILE_HEADER.NumberOfSymbols)
    debug = [name for name in section_names(pe) if name.startswith(".debug")]
    if debug:
        problems.append("debug sections %s" % debug)
    return problems


def check_debug_link(pe, debug_file):
    """The debug link names quorpatch.dbg, which lies beside the executable
    with the CRC-32 the link gives."""
    links = [section.get_data()[:section.Misc_VirtualSize]
             for name, section in zip(section_names(pe), pe.sections) if name == ".gnu_debuglink"]
    if len(links) != 1:
        return ["%d debug links" % len(links)]
    name, _, rest = links[0].partition(b"\0")
    crc_at = (len(name) + 4) // 4 * 4 - len(name) - 1
    if name != b"quorpatch.dbg":
        return ["the debug link names %r, not quorpatch.dbg" % name.decode("ascii", "replace")]
    crc = struct.unpack_from("<I", rest, crc_at)[0]
    if not os.path.exists(debug_file):
        return ["no %s beside it" % os.path.basename(debug_file)]
    with open(debug_file, "rb") as stream:
        actual = zlib.crc32(stream.read())
    if crc != actual:
        return ["the debug link's CRC-32 %08x is not the debug file's, %08x" % (crc, actual)]
    return []


def imports(pe):
    return {entry.dll.decode().lower(): {item.name.decode() if item.name else "#%d" % item.ordinal
                                         for item in entry.imports}
            for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


def compare_builds(x86_64, i686):
    """What differs between the two builds beyond their runtimes."""
    problems = []
    ours, theirs = imports(x86_64), imports(i686)
    if set(ours) != set(theirs):
        problems.append("imported DLLs differ: %s and %s" % (sorted(ours), sorted(theirs)))
    for dll in sorted(set(ours) & set(theirs)):
        only64 = ours[dll] - theirs[dll] - RUNTIME_ONLY["x86_64"].get(dll, set())
        only32 = theirs[dll] - ours[dll] - RUNTIME_ONLY["i686"].get(dll, set())
        if only64 or only32:
            problems.append("%s: only x86_64 imports %s, only i686 %s" % (dll, sorted(only64), sorted(only32)))
    a, b = resources(x86_64), resources(i686)
    if set(a) != set(b):
        problems.append("resources differ: %s and %s" % (sorted(a), sorted(b)))
    for key in sorted(set(a) & set(b)):
        if a[key] != b[key]:
            problems.append("resource %s differs" % (key,))
    return problems


def damaged(pe, old, new):
    """A copy of the executable with the first occurrence of old replaced."""
    data = bytearray(pe.__data__)
    at = bytes(data).find(old)
    assert at >= 0 and len(old) == len(new), old
    data[at:at + len(old)] = new
    return pefile.PE(data=bytes(data))


def utf16(text):
    return text.encode("utf-16-le")


class Build:
    def __init__(self, arch):
        self.arch = arch
        self.path = os.environ["QP_EXE_" + arch.upper()]
        self.pe = pefile.PE(self.path)


BUILDS = {}


def build(arch):
    if arch not in BUILDS:
        BUILDS[arch] = Build(arch)
    return BUILDS[arch]


class EachBuild:
    arch = None

    def setUp(self):
        self.pe = build(self.arch).pe

    def test_is_a_gui_program_for_its_machine(self):
        self.assertEqual(check_program(self.pe, self.arch), [])
        other = "i686" if self.arch == "x86_64" else "x86_64"
        self.assertTrue(check_program(self.pe, other))

    def test_manifest_asks_for_elevation_and_names_windows_7_to_11(self):
        self.assertEqual(check_manifest(self.pe), [])
        lower = damaged(self.pe, b'"requireAdministrator"', b'"highestAvailable"    ')
        self.assertEqual(check_manifest(lower), ["execution level 'highestAvailable', not requireAdministrator"])
        no81 = damaged(self.pe, b"1f676c76", b"1f676c77")
        self.assertEqual(check_manifest(no81), ["no supportedOS entry for Windows 8.1",
                                                "unknown supportedOS id {1f676c77-80e1-4239-95bb-83d0f6d0da78}"])
        broken = damaged(self.pe, b"<security>", b"<security ")
        self.assertTrue(check_manifest(broken)[0].startswith("the manifest is no well-formed XML"))

    def test_version_resource_shows_the_program_and_its_version(self):
        version = expected_version()
        self.assertEqual(check_version(self.pe, version), [])
        later = version[:3] + (version[3] + 1,)
        self.assertEqual(len(check_version(self.pe, later)), 4)
        renamed = damaged(self.pe, utf16("Orvandel\0"), utf16("Orvandal\0"))
        self.assertEqual(check_version(renamed, version), ["CompanyName is 'Orvandal', not 'Orvandel'"])

    def test_progress_dialog_is_the_small_box_without_a_close_box(self):
        self.assertEqual(check_dialog(self.pe), [])
        template = one_resource(self.pe, RT_DIALOG, 101)
        wider = damaged(self.pe, template[:18], template[:14] + struct.pack("<hh", 173, 44))
        self.assertEqual(check_dialog(wider), ["dialog size 173x44 dialog units, not 172x44"])
        closable = damaged(self.pe, template[:4], struct.pack("<I", DIALOG_STYLE | 0x80000))
        self.assertEqual(len(check_dialog(closable)), 1)
        other_font = damaged(self.pe, utf16("MS Sans Serif"), utf16("MS Sans Seri!"))
        self.assertEqual(len(check_dialog(other_font)), 1)


    def test_ships_stripped_and_lean(self):
        self.assertEqual(check_lean(self.pe, os.path.getsize(build(self.arch).path)), [])
        self.assertEqual(check_lean(self.pe, SIZE_LIMIT), ["%d bytes, not under %d" % (SIZE_LIMIT, SIZE_LIMIT)])

    def test_debug_link_names_the_debug_file_beside_it(self):
        debug_file = os.path.join(os.path.dirname(build(self.arch).path), "quorpatch.dbg")
        self.assertEqual(check_debug_link(self.pe, debug_file), [])
        renamed = damaged(self.pe, b"quorpatch.dbg\0", b"quorpatch.pdb\0")
        self.assertEqual(check_debug_link(renamed, debug_file), ["the debug link names 'quorpatch.pdb', not quorpatch.dbg"])
        self.assertEqual(check_debug_link(self.pe, debug_file + ".missing"), ["no quorpatch.dbg.missing beside it"])
        other = [line for line in check_debug_link(self.pe, build(self.arch).path)]
        self.assertEqual(len(other), 1)
        self.assertIn("is not the debug file's", other[0])


class X86_64Build(EachBuild, unittest.TestCase):
    arch = "x86_64"


class I686Build(EachBuild, unittest.TestCase):
    arch = "i686"


class BothBuilds(unittest.TestCase):
    def test_i686_build_has_the_x86_64_builds_imports_and_resources(self):
        x86_64, i686 = build("x86_64").pe, build("i686").pe
        self.assertEqual(compare_builds(x86_64, i686), [])
        # A difference in a system call or in a resource is reported.
        manifest = one_resource(i686, RT_MANIFEST, 1)
        changed = damaged(i686, manifest[-20:], manifest[-20:].replace(b"<", b" ", 1))
        self.assertEqual(compare_builds(x86_64, changed), ["resource (24, 1, 1033) differs"])
        renamed = damaged(i686, b"MessageBoxA\0", b"MessageBoxW\0")
        self.assertEqual(compare_builds(x86_64, renamed),
                         ["user32.dll: only x86_64 imports ['MessageBoxA'], only i686 ['MessageBoxW']"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
