#!/usr/bin/env python3
"""Lists the longest C++ functions (lines from the head to the closing brace) under some folders, as they
are at a git revision or in the working tree.
    scripts/longest-functions.py [--rev REV] [--top N] [FOLDER...]     (FOLDER defaults to engine)"""
import argparse
import os
import re
import subprocess

HEAD = re.compile(r"^(\s*)(?:[\w:<>,\*&~]+\s+)+\**&?([\w:~]+)\s*\(")
NOT_FUNCTIONS = {"if", "for", "while", "switch", "return", "else", "do", "case", "sizeof", "static_assert"}


def sources(root, rev, folders):
    if rev:
        names = subprocess.run(["git", "ls-tree", "-r", "--name-only", rev, *folders], cwd=root,
                               capture_output=True, text=True, check=True).stdout.split()
    else:
        names = [os.path.relpath(os.path.join(d, f), root) for folder in folders
                 for d, _, files in os.walk(os.path.join(root, folder)) for f in files]
    for name in sorted(names):
        if not name.endswith((".cpp", ".h", ".c")):
            continue
        if rev:
            text = subprocess.run(["git", "show", f"{rev}:{name}"], cwd=root, capture_output=True,
                                  text=True).stdout
        else:
            with open(os.path.join(root, name), encoding="utf-8", errors="replace") as f:
                text = f.read()
        yield name, text.split("\n")


def functions(lines):
    i = 0
    while i < len(lines):
        match = HEAD.match(lines[i])
        if match and match.group(2) not in NOT_FUNCTIONS and not lines[i].lstrip().startswith(("return", "//", "#")):
            j = i
            while j < len(lines) and j < i + 8 and not lines[j].rstrip().endswith(("{", ";")):
                j += 1
            if j < len(lines) and lines[j].rstrip().endswith("{") and "=" not in lines[i].split("(")[0]:
                depth, k = 0, j
                while k < len(lines):
                    depth += lines[k].count("{") - lines[k].count("}")
                    if depth <= 0:
                        break
                    k += 1
                yield k - i + 1, match.group(2)
                i = k + 1
                continue
        i += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rev")
    parser.add_argument("--top", type=int, default=8)
    parser.add_argument("folders", nargs="*", default=["engine"])
    args = parser.parse_args()
    root = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True, text=True,
                          check=True).stdout.strip()
    found = [(length, name, function) for name, lines in sources(root, args.rev, args.folders)
             for length, function in functions(lines)]
    for length, name, function in sorted(found, reverse=True)[: args.top]:
        print(f"{length:5d}  {name}  {function}")


if __name__ == "__main__":
    main()
