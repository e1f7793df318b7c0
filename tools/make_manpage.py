#!/usr/bin/python3
"""Writes a program's manual page from its --help, so that the two never disagree.

The help is read as the programs write it: a "Usage: ..." line first (the synopsis), then
free text; a line at the left margin that ends with ":" ("Options:", "Environment:") starts a
section; an indented line that starts with an option or a variable ("--bpm B", "-h, --help",
"VIBRELLE_DATA_DIR=1") followed by two spaces is a term and its text, and the more indented
lines after it continue that text. Anything else is running text, and a blank line ends a
paragraph.

Usage:
    /usr/bin/python3 tools/make_manpage.py PROGRAM SECTION "SUMMARY" OUT [VERSION]
        runs PROGRAM --help and writes the page (roff, man macros) to OUT
"""

import re
import subprocess
import sys

TERM = re.compile(r"^(\s+)((?:-{1,2}|[A-Z][A-Z0-9_]+\b)\S*(?: [^\s-][^\s]*)*(?:, --?\S+(?: \S+)?)?)(?:\s{2,}(.*))?$")


def escape(text):
    """Plain text as roff: backslashes and hyphens escaped, no line starting a request."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def page(program, section, summary, version, help_text):
    lines = help_text.rstrip("\n").split("\n")
    out = ['.TH %s %s "" "Vibrelle %s" "Vibrelle"' % (program.upper(), section, version)]
    out += [".SH NAME", "%s \\- %s" % (escape(program), escape(summary))]
    usage = []
    while lines and (lines[0].startswith("Usage: ") or (usage and lines[0].startswith("       "))):
        usage.append(lines.pop(0)[len("Usage: "):].strip())
    out.append(".SH SYNOPSIS")
    for line in usage:
        out += [".nf", escape(line), ".fi"]
    out.append(".SH DESCRIPTION")
    term_indent = None
    for line in lines:
        if not line.strip():
            out.append(".PP")
            term_indent = None
            continue
        if not line[0].isspace() and line.endswith(":") and len(line) < 40:
            out.append(".SH " + escape(line[:-1].upper()))
            term_indent = None
            continue
        match = TERM.match(line)
        if match and (term_indent is None or len(match.group(1)) <= term_indent):
            term_indent = len(match.group(1))
            out += [".TP", ".B " + escape(match.group(2))]
            if match.group(3):
                out.append(escape(match.group(3).strip()))
            continue
        indent = len(line) - len(line.lstrip())
        if term_indent is not None and indent <= term_indent:
            out.append(".PP")  # running text again, after the terms
            term_indent = None
        out.append(escape(line.strip()))
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) not in (4, 5):
        sys.stderr.write(__doc__)
        return 2
    program_path, section, summary, out_path = argv[:4]
    version = argv[4] if len(argv) == 5 else ""
    help_text = subprocess.run([program_path, "--help"], check=True, capture_output=True, text=True).stdout
    program = program_path.rsplit("/", 1)[-1]
    with open(out_path, "w") as out:
        out.write(page(program, section, summary, version, help_text))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
