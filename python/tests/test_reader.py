"""The reader: options, whole results, text that is not UTF-8, errors and the
library's lookup."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest

import rowkit
from rowkit import _native

CSV = (
    "id,name,age,city\r\n"
    "1,Ada,36,Lyon\r\n"
    '2,"Okafor, Ben",24,"Lagos ""Island"""\r\n'
    "3,Chloé,41,\r\n"
    "4,Dev,x,Pune\r\n"
    "5,Eli,30.5,Haifa\r\n"
    "6,,-2,Oslo\r\n"
)


@pytest.fixture
def people(write):
    return write("people.csv", CSV)


ROWS = [("1", "Ada", "36", "Lyon"), ("2", "Okafor, Ben", "24", 'Lagos "Island"'),
        ("3", "Chloé", "41", ""), ("4", "Dev", "x", "Pune"), ("5", "Eli", "30.5", "Haifa"),
        ("6", "", "-2", "Oslo")]


def test_options(people):
    # The options, the ids of the rows they select and the columns they show.
    every = [0, 1, 2, 3]
    cases = [
        (dict(), [1, 2, 3, 4, 5, 6], every),
        (dict(columns=["city", "name"]), [1, 2, 3, 4, 5, 6], [3, 1]),
        (dict(columns=[3, 0], where=("age", ">=", 30)), [1, 3, 4, 5], [3, 0]),  # "x" >= "30"
        (dict(where=[("age", "<", 30.5), ("id", "!=", 6)]), [2], every),
        (dict(where=("city", "in", ["Lyon", b"Pune"])), [1, 4], every),
        (dict(where=(2, "==", 36), negate=True), [2, 3, 4, 5, 6], every),
        (dict(where=("age", "gt", 1), limit=2), [1, 2], every),
        (dict(limit=0), [], every),
    ]
    for options, ids, columns in cases:
        with rowkit.open(people, **options) as reader:
            assert list(reader) == [tuple(ROWS[i - 1][c] for c in columns) for i in ids], options
    with rowkit.open(people) as reader:
        assert reader.header == ("id", "name", "age", "city")
        assert next(reader) == ("1", "Ada", "36", "Lyon")
        assert next(reader) == ("2", "Okafor, Ben", "24", 'Lagos "Island"')
    with rowkit.open(people, columns=["city", 1]) as reader:
        assert reader.columns == ("city", "name")


def test_automatic_max_column_keeps_results(people):
    # With a projection the reader stops splitting after the last column used.
    got = rowkit.open(people, columns=["id"], where=("age", ">", 0)).collect()
    assert got == [("1",), ("2",), ("3",), ("4",), ("5",)]  # "x" > "0" as bytes
    with rowkit.open(people, max_column="name") as reader:
        assert next(reader) == ("1", "Ada")


def test_whole_results(people):
    with rowkit.open(people) as r:
        assert r.count() == 6
    assert rowkit.open(people, where=("age", ">", 25)).count() == 4  # "x" > "25" as bytes
    agg = rowkit.open(people).aggregate("age")
    assert agg == (5, 129.5, -2.0, 41.0, 25.9)
    assert rowkit.open(people, columns=["age"]).aggregate(0) == agg
    assert rowkit.open(people).aggregate("name") == rowkit.Aggregate(0, 0.0, None, None, None)
    ids = lambda rows: [r[0] for r in rows]  # noqa: E731
    assert ids(rowkit.open(people).topk("age", 3, True)) == ["3", "1", "5"]
    assert ids(rowkit.open(people).topk("age", 3, False)) == ["6", "2", "5"]
    assert ids(rowkit.open(people).topk("age", 2)) == ["3", "1"]
    assert ids(rowkit.open(people).order_by("city", True)) == ["4", "6", "1", "2", "5", "3"]
    assert rowkit.open(people).order_by("city")[:2] == [("3", "Chloé", "41", ""),
                                                          ("5", "Eli", "30.5", "Haifa")]
    assert rowkit.open(people, columns=["age", "id"]).order_by("age")[0] == ("-2", "6")


