"""The reader: one open file with its options, and every result family."""


import ctypes
import functools
import json
import math
import numbers
import os
import re
from ctypes import byref, c_char_p, c_size_t, c_uint8, c_uint32, c_void_p
from typing import (
    Any,
    Dict,
    Iterable,
    Iterator,
    List,
    NamedTuple,
    Optional,
    Sequence,
    Tuple,
    Union,
)

from . import _columns
from ._native import (
    FIELDS,
    AggC,
    COptions,
    CPredicate,
    RowkitError,
    decode,
    encode_path,
    encode_text,
    last_error,
    lib,
    optional,
    require,
)

Column = Union[str, int]
"""A column by header name or by zero-based index."""

Predicate = Tuple[Column, str, Any]
"""``(column, op, value)``, for example ``("age", ">=", 30)``."""

Row = Tuple[str, ...]
PathType = Union[str, bytes, os.PathLike]

_OPS = {
    "==": 0, "=": 0, "eq": 0,
    "!=": 1, "neq": 1,
    ">": 2, "gt": 2,
    ">=": 3, "gte": 3,
    "<": 4, "lt": 4,
    "<=": 5, "lte": 5,
    "in": 6, "in_list": 6,
}
_IN_LIST = 6
_MAX_BATCH_ROWS = 65536

_decode_field = functools.partial(bytes.decode, encoding="utf-8", errors="surrogateescape")


class Aggregate(NamedTuple):
    """Statistics of the numeric values of one column.

    ``min``, ``max`` and ``mean`` are ``None`` when the column held no number.
    """

    count: int
    sum: float
    min: Optional[float]
    max: Optional[float]
    mean: Optional[float]


# ---------------------------------------------------------------------------
# Options
# ---------------------------------------------------------------------------


def _unknown_column(column: Any) -> RowkitError:
    name = column if isinstance(column, str) else repr(column)
    return RowkitError(f"unknown column {column!r}", "UnknownColumn",
                       f"column {json.dumps(name, ensure_ascii=False)} is not in the header")


def _index(header: Optional[Sequence[str]], column: Column) -> int:
    """A source column index from a name (first match) or an index."""
    if isinstance(column, str):
        assert header is not None
        try:
            return list(header).index(column)
        except ValueError:
            raise _unknown_column(column) from None
    if isinstance(column, bool) or not isinstance(column, numbers.Integral):
        raise TypeError(f"a column is a name (str) or an index (int), not {column!r}")
    if column < 0:
        raise ValueError(f"column index {column} is negative")
    return int(column)


def _value_text(value: Any) -> bytes:
    """A predicate value as the text the C options take."""
    if isinstance(value, (str, bytes)):
        return encode_text(value, "predicate value")
    if isinstance(value, bool):
        return b"true" if value else b"false"
    if isinstance(value, numbers.Integral):
        return str(int(value)).encode()
    if isinstance(value, numbers.Real):
        number = float(value)
        if not math.isfinite(number):
            raise ValueError(f"predicate value {value!r} is not a finite number")
        return repr(number).encode()
    raise TypeError(f"predicate value {value!r} is not text or a number")


def _predicates(where: Any) -> List[Predicate]:
    if where is None:
        return []
    if isinstance(where, tuple) and len(where) == 3 and isinstance(where[1], str) \
            and isinstance(where[0], (str, numbers.Integral)):
        return [where]  # one predicate given on its own
    return list(where)


def _names_used(columns: Any, where: List[Predicate], max_column: Any) -> bool:
    used = list(columns or []) + [p[0] for p in where if isinstance(p, tuple) and p]
    used.append(max_column)
    return any(isinstance(c, str) for c in used)


