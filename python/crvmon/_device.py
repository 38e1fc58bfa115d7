"""The session and the devices: every flat function of the library, as Python values."""

from __future__ import annotations

import contextlib
import ctypes
import datetime
import struct
import threading
from typing import Any, Callable, Iterator, TypeVar

from . import _library
from ._errors import CrvmonError
from ._locks import SESSION, device_lock
from ._types import (
    CoreInfo,
    DriverType,
    ExtraPmicId,
    ProcessInfo,
    Status,
    TargetType,
)

_OK = 0
_NOT_SUPPORTED = 4
_DRIVER_NOT_FOUND = 2
_BUFFER_TOO_SMALL = 5
_NO_REVISION = 0xFFFFFFFF
# A process list can grow between the count and the read; after this many rounds it is growing
# faster than it can be read.
_RECORD_ATTEMPTS = 8
_TEXT_START, _TEXT_LIMIT = 256, 1 << 20

# The order a person reads a machine in: Orvek cards first, then Veltara devices by kind.
_ADDRESSABLE = (
    TargetType.ORVEK,
    TargetType.ORVEK_PCIE,
    TargetType.VELTARA,
    TargetType.VELTARA_RESERVED,
    TargetType.VELTARA_USB_KIND0,
    TargetType.VELTARA_USB_KIND1,
)

_E = TypeVar("_E", DriverType, ExtraPmicId)


def _failure(what: str, status: int) -> CrvmonError:
    text = _library.library().status_text(status)
    try:
        known: int = Status(status)
    except ValueError:
        known = status
    return CrvmonError(f"{what}: {text} (status {status})", known, text)


def _call_alone(name: str) -> int:
    function = _library.functions()[name]
    SESSION.acquire_exclusive()
    try:
        return int(function())
    finally:
        SESSION.release_exclusive()


def _call_shared(name: str, *args: Any) -> int:
    function = _library.functions()[name]
    SESSION.acquire_shared()
    try:
        return int(function(*args))
    finally:
        SESSION.release_shared()


def init() -> None:
    """Opens every device of the machine. Raises CrvmonError (status NOT_INITIALIZED) when it
    finds none. A second init() releases the devices of the first and looks again: Device
    objects from before may then address other devices. Waits for calls in other threads to
    end, and holds new ones until it is done."""
    status = _call_alone("crvmonInit")
    if status != _OK:
        raise _failure("init found no device", status)


def shutdown() -> None:
    """Releases every device; harmless when not initialised. Waits for calls in other threads."""
    _call_alone("crvmonShutdown")


@contextlib.contextmanager
def session() -> Iterator[list[Device]]:
    """``with crvmon.session() as devices:`` init(), the devices, and shutdown() at the end,
    however the block ends."""
    init()
    try:
        yield devices()
    finally:
        shutdown()


def device_count() -> int:
    """Every opened device, including those of no known target type (which devices() leaves
    out)."""
    count = ctypes.c_int(0)
    status = _call_shared("crvmonGetDeviceCount", count)
    if status != _OK:
        raise _failure("device count", status)
    return count.value


def devices() -> list[Device]:
    """Every addressable device: Orvek cards first, then Veltara devices by target type."""
    found: list[Device] = []
    for target in _ADDRESSABLE:
        count = ctypes.c_int(0)
        status = _call_shared("crvmonGetTargetDeviceCount", int(target), count)
        if status != _OK:
            raise _failure(f"count of target type {int(target)}", status)
        found.extend(Device(target, index) for index in range(count.value))
    return found


def _driver_text(driver: DriverType) -> str | None:
    size = _TEXT_START
    while True:
        buffer = ctypes.create_string_buffer(size)
        status = _call_shared("crvmonGetDriverVersion", int(driver), buffer, size)
        if status == _OK:
            return buffer.value.decode("utf-8", "backslashreplace")
        if status == _DRIVER_NOT_FOUND:
            return None
        if status != _BUFFER_TOO_SMALL or size >= _TEXT_LIMIT:
            raise _failure(f"driver version of {driver.name}", status)
        size *= 16


def driver_version(driver: DriverType) -> str | None:
    """Version text ("1.8.2") of the first opened device of a driver type; None when no device
    of that type was opened."""
    return _driver_text(DriverType(driver))


