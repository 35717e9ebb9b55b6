"""Benchmark of the verified linear systems: boundwise solve, inv, det,
cholesky and lstsq against NumPy's (unverified) LAPACK and python-flint's
arb_mat at 53 bits, with the median relative width of each enclosure.

    python benchmarks/bench_linalg.py            # the whole suite
    python benchmarks/bench_linalg.py --quick    # one timed call per case
    python benchmarks/bench_linalg.py --json out.json

Matrices are point matrices U diag(s) V^T with random orthogonal U, V and
singular values spaced evenly in log from 1 to 1e-3 (condition number 1e3);
right-hand sides are uniform in [-1, 1]. Times are the best of the repeats, in
milliseconds. NumPy runs with as many BLAS threads as boundwise's worker pool
(threadpoolctl), and the ratio column is boundwise time / NumPy time; the
"numpy 1 th" column is NumPy limited to one thread (our LAPACK calls run on
one thread, the products on the pool). The
width columns are the median of radius / |midpoint| over the result's elements
(inf for an element that is the whole line, or a radius over a zero midpoint).
Targets: inv at most 3x solve at n = 100; solve at n = 100 faster than
arb_mat.solve; solve(method="krawczyk") at n = 1000 within 10x NumPy's solve
with median width below 1e-8.
"""

from __future__ import annotations

import argparse
import contextlib
import json
import math
import statistics
import time

SIZES = [50, 100, 200]
KRAWCZYK_SIZES = [50, 100, 200, 500, 1000]
CHOLESKY_SIZE = 200
LSTSQ_SHAPE = (400, 100)
ARB_LIMIT = 200  # arb_mat.inv and det above this size take minutes


def best_ms(fn, repeats: int) -> float:
    """Smallest wall time of `repeats` calls in milliseconds (after a warm-up call when repeating)."""
    if repeats > 1:
        fn()
    best = math.inf
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best * 1e3


def conditioned(n: int, cond: float, seed: int):
    import numpy as np

    rng = np.random.default_rng(seed)
    u, _ = np.linalg.qr(rng.standard_normal((n, n)))
    v, _ = np.linalg.qr(rng.standard_normal((n, n)))
    return (u * np.logspace(0, -math.log10(cond), n)) @ v.T


def interval(mid):
    import boundwise as bw

    return bw.array(mid.tolist())


def width(result) -> float:
    """Median relative radius of an IntervalArray or a (midpoint, radius) tuple,
    over the elements that are not exact zeros (the upper triangle of a factor)."""
    pairs = [result] if isinstance(result, tuple) else zip(result.values(), result.radii())
    return statistics.median([r / abs(m) if m == m and m != 0 else math.inf for m, r in pairs if (m, r) != (0, 0)]
                             or [0.0])


def arb_width(result) -> float:
    import flint

    entries = [result] if isinstance(result, flint.arb) else result.entries()
    return statistics.median(float(x.rad()) / abs(float(x.mid())) if x.mid() != 0 else math.inf for x in entries)


def numpy_threads(threads: int):
    try:
        from threadpoolctl import threadpool_limits
    except ImportError:
        return contextlib.nullcontext()
    return threadpool_limits(limits=threads, user_api="blas")


def arb_case(name: str, mid, rhs, repeats: int):
    """Time and width of arb_mat at 53 bits, or a reason for leaving it out."""
    try:
        import flint
    except ImportError:
        return None, "python-flint is not installed (pip install python-flint)"
    if mid.shape[0] > ARB_LIMIT or name not in ("solve", "inv", "det"):
        return None, None
    flint.ctx.prec = 53
    a = flint.arb_mat(mid.tolist())
    b = flint.arb_mat([[x] for x in rhs.tolist()])
    call = {"solve": lambda: a.solve(b), "inv": a.inv, "det": a.det}[name]
    try:
        result = call()
    except ZeroDivisionError:
        return {"arb_ms": best_ms(call, 1), "arb_width": math.inf}, None
    return {"arb_ms": best_ms(call, repeats), "arb_width": arb_width(result)}, None


