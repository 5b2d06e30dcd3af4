#!/usr/bin/env python3
"""Fails when a source file includes against the one-way layering of the project.

The library: exports -> the interface folders -> frame -> platform (the seam's headers, with the
posix/, win32/, board/ and win32-tcp/ implementations below them). The simulated unit stands beside
the library and includes none of it; the command-line tool reaches the library through the public
headers and src/exports/ToolAccess.h alone; the public headers include only each other. Above the
seam no file includes an operating system's header.

First proves on a table of cases that the rules bite, then judges every file of the tree.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]

INTERFACES = {"supervisor", "display", "indicators", "identity", "firmware", "comms"}
# What a file of each library layer may include from src/, by the layer of the included file.
SEAM = "platform"
MAY_INCLUDE = {
    "exports": {"exports", "frame", SEAM} | INTERFACES,
    "interface": {"frame", SEAM} | INTERFACES,
    "frame": {"frame", SEAM},
    SEAM: {SEAM},
    "platform/posix": {SEAM, "platform/posix", "platform/board"},
    "platform/win32": {SEAM, "platform/win32"},
    "platform/board": {SEAM, "platform/board"},
    "platform/win32-tcp": {SEAM, "platform/win32", "platform/board", "platform/win32-tcp"},
}
# The one internal header of the library that the tool may include.
TOOL_ACCESS = "src/exports/ToolAccess.h"
# Operating-system headers that only the seam's implementations (and the DLL's entry point) include.
SYSTEM_HEADER = re.compile(r"^(windows|winsock2|ws2tcpip|unistd|fcntl|pthread|termios|poll|dlfcn|semaphore|"
                           r"signal|syslog|sys/.*|linux/.*|netinet/.*|arpa/.*)\.h$")
SYSTEM_HEADER_ALLOWED = {"src/exports/DllMain.cpp"}
# The tool's access (Linux only) reads where the unit lies from the posix seam's root.
ALLOWED = {("src/exports/ToolAccess.cpp", "src/platform/posix/Root.h")}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
SOURCES = ("*.h", "*.cpp")


def layer_of(path):
    """The layer of a file given by its path from the project's root, or None outside src/."""
    parts = pathlib.PurePosixPath(path).parts
    if len(parts) < 2 or parts[0] != "src":
        return None
    folder = parts[1]
    if folder in INTERFACES:
        return "interface"
    if folder == "platform":
        if len(parts) > 3 and "platform/" + parts[2] in MAY_INCLUDE:
            return "platform/" + parts[2]
        return SEAM
    return folder


def area_of(path):
    """Which part of the project a file belongs to: library, public, sim, tool or other."""
    top = pathlib.PurePosixPath(path).parts[0]
    return {"src": "library", "include": "public", "sim": "sim", "tools": "tool"}.get(top, "other")


def layer_name(path):
    """The layer as MAY_INCLUDE names it: a folder of src/ (interfaces by their own name)."""
    layer = layer_of(path)
    if layer == "interface":
        return pathlib.PurePosixPath(path).parts[1]
    return layer


def judge(source, quoted, target, resolved):
    """Why `source` may not include `target` (as written; `quoted` for "..."), or None when it may.
    `resolved` is the included file's path from the root, or None when it is not one of ours."""
    area = area_of(source)
    if not quoted:
        above_seam = area == "library" and not layer_of(source).startswith("platform")
        if (above_seam and source not in SYSTEM_HEADER_ALLOWED or area == "public") and SYSTEM_HEADER.match(target):
            return "an operating system's header above the platform seam"
        return None
    if resolved is None:
        return None
    target_area = area_of(resolved)
    if area == "public":
        return None if target_area == "public" else "a public header includes what is not public"
    if area == "sim":
        return None if target_area in ("sim", "public") else "the simulated unit includes the library or the tool"
    if area == "tool":
        if target_area == "library" and resolved != TOOL_ACCESS:
            return "the tool includes a library internal other than " + TOOL_ACCESS
        return None
    if area == "library":
        if (source, resolved) in ALLOWED:
            return None
        if target_area in ("sim", "tool"):
            return "the library includes the simulated unit or the tool"
        if target_area != "library":
            return None
        if layer_name(resolved) not in MAY_INCLUDE[layer_of(source)]:
            return "%s may not include %s" % (layer_name(source), layer_name(resolved))
    return None


