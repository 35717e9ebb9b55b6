"""NumPy interop: moving arrays in and out of boundwise against NumPy doing the same copy.

    python benchmarks/bench_interop.py          # 10^7 elements, a table of ratios
    python benchmarks/bench_interop.py --quick  # 10^6 elements, fewer repeats
    python benchmarks/bench_interop.py --json out.json

Rows (a ratio is boundwise time / NumPy time; the target is in brackets):
- build: from_raw_parts of two float64 arrays against numpy.copy of both [<= 2];
- mid out: numpy.asarray(a.mid) against numpy.copy of the midpoints [<= 2 or constant time];
- pickle 5: dumps + loads at protocol 5 against the same for a tuple of two float64 arrays [<= 2];
- pickle 4 (for reference): the list form that protocols below 5 keep.
"""

from __future__ import annotations

import argparse
import json
import pickle

from bench import compare, format_time


def cases(n: int):
    """(label, target, boundwise call, NumPy call) for every row of the table."""
    import numpy as np

    import boundwise as bw

    rng = np.random.default_rng(5)
    mid = rng.uniform(-1.0, 1.0, n)
    rad = rng.uniform(0.0, 1e-12, n)
    a = bw.from_raw_parts(mid, rad, [n])
    pair = (mid, rad)
    return [
        ("build from two arrays", 2.0, lambda: bw.from_raw_parts(mid, rad, [n]),
         lambda: (np.copy(mid), np.copy(rad))),
        ("numpy.asarray(a.mid)", 2.0, lambda: np.asarray(a.mid), lambda: np.copy(mid)),
        ("pickle 5 dumps+loads", 2.0, lambda: pickle.loads(pickle.dumps(a, protocol=5)),
         lambda: pickle.loads(pickle.dumps(pair, protocol=5))),
        ("pickle 4 dumps+loads", None, lambda: pickle.loads(pickle.dumps(a, protocol=4)),
         lambda: pickle.loads(pickle.dumps(pair, protocol=4))),
    ]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="10^6 elements and fewer repeats")
    parser.add_argument("--json", metavar="FILE", help="write the figures to FILE")
    args = parser.parse_args()
    n, repeats = (10**6, 3) if args.quick else (10**7, 5)

    rows = []
    print(f"{'operation':<24} {'boundwise':>10} {'numpy':>10} {'ratio':>7} {'spread':>11}  target  (n = {n})")
    for label, target, ours, theirs in cases(n):
        # The list form of protocol 4 takes seconds at 10^7: fewer repeats.
        row = compare(ours, theirs, 1 if target is None else repeats, min_sample=0.0)
        ratio = row["ratio"]
        verdict = "" if target is None else ("ok" if ratio <= target else "MISSED")
        spread = f"[{row['ratio_q1']:.2f}-{row['ratio_q3']:.2f}]"
        print(f"{label:<24} {format_time(row['boundwise_s']):>10} {format_time(row['numpy_s']):>10} {ratio:>7.2f} "
              f"{spread:>11}  {verdict}")
        rows.append({"operation": label, "n": n, "target": target, **row})
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()
