#!/usr/bin/env python3
"""The statistics and tables of scripts/bench.sh and scripts/bench-engine.sh, from their raw files.

    figures.py installer WORK --runs N --files N --size-mib N --installer EXE --prefix DIR
    figures.py engine CASE_DIR CASE_NAME

A raw file holds lines "KEY VALUE" as the bench programs print them. In the installer's files a line
"run N" starts run N; run 0 is the warm-up and is not counted. The engine's files have no runs: every
line counts. A figure is the median of its runs (the lower one of an even count).
"""
import argparse
import os
import sys

MIB = 1048576


def median(values):
    ordered = sorted(values)
    return ordered[(len(ordered) + 1) // 2 - 1] if ordered else None


def read_runs(path):
    """{key: [value of every counted run, in order]}; the warm-up run 0 is left out."""
    runs = {}
    run = 0
    with open(path, encoding="utf-8") as raw:
        for line in raw:
            words = line.split()
            if len(words) < 2:
                continue
            if words[0] == "run":
                run = int(words[1])
            elif run > 0:
                # "finished yes" counts as 1: a run that did not reach the finished page shows as 0.
                value = {"yes": 1.0, "no": 0.0}.get(words[1])
                runs.setdefault(words[0], []).append(float(words[1]) if value is None else value)
    return runs


def number(value):
    if value is None:
        return "-"
    return str(int(value)) if float(value).is_integer() else f"{value:.6g}"


def mib(value):
    return "-" if value is None else f"{value / MIB:.1f}"


def ratio(a, b):
    return f"{a / b:.2f}" if a is not None and b else "-"


def at_most(value, limit):
    return "-" if value is None else ("yes" if value <= limit else "NO")


class Runs:
    """One raw file of the installer's benchmark."""

    def __init__(self, path):
        self.values = read_runs(path)

    def all(self, key):
        return self.values.get(key, [])

    def median(self, key):
        return median(self.all(key))

    def seconds(self, key):
        """"MEDIAN s (MIN-MAX)": times drift between runs, so their spread is shown beside them."""
        v = self.all(key)
        return f"{number(median(v))} s ({number(min(v))}-{number(max(v))})" if v else "-"


def pair_ratio(a, a_key, b, b_key):
    """The disk's speed drifts by a factor of two within minutes here: the two sides' runs are taken in
    pairs, in turns first and second, and the ratio is the median of the pairs' ratios."""
    pairs = [x / y for x, y in zip(a.all(a_key), b.all(b_key)) if y > 0]
    return median(pairs)


def own_ratio(runs):
    """Each run against itself without the time the engine spent in the installer's callback: the disk's
    drift cancels out, so this shows the installer's own share alone."""
    pairs = [a / (a - c) for a, c in zip(runs.all("apply_seconds"), runs.all("callback_seconds")) if a > c]
    return median(pairs)


def times(value):
    return "-" if value is None else f"{value:.2f} x"


def installer_table(args):
    x = Runs(os.path.join(args.work, "extract", "installer.txt"))
    copy = Runs(os.path.join(args.work, "extract", "copy.txt"))
    one = Runs(os.path.join(args.work, "one_file", "installer.txt"))
    one_engine = Runs(os.path.join(args.work, "one_file", "engine.txt"))
    small = Runs(os.path.join(args.work, "small_files", "installer.txt"))
    small_engine = Runs(os.path.join(args.work, "small_files", "engine.txt"))
    start = Runs(os.path.join(args.work, "startup", "installer.txt"))
    fixture = Runs(os.path.join(args.work, "startup", "fixture.txt"))
    size, files = args.size_mib, args.files

    def latency(runs):
        return " / ".join(number(runs.median(k)) for k in ("ui_p50_ms", "ui_p99_ms", "ui_max_ms")) + " ms"

    extraction = pair_ratio(x, "press_to_entry_seconds", copy, "loop_seconds")
    one_ratio = pair_ratio(one, "apply_seconds", one_engine, "seconds")
    small_ratio = pair_ratio(small, "apply_seconds", small_engine, "seconds")
    callback = small.median("callback_seconds")
    calls = small.median("callback_calls")
    each = f"{callback * 1e6 / calls:.0f} us each" if callback is not None and calls else "-"
    small_apply = small.median("apply_seconds")
    without = f"{small_apply - callback:.3f} s" if small_apply is not None and callback is not None else "-"
    private = x.median("peak_private_bytes")
    engine_private = one_engine.median("peak_private_bytes")
    rows = [
        ("1", f"extraction of {size} MiB, start button to engine entry", x.seconds("press_to_entry_seconds"),
         "8092-byte loop " + copy.seconds("loop_seconds"), times(extraction), "<= 1.1 x",
         at_most(extraction, 1.1)),
        ("1", "the same against CopyFileW", number(x.median("press_to_entry_seconds")) + " s",
         "CopyFileW " + copy.seconds("copyfile_seconds"),
         ratio(x.median("press_to_entry_seconds"), copy.median("copyfile_seconds")) + " x", "-", "-"),
        ("1", "UI probe latency while extracting, p50 / p99 / max", latency(x), "-", "-", "p99 <= 100 ms",
         at_most(x.median("ui_p99_ms"), 100)),
        ("1", "installer peak private / peak working set while extracting",
         f"{mib(private)} / {mib(x.median('peak_working_set_bytes'))} MiB", "-", "-", "private <= 16 MiB",
         at_most(private, 16 * MIB)),
        ("2", f"patch run, one {size} MiB file changed", one.seconds("apply_seconds"),
         "engine alone " + one_engine.seconds("seconds"), times(one_ratio), "<= 1.1 x", at_most(one_ratio, 1.1)),
        ("2", "UI probe latency in that run, p50 / p99 / max", latency(one), "-", "-", "-", "-"),
        ("2", f"patch run, {files} files changed", small.seconds("apply_seconds"),
         "engine alone " + small_engine.seconds("seconds"), times(small_ratio), "<= 1.1 x",
         at_most(small_ratio, 1.1)),
        ("2", f"time in the installer's callback, {files} files ({number(calls)} notifications)",
         number(callback) + " s", each, "-", "<= 8 s, 0.1 ms each", at_most(callback, 8)),
        ("2", "the same run against itself without the time in the callback", number(small_apply) + " s",
         without, times(own_ratio(small)), "-", "-"),
        ("2", "UI probe latency in that run, p50 / p99 / max", latency(small), "-", "-", "p99 <= 100 ms",
         at_most(small.median("ui_p99_ms"), 100)),
        ("3", f"engine peak private memory, {size} MiB file (engine_bench; at start "
              f"{mib(one_engine.median('before_peak_private_bytes'))} MiB)", "-", f"{mib(engine_private)} MiB",
         "-", "<= 64 MiB", at_most(engine_private, 64 * MIB)),
        ("4", "start-up to a visible welcome page", start.seconds("seconds"),
         "minimal dialog " + fixture.seconds("seconds"),
         ratio(start.median("seconds"), fixture.median("seconds")) + " x", "-", "-"),
    ]
    print()
    print(f"Installer figures: {size} MiB, {files} files; median of {args.runs} runs after a warm-up, "
          f"one prefix ({args.prefix})")
    print(f"Installer measured: {args.installer}")
    for row in [("#", "measure", "installer", "reference", "ratio", "target", "met"), ("---",) * 7] + rows:
        print("| " + " | ".join(row) + " |")


def engine_keys(args):
    """One "CASE.KEY value" a line for the case in CASE_DIR: build.txt holds "SECONDS PEAK_KIB" a build,
    wine.txt and native.txt the apply programs' "KEY VALUE" lines of every run, loop.txt copy_bench's
    lines for the files the patch writes, after each run under Wine, and copy.txt copy_tree.py's for the
    same files, after each native run."""
    d, name = args.case_dir, args.name

    def column(index):
        with open(os.path.join(d, "build.txt"), encoding="utf-8") as raw:
            return [float(line.split()[index]) for line in raw if line.strip()]

    def values(file, k):
        with open(os.path.join(d, file), encoding="utf-8") as raw:
            return [float(w[1]) for w in (line.split() for line in raw) if len(w) >= 2 and w[0] == k]

    def key(file, k):
        return median(values(file, k))

    # Each apply under Wine was followed by the bare loop copying what it wrote: those pairs' ratios.
    pairs = zip(values("wine.txt", "seconds"), values("loop.txt", "loop_seconds"))
    over_loop = [apply / loop for apply, loop in pairs if loop > 0]
    pairs = zip(values("wine.txt", "seconds"), values("loop.txt", "flushed_loop_seconds"))
    over_flushed_loop = [apply / loop for apply, loop in pairs if loop > 0]
    native_pairs = zip(values("native.txt", "seconds"), values("copy.txt", "copy_seconds"))
    over_copy = [apply / copy for apply, copy in native_pairs if copy > 0]
    native_pairs = zip(values("native.txt", "seconds"), values("copy.txt", "synced_copy_seconds"))
    over_synced_copy = [apply / copy for apply, copy in native_pairs if copy > 0]

    new = os.path.join(d, "new")
    sizes = [os.path.getsize(os.path.join(top, f)) for top, _, names in os.walk(new) for f in names]
    with open(os.path.join(d, "verified.txt"), encoding="utf-8") as raw:
        verified = raw.read().strip() or "yes"
    for k, v in [
        ("files", str(len(sizes))),
        ("new_mib", mib(sum(sizes))),
        ("patch_bytes", str(os.path.getsize(os.path.join(d, "patch.rtp")))),
        ("build_seconds", number(median(column(0)))),
        ("build_peak_rss_mib", mib(median(column(1)) * 1024)),
        ("apply_seconds", number(key("wine.txt", "seconds"))),
        ("apply_start_private_mib", mib(key("wine.txt", "before_peak_private_bytes"))),
        ("apply_peak_private_mib", mib(key("wine.txt", "peak_private_bytes"))),
        ("loop_seconds", number(key("loop.txt", "loop_seconds"))),
        ("apply_over_loop", number(median(over_loop)) if over_loop else "-"),
        ("flushed_loop_seconds", number(key("loop.txt", "flushed_loop_seconds"))),
        ("apply_over_flushed_loop", number(median(over_flushed_loop)) if over_flushed_loop else "-"),
        ("apply_peak_working_set_mib", mib(key("wine.txt", "peak_working_set_bytes"))),
        ("native_apply_seconds", number(key("native.txt", "seconds"))),
        ("native_apply_peak_rss_mib", mib(key("native.txt", "peak_working_set_bytes"))),
        ("native_copy_seconds", number(key("copy.txt", "copy_seconds"))),
        ("native_apply_over_copy", number(median(over_copy)) if over_copy else "-"),
        ("native_synced_copy_seconds", number(key("copy.txt", "synced_copy_seconds"))),
        ("native_apply_over_synced_copy", number(median(over_synced_copy)) if over_synced_copy else "-"),
        ("verified", verified),
    ]:
        print(f"{name}.{k} {v}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    installer = commands.add_parser("installer", help="the installer's table (scripts/bench.sh)")
    installer.add_argument("work")
    installer.add_argument("--runs", type=int, required=True)
    installer.add_argument("--files", type=int, required=True)
    installer.add_argument("--size-mib", type=int, required=True)
    installer.add_argument("--installer", required=True)
    installer.add_argument("--prefix", required=True)
    installer.set_defaults(run=installer_table)
    engine = commands.add_parser("engine", help="one case's keys (scripts/bench-engine.sh)")
    engine.add_argument("case_dir")
    engine.add_argument("name")
    engine.set_defaults(run=engine_keys)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    sys.exit(main())
