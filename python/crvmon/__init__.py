"""crvmon: the Orvek and Veltara NPUs of this machine, from Python.

A thin layer over the flat functions of the crvmon library (``libcrvmon.so``, ``crvmon.dll``)
through ctypes::

    import crvmon

    with crvmon.session() as devices:
        for device in devices:
            print(device.id, device.family, device.temperature, device.total_power)

The library is loaded on first use: from ``$CRVMON_LIBRARY`` where set, else the copy shipped
in this package, else the system's search path (``LibraryNotFound`` names each place tried).
Values a device does not provide are None; every other failure raises ``CrvmonError`` with the
library's status and its text. Devices may be read from many threads at once: the calls the
library must not overlap (init and shutdown beside anything, two calls on one Orvek card, two
process-list reads of one Veltara device) wait for each other.
"""

from ._device import (
    Device,
    device_count,
    devices,
    driver_revision,
    driver_version,
    init,
    session,
    shutdown,
    status_text,
)
from ._errors import CrvmonError, LibraryNotFound
from ._library import library_path
from ._types import CoreInfo, DriverType, ExtraPmicId, ProcessInfo, Status, TargetType

__version__ = "0.1.0"

__all__ = [
    "CoreInfo",
    "CrvmonError",
    "Device",
    "DriverType",
    "ExtraPmicId",
    "LibraryNotFound",
    "ProcessInfo",
    "Status",
    "TargetType",
    "device_count",
    "devices",
    "driver_revision",
    "driver_version",
    "init",
    "library_path",
    "session",
    "shutdown",
    "status_text",
]
