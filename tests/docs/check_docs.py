#!/usr/bin/env python3
"""Fails when a public type, operation or function in include/pelmux has no doc comment.

Runs Doxygen with docs/Doxyfile (warnings as errors) on the headers, then proves that the check
bites: for each case below it removes one doc comment from a copy of the headers and expects
Doxygen to fail naming what lost its comment.
"""
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[2]

# (header, a text on the declaration's line, the name Doxygen must report)
UNDOCUMENTED_CASES = [
    ("Pelmux.h", "GetAdc();", "GetAdc"),
    ("ResultCode.h", "GetErrorStringW(ResultCode", "GetErrorStringW"),
    ("Pelmux.h", "GetStartupReasonStringA(unsigned", "GetStartupReasonStringA"),
    ("Adc.h", "getVoltage(VoltageChannel", "getVoltage"),
    ("Telematics.h", "getBTPowerStatus(", "getBTPowerStatus"),
    ("Battery.h", "struct BatteryTimeRecord", "BatteryTimeRecord"),
    ("Lightsensor.h", "enum RangeMode", "RangeMode"),
    ("Diagnostic.h", "diagnosticRecordSize =", "diagnosticRecordSize"),
    ("FirmwareUpgrade.h", "percent;", "percent"),
]


def run_doxygen(headers, out):
    """Doxygen over `headers` with the project's settings; returns (exit status, messages)."""
    config = (ROOT / "docs" / "Doxyfile").read_text()
    config += "\nINPUT = %s\nOUTPUT_DIRECTORY = %s\nSTRIP_FROM_PATH = %s\n" % (headers, out, headers.parent)
    result = subprocess.run(["doxygen", "-"], input=config, text=True, capture_output=True, cwd=ROOT)
    return result.returncode, (result.stdout + result.stderr).strip()


def strip_doc(header, marker):
    """Removes the doc comment of the declaration holding `marker`: the /// lines above it and a
    trailing ///< comment."""
    lines = header.read_text().split("\n")
    at = next(i for i, line in enumerate(lines) if marker in line)
    lines[at] = re.sub(r"\s*///<.*$", "", lines[at])
    start = at
    while start > 0 and lines[start - 1].lstrip().startswith("///"):
        start -= 1
    if start == at and "///<" not in header.read_text().split("\n")[at]:
        raise SystemExit("check_docs: no doc comment to remove at %s: %s" % (header.name, marker))
    header.write_text("\n".join(lines[:start] + lines[at:]))


def main():
    if shutil.which("doxygen") is None:
        print("FAIL: doxygen is missing (make deps installs it)")
        return 1
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        status, messages = run_doxygen(ROOT / "include" / "pelmux", work / "out")
        if status != 0 or messages:
            print("\n".join(messages.split("\n")[:60]))
            print("FAIL: the public headers have undocumented declarations")
            failures += 1
        else:
            print("ok   every public declaration in include/pelmux is documented")
        for header, marker, name in UNDOCUMENTED_CASES:
            copy = work / "case" / "pelmux"
            shutil.rmtree(copy.parent, ignore_errors=True)
            shutil.copytree(ROOT / "include" / "pelmux", copy)
            strip_doc(copy / header, marker)
            status, messages = run_doxygen(copy, work / "case-out")
            if status != 0 and re.search(r"\b%s\b.*not documented" % re.escape(name), messages):
                print("ok   %s without its comment is reported" % name)
            else:
                print("FAIL: %s without its comment passed the check (exit %d):" % (name, status))
                print("\n".join(messages.split("\n")[:20]))
                failures += 1
    print("%d documentation checks failed" % failures if failures else "documentation checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
