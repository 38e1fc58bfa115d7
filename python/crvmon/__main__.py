"""python -m crvmon: the device table and the process table, as crvmon-smi prints them
without options.

Exit codes as crvmon-smi's: 0 success, 1 no usable library, 3 no device, 4 a read failed (named
on standard error, the value shown as N/A).
"""

from __future__ import annotations

import argparse
import contextlib
import datetime
import os
import sys
from typing import Callable, Iterator, Optional, Sequence, TypeVar

from ._device import Device, device_count, devices, driver_version, init, shutdown
from ._errors import CrvmonError, LibraryNotFound
from ._types import DriverType, ProcessInfo

_WIDTH = 80
_ABSENT = "N/A"
_DRIVER_NAMES = (
    (DriverType.ORVEK, "Orvek"),
    (DriverType.VELTARA_NPU, "Veltara NPU"),
    (DriverType.VELTARA_USB, "Veltara USB"),
)
_T = TypeVar("_T")


class Column:
    def __init__(self, header: str, right: bool = False, shrinkable: bool = False) -> None:
        self.header, self.right, self.shrinkable = header, right, shrinkable


def _keep_end(text: str, width: int) -> str:
    if len(text) <= width:
        return text
    if width <= 3:
        return text[len(text) - width :]
    return "..." + text[len(text) - (width - 3) :]


def render(columns: Sequence[Column], rows: Sequence[Sequence[str]], max_width: int) -> str:
    """Aligned columns two spaces apart; past max_width one space apart, then the shrinkable
    columns cut from the left (a node path reads best by its end)."""
    widths = [max([len(c.header)] + [len(row[i]) for row in rows]) for i, c in enumerate(columns)]
    gap = 2

    def total() -> int:
        return sum(widths) + gap * max(len(columns) - 1, 0)

    if total() > max_width:
        gap = 1
    if total() > max_width:
        for i, column in enumerate(columns):
            if column.shrinkable:
                floor = max(len(column.header), 4)
                widths[i] = max(floor, widths[i] - (total() - max_width))
    lines = []
    for cells in [[c.header for c in columns]] + [list(r) for r in rows]:
        parts = []
        for i, column in enumerate(columns):
            cell = _keep_end(cells[i], widths[i]) if column.shrinkable else cells[i]
            parts.append(cell.rjust(widths[i]) if column.right else cell.ljust(widths[i]))
        lines.append((" " * gap).join(parts).rstrip() + "\n")
    return "".join(lines)


class _Reader:
    """Reads values for the table; a failure is named on standard error and shown as N/A."""

    def __init__(self) -> None:
        self.failed = False

    def __call__(self, device: Device, what: str, read: Callable[[], Optional[_T]]) -> Optional[_T]:
        try:
            return read()
        except CrvmonError as error:
            print(f"crvmon: {device.id}: {what}: {error.text or error}", file=sys.stderr)
            self.failed = True
            return None


def _shown(value: Optional[object], form: str) -> str:
    return _ABSENT if value is None else form % value


def _memory(used: Optional[int], total: Optional[int]) -> str:
    if used is None and total is None:
        return _ABSENT
    mib = 1 << 20
    return _shown(None if used is None else used // mib, "%d") + "/" + _shown(
        None if total is None else total // mib, "%d"
    )


def _headline() -> str:
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    line = f"crvmon  {now}  Drivers:"
    separator = " "
    for driver, name in _DRIVER_NAMES:
        version = driver_version(driver)
        if version is not None:
            line += f"{separator}{name} {version}"
            separator = ", "
    return line[:_WIDTH] + "\n"


def tables(found: Sequence[Device], read: _Reader) -> str:
    """The headline, the device table and the process table."""
    rows = []
    processes: list[tuple[Device, ProcessInfo]] = []
    for d in found:
        temperature = read(d, "temperature", lambda: d.temperature)
        power = read(d, "board power", lambda: d.total_power)
        clock = read(d, "NPU clock", lambda: d.npu_clock)
        fan = read(d, "fan duty", lambda: d.fan_duty)
        total = read(d, "memory total", lambda: d.memory_total)
        used = read(d, "memory used", lambda: d.memory_usage)
        utilization = read(d, "utilization", lambda: d.total_utilization)
        rows.append(
            [
                d.id,
                d.family,
                read(d, "node", lambda: d.node) or _ABSENT,
                _shown(temperature, "%dC"),
                _shown(power, "%.1fW"),
                _shown(clock, "%dMHz"),
                _shown(fan, "%d%%"),
                _memory(used, total),
                _shown(utilization, "%.1f%%"),
            ]
        )
        processes.extend((d, p) for p in read(d, "process list", lambda: d.process_infos) or [])
    device_columns = [
        Column("ID"),
        Column("Family"),
        Column("Node", shrinkable=True),
        Column("Temp", right=True),
        Column("Power", right=True),
        Column("NPU clock", right=True),
        Column("Fan", right=True),
        Column("Memory MiB", right=True),
        Column("Util", right=True),
    ]
    text = _headline() + render(device_columns, rows, _WIDTH) + "\n"
    if not processes:
        return text + "No processes reported by the devices.\n"
    process_columns = [
        Column("Device"),
        Column("PID", right=True),
        Column("Name"),
        Column("Busy", right=True),
        Column("Quantity", right=True),
        Column("Amount", right=True),
    ]
    process_rows = [
        [
            d.id,
            str(p.pid),
            p.name or _ABSENT,
            _shown(p.busy_percent, "%.1f%%"),
            str(p.quantity),
            str(p.amount),
        ]
        for d, p in processes
    ]
    return text + render(process_columns, process_rows, _WIDTH)


@contextlib.contextmanager
def _stdout_to_stderr() -> Iterator[None]:
    # The library may print a line on standard output while it initialises; the tables must
    # stay the only thing there.
    sys.stdout.flush()
    try:
        saved = os.dup(1)
    except OSError:
        yield
        return
    os.dup2(2, 1)
    try:
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m crvmon",
        description="The Orvek and Veltara NPUs of this machine: a table of every device and "
        "of the processes on them.",
    )
    parser.parse_args(argv)
    try:
        with _stdout_to_stderr():
            init()
    except LibraryNotFound as error:
        print(f"crvmon: {error}", file=sys.stderr)
        return 1
    except CrvmonError as error:
        print(f"crvmon: no device found ({error.text})", file=sys.stderr)
        return 3
    try:
        read = _Reader()
        found = devices()
        unaddressable = device_count() - len(found)
        if unaddressable > 0:
            print(f"crvmon: {unaddressable} device(s) of no known target type are not shown",
                  file=sys.stderr)
        sys.stdout.write(tables(found, read))
        return 4 if read.failed else 0
    finally:
        shutdown()


if __name__ == "__main__":
    sys.exit(main())
