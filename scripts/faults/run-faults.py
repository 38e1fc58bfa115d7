#!/usr/bin/env python3
"""Deliberate-fault runner: puts one plausible fault at a time into the tree, rebuilds, runs the
tests, and reports whether a test failed.

    scripts/faults/run-faults.py [--build-dir DIR] [--only SUBSTRING] [--list FILE]
                                 [--results FILE] [--skip-baseline] [--every-failure]
                                 [--exclude REGEX]

Each fault of the list (TOML, [[fault]] tables with name, file, find, replace, and an optional
area) replaces the exact text `find`, which must occur exactly once in `file`, with `replace`.
Outcomes:
    CAUGHT        a test failed (the first one to fail is named, with how it failed)
    MISSED        the tree built and every test passed
    BUILD-FAILED  the faulty tree does not build: the entry itself is wrong
    STALE         `find` does not occur exactly once: the entry no longer fits the code
    ERROR         the test run ended without a result (ctest failed before running tests,
                  or the whole run outlived the runner's own limit)

With --every-failure the tests run to the end for each fault, and every failing test is
recorded (BUILD_DIR/fault-matrix.json: fault name -> failing tests): which tests catch which
faults, to see what a test is worth before it is cut or merged. --exclude leaves out the tests
whose names match (ctest -E): a quicker matrix for one layer, silent on what they catch.

The file is restored after each fault, also on Ctrl-C or SIGTERM, and the tree is rebuilt at
the end. A fault left in place by a runner that was killed outright is undone at the next start
from the journal in the build directory. Python 3.11, standard library only.
"""

from __future__ import annotations

import argparse
import dataclasses
import json
import os
import re
import signal
import subprocess
import sys
import time
import tomllib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DEFAULT_LIST = Path(__file__).resolve().parent / "faults.toml"
DEFAULT_BUILD_DIR = "build/faults"

# Each test's own time-out in the runner's build: a hang stands out well before it, since every
# test of the unchanged tree takes seconds at most.
TEST_TIMEOUT_S = 30
CTEST_ARGS = ["-j2", "--timeout", str(TEST_TIMEOUT_S)]
STOP_EARLY = ["--stop-on-failure"]
# ctest stops each test at its own time-out (120 s for most); this only guards against a run
# that never ends at all.
WHOLE_RUN_LIMIT_S = 1800
BUILD_LIMIT_S = 1800

# "  12/175 Test  #34: Suite.Name ......***Failed    0.02 sec"
RESULT_LINE = re.compile(r"^\s*\d+/\d+\s+Test\s+#\d+:\s+(\S+)\s+\.*\s*(.*?)\s+[\d.]+\s+sec\s*$")


class Stop(Exception):
    """SIGTERM, turned into an exception so that every finally block runs."""


def on_sigterm(signum, frame):  # noqa: ARG001 (signal handler signature)
    raise Stop()


@dataclasses.dataclass
class Fault:
    index: int
    name: str
    file: str
    find: str
    replace: str
    area: str


@dataclasses.dataclass
class Outcome:
    fault: Fault
    result: str
    first_failing: str = ""
    seconds: float = 0.0
    detail: str = ""
    failing: list[str] = dataclasses.field(default_factory=list)


def area_of(path: str) -> str:
    if path.startswith("lib/platform/posix/"):
        return "stand-in"
    if path.startswith("lib/"):
        return "library"
    if path.startswith("sim/"):
        return "simulators"
    if path.startswith("tools/"):
        return "tools"
    if path.startswith("python/"):
        return "python"
    return "other"