def driver_revision(driver: DriverType) -> int | None:
    """Revision of the first opened device of a driver type; None when no device of that type
    was opened or it gave none."""
    driver = DriverType(driver)
    revision = ctypes.c_uint(0)
    status = _call_shared("crvmonGetDriverRevision", int(driver), revision)
    if status == _DRIVER_NOT_FOUND:
        return None
    if status != _OK:
        raise _failure(f"driver revision of {driver.name}", status)
    return None if revision.value == _NO_REVISION else revision.value


def status_text(status: int) -> str:
    """The library's text for a status ("unknown status" for a number it does not know)."""
    return _library.library().status_text(status)


def _utc_now() -> str:
    now = datetime.datetime.now(datetime.timezone.utc)
    return now.strftime("%Y-%m-%dT%H:%M:%S.") + f"{now.microsecond // 1000:03d}Z"


def _shortest_single(value: float) -> float:
    """A widened single-precision value as its shortest decimal (0.85, not 0.8500000238418579),
    which reads back as the same single; any other value as it is."""
    try:
        packed = struct.pack("<f", value)
    except OverflowError:
        return value
    if struct.unpack("<f", packed)[0] != value:
        return value
    for digits in range(1, 10):
        shortest = float(f"{value:.{digits}g}")
        if struct.pack("<f", shortest) == packed:
            return shortest
    return value


def _core_json(info: CoreInfo) -> dict[str, Any]:
    return {
        "cluster": info.cluster_index,
        "core": info.core_number,  # None with a cluster: the whole-cluster entry
        "busy_time": info.busy_time,
        "total_time": info.total_time,
        "busy_percent": info.busy_percent,
    }


def _process_json(p: ProcessInfo) -> dict[str, Any]:
    return {
        "pid": p.pid,
        "name": p.name,
        "busy_time": p.busy_time,
        "total_time": p.total_time,
        "busy_percent": p.busy_percent,
        "quantity": p.quantity,
        "amount": p.amount,
    }


