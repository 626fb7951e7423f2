"""rowkit.dask.read against rowkit.read_pandas: the same rows over files cut
into many small blocks, computed on a cluster of two worker processes and on
the synchronous scheduler."""

from __future__ import annotations

import json
import os
import random
from pathlib import Path

import pandas as pd
import pytest

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")

import rowkit  # noqa: E402
import rowkit.dask  # noqa: E402


def _csv(rnd: random.Random, rows: int) -> str:
    """Quoted fields with commas, doubled quotes and blanks, empty fields,
    CR LF and LF endings, blank lines."""
    out = ["id,city,amount,note"]
    for i in range(rows):
        if rnd.randrange(30) == 0:
            out.append("")
        city = rnd.choice(["Oslo", '"Lagos, NG"', '"The ""Hub"""', "", "São Paulo"])
        note = rnd.choice(["", "x" * rnd.randrange(200), '" padded "'])
        out.append(f"{i},{city},{rnd.randrange(-50, 50)},{note}")
    text = ""
    for line in out:
        text += line + rnd.choice(["\n", "\r\n"])
    return text


@pytest.fixture
def csv_files(write):
    rnd = random.Random(17)
    return [write(f"part{i}.csv", _csv(rnd, 400 + 150 * i)) for i in range(3)]


@pytest.fixture(scope="module")
def cluster_client():
    # Worker processes import rowkit from this checkout and load the same
    # library as this process.
    package_dir = str(Path(rowkit.__file__).resolve().parents[1])
    old = os.environ.get("PYTHONPATH")
    os.environ["PYTHONPATH"] = package_dir + (os.pathsep + old if old else "")
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       host="127.0.0.1", dashboard_address=None,
                                       silence_logs=40)
    client = distributed.Client(cluster, set_as_default=False)
    try:
        yield client
    finally:
        client.close()
        cluster.close()
        if old is None:
            del os.environ["PYTHONPATH"]
        else:
            os.environ["PYTHONPATH"] = old


def test_cluster_result_equals_read_pandas(csv_files, cluster_client):
    df = rowkit.dask.read(csv_files, blocksize=997)
    sizes = [os.path.getsize(p) for p in csv_files]
    assert df.npartitions == sum(-(-s // 997) for s in sizes)
    expected = pd.concat([rowkit.read_pandas(p) for p in csv_files], ignore_index=True)
    got = cluster_client.compute(df).result()
    pd.testing.assert_frame_equal(got.reset_index(drop=True), expected)
    assert list(df.columns) == ["id", "city", "amount", "note"]

    # A filter and a group count give pandas' answer on the same rows.
    amount = pd.to_numeric(expected.amount)
    want = expected[amount > 0].groupby("city").size()
    typed = rowkit.dask.read(csv_files, where=[("amount", ">", 0)], blocksize="2KiB",
                             dtypes={"amount": "int64"})
    got = cluster_client.compute(typed.groupby("city").size()).result()
    pd.testing.assert_series_equal(got.sort_index(), want.sort_index(), check_names=False)
    assert cluster_client.compute(typed.amount.sum()).result() == amount[amount > 0].sum()


def test_options_formats_and_partitions(write, csv_files):
    # Projection, names in predicates, negation and dtypes as read_pandas
    # takes them; meta matches what the partitions hold.
    options = dict(columns=["amount", "city"], where=[("city", "in", ["Oslo", ""])],
                   negate=True, dtypes={"amount": "float64"})
    df = rowkit.dask.read(csv_files[0], blocksize=500, **options)
    got = df.compute(scheduler="sync")
    expected = rowkit.read_pandas(csv_files[0], **options)
    pd.testing.assert_frame_equal(got.reset_index(drop=True), expected)
    assert dict(df.dtypes) == dict(expected.dtypes)

    # JSON records split by lines like CSV; a JSON array is one partition;
    # every block of a file past its few rows may be empty.
    records = "".join(json.dumps({"k": i, "v": f"v{i}\n"}) + "\n" for i in range(300))
    jsonl = write("r.jsonl", records)
    array = write("a.json", " [" + ",\n".join(records.splitlines()) + "]")
    for path, parts in ((jsonl, -(-len(records) // 1000)), (array, 1)):
        df = rowkit.dask.read(path, blocksize=1000)
        assert df.npartitions == parts
        pd.testing.assert_frame_equal(df.compute(scheduler="sync").reset_index(drop=True),
                                      rowkit.read_pandas(path, threads=1))
    # A file a little longer than one block is cut into halves, not into a
    # block and a sliver that holds no row.
    halves = write("h.csv", "n\n" + "".join(f"{i:05}\n" for i in range(200)))
    lengths = rowkit.dask.read(halves, blocksize=1000).map_partitions(len).compute(
        scheduler="sync")
    assert os.path.getsize(halves) > 1000 and lengths.tolist() == [100, 100]
    tiny = write("tiny.csv", "a,b\n1,2\n")
    got = rowkit.dask.read(tiny, blocksize=1).compute(scheduler="sync")
    assert got.values.tolist() == [["1", "2"]]

    # Glob patterns expand to their sorted matches.
    pattern = os.path.join(os.path.dirname(csv_files[0]), "part*.csv")
    assert len(rowkit.dask.read(pattern, blocksize="1 MB").compute(scheduler="sync")) == sum(
        len(rowkit.read_pandas(p)) for p in csv_files)


def test_errors_surface_when_the_frame_is_made(write, tmp_path):
    with pytest.raises(FileNotFoundError):
        rowkit.dask.read(str(tmp_path / "none.csv"))
    with pytest.raises(FileNotFoundError):
        rowkit.dask.read(str(tmp_path / "none*.csv"))
    with pytest.raises(rowkit.RowkitError, match="InvalidJson"):
        rowkit.dask.read(write("bad.ndjson", "nope\n"))
    with pytest.raises(rowkit.RowkitError, match="UnknownColumn|unknown column"):
        rowkit.dask.read(write("ok.csv", "a\n1\n"), columns=["zz"])
    for bad in ("12 parsecs", "MiB", 0, -5):
        with pytest.raises(ValueError):
            rowkit.dask.read(write("ok.csv", "a\n1\n"), blocksize=bad)