def load_faults(list_path: Path) -> list[Fault]:
    with list_path.open("rb") as f:
        data = tomllib.load(f)
    entries = data.get("fault")
    if not isinstance(entries, list) or not entries:
        sys.exit(f"{list_path}: no [[fault]] tables")
    faults = []
    names = set()
    for i, entry in enumerate(entries, start=1):
        missing = [k for k in ("name", "file", "find", "replace") if not isinstance(entry.get(k), str)]
        if missing:
            sys.exit(f"{list_path}: fault #{i} lacks string key(s) {', '.join(missing)}")
        unknown = set(entry) - {"name", "file", "find", "replace", "area"}
        if unknown:
            sys.exit(f"{list_path}: fault #{i} ({entry['name']}) has unknown key(s) {sorted(unknown)}")
        if entry["find"] == entry["replace"]:
            sys.exit(f"{list_path}: fault #{i} ({entry['name']}) replaces its text with itself")
        if entry["name"] in names:
            sys.exit(f"{list_path}: fault name repeated: {entry['name']}")
        names.add(entry["name"])
        faults.append(Fault(i, entry["name"], entry["file"], entry["find"], entry["replace"],
                            entry.get("area", area_of(entry["file"]))))
    return faults


def run(cmd: list[str], log, limit_s: float) -> tuple[int | None, str]:
    """Runs cmd in its own process group from the repository root; returns (exit code or None
    when it was killed at the limit, combined output). Output also goes to the log."""
    log.write(f"$ {' '.join(cmd)}\n")
    log.flush()
    proc = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, errors="replace", start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=limit_s)
        code: int | None = proc.returncode
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        code = None
    except BaseException:
        # Ctrl-C or SIGTERM: the child has its own session, so stop it here.
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()
        raise
    log.write(out)
    log.write(f"[exit {code}]\n")
    log.flush()
    return code, out


def failures(ctest_output: str) -> list[tuple[str, str]]:
    """(test name, how it failed) of every test that completed with anything but a pass, in the
    order they completed."""
    found = []
    for line in ctest_output.splitlines():
        m = RESULT_LINE.match(line)
        if not m:
            continue
        name, status = m.group(1), m.group(2).strip()
        if status.startswith("Passed") or status.startswith("Not Run") or "Skipped" in status:
            continue
        found.append((name, status.lstrip("*").strip() or "Failed"))
    return found


def first_failure(ctest_output: str) -> tuple[str, str] | None:
    found = failures(ctest_output)
    return found[0] if found else None


class Journal:
    """Remembers the original text of the file under a fault, so that a runner killed outright
    (SIGKILL, a lost machine) can be undone by the next run."""

    def __init__(self, build_dir: Path):
        self.path = build_dir / "fault-in-progress.json"

    def recover(self) -> None:
        if not self.path.exists():
            return
        data = json.loads(self.path.read_text(encoding="utf-8"))
        target = ROOT / data["file"]
        target.write_bytes(data["original"].encode("utf-8", "surrogateescape"))
        print(f"restored {data['file']}, left faulty by an interrupted run ({data['name']})")
        self.path.unlink()

    def begin(self, fault: Fault, original: str) -> None:
        self.path.write_text(json.dumps({"name": fault.name, "file": fault.file,
                                         "original": original}), encoding="utf-8")

    def end(self) -> None:
        self.path.unlink(missing_ok=True)


def read_text(path: Path) -> str:
    return path.read_bytes().decode("utf-8", "surrogateescape")


def write_text(path: Path, text: str) -> None:
    path.write_bytes(text.encode("utf-8", "surrogateescape"))


def configure_and_build(build_dir: Path, log) -> None:
    generator = [] if (build_dir / "CMakeCache.txt").exists() else ["-G", "Ninja"]
    code, out = run(["cmake", "-S", ".", "-B", str(build_dir), *generator,
                     "-DCMAKE_BUILD_TYPE=Debug", f"-DCRVMON_TEST_TIMEOUT={TEST_TIMEOUT_S}"],
                    log, BUILD_LIMIT_S)
    if code != 0:
        sys.exit(f"configuring {build_dir} failed; see {log.name}\n{out[-3000:]}")
    code, out = run(["cmake", "--build", str(build_dir)], log, BUILD_LIMIT_S)
    if code != 0:
        sys.exit(f"the unchanged tree does not build; see {log.name}\n{out[-3000:]}")


