#!/usr/bin/python3
"""Compares rowkit.read_pandas with pandas.read_csv on the CSV benchmark file.

    ROWKIT_LIBRARY=build-bench/librowkit.so /usr/bin/python3 bench/python_bench.py [CSV]

Two workloads, each run three times in turn in this one process (best time
kept): every column as text, and the same with two columns as numbers
(``--numeric``, default ``amount:int64,price:float64``). Prints seconds,
MB/s and rowkit's time as a share of pandas' time (wall clock, and processor
time for a machine that is not quiet), and checks once that both give equal
DataFrames. CSV defaults to bench/data/rows.csv (``make bench``
writes it).
"""

from __future__ import annotations

import argparse
import gc
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _import_rowkit():
    if "ROWKIT_LIBRARY" not in os.environ:
        for build in ("build-bench", "build"):
            candidate = os.path.join(ROOT, build, "librowkit.so")
            if os.path.exists(candidate):
                os.environ["ROWKIT_LIBRARY"] = candidate
                break
    sys.path.insert(0, os.path.join(ROOT, "python"))
    import rowkit

    return rowkit


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("csv", nargs="?", default=os.path.join(ROOT, "bench", "data", "rows.csv"))
    parser.add_argument("--numeric", default="amount:int64,price:float64",
                        help="columns read as numbers, name:dtype separated by commas")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    import pandas

    rowkit = _import_rowkit()
    path = args.csv
    size_mb = os.path.getsize(path) / 1e6
    numeric = dict(item.split(":") for item in args.numeric.split(",") if item)
    header = rowkit.read_header(path)
    pandas_numeric = {name: numeric.get(name, str) for name in header}

    workloads = [
        ("all text", lambda: pandas.read_csv(path, dtype=str, keep_default_na=False),
         lambda: rowkit.read_pandas(path)),
        (f"numeric {','.join(numeric)}",
         lambda: pandas.read_csv(path, dtype=pandas_numeric, keep_default_na=False),
         lambda: rowkit.read_pandas(path, dtypes=numeric)),
    ]
    print(f"file {path}: {size_mb:.1f} MB; pandas {pandas.__version__}; "
          f"library {rowkit.LIBRARY_PATH}")
    for label, with_pandas, with_rowkit in workloads:
        best = {"pandas": float("inf"), "rowkit": float("inf")}
        best_cpu = dict(best)
        for run in range(args.runs):
            for name, fn in (("pandas", with_pandas), ("rowkit", with_rowkit)):
                gc.collect()
                start, start_cpu = time.perf_counter(), time.process_time()
                frame = fn()
                best[name] = min(best[name], time.perf_counter() - start)
                best_cpu[name] = min(best_cpu[name], time.process_time() - start_cpu)
                if run == 0:
                    if name == "pandas":
                        expected = frame
                    else:
                        equal = expected.equals(frame)
                        del expected
                del frame
        for name, seconds in best.items():
            print(f"{label:28s} {name:7s} {seconds:8.3f} s {size_mb / seconds:8.1f} MB/s"
                  f"  (cpu {best_cpu[name]:.3f} s)")
        print(f"{label:28s} rowkit/pandas {best['rowkit'] / best['pandas']:.2f} "
              f"(cpu {best_cpu['rowkit'] / best_cpu['pandas']:.2f}); "
              f"equal results: {'yes' if equal else 'NO'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
