"""read_pandas against pandas' own readers, and the column decoding."""

from __future__ import annotations

import json
import os
import random
import sys
import threading

import numpy as np
import pandas as pd
import pytest

import rowkit
from rowkit import _columns, _native


def _csv_field(text: str) -> str:
    if any(c in text for c in ',"\r\n') or text.startswith(" "):
        return '"' + text.replace('"', '""') + '"'
    return text


@pytest.fixture
def mixed(write):
    """A CSV file with unique, repeating and long columns, quoting, empty
    fields and CR LF line ends, long enough for every decoding path."""
    rnd = random.Random(7)
    cities = ["Oslo", "Bergen", "São Paulo", "", "Lagos, NG", 'The "Hub"']
    lines = ["id,city,amount,price,note,flag,date"]
    for i in range(3000):
        note = " ".join(rnd.choice(["ok", "late", "ünïcode", "x" * 30]) for _ in range(rnd.randrange(4)))
        row = [str(i), rnd.choice(cities), str(rnd.randrange(-500, 500)),
               f"{rnd.randrange(100000) / 100:.2f}", note, rnd.choice(["true", "false"]),
               f"2024-{rnd.randrange(1, 13):02d}-{rnd.randrange(1, 29):02d}"]
        lines.append(",".join(map(_csv_field, row)))
    return write("mixed.csv", "\r\n".join(lines) + "\r\n")


def test_text_equals_pandas_read_csv(mixed, monkeypatch):
    expected = pd.read_csv(mixed, dtype=str, keep_default_na=False)
    got = rowkit.read_pandas(mixed)
    pd.testing.assert_frame_equal(got, expected)
    assert got["city"].map(type).eq(str).all()
    # Small chunks cross chunk boundaries inside every column, and a small
    # sample takes the sampled paths (binary search, hash table).
    monkeypatch.setattr(_columns, "_CHUNK_VALUES", 7)
    monkeypatch.setattr(_columns, "_SAMPLE_ROWS", 64)
    pd.testing.assert_frame_equal(rowkit.read_pandas(mixed), expected)


def test_numbers_equal_pandas_read_csv(mixed, write):
    types = {"amount": "int64", "price": "float64", "id": "int32"}
    expected = pd.read_csv(mixed, dtype={**{c: str for c in ["city", "note", "flag", "date"]}, **types},
                           keep_default_na=False)
    pd.testing.assert_frame_equal(rowkit.read_pandas(mixed, dtypes=types), expected)
    path = write("n.csv", "a,b,c\n1, 2 ,1e3\n-0,,0x10\n9223372036854775807,1_0,nan\n")
    got = rowkit.read_pandas(path, dtypes={"a": "int64", "b": float})
    assert got["a"].tolist() == [1, 0, 2**63 - 1]
    assert got["b"].tolist()[0::2] == [2.0, 10.0] and np.isnan(got["b"][1])
    with pytest.raises(ValueError, match="column 'c', row 1: '0x10'"):
        rowkit.read_pandas(path, dtypes={"c": float})
    with pytest.raises(ValueError, match="column 'a', row 2: .* out of range"):
        rowkit.read_pandas(path, dtypes={"a": np.int32})
    with pytest.raises(ValueError, match="column 'b', row 1: ''"):
        rowkit.read_pandas(path, dtypes={"b": "uint8"})
    with pytest.raises(TypeError):
        rowkit.read_pandas(path, dtypes={"a": "datetime64[ns]"})
    with pytest.raises(rowkit.RowkitError):
        rowkit.read_pandas(path, dtypes={"z": float})


def test_ndjson_equals_pandas_read_json(write):
    records = [{"id": i, "name": f"n{i % 7}", "score": i / 4, "tag": "é\"\\\n" if i % 3 else ""}
               for i in range(600)]
    path = write("r.ndjson", "\n".join(json.dumps(r) for r in records) + "\n")
    got = rowkit.read_pandas(path, dtypes={"id": "int64", "score": "float64"})
    pd.testing.assert_frame_equal(got, pd.read_json(path, lines=True, dtype=False))


def test_options_and_edges(mixed, write):
    options = dict(columns=["date", "id"], where=("city", "in", ["Oslo"]), limit=50)
    got = rowkit.read_pandas(mixed, **options)
    rows = list(rowkit.open(mixed, **options))
    assert list(got.itertuples(index=False, name=None)) == rows and list(got.columns) == ["date", "id"]
    empty = rowkit.read_pandas(mixed, where=("id", "<", 0), dtypes={"id": "int64"})
    assert len(empty) == 0 and list(empty.columns) == list(pd.read_csv(mixed, nrows=0).columns)
    assert empty["id"].dtype == np.int64 and empty["city"].dtype == object
    dup = write("dup.csv", "a,b,a\n1,2,3\n4\n")
    assert rowkit.read_pandas(dup).to_dict("list") == {"a": ["1", "4"], "b": ["2", ""], "a.1": ["3", ""]}


def _reference(values):
    return [v.decode("utf-8", "surrogateescape") for v in values]


def _column(values):
    data = np.frombuffer(b"".join(values), dtype=np.uint8)
    offsets = np.cumsum([0] + [len(v) for v in values]).astype(np.uint32)
    return data, offsets


