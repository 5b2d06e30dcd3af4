#!/usr/bin/env python3
"""Makes the Windows SDK archive: one zip whose top folder holds the package tree that `cmake
--install` lays out (bin/Pelmux.dll, include/pelmux/, lib/ with both import libraries, the CMake
package and the pkg-config file), the API reference (docs/html/, written here by doxygen from
docs/Doxyfile), docs/windows.md, the README's Windows part as README.md, the samples (samples/,
when the tree has them) and the licence (when the tree has one). Run by the `pelmux_sdk` target.

Usage: sdk_archive.py --source DIR --package DIR --doxygen PROGRAM --work DIR --name NAME --version V [--test]
  writes WORK/NAME.zip. --test marks the test build's archive: its README says so first.
"""
import argparse
import pathlib
import shutil
import subprocess
import sys
import zipfile

# The README's part for application developers on Windows: this heading up to the next heading of
# its level or above.
WINDOWS_HEADING = "### Windows"
# Left out of samples/: what building them in place leaves behind.
SAMPLE_LEFTOVERS = ("build", ".git", "CMakeFiles", "CMakeCache.txt")

TEST_NOTE = """> **Test build for the simulated unit, not for a panel PC.** Its `Pelmux.dll` reaches the
> unit's driver and service over loopback TCP (`PELMUX_UNIT=tcp:ADDRESS:PORT`, a `pelmux sim
> --tcp`); on a panel PC it finds no unit. Ship the product archive instead.

"""


def heading_level(line):
    stripped = line.lstrip("#")
    if not line.startswith("#") or not stripped.startswith(" "):
        return None
    return len(line) - len(stripped)


def windows_part(readme):
    """The README's Windows part, its headings raised so that it opens with a title of its own."""
    lines = readme.splitlines()
    try:
        start = lines.index(WINDOWS_HEADING)
    except ValueError:
        sys.exit(f"sdk_archive.py: README.md has no line '{WINDOWS_HEADING}'")
    level = heading_level(WINDOWS_HEADING)
    part = []
    fenced = False
    for line in lines[start + 1:]:
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced and heading_level(line) is not None:
            if heading_level(line) <= level:
                break
            line = line[level - 1:]
        part.append(line)
    return "\n".join(part).strip("\n") + "\n"


def api_reference(source, doxygen, output):
    """Writes the API reference of include/pelmux into OUTPUT/html with the project's Doxyfile."""
    shutil.rmtree(output, ignore_errors=True)
    output.mkdir(parents=True)
    config = (source / "docs" / "Doxyfile").read_text() + f"\nOUTPUT_DIRECTORY = {output}\n"
    done = subprocess.run([doxygen, "-"], input=config, text=True, cwd=source)
    if done.returncode != 0 or not (output / "html" / "index.html").is_file():
        sys.exit("sdk_archive.py: doxygen did not write the API reference")
    return output / "html"


def tree_files(top, leave_out=()):
    for path in sorted(top.rglob("*")):
        if path.is_file() and not any(part in leave_out for part in path.relative_to(top).parts):
            yield path


def main():
    arguments = argparse.ArgumentParser()
    arguments.add_argument("--source", type=pathlib.Path, required=True)
    arguments.add_argument("--package", type=pathlib.Path, required=True)
    arguments.add_argument("--doxygen", required=True)
    arguments.add_argument("--work", type=pathlib.Path, required=True)
    arguments.add_argument("--name", required=True)
    arguments.add_argument("--version", required=True)
    arguments.add_argument("--test", action="store_true")
    options = arguments.parse_args()
    source = options.source.resolve()

    readme = windows_part((source / "README.md").read_text(encoding="utf-8"))
    if options.test:
        readme = TEST_NOTE + readme
    title = f"# Pelmux {options.version} for Windows\n\n"
    html = api_reference(source, options.doxygen, options.work / "api-reference")

    # (name in the archive below its top folder, file on disk)
    entries = [(p.relative_to(options.package).as_posix(), p) for p in tree_files(options.package)]
    entries += [("docs/html/" + p.relative_to(html).as_posix(), p) for p in tree_files(html)]
    entries.append(("docs/windows.md", source / "docs" / "windows.md"))
    samples = source / "samples"
    if samples.is_dir():
        entries += [("samples/" + p.relative_to(samples).as_posix(), p)
                    for p in tree_files(samples, SAMPLE_LEFTOVERS)]
    entries += [(p.name, p) for p in sorted(source.glob("LICENSE*")) if p.is_file()]

    # One archive in the folder: none of an earlier version stays beside it.
    for old in options.work.glob("*.zip"):
        old.unlink()
    archive = options.work / (options.name + ".zip")
    partial = archive.with_suffix(".zip.partial")
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as out:
        out.writestr(f"{options.name}/README.md", title + readme)
        for name, path in entries:
            out.write(path, f"{options.name}/{name}")
    partial.replace(archive)
    print(f"SDK archive: {archive} ({len(entries) + 1} files)")


if __name__ == "__main__":
    main()
