#!/usr/bin/env python3
"""Checks that no room includes a header of a room above it: app -> ui -> flash -> link -> framework.

Usage: check_arrows.py SOURCE_DIR
Every C and C++ file of a room may include its own room's headers and those of the rooms below;
tools/ and tests/ may include anything, and folders outside the rooms (res/) are not checked. An
include is followed as the compiler would: beside the including file first, then from the top of
the tree; one that leads to no file of the tree (a system header) is left alone."""
import pathlib
import re
import sys

# Highest first: a room may include only from itself and the rooms after it.
ROOMS = ["app", "ui", "flash", "link", "framework"]
SOURCES = {".c", ".cc", ".cpp", ".h", ".hpp", ".inc"}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')


def room_of(path: pathlib.Path, top: pathlib.Path):
    """The room a file of the tree lives in, or None outside the rooms."""
    try:
        first = path.relative_to(top).parts[0]
    except (ValueError, IndexError):
        return None
    return first if first in ROOMS else None


def resolve(name: str, including: pathlib.Path, top: pathlib.Path):
    """The file of the tree an include names, or None."""
    for base in (including.parent, top):
        candidate = (base / name).resolve()
        if candidate.is_file() and top in candidate.parents:
            return candidate
    return None


def violations(top: pathlib.Path):
    """(file, line number, included file) for every include that goes up the arrows."""
    top = top.resolve()
    found = []
    for room in ROOMS:
        rank = ROOMS.index(room)
        folder = top / room
        if not folder.is_dir():
            continue
        for path in sorted(folder.rglob("*")):
            if path.suffix not in SOURCES or not path.is_file():
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for number, line in enumerate(text.splitlines(), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = resolve(m.group(1), path, top)
                other = room_of(target, top) if target else None
                if other is not None and ROOMS.index(other) < rank:
                    found.append((path.relative_to(top), number, target.relative_to(top)))
    return found


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    found = violations(pathlib.Path(argv[1]))
    for path, number, target in found:
        print(f"{path}:{number}: includes {target}, from a room above {path.parts[0]}/")
    if found:
        print(f"{len(found)} include(s) against the arrows {' -> '.join(ROOMS)}", file=sys.stderr)
        return 1
    print("every include follows the arrows " + " -> ".join(ROOMS))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
