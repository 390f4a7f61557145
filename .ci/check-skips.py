#!/usr/bin/env python3
"""Lists the tests of the last ctest run in each build folder that did not run, and fails when
one of them is not in the allow-list (tests/skip-allowlist.txt) with its reason.

A skip is a test reported "not run" in the JUnit file ctest wrote (--output-junit), which covers
SKIP_RETURN_CODE and the GoogleTest skip marker, and any "[  SKIPPED ]" line in LastTest.log.
Allow-list lines: "<test name or fnmatch pattern>  <reason>"; "#" starts a comment.
Usage: check-skips.py ALLOWLIST BUILD_DIR...
"""

import fnmatch
import os
import re
import sys
import xml.etree.ElementTree as ElementTree


def read_allowlist(path):
    entries = []
    with open(path, encoding="utf-8") as handle:
        for number, line in enumerate(handle, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            parts = line.split(None, 1)
            if len(parts) < 2:
                sys.exit("%s:%d: an allowed skip needs its reason: %r" % (path, number, line))
            entries.append((parts[0], parts[1]))
    return entries


def skipped_tests(build):
    skips = {}
    junit = os.path.join(build, "ci-junit.xml")
    if os.path.exists(junit):
        for case in ElementTree.parse(junit).getroot().iter("testcase"):
            if case.get("status") == "notrun" or case.find("skipped") is not None:
                out = case.findtext("system-out") or ""
                reason = next((line.strip() for line in out.splitlines() if "Skipped" in line or "SKIP" in line),
                              "")
                marker = case.find("skipped")
                skips[case.get("name")] = reason or (marker.get("message", "") if marker is not None else "")
    log = os.path.join(build, "Testing", "Temporary", "LastTest.log")
    if os.path.exists(log):
        with open(log, encoding="utf-8", errors="replace") as handle:
            for line in handle:
                found = re.match(r"\[  SKIPPED \] (\S+)", line)
                if found and found.group(1) not in skips:
                    skips[found.group(1)] = ""
    return skips


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    allowed = read_allowlist(sys.argv[1])
    unlisted = []
    for build in sys.argv[2:]:
        for name, reason in sorted(skipped_tests(build).items()):
            match = next((why for pattern, why in allowed if fnmatch.fnmatchcase(name, pattern)), None)
            if match is None:
                unlisted.append("%s: %s  (%s)" % (os.path.basename(build.rstrip("/")), name, reason or "no reason"))
            else:
                print("check-skips: %s skipped (allowed: %s)" % (name, match))
    if unlisted:
        print("check-skips: these tests skipped and are not in %s:" % sys.argv[1])
        for line in unlisted:
            print("  " + line)
        return 1
    print("check-skips: no unlisted skips")
    return 0


if __name__ == "__main__":
    sys.exit(main())
