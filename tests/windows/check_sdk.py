#!/usr/bin/env python3
"""Lists the Windows SDK archive against its layout (README.md, "Windows") and fails on a missing
or an unexpected file.

Usage: check_sdk.py ARCHIVE SOURCE-DIR
  ARCHIVE is build/<preset>/sdk/<name>.zip; its top folder must be <name>. An archive whose name
  says "test-build" must hold the test DLL, any other the product DLL, told apart by the
  description in their version resources. The headers, the samples and the licence are those of
  SOURCE-DIR.
"""
import fnmatch
import pathlib
import sys
import zipfile

# The layout below the top folder: (pattern, what must match it). "one": exactly one file;
# "some": at least one; "source": the same names as SOURCE-DIR holds there (none when it has
# none). Every file of the archive matches a row.
LAYOUT = [
    ("README.md", "one"),
    ("bin/Pelmux.dll", "one"),
    ("lib/Pelmux.lib", "one"),
    ("lib/libPelmux.a", "one"),
    ("lib/cmake/Pelmux/PelmuxConfig.cmake", "one"),
    ("lib/cmake/Pelmux/PelmuxConfigVersion.cmake", "one"),
    ("lib/pkgconfig/pelmux.pc", "one"),
    ("include/pelmux/*.h", "source"),
    ("docs/windows.md", "one"),
    ("docs/html/index.html", "one"),
    ("docs/html/*", "some"),
    ("samples/*.cpp", "source"),
    ("samples/CMakeLists.txt", "source"),
    ("samples/*", "any"),
    ("LICENSE*", "source"),
]

PRODUCT = "Pelmux hardware access library"
TEST_BUILD = "Pelmux test build for the simulated unit (not for a panel PC)"


# What building the samples in place leaves in the tree; no part of the archive.
LEFTOVERS = ("build", "CMakeFiles", "CMakeCache.txt")


def source_names(source, pattern):
    """The tree's files that `pattern` matches: below its first folder at any depth, or at the top."""
    folder, _, rest = pattern.partition("/")
    files = (source / folder).rglob("*") if rest else source.glob("*")
    names = (p.relative_to(source) for p in files if p.is_file())
    return sorted(n.as_posix() for n in names if not any(part.startswith(LEFTOVERS) or part.startswith(".")
                                                         for part in n.parts)
                  and fnmatch.fnmatchcase(n.as_posix(), pattern))


def judge(names, source, readme, dll, test_build):
    """The faults of an archive whose files below the top folder are `names`."""
    faults = []
    for pattern, rule in LAYOUT:
        matching = sorted(n for n in names if fnmatch.fnmatchcase(n, pattern))
        if rule == "one" and len(matching) != 1:
            faults.append(f"{pattern}: {len(matching)} files, expected one")
        elif rule == "some" and not matching:
            faults.append(f"{pattern}: missing")
        elif rule == "source" and matching != source_names(source, pattern):
            faults.append(f"{pattern}: {matching}, the tree has {source_names(source, pattern)}")
    for name in names:
        if not any(fnmatch.fnmatchcase(name, pattern) for pattern, _ in LAYOUT):
            faults.append(f"{name}: not in the layout")
    if "Jida.dll" not in readme or "Pelmux_DIR" not in readme:
        faults.append("README.md is not the README's Windows part (no Jida.dll, no Pelmux_DIR)")
    wanted, other = (TEST_BUILD, PRODUCT) if test_build else (PRODUCT, TEST_BUILD)
    if wanted.encode("utf-16-le") not in dll or other.encode("utf-16-le") in dll:
        faults.append(f"bin/Pelmux.dll does not describe itself as \"{wanted}\"")
    return faults


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    archive = pathlib.Path(sys.argv[1])
    source = pathlib.Path(sys.argv[2])
    if not archive.is_file():
        sys.exit(f"FAIL: no SDK archive {archive}")
    top = archive.name.removesuffix(".zip")
    with zipfile.ZipFile(archive) as zip_file:
        members = [m for m in zip_file.namelist() if not m.endswith("/")]
        outside = [m for m in members if not m.startswith(top + "/")]
        names = [m[len(top) + 1:] for m in members if m.startswith(top + "/")]

        def read(name):
            return zip_file.read(f"{top}/{name}") if name in names else b""

        faults = [f"{len(outside)} files outside the top folder {top}/, {outside[0]} first"] if outside else []
        faults += judge(names, source, read("README.md").decode("utf-8", "replace"), read("bin/Pelmux.dll"),
                        "test-build" in top)
    for fault in faults:
        print(f"FAIL: {archive.name}: {fault}")
    if faults:
        sys.exit(1)
    print(f"ok   {archive.name}: {len(names)} files in the documented layout")


if __name__ == "__main__":
    main()
