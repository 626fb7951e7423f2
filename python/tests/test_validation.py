"""Validation entry points against the C interface."""

from __future__ import annotations

import json
import os

import pytest

import rowkit
from rowkit import _native

SCHEMA = {"id": {"type": "integer", "required": True, "min": 1},
          "status": {"one_of": ["open", "closed"]}}
ORDERS = "id,status\n1,open\n0,lost\n3,closed\n,open\n"


@pytest.fixture
def orders(write):
    return write("orders.csv", ORDERS)


def test_validate_report(orders, write):
    report = _native.lib.rowkit_validate(orders.encode(), json.dumps(SCHEMA).encode(), 1)
    expected = json.loads(_native.lib.rowkit_validate_json(report))
    _native.lib.rowkit_validate_free(report)
    got = rowkit.validate(orders, SCHEMA, max_errors=1)
    assert got == expected and got["truncated"] is True
    assert rowkit.validate(orders, json.dumps(SCHEMA))["counts"] == {
        "missing_required": 1, "below_min": 1, "not_in_set": 1}
    latin = write("latin.csv", b"name\nA\xe9\n")
    error = rowkit.validate(latin, {"name": {"max_len": 0}})["errors"][0]
    assert error["value"] == "A\udce9"
    with pytest.raises(rowkit.RowkitError) as err:
        rowkit.validate(orders, {"id": {"requird": True}})
    assert err.value.message == "validate failed: BadSchema"
    with pytest.raises(rowkit.RowkitError, match="UnknownColumn"):
        rowkit.validate(orders, {"nope": {}})
    with pytest.raises(FileNotFoundError):
        rowkit.validate(orders + ".gone", SCHEMA)
    with pytest.raises(TypeError):
        rowkit.validate(orders, 42)


def test_validator(orders):
    with rowkit.Validator(orders, SCHEMA) as v:
        assert v.header == ("id", "status") and v.rows_total == 0
        rows = list(v)
        assert [(n, f) for n, f, _ in rows] == [
            (1, ("1", "open")), (2, ("0", "lost")), (3, ("3", "closed")), (4, ("", "open"))]
        assert rows[0][2] == [] and [e["rule"] for e in rows[1][2]] == ["below_min", "not_in_set"]
        assert (v.rows_total, v.rows_valid, v.rows_invalid) == (4, 2, 2)
        assert next(v, None) is None
    with pytest.raises(ValueError, match="closed"):
        next(v)
    with pytest.raises(rowkit.RowkitError, match="BadSchema"):
        rowkit.Validator(orders, "{")
    with pytest.raises(FileNotFoundError):
        rowkit.Validator(orders + ".gone", SCHEMA)


def test_validator_agrees_with_the_report_and_its_batches(write):
    # Ragged rows, a value that is not UTF-8 and a quoted field, in CSV and
    # in JSON records.
    csv = write("mix.csv", b'id,status\n5,open\n7\n-1,"cl,osed",x\n2,\xffopen\n')
    ndjson = write("mix.ndjson", '{"id":"5","status":"open"}\n{"id":"x"}\n'
                                 '{"status":"closed","id":"-3"}\n')
    for path in (csv, ndjson):
        report = rowkit.validate(path, SCHEMA, max_errors=1000)
        with rowkit.Validator(path, SCHEMA) as v:
            rows = list(v)
            counters = (v.rows_total, v.rows_valid, v.rows_invalid)
        assert [e for _, _, errors in rows for e in errors] == report["errors"]
        assert counters == (report["rows_total"], report["rows_valid"], report["rows_invalid"])
        assert counters[0] == counters[1] + counters[2]
        batches = list(rowkit.Validator(path, SCHEMA).batches(2, 1))
        assert [len(b) for b in batches] == [1] * len(rows)
        assert sum(list(rowkit.Validator(path, SCHEMA).batches(2)), []) == rows
    rows = list(rowkit.Validator(csv, SCHEMA))
    assert rows[1][1:] == (("7",), [{"row": 2, "column": None, "column_name": "",
                                      "rule": "too_few_fields", "value": ""}])
    assert rows[2][1] == ("-1", "cl,osed", "x") and rows[3][1] == ("2", "\udcffopen")
    assert rows[3][2][0]["value"] == "\udcffopen"
    with pytest.raises(rowkit.RowkitError, match="InvalidBatchSize"):
        rowkit.Validator(csv, SCHEMA).batches(0)


