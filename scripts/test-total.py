#!/usr/bin/env python3
"""One closing line for the test suites, from CTest's JUnit files (ctest --output-junit FILE).

    test-total.py FILE...    a file that is missing or empty is a suite that did not run
"""
import os
import sys
import xml.etree.ElementTree as ElementTree


def main(paths):
    run = failed = 0
    for path in paths:
        if not os.path.exists(path) or os.path.getsize(path) == 0:
            continue
        suite = ElementTree.parse(path).getroot()
        tests, failures = int(suite.get("tests", 0)), int(suite.get("failures", 0))
        errors, skipped = int(suite.get("errors", 0)), int(suite.get("skipped", 0))
        run += tests - skipped
        failed += failures + errors
    print(f"total: {run - failed} passed, {failed} failed")
    return 0 if run > 0 and failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
