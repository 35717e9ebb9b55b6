"""Benchmark of interval matrix products: boundwise A @ B against NumPy float64
A @ B and against python-flint's arb_mat product at 53 bits.

    python benchmarks/bench_products.py            # the whole suite
    python benchmarks/bench_products.py --quick    # fewer repeats
    python benchmarks/bench_products.py --json out.json

Each thread configuration runs in its own process, because our worker pool is
sized once per process (RAYON_NUM_THREADS). In the "1 thread" row NumPy's BLAS
is limited to one thread too (threadpoolctl when installed, else the BLAS
environment variables before NumPy loads); in the "all" row both use every
processor. A ratio is boundwise time / NumPy float64 time on operands of the
same size in the same process (target: at most 6 at n = 1000). The arb_mat rows
give arb_mat time / boundwise time (target: at least 20 at n = 256). The memory
row is the growth of the peak resident size during one product at n = 1000,
over the size of the result plus three n x n double work arrays (target: at
most 1).
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import time

from bench import best_time

MATMUL_SIZES = [256, 512, 1000]
ARB_SIZES = [128, 256]
MEMORY_SIZE = 1000
BLAS_THREAD_VARIABLES = ["OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"]


def operands(n: int, seed: int):
    """Midpoints in [-1, 1] and relative radii 2^-30, as NumPy arrays and interval arrays."""
    import numpy as np

    import boundwise as bw

    rng = np.random.default_rng(seed)
    mid = rng.uniform(-1.0, 1.0, (n, n))
    rad = np.abs(mid) * 2.0**-30
    return mid, rad, bw.from_raw_parts(mid.ravel().tolist(), rad.ravel().tolist(), [n, n])


def numpy_thread_limit(threads: int | None):
    """A context limiting NumPy's BLAS to `threads` (None: no limit)."""
    import contextlib

    if threads is None:
        return contextlib.nullcontext()
    try:
        from threadpoolctl import threadpool_limits
    except ImportError:
        return contextlib.nullcontext()  # the environment variables were set before NumPy loaded
    return threadpool_limits(limits=threads, user_api="blas")


def time_matmul(quick: bool, threads: int | None) -> list[dict]:
    rows = []
    for n in MATMUL_SIZES:
        repeats = 3 if quick else (10 if n < 1000 else 5)
        mid, _, a = operands(n, 1)
        mid_b, _, b = operands(n, 2)
        ours = best_time(lambda: a @ b, repeats)
        with numpy_thread_limit(threads):
            theirs = best_time(lambda: mid @ mid_b, repeats)
        rows.append({"n": n, "boundwise_s": ours, "numpy_s": theirs, "ratio": ours / theirs})
    return rows


def time_arb(quick: bool) -> list[dict]:
    try:
        import flint
    except ImportError:
        return [{"skipped": "python-flint is not installed (pip install python-flint)"}]
    flint.ctx.prec = 53
    rows = []
    for n in ARB_SIZES:
        mid, rad, a = operands(n, 3)
        mid_b, rad_b, b = operands(n, 4)

        def arb_matrix(m, r):
            return flint.arb_mat([[flint.arb(m[i, j], r[i, j]) for j in range(n)] for i in range(n)])

        x, y = arb_matrix(mid, rad), arb_matrix(mid_b, rad_b)
        repeats = 1 if quick else 3
        theirs = best_time(lambda: x * y, repeats)
        ours = best_time(lambda: a @ b, 3 if quick else 10)
        rows.append({"n": n, "boundwise_s": ours, "arb_mat_s": theirs, "speedup": theirs / ours})
    return rows


def resident_kib(field: str) -> int:
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"{field} not in /proc/self/status")


def measure_memory() -> dict:
    """Peak resident growth of one product (after a warm-up product, so that the
    BLAS library's own buffers already exist), against result + three work arrays."""
    import gc

    n = MEMORY_SIZE
    _, _, a = operands(n, 5)
    _, _, b = operands(n, 6)
    a @ b
    gc.collect()
    try:
        import ctypes

        ctypes.CDLL(None).malloc_trim(0)  # hands the freed work arrays of the warm-up back to the system
    except (OSError, AttributeError):
        pass
    try:
        with open("/proc/self/clear_refs", "w", encoding="ascii") as f:
            f.write("5")  # resets the peak (VmHWM) to the current resident size
    except OSError:
        return {"skipped": "cannot reset the peak resident size (/proc/self/clear_refs)"}
    before = resident_kib("VmRSS")
    c = a @ b
    growth = (resident_kib("VmHWM") - before) * 1024
    budget = (2 + 3) * 8 * n * n  # midpoints and radii of the result, three work arrays
    del c
    return {"n": n, "peak_growth_bytes": growth, "budget_bytes": budget, "ratio": growth / budget}


def worker(quick: bool, threads: int | None) -> dict:
    import boundwise as bw

    out = {"threads": bw.num_threads(), "matmul": time_matmul(quick, threads), "arb_mat": time_arb(quick)}
    if threads is None:
        out["memory"] = measure_memory()
    return out


def run_worker(quick: bool, threads: int | None) -> dict:
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    args = [sys.executable, __file__, "--worker"]
    if threads is None:
        env.pop("RAYON_NUM_THREADS", None)
    else:
        env["RAYON_NUM_THREADS"] = str(threads)
        args += ["--threads", str(threads)]
        for name in BLAS_THREAD_VARIABLES:
            env[name] = str(threads)
    if quick:
        args.append("--quick")
    done = subprocess.run(args, env=env, capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def report(results: dict) -> None:
    for label, result in results.items():
        print(f"A @ B, {label} ({result['threads']} threads in our pool)")
        print(f"  {'n':>6} {'boundwise ms':>13} {'numpy ms':>10} {'ratio':>7}")
        for row in result["matmul"]:
            print(f"  {row['n']:>6} {row['boundwise_s'] * 1e3:>13.2f} {row['numpy_s'] * 1e3:>10.2f} "
                  f"{row['ratio']:>7.2f}")
    for label, result in results.items():
        print(f"arb_mat (python-flint, 53 bits, one thread) time / boundwise time, boundwise on {label}")
        for row in result["arb_mat"]:
            if "skipped" in row:
                print(f"  skipped: {row['skipped']}")
            else:
                print(f"  n = {row['n']:>4}: {row['arb_mat_s'] * 1e3:10.1f} ms / {row['boundwise_s'] * 1e3:8.2f} ms"
                      f" = {row['speedup']:.0f}x")
    memory = results["all threads"]["memory"]
    if "skipped" in memory:
        print(f"memory: skipped: {memory['skipped']}")
    else:
        print(f"peak growth of one product at n = {memory['n']}: {memory['peak_growth_bytes'] / 2**20:.1f} MiB,"
              f" {memory['ratio']:.2f} of result + three work arrays ({memory['budget_bytes'] / 2**20:.1f} MiB)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="fewer repeats")
    parser.add_argument("--json", metavar="PATH", help="also write the figures as JSON")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--threads", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        print(json.dumps(worker(args.quick, args.threads)))
        return
    results = {"1 thread": run_worker(args.quick, 1), "all threads": run_worker(args.quick, None)}
    report(results)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(results, f, indent=2)


if __name__ == "__main__":
    main()