def test_a_read_error_ends_the_validation(write):
    path = write("cut.csv", 'id,status\n1,open\n"2,open\n3,open\n')
    with rowkit.Validator(path, SCHEMA) as v:
        assert next(v)[0] == 1
        for _ in range(2):
            with pytest.raises(rowkit.RowkitError) as err:
                next(v)
            assert (err.value.message, err.value.detail, err.value.line) == (
                "validate failed: UnterminatedQuote", f'file "{path}", line 3, byte offset 17', 3)
    with pytest.raises(rowkit.RowkitError, match="UnterminatedQuote"):
        list(rowkit.Validator(path, SCHEMA).batches())


def test_outcome(orders):
    assert rowkit.outcome(orders, SCHEMA) is False
    assert rowkit.outcome("id,status\n1,open\n", SCHEMA, text_format="csv") is True
    assert rowkit.outcome(b'{"id":"1","status":"x"}\n', SCHEMA, True, "json") == [
        {"values": ["1", "x"],
         "errors": [{"column": 1, "column_name": "status", "rule": "not_in_set", "value": "x"}]}]
    with pytest.raises(rowkit.RowkitError, match="EmptyFile"):
        rowkit.outcome("", SCHEMA, text_format="csv")
    with pytest.raises(ValueError):
        rowkit.outcome(orders, SCHEMA, text_format="xml")


def test_files_and_outcome_agree_with_the_validator(write, tmp_path):
    path = write("mix.csv", 'id,status\n5,open\n7\n-1,"cl,osed",x\n2,"say ""hi"""\n3,closed\n')
    rows = list(rowkit.Validator(path, SCHEMA))
    valid = [fields for _, fields, errors in rows if not errors]
    invalid = [(fields, errors) for _, fields, errors in rows if errors]
    accepted, rejected = str(tmp_path / "ok.csv"), str(tmp_path / "bad.ndjson")
    stats = rowkit.validate_to_files(path, SCHEMA, accepted, rejected)
    assert stats == (len(rows), len(valid), len(invalid), sum(len(e) for _, e in invalid))
    assert [tuple(r) for r in rowkit.open(accepted)] == valid
    lines = [json.loads(line) for line in open(rejected)]
    assert [(tuple(l["values"]), l["errors"]) for l in lines] == invalid
    with pytest.raises(FileExistsError) as err:  # no file of this call is left
        rowkit.validate_to_files(path, SCHEMA, str(tmp_path / "new.csv"), rejected)
    assert err.value.filename == rejected and not os.path.exists(tmp_path / "new.csv")
    with pytest.raises(FileExistsError) as err:
        rowkit.validate_to_files(path, SCHEMA, accepted, str(tmp_path / "new.ndjson"))
    assert err.value.filename == accepted
    without_row = [{"values": list(f), "errors": [{k: v for k, v in e.items() if k != "row"}
                                                  for e in errors]} for f, errors in invalid]
    assert rowkit.outcome(path, SCHEMA, full=True) == without_row
    assert rowkit.outcome(open(path, "rb").read(), SCHEMA, True, "csv") == without_row
    # Text that is not UTF-8 fails the split and the outcome, leaving no file.
    latin = write("latin.csv", b"id,status\n1,\xe9\n")
    files = [str(tmp_path / "a.csv"), str(tmp_path / "r.ndjson")]
    with pytest.raises(rowkit.RowkitError) as err:
        rowkit.validate_to_files(latin, SCHEMA, *files)
    assert err.value.name == "InvalidUtf8" and not any(map(os.path.exists, files))
    with pytest.raises(rowkit.RowkitError, match="InvalidUtf8"):
        rowkit.outcome(latin, SCHEMA)
    with pytest.raises(FileNotFoundError):
        rowkit.validate_to_files(latin + ".gone", SCHEMA, *files)
    with pytest.raises(FileNotFoundError):
        rowkit.outcome(latin + ".gone", SCHEMA)
