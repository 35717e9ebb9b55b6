"""Joining, splitting and random arrays against NumPy.

    python benchmarks/bench_joining.py              # 10^6 and 10^7 elements
    python benchmarks/bench_joining.py --sizes 1e6  # chosen sizes only

A ratio is boundwise time / NumPy time, best of several runs, both in this
process. An interval element is 16 bytes (midpoint and radius), so the joining
rows also show NumPy on complex128, which moves the same bytes as we do; NumPy's
split returns views, so its pieces are copied to compare like with like.
"""

from __future__ import annotations

import argparse
import time

import numpy as np

import boundwise._boundwise as bw

from bench import best_time


def cases(n: int):
    """(name, boundwise call, NumPy float64 call, NumPy call on 16-byte elements or None)."""
    rng = np.random.default_rng(0)
    half = n // 2
    a, b = bw.rand(half), bw.rand(n - half)
    am, bm = rng.random(half), rng.random(n - half)
    ac, bc = am.astype(np.complex128), bm.astype(np.complex128)
    whole, whole_m, whole_c = bw.rand(n), rng.random(n), rng.random(n).astype(np.complex128)
    pieces = 10 if n % 10 == 0 else 1
    return [
        ("concatenate", lambda: bw.concatenate([a, b]), lambda: np.concatenate([am, bm]),
         lambda: np.concatenate([ac, bc])),
        (f"split into {pieces}", lambda: bw.split(whole, pieces),
         lambda: [p.copy() for p in np.split(whole_m, pieces)], lambda: [p.copy() for p in np.split(whole_c, pieces)]),
        ("rand", lambda: bw.rand(n), lambda: rng.random(n), None),
        ("randn", lambda: bw.randn(n), lambda: rng.standard_normal(n), None),
    ]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", nargs="*", type=float, default=[1e6, 1e7])
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    print(f"worker threads: {bw.num_threads()}")
    print(f"{'operation':<16}{'n':>10}{'boundwise ms':>14}{'numpy ms':>10}{'ratio':>8}{'vs 16-byte':>12}")
    for size in args.sizes:
        n = int(size)
        for name, ours, numpy_call, wide_call in cases(n):
            t = best_time(ours, args.repeats)
            t_np = best_time(numpy_call, args.repeats)
            wide = f"{t / best_time(wide_call, args.repeats):12.2f}" if wide_call else f"{'-':>12}"
            print(f"{name:<16}{n:>10}{t * 1e3:14.2f}{t_np * 1e3:10.2f}{t / t_np:8.2f}{wide}")


if __name__ == "__main__":
    main()
