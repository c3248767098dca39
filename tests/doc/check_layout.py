#!/usr/bin/env python3
"""Holds the README's layout table and layer graph against the CMake files.

Every library and executable of libs/ and apps/ must be named in the table
with its folder, and the graph must show exactly the links between the
project's own targets that the CMake files declare.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
readme = (root / "README.md").read_text()
section = readme.split("## Source layout", 1)[1].split("\n## ", 1)[0]

declared = {}  # target -> folder
links = set()  # (from, to) among the project's targets
for cmake in sorted(root.glob("libs/*/CMakeLists.txt")) + sorted(root.glob("apps/*/CMakeLists.txt")):
    folder = cmake.parent.relative_to(root).as_posix() + "/"
    text = cmake.read_text()
    for target in re.findall(r"add_(?:library|executable)\((\w+)", text):
        declared[target] = folder
    for target, body in re.findall(r"target_link_libraries\((\w+)([^)]*)\)", text):
        for word in body.split():
            links.add((target, word))

problems = []
table = {}
for row in re.findall(r"^\| `([^`]+)` \| ([^|]*)\|", section, re.M):
    folder, targets = row
    for target in re.findall(r"`(\w+)`", targets):
        table[target] = folder
for target, folder in declared.items():
    if table.get(target) != folder:
        problems.append(f"layout table: {target} should be listed under `{folder}`")
for target in table:
    if target not in declared:
        problems.append(f"layout table: {target} is not a target of libs/ or apps/")

ours = set(declared)
links = {(a, b) for a, b in links if b in ours}
graph = set()
for line in section.splitlines():
    if "->" not in line:
        continue
    # An edge is a target, an arrow, and the next target.
    tokens = re.findall(r"-+>|\w+", line)
    for a, arrow, b in zip(tokens, tokens[1:], tokens[2:]):
        if a in ours and arrow.endswith(">") and b in ours:
            graph.add((a, b))
for a, b in sorted(links - graph):
    problems.append(f"layer graph: missing {a} -> {b}")
for a, b in sorted(graph - links):
    problems.append(f"layer graph: {a} -> {b} is not a link in CMake")

for problem in problems:
    print(problem)
print(f"{len(declared)} targets, {len(links)} links checked")
sys.exit(1 if problems else 0)
