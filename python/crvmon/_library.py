"""Finding and loading the crvmon library, and the C signatures of its flat functions."""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from pathlib import Path
from typing import Any, Callable

from ._errors import LibraryNotFound


class CoreInfoStruct(ctypes.Structure):
    """crvmonCoreInfo_t."""

    _fields_ = [
        ("cluster", ctypes.c_uint32),
        ("core", ctypes.c_uint32),
        ("busyTime", ctypes.c_int64),
        ("totalTime", ctypes.c_int64),
    ]


class ProcessInfoStruct(ctypes.Structure):
    """crvmonProcessInfo_t."""

    _fields_ = [
        ("pid", ctypes.c_int32),
        ("quantity", ctypes.c_uint32),
        ("amount", ctypes.c_uint64),
        ("totalTime", ctypes.c_int64),
        ("busyTime", ctypes.c_int64),
    ]


_ENUM = ctypes.c_int32  # every enumeration of the header is a 32-bit signed integer
_DEVICE = (_ENUM, ctypes.c_int)  # target type, index
_TEXT = (ctypes.POINTER(ctypes.c_char), ctypes.c_uint)  # buffer, size
_INT = (ctypes.POINTER(ctypes.c_int),)
_LONG = (ctypes.POINTER(ctypes.c_longlong),)
_DOUBLE = (ctypes.POINTER(ctypes.c_double),)
_SLOT_ENUM = (ctypes.POINTER(_ENUM),)

# Every export the binding calls, with its parameters; all return a crvmonStatusCode_t but the
# last.
_SIGNATURES: dict[str, tuple[Any, ...]] = {
    "crvmonInit": (),
    "crvmonShutdown": (),
    "crvmonGetDeviceCount": (ctypes.POINTER(ctypes.c_int),),
    "crvmonGetTargetDeviceCount": (_ENUM, ctypes.POINTER(ctypes.c_int)),
    "crvmonGetNodeName": _DEVICE + _TEXT,
    "crvmonGetDriverType": _DEVICE + _SLOT_ENUM,
    "crvmonGetVendorId": _DEVICE + _INT,
    "crvmonGetDeviceId": _DEVICE + _INT,
    "crvmonGetSubVendorId": _DEVICE + _INT,
    "crvmonGetSubDeviceId": _DEVICE + _INT,
    "crvmonGetPcieGen": _DEVICE + _INT,
    "crvmonGetPcieLanes": _DEVICE + _INT,
    "crvmonGetPcieRev": _DEVICE + _INT,
    "crvmonGetPcieClassCode": _DEVICE + _INT,
    "crvmonGetPcieSlot": _DEVICE + _TEXT,
    "crvmonGetSignalType": _DEVICE + _INT,
    "crvmonGetChipId": _DEVICE + _INT,
    "crvmonGetDriverVersion": (_ENUM,) + _TEXT,
    "crvmonGetDriverRevision": (_ENUM, ctypes.POINTER(ctypes.c_uint)),
    "crvmonGetFirmwareVersion": _DEVICE + _TEXT,
    "crvmonGetFirmwareRevision": _DEVICE + _INT,
    "crvmonGetFirmwareCRC": _DEVICE + _INT,
    "crvmonGetOnDeviceDriverVersion": _DEVICE + _TEXT,
    "crvmonGetOnDeviceDriverRevision": _DEVICE + _INT,
    "crvmonGetNPUClock": _DEVICE + _INT,
    "crvmonGetBusClock": _DEVICE + _INT,
    "crvmonGetTemperature": _DEVICE + _INT,
    "crvmonGetPcieSwitchTemperature": _DEVICE + _INT,
    "crvmonGetFanDuty": _DEVICE + _INT,
    "crvmonGetTotalCurrent": _DEVICE + _DOUBLE,
    "crvmonGetTotalPower": _DEVICE + _DOUBLE,
    "crvmonGetTotalVoltage": _DEVICE + _DOUBLE,
    "crvmonGetExtraPmicCurrent": _DEVICE + _DOUBLE,
    "crvmonGetExtraPmicPower": _DEVICE + _DOUBLE,
    "crvmonGetExtraPmicVoltage": _DEVICE + _DOUBLE,
    "crvmonGetExtraPmicId": _DEVICE + _SLOT_ENUM,
    "crvmonSetExtraPmicID": _DEVICE + (_ENUM,),
    "crvmonGetMemoryTotal": _DEVICE + _LONG,
    "crvmonGetMemoryUsage": _DEVICE + _LONG,
    "crvmonGetCoreInfos": _DEVICE
    + (ctypes.POINTER(CoreInfoStruct), ctypes.POINTER(ctypes.c_uint)),
    "crvmonGetTotalUtilization": _DEVICE + _DOUBLE,
    "crvmonGetProcessInfos": _DEVICE
    + (ctypes.POINTER(ProcessInfoStruct), ctypes.POINTER(ctypes.c_uint)),
    "crvmonStatusString": (_ENUM,),
}

