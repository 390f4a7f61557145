#!/usr/bin/env python3
"""Turns one of Pellmere's manual page sources (a small Markdown subset) into a gzipped man page.

Usage: md2man.py SOURCE.md OUTPUT.gz

The subset, which is all our pages use:
  % NAME SECTION DATE          first line: the title
  # HEADING                    a section (.SH)
  ## HEADING                   a subsection (.SS)
  `-o`, `--option` *ARG*        a line of its own followed by indented lines: a tagged
      what it does             paragraph (.TP), the usual form of an option or a command
  - item                       a bullet list item
  ```                          a literal block, kept line for line
  blank line                   a new paragraph
Inline: **bold**, *italic*, `code` (bold).

The output is compressed without a name or time stamp, so the same source always gives the
same bytes (reproducible packages).
"""
import gzip
import re
import sys


def escape(text):
    text = text.replace("\\", "\\e")
    # A hyphen in an option must stay a minus sign, or copying from the page breaks it.
    return text.replace("-", "\\-")


def inline(text):
    out = []
    pos = 0
    for match in re.finditer(r"\*\*(.+?)\*\*|`(.+?)`|\*(.+?)\*", text):
        out.append(escape(text[pos:match.start()]))
        bold = match.group(1) or match.group(2)
        if bold is not None:
            out.append("\\fB" + escape(bold) + "\\fR")
        else:
            out.append("\\fI" + escape(match.group(3)) + "\\fR")
        pos = match.end()
    out.append(escape(text[pos:]))
    line = "".join(out)
    # A line that begins with a dot or an apostrophe would be read as a request.
    if line.startswith((".", "'")):
        line = "\\&" + line
    return line


def convert(lines):
    if not lines or not lines[0].startswith("% "):
        raise ValueError("the first line must be '% NAME SECTION DATE'")
    title = lines[0][2:].split()
    if len(title) < 3:
        raise ValueError("the title line needs a name, a section and a date")
    name, section, date = title[0], title[1], title[2]
    out = ['.TH "%s" "%s" "%s" "Pellmere" "User Commands"' % (name.upper(), section, date)]
    i = 1
    literal = False
    while i < len(lines):
        line = lines[i]
        i += 1
        if line.startswith("```"):
            literal = not literal
            out.append(".nf" if literal else ".fi")
            continue
        if literal:
            out.append(escape(line) if not line.startswith((".", "'")) else "\\&" + escape(line))
            continue
        if not line.strip():
            if out[-1] not in (".PP", ".TP") and not out[-1].startswith((".SH", ".SS")):
                out.append(".PP")
            continue
        if line.startswith("## "):
            out.append('.SS "%s"' % line[3:].strip())
        elif line.startswith("# "):
            out.append('.SH "%s"' % line[2:].strip().upper())
        elif line.startswith("- "):
            out.append(".IP \\(bu 2")
            out.append(inline(line[2:].strip()))
        elif i < len(lines) and lines[i].startswith("    ") and not line.startswith(" "):
            # A term with its indented description.
            if out[-1] == ".PP":
                out.pop()
            out.append(".TP")
            out.append(inline(line.strip()))
            while i < len(lines) and lines[i].startswith("    "):
                out.append(inline(lines[i].strip()))
                i += 1
        else:
            out.append(inline(line.strip()))
    if literal:
        raise ValueError("a literal block is not closed")
    while out[-1] == ".PP":
        out.pop()
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(sys.argv[1], encoding="utf-8") as source:
        lines = source.read().splitlines()
    try:
        page = convert(lines)
    except ValueError as error:
        sys.stderr.write("md2man: %s: %s\n" % (sys.argv[1], error))
        return 1
    with open(sys.argv[2], "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as out:
            out.write(page.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
