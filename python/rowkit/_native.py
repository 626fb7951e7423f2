"""Loading librowkit and declaring its C interface for ctypes.

The library is looked up in this order:

1. the path in the environment variable ``ROWKIT_LIBRARY`` (no fallback when
   it is set: a wrong path is an error, not a reason to load another copy);
2. ``librowkit.so`` installed inside this package;
3. the system's loader path (``LD_LIBRARY_PATH``, the loader cache and the
   default directories), as ``librowkit.so.0`` and then ``librowkit.so``.

Functions that a given library build does not have yet are ``None`` in
:data:`optional`; the Python layer checks for them before use.
"""

from __future__ import annotations

import ctypes
import errno
import os
import re
from ctypes import (
    POINTER,
    Structure,
    c_char_p,
    c_double,
    c_int,
    c_size_t,
    c_uint8,
    c_uint64,
    c_void_p,
)
from typing import Any, Dict, List, Optional

ENV_VAR = "ROWKIT_LIBRARY"
_BUNDLED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "librowkit.so")
_LOADER_NAMES = ("librowkit.so.0", "librowkit.so")

SIZE_MAX = ctypes.c_size_t(-1).value


# ---------------------------------------------------------------------------
# Records of the C interface (field order and types as in rowkit.h)
# ---------------------------------------------------------------------------


class CPredicate(Structure):
    _fields_ = [
        ("column", c_size_t),
        ("op", c_int),
        ("value", c_char_p),
        ("values", POINTER(c_char_p)),
        ("n_values", c_size_t),
    ]


class COptions(Structure):
    _fields_ = [
        ("columns", POINTER(c_size_t)),
        ("n_columns", c_size_t),
        ("where", POINTER(CPredicate)),
        ("n_where", c_size_t),
        ("limit", ctypes.c_int64),
        ("max_column", ctypes.c_int64),
        ("negate", c_int),
    ]


class AggC(Structure):
    _fields_ = [
        ("count", c_uint64),
        ("sum", c_double),
        ("min", c_double),
        ("max", c_double),
        ("avg", c_double),
        ("has_values", c_int),
    ]


class Stats(Structure):
    _fields_ = [
        ("rows_total", c_uint64),
        ("rows_valid", c_uint64),
        ("rows_invalid", c_uint64),
        ("errors_total", c_uint64),
    ]


FIELDS = POINTER(c_char_p)

# name: (restype, argtypes). Handles travel as c_void_p.
_REQUIRED = {
    "rowkit_build_mode": (c_char_p, []),
    "rowkit_last_error": (c_char_p, []),
    "rowkit_open": (c_void_p, [c_char_p, POINTER(COptions)]),
    "rowkit_column_index": (c_size_t, [c_void_p, c_char_p]),
    "rowkit_n_columns": (c_size_t, [c_void_p]),
    "rowkit_column_name": (c_char_p, [c_void_p, c_size_t]),
    "rowkit_next": (c_int, [c_void_p, POINTER(FIELDS), POINTER(c_size_t)]),
    "rowkit_close": (None, [c_void_p]),
    "rowkit_count": (ctypes.c_int64, [c_void_p]),
    "rowkit_aggregate": (c_int, [c_void_p, c_size_t, POINTER(AggC)]),
    "rowkit_topk": (c_void_p, [c_void_p, c_size_t, c_size_t, c_int]),
    "rowkit_topk_next": (
        c_int,
        [c_void_p, POINTER(FIELDS), POINTER(c_size_t), POINTER(c_double)],
    ),
    "rowkit_topk_close": (None, [c_void_p]),
    "rowkit_order_by": (c_void_p, [c_void_p, c_size_t, c_int]),
    "rowkit_order_by_next": (c_int, [c_void_p, POINTER(FIELDS), POINTER(c_size_t)]),
    "rowkit_order_by_close": (None, [c_void_p]),
    "rowkit_collect": (c_void_p, [c_void_p]),
    "rowkit_collect_data": (c_void_p, [c_void_p, POINTER(c_size_t)]),
    "rowkit_collect_n_rows": (c_size_t, [c_void_p]),
    "rowkit_collect_n_cols": (c_size_t, [c_void_p]),
    "rowkit_collect_close": (None, [c_void_p]),
    "rowkit_collect_columnar": (c_void_p, [c_void_p]),
    "rowkit_collect_columnar_n_rows": (c_size_t, [c_void_p]),
    "rowkit_collect_columnar_n_cols": (c_size_t, [c_void_p]),
    "rowkit_collect_columnar_data": (c_void_p, [c_void_p, c_size_t, POINTER(c_size_t)]),
    "rowkit_collect_columnar_offsets": (c_void_p, [c_void_p, c_size_t, POINTER(c_size_t)]),
    "rowkit_collect_columnar_close": (None, [c_void_p]),
    "rowkit_validate": (c_void_p, [c_char_p, c_char_p, c_size_t]),
    "rowkit_validate_json": (c_char_p, [c_void_p]),
    "rowkit_validate_free": (None, [c_void_p]),
}

