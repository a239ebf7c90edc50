#!/usr/bin/env python3
"""The layers hold: every include of the program's own headers is one the README's layer table allows.

    LayersTest.py REPOSITORY

The table (under "## Layout") has a row a folder, bottom layer first: its first cell names the folder
(or header) in backticks, its last cell the folders it may include, in backticks. A file may include its
own folder and what its row names; every folder a row names must have a row above it, so no layer leans
on one above it and there are no circles. Quoted includes resolve against the repository, then src/.
"""
import os
import re
import sys

TICKS = re.compile(r"`([^`]+)`")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCES = (".h", ".cpp")


def read_table(readme):
    """[(folder, allowed folders)] in the table's order."""
    with open(readme, encoding="utf-8") as text:
        lines = text.read().split("## Layout", 1)[1].split("\n## ", 1)[0].splitlines()
    rows = []
    for line in lines:
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) < 3 or not cells[0].startswith("`"):
            continue
        rows.append((TICKS.findall(cells[0])[0], TICKS.findall(cells[-1])))
    return rows


def resolve(root, include):
    for base in ("", "src"):
        if os.path.exists(os.path.join(root, base, include)):
            return os.path.join(base, include).replace(os.sep, "/")
    return None


def owner(rows, path):
    """The row whose folder holds `path`, the longest that does."""
    found = [folder for folder, _ in rows if path == folder or path.startswith(folder + "/")]
    return max(found, key=len) if found else None


def main(root):
    rows = read_table(os.path.join(root, "README.md"))
    failures = []
    if len(rows) < 10:
        failures.append(f"README.md: the layer table has {len(rows)} rows")
    above = set()
    for folder, allowed in rows:
        failures += [f"README.md: {folder} may include {name}, which has no row above it"
                     for name in allowed if name not in above]
        above.add(folder)
    allows = dict(rows)
    checked = 0
    for folder, _ in rows:
        if not os.path.isdir(os.path.join(root, folder)):
            continue
        for top, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if not name.endswith(SOURCES):
                    continue
                path = os.path.relpath(os.path.join(top, name), root).replace(os.sep, "/")
                if owner(rows, path) != folder:
                    continue
                with open(os.path.join(root, path), encoding="utf-8") as text:
                    includes = INCLUDE.findall(text.read())
                for include in includes:
                    checked += 1
                    target = resolve(root, include) or resolve(root, os.path.join(os.path.dirname(path), include))
                    layer = owner(rows, target) if target else None
                    if target is None or layer is None:
                        failures.append(f"{path}: includes \"{include}\", which belongs to no layer")
                    elif layer != folder and layer not in allows[folder]:
                        failures.append(f"{path}: includes \"{include}\" ({layer}), not allowed for {folder}")
    for failure in failures:
        print(f"FAILED: {failure}")
    print(f"{checked} includes in {len(rows)} layers checked, {len(failures)} against the table")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
