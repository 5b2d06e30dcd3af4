#!/usr/bin/env python3
"""Checks the export table of Pelmux.dll: module name, every name at its ordinal, nothing else."""
import re
import subprocess
import sys

FIRST = [
    "GetAbout", "GetAdc", "GetAuxVersion", "GetBacklight", "GetBuzzer", "GetPelmuxPrivate",
    "GetCanSetting", "GetConfig", "GetDiagnostic", "GetDigIO", "Varnholt::GetErrorStringA",
    "Varnholt::GetErrorStringW", "GetFirmwareUpgrade", "GetFrontLED",
    "Varnholt::GetHwErrorStatusStringA", "Varnholt::GetHwErrorStatusStringW", "GetLightsensor",
    "GetPower", "Varnholt::GetStartupReasonStringA", "Varnholt::GetStartupReasonStringW",
    "GetTelematics", "GetTouchScreen", "GetTouchScreenCalib", "GetVideo",
]


def expected():
    table = {}
    for i, name in enumerate(FIRST):
        table[i + 1] = name
        bare = name.split("::")[-1]
        table[i + 25] = "_%s@%d" % (bare, 4 if "::" in name else 0)
    table.update({49: "GetBattery", 50: "_GetBattery@0", 51: "GetPowerMgr", 52: "_GetPowerMgr@0"})
    return table


def check_version_resource(dll):
    """The version resource carries 1.5.0.0 as file and product version."""
    data = open(dll, "rb").read()
    problems = []
    signature = data.find(bytes.fromhex("bd04effe"))
    if signature < 0:
        return ["no version resource"]
    words = [int.from_bytes(data[signature + 8 + 4 * i:signature + 12 + 4 * i], "little") for i in range(4)]
    if words != [0x00010005, 0, 0x00010005, 0]:
        problems.append("fixed version info is %s, not 1.5.0.0" % [hex(w) for w in words])
    for key in ("FileVersion", "ProductVersion"):
        entry = (key + "\0").encode("utf-16-le")
        at = data.find(entry)
        if at < 0 or "1.5.0.0\0".encode("utf-16-le") not in data[at:at + 64]:
            problems.append("string %s is not 1.5.0.0" % key)
    return problems


def main():
    dll, objdump = sys.argv[1], sys.argv[2]
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    module = re.search(r"^Name\s+\S+\s+(\S+)$", text, re.M)
    base = re.search(r"^Ordinal Base\s+(\d+)", text, re.M)
    names = text.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
    found = {int(m.group(1)) + int(base.group(1)): m.group(2)
             for m in re.finditer(r"^\s*\[\s*(\d+)\]\s+(\S+)$", names, re.M)}
    # The export address table: which entry point each ordinal reaches.
    addresses = {int(m.group(2)): m.group(3)
                 for m in re.finditer(r"\[\s*(\d+)\] \+base\[\s*(\d+)\]\s+(\w+) Export RVA", text)}
    problems = []
    if module is None or module.group(1) != "Pelmux.dll":
        problems.append("module name is %r, not Pelmux.dll" % (module and module.group(1)))
    want = expected()
    for ordinal, name in sorted(want.items()):
        if found.get(ordinal) != name:
            problems.append("ordinal %d: expected %s, found %s" % (ordinal, name, found.get(ordinal)))
    for ordinal in sorted(set(found) - set(want)):
        problems.append("unexpected export %s at ordinal %d" % (found[ordinal], ordinal))
    # A plain name and its alias lead to the same code.
    for ordinal in range(1, 25):
        if addresses.get(ordinal) != addresses.get(ordinal + 24):
            problems.append("ordinals %d and %d reach different code" % (ordinal, ordinal + 24))
    for a, b in ((49, 50), (51, 52)):
        if addresses.get(a) != addresses.get(b):
            problems.append("ordinals %d and %d reach different code" % (a, b))
    problems += check_version_resource(dll)
    if problems:
        print("\n".join(problems))
        print("0 passed, 1 failed: export table of %s" % dll)
        return 1
    print("export table of %s: %d names at their ordinals" % (dll, len(want)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
