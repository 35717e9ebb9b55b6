"""Element-wise functions: boundwise against NumPy float64 doing the same function.

    python benchmarks/bench_elementwise.py           # 10^6 elements
    python benchmarks/bench_elementwise.py --quick   # 10^5 elements, shorter runs

Each configuration runs in its own process, because the worker pool is sized once
per process (RAYON_NUM_THREADS): "1 thread" pins it to one thread, "pool" leaves
it at the processor count. The two kinds of process take turns (--rounds of each),
so that a change in machine load hits both alike.

Within a process the boundwise call and the NumPy call alternate, one after the
other, for every repetition; each figure is the median over all repetitions of all
rounds, "+-" half the interquartile range as a percentage of the median. A ratio is
the median of the per-repetition quotients boundwise time / NumPy float64 time, so
both sides of every quotient saw the same load. "speed-up" is the median
one-thread time over the median pool time of boundwise.

--clock cpu times with the process's CPU time instead of the wall clock: on a
machine where other work competes for the cores, the one-thread figures then
leave out the time spent waiting for a core. In the pool columns it counts the
work of all threads (polling included), so no speed-up is shown.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

ROWS = ["sin", "cos", "tan", "exp", "ln", "sqrt", "abs", "floor", "power(2)", "power(3)", "power(-1)", "power(0.5)",
        "maximum(b)", "maximum(x)", "clip", "x / a"]


def interleaved(ours, theirs, budget_s: float, clock=time.perf_counter, min_repeats: int = 5,
                max_repeats: int = 201) -> list[tuple[float, float]]:
    """(ours, theirs) times of alternating calls, after one warm-up call of each, repeated until
    `budget_s` of wall time is spent (within the repeat bounds)."""
    ours()
    theirs()
    pairs: list[tuple[float, float]] = []
    start = time.perf_counter()
    while len(pairs) < max_repeats and (len(pairs) < min_repeats or time.perf_counter() - start < budget_s):
        t0 = clock()
        ours()
        t1 = clock()
        theirs()
        t2 = clock()
        pairs.append((t1 - t0, t2 - t1))
    return pairs


def worker(n: int, budget_s: float, clock: str) -> dict[str, list[tuple[float, float]]]:
    import numpy as np

    import boundwise as bw

    rng = np.random.default_rng(11)
    mids = rng.uniform(0.5, 20.0, n)  # positive, so that every function is defined
    a = bw.from_raw_parts(mids.tolist(), [1e-12] * n, [n])
    others = rng.uniform(0.5, 20.0, n)
    b = bw.from_raw_parts(others.tolist(), [1e-12] * n, [n])
    ours = {
        "sin": a.sin, "cos": a.cos, "tan": a.tan, "exp": a.exp, "ln": a.ln, "sqrt": a.sqrt, "abs": a.abs,
        "floor": a.floor,
        "power(2)": lambda: a.power(2.0), "power(3)": lambda: a.power(3.0), "power(-1)": lambda: a.power(-1.0),
        "power(0.5)": lambda: a.power(0.5),
        "maximum(b)": lambda: a.maximum(b), "maximum(x)": lambda: a.maximum(10.0), "clip": lambda: a.clip(2.0, 15.0),
        "x / a": lambda: 3.0 / a,
    }
    theirs = {
        "sin": lambda: np.sin(mids), "cos": lambda: np.cos(mids), "tan": lambda: np.tan(mids),
        "exp": lambda: np.exp(mids), "ln": lambda: np.log(mids),
        "sqrt": lambda: np.sqrt(mids), "abs": lambda: np.abs(mids), "floor": lambda: np.floor(mids),
        "power(2)": lambda: np.power(mids, 2.0), "power(3)": lambda: np.power(mids, 3.0),
        "power(-1)": lambda: np.power(mids, -1.0), "power(0.5)": lambda: np.power(mids, 0.5),
        "maximum(b)": lambda: np.maximum(mids, others), "maximum(x)": lambda: np.maximum(mids, 10.0),
        "clip": lambda: np.clip(mids, 2.0, 15.0), "x / a": lambda: 3.0 / mids,
    }
    timer = time.process_time if clock == "cpu" else time.perf_counter
    return {f: interleaved(ours[f], theirs[f], budget_s, timer) for f in ROWS}


def run_worker(threads: str | None, n: int, budget_s: float, clock: str) -> dict[str, list[list[float]]]:
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    # No BLAS call is timed here; OpenBLAS's idle threads would only compete with the pool.
    env["OPENBLAS_NUM_THREADS"] = "1"
    if threads is None:
        env.pop("RAYON_NUM_THREADS", None)
    else:
        env["RAYON_NUM_THREADS"] = threads
    args = [sys.executable, __file__, "--worker", str(n), "--budget", str(budget_s), "--clock", clock]
    return json.loads(subprocess.run(args, env=env, check=True, capture_output=True, text=True).stdout)


def summary(pairs: list[list[float]]) -> dict[str, float]:
    ours = [p[0] for p in pairs]
    q1, _, q3 = statistics.quantiles(ours, n=4)
    median = statistics.median(ours)
    return {"median_s": median, "spread": (q3 - q1) / 2 / median, "repeats": len(pairs),
            "numpy_s": statistics.median(p[1] for p in pairs),
            "ratio": statistics.median(p[0] / p[1] for p in pairs)}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="10^5 elements and shorter runs")
    parser.add_argument("--rounds", type=int, default=3, help="processes of each configuration, taking turns")
    parser.add_argument("--clock", choices=["wall", "cpu"], default="wall", help="what the figures measure")
    parser.add_argument("--json", help="write the figures to this file")
    parser.add_argument("--worker", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--budget", type=float, default=1.0, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.worker:
        print(json.dumps(worker(options.worker, options.budget, options.clock)))
        return

    import boundwise as bw

    n, budget = (100_000, 0.2) if options.quick else (1_000_000, 1.0)
    samples: dict[str, dict[str, list]] = {"1": {f: [] for f in ROWS}, "pool": {f: [] for f in ROWS}}
    for _ in range(options.rounds):
        for config, threads in (("1", "1"), ("pool", None)):
            for f, pairs in run_worker(threads, n, budget, options.clock).items():
                samples[config][f] += pairs
    single = {f: summary(samples["1"][f]) for f in ROWS}
    pooled = {f: summary(samples["pool"][f]) for f in ROWS}

    print(f"boundwise {bw.__version__}, {os.cpu_count()} processors, pool of {bw.num_threads()} threads, "
          f"{n} elements, {options.rounds} rounds, {options.clock} clock")
    print("ratio = boundwise time / NumPy float64 time of the same function (median of interleaved pairs)")
    header = (f"{'function':<11} | {'1 thread':>9} {'+-':>4} {'ratio':>6} | {'pool':>9} {'+-':>4} {'ratio':>6} "
              f"| {'speed-up':>8}")
    print(header)
    print("-" * len(header))
    for f in ROWS:
        one, many = single[f], pooled[f]
        print(f"{f:<11} | {one['median_s'] * 1e3:>7.2f}ms {one['spread']:>4.0%} {one['ratio']:>6.2f} | "
              f"{many['median_s'] * 1e3:>7.2f}ms {many['spread']:>4.0%} {many['ratio']:>6.2f} | "
              + (f"{one['median_s'] / many['median_s']:>7.2f}x" if options.clock == "wall" else f"{'-':>8}"))
    if options.json:
        with open(options.json, "w") as out:
            json.dump({"size": n, "clock": options.clock, "single_thread": single, "pool": pooled}, out, indent=1)


if __name__ == "__main__":
    main()
