#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks of the source tree that need no build; exits 1 naming each fault.

licence   every .cpp, .h, .sh, CMakeLists.txt and .cmake file git knows
          carries "SPDX-License-Identifier: Apache-2.0" in its first lines.
reasons   the table "Reasons and errors" of docs/integrating.md and the
          texts of the plug-in (device/, engine/, utils/) agree, both ways:
          every reason posted with SetJPR (directly, through ReportError's
          own text or a snap's own reason) and every job log line of level 2
          (error; Log and LogMessage) has a row, and every row is such a text. A text is read
          from the code as a template: its string literals in order, the
          values between them (variables, printf conversions) standing for
          anything; a row writes those values in capitals, e.g.
          `Device [DEVICE] is invalid or not supported`.

  scripts/check-sources.py [licence|reasons]...   (default: both)
"""
import os
import re
import subprocess
import sys

TOP = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
SPDX = "SPDX-License-Identifier: Apache-2.0"
GUIDE = "docs/integrating.md"
PLUGIN_DIRS = ("device", "engine", "utils")


def check_licence():
    files = subprocess.run(["git", "-C", TOP, "ls-files", "-z"], check=True,
                           capture_output=True, text=True).stdout.split("\0")
    faults = []
    for path in sorted(f for f in files if f):
        name = os.path.basename(path)
        if not (name == "CMakeLists.txt" or name.endswith((".cpp", ".h", ".sh", ".cmake"))):
            continue
        full = os.path.join(TOP, path)
        if not os.path.isfile(full):
            continue
        with open(full, encoding="utf-8", errors="replace") as f:
            head = [f.readline() for _ in range(3)]
        if not any(SPDX in line for line in head):
            faults.append(f"{path}: no '{SPDX}' in its first lines")
    return faults


# --- C++ scanning --------------------------------------------------------

LITERAL = re.compile(r'"(?:[^"\\\n]|\\.)*"')


def strip_comments(text):
    """Blanks // and /* */ comments, keeping string literals and lines."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if c == '"':
            m = LITERAL.match(text, i)
            end = m.end() if m else i + 1
            out.append(text[i:end])
            i = end
        elif c == "'":
            m = re.compile(r"'(?:[^'\\\n]|\\.)*'").match(text, i)
            end = m.end() if m else i + 1
            out.append(text[i:end])
            i = end
        elif text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
        else:
            out.append(c)
            i += 1
    return "".join(out)


def bracket_walk(text, start=0):
    """(index, character, depth) of each character from start, string
    literals skipped; depth is the bracket depth outside the character
    itself (an opening bracket at depth d is given d, its closing one d)."""
    depth, i = 0, start
    while i < len(text):
        c = text[i]
        if c == '"':
            i = LITERAL.match(text, i).end()
            continue
        if c in ")]}":
            depth -= 1
        yield i, c, depth
        if c in "([{":
            depth += 1
        i += 1


def call_args(text, open_paren):
    """The top-level arguments of the call whose '(' is at open_paren."""
    start, args = open_paren + 1, []
    for i, c, depth in bracket_walk(text, open_paren):
        if (c == "," and depth == 1) or (c in ")]}" and depth == 0):
            args.append(text[start:i].strip())
            start = i + 1
            if c != ",":
                return args
    raise ValueError("unbalanced call")


def statement(text, start):
    """The text from start to the end of its statement (a ';' outside
    literals and brackets)."""
    for i, c, depth in bracket_walk(text, start):
        if c == ";" and depth <= 0:
            return text[start:i]
    return text[start:]


def top_level_ternary(expr):
    """(a, b) of 'cond ? a : b' at the top level, else None."""
    q = -1
    for i, c, depth in bracket_walk(expr):
        if depth != 0:
            continue
        if c == "?" and q < 0:
            q = i
        elif c == ":" and q >= 0 and expr[i - 1] != ":" and expr[i + 1:i + 2] != ":":
            return expr[q + 1:i], expr[i + 1:]
    return None


def unescape(literal):
    body = literal[1:-1]
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), body)


def templates_of(expr, text, pos, depth=0):
    """The texts an expression can give, each a list of literal pieces and
    None for each value between them; [None] when one cannot be read."""
    expr = expr.strip()
    if depth > 4:
        return [None]
    alternatives = top_level_ternary(expr)
    if alternatives:
        return (templates_of(alternatives[0], text, pos, depth + 1) +
                templates_of(alternatives[1], text, pos, depth + 1))
    pieces, last = [], 0
    for m in LITERAL.finditer(expr):
        between = expr[last:m.start()].strip()
        # Adjacent literals are one piece; anything else between is a value.
        if between and between != "+":
            pieces.append(None)
        if pieces and isinstance(pieces[-1], str) and not between:
            pieces[-1] += unescape(m.group())
        else:
            pieces.append(unescape(m.group()))
        last = m.end()
    rest = expr[last:].strip()
    if pieces:
        if rest and rest != "+":
            pieces.append(None)
        return [pieces]
    name = re.sub(r"\.c_str\(\)$", "", expr)
    call = re.fullmatch(r"(?:\w+::)*(\w+)\(.*\)", name, re.S)
    if call:  # a function of the plug-in that returns the text
        for body in [text] + list(PLUGIN_TEXTS.values()):
            m = re.search(r"::" + call.group(1) + r"\([^;{]*\)\s*(?:const\s*)?\{\s*return\b", body)
            if m:
                return templates_of(statement(body, m.end()), body, m.end(), depth + 1)
        return [None]
    if re.fullmatch(r"[A-Za-z_][\w.]*", name):
        assignments = [m for m in re.finditer(r"\b" + re.escape(name) + r"\s*=(?!=)", text)]
        if "." not in name:  # a local: its last assignment before the use
            assignments = [m for m in assignments if m.start() < pos][-1:]
        out = []
        for m in assignments:
            out += templates_of(statement(text, m.end()), text, m.end(), depth + 1)
        return out or [None]
    return [None]


