#!/usr/bin/env python3
"""What each test is worth against the fault list, from the matrix of run-faults.py
--every-failure:

    scripts/faults/matrix-report.py [--build-dir DIR] [--exclude REGEX]

Lists the faults no test caught, the tests that caught none of the listed faults (with their
size in non-blank lines), and the tests each of whose faults another test also catches (taken
away one at a time, largest first, so that every fault caught stays caught by what is left).
Both lists are candidates to read, not verdicts: a test may guard what the list does not hold.
--exclude must be the runner's, so that the tests it left out are not counted as catching
nothing. Python 3.11, standard library only.
"""

from __future__ import annotations

import argparse
import json
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TEST_MACRO = re.compile(r"^TEST(?:_F|_P)?\((\w+),\s*(\w+)\)")


def test_sizes() -> dict[str, tuple[int, str]]:
    """GoogleTest cases: non-blank lines from their macro to the next case or the file's end."""
    sizes = {}
    for path in sorted((ROOT / "tests").rglob("*.cpp")):
        lines = path.read_text(encoding="utf-8").splitlines()
        starts = [(i, f"{m[1]}.{m[2]}") for i, line in enumerate(lines)
                  if (m := TEST_MACRO.match(line))]
        for k, (first, name) in enumerate(starts):
            end = starts[k + 1][0] if k + 1 < len(starts) else len(lines)
            size = sum(1 for line in lines[first:end] if line.strip())
            sizes[name] = (size, f"{path.relative_to(ROOT)}:{first + 1}")
    return sizes


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default="build/faults")
    parser.add_argument("--exclude", help="the runner's --exclude")
    args = parser.parse_args()
    build_dir = ROOT / args.build_dir
    matrix_path = build_dir / "fault-matrix.json"
    if not matrix_path.is_file():
        sys.exit(f"no {matrix_path}: run scripts/faults/run-faults.py --every-failure first")
    matrix: dict[str, list[str]] = json.loads(matrix_path.read_text(encoding="utf-8"))
    listing = subprocess.run(["ctest", "--test-dir", str(build_dir), "-N",
                              *(["-E", args.exclude] if args.exclude else [])],
                             capture_output=True, text=True, check=True).stdout
    tests = re.findall(r"Test\s+#\d+: (\S+)", listing)
    sizes = test_sizes()

    def size(test: str) -> int:
        return sizes.get(test, (0, ""))[0]

    caught: dict[str, set[str]] = {test: set() for test in tests}
    for fault, failing in matrix.items():
        for test in failing:
            caught.setdefault(test, set()).add(fault)

    missed = [fault for fault, failing in matrix.items() if not failing]
    print(f"{len(matrix)} faults, {len(matrix) - len(missed)} caught; missed:")
    for fault in missed:
        print(f"  {fault}")

    none = sorted((t for t in tests if not caught[t]), key=lambda t: (-size(t), t))
    print(f"\n{len(none)} tests catch no listed fault ({sum(map(size, none))} lines):")
    for test in none:
        print(f"  {size(test):4d} {test} {sizes.get(test, (0, ''))[1]}")

    catchers: dict[str, set[str]] = {}
    for test in tests:
        for fault in caught[test]:
            catchers.setdefault(fault, set()).add(test)
    shared = []
    for test in sorted((t for t in tests if caught[t]), key=lambda t: (-size(t), t)):
        if all(len(catchers[fault]) > 1 for fault in caught[test]):
            shared.append(test)
            for fault in caught[test]:
                catchers[fault].discard(test)
    print(f"\n{len(shared)} tests whose faults the others still catch, taken away largest first "
          f"({sum(map(size, shared))} lines):")
    for test in shared:
        print(f"  {size(test):4d} {test} ({len(caught[test])} faults) "
              f"{sizes.get(test, (0, ''))[1]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
