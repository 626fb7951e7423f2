"""Shared fixtures: files written into a fresh directory, and the rows of the C
interface read directly (plain ctypes, without the package's wrappers) to
compare the package's options with."""

from __future__ import annotations

import sys
from ctypes import byref, c_char_p, c_size_t
from pathlib import Path
from typing import List, Sequence, Tuple

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from rowkit import _native  # noqa: E402

lib = _native.lib


@pytest.fixture
def write(tmp_path: Path):
    """write(name, content) -> path of a new file holding content."""

    def _write(name: str, content) -> str:
        path = tmp_path / name
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        return str(path)

    return _write


class C:
    """The C interface called directly, for reference results."""

    @staticmethod
    def open(path: str, columns: Sequence[int] = (), where=(), limit: int = -1,
             negate: bool = False) -> Tuple[int, list]:
        keep: list = []
        opts = _native.COptions()
        if columns:
            cols = (c_size_t * len(columns))(*columns)
            keep.append(cols)
            opts.columns, opts.n_columns = cols, len(columns)
        preds = (_native.CPredicate * max(1, len(where)))()
        for slot, (column, op, value) in zip(preds, where):
            slot.column, slot.op = column, op
            if isinstance(value, list):
                arr = (c_char_p * len(value))(*value)
                keep.append(arr)
                slot.values, slot.n_values = arr, len(value)
            else:
                slot.value = value
        keep.append(preds)
        opts.where, opts.n_where = preds, len(where)
        opts.limit, opts.max_column, opts.negate = limit, -1, int(negate)
        keep.append(opts)
        ctx = lib.rowkit_open(path.encode(), byref(opts))
        assert ctx, lib.rowkit_last_error()
        return ctx, keep

    @staticmethod
    def _fields(fields, n) -> tuple:
        return tuple(fields[i].decode("utf-8", "surrogateescape") for i in range(n.value))

    @classmethod
    def rows(cls, path: str, **options) -> List[tuple]:
        ctx, keep = cls.open(path, **options)
        fields, n, out = _native.FIELDS(), c_size_t(), []
        while lib.rowkit_next(ctx, byref(fields), byref(n)) == 1:
            out.append(cls._fields(fields, n))
        lib.rowkit_close(ctx)
        return out


@pytest.fixture
def c_api():
    return C
