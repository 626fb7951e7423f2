"""read_pandas: a whole file as a pandas DataFrame."""

from __future__ import annotations

import os
import stat
from typing import Any, Dict, List, Mapping, Optional, Sequence

from . import _columns
from ._native import encode_path, last_error, lib, optional
from ._reader import (
    Column,
    PathType,
    Reader,
    _index,
    _Options,
    _predicates,
    _unknown_column,
    column_arrays,
    read_header,
    result_names,
)


def read_pandas(
    path: PathType,
    columns: Optional[Sequence[Column]] = None,
    where: Any = None,
    negate: bool = False,
    limit: Optional[int] = None,
    dtypes: Optional[Mapping[Column, Any]] = None,
    threads: Optional[int] = None,
) -> Any:
    """Reads a CSV or JSON-records file into a :class:`pandas.DataFrame`.

    Every column is text (``object`` dtype holding ``str``, as
    ``pandas.read_csv(path, dtype=str, keep_default_na=False)`` gives it),
    except the columns named in ``dtypes``, which are converted to the given
    NumPy integer or floating dtype (``{"price": "float64", "qty": int}``;
    keys are names or indices of the result's columns). Numbers are read as
    Python's ``int()`` and ``float()`` read them, and an empty value is NaN in
    a floating column. Equal texts in a column may share one ``str`` object.

    ``columns``, ``where``, ``negate`` and ``limit`` are those of
    :func:`rowkit.open`. Repeated column names are made unique as pandas
    does (``name.1``). Every row is brought to the projection's width, else
    the header's (a missing field is ``""``).

    Without ``limit``, a regular file is scanned by ``threads`` threads
    (``None`` or ``0``: one per processor; a small file takes one; ``1``
    reads on the calling thread), with the same result: where the scan
    skipped JSON lines that are not objects or emptied nested values, the
    file is read again on the calling thread, which raises the error (or
    gives the rows, when the projection leaves the nested values out). Empty
    lines of JSON records are passed over by the scan, while the one-thread
    read fails on them. Pipes and ``limit`` are read on the calling thread.

    Raises:
        ImportError: pandas or NumPy is not installed.
        FileNotFoundError, IsADirectoryError, PermissionError: the path.
        RowkitError: any other failure, with the library's message.
        ValueError: a value of a ``dtypes`` column is not a number.
    """
    import pandas

    if threads is not None and (isinstance(threads, bool) or not isinstance(threads, int)
                                or threads < 0):
        raise ValueError(f"threads must be None or an int >= 0, not {threads!r}")
    parallel = optional["rowkit_parallel_collect_columnar"]
    collected = None
    if parallel is not None and limit is None and threads != 1 and _regular_file(path):
        collected = _collect_parallel(parallel, path, columns, where, negate, threads or 0)
    if collected is None:
        collected = _collect_sequential(path, columns, where, negate, limit)
    cc, names, picked = collected
    try:
        return _frame(pandas, cc, names, picked, _dtype_indices(dtypes, names))
    finally:
        lib.rowkit_collect_columnar_close(cc)


def _dtype_indices(dtypes: Optional[Mapping[Column, Any]], names: Sequence[str]) -> Dict[int, Any]:
    out: Dict[int, Any] = {}
    for column, dtype in (dtypes or {}).items():
        if isinstance(column, str):
            if column not in names:
                raise _unknown_column(column)
            out[list(names).index(column)] = dtype
        else:
            index = _index(None, column)
            if index >= len(names):
                raise _unknown_column(column)
            out[index] = dtype
    return out


def _collect_sequential(path: PathType, columns: Any, where: Any, negate: bool,
                        limit: Optional[int]):
    with Reader(path, columns, where, negate, limit) as reader:
        cc = lib.rowkit_collect_columnar(reader._handle())
        if not cc:
            raise reader._error()
        n_cols = lib.rowkit_collect_columnar_n_cols(cc)
        width = n_cols if n_cols else len(reader.columns)
        return cc, result_names(reader.columns, width), list(range(width))


def _regular_file(path: PathType) -> bool:
    """Whether ``path`` names a regular file: a pipe can be read only once,
    and its header must not be taken before the scan."""
    try:
        return stat.S_ISREG(os.stat(path).st_mode)
    except (OSError, ValueError):
        return False  # the one-thread read reports the error


def _count(name: str, cc: int) -> int:
    fn = optional[name]
    return fn(cc) if fn is not None else 0


def _collect_parallel(parallel: Any, path: PathType, columns: Any, where: Any, negate: bool,
                      threads: int):
    """The parallel scan's result, or None where the one-thread read must
    decide instead."""
    header = read_header(path)
    options = _Options(header, columns, _predicates(where), negate, None, None)
    cc = parallel(encode_path(path), ord(","), options.where, options.n_where,
                  1 if negate else 0, threads)
    if not cc:
        raise last_error(path)
    # JSON lines that are not objects, and nested values, fail the one-thread
    # read but are skipped or emptied by the scan: let that read raise (or
    # succeed, when the projection leaves the nested values out).
    if (_count("rowkit_collect_columnar_n_skipped_lines", cc)
            or _count("rowkit_collect_columnar_n_emptied_values", cc)):
        lib.rowkit_collect_columnar_close(cc)
        return None
    # The parallel scan has no projection: it returns every column, and the
    # projected ones are picked from its result.
    n_cols = lib.rowkit_collect_columnar_n_cols(cc)
    picked = options.projection if options.projection else list(range(n_cols or len(header)))
    source = [header[i] if i < len(header) else f"Unnamed: {i}" for i in picked]
    return cc, result_names(source, len(source)), picked


def _frame(pandas: Any, cc: int, names: List[str], picked: List[int], dtypes: Dict[int, Any]) -> Any:
    np = _columns.np
    n_rows = lib.rowkit_collect_columnar_n_rows(cc)
    text = [i for i in range(len(names)) if i not in dtypes]
    # Text columns are written straight into the rows of one 2-D block that
    # the DataFrame then holds without copying it.
    block = np.empty((len(text), n_rows), dtype=object)
    for row, i in enumerate(text):
        _columns.values_array(*column_arrays(cc, picked[i], n_rows), out=block[row])
    frame = pandas.DataFrame(block.T, columns=[names[i] for i in text], dtype=object, copy=False)
    for i in sorted(dtypes):
        values = _columns.numbers_array(*column_arrays(cc, picked[i], n_rows), dtypes[i], names[i])
        frame.insert(i, names[i], values)
    return frame
