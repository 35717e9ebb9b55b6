"""Element-wise functions: boundwise against NumPy float64 doing the same function.

    python benchmarks/bench_elementwise.py           # 10^6 elements
    python benchmarks/bench_elementwise.py --quick   # 10^5 elements, fewer repeats

Each configuration runs in its own process, because the worker pool is sized once
per process (RAYON_NUM_THREADS): "1 thread" pins it to one thread, "pool" leaves
it at the processor count. A ratio is boundwise time / NumPy float64 time for the
same function on arrays of the same size, both measured in the same process;
"scaling" is the one-thread time over the pool time.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys

from bench import best_time

ROWS = ["sin", "cos", "tan", "exp", "ln", "sqrt", "abs", "floor", "power(2)", "power(0.5)"]


def worker(n: int, repeats: int) -> list[dict]:
    import numpy as np

    import boundwise as bw

    rng = np.random.default_rng(11)
    mids = rng.uniform(0.5, 20.0, n)  # positive, so that every function is defined
    a = bw.from_raw_parts(mids.tolist(), [1e-12] * n, [n])
    ours = {
        "sin": a.sin, "cos": a.cos, "tan": a.tan, "exp": a.exp, "ln": a.ln, "sqrt": a.sqrt, "abs": a.abs,
        "floor": a.floor,
        "power(2)": lambda: a.power(2.0), "power(0.5)": lambda: a.power(0.5),
    }
    theirs = {
        "sin": lambda: np.sin(mids), "cos": lambda: np.cos(mids), "tan": lambda: np.tan(mids),
        "exp": lambda: np.exp(mids), "ln": lambda: np.log(mids),
        "sqrt": lambda: np.sqrt(mids), "abs": lambda: np.abs(mids), "floor": lambda: np.floor(mids),
        "power(2)": lambda: np.power(mids, 2.0), "power(0.5)": lambda: np.power(mids, 0.5),
    }
    return [{"function": f, "boundwise_s": best_time(ours[f], repeats), "numpy_s": best_time(theirs[f], repeats)}
            for f in ROWS]


def run_config(threads: str | None, n: int, repeats: int) -> list[dict]:
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    # No BLAS call is timed here; OpenBLAS's idle threads would only compete with the pool.
    env["OPENBLAS_NUM_THREADS"] = "1"
    if threads is None:
        env.pop("RAYON_NUM_THREADS", None)
    else:
        env["RAYON_NUM_THREADS"] = threads
    args = [sys.executable, __file__, "--worker", str(n), "--repeats", str(repeats)]
    return json.loads(subprocess.run(args, env=env, check=True, capture_output=True, text=True).stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="10^5 elements and fewer repeats")
    parser.add_argument("--json", help="write the figures to this file")
    parser.add_argument("--worker", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--repeats", type=int, default=7, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.worker:
        print(json.dumps(worker(options.worker, options.repeats)))
        return

    import boundwise as bw

    n, repeats = (100_000, 5) if options.quick else (1_000_000, 7)
    single = run_config("1", n, repeats)
    pooled = run_config(None, n, repeats)
    print(f"boundwise {bw.__version__}, {os.cpu_count()} processors, pool of {bw.num_threads()} threads, "
          f"{n} elements")
    print("ratio = boundwise time / NumPy float64 time of the same function")
    header = f"{'function':<11} | {'1 thread':>9} {'ratio':>6} | {'pool':>9} {'ratio':>6} | {'scaling':>7}"
    print(header)
    print("-" * len(header))
    for one, many in zip(single, pooled):
        r1 = one["boundwise_s"] / one["numpy_s"]
        rn = many["boundwise_s"] / many["numpy_s"]
        print(f"{one['function']:<11} | {one['boundwise_s'] * 1e3:>7.2f}ms {r1:>6.2f} | "
              f"{many['boundwise_s'] * 1e3:>7.2f}ms {rn:>6.2f} | {one['boundwise_s'] / many['boundwise_s']:>6.2f}x")
    if options.json:
        with open(options.json, "w") as f:
            json.dump({"size": n, "single_thread": single, "pool": pooled}, f, indent=1)


if __name__ == "__main__":
    main()