def resolve(source, target, exists):
    """Where a quoted include of `source` lands, searching as the builds do: the including file's
    own folder, src/, include/, sim/ and src/exports/ (the tool's view of ToolAccess.h)."""
    folder = pathlib.PurePosixPath(source).parent
    for base in (folder, pathlib.PurePosixPath("src"), pathlib.PurePosixPath("include"),
                 pathlib.PurePosixPath("sim"), pathlib.PurePosixPath("src/exports")):
        candidate = str(base / target)
        if exists(candidate):
            return candidate
    return None


# (including file, include line, the judgement expected: None or a part of the reason)
CASES = [
    ("src/frame/Trace.cpp", '#include "platform/Time.h"', None),
    ("src/frame/Trace.cpp", '#include "display/Video_Imp.h"', "frame may not include display"),
    ("src/frame/Trace.cpp", '#include "exports/ToolAccess.h"', "frame may not include exports"),
    ("src/frame/Trace.cpp", '#include "platform/posix/Root.h"', "frame may not include platform/posix"),
    ("src/platform/Files.h", '#include "frame/Trace.h"', "platform may not include frame"),
    ("src/platform/posix/Device.cpp", '#include "platform/board/Wire.h"', None),
    ("src/platform/win32/Device.cpp", '#include "platform/posix/Root.h"', "platform/win32 may not include"),
    ("src/display/Video_Imp.cpp", '#include "identity/FeatureProbe.h"', None),
    ("src/display/Video_Imp.cpp", '#include "exports/ToolAccess.h"', "display may not include exports"),
    ("src/display/Video_Imp.cpp", '#include "Unit.h"', "includes the simulated unit"),
    ("src/display/Video_Imp.cpp", "#include <unistd.h>", "operating system's header"),
    ("src/exports/Factories.cpp", '#include "display/Video_Imp.h"', None),
    ("src/exports/Factories.cpp", '#include "platform/posix/Root.h"', "exports may not include platform/posix"),
    ("src/exports/ToolAccess.cpp", '#include "platform/posix/Root.h"', None),
    ("src/exports/Factories.cpp", "#include <windows.h>", "operating system's header"),
    ("src/exports/DllMain.cpp", "#include <windows.h>", None),
    ("src/platform/posix/Device.cpp", "#include <unistd.h>", None),
    ("sim/Unit.cpp", '#include "frame/Trace.h"', "simulated unit includes"),
    ("sim/Unit.cpp", '#include "Wire.h"', None),
    ("tools/pelmux/Video.cpp", '#include "ToolAccess.h"', None),
    ("tools/pelmux/Video.cpp", '#include "frame/SettingsFile.h"', "other than"),
    ("tools/pelmux/Video.cpp", '#include "Unit.h"', None),
    ("include/pelmux/Adc.h", '#include "frame/Trace.h"', "not public"),
    ("include/pelmux/Adc.h", "#include <pelmux/ResultCode.h>", None),
]


def judge_line(source, line, exists):
    match = INCLUDE.match(line)
    if not match:
        return None
    quoted, target = match.group(1) == '"', match.group(2)
    resolved = resolve(source, target, exists) if quoted else None
    return judge(source, quoted, target, resolved)


def prove_rules():
    exists = lambda path: (ROOT / path).is_file()
    failures = []
    for source, line, expected in CASES:
        reason = judge_line(source, line, exists)
        if (reason is None) != (expected is None) or (expected and expected not in reason):
            failures.append("%s: %s judged %r, expected %r" % (source, line, reason, expected))
    return failures


def check_tree():
    exists = lambda path: (ROOT / path).is_file()
    found = []
    for top in ("src", "include", "sim", "tools"):
        for pattern in SOURCES:
            for file in sorted((ROOT / top).rglob(pattern)):
                source = file.relative_to(ROOT).as_posix()
                for number, line in enumerate(file.read_text(errors="replace").splitlines(), 1):
                    reason = judge_line(source, line, exists)
                    if reason:
                        found.append("%s:%d: %s (%s)" % (source, number, line.strip(), reason))
    return found


def main():
    failures = prove_rules()
    if failures:
        print("the layering rules do not judge as expected:", *failures, sep="\n  ")
        return 1
    found = check_tree()
    if found:
        print("includes against the layering:", *found, sep="\n  ")
        return 1
    print("layering: %d rule cases proved, every include of src, include, sim and tools keeps to the layers"
          % len(CASES))
    return 0


if __name__ == "__main__":
    sys.exit(main())
