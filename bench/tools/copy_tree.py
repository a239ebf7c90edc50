#!/usr/bin/env python3
"""The native apply reference of bench-delta.sh and bench-engine.sh: copies a folder with plain 1 MiB reads
and writes, as a program that writes the new files itself would (cp may hand the work to the kernel's
copy_file_range instead). With --seconds it prints "copy_seconds N", the copy alone.

    copy_tree.py [--seconds] SOURCE TARGET
"""
import os
import sys
import time

CHUNK = 1 << 20


def copy_tree(source, target):
    for folder, _, files in os.walk(source):
        into = os.path.join(target, os.path.relpath(folder, source))
        os.makedirs(into, exist_ok=True)
        for name in files:
            with open(os.path.join(folder, name), "rb", buffering=0) as src, \
                    open(os.path.join(into, name), "wb", buffering=0) as dst:
                while True:
                    piece = src.read(CHUNK)
                    if not piece:
                        break
                    dst.write(piece)


if __name__ == "__main__":
    args = sys.argv[1:]
    seconds = args[:1] == ["--seconds"]
    if seconds:
        args = args[1:]
    if len(args) != 2:
        sys.exit("usage: copy_tree.py [--seconds] SOURCE TARGET")
    start = time.perf_counter()
    copy_tree(args[0], args[1])
    if seconds:
        print(f"copy_seconds {time.perf_counter() - start:.3f}")