def test_collects(people, write):
    assert rowkit.open(people).collect() == list(rowkit.open(people))
    cols = rowkit.open(people, columns=["name", "id"], limit=3).collect_columns()
    assert cols == {"name": ["Ada", "Okafor, Ben", "Chloé"], "id": ["1", "2", "3"]}
    # A field holding a NUL byte, ragged rows and a repeated header name.
    odd = write("odd.csv", b"a,b,a\nx\0y,1\n,,,extra\n")
    assert rowkit.open(odd).collect_columns() == {"a": ["x\0y", ""], "b": ["1", ""], "a.1": ["", ""]}
    assert rowkit.open(odd).collect() == [("x\0y", "1", ""), ("", "", "")]
    # Batches keep the NUL; the row cursor's C strings end at it.
    assert sum(rowkit.open(odd).batches(), []) == [("x\0y", "1"), ("", "", "", "extra")]
    assert list(rowkit.open(odd)) == [("x", "1"), ("", "", "", "extra")]
    with rowkit.open(people) as r:
        r.count()
        assert r.collect() == [] and r.collect_columns() == {k: [] for k in r.header}


def test_batches(people):
    rows = list(rowkit.open(people))
    assert [len(b) for b in rowkit.open(people).batches(4, 1 << 20)] == [4, 2]
    assert sum(rowkit.open(people).batches(4, 1 << 20), []) == rows
    assert [len(b) for b in rowkit.open(people).batches(100, 1)] == [1] * 6
    with rowkit.open(people, limit=1) as r:
        assert list(r.batches()) == [rows[:1]] and list(r.batches()) == []
    for bad in [(0, 1), (65537, 1), (1, 0)]:
        with pytest.raises(rowkit.RowkitError) as err:
            rowkit.open(people).batches(*bad)
        assert err.value.name == "InvalidBatchSize"


def test_text_that_is_not_utf8_round_trips(write):
    raw = b"k\xffey,v\nA\xe9,\xf0\x9f\x99\x82\n"
    path = write("latin.csv", raw)
    with rowkit.open(path) as r:
        assert r.header == ("k\udcffey", "v")
        row = next(r)
    assert row == ("A\udce9", "\U0001f642")
    assert ",".join(row).encode("utf-8", "surrogateescape") == b"A\xe9,\xf0\x9f\x99\x82"
    assert rowkit.open(path).collect() == [row]
    assert list(rowkit.open(path).batches()) == [[row]]
    assert rowkit.open(path, where=("k\udcffey", "==", b"A\xe9")).count() == 1


def test_errors_map_to_python_exceptions(tmp_path, write, people):
    missing = str(tmp_path / "missing.csv")
    with pytest.raises(FileNotFoundError) as err:
        rowkit.open(missing)
    assert err.value.filename == missing and "open failed: FileNotFound" in str(err.value)
    assert (err.value.detail, err.value.line) == (f'file "{missing}"', None)
    with pytest.raises(IsADirectoryError):
        rowkit.open(str(tmp_path))
    if os.geteuid() != 0:
        locked = write("locked.csv", "a\n1\n")
        os.chmod(locked, 0)
        with pytest.raises(PermissionError):
            rowkit.open(locked)
    with pytest.raises(rowkit.RowkitError) as err:
        rowkit.open(write("empty.csv", ""))
    assert err.value.message == "open failed: EmptyFile" and err.value.name == "EmptyFile"
    assert isinstance(err.value, ValueError)
    with pytest.raises(MemoryError, match="topk failed: OutOfMemory"):
        rowkit.open(people).topk("age", 1 << 62)
    with pytest.raises(rowkit.RowkitError) as err:
        rowkit.open(people, columns=["nope"])
    assert err.value.name == "UnknownColumn"
    with pytest.raises(rowkit.RowkitError):
        rowkit.open(people).aggregate("nope")
    for bad in [dict(limit=-1), dict(where=("age", "~", 1)), dict(where=("age", ">", float("nan")))]:
        with pytest.raises(ValueError):
            rowkit.open(people, **bad)
    for bad in [dict(columns="name"), dict(where=("city", "in", "Lyon")), dict(columns=[1.5])]:
        with pytest.raises(TypeError):
            rowkit.open(people, **bad)
    reader = rowkit.open(people)
    reader.close()
    reader.close()
    with pytest.raises(ValueError, match="closed"):
        next(reader)