def printf_pieces(fmt_pieces):
    """Splits literal pieces at printf conversions."""
    out = []
    for p in fmt_pieces:
        if p is None:
            out.append(None)
            continue
        parts = re.split(r"%(?:z|l|ll)?[sdu]", p)
        for k, part in enumerate(parts):
            if k:
                out.append(None)
            out.append(part)
    return [p for p in out if p != ""]


PLUGIN_TEXTS = {}  # path: text without comments, of every .cpp file of the plug-in


def code_texts():
    """(template, where) for every reason and error line of the plug-in."""
    found = []
    for d in PLUGIN_DIRS:
        for name in sorted(os.listdir(os.path.join(TOP, d))):
            if name.endswith(".cpp"):
                path = f"{d}/{name}"
                PLUGIN_TEXTS[path] = strip_comments(
                    open(os.path.join(TOP, path), encoding="utf-8").read())
    for path, text in PLUGIN_TEXTS.items():

        def where(pos):
            return f"{path}:{text.count(chr(10), 0, pos) + 1}"

        for m in re.finditer(r"\bSetJPR\s*\(", text):
            if re.search(r"(?:void|int)\s+(?:\w+::)?$", text[:m.start()]):
                continue  # a definition
            args = call_args(text, m.end() - 1)
            if args[1] == '""':
                continue  # clears the reason
            if args[1] == "sBracketed.c_str()":
                continue  # the device's SetJPR: brackets what it is given
            if args[1] == "pszOwnText":
                continue  # ReportError's: its callers' texts are read below
            found += [(t, where(m.start())) for t in templates_of(args[1], text, m.start())]
        for m in re.finditer(r"\bReportError\s*\(", text):
            if re.search(r"void\s+\w+::$", text[:m.start()]):
                continue
            args = call_args(text, m.end() - 1)
            found += [(t, where(m.start())) for t in templates_of(args[-1], text, m.start())]
        for m in re.finditer(r"(?:->|\.)Log\s*\(\s*2\s*,", text):
            args = call_args(text, m.end() - len(m.group()) + m.group().index("("))
            for fmt in templates_of(args[2], text, m.start()):
                if fmt == ["%s"] and len(args) > 3:
                    ts = templates_of(args[3], text, m.start())
                else:
                    ts = [printf_pieces(fmt) if fmt else None]
                found += [(t, where(m.start())) for t in ts]
        for m in re.finditer(r"(?:->|\.)LogMessage\s*\(\s*2\s*,", text):
            args = call_args(text, m.start() + m.group().index("("))
            found += [(t, where(m.start())) for t in templates_of(args[1], text, m.start())]
    return found


def guide_rows():
    rows, on = [], False
    path = os.path.join(TOP, GUIDE)
    for k, line in enumerate(open(path, encoding="utf-8"), 1):
        if line.startswith("## "):
            on = line.strip() == "## Reasons and errors"
            continue
        if on and line.startswith("| `"):
            cell = re.match(r"\| `((?:[^`])*)`", line).group(1).replace("\\|", "|")
            rows.append((cell, f"{GUIDE}:{k}"))
    return rows


def pattern_of(template):
    """A row writes each value as a word in capitals (or a few of them)."""
    out = []
    for p in template:
        out.append(r"[A-Z][A-Z0-9_ .,|-]*" if p is None else re.escape(p))
    return re.compile("".join(out))


def check_reasons():
    faults = []
    texts = code_texts()
    rows = guide_rows()
    if not rows:
        return [f"{GUIDE}: no table under '## Reasons and errors'"]
    used = set()
    for template, where in texts:
        if not template or not any(template):
            faults.append(f"{where}: the text of this reason or error cannot be read from the code")
            continue
        pat = pattern_of(template)
        hits = [i for i, (cell, _) in enumerate(rows) if pat.fullmatch(cell)]
        if not hits:
            shown = "".join("VALUE" if p is None else p for p in template)
            faults.append(f"{where}: '{shown}' has no row in {GUIDE}")
        used.update(hits)
    for i, (cell, where) in enumerate(rows):
        if i not in used:
            faults.append(f"{where}: '{cell}' is no text of the plug-in")
    return faults


def main(argv):
    checks = {"licence": check_licence, "reasons": check_reasons}
    names = argv[1:] or list(checks)
    faults = []
    for name in names:
        if name not in checks:
            print(f"check-sources: unknown check '{name}'", file=sys.stderr)
            return 2
        faults += checks[name]()
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print(f"check-sources: {len(faults)} fault(s)", file=sys.stderr)
        return 1
    print(f"check-sources: {', '.join(names)}: no fault")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
