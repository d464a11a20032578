#!/usr/bin/python3
"""Checks the built Windows library the way a host sees it, with a PE reader
nobody here wrote (Debian's python3-pefile): a 64-bit DLL whose only export is
EntryPointFunc, whose only resources are the registration resource and the
manifest, which imports from system DLLs only, and which carries no debug
information, only the link to its debug file (Kestrelumen.aex.debug).

Usage: check_pe.py LIBRARY.aex [EXPECTED.pipl EXPECTED.manifest]
Exit status: 0 all checks pass, 1 a check failed, 2 bad usage or unreadable file.
"""

import sys

import pefile

EXPECTED_EXPORTS = ["EntryPointFunc"]
EXPECTED_DEBUG_LINK = "Kestrelumen.aex.debug"

# (type, name, language, size): the type is a name for the registration
# resource and a number (24, RT_MANIFEST) for the manifest.
EXPECTED_RESOURCES = [
    ("PIPL", 16000, 4, 306),
    (24, 2, 4, 346),
]

# DLLs every Windows x64 installation has. A compiler runtime here
# (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) would make the
# library fail to load on a user's machine.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "user32.dll", "advapi32.dll",
               "ucrtbase.dll"}


def is_system_dll(name):
    lower = name.lower()
    return lower in SYSTEM_DLLS or lower.startswith("api-ms-win-")


def resources_of(pe):
    """Every leaf of the resource directory as (type, name, language, bytes)."""
    found = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return found
    for type_entry in root.entries:
        rtype = str(type_entry.name) if type_entry.name is not None else type_entry.id
        for name_entry in type_entry.directory.entries:
            rname = str(name_entry.name) if name_entry.name is not None else name_entry.id
            for lang_entry in name_entry.directory.entries:
                data = lang_entry.data.struct
                raw = pe.get_data(data.OffsetToData, data.Size)
                found.append((rtype, rname, lang_entry.id, raw))
    return found


def section_names(pe):
    """Section names, the long ones (written "/offset") read from the COFF
    string table, which follows the symbol table."""
    table = pe.FILE_HEADER.PointerToSymbolTable + pe.FILE_HEADER.NumberOfSymbols * 18
    names = []
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and name[1:].isdigit() and pe.FILE_HEADER.PointerToSymbolTable:
            start = table + int(name[1:])
            end = pe.__data__.find(b"\0", start)
            name = pe.__data__[start:end].decode("ascii", "replace")
        names.append(name)
    return names


def debug_link_of(pe):
    """The file name in .gnu_debuglink, or None."""
    for section, name in zip(pe.sections, section_names(pe)):
        if name == ".gnu_debuglink":
            return section.get_data().split(b"\0", 1)[0].decode("ascii", "replace")
    return None


def main(argv):
    if len(argv) not in (2, 4):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = argv[1]
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as e:
        print(f"check_pe: cannot read {path}: {e}", file=sys.stderr)
        return 2
    expected_bytes = {}
    if len(argv) == 4:
        try:
            with open(argv[2], "rb") as f:
                expected_bytes["PIPL"] = f.read()
            with open(argv[3], "rb") as f:
                expected_bytes[24] = f.read()
        except OSError as e:
            print(f"check_pe: {e}", file=sys.stderr)
            return 2

    failures = []

    machine = pe.FILE_HEADER.Machine
    is_dll = bool(pe.FILE_HEADER.Characteristics & 0x2000)
    print(f"file: {path}")
    print(f"machine: 0x{machine:04x}  dll: {is_dll}")
    if machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]:
        failures.append("not a 64-bit x64 image")
    if not is_dll:
        failures.append("not a DLL")
    # Hosts load plug-ins at any address and with data execution prevention on.
    dll_flags = pe.OPTIONAL_HEADER.DllCharacteristics
    print(f"dll characteristics: 0x{dll_flags:04x}")
    for flag, bit in (("DYNAMIC_BASE", 0x40), ("NX_COMPAT", 0x100)):
        if not dll_flags & bit:
            failures.append(f"{flag} is not set")

    exports = []
    if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        exports = [s.name.decode("ascii", "replace") if s.name else f"#{s.ordinal}"
                   for s in pe.DIRECTORY_ENTRY_EXPORT.symbols]
    print(f"exports ({len(exports)}): {' '.join(exports)}")
    if exports != EXPECTED_EXPORTS:
        failures.append(f"exports are {exports}, expected exactly {EXPECTED_EXPORTS}")

    found = resources_of(pe)
    print(f"resources ({len(found)}):")
    for rtype, rname, lang, raw in found:
        print(f"  type {rtype!r} name {rname!r} language {lang} size {len(raw)}")
    summary = sorted(((t, n, l, len(r)) for t, n, l, r in found), key=repr)
    if summary != sorted(EXPECTED_RESOURCES, key=repr):
        failures.append(f"resources are {summary}, expected {EXPECTED_RESOURCES}")
    for rtype, _, _, raw in found:
        want = expected_bytes.get(rtype)
        if want is not None and raw != want:
            failures.append(f"resource {rtype!r} differs from the file the build wrote")

    dlls = []
    if hasattr(pe, "DIRECTORY_ENTRY_IMPORT"):
        dlls = [entry.dll.decode("ascii", "replace") for entry in pe.DIRECTORY_ENTRY_IMPORT]
    if hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"):
        dlls += [entry.dll.decode("ascii", "replace") for entry in pe.DIRECTORY_ENTRY_DELAY_IMPORT]
    print(f"imports from: {' '.join(dlls)}")
    foreign = [d for d in dlls if not is_system_dll(d)]
    if foreign:
        failures.append(f"imports from non-system DLLs: {foreign}")

    names = section_names(pe)
    print(f"sections: {' '.join(names)}")
    dwarf = [n for n in names if n.startswith(".debug")]
    if dwarf:
        failures.append(f"debug information left in the library: {dwarf}")
    link = debug_link_of(pe)
    print(f"debug link: {link}")
    if link != EXPECTED_DEBUG_LINK:
        failures.append(f"debug link is {link!r}, expected {EXPECTED_DEBUG_LINK!r}")

    for f in failures:
        print(f"FAIL: {f}")
    print("check_pe: " + ("FAILED" if failures else "ok"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
