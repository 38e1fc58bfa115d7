"""The exceptions of the binding."""

from __future__ import annotations


class CrvmonError(Exception):
    """A call of the library failed with a status other than "not provided", or the library
    answered something the binding cannot use.

    ``status`` is the library's status (a :class:`crvmon.Status` where the number is one) and
    ``text`` its text from ``crvmonStatusString``; both are None when no call reported a status
    (a library that cannot be loaded, an answer out of range).
    """

    def __init__(self, message: str, status: int | None = None, text: str | None = None) -> None:
        super().__init__(message)
        self.status = status
        self.text = text


class LibraryNotFound(CrvmonError):
    """No usable crvmon library: ``tried`` names every place looked at and what went wrong."""

    def __init__(self, message: str, tried: list[str]) -> None:
        super().__init__(message + "; tried: " + "; ".join(tried))
        self.tried = tried
