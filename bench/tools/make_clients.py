#!/usr/bin/env python3
"""The clients the benchmarks patch (scripts/bench.sh, scripts/bench-engine.sh): DIR/old and DIR/new.

    make_clients.py one DIR SIZE_MIB    a SIZE_MIB file with scattered edits, an insertion and a tail,
                                        beside a 2 MiB bin/zav.exe with 100 bytes changed
    make_clients.py many DIR            20,000 small files: 2,000 changed, 500 deleted, 500 added
    make_clients.py small DIR N         N files, every one changed: N - 1 small data files and common.ini
    make_clients.py scale DIR GIB       a client of today's size: a GIB GiB packed file with 2,000 random
                                        edits of 1 to 8 KiB, and 100,000 small files in deep folders, 5 %
                                        changed, 1 % deleted, 1,000 added; unchanged files are hard links
                                        between DIR/old and DIR/new. DIR/changed_bytes: the bytes edited
                                        and added
    make_clients.py written DIR         DIR/written: links to the files of DIR/new that a patch writes
                                        (changed or added), for copy references of the same bytes

The installer's clients (one, small) have bin/zav.exe and common.ini with build 4526 (old) or 4536 (new);
the engine alone patches many.
The big file's bytes are random; the small cases are the same on every run.
"""
import filecmp
import os
import random
import shutil
import sys

MIB = 1048576


