"""The operating system's name of a process, as crvmon-smi shows it: /proc/PID/comm on Linux,
the image's file name on Windows. None when there is none to give."""

from __future__ import annotations

import sys


def process_name(pid: int) -> str | None:
    if pid <= 0:
        return None
    if sys.platform == "win32":
        return _windows_name(pid)
    try:
        with open(f"/proc/{pid}/comm", "rb") as comm:
            raw = comm.readline().rstrip(b"\n")
    except OSError:
        return None
    # The kernel keeps any bytes: what is not printable ASCII becomes '?', as the tools show it.
    return "".join(chr(b) if 0x20 <= b <= 0x7E else "?" for b in raw) or None


if sys.platform == "win32":

    def _windows_name(pid: int) -> str | None:
        import ctypes
        from ctypes import wintypes

        kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
        kernel32.OpenProcess.restype = wintypes.HANDLE
        kernel32.OpenProcess.argtypes = (wintypes.DWORD, wintypes.BOOL, wintypes.DWORD)
        kernel32.QueryFullProcessImageNameW.argtypes = (
            wintypes.HANDLE, wintypes.DWORD, wintypes.LPWSTR, ctypes.POINTER(wintypes.DWORD))
        kernel32.CloseHandle.argtypes = (wintypes.HANDLE,)
        query_limited_information = 0x1000
        handle = kernel32.OpenProcess(query_limited_information, False, pid)
        if not handle:
            return None
        try:
            size = wintypes.DWORD(520)
            path = ctypes.create_unicode_buffer(size.value)
            if not kernel32.QueryFullProcessImageNameW(handle, 0, path, ctypes.byref(size)):
                return None
        finally:
            kernel32.CloseHandle(handle)
        return path.value.replace("/", "\\").rsplit("\\", 1)[-1] or None
