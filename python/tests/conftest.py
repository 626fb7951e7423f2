"""Shared fixtures: files written into a fresh directory, and direct calls of
the C interface (plain ctypes, without the package's wrappers) to compare the
package's results with."""

from __future__ import annotations

import ctypes
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

    @classmethod
    def count(cls, path: str, **options) -> int:
        ctx, keep = cls.open(path, **options)
        try:
            return lib.rowkit_count(ctx)
        finally:
            lib.rowkit_close(ctx)

    @classmethod
    def aggregate(cls, path: str, column: int, **options) -> _native.AggC:
        ctx, keep = cls.open(path, **options)
        out = _native.AggC()
        assert lib.rowkit_aggregate(ctx, column, byref(out)) == 0
        lib.rowkit_close(ctx)
        return out

    @classmethod
    def topk(cls, path: str, column: int, k: int, descending: bool, **options) -> List[tuple]:
        ctx, keep = cls.open(path, **options)
        cur = lib.rowkit_topk(ctx, column, k, int(descending))
        fields, n, out = _native.FIELDS(), c_size_t(), []
        while lib.rowkit_topk_next(cur, byref(fields), byref(n), None) == 1:
            out.append(cls._fields(fields, n))
        lib.rowkit_topk_close(cur)
        lib.rowkit_close(ctx)
        return out

    @classmethod
    def order_by(cls, path: str, column: int, descending: bool, **options) -> List[tuple]:
        ctx, keep = cls.open(path, **options)
        cur = lib.rowkit_order_by(ctx, column, int(descending))
        fields, n, out = _native.FIELDS(), c_size_t(), []
        while lib.rowkit_order_by_next(cur, byref(fields), byref(n)) == 1:
            out.append(cls._fields(fields, n))
        lib.rowkit_order_by_close(cur)
        lib.rowkit_close(ctx)
        return out

    @classmethod
    def collect_bytes(cls, path: str, **options) -> Tuple[bytes, int, int]:
        """The row-major collect: (buffer, n_rows, n_cols)."""
        ctx, keep = cls.open(path, **options)
        cc = lib.rowkit_collect(ctx)
        n = c_size_t()
        p = lib.rowkit_collect_data(cc, byref(n))
        data = ctypes.string_at(p, n.value) if p else b""
        out = data, lib.rowkit_collect_n_rows(cc), lib.rowkit_collect_n_cols(cc)
        lib.rowkit_collect_close(cc)
        lib.rowkit_close(ctx)
        return out

    @classmethod
    def columns_bytes(cls, path: str, **options) -> List[List[bytes]]:
        """The columnar collect, each value as bytes."""
        ctx, keep = cls.open(path, **options)
        cc = lib.rowkit_collect_columnar(ctx)
        out = []
        for c in range(lib.rowkit_collect_columnar_n_cols(cc)):
            n, m = c_size_t(), c_size_t()
            p = lib.rowkit_collect_columnar_data(cc, c, byref(n))
            data = ctypes.string_at(p, n.value) if p else b""
            off = (ctypes.c_uint32 * 1).from_address(lib.rowkit_collect_columnar_offsets(cc, c, byref(m)))
            offsets = (ctypes.c_uint32 * m.value).from_address(ctypes.addressof(off))
            out.append([data[offsets[i]:offsets[i + 1]] for i in range(m.value - 1)])
        lib.rowkit_collect_columnar_close(cc)
        lib.rowkit_close(ctx)
        return out


@pytest.fixture
def c_api():
    return C
