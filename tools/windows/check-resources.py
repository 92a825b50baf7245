#!/usr/bin/python3
"""check-resources.py VERSION SCORLET_EXE SCORLET_EXPORT_EXE [SETUP_EXE]

Reads the built Windows programs with pefile and fails (exit 1, one line per fault) unless:
scorlet.exe is a GUI-subsystem program (no console window) whose resources are English
(United Kingdom) and hold icon group 101 with its fifteen images (16, 32, 48, 64 and 256
pixels at 4, 24 and 32 bits), a version record with file and product version VERSION, and a
manifest that asks for asInvoker without UI access; scorlet-export.exe is a console program;
the installer, when given, carries VERSION in its own version record.
"""

import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ENGLISH_UK = 0x0809
GUI, CONSOLE = 2, 3

faults = []


def fault(text):
    faults.append(text)


def entries(pe, kind):
    """{id: [(language, bytes)]} of one resource type."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != kind:
            continue
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data = language_entry.data
                raw = pe.get_data(data.struct.OffsetToData, data.struct.Size)
                found.setdefault(name_entry.id, []).append((data.lang | (data.sublang << 10), raw))
    return found


def fixed_version(pe, which):
    info = pe.VS_FIXEDFILEINFO[0]
    high = getattr(info, which + "VersionMS")
    low = getattr(info, which + "VersionLS")
    return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def string_table(pe):
    """{language-codepage: {key: value}} of the version record's strings."""
    tables = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            if getattr(block, "Key", b"") == b"StringFileInfo":
                for table in block.StringTable:
                    tables[table.LangID.decode()] = {
                        key.decode(): value.decode() for key, value in table.entries.items()
                    }
    return tables


def check_scorlet(path, version):
    pe = pefile.PE(path)
    if pe.OPTIONAL_HEADER.Subsystem != GUI:
        fault(f"{path}: subsystem {pe.OPTIONAL_HEADER.Subsystem}, not the GUI subsystem (2)")
    else:
        print(f"{path}: GUI subsystem, no console window")

    groups = entries(pe, RT_GROUP_ICON)
    icons = entries(pe, RT_ICON)
    if list(groups) != [101]:
        fault(f"{path}: icon groups {sorted(groups)}, not just 101")
    else:
        language, raw = groups[101][0]
        _, kind, count = struct.unpack_from("<HHH", raw)
        images = set()
        for index in range(count):
            width, height, _, _, _, bits, _, icon_id = struct.unpack_from(
                "<BBBBHHIH", raw, 6 + 14 * index)
            images.add((width or 256, height or 256, bits))
            if icon_id not in icons:
                fault(f"{path}: icon group 101 names image {icon_id}, which is missing")
        wanted = {(size, size, bits) for size in (16, 32, 48, 64, 256) for bits in (4, 24, 32)}
        if kind != 1 or count != 15 or images != wanted:
            fault(f"{path}: icon group 101 has {count} images {sorted(images)}")
        else:
            print(f"{path}: icon group 101, 15 images (16-256 px at 4, 24 and 32 bits)")

    if fixed_version(pe, "File") != version or fixed_version(pe, "Product") != version:
        fault(f"{path}: version record {fixed_version(pe, 'File')} / "
              f"{fixed_version(pe, 'Product')}, not {version}")
    tables = string_table(pe)
    strings = tables.get("080904b0") or tables.get("080904B0")
    if not strings:
        fault(f"{path}: no English (United Kingdom) strings in the version record: {list(tables)}")
    elif strings.get("FileVersion") != version or strings.get("ProductVersion") != version:
        fault(f"{path}: version strings {strings.get('FileVersion')} / "
              f"{strings.get('ProductVersion')}, not {version}")
    else:
        print(f"{path}: version record {version}, English (United Kingdom)")

    manifests = entries(pe, RT_MANIFEST)
    if list(manifests) != [1] or len(manifests[1]) != 1:
        fault(f"{path}: manifests {sorted(manifests)}, not just one under 1")
    else:
        root = ElementTree.fromstring(manifests[1][0][1])
        levels = [element.attrib for element in root.iter()
                  if element.tag.endswith("requestedExecutionLevel")]
        if levels != [{"level": "asInvoker", "uiAccess": "false"}]:
            fault(f"{path}: manifest asks for {levels}, not asInvoker without UI access")
        else:
            print(f"{path}: manifest asks for asInvoker, no UI access")

    for kind, found in ((RT_GROUP_ICON, groups), (RT_ICON, icons), (RT_VERSION,
                        entries(pe, RT_VERSION)), (RT_MANIFEST, manifests)):
        languages = {language for versions in found.values() for language, _ in versions}
        if languages != {ENGLISH_UK}:
            fault(f"{path}: resources of type {kind} in languages {sorted(map(hex, languages))}")


def check_console(path):
    pe = pefile.PE(path, fast_load=True)
    if pe.OPTIONAL_HEADER.Subsystem != CONSOLE:
        fault(f"{path}: subsystem {pe.OPTIONAL_HEADER.Subsystem}, not the console subsystem (3)")
    else:
        print(f"{path}: console program")


def check_installer(path, version):
    pe = pefile.PE(path)
    strings = {key: value for table in string_table(pe).values() for key, value in table.items()}
    if fixed_version(pe, "Product") != version or strings.get("ProductVersion") != version:
        fault(f"{path}: installer version {fixed_version(pe, 'Product')} / "
              f"{strings.get('ProductVersion')}, not {version}")
    else:
        print(f"{path}: installer version {version}")


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    version = sys.argv[1]
    check_scorlet(sys.argv[2], version)
    check_console(sys.argv[3])
    if len(sys.argv) == 5:
        check_installer(sys.argv[4], version)
    for text in faults:
        print("check-resources.py: " + text, file=sys.stderr)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
