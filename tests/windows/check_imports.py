#!/usr/bin/env python3
"""Prints the DLLs a Windows module imports (objdump -p) and checks them against a list.

Usage: check_imports.py MODULE OBJDUMP
The product Pelmux.dll imports system DLLs of Windows only: no run-time DLL of the cross compiler
(it links them statically), no Jida.dll (loaded at run time), and no Winsock (only the test build
reaches the unit over TCP). Exits 0 when every import is allowed, 1 otherwise.
"""
import re
import subprocess
import sys

SYSTEM = {"kernel32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll", "user32.dll", "ole32.dll",
          "ntdll.dll"}


def imports(module, objdump):
    text = subprocess.run([objdump, "-p", module], check=True, capture_output=True, text=True).stdout
    return re.findall(r"^\s*DLL Name: (\S+)\s*$", text, re.MULTILINE)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    names = imports(sys.argv[1], sys.argv[2])
    print(f"{sys.argv[1]} imports: {', '.join(names) if names else '(nothing)'}")
    foreign = [n for n in names if n.lower() not in SYSTEM]
    for name in foreign:
        print(f"FAILED: the product DLL must not import {name}")
    if "kernel32.dll" not in {n.lower() for n in names}:
        print("FAILED: no import of KERNEL32.dll: the import table was not read")
        return 1
    return 1 if foreign else 0


if __name__ == "__main__":
    sys.exit(main())
