#!/usr/bin/env python3
"""Writes the pelmux(1) manual page from the tool's own help: the top-level help, then one section
per command (every group walked down), so that the page never says other than --help does.

    make_man.py PELMUX OUTPUT
"""
import re
import subprocess
import sys


def help_text(tool, words):
    return subprocess.run([tool, *words, "--help"], capture_output=True, text=True, check=True).stdout


def subcommands(text):
    """The command names listed under "Subcommands:" of a help text."""
    names, listing = [], False
    for line in text.splitlines():
        if line.startswith("Subcommands:"):
            listing = True
        elif listing and not line.strip():
            break
        elif listing:
            match = re.match(r"\s+(\S+)", line)
            if match:
                names.append(match.group(1))
    return names


def roff(text):
    """Help text as literal roff lines: backslashes doubled, a leading dot or quote protected."""
    lines = []
    for line in text.rstrip().splitlines():
        line = line.replace("\\", "\\e")
        lines.append("\\&" + line if line.startswith((".", "'")) else line)
    return "\n".join(lines)


def main():
    tool, output = sys.argv[1], sys.argv[2]
    top = help_text(tool, [])
    page = [
        '.TH PELMUX 1 "" "pelmux" "User Commands"',
        ".SH NAME",
        "pelmux \\- hardware access of the panel PC from the shell, and a simulated unit",
        ".SH SYNOPSIS",
        ".B pelmux",
        "[\\-\\-json] COMMAND [ARGUMENTS]",
        ".SH DESCRIPTION",
        ".nf",
        roff(top),
        ".fi",
        ".SH COMMANDS",
    ]
    pending = [[name] for name in subcommands(top)]
    while pending:
        words = pending.pop(0)
        text = help_text(tool, words)
        page += [".SS " + " ".join(words), ".nf", roff(text), ".fi"]
        pending[0:0] = [words + [name] for name in subcommands(text)]
    page += [".SH ENVIRONMENT", ".TP", ".B PELMUX_ROOT",
             "The folder that stands for the unit: its board socket, registry and drive C:.",
             ".TP", ".B PELMUX_TRACE", "Sends the library's trace texts to standard error."]
    with open(output, "w", encoding="utf-8") as out:
        out.write("\n".join(page) + "\n")


if __name__ == "__main__":
    main()