class Device:
    """One device, addressed by its target type and its index within that type.

    Every property asks the library when read (live values ask the device); a value the device
    does not provide is None. Any other failure raises CrvmonError: the library not
    initialised, a device no longer there after shutdown() or a new init(). Objects may be
    shared between threads: calls the library must not overlap wait for each other.

    ``Device(TargetType.ORVEK_PCIE, 0)`` addresses a device directly; a number that is no
    target type raises ValueError, a type or index without a device CrvmonError when read.
    """

    __slots__ = ("_target", "_index", "_lock", "_records_lock")

    def __init__(self, target: TargetType | int, index: int) -> None:
        self._target = TargetType(target)
        self._index = int(index)
        self._lock = device_lock(self._target, self._index, process_list=False)
        self._records_lock = device_lock(self._target, self._index, process_list=True)

    def __repr__(self) -> str:
        return f"Device(TargetType.{self._target.name}, {self._index})"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Device):
            return NotImplemented
        return (self._target, self._index) == (other._target, other._index)

    def __hash__(self) -> int:
        return hash((self._target, self._index))

    # --- calling the library --------------------------------------------------------------

    def _call(self, name: str, *args: Any) -> int:
        return self._invoke(name, self._lock, *args)

    def _call_records(self, name: str, *args: Any) -> int:
        # Two process-list reads of one Veltara device at once mix their snapshots.
        lock = self._records_lock if name == "crvmonGetProcessInfos" else self._lock
        return self._invoke(name, lock, *args)

    def _invoke(self, name: str, lock: threading.Lock | None, *args: Any) -> int:
        # The path of every getter: kept short, it is what Python adds to a call from C.
        function = _library.functions()[name]
        SESSION.acquire_shared()
        try:
            if lock is None:
                status: int = function(self._target, self._index, *args)
            else:
                with lock:
                    status = function(self._target, self._index, *args)
            return status
        finally:
            SESSION.release_shared()

    def _check(self, name: str, status: int) -> bool:
        """True for a value, False for one the device does not provide; raises otherwise."""
        if status == _OK:
            return True
        if status == _NOT_SUPPORTED:
            return False
        raise _failure(f"{self.id}: {name}", status)

    def _int(self, name: str) -> int | None:
        slot = ctypes.c_int(0)
        return slot.value if self._check(name, self._call(name, slot)) else None

    def _long(self, name: str) -> int | None:
        slot = ctypes.c_longlong(0)
        return slot.value if self._check(name, self._call(name, slot)) else None

    def _double(self, name: str) -> float | None:
        slot = ctypes.c_double(0.0)
        return slot.value if self._check(name, self._call(name, slot)) else None

    def _reading(self, name: str) -> float | None:
        """A power reading, which the library keeps as a single-precision float."""
        value = self._double(name)
        return None if value is None else _shortest_single(value)

    def _enum(self, name: str, kind: type[_E]) -> _E | None:
        slot = ctypes.c_int32(0)
        if not self._check(name, self._call(name, slot)):
            return None
        try:
            return kind(slot.value)
        except ValueError:
            raise CrvmonError(f"{self.id}: {name}: {slot.value} is no {kind.__name__}") from None

    def _text(self, name: str) -> str | None:
        size = _TEXT_START
        while True:
            buffer = ctypes.create_string_buffer(size)
            status = self._call(name, buffer, size)
            if status == _BUFFER_TOO_SMALL and size < _TEXT_LIMIT:
                size *= 16  # the library does not say how much it needs
                continue
            if not self._check(name, status):
                return None
            return buffer.value.decode("utf-8", "backslashreplace")

    def _records(self, name: str, struct: Any, convert: Callable[[Any], Any]) -> list[Any] | None:
        # Ask for the count, then read; a list that grew in between is asked for again.
        for _ in range(_RECORD_ATTEMPTS):
            count = ctypes.c_uint(0)
            status = self._call_records(name, None, count)
            if not self._check(name, status):
                return None
            if count.value == 0:
                return []
            array = (struct * count.value)()
            status = self._call_records(name, array, count)
            if status == _BUFFER_TOO_SMALL:
                continue
            if not self._check(name, status):
                return None
            return [convert(record) for record in array[: count.value]]
        raise _failure(f"{self.id}: {name} kept growing", _BUFFER_TOO_SMALL)

    # --- which device ---------------------------------------------------------------------

    @property
    def target(self) -> TargetType:
        """The target device type."""
        return self._target

    @property
    def index(self) -> int:
        """The index within the target type."""
        return self._index

    @property
    def id(self) -> str:
        """"TYPE:INDEX", as crvmon-smi names the device: "3:0"."""
        return f"{int(self._target)}:{self._index}"

    @property
    def family(self) -> str:
        """"Orvek" or "Veltara"."""
        return self._target.family

    @property
    def node(self) -> str:
        """The node path the device was opened under: "/dev/orvek0"."""
        text = self._text("crvmonGetNodeName")
        if text is None:  # the library always has it for a device it found
            raise CrvmonError(f"{self.id}: the library gave no node name")
        return text

    # --- identity -------------------------------------------------------------------------

    @property
    def driver_type(self) -> DriverType:
        """The driver stack serving the device."""
        value = self._enum("crvmonGetDriverType", DriverType)
        if value is None:  # the library always has it for a device it found
            raise CrvmonError(f"{self.id}: the library gave no driver type")
        return value

    @property
    def vendor_id(self) -> int | None:
        """PCI vendor id (Orvek)."""
        return self._int("crvmonGetVendorId")

    @property
    def device_id(self) -> int | None:
        """PCI device id (Orvek)."""
        return self._int("crvmonGetDeviceId")

    @property
    def sub_vendor_id(self) -> int | None:
        """PCI subsystem vendor id (Orvek)."""
        return self._int("crvmonGetSubVendorId")

    @property
    def sub_device_id(self) -> int | None:
        """PCI subsystem id (Orvek)."""
        return self._int("crvmonGetSubDeviceId")

    @property
    def pcie_gen(self) -> int | None:
        """PCI Express link generation (Orvek)."""
        return self._int("crvmonGetPcieGen")

    @property
    def pcie_lanes(self) -> int | None:
        """PCI Express lane count (Orvek)."""
        return self._int("crvmonGetPcieLanes")

    @property
    def pcie_rev(self) -> int | None:
        """PCI Express revision (Orvek)."""
        return self._int("crvmonGetPcieRev")

    @property
    def pcie_class_code(self) -> int | None:
        """PCI class code (Orvek)."""
        return self._int("crvmonGetPcieClassCode")

    @property
    def pcie_slot(self) -> str | None:
        """Where the card sits: "0000:03:00.0" or a slot chain "1-4-2" (Orvek)."""
        return self._text("crvmonGetPcieSlot")

    @property
    def signal_type(self) -> int | None:
        """Signal type: 0 on Orvek cards, the host service's answer on Veltara devices."""
        return self._int("crvmonGetSignalType")

    @property
    def chip_id(self) -> int | None:
        """Chip id, 0-3 (Orvek)."""
        return self._int("crvmonGetChipId")

    # --- versions -------------------------------------------------------------------------

    @property
    def driver_version(self) -> str | None:
        """Version text of the device's driver type (that of its first device)."""
        return _driver_text(self.driver_type)

    @property
    def driver_revision(self) -> int | None:
        """Revision of the device's driver type; None when the driver gave none."""
        return driver_revision(self.driver_type)

    @property
    def firmware_version(self) -> str | None:
        """Firmware version, "major.minor" or "major.minor.patch" (Orvek)."""
        return self._text("crvmonGetFirmwareVersion")

    @property
    def firmware_revision(self) -> int | None:
        """Firmware revision (Orvek)."""
        return self._int("crvmonGetFirmwareRevision")

    @property
    def firmware_crc(self) -> int | None:
        """Firmware CRC (Orvek)."""
        return self._int("crvmonGetFirmwareCRC")

    @property
    def on_device_driver_version(self) -> str | None:
        """Version of the driver running on the device, "major.minor.patch" (Veltara)."""
        return self._text("crvmonGetOnDeviceDriverVersion")

    @property
    def on_device_driver_revision(self) -> int | None:
        """Revision of the driver running on the device (Veltara)."""
        return self._int("crvmonGetOnDeviceDriverRevision")

    # --- clocks and thermal ---------------------------------------------------------------

    @property
    def npu_clock(self) -> int | None:
        """NPU clock: MHz on Orvek cards, the host service's number (unscaled) on Veltara."""
        return self._int("crvmonGetNPUClock")

    @property
    def bus_clock(self) -> int | None:
        """Bus clock in MHz (Orvek)."""
        return self._int("crvmonGetBusClock")

    @property
    def temperature(self) -> int | None:
        """Chip temperature in degrees Celsius."""
        return self._int("crvmonGetTemperature")

    @property
    def pcie_switch_temperature(self) -> int | None:
        """PCI Express switch temperature in degrees Celsius (Orvek)."""
        return self._int("crvmonGetPcieSwitchTemperature")

    @property
    def fan_duty(self) -> int | None:
        """Fan duty in percent (Orvek)."""
        return self._int("crvmonGetFanDuty")

    # --- power (Orvek) --------------------------------------------------------------------

    @property
    def total_current(self) -> float | None:
        """Board current in amperes (Orvek)."""
        return self._reading("crvmonGetTotalCurrent")

    @property
    def total_power(self) -> float | None:
        """Board power in watts (Orvek)."""
        return self._reading("crvmonGetTotalPower")

    @property
    def total_voltage(self) -> float | None:
        """Board voltage in volts (Orvek)."""
        return self._reading("crvmonGetTotalVoltage")

    @property
    def extra_pmic_id(self) -> ExtraPmicId | None:
        """Which extra power monitor the extra-PMIC readings come from (Orvek)."""
        return self._enum("crvmonGetExtraPmicId", ExtraPmicId)

    @property
    def extra_pmic_current(self) -> float | None:
        """The selected extra power monitor's current in amperes (Orvek)."""
        return self._reading("crvmonGetExtraPmicCurrent")

    @property
    def extra_pmic_power(self) -> float | None:
        """The selected extra power monitor's power in watts (Orvek)."""
        return self._reading("crvmonGetExtraPmicPower")

    @property
    def extra_pmic_voltage(self) -> float | None:
        """The selected extra power monitor's voltage in volts (Orvek)."""
        return self._reading("crvmonGetExtraPmicVoltage")

    def set_extra_pmic_id(self, pmic: ExtraPmicId | int) -> None:
        """Selects the extra power monitor (0-3) the extra-PMIC readings come from. Only an
        Orvek PCI Express card accepts it: CrvmonError (status NOT_SUPPORTED) on any other."""
        pmic = ExtraPmicId(pmic)  # the library would keep only the low two bits of another
        status = self._call("crvmonSetExtraPmicID", int(pmic))
        if status != _OK:
            raise _failure(f"{self.id}: crvmonSetExtraPmicID", status)

    # --- memory and load ------------------------------------------------------------------

    @property
    def memory_total(self) -> int | None:
        """Device memory in bytes; None when the device never gave a size."""
        total = self._long("crvmonGetMemoryTotal")
        return None if total == 0 else total  # the library's 0 means no size was reported

    @property
    def memory_usage(self) -> int | None:
        """Device memory in use, in bytes."""
        return self._long("crvmonGetMemoryUsage")

    @property
    def total_utilization(self) -> float | None:
        """Average busy percentage of the cores, the whole-cluster entries left out."""
        return self._double("crvmonGetTotalUtilization")

    @property
    def core_infos(self) -> list[CoreInfo] | None:
        """Busy time per core: ten records on an Orvek card (per cluster its whole entry, then
        cores 1-4), one on a Veltara device."""

        def convert(r: Any) -> CoreInfo:
            return CoreInfo(r.cluster, r.core, r.busyTime, r.totalTime)

        return self._records("crvmonGetCoreInfos", _library.CoreInfoStruct, convert)

    @property
    def process_infos(self) -> list[ProcessInfo] | None:
        """The processes using the device (Veltara), the calling process left out."""

        def convert(r: Any) -> ProcessInfo:
            return ProcessInfo(r.pid, r.quantity, r.amount, r.totalTime, r.busyTime)

        return self._records("crvmonGetProcessInfos", _library.ProcessInfoStruct, convert)

    # --- everything at once ---------------------------------------------------------------

    def snapshot(self) -> dict[str, Any]:
        """Every value of the device, keyed and typed as ``crvmon-smi -q all -f json`` prints
        it: numbers, texts, lists of dicts for cores and processes, None for what the device
        does not provide."""
        timestamp = _utc_now()
        node = self.node
        driver = self.driver_type
        cores = self.core_infos
        processes = self.process_infos
        return {
            "id": self.id,
            "family": self.family,
            "type": int(self._target),
            "index": self._index,
            "timestamp": timestamp,
            "node": node,
            "driver.type": int(driver),
            "pci.vendor_id": self.vendor_id,
            "pci.device_id": self.device_id,
            "pci.sub_vendor_id": self.sub_vendor_id,
            "pci.sub_device_id": self.sub_device_id,
            "pcie.gen": self.pcie_gen,
            "pcie.lanes": self.pcie_lanes,
            "pcie.rev": self.pcie_rev,
            "pcie.class_code": self.pcie_class_code,
            "pcie.slot": self.pcie_slot,
            "signal_type": self.signal_type,
            "chip_id": self.chip_id,
            "driver.version": _driver_text(driver),
            "driver.revision": driver_revision(driver),
            "firmware.version": self.firmware_version,
            "firmware.revision": self.firmware_revision,
            "firmware.crc": self.firmware_crc,
            "device_driver.version": self.on_device_driver_version,
            "device_driver.revision": self.on_device_driver_revision,
            "clocks.npu": self.npu_clock,
            "clocks.bus": self.bus_clock,
            "temperature.chip": self.temperature,
            "temperature.pcie_switch": self.pcie_switch_temperature,
            "fan.duty": self.fan_duty,
            "power.draw": self.total_power,
            "power.current": self.total_current,
            "power.voltage": self.total_voltage,
            "extra_pmic.id": _int_or_none(self.extra_pmic_id),
            "extra_pmic.power": self.extra_pmic_power,
            "extra_pmic.current": self.extra_pmic_current,
            "extra_pmic.voltage": self.extra_pmic_voltage,
            "memory.total": self.memory_total,
            "memory.used": self.memory_usage,
            "utilization": self.total_utilization,
            "cores": None if cores is None else [_core_json(c) for c in cores],
            "processes": None if processes is None else [_process_json(p) for p in processes],
        }


def _int_or_none(value: int | None) -> int | None:
    return None if value is None else int(value)