# Families that newer library builds add; absent ones are None.
_OPTIONAL = {
    "rowkit_version": (c_char_p, []),
    "rowkit_last_error_detail": (c_char_p, []),
    "rowkit_line_number": (c_uint64, [c_void_p]),
    "rowkit_open_range": (c_void_p, [c_char_p, POINTER(COptions), c_uint64, c_uint64]),
    "rowkit_parallel_collect_columnar": (
        c_void_p,
        [c_char_p, c_uint8, POINTER(CPredicate), c_size_t, c_int, c_size_t],
    ),
    "rowkit_collect_columnar_n_skipped_lines": (c_size_t, [c_void_p]),
    "rowkit_collect_columnar_n_emptied_values": (c_size_t, [c_void_p]),
    "rowkit_next_batch": (c_int, [c_void_p, c_size_t, c_size_t, POINTER(c_void_p)]),
    "rowkit_validator_next_batch": (
        c_int,
        [c_void_p, c_size_t, c_size_t, POINTER(c_void_p)],
    ),
    "rowkit_batch_json": (c_void_p, [c_void_p, POINTER(c_size_t)]),
    "rowkit_batch_free": (None, [c_void_p]),
    "rowkit_validator_open": (c_void_p, [c_char_p, c_char_p]),
    "rowkit_validator_next": (
        c_int,
        [
            c_void_p,
            POINTER(FIELDS),
            POINTER(c_size_t),
            POINTER(c_char_p),
            POINTER(c_uint64),
        ],
    ),
    "rowkit_validator_column_name": (c_char_p, [c_void_p, c_size_t]),
    "rowkit_validator_n_columns": (c_size_t, [c_void_p]),
    "rowkit_validator_rows_total": (c_uint64, [c_void_p]),
    "rowkit_validator_rows_valid": (c_uint64, [c_void_p]),
    "rowkit_validator_rows_invalid": (c_uint64, [c_void_p]),
    "rowkit_validator_close": (None, [c_void_p]),
    "rowkit_validate_to_files": (
        c_int,
        [c_char_p, c_char_p, c_char_p, c_char_p, POINTER(Stats)],
    ),
    "rowkit_validate_outcome": (
        c_void_p,
        [POINTER(c_uint8), c_size_t, c_char_p, c_int, c_int],
    ),
    "rowkit_outcome_free": (None, [c_void_p]),
}


def _load() -> "tuple[ctypes.CDLL, str]":
    explicit = os.environ.get(ENV_VAR)
    if explicit:
        try:
            return ctypes.CDLL(explicit), explicit
        except OSError as exc:
            raise ImportError(
                f"rowkit: cannot load the library named by {ENV_VAR}={explicit!r}: {exc}. "
                f"Set {ENV_VAR} to the path of a built librowkit.so "
                "(for example build/librowkit.so after `make`), or unset it to use "
                "the copy inside the package or the system's loader path."
            ) from None
    tried: List[str] = []
    if os.path.exists(_BUNDLED):
        try:
            return ctypes.CDLL(_BUNDLED), _BUNDLED
        except OSError as exc:
            tried.append(f"{_BUNDLED} ({exc})")
    else:
        tried.append(f"{_BUNDLED} (not installed)")
    for name in _LOADER_NAMES:
        try:
            return ctypes.CDLL(name), name
        except OSError as exc:
            tried.append(f"{name} ({exc})")
    raise ImportError(
        "rowkit: librowkit.so was not found. Set the environment variable "
        f"{ENV_VAR} to the full path of librowkit.so (for example "
        f"{ENV_VAR}=/path/to/librowkit/build/librowkit.so after `make`), reinstall the "
        "package from a checkout where the library is built so that a copy goes "
        "inside it, or add the directory holding librowkit.so to LD_LIBRARY_PATH. "
        "Tried: " + "; ".join(tried)
    )


def _declare(lib: ctypes.CDLL, name: str, restype: Any, argtypes: list) -> Any:
    fn = getattr(lib, name)
    fn.restype = restype
    fn.argtypes = argtypes
    return fn


lib, LIBRARY_PATH = _load()

for _name, (_res, _args) in _REQUIRED.items():
    try:
        _declare(lib, _name, _res, _args)
    except AttributeError:
        raise ImportError(
            f"rowkit: the library loaded from {LIBRARY_PATH} lacks {_name}; it is "
            f"older than this package. Point {ENV_VAR} at a current build."
        ) from None

optional: Dict[str, Optional[Any]] = {}
for _name, (_res, _args) in _OPTIONAL.items():
    try:
        optional[_name] = _declare(lib, _name, _res, _args)
    except AttributeError:
        optional[_name] = None


