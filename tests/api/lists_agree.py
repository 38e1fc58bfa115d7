#!/usr/bin/env python3
"""The lists of the library's functions agree: the header's flat and namespaced blocks, the
getter rows the library is written out from, the exports, the Python package's signatures and
what the tools read. A getter added in one place and forgotten in another fails here.

    lists_agree.py REPOSITORY
"""

import re
import sys
from pathlib import Path

root = Path(sys.argv[1])
problems: list[str] = []


def read(path: str) -> str:
    return (root / path).read_text()


def same(what: str, got: list[str], want: list[str]) -> None:
    if got != want:
        missing = [name for name in want if name not in got]
        extra = [name for name in got if name not in want]
        problems.append(f"{what}: missing {missing}, extra {extra}"
                        + ("" if missing or extra else ", same names in another order"))


header = read("include/crvmon.h")
declared = re.compile(r"CRVMON_API[^;(]*?\b(crvmon\w+)\(")
flat_start, namespaced_start = header.index('extern "C" {'), header.index("namespace corvanta {")
flat = declared.findall(header[flat_start:namespaced_start])
namespaced = declared.findall(header[namespaced_start:])
same("namespaced block against the flat block", namespaced,
     [name for name in flat if name != "crvmonStatusString"])

rows = re.findall(r"\b(?:VALUE|TEXT|RECORDS)\((crvmon\w+)", read("lib/api/device_getters.h"))
# Every function of one device but the one that changes it has its row.
written_by_hand = {"crvmonInit", "crvmonShutdown", "crvmonGetDeviceCount",
                   "crvmonGetTargetDeviceCount", "crvmonGetDriverVersion",
                   "crvmonGetDriverRevision", "crvmonSetExtraPmicID", "crvmonStatusString"}
same("getter rows against the header", rows, [n for n in flat if n not in written_by_hand])

exports = read("tests/api/exported_symbols.txt").split()
same("exported flat names", [n for n in flat if n in exports], flat)
mangled = []
for name in exports:
    length = re.match(r"_ZN8corvanta(\d+)", name)
    if length:
        mangled.append(name[length.end():length.end() + int(length.group(1))])
mangled.sort()
same("exported namespaced names", mangled, sorted(namespaced))
if len(exports) != len(flat) + len(namespaced):
    problems.append(f"{len(exports)} exports for {len(flat) + len(namespaced)} declarations")

python = re.findall(r'^    "(crvmon\w+)":', read("python/crvmon/_library.py"), re.M)
same("Python signature table against the header", python, flat)

tools = "".join(p.read_text() for p in (root / "tools").rglob("*.cpp"))
unread = [n for n in flat if n != "crvmonSetExtraPmicID" and n + "(" not in tools
          and n + ")" not in tools and n + ";" not in tools]
if unread:
    problems.append(f"functions no tool calls: {unread}")

catalogue = set(re.findall(r'^\s*\{"([\w.]+)"', read("tools/common/field_catalogue.cpp"), re.M))
sample = read("tools/common/device_sample.cpp")
reads = re.findall(r'\b(?:r|reader)\.(?:value|text|records|keep)\([^"]*?"([^"]+)"', sample)
unknown = sorted(set(reads) - catalogue)
if unknown or len(reads) < 30:
    problems.append(f"device reads not named as fields of the catalogue: {unknown} "
                    f"({len(reads)} reads found)")

for problem in problems:
    print("FAIL:", problem)
sys.exit(1 if problems else 0)
