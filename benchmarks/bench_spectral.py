"""Spectral enclosures against NumPy's unverified LAPACK: time ratio and the
median relative width (radius / |midpoint|) of the verified result.

Run on its own: python benchmarks/bench_spectral.py [sizes...]"""

from __future__ import annotations

import statistics
import sys
import time

import numpy as np

import boundwise as bw


def best_time(fn, repeat=3):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def median_relative_width(a):
    mids, rads = np.abs(np.asarray(a.values())), np.asarray(a.radii())
    keep = mids > 0
    return float(statistics.median(rads[keep] / mids[keep])) if keep.any() else float("nan")


def cases(n, rng):
    general = rng.standard_normal((n, n))
    q, _ = np.linalg.qr(rng.standard_normal((n, n)))
    symmetric = q @ np.diag(np.linspace(1.0, 10.0, n)) @ q.T
    symmetric = (symmetric + symmetric.T) / 2
    x = np.eye(n) + 0.1 * rng.standard_normal((n, n))
    real_spectrum = x @ np.diag(np.linspace(1.0, 10.0, n)) @ np.linalg.inv(x)
    return [
        ("svd", general, lambda a: bw.svd(a)[1], lambda m: np.linalg.svd(m)),
        ("eig symmetric", symmetric, lambda a: bw.eig(a)[0], lambda m: np.linalg.eigh(m)),
        ("eig general", real_spectrum, lambda a: bw.eig(a)[0], lambda m: np.linalg.eig(m)),
        ("pinv", general, bw.pinv, np.linalg.pinv),
        ("cond", general, lambda a: bw.from_raw_parts(*map(list, zip(bw.cond(a))), [1]), np.linalg.cond),
    ]


def main(sizes):
    rng = np.random.default_rng(0)
    print(f"{'operation':<15}{'n':>5}{'boundwise s':>13}{'numpy s':>11}{'ratio':>9}{'median rel. width':>19}")
    for n in sizes:
        for name, m, ours, theirs in cases(n, rng):
            a = bw.array(m.tolist())
            try:
                result = ours(a)
            except (ValueError, NotImplementedError) as error:
                print(f"{name:<15}{n:>5}  refused: {error}")
                continue
            t_ours = best_time(lambda: ours(a))
            t_numpy = best_time(lambda: theirs(m))
            print(f"{name:<15}{n:>5}{t_ours:>13.4f}{t_numpy:>11.4f}{t_ours / t_numpy:>9.1f}"
                  f"{median_relative_width(result):>19.2e}")


if __name__ == "__main__":
    main([int(s) for s in sys.argv[1:]] or [50, 100, 200])
