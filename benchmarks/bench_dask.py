"""boundwise on Dask: a local cluster of two worker processes against the one-machine call,
with Dask's own float64 arrays against NumPy on the same chunks as the peer.

    python benchmarks/bench_dask.py           # 10^8 elements, n = 4000 (about 12 GB of memory)
    python benchmarks/bench_dask.py --quick   # 10^6 elements, n = 500
    python benchmarks/bench_dask.py --elements 20000000 --n 2000 --json out.json

Needs `pip install ".[dask]"`. Every row times the same work four ways: boundwise
on the cluster (the result persisted on the workers, or a whole-array sum brought
back), the one-machine call, dask.array float64 on the cluster and NumPy. The
columns "interval" and "float64" are the cluster/one-machine ratios; the target
(in brackets) is an interval ratio of at most 1.5 for the element-wise rows and
sums, and for every row an interval ratio no larger than the float64 ratio, the
overhead Dask itself shows in the same run. Workers run one thread each and
boundwise one pool thread per worker; the one-machine calls use every core.
"""

from __future__ import annotations

import argparse
import json
import logging

from bench import best_time


def rows(client, n: int, side: int, chunk: int):
    """(label, element-wise?, cluster interval, one-machine interval, cluster float64, NumPy) per row."""
    import dask.array as da
    import numpy as np
    from dask.graph_manipulation import clone
    from distributed import wait

    import boundwise.dask as bd

    def fresh(make, inputs):
        # New keys on every call, else the scheduler may still hold the last result.
        return lambda: clone(make(), omit=inputs)

    def on_cluster(make, inputs):
        # Persist on the workers and wait: the result stays where it was computed.
        make = fresh(make, inputs)
        return lambda: wait(client.persist(make()))

    rng = da.random.default_rng(14)
    mids = [rng.uniform(-1.0, 1.0, n, chunks=chunk).persist() for _ in range(2)]
    rads = [rng.uniform(0.0, 1e-12, n, chunks=chunk).persist() for _ in range(2)]
    a, b = (bd.from_dask(m, r).persist() for m, r in zip(mids, rads))
    wait([a, b, *mids])
    a1, b1 = a.compute(), b.compute()
    m1, m2 = (m.compute() for m in mids)
    half = (side + 1) // 2
    sq = [(rng.uniform(-1.0, 1.0, (side, side), chunks=half).persist(), da.zeros((side, side), chunks=half))
          for _ in range(2)]
    A, B = (bd.from_dask(m, r).persist() for m, r in sq)
    wait([A, B])
    A1, B1 = A.compute(), B.compute()
    Am1, Bm1 = sq[0][0].compute(), sq[1][0].compute()
    return [
        ("a + b", True, on_cluster(lambda: a + b, [a, b]), lambda: a1 + b1,
         on_cluster(lambda: mids[0] + mids[1], mids), lambda: m1 + m2),
        ("exp(a)", True, on_cluster(a.exp, [a]), a1.exp, on_cluster(lambda: da.exp(mids[0]), mids), lambda: np.exp(m1)),
        ("a.sum()", True, lambda: fresh(a.sum, [a])().compute(), a1.sum,
         lambda: fresh(mids[0].sum, mids)().compute(), m1.sum),
        (f"A @ B (n = {side})", False, on_cluster(lambda: A @ B, [A, B]), lambda: A1 @ B1,
         on_cluster(lambda: sq[0][0] @ sq[1][0], [m for m, _ in sq]), lambda: Am1 @ Bm1),
    ]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="10^6 elements, n = 500, fewer repeats")
    parser.add_argument("--elements", type=int, help="elements of the element-wise rows and the sum")
    parser.add_argument("--n", type=int, help="size of the square matrices")
    parser.add_argument("--json", metavar="FILE", help="write the figures to FILE")
    args = parser.parse_args()
    n, side, repeats = (10**6, 500, 2) if args.quick else (10**8, 4000, 3)
    n, side = args.elements or n, args.n or side
    chunk = -(-n // 8)  # eight blocks: four per worker

    from distributed import Client, LocalCluster

    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address=None, silence_logs=logging.ERROR, env={"RAYON_NUM_THREADS": "1"})
    figures = []
    with cluster, Client(cluster) as client:
        print(f"{'operation':<20} {'cluster':>10} {'one-mach':>10} {'interval':>9} {'da f64':>10} {'numpy':>10}"
              f" {'float64':>8}  target  ({n} elements, 2 worker processes)")
        for label, elementwise, ours, one, peer, numpy_call in rows(client, n, side, chunk):
            t = [best_time(f, repeats) for f in (ours, one, peer, numpy_call)]
            interval, floating = t[0] / t[1], t[2] / t[3]
            ok = interval <= floating * 1.0 and (not elementwise or interval <= 1.5)
            print(f"{label:<20} {t[0]:>9.3f}s {t[1]:>9.3f}s {interval:>9.2f} {t[2]:>9.3f}s {t[3]:>9.3f}s"
                  f" {floating:>8.2f}  {'ok' if ok else 'MISSED'}")
            figures.append({"operation": label, "elements": n, "cluster_s": t[0], "one_machine_s": t[1],
                            "dask_float64_s": t[2], "numpy_s": t[3], "interval_ratio": interval,
                            "float64_ratio": floating, "target_met": ok})
    if args.json:
        with open(args.json, "w") as f:
            json.dump(figures, f, indent=1)


if __name__ == "__main__":
    main()
