"""The size of the shipped program stripped, and where its bytes come from, read from the linker's map."""

import os
import re
import shutil
import subprocess
from collections import defaultdict

STRIP = "x86_64-w64-mingw32-strip"
# Output sections that a stripped program keeps in its file (.bss takes no file space, debug goes).
KEPT_SECTIONS = {".text", ".data", ".rdata", ".pdata", ".xdata", ".idata", ".CRT", ".tls", ".rsrc", ".reloc"}
INPUT_LINE = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")

ORIGINS = [
    (re.compile(r"\.rc\.res\)?$|\.res$"), "resources (icons, menus)"),
    (re.compile(r"libstdc\+\+\.a"), "C++ library (libstdc++)"),
    (re.compile(r"libgcc(_eh)?\.a"), "GCC runtime (libgcc, unwinder)"),
    (re.compile(r"lib(pthread|winpthread)\.a"), "threads (winpthreads)"),
    (re.compile(r"lib(mingwex|mingw32|msvcrt|moldname)\.a|crt\w*\.o"), "C runtime (mingw-w64)"),
    (re.compile(r"libtinyxml\.a"), "TinyXML"),
    (re.compile(r"libpelmora_core\.a|objects\.a|\.obj$"), "Pelmora's own code"),
    (re.compile(r"lib\w+32\.a|libuuid\.a|libws2_32\.a|libwininet\.a|libcomctl32\.a"), "import tables of system DLLs"),
]


def origin_of(path):
    for pattern, name in ORIGINS:
        if pattern.search(path):
            return name
    return "linker (headers, relocations, padding)"


def member_of(path):
    """"libstdc++.a(locale.o)" → "locale.o"; a plain object file by its name."""
    match = re.search(r"\(([^)]+)\)$", path)
    return match.group(1) if match else os.path.basename(path)


def inclusions(text):
    """{archive member: (the file whose reference pulled it in, the symbol)} from the map's first part."""
    start = text.find("Archive member included to satisfy reference by file (symbol)")
    if start < 0:
        return {}
    ends = [text.find(marker, start) for marker in ("Allocating common symbols", "Discarded input sections",
                                                    "Memory Configuration", "Linker script and memory map")]
    end = min([position for position in ends if position >= 0] or [len(text)])
    found = {}
    member = None
    for line in text[start:end].split("\n")[1:]:
        if line and not line.startswith(" "):
            member = line.strip()
        elif member and line.strip():
            match = re.match(r"^\s+(\S+)(?: \((.*)\))?$", line)
            if match:
                found[member] = (match.group(1), match.group(2) or "")
            member = None
    return found


def pulled_in_by(found, member):
    """The first file outside the C++ library whose reference, through a chain of library members,
    brought `member` in: (file, symbol), or None."""
    seen = set()
    while member in found and member not in seen:
        seen.add(member)
        requirer, symbol = found[member]
        if "libstdc++" not in requirer:
            return member_of(requirer), symbol
        member = requirer
    return None


def read_map(text):
    """[(output section, input section, size, file)] of the map's memory map part."""
    start = text.find("Linker script and memory map")
    lines = text[start:].split("\n") if start >= 0 else []
    contributions = []
    output = None
    pending = None
    for line in lines:
        if line.startswith("."):
            output = line.split()[0]
            pending = None
            continue
        if pending is not None:
            match = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if match:
                contributions.append((output, pending, int(match.group(2), 16), match.group(3).strip()))
            pending = None
            continue
        if re.match(r"^ \.\S+$", line):
            pending = line.strip()
            continue
        match = INPUT_LINE.match(line)
        if match and match.group(1) and match.group(1).startswith("."):
            contributions.append((output, match.group(1), int(match.group(3), 16), match.group(4).strip()))
    return contributions


def breakdown(text):
    """The kept bytes by origin, largest first, and the members of the C++ library, largest first, each
    with the file and symbol of ours (or TinyXML's) that brought it in."""
    by_origin = defaultdict(int)
    by_member = defaultdict(int)
    paths = {}
    for output, _, size, path in read_map(text):
        if output not in KEPT_SECTIONS:
            continue
        origin = origin_of(path)
        by_origin[origin] += size
        if origin.startswith("C++ library"):
            by_member[member_of(path)] += size
            paths[member_of(path)] = path
    found = inclusions(text)
    origins = sorted(by_origin.items(), key=lambda item: -item[1])
    members = [(name, size, pulled_in_by(found, paths[name])) for name, size in
               sorted(by_member.items(), key=lambda item: -item[1])]
    return origins, members


def stripped_size(program, folder):
    copy = os.path.join(folder, os.path.basename(program) + ".stripped")
    shutil.copy2(program, copy)
    subprocess.run([STRIP, "--strip-all", copy], check=True)
    return os.path.getsize(copy)


def measure(program, floor_program, map_path, folder):
    os.makedirs(folder, exist_ok=True)
    report = {"built": os.path.getsize(program), "stripped": stripped_size(program, folder),
              "floor_stripped": stripped_size(floor_program, folder), "parts": []}
    if os.path.exists(map_path):
        with open(map_path, encoding="utf-8", errors="replace") as file:
            origins, members = breakdown(file.read())
        report["parts"] = [(name, size) for name, size in origins]
        for name, size, culprit in members[:12]:
            reason = " (for %s in %s)" % (culprit[1] or "?", culprit[0]) if culprit else ""
            report["parts"].append(("  C++ library: " + name + reason, size))
    return report