def try_fault(fault: Fault, build_dir: Path, journal: Journal, log, every: bool,
              ctest_args: list[str]) -> Outcome:
    target = ROOT / fault.file
    if not target.is_file():
        return Outcome(fault, "STALE", detail="file not found")
    original = read_text(target)
    count = original.count(fault.find)
    if count != 1:
        return Outcome(fault, "STALE", detail=f"find text occurs {count} times")

    started = time.monotonic()
    journal.begin(fault, original)
    try:
        write_text(target, original.replace(fault.find, fault.replace, 1))
        code, out = run(["cmake", "--build", str(build_dir)], log, BUILD_LIMIT_S)
        if code != 0:
            # The compiler's message, not the command line (which holds -Werror).
            errors = [l.strip() for l in out.splitlines() if re.search(r"\berror\b:", l)]
            return Outcome(fault, "BUILD-FAILED", seconds=time.monotonic() - started,
                           detail=(errors[0] if errors else f"build exit {code}")[:300])
        ctest = ["ctest", "--test-dir", str(build_dir), *ctest_args, *([] if every else STOP_EARLY)]
        code, out = run(ctest, log, WHOLE_RUN_LIMIT_S)
        seconds = time.monotonic() - started
        if code is None:
            return Outcome(fault, "ERROR", seconds=seconds,
                           detail=f"test run killed after {WHOLE_RUN_LIMIT_S} s")
        failed = first_failure(out)
        if code == 0 and failed is None:
            return Outcome(fault, "MISSED", seconds=seconds)
        if failed is not None:
            name, how = failed
            return Outcome(fault, "CAUGHT", first_failing=name, seconds=seconds, detail=how,
                           failing=[n for n, _ in failures(out)])
        return Outcome(fault, "ERROR", seconds=seconds,
                       detail=f"ctest exit {code} without a failing test")
    finally:
        write_text(target, original)
        journal.end()


