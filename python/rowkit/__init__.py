"""rowkit: fast reading and validation of CSV and JSON-records files.

A thin layer over librowkit, a C library, through ctypes. Read a file row by
row or as a whole result::

    import rowkit

    with rowkit.open("people.csv", columns=["name", "city"],
                     where=[("age", ">=", 30)]) as reader:
        for name, city in reader:
            print(name, city)

    df = rowkit.read_pandas("people.csv", dtypes={"age": "int64"})
    report = rowkit.validate("people.csv", {"age": {"type": "integer", "min": 0}})

Readers (:func:`open`) hand out rows as tuples of ``str`` and compute whole
results: :meth:`Reader.count`, :meth:`Reader.aggregate`, :meth:`Reader.topk`,
:meth:`Reader.order_by`, :meth:`Reader.collect`, :meth:`Reader.collect_columns`
and :meth:`Reader.batches`. :func:`read_pandas` builds a DataFrame.
:func:`validate`, :class:`Validator`, :func:`validate_to_files` and
:func:`outcome` check rows against a schema.

Errors: :class:`FileNotFoundError`, :class:`IsADirectoryError`,
:class:`PermissionError` (and :class:`FileExistsError` for an output file
that exists) for those file errors, :class:`MemoryError` when the library
runs out of memory, and :class:`RowkitError` (a :class:`ValueError`) with the
library's message for everything else. Text that is not valid UTF-8 is
decoded with ``surrogateescape``, so ``s.encode("utf-8", "surrogateescape")``
gives back the file's bytes.

Type aliases for annotations: :data:`Column` (a header name or a zero-based
index), :data:`Predicate` (``(column, op, value)``) and :data:`Schema` (a
dict of column name to rules, or its JSON text).

The library keeps one process-wide error message: when several threads call
it at once, an exception may carry the message of another thread's call.

The library is found through the environment variable ``ROWKIT_LIBRARY``
(the path of ``librowkit.so``), then a copy installed inside this package,
then the system's loader path.
"""

from __future__ import annotations

from typing import Optional

from ._frames import read_pandas
from ._native import LIBRARY_PATH, RowkitError, optional
from ._reader import Aggregate, Column, Predicate, Reader, open, read_header
from ._validation import FileStats, Schema, Validator, outcome, validate, validate_to_files

__version__ = "0.1.0"

# Public names show as rowkit.X in help() and tracebacks.
for _public in (Aggregate, FileStats, Reader, RowkitError, Validator, open, outcome,
                read_header, read_pandas, validate, validate_to_files):
    _public.__module__ = __name__
del _public

__all__ = [
    "Aggregate",
    "Column",
    "FileStats",
    "LIBRARY_PATH",
    "Predicate",
    "Reader",
    "RowkitError",
    "Schema",
    "Validator",
    "library_version",
    "open",
    "outcome",
    "read_header",
    "read_pandas",
    "validate",
    "validate_to_files",
]


def library_version() -> Optional[str]:
    """The loaded library's version ("MAJOR.MINOR.PATCH"), or ``None`` when
    the library is too old to report it."""
    fn = optional["rowkit_version"]
    return fn().decode() if fn is not None else None
