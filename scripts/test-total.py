#!/usr/bin/env python3
"""The closing lines for the test suites, from CTest's JUnit files (ctest --output-junit FILE): the
slowest tests with their times, then one line of totals.

    test-total.py FILE...    a file that is missing or empty is a suite that did not run
"""
import os
import sys
import xml.etree.ElementTree as ElementTree


SLOWEST = 20


def main(paths):
    run = failed = 0
    times = []
    for path in paths:
        if not os.path.exists(path) or os.path.getsize(path) == 0:
            continue
        suite = ElementTree.parse(path).getroot()
        tests, failures = int(suite.get("tests", 0)), int(suite.get("failures", 0))
        errors, skipped = int(suite.get("errors", 0)), int(suite.get("skipped", 0))
        run += tests - skipped
        failed += failures + errors
        times += [(float(case.get("time", 0)), case.get("name", "?")) for case in suite.iter("testcase")]
    print(f"the {SLOWEST} slowest tests:")
    for seconds, name in sorted(times, reverse=True)[:SLOWEST]:
        print(f"  {seconds:7.2f} s  {name}")
    print(f"total: {run - failed} passed, {failed} failed")
    return 0 if run > 0 and failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