# ---------------------------------------------------------------------------
# Text
# ---------------------------------------------------------------------------


def decode(raw: bytes) -> str:
    """Library bytes as str; bytes that are not UTF-8 survive as surrogates."""
    return raw.decode("utf-8", "surrogateescape")


def encode_path(path: "os.PathLike[str] | str | bytes") -> bytes:
    raw = os.fsencode(path)
    if b"\0" in raw:
        raise ValueError("path contains a NUL byte")
    return raw


def encode_text(text: "str | bytes", what: str) -> bytes:
    raw = text if isinstance(text, bytes) else text.encode("utf-8", "surrogateescape")
    if b"\0" in raw:
        raise ValueError(f"{what} contains a NUL byte")
    return raw


# ---------------------------------------------------------------------------
# Errors
# ---------------------------------------------------------------------------


class RowkitError(ValueError):
    """An error reported by librowkit.

    ``str(error)`` and :attr:`message` are the library's message exactly as
    ``rowkit_last_error()`` returned it (for example ``"next failed:
    UnterminatedQuote"``). :attr:`name` is the error name at its end when the
    message has one (``"UnterminatedQuote"``), else ``None``. :attr:`detail`
    is the library's detail text (``'file "a.csv", line 3, byte offset 27'``,
    ``'column "age": rule "min" must be a number, got a string'``) and
    :attr:`line` the 1-based file line where the failing record begins, each
    ``None`` when unknown. ``str(error)`` shows the message with the detail
    in parentheses. The OS and memory errors the library reports carry the
    same two attributes.
    """

    def __init__(
        self,
        message: str,
        name: Optional[str] = None,
        detail: Optional[str] = None,
        line: Optional[int] = None,
    ) -> None:
        super().__init__(message)
        self.message = message
        self.name = name
        self.detail = detail
        self.line = line

    def __str__(self) -> str:
        if self.detail:
            return f"{self.message} ({self.detail})"
        if self.line:
            return f"{self.message} (line {self.line})"
        return self.message


_OS_ERRORS = {
    "FileNotFound": (FileNotFoundError, errno.ENOENT),
    "IsDir": (IsADirectoryError, errno.EISDIR),
    "AccessDenied": (PermissionError, errno.EACCES),
    "PathAlreadyExists": (FileExistsError, errno.EEXIST),
    "NotDir": (NotADirectoryError, errno.ENOTDIR),
}


def error_name(message: str) -> Optional[str]:
    """The error name that ends a prefixed message ("open failed: IsDir")."""
    head, sep, tail = message.rpartition(": ")
    if sep and tail.isidentifier() and tail[:1].isupper():
        return tail
    return None


_DETAIL_LINE = re.compile(r", line (\d+), byte offset \d+$")


def make_error(
    message: Optional[str],
    filename: Any = None,
    line: Optional[int] = None,
    detail_source: Any = None,
) -> Exception:
    """The Python exception for a library message; `detail_source`, when
    given, returns the detail that goes with it (raw bytes or None)."""
    if message is None:
        return RowkitError(
            "librowkit reported a failure but no message (another thread's call "
            "replaced the process-wide message)"
        )
    name = error_name(message)
    detail = None
    if detail_source is not None:
        raw = detail_source()
        detail = decode(raw) if raw else None
    if not line and detail:
        # A failure without a handle (a bad header, say) gives its line only
        # in the detail: 'file "a.csv", line 1, byte offset 0'.
        found = _DETAIL_LINE.search(detail)
        line = int(found.group(1)) if found else None
    error: Exception
    if name in _OS_ERRORS:
        cls, code = _OS_ERRORS[name]
        text = f"{message} ({detail})" if detail else message
        error = cls(code, text, filename) if filename is not None else cls(code, text)
    elif name == "OutOfMemory" or message.startswith("out of memory"):
        error = MemoryError(f"{message} ({detail})" if detail else message)
    else:
        return RowkitError(message, name, detail, line or None)
    error.detail = detail  # type: ignore[attr-defined]
    error.line = line or None  # type: ignore[attr-defined]
    return error


def last_error(filename: Any = None, line: Optional[int] = None) -> Exception:
    """The exception for the failure the last library call reported."""
    raw = lib.rowkit_last_error()
    return make_error(decode(raw) if raw is not None else None, filename, line,
                      optional["rowkit_last_error_detail"])


def require(name: str, what: str) -> Any:
    fn = optional.get(name)
    if fn is None:
        raise NotImplementedError(
            f"{what} needs {name}, which the library loaded from {LIBRARY_PATH} "
            "does not export yet"
        )
    return fn


def check_null(result: Optional[int], filename: Any = None) -> int:
    if not result:
        raise last_error(filename)
    return result
