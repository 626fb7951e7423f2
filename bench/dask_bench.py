#!/usr/bin/python3
"""Times rowkit.dask.read(...).map_partitions(len).compute() on a local
cluster of one and of two worker processes.

    ROWKIT_LIBRARY=build-bench/librowkit.so /usr/bin/python3 bench/dask_bench.py [CSV]

Prints, for each worker count, the best of three runs in seconds and MB/s,
the two-worker time as a share of the one-worker time, and the cost of one
partition: the extra time per extra partition when the same file is cut into
blocks of 256 KiB instead of --blocksize. CSV defaults to
bench/data/rows.csv (``make bench`` writes it).
"""

from __future__ import annotations

import argparse
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("csv", nargs="?", default=os.path.join(ROOT, "bench", "data", "rows.csv"))
    parser.add_argument("--blocksize", default="256MiB")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    if "ROWKIT_LIBRARY" not in os.environ:
        os.environ["ROWKIT_LIBRARY"] = os.path.join(ROOT, "build-bench", "librowkit.so")
    package = os.path.join(ROOT, "python")
    sys.path.insert(0, package)
    os.environ["PYTHONPATH"] = package + os.pathsep + os.environ.get("PYTHONPATH", "")
    import distributed

    import rowkit.dask

    size_mb = os.path.getsize(args.csv) / 1e6
    rows = None

    def best_time(client, blocksize, workers) -> "tuple[float, int]":
        nonlocal rows
        df = rowkit.dask.read(args.csv, blocksize=blocksize)
        best = float("inf")
        for run in range(args.runs):
            # A new name every run: the same graph would get the result the
            # scheduler still holds from the run before (the last future is
            # released asynchronously), timing no read at all.
            lengths = df.map_partitions(len, token=f"bench-len-{blocksize}-{workers}-{run}")
            start = time.perf_counter()
            n = int(client.compute(lengths).result().sum())
            best = min(best, time.perf_counter() - start)
            assert rows is None or rows == n, (rows, n)
            rows = n
        return best, df.npartitions

    print(f"file {args.csv}: {size_mb:.1f} MB, blocks of {args.blocksize}")
    times = {}
    for workers in (1, 2):
        with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                      host="127.0.0.1", dashboard_address=None,
                                      silence_logs=40) as cluster, \
                distributed.Client(cluster) as client:
            seconds, parts = best_time(client, args.blocksize, workers)
            times[workers] = seconds
            print(f"{workers} worker(s): {seconds:.3f} s, {size_mb / seconds:.0f} MB/s, "
                  f"{parts} partitions, {rows} rows")
            if workers == 1:
                small, small_parts = best_time(client, 256 * 1024, workers)
                per_part = (small - seconds) / max(1, small_parts - parts)
                print(f"  {small_parts} partitions of 256 KiB: {small:.3f} s; "
                      f"{per_part * 1e3:.2f} ms per extra partition")
    print(f"2 workers / 1 worker: {times[2] / times[1]:.2f} of the time")
    return 0


if __name__ == "__main__":
    sys.exit(main())
