"""rowkit.dask: CSV and JSON-records files as a Dask DataFrame.

Each partition is one block of bytes of one file, read by the native reader
where the partition is computed (on a worker of a distributed cluster, the
worker itself opens the file, so every worker needs the same path)::

    import rowkit.dask

    df = rowkit.dask.read(["2024-01.csv", "2024-02.csv"], columns=["city", "amount"],
                          where=[("amount", ">", 0)], dtypes={"amount": "float64"})
    df.groupby("city").amount.sum().compute()

A block holds the rows of the lines that start in it (the library's
``rowkit_open_range``): a line is read whole by the block its first byte
lies in, so the blocks of a file together give every row once, in order,
wherever the block bounds fall. A JSON array cannot be cut at lines and is
one partition.
"""

from __future__ import annotations

import glob
import os
from ctypes import byref
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

from ._frames import _dtype_indices, _frame
from ._native import RowkitError, encode_path, last_error, lib, require
from ._reader import (
    Column,
    PathType,
    _Options,
    _header_of,
    _names_used,
    _predicates,
    read_header,
    result_names,
)

__all__ = ["read"]

# The byte counts a block size may be given in.
_UNITS = {
    "": 1, "b": 1,
    "kb": 10**3, "mb": 10**6, "gb": 10**9, "tb": 10**12,
    "kib": 2**10, "mib": 2**20, "gib": 2**30, "tib": 2**40,
}


def _block_bytes(blocksize: Union[int, str]) -> int:
    """A block size as bytes: an int, or a text such as "256MiB" or "64 MB"."""
    if isinstance(blocksize, bool):
        raise TypeError(f"blocksize must be an int or a text such as '256MiB', not {blocksize!r}")
    if isinstance(blocksize, int):
        n = blocksize
    elif isinstance(blocksize, str):
        text = blocksize.strip().lower()
        digits = text.rstrip("abcdefghijklmnopqrstuvwxyz").strip()
        unit = text[len(text.rstrip("abcdefghijklmnopqrstuvwxyz")):]
        if unit not in _UNITS or not digits:
            raise ValueError(f"blocksize {blocksize!r} is not a size such as '256MiB' or '64MB'")
        try:
            n = int(float(digits) * _UNITS[unit])
        except ValueError:
            raise ValueError(f"blocksize {blocksize!r} is not a size such as '256MiB'") from None
    else:
        raise TypeError(f"blocksize must be an int or a text such as '256MiB', not {blocksize!r}")
    if n <= 0:
        raise ValueError(f"blocksize must be positive, not {blocksize!r}")
    return n