def run(quick: bool) -> list[dict]:
    import numpy as np

    import boundwise as bw

    threads = bw.num_threads()
    repeats = 1 if quick else 3
    cases = []
    for n in SIZES:
        cases += [("solve", n, None), ("inv", n, None), ("det", n, None)]
    cases += [("solve", n, "krawczyk") for n in KRAWCZYK_SIZES]
    cases += [("inv", n, "krawczyk") for n in SIZES]
    cases += [("cholesky", CHOLESKY_SIZE, None), ("lstsq", LSTSQ_SHAPE[1], None)]
    rows = []
    for name, n, method in cases:
        rng = np.random.default_rng(n)
        mid = conditioned(*((LSTSQ_SHAPE[0], 1e3, n) if name == "lstsq" else (n, 1e3, n)))
        if name == "lstsq":
            mid = mid[:, :n]
        if name == "cholesky":  # symmetric, condition number 100 (1e3 is beyond the interval recurrence at n = 200)
            q, _ = np.linalg.qr(rng.standard_normal((n, n)))
            mid = (q * np.logspace(0, -2, n)) @ q.T
            mid = (mid + mid.T) / 2
        rhs = rng.uniform(-1, 1, mid.shape[0])
        a, b = interval(mid), interval(rhs)
        kwargs = {"method": method} if method else {}
        ours = {
            "solve": lambda: bw.solve(a, b, **kwargs), "inv": lambda: bw.inv(a, **kwargs),
            "det": lambda: bw.det(a), "cholesky": lambda: bw.cholesky(a), "lstsq": lambda: bw.lstsq(a, b),
        }[name]
        theirs = {
            "solve": lambda: np.linalg.solve(mid, rhs), "inv": lambda: np.linalg.inv(mid),
            "det": lambda: np.linalg.det(mid), "cholesky": lambda: np.linalg.cholesky(mid),
            "lstsq": lambda: np.linalg.lstsq(mid, rhs, rcond=None),
        }[name]
        row = {"case": name + (f"({method})" if method else ""), "n": n}
        try:
            row["width"] = width(ours())
            row["boundwise_ms"] = best_ms(ours, repeats)
        except ValueError as error:
            row["width"], row["boundwise_ms"], row["error"] = math.inf, math.nan, str(error)
        with numpy_threads(threads):
            row["numpy_ms"] = best_ms(theirs, max(repeats, 3))
        with numpy_threads(1):
            row["numpy_1_ms"] = best_ms(theirs, max(repeats, 3))
        row["ratio"] = row["boundwise_ms"] / row["numpy_ms"]
        arb, skipped = arb_case(name, mid, rhs, repeats) if not method else (None, None)
        if arb:
            row.update(arb)
        if skipped:
            row["arb_skipped"] = skipped
        rows.append(row)
        print_row(row)
    return rows


def print_row(row: dict) -> None:
    arb = (f"{row['arb_ms']:>10.2f} {row['arb_width']:>10.2e}" if "arb_ms" in row else f"{'-':>10} {'-':>10}")
    print(f"{row['case']:<16}{row['n']:>6} {row['boundwise_ms']:>12.2f} {row['width']:>10.2e} "
          f"{row['numpy_ms']:>10.3f} {row['ratio']:>9.1f} {row['numpy_1_ms']:>10.3f} {arb}", flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="one timed call per case")
    parser.add_argument("--json", metavar="PATH", help="also write the rows as JSON")
    args = parser.parse_args()
    import boundwise as bw

    print(f"boundwise worker threads: {bw.num_threads()} (NumPy's BLAS limited to the same)")
    print(f"{'case':<16}{'n':>6} {'boundwise ms':>12} {'width':>10} {'numpy ms':>10} {'ratio':>9} "
          f"{'numpy 1 th':>10} {'arb ms':>10} {'arb width':>10}")
    rows = run(args.quick)
    skipped = {row["arb_skipped"] for row in rows if "arb_skipped" in row}
    for reason in skipped:
        print(f"arb_mat rows skipped: {reason}")
    by_case = {(row["case"], row["n"]): row for row in rows}
    if ("inv", 100) in by_case and ("solve", 100) in by_case:
        print(f"inv / solve at n = 100: {by_case['inv', 100]['boundwise_ms'] / by_case['solve', 100]['boundwise_ms']:.2f}")
    if "arb_ms" in by_case.get(("solve", 100), {}):
        print(f"arb_mat.solve / solve at n = 100: {by_case['solve', 100]['arb_ms'] / by_case['solve', 100]['boundwise_ms']:.2f}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump(rows, out, indent=1)


if __name__ == "__main__":
    main()
