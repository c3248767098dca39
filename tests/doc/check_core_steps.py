#!/usr/bin/env python3
"""Holds the update core's step folders against the README's table.

The folders below libs/updatecore/src must be those the README's "Inside
the update core" table lists; a file includes only headers of its own
folder or of folders above its own in the table; and no two files of the
core include each other, directly or through others.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
src = root / "libs/updatecore/src"
readme = (root / "README.md").read_text()
section = readme.split("### Inside the update core", 1)[1].split("\n## ", 1)[0]
order = re.findall(r"^\| `(\w+)/` \|", section, re.M)

problems = []
folders = sorted(p.name for p in src.iterdir() if p.is_dir())
if sorted(order) != folders:
    problems.append(f"step table lists {order}, the tree has {folders}")
loose = sorted(p.name for p in src.iterdir() if p.is_file())
if loose:
    problems.append(f"files outside the step folders: {loose}")

rank = {folder: i for i, folder in enumerate(order)}
includes = {}  # "folder/Name" -> set of "folder/Name" it includes
for path in sorted(src.glob("*/*")):
    unit = f"{path.parent.name}/{path.stem}"
    targets = includes.setdefault(unit, set())
    for folder, name in re.findall(r'#include "(\w+)/(\w+)\.h"', path.read_text()):
        if folder not in rank:
            continue
        if rank[folder] > rank.get(path.parent.name, -1):
            problems.append(f"{path.relative_to(src)} includes {folder}/{name}.h, a later step")
        if f"{folder}/{name}" != unit:
            targets.add(f"{folder}/{name}")

# A cycle among the files (a header and its source count as one unit).
state = {}


def visit(unit, trail):
    state[unit] = "open"
    for target in sorted(includes.get(unit, ())):
        if state.get(target) == "open":
            problems.append("include cycle: " + " -> ".join(trail[trail.index(target):] + [target]))
        elif target not in state:
            visit(target, trail + [target])
    state[unit] = "done"


for unit in sorted(includes):
    if unit not in state:
        visit(unit, [unit])

for problem in problems:
    print(problem)
print(f"{len(includes)} units in {len(folders)} step folders checked")
sys.exit(1 if problems else 0)
