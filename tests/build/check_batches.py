#!/usr/bin/env python3
"""Fails when two files of a batched target could not be compiled in one batch.

The tool, the simulated unit and the tests compile in batches of eight files, and which files share
a batch changes whenever a file is added or renamed. So that no such change can break files nobody
touched, every batched target is compiled here as one single batch, all its files together, with
the build's own command (syntax only): any file-local name that is not in the file's own
`PELMUX_FILE_SCOPE` namespace and clashes with another file's fails it, wherever the batches cut.

First proves on a table of cases that a clash fails the check, then checks the build folder given.
Usage: check_batches.py <build folder>
"""
import concurrent.futures
import json
import os
import pathlib
import re
import shlex
import subprocess
import sys
import tempfile

# A batch CMake writes: a file of its own scope name and an include per source file.
BATCH = re.compile(r"/CMakeFiles/(?P<target>[^/]+)\.dir/Unity/unity_(?P<number>\d+)_cxx\.cxx$")


def syntax_check(arguments, batch_text, folder):
    """Compiles `batch_text` with the compiler `arguments` (the file to compile last); answers
    (passed, the compiler's messages)."""
    source = pathlib.Path(folder) / "all_in_one_batch.cxx"
    source.write_text(batch_text)
    result = subprocess.run(arguments + ["-fsyntax-only", str(source)], capture_output=True, text=True)
    return result.returncode == 0, result.stderr


def one_batch(files):
    """The text of one batch holding `files` (path, scope name) in order, as CMake writes them."""
    return "".join('#undef PELMUX_FILE_SCOPE\n#define PELMUX_FILE_SCOPE %s\n#include "%s"\n' % (scope, path)
                   for path, scope in files)


def compile_arguments(entry):
    """The build's command for one batch without its source file, output and -c."""
    arguments = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    kept, skip = [], False
    for argument in arguments:
        if skip:
            skip = False
        elif argument in ("-o", "-c"):
            skip = argument == "-o"
        elif argument != entry["file"]:
            kept.append(argument)
    return kept


def targets_of(build):
    """Each batched target of the build: its compile command and all its batches' text, in order."""
    entries = json.loads((pathlib.Path(build) / "compile_commands.json").read_text())
    targets = {}
    for entry in entries:
        match = BATCH.search(entry["file"])
        if match:
            targets.setdefault(match["target"], []).append((int(match["number"]), entry))
    for target, batches in sorted(targets.items()):
        batches.sort(key=lambda numbered: numbered[0])
        text = "".join(pathlib.Path(entry["file"]).read_text() for _, entry in batches)
        yield target, compile_arguments(batches[0][1]), text


# (case, first file, second file, whether the two may share a batch)
CASES = [
    ("helpers in each file's own scope", "namespace PELMUX_FILE_SCOPE { bool report(int) { return true; } }",
     "namespace PELMUX_FILE_SCOPE { bool report(int) { return false; } }", True),
    ("one helper twice in anonymous namespaces", "namespace { bool report(int) { return true; } }",
     "namespace { bool report(int) { return false; } }", False),
    ("one static function twice", "static int count() { return 1; }", "static int count() { return 2; }", False),
    ("one type twice in a shared namespace", "namespace tool { struct Row { int a; }; }",
     "namespace tool { struct Row { int b; }; }", False),
]


def prove_check(compiler):
    failures = []
    for case, first, second, may_share in CASES:
        with tempfile.TemporaryDirectory() as folder:
            files = []
            for number, text in enumerate((first, second)):
                path = pathlib.Path(folder) / ("file%d.cpp" % number)
                path.write_text(text + "\n")
                files.append((str(path), "scope_%d" % number))
            passed, messages = syntax_check([compiler, "-std=c++20"], one_batch(files), folder)
            if passed != may_share:
                failures.append("%s: the check %s\n%s" % (case, "passed" if passed else "failed", messages))
    return failures


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1])
        return 2
    targets = list(targets_of(sys.argv[1]))
    if not targets:
        print("no batched targets in %s (configured with -DPELMUX_UNITY=OFF?)" % sys.argv[1])
        return 1
    failures = prove_check(targets[0][1][0])
    if failures:
        print("the check does not tell clashing files from others:", *failures, sep="\n  ")
        return 1
    def check(target, arguments, text):
        with tempfile.TemporaryDirectory() as folder:
            passed, messages = syntax_check(arguments, text, folder)
            return None if passed else "%s:\n%s" % (target, messages)

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        clashes = [found for found in pool.map(lambda batched: check(*batched), targets) if found]
    if clashes:
        print("files of one target that cannot share a batch:", *clashes, sep="\n")
        return 1
    print("batches: %d clash cases proved; %s each compile as one batch"
          % (len(CASES), ", ".join(target for target, _, _ in targets)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