@pytest.mark.parametrize("sample_rows,hide_pandas", [(4096, False), (16, False), (16, True)])
def test_values_array_on_random_columns(monkeypatch, sample_rows, hide_pandas):
    monkeypatch.setattr(_columns, "_SAMPLE_ROWS", sample_rows)
    if hide_pandas:  # grouping then sorts with NumPy
        monkeypatch.setitem(sys.modules, "pandas", None)
    rnd = random.Random(sample_rows + hide_pandas)
    alphabets = [b"ab", bytes(range(256)), b"\x00a", "é€😀".encode() + b"\xff"]
    for trial in range(40):
        alphabet = rnd.choice(alphabets)
        # The longest value decides how values are keyed: 7, 8 and 16 bytes
        # are the limits of the keys that hold the bytes themselves.
        longest = rnd.choice([0, 1, 7, 8, 9, 16, 17, 140])
        pool = [bytes(rnd.choice(alphabet) for _ in range(rnd.randint(0, longest)))
                for _ in range(rnd.choice([1, 5, 3000]))]
        values = [rnd.choice(pool) for _ in range(rnd.choice([0, 1, 700, 2500]))]
        data, offsets = _column(values)
        got = _columns.values_array(data, offsets)
        assert got.tolist() == _reference(values), trial
        assert _columns.values_list(bytes(data), offsets.tolist()) == _reference(values)
    # A column holding every ASCII byte has no free separator byte.
    values = [bytes([i % 128, (i * 7) % 256]) for i in range(2000)]
    assert _columns.values_array(*_column(values)).tolist() == _reference(values)
    # Non-ASCII bytes whose words read as NaN must not be keyed as numbers.
    values = [b"\x80" * 6 + b"\xf8\x7f" + bytes([97 + i % 3]) for i in range(3000)]
    assert _columns.values_array(*_column(values)).tolist() == _reference(values)
    # Colliding hashes must never merge different values.
    monkeypatch.setattr(_columns, "_hash", lambda words, starts, lens, n: np.zeros(len(lens), np.uint64))
    values = [b"%020d" % (i % 3) for i in range(3000)]  # hashed: past 16 bytes
    assert _columns.values_array(*_column(values)).tolist() == _reference(values)


def test_collect_columns_without_numpy(mixed, monkeypatch):
    expected = rowkit.open(mixed).collect_columns()
    monkeypatch.setattr(_columns, "np", None)
    assert rowkit.open(mixed).collect_columns() == expected


def test_parallel_scan_glue(mixed, monkeypatch):
    # A stand-in with the parallel scan's signature (path, delimiter, where,
    # n_where, negate, threads) that collects on this thread: read_pandas
    # must pick the projection out of its full-width result.
    from ctypes import byref

    calls = []

    def scan(path, delimiter, where, n_where, negate, threads):
        calls.append((delimiter, n_where, negate, threads))
        options = _native.COptions(where=where, n_where=n_where, limit=-1, max_column=-1,
                                   negate=negate)
        ctx = _native.lib.rowkit_open(path, byref(options))
        try:
            return _native.lib.rowkit_collect_columnar(ctx)
        finally:
            _native.lib.rowkit_close(ctx)

    args = dict(columns=["date", "amount"], where=("flag", "==", "true"), dtypes={"amount": int})
    expected = rowkit.read_pandas(mixed, threads=1, **args)
    monkeypatch.setitem(_native.optional, "rowkit_parallel_collect_columnar", scan)
    pd.testing.assert_frame_equal(rowkit.read_pandas(mixed, threads=3, **args), expected)
    pd.testing.assert_frame_equal(rowkit.read_pandas(mixed, negate=True),
                                  rowkit.read_pandas(mixed, negate=True, threads=1))
    assert calls == [(ord(","), 1, 0, 3), (ord(","), 0, 1, 0)]
    assert len(rowkit.read_pandas(mixed, limit=5)) == 5 and len(calls) == 2  # no limit there


def test_threads_give_the_one_thread_result(mixed, write, tmp_path):
    def same(path, **args):
        pd.testing.assert_frame_equal(rowkit.read_pandas(path, threads=2, **args),
                                      rowkit.read_pandas(path, threads=1, **args))

    same(mixed)
    same(mixed, columns=["date", "amount", "city"], where=("flag", "==", "true"),
         dtypes={"amount": int})
    same(mixed, where=[("amount", ">", 0), ("city", "in", ["Oslo", ""])], negate=True)
    # Quoted fields do not span lines; JSON lines the scan would skip or
    # empty fail as they do on one thread.
    text = open(mixed, newline="").read()
    lines = [json.dumps({"id": str(i), "tag": "t" * 40}) for i in range(4000)]
    for name, bad, error in [
        ("bad.csv", '9999,"Oslo\nsentrum",1,2.00,,true,2024-01-01', "UnterminatedQuote"),
        ("bad.ndjson", "[1]", "InvalidJson"),
        ("bad.ndjson", '{"id":"x","tag":{"a":1}}', "NestedValueNotSupported"),
    ]:
        if name.endswith(".csv"):
            path = write(name, text + bad + "\r\n" + text.partition("\n")[2])
        else:
            path = write(name, "\n".join(lines[:3000] + [bad] + lines[3000:]) + "\n")
        for threads in (1, 2):
            with pytest.raises(rowkit.RowkitError) as err:
                rowkit.read_pandas(path, threads=threads)
            assert err.value.name == error
    same(path, columns=["id"])  # the nested value lies past the projection
    # A pipe is read once, on the calling thread.
    fifo = str(tmp_path / "pipe.csv")
    os.mkfifo(fifo)

    def feed():
        with open(fifo, "w", newline="") as pipe:
            pipe.write(text)

    threading.Thread(target=feed, daemon=True).start()
    pd.testing.assert_frame_equal(rowkit.read_pandas(fifo), rowkit.read_pandas(mixed, threads=1))
