"""The library's thread rules, kept for the caller.

init and shutdown must run beside no other call; calls on one Orvek device must not overlap;
two process-list reads of one Veltara device at once mix their snapshots at the host service.
Everything else may overlap, so readers share the session and take a device's lock only where
the library needs it.
"""

from __future__ import annotations

import threading

from ._types import TargetType


class SessionLock:
    """Many readers, or one writer (init, shutdown). Writers go first once they wait, so a
    stream of reads cannot hold shutdown off."""

    def __init__(self) -> None:
        # The plain lock on the readers' path: a Condition's own enter and exit cost a reader
        # more than the rest of the binding's work for a call.
        self._mutex = threading.Lock()
        self._changed = threading.Condition(self._mutex)
        self._readers = 0
        self._writing = False
        self._writers_waiting = 0

    def acquire_shared(self) -> None:
        with self._mutex:
            while self._writing or self._writers_waiting:
                self._changed.wait()
            self._readers += 1

    def release_shared(self) -> None:
        with self._mutex:
            self._readers -= 1
            if self._readers == 0 and self._writers_waiting:
                self._changed.notify_all()

    def acquire_exclusive(self) -> None:
        with self._mutex:
            self._writers_waiting += 1
            try:
                while self._writing or self._readers:
                    self._changed.wait()
            finally:
                self._writers_waiting -= 1
            self._writing = True

    def release_exclusive(self) -> None:
        with self._mutex:
            self._writing = False
            self._changed.notify_all()


SESSION = SessionLock()

_device_locks: dict[tuple[int, int, bool], threading.Lock] = {}


def device_lock(target: TargetType, index: int, process_list: bool) -> threading.Lock | None:
    """The lock a call on this device must hold, or None when it may overlap any other."""
    if target.family == "Orvek":
        key = (int(target), index, False)  # every call on the card
    elif process_list:
        key = (int(target), index, True)  # process-list reads only
    else:
        return None
    lock = _device_locks.get(key)
    if lock is None:
        lock = _device_locks.setdefault(key, threading.Lock())
    return lock