class _Options:
    """COptions and the C memory it points at, kept alive together."""

    def __init__(
        self,
        header: Optional[Sequence[str]],
        columns: Optional[Sequence[Column]],
        where: Any,
        negate: bool,
        limit: Optional[int],
        max_column: Optional[Column],
    ) -> None:
        if isinstance(columns, (str, bytes)):
            raise TypeError("columns is a list of names or indices, not one string")
        self.projection = [_index(header, c) for c in columns] if columns is not None else None
        preds = _predicates(where)
        self.where = (CPredicate * max(1, len(preds)))()
        self._keep: List[Any] = []
        source_columns = []
        for slot, pred in zip(self.where, preds):
            if not isinstance(pred, tuple) or len(pred) != 3:
                raise TypeError(f"a predicate is a (column, op, value) tuple, not {pred!r}")
            column, op, value = pred
            if op not in _OPS:
                raise ValueError(f"unknown operator {op!r}; use one of {', '.join(_OPS)}")
            slot.column = _index(header, column)
            slot.op = _OPS[op]
            source_columns.append(slot.column)
            if slot.op == _IN_LIST:
                if isinstance(value, (str, bytes)) or not isinstance(value, Iterable):
                    raise TypeError(f"'in' takes a list of values, not {value!r}")
                texts = [_value_text(v) for v in value]
                array = (c_char_p * max(1, len(texts)))(*texts)
                self._keep += [texts, array]
                slot.values = array
                slot.n_values = len(texts)
            else:
                text = _value_text(value)
                self._keep.append(text)
                slot.value = text
        self.n_where = len(preds)
        if limit is not None:
            if isinstance(limit, bool) or not isinstance(limit, numbers.Integral) or limit < 0:
                raise ValueError(f"limit must be None or an int >= 0, not {limit!r}")
        if max_column is not None:
            max_index = _index(header, max_column)
        elif self.projection:
            # Rows only need the columns the projection and the predicates read;
            # the reader then stops splitting each line after the last of them.
            max_index = max(self.projection + source_columns)
        else:
            max_index = -1
        self.c = COptions()
        if self.projection:
            self._columns = (c_size_t * len(self.projection))(*self.projection)
            self.c.columns = self._columns
            self.c.n_columns = len(self.projection)
        self.c.where = self.where
        self.c.n_where = self.n_where
        self.c.limit = -1 if limit is None else int(limit)
        self.c.max_column = max_index
        self.c.negate = 1 if negate else 0


def _unique_names(names: Sequence[str]) -> List[str]:
    """Names made unique the way pandas does it: a, a.1, a.2."""
    seen: Dict[str, int] = {}
    taken = set(names)
    out = []
    for name in names:
        if name in seen:
            count = seen[name]
            candidate = f"{name}.{count}"
            while candidate in taken:
                count += 1
                candidate = f"{name}.{count}"
            seen[name] = count + 1
            taken.add(candidate)
            out.append(candidate)
        else:
            seen[name] = 1
            out.append(name)
    return out


def _header_of(ctx: int) -> Tuple[str, ...]:
    return tuple(
        decode(lib.rowkit_column_name(ctx, i)) for i in range(lib.rowkit_n_columns(ctx))
    )


def read_header(path: PathType) -> Tuple[str, ...]:
    """The header names of the file at ``path`` (reads only its start)."""
    ctx = lib.rowkit_open(encode_path(path), None)
    if not ctx:
        raise last_error(path)
    try:
        return _header_of(ctx)
    finally:
        lib.rowkit_close(ctx)


# ---------------------------------------------------------------------------
# Columnar results
# ---------------------------------------------------------------------------


def _column_memory(cc: int, c: int, n_rows: int) -> Tuple[Any, Any]:
    """Column ``c`` of a columnar result as ctypes arrays over the library's
    memory (valid until the result is closed): data bytes and offsets."""
    data_len = c_size_t(0)
    data_ptr = lib.rowkit_collect_columnar_data(cc, c, byref(data_len))
    n_offsets = c_size_t(0)
    offsets_ptr = lib.rowkit_collect_columnar_offsets(cc, c, byref(n_offsets))
    if not offsets_ptr:  # a column past the result's width: every value empty
        return (c_uint8 * 0)(), (c_uint32 * (n_rows + 1))()
    data = (c_uint8 * data_len.value).from_address(data_ptr) if data_ptr else (c_uint8 * 0)()
    return data, (c_uint32 * n_offsets.value).from_address(offsets_ptr)


def column_arrays(cc: int, c: int, n_rows: int) -> Tuple[Any, Any]:
    """Column ``c`` as NumPy views: ``uint8`` data and ``uint32`` offsets."""
    np = _columns.np
    data, offsets = _column_memory(cc, c, n_rows)
    return np.frombuffer(data, dtype=np.uint8), np.frombuffer(offsets, dtype=np.uint32)


