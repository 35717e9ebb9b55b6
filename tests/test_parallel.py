"""The worker pool: chunked parallel kernels equal sequential runs bit for bit,
pool sizing from the environment, concurrent submitters, fork and shutdown."""

from __future__ import annotations

import hashlib
import math
import multiprocessing
import operator
import os
import random
import select
import subprocess
import sys
import textwrap
import threading
import warnings
from fractions import Fraction

import pytest

import boundwise as bw
from conftest import DIVIDE_WARNING, INF, bits, encloses, exact_ends, exact_range, is_wide, snapshot

_CONSTANTS = bw._boundwise._parallel_constants()
THRESHOLD = _CONSTANTS["threshold"]
CHUNK = _CONSTANTS["arithmetic_chunk"]
SIZES = [THRESHOLD - 1, THRESHOLD, 40000, 12 * CHUNK + 1, 250001]
TIMEOUT = 120
OPS = {"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}


def run_python(code: str, env_updates: dict[str, str] | None = None, **kwargs) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter with the pool variables cleared, then updated."""
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(env_updates or {})
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                          timeout=TIMEOUT, **kwargs)


# Deterministic operands shared by this process and the subprocesses: ordinary
# values, rounding-prone decimals, huge and subnormal numbers, NaN and infinite radii.
OPERANDS = r"""
import math, random
import boundwise as bw

def operand(n, seed, divisor=False):
    rng = random.Random(seed)
    mids, rads = [], []
    for _ in range(n):
        k = rng.random()
        if k < 0.5:
            m = rng.uniform(-10.0, 10.0)
        elif k < 0.7:
            m = rng.randint(-1000, 1000) / 10
        elif k < 0.8:
            m = rng.choice([-1.0, 1.0]) * math.ldexp(rng.random(), rng.randint(-1074, 1023))
        elif k < 0.85:
            m = rng.choice([1e308, -1e308, 5e-324, 0.0, -0.0])
        else:
            m = rng.uniform(0.5, 2.0)
        r = rng.choice([0.0, 0.0, abs(m) * 1e-10, rng.random(), 1e-300])
        if not divisor and rng.random() < 0.01:
            m, r = rng.choice([(math.nan, 0.0), (1.0, math.inf), (math.inf, 0.0)])
        if divisor and not (m - r > 0 or m + r < 0):
            m, r = 1.5, 0.25
        mids.append(m)
        rads.append(r)
    return bw.from_raw_parts(mids, rads, [n])

def digest(arrays):
    import hashlib, struct
    h = hashlib.sha256()
    for a in arrays:
        mids, rads = a.values(), a.radii()
        h.update(struct.pack(f"<{len(mids)}d", *mids))
        h.update(struct.pack(f"<{len(rads)}d", *rads))
    return h.hexdigest()

def families(n):
    a, b, d = operand(n, 1), operand(n, 2), operand(n, 3, divisor=True)
    one, exact_one = operand(1, 4, divisor=True), operand(1, 5)
    return [a + b, a - b, a * b, a / d, a + one, one - a, a * one, a / one, a * exact_one,
            a + 0.1, 0.3 - a, a * 3.0, a / 3.0, 7.0 / d, -a]
"""
SHARED: dict = {}
exec(OPERANDS, SHARED)
operand = SHARED["operand"]


def digests_in_subprocess(sizes: list[int], threads: str) -> list[str]:
    done = run_python(OPERANDS + f"\nfor n in {sizes!r}:\n    print(digest(families(n)))\n",
                      {"RAYON_NUM_THREADS": threads})
    assert done.returncode == 0, done.stderr
    return done.stdout.split()


def test_parallel_results_equal_sequential_bit_for_bit():
    sequential = digests_in_subprocess(SIZES, "1")
    assert len(sequential) == len(SIZES)
    assert [SHARED["digest"](SHARED["families"](n)) for n in SIZES] == sequential
    assert digests_in_subprocess(SIZES, "4") == sequential


def test_chunked_results_enclose_exact_results():
    # Spot checks across chunk boundaries of a parallel run against the exact oracle.
    n = 40000
    a, b, d = operand(n, 1), operand(n, 2), operand(n, 3, True)
    xs = list(zip(a.values(), a.radii()))
    ys = {"b": list(zip(b.values(), b.radii())), "d": list(zip(d.values(), d.radii()))}
    picks = [0, 1, CHUNK - 1, CHUNK, CHUNK + 1, 4 * CHUNK - 1, 4 * CHUNK, n - 2, n - 1]
    picks += random.Random(9).sample(range(n), 200)
    for op, result in {"+": a + b, "-": a - b, "*": a * b, "/": a / d}.items():
        mids, rads = result.values(), result.radii()
        for i in picks:
            x, y = xs[i], ys["d" if op == "/" else "b"][i]
            if not all(math.isfinite(v) for v in (*x, *y)):
                assert is_wide(mids[i], rads[i])
                continue
            assert encloses(mids[i], rads[i], *exact_range(op, exact_ends(*x), exact_ends(*y))), (op, i)


@pytest.mark.parametrize("n", [0, 1, 2, 3, 4, 5, 7, 8, 9, CHUNK - 1, CHUNK + 1, THRESHOLD - 1, THRESHOLD + 1])
def test_vector_and_chunk_boundaries_match_one_element_at_a_time(n):
    # A one-element operation runs only the scalar remainder loop, the
    # reference for the vector lanes and for every chunk of a parallel run.
    a, b, d = operand(n, 21), operand(n, 22), operand(n, 23, True)
    xs = list(zip(a.values(), a.radii()))
    step = max(1, n // 600)  # every element of small arrays, a sample across large ones
    indices = sorted(set(range(0, n, step)) | {i for i in (0, n - 1, CHUNK - 1, CHUNK) if 0 <= i < n})
    for op, y in (("+", b), ("-", b), ("*", b), ("/", d)):
        whole, ys = OPS[op](a, y), list(zip(y.values(), y.radii()))
        mids, rads = whole.values(), whole.radii()
        assert len(mids) == n
        for i in indices:
            single = OPS[op](*(bw.from_raw_parts([m], [r], [1]) for m, r in (xs[i], ys[i])))
            assert bits([*single.values(), *single.radii()]) == bits([mids[i], rads[i]]), (op, n, i)


def test_baseline_kernels_equal_the_default_path_bit_for_bit():
    # BOUNDWISE_DISABLE_CPU_FEATURES forces the baseline kernels even where
    # AVX2 is available; sizes cover the vector tails and a chunked run.
    sizes = [0, 1, 3, 4, 5, 9, CHUNK + 1, THRESHOLD + 1]
    code = OPERANDS + f"\nfor n in {sizes!r}:\n    print(digest(families(n)))\n"
    runs = [run_python(code, {"BOUNDWISE_DISABLE_CPU_FEATURES": disabled}) for disabled in ("", "AVX2", "sse3, fma")]
    assert [run.returncode for run in runs] == [0, 0, 0], [run.stderr for run in runs]
    default = runs[0].stdout.split()
    assert len(default) == len(sizes)
    assert [run.stdout.split() for run in runs[1:]] == [default, default]


# ---------------------------------------------------------------------------
# Pool size from the environment
# ---------------------------------------------------------------------------


def num_threads_with(env: dict[str, str], **kwargs) -> int:
    done = run_python("import boundwise as bw; print(bw.num_threads())", env, **kwargs)
    assert done.returncode == 0, done.stderr
    return int(done.stdout)


CPUS = len(os.sched_getaffinity(0))


@pytest.mark.parametrize(
    "env, expected",
    [({"RAYON_NUM_THREADS": "3"}, 3), ({"RAYON_NUM_THREADS": "1"}, 1), ({"RAYON_NUM_THREADS": "7"}, 7),
     ({"RAYON_NUM_THREADS": "+2"}, 2), ({"RAYON_NUM_THREADS": "3", "RAYON_RS_NUM_CPUS": "5"}, 3), ({}, CPUS)]
    + [(env, expected) for invalid in ["0", "-1", "abc", "", "2.5", " 3"] for env, expected in [
        ({"RAYON_NUM_THREADS": invalid, "RAYON_RS_NUM_CPUS": "5"}, 5), ({"RAYON_NUM_THREADS": invalid}, CPUS),
        ({"RAYON_NUM_THREADS": invalid, "RAYON_RS_NUM_CPUS": invalid}, CPUS)]],
)
def test_pool_size_from_the_environment(env, expected):
    # Invalid values fall back to the next source: RAYON_RS_NUM_CPUS, then the processors available.
    assert num_threads_with(env) == expected


@pytest.mark.skipif(CPUS < 2, reason="needs two processors to restrict")
def test_default_size_respects_cpu_affinity():
    cpu = min(os.sched_getaffinity(0))
    assert num_threads_with({}, preexec_fn=lambda: os.sched_setaffinity(0, {cpu})) == 1


def test_pool_size_is_fixed_at_creation():
    code = """
    import os, boundwise as bw
    first = bw.num_threads()
    os.environ["RAYON_NUM_THREADS"] = str(first + 5)
    print(first, bw.num_threads())
    """
    done = run_python(code, {"RAYON_NUM_THREADS": "2"})
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["2", "2"]


# ---------------------------------------------------------------------------
# Concurrent submitters, fork, shutdown
# ---------------------------------------------------------------------------


def reference_operands(n: int):
    return operand(n, 11), operand(n, 12), operand(n, 13, True)


def test_threads_computing_on_shared_arrays_get_correct_results():
    a, b, d = reference_operands(70000)
    expected = [snapshot(r) for r in (a + b, a - b, a * b, a / d)]
    failures: list[str] = []
    barrier = threading.Barrier(6)

    def work(k: int) -> None:
        barrier.wait()
        for rep in range(3):
            for name, result, want in zip("+-*/", [a + b, a - b, a * b, a / d], expected):
                if snapshot(result) != want:
                    failures.append(f"thread {k} rep {rep} op {name}")

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(TIMEOUT)
    assert not any(t.is_alive() for t in threads), "a submitter did not finish"
    assert not failures
    assert [snapshot(r) for r in (a + b, a - b, a * b, a / d)] == expected


def _child_digest(n: int) -> str:
    a, b, d = reference_operands(n)
    return hashlib.sha256(repr([snapshot(r) for r in (a + b, a * b, a / d)]).encode()).hexdigest()


def test_forked_child_computes_with_a_fresh_pool():
    n = 50000
    expected = _child_digest(n)  # the parent's pool is running before the fork
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads alive
        with multiprocessing.get_context("fork").Pool(1) as pool:
            assert pool.apply_async(_child_digest, (n,)).get(timeout=TIMEOUT) == expected
    assert _child_digest(n) == expected


def test_os_fork_child_does_not_hang():
    a, b, _ = reference_operands(50000)
    expected = snapshot(a + b)
    read_end, write_end = os.pipe()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        pid = os.fork()
    if pid == 0:  # child: use the pool, report, leave without cleanup
        try:
            os.close(read_end)
            ok = snapshot(a + b) == expected and bw.num_threads() >= 1
            os.write(write_end, b"ok" if ok else b"bad")
        finally:
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        ready, _, _ = select.select([pipe], [], [], TIMEOUT)
        message = pipe.read() if ready else b""
    if not ready:
        os.kill(pid, 9)
    os.waitpid(pid, 0)
    assert message == b"ok"


def test_interpreter_exits_cleanly_with_pool_alive():
    code = OPERANDS + "\nc = operand(100000, 1) * operand(100000, 2)\nprint(bw.num_threads(), len(c.values()))\n"
    done = run_python(code, {"RAYON_NUM_THREADS": "3"})
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["3", "100000"] and done.stderr == ""


FINALIZE_DURING_CALLS = """
import threading, time
import boundwise._boundwise as bw

class Slow:
    # Sleeping releases the interpreter lock; taking it back while the
    # interpreter finalises ends the thread.
    def __float__(self):
        time.sleep(0.001)
        return 2.0

small, large = bw.ones(1000), bw.ones(100000)
calls = [
    lambda: small + Slow(),
    lambda: bw.ones(3).__iadd__(Slow()),
    lambda: bw.array([1.0, Slow()]),
    lambda: bw.zeros(1).__setstate__(([1], [Slow()], [0.0])),
    lambda: small + small,  # sequential, lock released
    lambda: large * large,  # on the pool, lock released
]
running = []
def loop(call):
    while True:
        call()
        if call not in running:
            running.append(call)
for call in calls:
    threading.Thread(target=loop, args=(call,), daemon=True).start()
while len(running) < len(calls):
    time.sleep(0.001)
print("exiting", bw.num_threads())
"""


def test_daemon_threads_inside_calls_do_not_abort_the_exit():
    # Each daemon thread is inside a boundwise call, running Python code or
    # computing with the lock released, when the interpreter finalises.
    for _ in range(3):
        done = run_python(FINALIZE_DURING_CALLS, {"RAYON_NUM_THREADS": "3"})
        assert done.returncode == 0, done.stderr
        assert (done.stdout, done.stderr) == ("exiting 3\n", "")


def test_slow_path_division_of_many_elements_warns_once():
    n = 100000
    a = bw.from_raw_parts([float(i % 7 + 1) for i in range(n)], [0.0] * n, [n])
    divisors = [2.0] * n
    divisors[n // 2] = 0.0
    b = bw.from_raw_parts(divisors, [0.5] * n, [n])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        q = a / b
    assert [(w.category, str(w.message)) for w in caught] == [(RuntimeWarning, DIVIDE_WARNING)]
    mids, rads = q.values(), q.radii()
    assert math.isnan(mids[n // 2]) and rads[n // 2] == INF
    for i in (0, 1, CHUNK, n // 2 - 1, n // 2 + 1, n - 1):
        x = Fraction(i % 7 + 1)
        assert encloses(mids[i], rads[i], x / Fraction(5, 2), x / Fraction(3, 2)) and not is_wide(mids[i], rads[i])
