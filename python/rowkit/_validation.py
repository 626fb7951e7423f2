"""Validation of a file against a schema: report, stream, files, outcome."""


import ctypes
import json
import os
from ctypes import byref, c_char_p, c_size_t, c_uint8, c_uint64
from typing import Any, Dict, Iterator, List, Mapping, NamedTuple, Optional, Tuple, Union

from ._native import (
    FIELDS,
    Stats,
    decode,
    encode_path,
    encode_text,
    last_error,
    lib,
    optional,
    require,
)
from ._reader import PathType, _check_batch_size, _decode_field, _json_batches, text_value

Schema = Union[Mapping[str, Any], str, bytes]
"""A schema: a dict of column name to rule dict, or its JSON text."""

ValidatedRow = Tuple[int, Tuple[str, ...], List[Dict[str, Any]]]
"""``(number, fields, errors)``: row number (first data row 1), the row's
fields and its errors (an empty list for a valid row)."""


def _schema_text(schema: Schema) -> bytes:
    if isinstance(schema, (str, bytes)):
        return encode_text(schema, "schema")
    if isinstance(schema, Mapping):
        text = json.dumps(schema, ensure_ascii=False)
        return encode_text(text, "schema")
    raise TypeError(f"a schema is a dict or JSON text, not {type(schema).__name__}")


def _fix_error(error: Dict[str, Any]) -> Dict[str, Any]:
    """Row-error object with byte-array texts turned into ``str``."""
    for key in ("column_name", "value"):
        if isinstance(error.get(key), list):
            error[key] = text_value(error[key])
    return error


def _fix_values(values: List[Any]) -> Tuple[str, ...]:
    return tuple(map(text_value, values))


def validate(path: PathType, schema: Schema, max_errors: int = 100) -> Dict[str, Any]:
    """Validates every row of a file and returns the report as a dict.

    The schema maps column names to rules, for example
    ``{"id": {"type": "integer", "required": True, "min": 1}}`` (keys
    ``type``, ``required``, ``min``, ``max``, ``min_len``, ``max_len``,
    ``one_of``). The report has ``rows_total``, ``rows_valid``,
    ``rows_invalid``, ``errors_total``, ``truncated``, ``counts`` (per error
    kind) and ``errors``: at most ``max_errors`` (0 means 100) error dicts
    with ``row``, ``column``, ``column_name``, ``rule`` and ``value``. Texts
    that are not valid UTF-8 are given as ``str`` with surrogate escapes.

    Raises:
        FileNotFoundError, IsADirectoryError, PermissionError: the path.
        RowkitError: ``BadSchema``, ``UnknownColumn``, a reader error...
    """
    if isinstance(max_errors, bool) or not isinstance(max_errors, int) or max_errors < 0:
        raise ValueError(f"max_errors must be an int >= 0, not {max_errors!r}")
    report = lib.rowkit_validate(encode_path(path), _schema_text(schema), max_errors)
    if not report:
        raise last_error(path)
    try:
        text = lib.rowkit_validate_json(report)
    finally:
        lib.rowkit_validate_free(report)
    result = json.loads(text)
    for error in result.get("errors", []):
        _fix_error(error)
    return result


class Validator:
    """Validated rows of a file, one at a time.

    Iterating yields ``(number, fields, errors)`` for every row: its number
    (the first data row is 1), its fields as read (all columns) and the list
    of its error dicts (``row``, ``column``, ``column_name``, ``rule``,
    ``value``), empty for a valid row. :attr:`rows_total`,
    :attr:`rows_valid` and :attr:`rows_invalid` count the rows read so far.
    A context manager; :meth:`close` frees the handle. One validator must not
    be used by two threads at once.

    An error reading the file (``UnterminatedQuote``, ``InvalidJson``...)
    ends the validation: the rows after it have no number, so every later
    call raises the same error. After a :class:`MemoryError` the row is
    counted but lost and iteration may go on with the next row.
    """

    header: Tuple[str, ...]
    """The file's header names."""

    def __init__(self, path: PathType, schema: Schema) -> None:
        self._ctx: Optional[int] = None
        self._path = path
        open_fn = require("rowkit_validator_open", "rowkit.Validator")
        ctx = open_fn(encode_path(path), _schema_text(schema))
        if not ctx:
            raise last_error(path)
        self._ctx = ctx
        name = optional["rowkit_validator_column_name"]
        count = optional["rowkit_validator_n_columns"](ctx)
        self.header = tuple(decode(name(ctx, i)) for i in range(count))
        self._fields = FIELDS()
        self._n = c_size_t(0)
        self._errors = c_char_p()
        self._number = c_uint64(0)

    def close(self) -> None:
        """Frees the handle. Calling it again does nothing."""
        ctx, self._ctx = self._ctx, None
        if ctx:
            optional["rowkit_validator_close"](ctx)

    def __enter__(self) -> "Validator":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def _handle(self) -> int:
        if self._ctx is None:
            raise ValueError("operation on a closed rowkit validator")
        return self._ctx

    def _error(self) -> Exception:
        return last_error(self._path)

    def __iter__(self) -> "Validator":
        return self

    def __next__(self) -> ValidatedRow:
        rc = optional["rowkit_validator_next"](
            self._handle(), byref(self._fields), byref(self._n), byref(self._errors),
            byref(self._number),
        )
        if rc == 0:
            raise StopIteration
        if rc < 0:
            raise self._error()
        n = self._n.value
        fields = tuple(map(_decode_field, self._fields[:n])) if n else ()
        raw = self._errors.value
        errors = [_fix_error(e) for e in json.loads(raw)] if raw else []
        return int(self._number.value), fields, errors

    def _counter(self, name: str) -> int:
        return int(optional[name](self._handle()))

    @property
    def rows_total(self) -> int:
        """Rows read so far."""
        return self._counter("rowkit_validator_rows_total")

    @property
    def rows_valid(self) -> int:
        """Rows read so far without errors."""
        return self._counter("rowkit_validator_rows_valid")

    @property
    def rows_invalid(self) -> int:
        """Rows read so far with at least one error."""
        return self._counter("rowkit_validator_rows_invalid")

    def batches(self, max_rows: int = 1000, target_bytes: int = 1 << 20) -> Iterator[List[ValidatedRow]]:
        """The remaining validated rows in lists of ``(number, fields, errors)``.

        One library call per list (``rowkit_validator_next_batch``), with the
        limits of :meth:`Reader.batches`; the counters count these rows too.
        """
        _check_batch_size(max_rows, target_bytes)
        fn = require("rowkit_validator_next_batch", "Validator.batches")
        self._handle()
        return _json_batches(
            lambda out: fn(self._handle(), max_rows, target_bytes, out), self._error,
            _validated_batch_rows,
        )


