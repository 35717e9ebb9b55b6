"""Reductions: boundwise against NumPy float64 doing the same reduction.

    python benchmarks/bench_reductions.py          # 10^7 elements (sort: 10^6), a table of ratios
    python benchmarks/bench_reductions.py --quick  # 10^6 elements, fewer repeats
    python benchmarks/bench_reductions.py --json out.json

A ratio is boundwise time / NumPy float64 time for the same reduction of arrays
of the same size (NumPy reduces the midpoints alone). Whole-array reductions
run on a flat array; the axis rows reduce a 1000 x (n / 1000) array along each axis.
Whole-array reductions run on the calling thread; axis reductions of large
arrays spread their lanes over the pool (RAYON_NUM_THREADS).
"""

from __future__ import annotations

import argparse
import json
import os
import time

from bench import best_time


def cases(n: int, n_sort: int):
    """(label, size, boundwise call, NumPy call) for every row of the table."""
    import numpy as np

    import boundwise as bw

    rng = np.random.default_rng(11)

    def pair(size, shape, low=-1.0, high=1.0):
        m = rng.uniform(low, high, size)
        a = bw.from_raw_parts(m.tolist(), [1e-12] * size, list(shape))
        return a, m.reshape(shape)

    a, m = pair(n, (n,))
    s, sm = pair(n_sort, (n_sort,))
    f, fm = pair(n_sort, (n_sort,), 1 - 1e-4, 1 + 1e-4)  # factors near 1: the product stays in range
    g, gm = pair(n, (1000, n // 1000))
    rows = [
        ("sum", n, a.sum, m.sum),
        ("mean", n, a.mean, m.mean),
        ("var", n, a.var, m.var),
        ("std", n, a.std, m.std),
        ("max", n, a.max, m.max),
        ("argmax", n, a.argmax, m.argmax),
        ("prod", n_sort, f.prod, fm.prod),
        ("dot", n, lambda: a.dot(a), lambda: m.dot(m)),
        ("sort", n_sort, s.sort, lambda: np.sort(sm, kind="stable")),
        ("argsort", n_sort, s.argsort, lambda: np.argsort(sm, kind="stable")),
    ]
    for axis in (0, 1):
        rows += [
            (f"sum axis={axis}", g.size, lambda axis=axis: g.sum(axis=axis), lambda axis=axis: gm.sum(axis=axis)),
            (f"mean axis={axis}", g.size, lambda axis=axis: g.mean(axis=axis), lambda axis=axis: gm.mean(axis=axis)),
            (f"max axis={axis}", g.size, lambda axis=axis: g.max(axis=axis), lambda axis=axis: gm.max(axis=axis)),
            (f"var axis={axis}", g.size, lambda axis=axis: g.var(axis=axis), lambda axis=axis: gm.var(axis=axis)),
        ]
    return rows


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--json", help="write all figures to this file")
    parser.add_argument("--quick", action="store_true", help="10^6 elements and fewer repeats")
    options = parser.parse_args()

    import boundwise as bw

    n = 1_000_000 if options.quick else 10_000_000
    repeats = 3 if options.quick else 7
    print(f"boundwise {bw.__version__}, {os.cpu_count()} processors")
    print("ratio = boundwise time / NumPy float64 time for the same reduction and size")
    header = f"{'reduction':<13} {'size':>9} | {'boundwise':>10} {'numpy':>10} | {'ratio':>6}"
    print(header)
    print("-" * len(header))
    figures = []
    for label, size, ours, theirs in cases(n, 1_000_000):
        t_ours, t_numpy = best_time(ours, repeats), best_time(theirs, repeats)
        figures.append({"reduction": label, "size": size, "boundwise_s": t_ours, "numpy_s": t_numpy})
        print(f"{label:<13} {size:>9} | {t_ours * 1e3:>8.2f}ms {t_numpy * 1e3:>8.2f}ms | {t_ours / t_numpy:>6.2f}")
    if options.json:
        with open(options.json, "w") as f:
            json.dump(figures, f, indent=1)


if __name__ == "__main__":
    main()
