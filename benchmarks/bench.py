"""Benchmarks: boundwise against NumPy float64 doing the same operation.

    python benchmarks/bench.py                 # the whole suite, a table of ratios
    python benchmarks/bench.py --json out.json # also write the figures as JSON
    python benchmarks/bench.py --quick         # smaller sizes, fewer repeats

Each configuration runs in its own process, because the worker pool is sized once
per process (RAYON_NUM_THREADS): "1 thread" pins it to one thread, "all" leaves it
at the processor count. A ratio is boundwise time / NumPy float64 time for the
same operation on arrays of the same size, both measured in the same process.
As a peer, the suite also times the same enclosure of a + b written with NumPy
alone (TwoSum error term plus outward rounding by one ulp), the usual way to get
a verified sum without a compiled interval library.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import time

OPERATIONS = ["a + b", "a - b", "a * b", "a / b", "a + 2.0", "a * 2.0"]


def best_time(fn, repeats: int) -> float:
    """Smallest wall time of `repeats` calls (after one warm-up call)."""
    fn()
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def repeats_for(n: int, quick: bool) -> int:
    if n <= 1000:
        return 200 if quick else 2000
    if n <= 100_000:
        return 20 if quick else 100
    return 3 if quick else 7


def numpy_enclosed_add(am, ar, bm, br):
    """a + b as a verified enclosure with NumPy alone: TwoSum error, radii rounded up."""
    import numpy as np

    m = am + bm
    z = m - am
    e = np.abs((am - (m - z)) + (bm - z))
    r = np.nextafter(ar + br, np.inf)
    r = np.nextafter(r + e, np.inf)
    return m, r


def worker(sizes: list[int], quick: bool) -> list[dict]:
    import numpy as np

    import boundwise as bw

    rng = np.random.default_rng(7)
    rows = []
    for n in sizes:
        xm = rng.uniform(1.0, 2.0, n)
        ym = rng.uniform(1.0, 2.0, n)
        xr = np.full(n, 1e-12)
        a = bw.from_raw_parts(xm.tolist(), xr.tolist(), [n])
        b = bw.from_raw_parts(ym.tolist(), xr.tolist(), [n])
        ours = {
            "a + b": lambda: a + b,
            "a - b": lambda: a - b,
            "a * b": lambda: a * b,
            "a / b": lambda: a / b,
            "a + 2.0": lambda: a + 2.0,
            "a * 2.0": lambda: a * 2.0,
        }
        theirs = {
            "a + b": lambda: xm + ym,
            "a - b": lambda: xm - ym,
            "a * b": lambda: xm * ym,
            "a / b": lambda: xm / ym,
            "a + 2.0": lambda: xm + 2.0,
            "a * 2.0": lambda: xm * 2.0,
        }
        reps = repeats_for(n, quick)
        for op in OPERATIONS:
            t_ours = best_time(ours[op], reps)
            t_numpy = best_time(theirs[op], reps)
            row = {"operation": op, "size": n, "boundwise_s": t_ours, "numpy_s": t_numpy}
            if op == "a + b":
                row["numpy_interval_s"] = best_time(lambda: numpy_enclosed_add(xm, xr, ym, xr), reps)
            rows.append(row)
    return rows


def peak_memory_worker(n: int, with_number: bool) -> dict:
    """Peak resident memory of one a + b (or a + 2.0) over what its arrays need."""
    import boundwise as bw

    def vm(field: str) -> int:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith(field):
                    return int(line.split()[1]) * 1024
        raise RuntimeError(field)

    a = bw.ones(n)
    b = bw.ones(n)
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")  # resets the peak to the current resident size
    before = vm("VmRSS:")
    c = a + 2.0 if with_number else a + b
    peak = vm("VmHWM:")
    needed = 16 * n  # the result
    del c
    return {"size": n, "with_number": with_number, "extra_bytes": peak - before, "result_bytes": needed}


def run_config(threads: str | None, sizes: list[int], quick: bool) -> list[dict]:
    env = dict(os.environ)
    if threads is None:
        env.pop("RAYON_NUM_THREADS", None)
    else:
        env["RAYON_NUM_THREADS"] = threads
    args = [sys.executable, __file__, "--worker", ",".join(map(str, sizes))] + (["--quick"] if quick else [])
    out = subprocess.run(args, env=env, check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def peak_memory(n: int, with_number: bool) -> dict:
    args = [sys.executable, __file__, "--memory", str(n)] + (["--number"] if with_number else [])
    return json.loads(subprocess.run(args, check=True, capture_output=True, text=True).stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--json", help="write all figures to this file")
    parser.add_argument("--quick", action="store_true", help="smaller sizes and fewer repeats")
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    parser.add_argument("--memory", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--number", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.worker:
        print(json.dumps(worker([int(s) for s in options.worker.split(",")], options.quick)))
        return
    if options.memory:
        print(json.dumps(peak_memory_worker(options.memory, options.number)))
        return

    import boundwise as bw

    sizes = [3, 1000, 100_000, 1_000_000] if options.quick else [3, 1000, 100_000, 10_000_000]
    single = run_config("1", sizes, options.quick)
    pooled = run_config(None, sizes, options.quick)
    print(f"boundwise {bw.__version__}, {os.cpu_count()} processors, pool of {bw.num_threads()} threads")
    print("ratio = boundwise time / NumPy float64 time for the same operation and size")
    header = f"{'operation':<9} {'size':>9} | {'1 thread':>9} {'ratio':>6} | {'all':>9} {'ratio':>6} | {'scaling':>7}"
    print(header)
    print("-" * len(header))
    for one, many in zip(single, pooled):
        r1 = one["boundwise_s"] / one["numpy_s"]
        rn = many["boundwise_s"] / many["numpy_s"]
        scaling = one["boundwise_s"] / many["boundwise_s"]
        print(
            f"{one['operation']:<9} {one['size']:>9} | {one['boundwise_s'] * 1e3:>7.3f}ms {r1:>6.2f} | "
            f"{many['boundwise_s'] * 1e3:>7.3f}ms {rn:>6.2f} | {scaling:>6.2f}x"
        )
    print()
    print("peer: a + b as a verified enclosure written with NumPy alone (time / NumPy float64 a + b)")
    for row in single:
        if "numpy_interval_s" in row:
            ratio = row["numpy_interval_s"] / row["numpy_s"]
            ours = row["boundwise_s"] / row["numpy_s"]
            print(f"  size {row['size']:>9}: numpy-interval {ratio:6.2f}   boundwise {ours:6.2f}")
    n = sizes[-1]
    memory = [peak_memory(n, False), peak_memory(n, True)]
    print()
    print("peak memory of one operation beyond its operands (1.00 = exactly the result)")
    for m in memory:
        label = "a + 2.0" if m["with_number"] else "a + b"
        print(f"  {label:<8} size {m['size']}: {m['extra_bytes'] / m['result_bytes']:.2f}")
    if options.json:
        with open(options.json, "w") as f:
            json.dump({"single_thread": single, "all_threads": pooled, "peak_memory": memory}, f, indent=1)


if __name__ == "__main__":
    main()
