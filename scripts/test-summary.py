#!/usr/bin/python3
"""The summary of a whole run (scripts/test.sh): one line per suite (a
label of the run's tests), then the verdict, which comes from the run's exit
status; ctest's results (its JUnit file) say what passed, failed and was
skipped, and why. A suite is skipped where its tests skipped (the reason is
the last line of a skipped test's output) or were left out of the run.

usage: test-summary.py BUILD_DIR EXIT_STATUS SECONDS"""
import json
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from collections import defaultdict
from pathlib import Path

SETUP_PREFIXES = ("setup.", "cleanup.")


def labels(build_dir):
    """Every test of the run with its labels, as ctest lists them."""
    listed = subprocess.run(["ctest", "--test-dir", str(build_dir), "--show-only=json-v1"],
                            capture_output=True, text=True, check=True).stdout
    found = {}
    for test in json.loads(listed)["tests"]:
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        found[test["name"]] = props.get("LABELS", [])
    return found


def results(path):
    """{test: (outcome, seconds, reason)}: passed, failed or skipped."""
    found = {}
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        out = (case.findtext("system-out") or "").strip().splitlines()
        last = out[-1].strip() if out else ""
        skipped = case.find("skipped")
        if case.get("status") == "run":
            outcome = "passed"
        elif skipped is not None and skipped.get("message", "").startswith("SKIP_"):
            outcome = "skipped"
        else:
            outcome = "failed"
            last = skipped.get("message", last) if skipped is not None else last
        found[case.get("name")] = (outcome, float(case.get("time", 0)), last)
    return found


def summary(build_dir, status, seconds):
    build_dir = Path(build_dir)
    lines, skipped_suites = [], []
    junit = build_dir / "results.xml"
    ran = results(junit) if junit.exists() else {}
    suites = defaultdict(list)
    for test, names in labels(build_dir).items():
        for name in names:
            suites[name].append(test)
    for suite in sorted(suites):
        tests = [t for t in suites[suite] if not t.startswith(SETUP_PREFIXES)]
        counts = defaultdict(int)
        reasons = []
        for test in tests:
            outcome = ran.get(test, ("left out", 0, ""))
            counts[outcome[0]] += 1
            reason = outcome[2].removeprefix("skipped: ")
            if outcome[0] == "skipped" and reason not in reasons:
                reasons.append(reason)
        took = sum(ran[t][1] for t in suites[suite] if t in ran)
        failed_setups = [t for t in suites[suite] if t.startswith(SETUP_PREFIXES) and ran.get(t, ("",))[0] == "failed"]
        if counts["left out"] == len(tests):
            reasons = ["left out of the run"]
        if counts["left out"] + counts["skipped"] == len(tests):
            lines.append(f"{suite:<9} SKIP: {'; '.join(reasons)}")
            skipped_suites.append(f"{suite} ({'; '.join(reasons)})")
            continue
        words = [f"{counts[o]} {o}" for o in ("passed", "failed", "skipped", "left out") if counts[o]]
        line = f"{suite:<9} {', '.join(words)} ({took:.0f} s with its set-ups)"
        if failed_setups:
            line += "; set-up failed: " + ", ".join(failed_setups)
        if counts["failed"] or failed_setups:
            line += ": FAILED"
        if reasons:
            line += "; skipped: " + "; ".join(reasons)
            skipped_suites.append(f"{suite} ({'; '.join(reasons)})")
        lines.append(line)
    failed = sorted(t for t, r in ran.items() if r[0] == "failed")
    lines.append(f"whole run: {seconds} s")
    if status != 0:
        lines.append("== FAILED: " + (", ".join(failed) if failed else
                                      "the run stopped before its tests (see the configure or build step above)"))
    elif not ran:
        lines.append("== FAILED: no test ran")
    elif skipped_suites:
        count = len(skipped_suites)
        lines.append(f"== PASSED, {count} suite{'s' if count > 1 else ''} skipped: " + "; ".join(skipped_suites))
    else:
        lines.append("== ALL PASSED")
    return "\n".join(lines)


if __name__ == "__main__":
    print(summary(sys.argv[1], int(sys.argv[2]), sys.argv[3]))