def _validated_batch_rows(text: bytes) -> List[ValidatedRow]:
    return [
        (
            row["number"],
            _fix_values(row["values"]),
            [_fix_error(e) for e in row.get("errors", [])],
        )
        for row in json.loads(text)
    ]


class FileStats(NamedTuple):
    """Totals of :func:`validate_to_files`."""

    rows_total: int
    rows_valid: int
    rows_invalid: int
    errors_total: int


def validate_to_files(path: PathType, schema: Schema, accepted: PathType,
                      rejected: PathType) -> FileStats:
    """Splits a file into accepted and rejected rows, in one pass.

    Valid rows go to ``accepted`` as CSV (with the header), rows with errors
    to ``rejected`` as one JSON object per line (``values`` and ``errors``).
    Both files must not exist yet; on any failure neither is left behind.

    Needs ``rowkit_validate_to_files``.

    Raises:
        FileNotFoundError: the input; FileExistsError: an output file exists.
        RowkitError: ``BadSchema``, ``InvalidUtf8``, a reader error...
    """
    fn = require("rowkit_validate_to_files", "rowkit.validate_to_files")
    stats = Stats()
    if fn(encode_path(path), _schema_text(schema), encode_path(accepted),
          encode_path(rejected), byref(stats)) != 0:
        message = lib.rowkit_last_error()
        if message is not None and message.endswith(b"PathAlreadyExists"):
            # The accepted file is created first; one this call made is gone.
            raise last_error(accepted if os.path.lexists(accepted) else rejected)
        raise last_error(path)
    return FileStats(int(stats.rows_total), int(stats.rows_valid), int(stats.rows_invalid),
                     int(stats.errors_total))


_FORMATS = {None: 0, "csv": 1, "json": 2, "ndjson": 2}


def outcome(source: Union[PathType, str, bytes], schema: Schema, full: bool = False,
            text_format: Optional[str] = None) -> Union[bool, List[Dict[str, Any]]]:
    """Whether a whole input is valid, or which rows are not.

    ``source`` is a path, or with ``text_format`` ``"csv"`` or ``"json"``
    (``"ndjson"``) the input itself as ``str`` or ``bytes``. Without
    ``full`` returns ``True`` or ``False`` (reading stops at the first
    invalid row); with ``full`` returns the invalid rows as dicts with
    ``values`` and ``errors`` (``column``, ``column_name``, ``rule``,
    ``value``).

    Needs ``rowkit_validate_outcome``.
    """
    if text_format not in _FORMATS:
        raise ValueError(f"text_format is None, 'csv' or 'json', not {text_format!r}")
    fn = require("rowkit_validate_outcome", "rowkit.outcome")
    free = optional["rowkit_outcome_free"]
    if text_format is None:
        data = encode_path(source)  # type: ignore[arg-type]
    elif isinstance(source, str):
        data = source.encode("utf-8", "surrogateescape")
    elif isinstance(source, bytes):
        data = source
    else:
        raise TypeError("with text_format the source is str or bytes")
    buffer = (c_uint8 * len(data)).from_buffer_copy(data) if data else (c_uint8 * 1)()
    result = fn(buffer, len(data), _schema_text(schema), _FORMATS[text_format], 1 if full else 0)
    if not result:
        raise last_error(source if text_format is None else None)
    try:
        text = ctypes.string_at(result)
    finally:
        free(result)
    parsed = json.loads(text)
    if not full:
        return bool(parsed)
    return [
        {"values": list(_fix_values(row["values"])),
         "errors": [_fix_error(e) for e in row["errors"]]}
        for row in parsed
    ]