def column_strings(cc: int, c: int, n_rows: int) -> List[str]:
    """Column ``c`` as a list of ``str``."""
    if _columns.np is not None:
        return _columns.values_array(*column_arrays(cc, c, n_rows)).tolist()
    data, offsets = _column_memory(cc, c, n_rows)
    return _columns.values_list(bytes(data), list(offsets))


def result_names(names: Sequence[str], n_cols: int) -> List[str]:
    """Names for ``n_cols`` result columns: the given ones, then by position."""
    out = list(names[:n_cols])
    out += [f"Unnamed: {i}" for i in range(len(out), n_cols)]
    return _unique_names(out)


# ---------------------------------------------------------------------------
# Reader
# ---------------------------------------------------------------------------


class Reader:
    """An open CSV or JSON-records file, read forward once.

    Made by :func:`rowkit.open`. :attr:`header` holds the file's header names,
    :attr:`columns` the names of the columns each row holds (the projection,
    else the header). Iterating yields each row that passes the
    predicates, projected onto the requested columns, as a tuple of ``str``.
    The whole-result methods (:meth:`count`, :meth:`aggregate`, :meth:`topk`,
    :meth:`order_by`, :meth:`collect`, :meth:`collect_columns`) read the rows
    that remain and so consume them; rows already read are not seen again.
    :meth:`batches` hands the remaining rows out in lists.

    A reader is a context manager; :meth:`close` frees the C handle (also
    done when the reader is garbage-collected). One reader must not be used
    by two threads at once.

    After an error on a row (``UnterminatedQuote``, ``InvalidJson``...) the
    reader stays usable: calling ``next()`` again goes on with the next row.

    A field holding a NUL byte ends at that byte in the rows handed out one
    by one (iteration, :meth:`topk`, :meth:`order_by`: their cursors give C
    strings); :meth:`collect`, :meth:`collect_columns` and :meth:`batches`
    keep it whole.
    """

    header: Tuple[str, ...]
    """The file's header names (all columns, in file order)."""

    columns: Tuple[str, ...]
    """Names of the columns each row holds: the projection, else the header."""

    def __init__(
        self,
        path: PathType,
        columns: Optional[Sequence[Column]] = None,
        where: Any = None,
        negate: bool = False,
        limit: Optional[int] = None,
        max_column: Optional[Column] = None,
    ) -> None:
        self._ctx: Optional[int] = None
        self._path = path
        raw_path = encode_path(path)
        if isinstance(columns, (str, bytes)):
            raise TypeError("columns is a list of names or indices, not one string")
        columns = list(columns) if columns is not None else None
        where_list = _predicates(where)
        header = read_header(path) if _names_used(columns, where_list, max_column) else None
        self._options = _Options(header, columns, where_list, negate, limit, max_column)
        ctx = lib.rowkit_open(raw_path, byref(self._options.c))
        if not ctx:
            raise last_error(path)
        self._ctx = ctx
        self.header = _header_of(ctx)
        projection = self._options.projection
        if projection:
            self.columns = tuple(
                self.header[i] if i < len(self.header) else f"Unnamed: {i}" for i in projection
            )
        else:
            self.columns = self.header
        self._fields = FIELDS()
        self._n = c_size_t(0)
        self._out = (byref(self._fields), byref(self._n))

    # -- lifetime -----------------------------------------------------------

    def close(self) -> None:
        """Closes the file and frees the handle. Calling it again does nothing."""
        ctx, self._ctx = self._ctx, None
        if ctx:
            lib.rowkit_close(ctx)

    def __enter__(self) -> "Reader":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    @property
    def closed(self) -> bool:
        """True once :meth:`close` has run."""
        return self._ctx is None

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<rowkit.Reader {os.fsdecode(self._path)!r} {state} columns={list(self.columns)}>"

    def _handle(self) -> int:
        if self._ctx is None:
            raise ValueError("I/O operation on a closed rowkit reader")
        return self._ctx

    def _error(self) -> Exception:
        line_fn = optional["rowkit_line_number"]
        line = line_fn(self._ctx) if line_fn is not None and self._ctx else None
        return last_error(self._path, line)

    def _column(self, column: Column) -> int:
        """Index of ``column`` in the rows this reader hands out."""
        if isinstance(column, str):
            try:
                return self.columns.index(column)
            except ValueError:
                raise _unknown_column(column) from None
        return _index(None, column)

    # -- rows ---------------------------------------------------------------

    def __iter__(self) -> "Reader":
        return self

    def __next__(self) -> Row:
        rc = lib.rowkit_next(self._handle(), *self._out)
        if rc == 1:
            n = self._n.value
            return tuple(map(_decode_field, self._fields[:n])) if n else ()
        if rc == 0:
            raise StopIteration
        raise self._error()

    def count(self) -> int:
        """Counts the remaining rows that iteration would yield, and consumes them.

        With no predicates, limit or negation nothing is parsed: the lines left
        in the file are counted (a blank line counts too).
        """
        n = lib.rowkit_count(self._handle())
        if n < 0:
            raise self._error()
        return int(n)

    def aggregate(self, column: Column) -> Aggregate:
        """Count, sum, min, max and mean of the numbers in ``column``.

        ``column`` is a name of :attr:`columns` or an index into the rows this
        reader yields. Values that are not numbers are skipped. Consumes the
        remaining rows.
        """
        out = AggC()
        if lib.rowkit_aggregate(self._handle(), self._column(column), byref(out)) != 0:
            raise self._error()
        if not out.has_values:
            return Aggregate(0, 0.0, None, None, None)
        return Aggregate(int(out.count), out.sum, out.min, out.max, out.avg)

    def topk(self, column: Column, k: int, descending: bool = True) -> List[Row]:
        """The ``k`` rows with the largest (or smallest) numbers in ``column``.

        Best first. Rows whose value is missing or not a number are left out;
        of rows tied at the boundary the earlier ones are kept. Consumes the
        remaining rows.
        """
        if isinstance(k, bool) or not isinstance(k, numbers.Integral) or k < 0:
            raise ValueError(f"k must be an int >= 0, not {k!r}")
        cursor = lib.rowkit_topk(self._handle(), self._column(column), int(k), int(bool(descending)))
        if not cursor:
            raise self._error()
        try:
            return _drain(lambda f, n: lib.rowkit_topk_next(cursor, f, n, None))
        finally:
            lib.rowkit_topk_close(cursor)

    def order_by(self, column: Column, descending: bool = False) -> List[Row]:
        """Every remaining row, sorted by ``column``.

        Two values compare as numbers when both are numbers, else as bytes.
        The sort is stable. Consumes the remaining rows.
        """
        cursor = lib.rowkit_order_by(self._handle(), self._column(column), int(bool(descending)))
        if not cursor:
            raise self._error()
        try:
            return _drain(lambda f, n: lib.rowkit_order_by_next(cursor, f, n))
        finally:
            lib.rowkit_order_by_close(cursor)

    def _collect_columnar(self) -> Tuple[int, List[str], List[List[str]]]:
        cc = lib.rowkit_collect_columnar(self._handle())
        if not cc:
            raise self._error()
        try:
            n_rows = lib.rowkit_collect_columnar_n_rows(cc)
            n_cols = lib.rowkit_collect_columnar_n_cols(cc)
            columns = [column_strings(cc, c, n_rows) for c in range(n_cols)]
        finally:
            lib.rowkit_collect_columnar_close(cc)
        if not columns:
            return n_rows, _unique_names(self.columns), []
        return n_rows, result_names(self.columns, n_cols), columns

    def collect(self) -> List[Row]:
        """Every remaining row, as a list of tuples of ``str``.

        Every row has the reader's width (:attr:`columns`): a missing field
        is ``""`` and fields past it are dropped. Consumes the remaining rows.
        """
        n_rows, _, columns = self._collect_columnar()
        if not columns:
            return [()] * n_rows
        return list(zip(*columns))

    def collect_columns(self) -> Dict[str, List[str]]:
        """Every remaining row, as a dict of column name to list of ``str``.

        Keys are :attr:`columns`, a repeated name made unique as ``name.1``;
        every row is brought to that width (a missing field is ``""``).
        Consumes the remaining rows.
        """
        n_rows, names, columns = self._collect_columnar()
        if not columns:
            return {name: [] for name in names} if n_rows == 0 else {}
        return dict(zip(names, columns))

    def batches(self, max_rows: int = 1000, target_bytes: int = 1 << 20) -> Iterator[List[Row]]:
        """The remaining rows in lists of at most ``max_rows`` rows.

        Each list is one library call (``rowkit_next_batch``) that hands the
        rows over as one JSON text, so bulk reads cost no call per row. A
        batch is closed after the row that brings its text to
        ``target_bytes`` or beyond, so each batch holds at least one row.
        ``max_rows`` is 1 to 65536 and ``target_bytes`` at least 1, else
        :class:`RowkitError` ``InvalidBatchSize`` at once.

        After an error on a row the rows of that batch read so far are gone;
        iterating a new :meth:`batches` goes on after them.
        """
        _check_batch_size(max_rows, target_bytes)
        fn = require("rowkit_next_batch", "Reader.batches")
        self._handle()
        return _json_batches(
            lambda out: fn(self._handle(), max_rows, target_bytes, out),
            self._error,
            _plain_batch_rows,
        )


