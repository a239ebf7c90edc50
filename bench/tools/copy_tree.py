#!/usr/bin/env python3
"""The native apply reference of bench-delta.sh and bench-engine.sh: copies a folder with plain 1 MiB reads
and writes, as a program that writes the new files itself would (cp may hand the work to the kernel's
copy_file_range instead). With --sync each file is put on the disk (fsync) before it is closed, as the
engine's commit does. With --seconds it prints "copy_seconds N", the copy alone.

    copy_tree.py [--seconds] [--sync] SOURCE TARGET
"""
import os
import sys
import time

CHUNK = 1 << 20


def copy_tree(source, target, sync):
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
                if sync:
                    os.fsync(dst.fileno())


if __name__ == "__main__":
    args = sys.argv[1:]
    flags = {"--seconds", "--sync"}
    seconds, sync = "--seconds" in args, "--sync" in args
    args = [a for a in args if a not in flags]
    if len(args) != 2:
        sys.exit("usage: copy_tree.py [--seconds] [--sync] SOURCE TARGET")
    start = time.perf_counter()
    copy_tree(args[0], args[1], sync)
    if seconds:
        print(f"copy_seconds {time.perf_counter() - start:.3f}")