def _expand(paths: Union[PathType, Sequence[PathType]]) -> List[str]:
    """The files named: one path, a list of paths, or glob patterns (sorted)."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    out: List[str] = []
    for path in paths:
        text = os.fsdecode(path)
        if glob.has_magic(text):
            matches = sorted(glob.glob(text))
            if not matches:
                raise FileNotFoundError(f"no file matches {text!r}")
            out += matches
        else:
            out.append(text)
    if not out:
        raise ValueError("no paths given")
    return out


def _open_range(path: str, options: _Options, start: int, end: int) -> int:
    open_range = require("rowkit_open_range", "rowkit.dask.read")
    ctx = open_range(encode_path(path), byref(options.c), start, end)
    if not ctx:
        raise last_error(path)
    return ctx


def _plan_file(path: str, block: int) -> Tuple[Tuple[str, ...], List[Tuple[int, int]]]:
    """A file's header and its partitions' byte ranges; a JSON array (which
    cannot be split) is one partition, marked by the range (0, -1)."""
    size = os.stat(path).st_size
    try:
        ctx = _open_range(path, _Options(None, None, None, False, None, None), 0, 0)
    except RowkitError as exc:
        if exc.name != "JsonArrayNotSplittable":
            raise
        return read_header(path), [(0, -1)]
    try:
        header = _header_of(ctx)
    finally:
        lib.rowkit_close(ctx)
    # As many partitions as blocks of `block` bytes, cut evenly: a file a
    # few bytes longer than one block gives two halves, not a block and a
    # sliver, so the workers get equal shares.
    parts = max(1, -(-size // block))
    return header, [(size * i // parts, size * (i + 1) // parts) for i in range(parts)]


def _result_columns(header: Sequence[str], options: _Options) -> Tuple[List[str], List[int]]:
    picked = options.projection if options.projection else list(range(len(header)))
    source = [header[i] if i < len(header) else f"Unnamed: {i}" for i in picked]
    return result_names(source, len(source)), list(range(len(picked)))


def read_block(path: str, start: int, end: int, columns: Optional[List[Column]], where: Any,
               negate: bool, dtypes: Optional[Mapping[Column, Any]]) -> Any:
    """The rows of the lines of ``path`` that start in [start, end) as a
    pandas DataFrame (``end`` -1: the whole file, for a JSON array). The
    partition function of :func:`read`."""
    import pandas

    header = read_header(path) if _names_used(columns, _predicates(where), None) else None
    options = _Options(header, columns, where, negate, None, None)
    if end < 0:
        ctx = lib.rowkit_open(encode_path(path), byref(options.c))
        if not ctx:
            raise last_error(path)
    else:
        ctx = _open_range(path, options, start, end)
    try:
        names, picked = _result_columns(_header_of(ctx), options)
        cc = lib.rowkit_collect_columnar(ctx)
        if not cc:
            raise last_error(path)
    finally:
        lib.rowkit_close(ctx)
    try:
        return _frame(pandas, cc, names, picked, _dtype_indices(dtypes, names))
    finally:
        lib.rowkit_collect_columnar_close(cc)


def read(
    paths: Union[PathType, Sequence[PathType]],
    columns: Optional[Sequence[Column]] = None,
    where: Any = None,
    negate: bool = False,
    blocksize: Union[int, str] = "256MiB",
    dtypes: Optional[Mapping[Column, Any]] = None,
) -> Any:
    """Reads CSV or JSON-records files into a :class:`dask.dataframe.DataFrame`.

    ``paths`` is one path, a list of paths, or glob patterns (their matches
    sorted). A file of N bytes gives ceil(N / ``blocksize``) partitions (an
    int, or a text such as ``"256MiB"`` or ``"64MB"``) over byte ranges of
    equal length, so none is longer than ``blocksize``; a JSON array gives
    one partition. Partitions come in file order and, within a file, in
    byte order, and
    each one's index starts at 0 as in ``dask.dataframe.read_csv``.

    ``columns``, ``where`` and ``negate`` are those of :func:`rowkit.open`
    and ``dtypes`` that of :func:`rowkit.read_pandas`; every other column is
    text (``object`` holding ``str``). The files must share the first file's
    columns: the result's column names and ``meta`` come from its header.
    The headers are read here; the rows only when partitions are computed.

    Raises (here): ImportError without Dask or pandas; FileNotFoundError and
    the other errors of opening a file; RowkitError for a file the library
    cannot read, such as a first JSON record that is not an object.
    """
    import dask.dataframe as dd
    import pandas

    block = _block_bytes(blocksize)
    files = _expand(paths)
    if isinstance(columns, (str, bytes)):
        raise TypeError("columns is a list of names or indices, not one string")
    columns = list(columns) if columns is not None else None
    where_list = _predicates(where)

    parts: List[Tuple[str, int, int]] = []
    first_header: Optional[Tuple[str, ...]] = None
    for path in files:
        header, ranges = _plan_file(path, block)
        if first_header is None:
            first_header = header
        parts += [(path, start, end) for start, end in ranges]
    assert first_header is not None
    options = _Options(first_header, columns, where_list, negate, None, None)
    names, _ = _result_columns(first_header, options)
    meta = pandas.DataFrame({name: pandas.Series([], dtype=object) for name in names})
    converted: Dict[int, Any] = _dtype_indices(dtypes, names)
    for i, dtype in converted.items():
        meta[names[i]] = meta[names[i]].astype(dtype)

    return dd.from_map(
        read_block,
        [p[0] for p in parts],
        [p[1] for p in parts],
        [p[2] for p in parts],
        args=(columns, where_list, negate, dict(dtypes) if dtypes else None),
        meta=meta,
        label="rowkit-read",
        enforce_metadata=False,
    )