def _drain(step: Any) -> List[Row]:
    fields, n = FIELDS(), c_size_t(0)
    rows: List[Row] = []
    while True:
        rc = step(byref(fields), byref(n))
        if rc == 0:
            return rows
        if rc < 0:
            raise last_error()
        rows.append(tuple(map(_decode_field, fields[: n.value])) if n.value else ())


def _check_batch_size(max_rows: int, target_bytes: int) -> None:
    for value in (max_rows, target_bytes):
        if isinstance(value, bool) or not isinstance(value, numbers.Integral):
            raise TypeError(f"batch limits are ints, not {value!r}")
    if not 1 <= max_rows <= _MAX_BATCH_ROWS or target_bytes < 1:
        raise RowkitError("batch failed: InvalidBatchSize", "InvalidBatchSize")


# A value that is not valid UTF-8 comes as an array of its byte values.
_BYTE_ARRAY = re.compile(rb"\[\d")


def text_value(value: Any) -> str:
    """A JSON value of the library's texts as ``str`` (byte arrays decoded)."""
    if isinstance(value, list):
        return decode(bytes(value))
    return value


def _plain_batch_rows(text: bytes) -> List[Row]:
    rows = json.loads(text)
    if _BYTE_ARRAY.search(text):
        return [tuple(map(text_value, row)) for row in rows]
    return [tuple(row) for row in rows]


