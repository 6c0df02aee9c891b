#!/usr/bin/env python3
"""Seeds faults into the product code, one at a time, and checks that the tests catch each.

Each fault in the list (scripts/seeded-faults.txt) names a source file, a text that occurs
exactly once in it, what to put in its place, and the tests that should fail. For each fault
the script edits the file, builds the named tests in an existing build tree, runs them with
ctest, and puts the file back, whatever happened. A fault is "caught" when a test fails,
"MISSED" when they all pass, "no-build" when the edited code does not compile (that proves
nothing and is not counted).

    python3 scripts/seed-faults.py [--tree DIR] [--build build/win] [--only ID,ID] [LIST]

Run it in a tree of its own (a clone or a worktree) with the build tree made, e.g. after
`make test` or `make build-win`: it edits sources while it runs. Exit code 1 when a fault is
missed, 2 when the list or the tree is wrong. Writes one line per fault to standard output:
id, result, seconds.
"""
import argparse
import os
import subprocess
import sys
import time


def parse_list(path):
    """Blank-line separated blocks of `key: value` lines: id, file, find, replace, tests.
    In find and replace, \\n stands for a line break and \\t for a tab."""
    faults, block = [], {}
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines() + [""]
    for line in lines:
        if line.startswith("#"):
            continue
        if not line.strip():
            if block:
                faults.append(block)
                block = {}
            continue
        key, sep, value = line.partition(":")
        value = value[1:] if value.startswith(" ") else value
        if not sep:
            raise ValueError(f"{path}: not a 'key: value' line: {line}")
        block[key.strip()] = value
    for fault in faults:
        missing = {"id", "file", "find", "replace", "tests"} - fault.keys()
        if missing:
            raise ValueError(f"{path}: fault {fault.get('id', '?')} lacks {sorted(missing)}")
        for key in ("find", "replace"):
            fault[key] = fault[key].replace("\\n", "\n").replace("\\t", "\t")
        fault["tests"] = fault["tests"].split()
    return faults


def run(cmd, cwd, timeout):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return None


def try_fault(fault, tree, build):
    source = os.path.join(tree, fault["file"])
    with open(source, encoding="utf-8", newline="") as f:
        original = f.read()
    if original.count(fault["find"]) != 1:
        return "not-found"
    try:
        with open(source, "w", encoding="utf-8", newline="") as f:
            f.write(original.replace(fault["find"], fault["replace"]))
        targets = [t for name in fault["tests"] for t in ("--target", name)]
        if run(["cmake", "--build", build, "-j2"] + targets, tree, 900) != 0:
            return "no-build"
        names = "^(" + "|".join(fault["tests"]) + ")$"
        rc = run(["ctest", "--test-dir", build, "-R", names, "--timeout", "300"], tree, 1800)
        return "MISSED" if rc == 0 else "caught"
    finally:
        with open(source, "w", encoding="utf-8", newline="") as f:
            f.write(original)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("list", nargs="?", default=os.path.join(here, "seeded-faults.txt"))
    parser.add_argument("--tree", default=os.path.dirname(here))
    parser.add_argument("--build", default="build/win")
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    try:
        faults = parse_list(args.list)
    except (OSError, ValueError) as error:
        print(error, file=sys.stderr)
        return 2
    build = os.path.join(args.tree, args.build)
    if not os.path.isfile(os.path.join(build, "CTestTestfile.cmake")):
        print(f"no build tree at {build}: make it first (make build-win)", file=sys.stderr)
        return 2
    only = set(filter(None, args.only.split(",")))
    missed = 0
    for fault in faults:
        if only and fault["id"] not in only:
            continue
        start = time.time()
        result = try_fault(fault, args.tree, build)
        missed += result in ("MISSED", "not-found")
        print(f"{fault['id']}\t{result}\t{time.time() - start:.0f}", flush=True)
    # Builds the untouched sources again, so the tree is left as it was.
    run(["cmake", "--build", build, "-j2"], args.tree, 1800)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
