#!/usr/bin/env python3
"""Fails when a public type, operation or function in include/pelmux has no doc comment, or no
summary: a first sentence of at most BRIEF_LIMIT characters, the line the reference's member tables
show. Fails too when the getting-started page names a factory or a result code without linking it.

Runs Doxygen with docs/Doxyfile (warnings as errors) on the headers and the getting-started page,
then proves that the checks bite: for each case below it removes one doc comment from a copy of the
headers and expects Doxygen to fail naming what lost its comment, or lengthens a first sentence and
expects the summary check to name it.
"""
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

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


# (header, a text of a first sentence, what makes it longer, the name the summary check must report)
LONG_SUMMARY_CASES = [
    ("Adc.h", "in volts. It is", "in volts, as", "getVoltage"),
]

BRIEF_LIMIT = 150
PAGE = ROOT / "docs" / "getting-started.md"


def run_doxygen(headers, out):
    """Doxygen over `headers` and the getting-started page with the project's settings, HTML and
    XML; returns (exit status, messages)."""
    config = (ROOT / "docs" / "Doxyfile").read_text()
    config += "\nINPUT = %s %s\nOUTPUT_DIRECTORY = %s\nSTRIP_FROM_PATH = %s\nGENERATE_XML = YES\n" % (
        headers, PAGE, out, headers.parent)
    result = subprocess.run(["doxygen", "-"], input=config, text=True, capture_output=True, cwd=ROOT)
    return result.returncode, (result.stdout + result.stderr).strip()


def summary_faults(out):
    """Every documented declaration whose summary (Doxygen's brief description) is empty or longer
    than BRIEF_LIMIT characters, as "name: length" texts."""
    faults = set()
    for path in (out / "xml").glob("*.xml"):
        root = ElementTree.parse(path).getroot()
        for item in root.iter():
            if item.tag == "memberdef" or (item.tag == "compounddef" and item.get("kind") == "struct"):
                name = item.findtext("name") or item.findtext("compoundname")
                brief = " ".join("".join(item.find("briefdescription").itertext()).split())
                if not brief or len(brief) > BRIEF_LIMIT:
                    faults.add("%s: %d characters" % (name, len(brief)))
    return sorted(faults)


def unlinked_names(out):
    """Factories and result codes that the getting-started page names without a link (code
    examples and quoted texts aside)."""
    page = (out / "html" / "index.html").read_text()
    page = re.sub(r'<div class="fragment">.*?</div><!-- fragment -->', "", page, flags=re.S)
    page = re.sub(r"<a [^>]*>.*?</a>", "", page, flags=re.S)
    text = re.sub(r"&quot;[^&]*&quot;|\"[^\"]*\"", "", re.sub(r"<[^>]+>", " ", page))
    return sorted(set(re.findall(r"\bGet[A-Z]\w*\(\)|\bERR_[A-Z_0-9]+", text)))


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
            faults = summary_faults(work / "out")
            if faults:
                print("FAIL: declarations without a summary of at most %d characters:\n    %s"
                      % (BRIEF_LIMIT, "\n    ".join(faults)))
                failures += 1
            else:
                print("ok   every public declaration has a summary of at most %d characters" % BRIEF_LIMIT)
            unlinked = unlinked_names(work / "out")
            if unlinked:
                print("FAIL: the getting-started page names these without a link: %s" % ", ".join(unlinked))
                failures += 1
            else:
                print("ok   the getting-started page links every factory and result code it names")
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
        for header, text, longer, name in LONG_SUMMARY_CASES:
            copy = work / "case" / "pelmux"
            shutil.rmtree(copy.parent, ignore_errors=True)
            shutil.copytree(ROOT / "include" / "pelmux", copy)
            source = (copy / header).read_text()
            if source.count(text) != 1:
                raise SystemExit("check_docs: no single %r in %s" % (text, header))
            (copy / header).write_text(source.replace(text, longer))
            shutil.rmtree(work / "case-out", ignore_errors=True)
            run_doxygen(copy, work / "case-out")
            if any(fault.startswith(name + ":") for fault in summary_faults(work / "case-out")):
                print("ok   %s with a long first sentence is reported" % name)
            else:
                print("FAIL: %s with a long first sentence passed the summary check" % name)
                failures += 1
    print("%d documentation checks failed" % failures if failures else "documentation checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