def _json_batches(call: Any, error: Any, convert: Any) -> Iterator[Any]:
    batch_json = optional["rowkit_batch_json"]
    batch_free = optional["rowkit_batch_free"]
    out = c_void_p()
    while True:
        rc = call(byref(out))
        if rc == 0:
            return
        if rc < 0:
            raise error()
        try:
            length = c_size_t(0)
            ptr = batch_json(out, byref(length))
            text = ctypes.string_at(ptr, length.value)
        finally:
            batch_free(out)
        yield convert(text)


def open(
    path: PathType,
    columns: Optional[Sequence[Column]] = None,
    where: Any = None,
    negate: bool = False,
    limit: Optional[int] = None,
    max_column: Optional[Column] = None,
) -> Reader:
    """Opens a CSV or JSON-records file and reads its header.

    A path ending in ``.ndjson``, ``.jsonl`` or ``.json`` is read as JSON
    records (one object per line, or one array of objects); anything else as
    CSV with a header line.

    Args:
        path: the file.
        columns: projection, names or zero-based indices in output order;
            ``None`` keeps every column as it comes.
        where: predicates that must all hold, each ``(column, op, value)``
            with ``op`` one of ``==``, ``!=``, ``>``, ``>=``, ``<``, ``<=``
            (``value`` a ``str``, ``bytes``, ``int`` or ``float``) or ``in``
            (``value`` a list of them). When the field and the value are
            both numbers they compare as numbers, else as bytes. One tuple
            may be given on its own.
        negate: keep the rows that do *not* pass the predicates.
        limit: at most this many rows (``None``: no limit).
        max_column: the highest source column any consumer needs; rows then
            carry only columns up to it. When ``None`` and a projection is
            given, it is set to the highest column the projection and the
            predicates use, so the reader stops splitting lines there.

    Column names are looked up in the header, which needs the file's start
    read once more before the real open; give indices to avoid that (pipes).

    Raises:
        FileNotFoundError, IsADirectoryError, PermissionError: the path.
        RowkitError: any other failure (``EmptyFile``, ``InvalidJson``,
            an unknown column name...), with the library's message.
    """
    return Reader(path, columns, where, negate, limit, max_column)
