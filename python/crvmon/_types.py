"""The library's enumerations and records, as Python types."""

from __future__ import annotations

import enum
from typing import NamedTuple

from ._process_names import process_name


class Status(enum.IntEnum):
    """What every call of the library reports; the numbers never change meaning."""

    OK = 0
    NOT_INITIALIZED = 1
    """init() has not succeeded (never called, found no device, or undone by shutdown())."""
    DRIVER_NOT_FOUND = 2
    """No opened device has this driver type, so no driver version is known for it."""
    INVALID_ARGUMENT = 3
    """Index negative or past the devices of its type."""
    NOT_SUPPORTED = 4
    """The device does not provide this value (the binding answers None)."""
    BUFFER_TOO_SMALL = 5
    """A text or record list larger than the binding could hold."""
    TARGET_NOT_FOUND = 6
    """No device of the requested target type."""


class TargetType(enum.IntEnum):
    """A target type and an index within it address one device."""

    ORVEK = 1
    VELTARA = 2
    ORVEK_PCIE = 3
    """Every Orvek PCI Express card; the one type that accepts set_extra_pmic_id()."""
    VELTARA_RESERVED = 4
    VELTARA_USB_KIND0 = 5
    """A Veltara USB device of kind 0, or of no known kind."""
    VELTARA_USB_KIND1 = 6
    """A Veltara USB device of kind 1."""
    NONE = 0x7FFFFFFF
    """Counted by device_count(), but not addressable."""

    @property
    def family(self) -> str:
        """"Orvek", "Veltara", or "unknown" for NONE."""
        if self in (TargetType.ORVEK, TargetType.ORVEK_PCIE):
            return "Orvek"
        if self is TargetType.NONE:
            return "unknown"
        return "Veltara"


class DriverType(enum.IntEnum):
    """Driver stacks; single bits."""

    NONE = 0
    ORVEK = 1
    """The Orvek PCI Express kernel driver."""
    VELTARA_NPU = 2
    """The Veltara NPU driver."""
    VELTARA_USB = 4
    """The Veltara USB driver behind the host service."""


class ExtraPmicId(enum.IntEnum):
    """Which extra power-management IC of an Orvek board the extra-PMIC readings report."""

    PMIC_0 = 0
    PMIC_1 = 1
    PMIC_2 = 2
    PMIC_3 = 3


# Codes of CoreInfo.cluster and CoreInfo.core, named as crvmon.h names them (CRVMON_...).
CLUSTER_FIRST = 0x10000
CLUSTER_SECOND = 0x20000
CLUSTER_NONE = 0x7FFF0000
CORE_WHOLE_CLUSTER = 0xFFFE
CORE_NONE = 0xFFFF


class CoreInfo(NamedTuple):
    """One utilisation sample of an NPU core, or of a whole cluster: the library's codes in
    ``cluster`` and ``core``, decoded in ``cluster_index`` and ``core_number``."""

    cluster: int
    """0x10000 for the first cluster, 0x20000 for the second, 0x7fff0000 for an invalid one."""
    core: int
    """1-4 for a core, 0xfffe for the whole-cluster entry, 0xffff for an invalid one."""
    busy_time: int
    """Busy part of the sampling window."""
    total_time: int
    """Length of the sampling window."""

    @property
    def busy_percent(self) -> float | None:
        """Busy share of the window in percent; None when the window has no length."""
        return _share(self.busy_time, self.total_time)

    @property
    def cluster_index(self) -> int | None:
        """The cluster decoded: 0 for the first, 1 for the second; None for an invalid record."""
        code = self.cluster
        if code == CLUSTER_NONE or code == 0 or code & 0xFFFF:
            return None
        return (code >> 16) - 1

    @property
    def core_number(self) -> int | None:
        """The core decoded: 1-4; None for the whole-cluster entry or an invalid record."""
        return None if self.core in (CORE_WHOLE_CLUSTER, CORE_NONE) else self.core

    @property
    def whole_cluster(self) -> bool:
        """True for the entry of a whole cluster (its share is added to each of its cores)."""
        return self.core == CORE_WHOLE_CLUSTER and self.cluster_index is not None


class ProcessInfo(NamedTuple):
    """One process using a Veltara device (never the calling process)."""

    pid: int
    quantity: int
    """Sum of the counts of the process's snapshot rows."""
    amount: int
    """Sum of the amounts of the process's snapshot rows."""
    total_time: int
    """Length of the activity window, the same in every record of one read."""
    busy_time: int
    """Busy time of the process within the window; 0 when it was idle."""

    @property
    def busy_percent(self) -> float | None:
        """Busy share of the window in percent; None when the window has no length."""
        return _share(self.busy_time, self.total_time)

    @property
    def name(self) -> str | None:
        """The operating system's name of the process (looked up on each access); None when it
        gives none. A simulated machine's pids are made up: crvmon-smi --simulate names them
        from its scenario instead."""
        return process_name(self.pid)


def _share(busy: int, total: int) -> float | None:
    # The same arithmetic as the tools, so that a snapshot equals their JSON to the last bit.
    if total <= 0:
        return None
    return 100.0 * float(busy) / float(total)
