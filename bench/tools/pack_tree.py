#!/usr/bin/env python3
"""Packs every file below FOLDER into FOLDER/data.pak and removes the rest, as a game packs its assets:
each entry a header (name length, data length) with its name and bytes, the entries in an order that
SEED shuffles, so that two versions packed with different seeds hold their entries in other places.
   pack_tree.py FOLDER SEED"""
import os
import random
import shutil
import struct
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    folder, seed = sys.argv[1], int(sys.argv[2])
    entries = []
    for parent, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                entries.append((os.path.relpath(path, folder).encode(), f.read()))
    entries.sort()
    random.Random(seed).shuffle(entries)
    for item in os.listdir(folder):
        path = os.path.join(folder, item)
        shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    with open(os.path.join(folder, "data.pak"), "wb") as out:
        for name, data in entries:
            out.write(struct.pack("<HI", len(name), len(data)) + name + data)


if __name__ == "__main__":
    main()