FILE_NAME = "crvmon.dll" if sys.platform == "win32" else "libcrvmon.so"
BUNDLED = Path(__file__).resolve().parent / FILE_NAME


class Library:
    """The loaded library: where it came from, and its flat functions by name."""

    def __init__(self, handle: ctypes.CDLL, path: str) -> None:
        self.path = path
        self.functions: dict[str, Callable[..., Any]] = {}
        for name, parameters in _SIGNATURES.items():
            try:
                function = getattr(handle, name)
            except AttributeError:
                raise LibraryNotFound(
                    f"{path} is no crvmon library this binding can use: it lacks {name}",
                    [path],
                ) from None
            function.argtypes = list(parameters)
            function.restype = ctypes.c_char_p if name == "crvmonStatusString" else _ENUM
            self.functions[name] = function

    def status_text(self, status: int) -> str:
        """The library's own words for a status."""
        text: bytes | None = self.functions["crvmonStatusString"](status)
        return text.decode("ascii", "replace") if text else "unknown status"


_loaded: Library | None = None
_loading = threading.Lock()


def _open(path: str) -> ctypes.CDLL:
    # RTLD_GLOBAL is not needed: nothing else resolves symbols against the library.
    return ctypes.CDLL(path)


def _find() -> Library:
    tried: list[str] = []
    explicit = os.environ.get("CRVMON_LIBRARY")
    if explicit:
        # A library chosen by name is used or refused, never silently replaced by another copy.
        try:
            return Library(_open(explicit), explicit)
        except OSError as error:
            tried.append(f"CRVMON_LIBRARY={explicit} ({error})")
            raise LibraryNotFound("cannot load the crvmon library", tried) from None
    tried.append("CRVMON_LIBRARY (not set)")

    if BUNDLED.is_file():
        try:
            return Library(_open(str(BUNDLED)), str(BUNDLED))
        except OSError as error:
            tried.append(f"{BUNDLED} ({error})")
            raise LibraryNotFound("cannot load the copy shipped with this package", tried) from None
    tried.append(f"{BUNDLED} (this package ships no library)")

    try:
        return Library(_open(FILE_NAME), FILE_NAME)
    except OSError as error:
        tried.append(f"{FILE_NAME} on the system's search path ({error})")
    raise LibraryNotFound("cannot load the crvmon library", tried)


def library() -> Library:
    """The library, loaded on first use (so that importing the package never needs it)."""
    global _loaded
    if _loaded is None:
        with _loading:
            if _loaded is None:
                _loaded = _find()
    return _loaded


def functions() -> dict[str, Callable[..., Any]]:
    """The flat functions by name (the library loaded on first use)."""
    loaded = _loaded
    return (loaded if loaded is not None else library()).functions


def library_path() -> str:
    """Where the library in use was loaded from: a path, or the file name the system found."""
    return library().path