def put(root, name, data):
    path = os.path.join(root, *name.split("\\"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def builds(work):
    put(os.path.join(work, "old"), "common.ini", b"build=4526\r\n")
    put(os.path.join(work, "new"), "common.ini", b"build=4536\r\n")


def one_file(work, size_mib):
    old, new = os.path.join(work, "old"), os.path.join(work, "new")
    half = size_mib * MIB // 2
    os.makedirs(os.path.join(old, "data"), exist_ok=True)
    os.makedirs(os.path.join(new, "data"), exist_ok=True)
    old_big, new_big = os.path.join(old, "data", "big.pak"), os.path.join(new, "data", "big.pak")
    # Written and copied a mebibyte at a time: the file may be larger than the memory to spare.
    with open(old_big, "wb") as out:
        for _ in range(size_mib):
            out.write(os.urandom(MIB))
    # The new big file: 4 KiB inserted halfway and 1 MiB more at the end, then 64 scattered 1 KiB edits.
    with open(old_big, "rb") as source, open(new_big, "wb") as out:
        left = half
        while left:
            piece = source.read(min(MIB, left))
            out.write(piece)
            left -= len(piece)
        out.write(os.urandom(4096))
        shutil.copyfileobj(source, out, MIB)
        out.write(os.urandom(MIB))
    with open(new_big, "r+b") as out:
        for i in range(64):
            out.seek((i * size_mib * 16 + 7) * 1024)
            out.write(os.urandom(1024))
    exe = bytearray(os.urandom(2 * MIB))
    put(old, "bin\\zav.exe", bytes(exe))
    exe[500000:500100] = os.urandom(100)
    put(new, "bin\\zav.exe", bytes(exe))
    builds(work)


def many_files(work):
    rng = random.Random(4536)
    old, new = os.path.join(work, "old"), os.path.join(work, "new")
    names = [f"d{d:03}\\f{f:03}.dat" for d in range(200) for f in range(100)]
    for name in names:
        put(old, name, rng.randbytes(rng.randint(512, 8192)))
    shutil.copytree(old, new)
    picked = rng.sample(names, 2500)
    for name in picked[:2000]:
        path = os.path.join(new, *name.split("\\"))
        with open(path, "rb") as source:
            data = bytearray(source.read())
        at = rng.randrange(len(data))
        data[at:at + 16] = rng.randbytes(16)
        with open(path, "wb") as out:
            out.write(bytes(data))
    for name in picked[2000:]:
        os.remove(os.path.join(new, *name.split("\\")))
    for i in range(500):
        put(new, f"added\\a{i:03}.dat", rng.randbytes(rng.randint(512, 8192)))


def small_files(work, count):
    rng = random.Random(4536)
    old, new = os.path.join(work, "old"), os.path.join(work, "new")
    exe = rng.randbytes(65536)
    put(old, "bin\\zav.exe", exe)
    put(new, "bin\\zav.exe", exe)
    builds(work)
    for i in range(count - 1):
        name = f"d{i // 100:03}\\f{i % 100:02}.dat"
        data = bytearray(rng.randbytes(rng.randint(512, 4096)))
        put(old, name, bytes(data))
        at = rng.randrange(len(data))
        data[at:at + 16] = rng.randbytes(16)
        put(new, name, bytes(data))


def scale(work, size_gib):
    rng = random.Random(4536)
    old, new = os.path.join(work, "old"), os.path.join(work, "new")
    changed = 0
    os.makedirs(os.path.join(old, "data"), exist_ok=True)
    os.makedirs(os.path.join(new, "data"), exist_ok=True)
    old_big, new_big = os.path.join(old, "data", "packed.pak"), os.path.join(new, "data", "packed.pak")
    with open(old_big, "wb") as out:
        for _ in range(size_gib * 1024):
            out.write(os.urandom(MIB))
    shutil.copyfile(old_big, new_big)
    with open(new_big, "r+b") as out:
        for _ in range(2000):
            size = rng.randint(1024, 8192)
            out.seek(rng.randrange(size_gib * 1024 * MIB - size))
            out.write(rng.randbytes(size))
            changed += size
    names = [f"s{i % 40:02}\\t{i % 13:02}\\u\\v{i // 1000:03}\\f{i:06}.dat" for i in range(100000)]
    for name in names:
        put(old, name, rng.randbytes(rng.randint(512, 4096)))
    for i, name in enumerate(names):
        source = os.path.join(old, *name.split("\\"))
        if i % 100 == 1:
            continue  # deleted
        if i % 20 == 0:
            with open(source, "rb") as file:
                data = bytearray(file.read())
            at = rng.randrange(len(data) - 64)
            data[at:at + 64] = rng.randbytes(64)
            changed += 64
            put(new, name, bytes(data))
            continue
        target = os.path.join(new, *name.split("\\"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        os.link(source, target)
    for i in range(1000):
        data = rng.randbytes(rng.randint(512, 4096))
        put(new, f"added\\a{i:04}.dat", data)
        changed += len(data)
    with open(os.path.join(work, "changed_bytes"), "w", encoding="utf-8") as out:
        out.write(f"{changed}\n")


def written(work):
    old, new, out = (os.path.join(work, part) for part in ("old", "new", "written"))
    shutil.rmtree(out, ignore_errors=True)
    for top, _, names in os.walk(new):
        for name in names:
            path = os.path.join(top, name)
            relative = os.path.relpath(path, new)
            before = os.path.join(old, relative)
            if os.path.isfile(before) and filecmp.cmp(before, path, shallow=False):
                continue
            os.makedirs(os.path.dirname(os.path.join(out, relative)), exist_ok=True)
            os.link(path, os.path.join(out, relative))


def main(argv):
    usage = "usage: make_clients.py one DIR SIZE_MIB | many DIR | small DIR N | scale DIR GIB | written DIR"
    if len(argv) == 4 and argv[1] == "one" and argv[3].isdigit() and int(argv[3]) > 0:
        one_file(argv[2], int(argv[3]))
    elif len(argv) == 3 and argv[1] == "many":
        many_files(argv[2])
    elif len(argv) == 4 and argv[1] == "small" and argv[3].isdigit() and int(argv[3]) > 1:
        small_files(argv[2], int(argv[3]))
    elif len(argv) == 4 and argv[1] == "scale" and argv[3].isdigit() and int(argv[3]) > 0:
        scale(argv[2], int(argv[3]))
    elif len(argv) == 3 and argv[1] == "written":
        written(argv[2])
    else:
        print(usage, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
