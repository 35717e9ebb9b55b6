"""Benchmarks of comparisons, masks and indexing: boundwise against NumPy float64.

    python benchmarks/bench_compare.py            # 10**6 elements
    python benchmarks/bench_compare.py --quick    # fewer repeats
    python benchmarks/bench_compare.py --json out.json

A ratio is boundwise time / NumPy time for the same operation on arrays of the
same size, both measured in this process, in alternation (best of several runs). The index list
is the same Python list for both libraries, so both pay for converting it.
"""

from __future__ import annotations

import argparse
import json
import os
import sys

from bench import compare, format_time

# (name, target ratio): comparisons at most 3x, indexing at most 2x.
OPERATIONS = [
    ("a < b", 3.0),
    ("a < 1.5", 3.0),
    ("(a < b).sum()", 3.0),
    ("a[::2]", 2.0),
    ("a[mask]", 2.0),
    ("a[idx_list]", 2.0),
]


def run(n: int, quick: bool) -> list[dict]:
    import numpy as np

    import boundwise as bw

    rng = np.random.default_rng(7)
    x = rng.uniform(1.0, 2.0, n)
    y = rng.uniform(1.0, 2.0, n)
    radius = [1e-12] * n
    a = bw.from_raw_parts(x.tolist(), radius, [n])
    b = bw.from_raw_parts(y.tolist(), radius, [n])
    m = x < y
    mask = a < b
    idx = rng.integers(0, n, n).tolist()
    ours = {
        "a < b": lambda: a < b,
        "a < 1.5": lambda: a < 1.5,
        "(a < b).sum()": lambda: (a < b).sum(),
        "a[::2]": lambda: a[::2],
        "a[mask]": lambda: a[mask],
        "a[idx_list]": lambda: a[idx],
    }
    theirs = {
        "a < b": lambda: x < y,
        "a < 1.5": lambda: x < 1.5,
        "(a < b).sum()": lambda: np.count_nonzero(x < y),
        "a[::2]": lambda: x[::2].copy(),
        "a[mask]": lambda: x[m],
        "a[idx_list]": lambda: x[idx],
    }
    rows = []
    for name, target in OPERATIONS:
        repeats, min_sample = (5, 1e-3) if quick else (11, 5e-3)
        row = compare(ours[name], theirs[name], repeats, min_sample)
        rows.append({"operation": name, "size": n, "target": target, **row})
    return rows


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="fewer repeats")
    parser.add_argument("--size", type=int, default=10**6, help="elements per array (default 10**6)")
    parser.add_argument("--json", help="write the figures to this file")
    options = parser.parse_args()

    import boundwise as bw

    rows = run(options.size, options.quick)
    print(f"boundwise {bw.__version__}, {os.cpu_count()} processors, {bw.num_threads()} pool threads, "
          f"Python {sys.version.split()[0]}")
    print("ratio = boundwise time / NumPy float64 time for the same operation and size")
    print("ratio = boundwise / NumPy float64 for the same operation and size: median of interleaved "
          "repetitions [interquartile range]")
    header = (f"{'operation':<14} {'size':>9} | {'boundwise':>10} {'numpy':>10} | {'ratio':>6} {'spread':>11} "
              f"{'target':>6}")
    print(header)
    print("-" * len(header))
    for row in rows:
        print(f"{row['operation']:<14} {row['size']:>9} | {format_time(row['boundwise_s']):>10} "
              f"{format_time(row['numpy_s']):>10} | {row['ratio']:>6.2f} "
              f"{'[%.2f-%.2f]' % (row['ratio_q1'], row['ratio_q3']):>11} {row['target']:>6.1f}")
    if options.json:
        with open(options.json, "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()
