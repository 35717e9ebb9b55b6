"""Benchmarks: boundwise against NumPy float64 doing the same operation.

    python benchmarks/bench.py                      # the whole suite, a table of ratios
    python benchmarks/bench.py --quick              # smaller sizes, fewer repetitions (under a minute)
    python benchmarks/bench.py --json out.json      # also write every figure as JSON
    python benchmarks/bench.py --compare old.json   # run, then print new/old for every row
    python benchmarks/bench.py --compare old.json new.json   # compare two saved runs, run nothing
    python benchmarks/bench.py --clock cpu          # process CPU time for the one-thread runs

Each configuration runs in processes of its own, because the worker pool is sized
once per process (RAYON_NUM_THREADS): "1 thread" pins it to one thread, "all" leaves
it at the processor count. The element-wise rows of one size share a process; every
other row gets a fresh one, so that no row depends on what the rows before it left
in the memory allocator.

How a row is measured (`compare`): the boundwise call and the NumPy call are timed
alternately, repetition by repetition (the order swapped every time), so that a load
spike on a shared machine hits both. Every timed sample runs the call in a loop long
enough to lie well above the timer's resolution (at small sizes thousands of calls).
A row reports the median time per call of each side and the median of the
per-repetition ratios boundwise / NumPy with its interquartile range: a wide range
says the figure is noise. "scaling" is the one-thread time over the pooled time; a
figure above the processor count can only be noise.

Peak memory (a fresh process per case and library): the growth of the peak resident
set (VmHWM) during one operation, over what its operands already hold, in units of
the result's size for NumPy float64 (8 bytes per element); an in-place operation
that writes in place needs nothing.

As a peer, the suite also times the same enclosure of a + b written with NumPy
alone (TwoSum error term plus outward rounding by one ulp), the usual way to get a
verified sum without a compiled interval library.
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import json
import math
import operator
import os
import platform
import statistics
import subprocess
import sys
import time

OPERATIONS = ["a + b", "a - b", "a * b", "a / b", "a + 2.0", "a * 2.0"]
# The rows added for the array-core work: broadcasting, in-place writes and the transpose.
BROADCASTS = {"(1000,1000) + (1000,)": ((1000, 1000), (1000,)), "(1000,) + (1000,1000)": ((1000,), (1000, 1000)),
              "(1000,1) + (1000,)": ((1000, 1), (1000,))}
IN_PLACE = {"a += b": operator.iadd, "a *= b": operator.imul, "a /= b": operator.itruediv}
BROADCAST_IN_PLACE = "a += b (1000,1000) += (1000,)"
TRANSPOSE = "a.T (n, n)"
CLOCKS = {"wall": time.perf_counter, "cpu": time.process_time}


def best_time(fn, repeats: int) -> float:
    """Smallest wall time of `repeats` calls (after one warm-up call)."""
    fn()
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def format_time(seconds: float) -> str:
    """A time in the unit that suits it: 312 ns, 4.21 µs, 18.3 ms, 1.25 s."""
    for unit, scale in (("ns", 1e-9), ("µs", 1e-6), ("ms", 1e-3)):
        if seconds < 1000 * scale:
            value = seconds / scale
            return f"{value:.0f} {unit}" if value >= 100 else f"{value:.3g} {unit}"
    return f"{seconds:.3g} s"


def loops_for(fn, min_sample: float, clock) -> int:
    """Calls per timed sample so that one sample takes at least `min_sample` seconds:
    estimated from the fastest of three single calls (one slow call, a page fault or a
    collection, must not decide it), then checked on a whole sample."""
    single = min(_sample(fn, 1, clock) for _ in range(3))
    loops = max(1, min(1 << 24, math.ceil(1.2 * min_sample / max(single, 1e-9))))
    while loops < 1 << 24:
        elapsed = _sample(fn, loops, clock) * loops
        if elapsed >= min_sample:
            break
        loops = min(1 << 24, max(loops + 1, math.ceil(loops * 1.2 * min_sample / max(elapsed, 1e-9))))
    return loops


def _sample(fn, loops: int, clock) -> float:
    start = clock()
    for _ in range(loops):
        fn()
    return (clock() - start) / loops


def quartiles(values: list[float]) -> tuple[float, float]:
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[2]


def compare(ours, theirs, repeats: int = 7, min_sample: float = 2e-3, clock=time.perf_counter) -> dict:
    """Interleaved timing of two calls doing the same work.

    Returns the median seconds per call of each ("boundwise_s", "numpy_s"), the
    median of the per-repetition ratios ours/theirs ("ratio") with its quartiles
    and extremes, and the calls per sample ("loops")."""
    ours()
    theirs()
    loops_ours = loops_for(ours, min_sample, clock)
    loops_theirs = loops_for(theirs, min_sample, clock)
    t_ours, t_theirs = [], []
    for k in range(repeats):
        if k % 2:
            t_theirs.append(_sample(theirs, loops_theirs, clock))
            t_ours.append(_sample(ours, loops_ours, clock))
        else:
            t_ours.append(_sample(ours, loops_ours, clock))
            t_theirs.append(_sample(theirs, loops_theirs, clock))
    ratios = [a / b if b > 0 else math.inf for a, b in zip(t_ours, t_theirs)]
    q1, q3 = quartiles(ratios)
    return {"boundwise_s": statistics.median(t_ours), "numpy_s": statistics.median(t_theirs),
            "ratio": statistics.median(ratios), "ratio_q1": q1, "ratio_q3": q3,
            "ratio_min": min(ratios), "ratio_max": max(ratios), "repeats": repeats,
            "loops": [loops_ours, loops_theirs]}


def numpy_enclosed_add(am, ar, bm, br):
    """a + b as a verified enclosure with NumPy alone: TwoSum error, radii rounded up."""
    import numpy as np

    m = am + bm
    z = m - am
    e = np.abs((am - (m - z)) + (bm - z))
    r = np.nextafter(ar + br, np.inf)
    r = np.nextafter(r + e, np.inf)
    return m, r


def operands(shape, rng, low=1.0, high=2.0, radius=1e-12):
    """A NumPy array and the boundwise array with the same midpoints and the given radius."""
    import numpy as np

    import boundwise as bw

    x = rng.uniform(low, high, shape)
    return x, bw.from_raw_parts(x.ravel(), np.full(x.size, radius), list(np.shape(x)))


def cases(quick: bool) -> list[tuple[str, int]]:
    """(case, size) of every timed row, in the order they are printed."""
    big = 1_000_000 if quick else 10_000_000
    rows = [(op, n) for n in (3, 1000, 100_000, big) for op in OPERATIONS]
    rows += [(name, 1_000_000) for name in BROADCASTS] + [(BROADCAST_IN_PLACE, 1_000_000)]
    rows += [(name, big) for name in IN_PLACE] + [(TRANSPOSE, 1_000_000)]
    return rows


def make_case(case: str, n: int, rng):
    """The boundwise call and the NumPy call of one row. In-place rows add tiny
    values or multiply and divide by values near 1, so that nothing grows or
    overflows over the repetitions."""
    import numpy as np

    if case in OPERATIONS:
        (xm, a), (ym, b) = operands(n, rng), operands(n, rng)
        ours = {"a + b": lambda: a + b, "a - b": lambda: a - b, "a * b": lambda: a * b, "a / b": lambda: a / b,
                "a + 2.0": lambda: a + 2.0, "a * 2.0": lambda: a * 2.0}[case]
        theirs = {"a + b": lambda: xm + ym, "a - b": lambda: xm - ym, "a * b": lambda: xm * ym,
                  "a / b": lambda: xm / ym, "a + 2.0": lambda: xm + 2.0, "a * 2.0": lambda: xm * 2.0}[case]
        peer = (lambda: numpy_enclosed_add(xm, np.full(n, 1e-12), ym, np.full(n, 1e-12))) if case == "a + b" else None
        return ours, theirs, peer
    if case in BROADCASTS:
        (xm, a), (ym, b) = (operands(shape, rng) for shape in BROADCASTS[case])
        return (lambda: a + b), (lambda: xm + ym), None
    if case == BROADCAST_IN_PLACE:
        (xm, a), (ym, b) = operands((1000, 1000), rng), operands(1000, rng, 0.0, 1e-9, 0.0)
        return (lambda: operator.iadd(a, b)), (lambda: operator.iadd(xm, ym)), None
    if case in IN_PLACE:
        low, high = (0.0, 1e-9) if case == "a += b" else (1 - 1e-9, 1 + 1e-9)
        (xm, a), (ym, b) = operands(n, rng), operands(n, rng, low, high, 0.0)
        op = IN_PLACE[case]
        return (lambda: op(a, b)), (lambda: op(xm, ym)), None
    if case == TRANSPOSE:
        side = math.isqrt(n)
        xm, a = operands((side, side), rng)
        return (lambda: a.T), (lambda: np.ascontiguousarray(xm.T)), None
    raise ValueError(f"unknown case {case!r}")


def groups(quick: bool) -> list[list[int]]:
    """Indices into cases(): the element-wise rows of one size share a process, every
    other row has one of its own, so that no row inherits the allocator state (freed
    buffers, a raised mmap threshold) that an earlier, larger row left behind."""
    found: dict[object, list[int]] = {}
    for index, (case, n) in enumerate(cases(quick)):
        found.setdefault(n if case in OPERATIONS else case, []).append(index)
    return list(found.values())


def worker(quick: bool, clock_name: str, indices: list[int]) -> list[dict]:
    import numpy as np

    clock = CLOCKS[clock_name]
    repeats, min_sample = (5, 1e-3) if quick else (11, 5e-3)
    rows = []
    all_cases = cases(quick)
    for index in indices:
        case, n = all_cases[index]
        ours, theirs, peer = make_case(case, n, np.random.default_rng(7 + index))
        row = {"case": case, "size": n, **compare(ours, theirs, repeats, min_sample, clock)}
        if peer is not None:
            row["numpy_interval_ratio"] = compare(peer, theirs, repeats, min_sample, clock)["ratio"]
        rows.append(row)
    return rows


def vm(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field):
                return int(line.split()[1]) * 1024
    raise RuntimeError(field)


def peak_memory_worker(case: str, n: int, library: str) -> dict:
    """Growth of the peak resident set during one call of `case` by `library`."""
    import numpy as np

    ours, theirs, _ = make_case(case, n, np.random.default_rng(7))
    call = ours if library == "boundwise" else theirs
    # Hand the memory that setting up freed back to the system: a result that
    # reused it would grow the resident set by nothing.
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")  # resets the peak to the current resident size
    before = vm("VmRSS:")
    result = call()
    peak = vm("VmHWM:")
    del result
    return {"case": case, "size": n, "library": library, "extra_bytes": peak - before, "float64_result_bytes": 8 * n}


MEMORY_CASES = [*BROADCASTS, BROADCAST_IN_PLACE, *IN_PLACE, "a + b", "a + 2.0"]


def run_config(threads: str | None, quick: bool, clock_name: str) -> list[dict]:
    env = dict(os.environ)
    if threads is None:
        env.pop("RAYON_NUM_THREADS", None)
    else:
        env["RAYON_NUM_THREADS"] = threads
    rows = []
    for indices in groups(quick):
        args = [sys.executable, __file__, "--worker", ",".join(map(str, indices)), "--clock", clock_name]
        args += ["--quick"] if quick else []
        rows += json.loads(subprocess.run(args, env=env, check=True, capture_output=True, text=True).stdout)
    return rows


def peak_memory(quick: bool) -> list[dict]:
    sizes = dict(cases(quick))
    found = []
    for case in MEMORY_CASES:
        for library in ("boundwise", "numpy"):
            args = [sys.executable, __file__, "--memory", case, str(sizes[case]), library]
            found.append(json.loads(subprocess.run(args, check=True, capture_output=True, text=True).stdout))
    return found


def spread(row: dict) -> str:
    return f"[{row['ratio_q1']:.2f}-{row['ratio_q3']:.2f}]"


def print_report(figures: dict) -> None:
    meta = figures["meta"]
    print(f"boundwise {meta['version']}, {meta['processors']} processors, pool of {meta['pool_threads']} threads, "
          f"one-thread clock: {meta['clock']}")
    print("ratio = boundwise / NumPy float64 for the same operation and size: median of the interleaved "
          "repetitions [interquartile range]")
    header = (f"{'operation':<31} {'size':>9} | {'1 thread':>9} {'numpy':>9} {'ratio':>6} {'spread':>11} | "
              f"{'all':>9} {'ratio':>6} {'spread':>11} | {'scaling':>7}")
    print(header)
    print("-" * len(header))
    for one, many in zip(figures["single_thread"], figures["all_threads"]):
        scaling = one["boundwise_s"] / many["boundwise_s"]
        flag = "?" if scaling > meta["processors"] else " "
        print(f"{one['case']:<31} {one['size']:>9} | {format_time(one['boundwise_s']):>9} "
              f"{format_time(one['numpy_s']):>9} {one['ratio']:>6.2f} {spread(one):>11} | "
              f"{format_time(many['boundwise_s']):>9} {many['ratio']:>6.2f} {spread(many):>11} | "
              f"{scaling:>6.2f}x{flag}")
    print("(? marks a scaling above the processor count: noise)")
    print()
    print("peer: a + b as a verified enclosure written with NumPy alone (time / NumPy float64 a + b, one thread)")
    for row in figures["single_thread"]:
        if "numpy_interval_ratio" in row:
            print(f"  size {row['size']:>9}: numpy-interval {row['numpy_interval_ratio']:6.2f}   "
                  f"boundwise {row['ratio']:6.2f}")
    print()
    print("peak memory growth during one operation, in units of the float64 result (8 bytes per element)")
    memory = {(m["case"], m["library"]): m for m in figures["peak_memory"]}
    for case in dict.fromkeys(m["case"] for m in figures["peak_memory"]):
        ours, theirs = memory[(case, "boundwise")], memory[(case, "numpy")]
        unit = ours["float64_result_bytes"]
        print(f"  {case:<31} size {ours['size']:>9}: boundwise {ours['extra_bytes'] / unit:5.2f}   "
              f"numpy {theirs['extra_bytes'] / unit:5.2f}")


def print_comparison(old: dict, new: dict) -> None:
    """new/old for every row both runs have: the boundwise time and the ratio to NumPy
    (the ratio is the steadier figure when the two runs saw different machine load)."""
    print("new / old: boundwise time and ratio to NumPy (below 1: faster now)")
    header = f"{'operation':<31} {'size':>9} | {'1 thread':>8} {'ratio':>6} | {'all':>8} {'ratio':>6}"
    print(header)
    print("-" * len(header))
    rows = {}
    for config in ("single_thread", "all_threads"):
        before = {(r["case"], r["size"]): r for r in old[config]}
        for r in new[config]:
            if (r["case"], r["size"]) in before:
                b = before[(r["case"], r["size"])]
                rows.setdefault((r["case"], r["size"]), {})[config] = (r["boundwise_s"] / b["boundwise_s"],
                                                                       r["ratio"] / b["ratio"])
    for (case, size), got in rows.items():
        cells = [f"{got[c][0]:>8.2f} {got[c][1]:>6.2f}" if c in got else f"{'-':>8} {'-':>6}"
                 for c in ("single_thread", "all_threads")]
        print(f"{case:<31} {size:>9} | {cells[0]} | {cells[1]}")
    old_memory = {(m["case"], m["library"]): m for m in old.get("peak_memory", [])}
    for m in new.get("peak_memory", []):
        if m["library"] == "boundwise" and (m["case"], "boundwise") in old_memory:
            before = old_memory[(m["case"], "boundwise")]["extra_bytes"]
            print(f"  peak memory {m['case']:<31}: {before / 2**20:8.1f} MiB -> {m['extra_bytes'] / 2**20:8.1f} MiB")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--json", help="write all figures to this file")
    parser.add_argument("--quick", action="store_true", help="smaller sizes and fewer repetitions")
    parser.add_argument("--compare", nargs="+", metavar="JSON",
                        help="old.json: run and print new/old; old.json new.json: compare two saved runs")
    parser.add_argument("--clock", choices=sorted(CLOCKS), default="wall",
                        help="clock of the one-thread runs (cpu: process time, steadier on a loaded machine)")
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    parser.add_argument("--memory", nargs=3, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.worker:
        print(json.dumps(worker(options.quick, options.clock, [int(i) for i in options.worker.split(",")])))
        return
    if options.memory:
        case, n, library = options.memory
        print(json.dumps(peak_memory_worker(case, int(n), library)))
        return
    if options.compare and len(options.compare) == 2:
        with open(options.compare[0]) as old, open(options.compare[1]) as new:
            print_comparison(json.load(old), json.load(new))
        return

    import boundwise as bw

    figures = {
        "meta": {"version": bw.__version__, "processors": os.cpu_count(), "pool_threads": bw.num_threads(),
                 "clock": options.clock, "quick": options.quick, "machine": platform.processor() or platform.machine(),
                 "date": time.strftime("%Y-%m-%d %H:%M:%S")},
        "single_thread": run_config("1", options.quick, options.clock),
        # A process clock adds up every thread's time: the pooled runs are always timed by the wall clock.
        "all_threads": run_config(None, options.quick, "wall"),
        "peak_memory": peak_memory(options.quick),
    }
    print_report(figures)
    if options.json:
        with open(options.json, "w") as f:
            json.dump(figures, f, indent=1)
    if options.compare:
        with open(options.compare[0]) as old:
            print()
            print_comparison(json.load(old), figures)


if __name__ == "__main__":
    main()