def table(outcomes: list[Outcome]) -> str:
    headers = ["#", "fault", "area", "result", "first failing test", "s"]
    rows = []
    for o in outcomes:
        failing = o.first_failing
        if o.result == "CAUGHT" and o.detail and o.detail != "Failed":
            failing += f" ({o.detail})"
        elif o.result in ("STALE", "BUILD-FAILED", "ERROR"):
            failing = o.detail if len(o.detail) <= 120 else o.detail[:117] + "..."
        rows.append([str(o.fault.index), o.fault.name, o.fault.area, o.result, failing,
                     f"{o.seconds:.1f}"])
    widths = [max(len(h), *(len(r[i]) for r in rows)) if rows else len(h)
              for i, h in enumerate(headers)]
    lines = ["  ".join(h.ljust(w) for h, w in zip(headers, widths)).rstrip(),
             "  ".join("-" * w for w in widths)]
    for r in rows:
        lines.append("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
    return "\n".join(lines)


def summary(outcomes: list[Outcome], total_s: float) -> str:
    def counts(items: list[Outcome]) -> str:
        tried = [o for o in items if o.result in ("CAUGHT", "MISSED")]
        caught = sum(o.result == "CAUGHT" for o in items)
        others = {r: sum(o.result == r for o in items) for r in ("BUILD-FAILED", "STALE", "ERROR")}
        extra = ", ".join(f"{n} {r}" for r, n in others.items() if n)
        return f"caught {caught} of {len(tried)}" + (f" ({extra})" if extra else "")

    lines = [counts(outcomes)]
    for area in sorted({o.fault.area for o in outcomes}):
        lines.append(f"  {area}: {counts([o for o in outcomes if o.fault.area == area])}")
    missed = [o.fault.name for o in outcomes if o.result == "MISSED"]
    if missed:
        lines.append("missed:")
        lines.extend(f"  - {name}" for name in missed)
    lines.append(f"total {total_s:.0f} s")
    return "\n".join(lines)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=DEFAULT_BUILD_DIR,
                        help=f"build directory, relative to the repository root (default {DEFAULT_BUILD_DIR})")
    parser.add_argument("--only", help="run only the faults whose name contains this (any case)")
    parser.add_argument("--list", default=str(DEFAULT_LIST), help="the fault list (TOML)")
    parser.add_argument("--results", help="results file (default BUILD_DIR/fault-results.txt)")
    parser.add_argument("--skip-baseline", action="store_true",
                        help="do not first check that the unchanged tree passes its tests")
    parser.add_argument("--every-failure", action="store_true",
                        help="run every test for each fault and record all that fail")
    parser.add_argument("--exclude", metavar="REGEX",
                        help="leave out the tests whose names match (ctest -E)")
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, on_sigterm)
    ctest_args = [*CTEST_ARGS, *(["-E", args.exclude] if args.exclude else [])]
    build_dir = (ROOT / args.build_dir).resolve()
    build_dir.mkdir(parents=True, exist_ok=True)
    results_path = Path(args.results) if args.results else build_dir / "fault-results.txt"
    faults = load_faults(Path(args.list))
    if args.only:
        faults = [f for f in faults if args.only.lower() in f.name.lower()]
        if not faults:
            sys.exit(f"no fault name contains {args.only!r}")

    journal = Journal(build_dir)
    journal.recover()
    outcomes: list[Outcome] = []
    started = time.monotonic()
    log_path = build_dir / "fault-run.log"
    interrupted = False
    with log_path.open("w", encoding="utf-8") as log:
        try:
            print(f"building {build_dir} (log: {log_path})", flush=True)
            configure_and_build(build_dir, log)
            if not args.skip_baseline:
                code, out = run(["ctest", "--test-dir", str(build_dir), *ctest_args, *STOP_EARLY],
                                log, WHOLE_RUN_LIMIT_S)
                if code != 0:
                    failed = first_failure(out)
                    sys.exit("the unchanged tree fails its tests"
                             + (f" (first: {failed[0]}, {failed[1]})" if failed else "")
                             + "; every fault would count as caught")
            for n, fault in enumerate(faults, start=1):
                print(f"[{n}/{len(faults)}] {fault.name} ... ", end="", flush=True)
                log.write(f"\n===== fault {fault.index}: {fault.name} ({fault.file})\n")
                outcome = try_fault(fault, build_dir, journal, log, args.every_failure,
                                    ctest_args)
                outcomes.append(outcome)
                shown = outcome.first_failing or outcome.detail
                print(f"{outcome.result} {shown} ({outcome.seconds:.1f} s)".rstrip(), flush=True)
        except (KeyboardInterrupt, Stop):
            interrupted = True
            print("\ninterrupted: the file under the fault was restored", flush=True)
        finally:
            # The tree as it is in the repository again, whatever happened above.
            print("rebuilding the unchanged tree", flush=True)
            try:
                code, _ = run(["cmake", "--build", str(build_dir)], log, BUILD_LIMIT_S)
                if code != 0:
                    print(f"warning: the final rebuild failed; see {log_path}", flush=True)
            except (KeyboardInterrupt, Stop):
                print("final rebuild interrupted", flush=True)

    total = time.monotonic() - started
    report = table(outcomes) + "\n\n" + summary(outcomes, total) + "\n"
    if interrupted:
        report += f"(interrupted after {len(outcomes)} of {len(faults)} faults)\n"
    results_path.parent.mkdir(parents=True, exist_ok=True)
    results_path.write_text(report, encoding="utf-8")
    if args.every_failure:
        matrix = {o.fault.name: o.failing for o in outcomes if o.result in ("CAUGHT", "MISSED")}
        (build_dir / "fault-matrix.json").write_text(json.dumps(matrix, indent=1) + "\n",
                                                     encoding="utf-8")
    print()
    print(report, end="")
    print(f"results: {results_path}")
    if interrupted:
        return 130
    return 1 if any(o.result in ("BUILD-FAILED", "STALE", "ERROR") for o in outcomes) else 0


if __name__ == "__main__":
    sys.exit(main())
