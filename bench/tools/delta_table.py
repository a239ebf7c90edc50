#!/usr/bin/env python3
"""Prints the tables of scripts/bench-delta.sh from its raw figures, one table per pair.

    delta_table.py RESULTS/PAIR.txt...

Each raw file holds lines "KEY VALUE...":
    pair NAME, label TEXT, runs N, new_bytes N, new_files N, new_tar_bytes N
    TOOL.patch_bytes N
    TOOL.build SECONDS PEAK_KIB        one line a timed run
    TOOL.apply SECONDS PEAK_KIB        one line a timed run (engine-wine: peak private memory)
    TOOL.verified yes|no               the applied result equals the new version
    TOOL.skipped TEXT                  the tool could not run
    engine-wine.i386 native|emulated   how the 32-bit engine ran (emulated: under qemu-i386)
Seconds are elapsed time, memory the peak resident set in KiB.
The tables show medians. "/ best" divides a patch by the smallest of the bsdiff, xdelta3 and zstd
patches of that pair; "apply / copy" divides an apply time by that of a copy of the new folder that syncs each file.
"""
import statistics
import sys

TOOLS = ("bsdiff", "xdelta3", "zstd", "engine", "engine-wine", "copy")
REFERENCES = ("bsdiff", "xdelta3", "zstd")
HEADINGS = ("tool", "patch bytes", "/ best", "build s", "build MiB", "apply s", "apply MiB", "apply / copy")
GAP = "  "
DASH = "-"


class Pair:
    def __init__(self, path):
        self.path = path
        self.fields = {}
        self.timings = {}  # "TOOL.build" -> [(seconds, kib), ...]
        with open(path, encoding="utf-8") as raw:
            for number, line in enumerate(raw, 1):
                key, _, rest = line.rstrip("\n").partition(" ")
                if not key:
                    continue
                if key.endswith(".build") or key.endswith(".apply"):
                    try:
                        seconds, kib = rest.split()
                        self.timings.setdefault(key, []).append((float(seconds), float(kib)))
                    except ValueError:
                        sys.exit(f"delta_table: {path}:{number}: expected 'KEY SECONDS KIB', got {line!r}")
                else:
                    self.fields[key] = rest

    def number(self, key):
        value = self.fields.get(key)
        return int(value) if value is not None else None

    def median(self, key, index):
        runs = self.timings.get(key)
        return statistics.median(run[index] for run in runs) if runs else None


def grouped(value):
    return DASH if value is None else f"{value:,}"


def fixed(value, digits):
    return DASH if value is None else f"{value:,.{digits}f}"


def mib(kib):
    return None if kib is None else kib / 1024


def ratio(value, reference):
    if value is None or not reference:
        return None
    return value / reference


def layout(rows):
    """The rows as lines: the first column left-aligned, the others right-aligned, each as wide as its
    widest cell. A row of two cells (a tool that could not run, and why) has the second take the rest."""
    widths = [max(len(r[i]) for r in rows if len(r) > 2 or i == 0) for i in range(len(HEADINGS))]
    lines = []
    for r in rows:
        if len(r) == 2:
            lines.append(r[0].ljust(widths[0]) + GAP + r[1])
            continue
        cells = [r[0].ljust(widths[0])] + [cell.rjust(width) for cell, width in zip(r[1:], widths[1:])]
        lines.append(GAP.join(cells).rstrip())
    return lines


def table(pair):
    lines = [
        f"pair {pair.fields.get('pair', pair.path)}: {pair.fields.get('label', '')}, "
        f"new {grouped(pair.number('new_bytes'))} bytes in {grouped(pair.number('new_files'))} files "
        f"(tarred {grouped(pair.number('new_tar_bytes'))})",
    ]
    rows = [HEADINGS]
    sizes = [pair.number(f"{tool}.patch_bytes") for tool in REFERENCES]
    sizes = [size for size in sizes if size is not None]
    best = min(sizes) if sizes else None
    copy_seconds = pair.median("copy.apply", 0)
    for tool in TOOLS:
        skipped = pair.fields.get(f"{tool}.skipped")
        if skipped is not None:
            rows.append((tool, skipped))
            continue
        size = pair.number(f"{tool}.patch_bytes")
        apply_seconds = pair.median(f"{tool}.apply", 0)
        if size is None and apply_seconds is None:
            continue
        cells = [
            tool,
            grouped(size),
            fixed(ratio(size, best), 3),
            fixed(pair.median(f"{tool}.build", 0), 2),
            fixed(mib(pair.median(f"{tool}.build", 1)), 1),
            fixed(apply_seconds, 3),
            # A copy's memory says nothing about applying; it is the time reference only.
            DASH if tool == "copy" else fixed(mib(pair.median(f"{tool}.apply", 1)), 1),
            fixed(ratio(apply_seconds, copy_seconds), 1),
        ]
        rows.append(cells)
    lines += layout(rows)
    for tool in REFERENCES:
        if pair.fields.get(f"{tool}.verified", "yes") != "yes":
            lines.append(f"{tool} verified: no (its result differs from the new tar)")
    lines.append(f"engine verified: {pair.fields.get('engine.verified', 'no')}")
    if "engine-wine.verified" in pair.fields:
        lines.append(f"engine-wine verified: {pair.fields['engine-wine.verified']}")
    if pair.fields.get("engine-wine.i386") == "emulated":
        # The emulator slows the processor, not the disk: its times compare with each other only.
        lines.append("engine-wine: the 32-bit engine under qemu-i386 (emulated); its times are not comparable to the native rows")
    return lines


def main(paths):
    if not paths:
        sys.exit("usage: delta_table.py RESULTS/PAIR.txt...")
    pairs = [Pair(path) for path in paths]
    blocks = ["\n".join(table(pair)) for pair in pairs]
    print("\n\n".join(blocks))
    runs = sorted({pair.fields.get("runs", "?") for pair in pairs})
    print()
    print(f"Medians of {'/'.join(runs)} timed runs. Seconds are elapsed time from /usr/bin/time (%e), or under 1 s")
    print("from the shell's clock around it (%e counts in 10 ms steps); MiB is the peak resident set from")
    print("/usr/bin/time (%M), under Wine the peak private memory that engine_bench reports.")
    print("The page cache is warm for all: the folders and tars were just written and the copy ran once untimed.")
    print("bsdiff, xdelta3 and zstd work on the two folders tarred, the engine on the folders themselves;")
    print("'/ best' is the patch over the smallest of bsdiff, xdelta3 and zstd; 'apply / copy' is over copy's time")
    print("(a copy that syncs each file it writes, as the engine does; bsdiff, xdelta3 and zstd do not sync).")


if __name__ == "__main__":
    main(sys.argv[1:])
