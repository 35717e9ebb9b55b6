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

from bench import compare, format_time


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
    print("ratio: median of interleaved repetitions against NumPy float64 [interquartile range]")
    print(f"{'operation':<16}{'n':>10}{'boundwise':>11}{'numpy':>11}{'ratio':>8}{'spread':>13}{'vs 16-byte':>12}")
    for size in args.sizes:
        n = int(size)
        for name, ours, numpy_call, wide_call in cases(n):
            row = compare(ours, numpy_call, args.repeats)
            wide = f"{compare(ours, wide_call, args.repeats)['ratio']:12.2f}" if wide_call else f"{'-':>12}"
            spread = f"[{row['ratio_q1']:.2f}-{row['ratio_q3']:.2f}]"
            print(f"{name:<16}{n:>10}{format_time(row['boundwise_s']):>11}{format_time(row['numpy_s']):>11}"
                  f"{row['ratio']:8.2f}{spread:>13}{wide}")

if __name__ == "__main__":
    main()