def test_a_bad_row_fails_alone_and_says_where(tmp_path, write, people):
    path = write("bad.csv", 'a,b\r\n1,2\r\n"open,3\r\n4,5\r\n')
    reader = rowkit.open(path)
    assert next(reader) == ("1", "2")
    with pytest.raises(rowkit.RowkitError) as err:
        next(reader)
    where = f'file "{path}", line 3, byte offset 10'
    assert (err.value.message, err.value.detail, err.value.line) == (
        "next failed: UnterminatedQuote", where, 3)
    assert str(err.value) == f"next failed: UnterminatedQuote ({where})"
    assert next(reader) == ("4", "5")
    with pytest.raises(rowkit.RowkitError, match="collect failed: UnterminatedQuote"):
        rowkit.open(path).collect()
    with rowkit.open(path) as reader:  # the failed batch's rows are gone
        with pytest.raises(rowkit.RowkitError, match="batch failed: UnterminatedQuote"):
            list(reader.batches())
        assert list(reader.batches()) == [[("4", "5")]]
    ndjson = write("bad.ndjson", '{"a":1}\n{"a":[2]}\n{"a":3}\n')
    reader = rowkit.open(ndjson)
    assert next(reader) == ("1",)
    with pytest.raises(rowkit.RowkitError, match="NestedValueNotSupported"):
        next(reader)
    assert list(reader) == [("3",)]
    with pytest.raises(rowkit.RowkitError) as err:
        rowkit.open(path, where=("a", ">", 0)).count()
    assert (err.value.detail, err.value.line) == (where, 3)
    # Without a handle the line comes from the detail; OS errors carry both too.
    array = write("bad.json", '\n  [\n {"a":')
    with pytest.raises(rowkit.RowkitError) as err:
        rowkit.open(array)
    assert (err.value.detail, err.value.line) == (f'file "{array}", line 3, byte offset 6', 3)
    with pytest.raises(rowkit.RowkitError) as err:
        rowkit.open(people, columns=["nme"])
    assert err.value.detail == 'column "nme" is not in the header'
    with pytest.raises(rowkit.RowkitError) as err:
        rowkit.validate(people, {"age": {"min": "18"}})
    assert err.value.detail == 'column "age": rule "min" must be a number, got a string'


def test_message_mapping():
    # (The other errors are met in the tests that call the library.)
    cases = {
        "open failed: NotDir": NotADirectoryError,
        "out of memory copying row": MemoryError,
        "path is null": rowkit.RowkitError,
    }
    for message, cls in cases.items():
        error = _native.make_error(message, "f.csv")
        assert type(error) is cls and message in str(error), message
    assert _native.make_error("path is null").name is None
    assert rowkit.library_version() == rowkit.__version__


def _import_in_subprocess(env_update: dict, path: str = ""):
    env = {k: v for k, v in os.environ.items() if k not in ("ROWKIT_LIBRARY", "LD_LIBRARY_PATH")}
    env.update(env_update)
    code = "import rowkit; print(rowkit.LIBRARY_PATH)"
    return subprocess.run([sys.executable, "-c", code], env=env, cwd=path or None,
                          capture_output=True, text=True)


def test_library_lookup_and_install(tmp_path):
    package_dir = str(Path(rowkit.__file__).resolve().parents[1])
    result = _import_in_subprocess({"ROWKIT_LIBRARY": "/nowhere/librowkit.so",
                                    "PYTHONPATH": package_dir})
    assert result.returncode != 0 and "ROWKIT_LIBRARY='/nowhere/librowkit.so'" in result.stderr
    if not os.path.exists(os.path.join(package_dir, "rowkit", "librowkit.so")):
        result = _import_in_subprocess({"PYTHONPATH": package_dir})
        if result.returncode != 0:  # no copy on the loader path either
            assert "Set the environment variable ROWKIT_LIBRARY" in result.stderr
    # pip builds the package offline and puts the library inside it.
    target = tmp_path / "site"
    build = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--quiet", "--no-index", "--no-deps",
         "--no-build-isolation", "--target", str(target), package_dir],
        env=dict(os.environ, ROWKIT_LIBRARY=_native.LIBRARY_PATH),
        capture_output=True, text=True)
    assert build.returncode == 0, build.stderr
    result = _import_in_subprocess({"PYTHONPATH": str(target)}, str(tmp_path))
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == str(target / "rowkit" / "librowkit.so")


def test_readme_python_examples_run(capsys, monkeypatch):
    root = Path(__file__).resolve().parents[2]
    text = (root / "README.md").read_text()
    blocks = text.split("```python\n")[1:]
    assert blocks
    monkeypatch.chdir(root)
    for block in blocks:
        exec(compile(block.split("```")[0], "README.md", "exec"), {})
    assert "Ada Moreau Lyon" in capsys.readouterr().out
