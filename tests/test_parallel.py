"""Parallel execution: chunked kernels equal sequential runs bit for bit, pool
sizing from the environment, concurrent submitters, the interpreter lock, fork
and shutdown."""

from __future__ import annotations

import hashlib
import math
import multiprocessing
import operator
import os
import random
import select
import struct
import threading
import warnings
from pathlib import Path

import pytest

import boundwise as bw
from oracles import (OPS, bits, encloses, exact_ends, exact_range, is_wide, lock_progress, quietly, releases_lock,
                     run_python, snapshot)

_CONSTANTS = bw._boundwise._parallel_constants()
THRESHOLD = _CONSTANTS["threshold"]
CHUNK = _CONSTANTS["arithmetic_chunk"]
SIZES = [THRESHOLD - 1, THRESHOLD, 40000, 12 * CHUNK + 1, 250001]
TIMEOUT = 120
CPUS = len(os.sched_getaffinity(0))
TESTS = str(Path(__file__).resolve().parent)


MIDPOINTS = (lambda rng: rng.uniform(-10.0, 10.0), lambda rng: rng.randint(-1000, 1000) / 10,
             lambda rng: rng.uniform(0.5, 2.0), lambda rng: math.ldexp(rng.uniform(-1, 1), rng.randint(-1074, 1023)),
             lambda rng: rng.choice([1e308, -1e308, 5e-324, 0.0, -0.0]))


def operand(n: int, seed: int, divisor: bool = False):
    """Deterministic operands: ordinary values, rounding-prone decimals, huge and
    subnormal numbers, NaN and infinite radii; divisors exclude zero."""
    rng, mids, rads = random.Random(seed), [], []
    for _ in range(n):
        m = rng.choice(MIDPOINTS)(rng)
        r = rng.choice([0.0, 0.0, abs(m) * 1e-10, rng.random(), 1e-300])
        if not divisor and rng.random() < 0.01:
            m, r = rng.choice([(math.nan, 0.0), (1.0, math.inf), (math.inf, 0.0)])
        if divisor and not (m - r > 0 or m + r < 0):
            m, r = 1.5, 0.25
        mids.append(m)
        rads.append(r)
    return bw.from_raw_parts(mids, rads, [n])


def digest(arrays) -> str:
    h = hashlib.sha256()
    for a in arrays:
        h.update(struct.pack(f"<{2 * a.size}d", *a.values(), *a.radii()))
    return h.hexdigest()


def with_zero(d, i: int):
    """d with its element i (if any) made to contain zero: the endpoint path of division."""
    mids = d.values()
    mids[i:i + 1] = [0.0] if mids else []
    return bw.from_raw_parts(mids, d.radii(), [d.size])


def families(n: int) -> list:
    """Every kernel path: array with array, with a one-element array, with a number, reflected, negated,
    divided by a divisor holding zero in the middle or last chunk, broadcast in long rows and in short ones,
    and in place (the target's own buffer, or itself)."""
    a, b, d = operand(n, 1), operand(n, 2), operand(n, 3, divisor=True)
    one, exact_one = operand(1, 4, divisor=True), operand(1, 5)
    column, row = operand(3, 6).reshape([3, 1]), operand(3, 7)
    in_place = [operand(n, 1) for _ in range(5)] + [operand(3 * n, 8).reshape([3, n])]
    in_place[0] += b
    in_place[1] *= 0.1
    in_place[2] *= in_place[2]
    in_place[3] /= d
    in_place[4] -= in_place[4]
    in_place[5] /= d
    return [a + b, a - b, a * b, a / d, a + one, one - a, a * one, a / one, a * exact_one,
            a + 0.1, 0.3 - a, a * 3.0, a / 3.0, 7.0 / d, -a,
            quietly(operator.truediv, a, with_zero(d, n // 2)), quietly(operator.truediv, a, with_zero(d, n - 1)),
            column + a, a * column, a.reshape([n, 1]) - row, row / d.reshape([n, 1]), *in_place]


def digests_in_subprocess(sizes: list[int], threads: str, disabled_features: str = "") -> list[str]:
    code = f"import sys; sys.path.insert(0, {TESTS!r})\nfrom test_parallel import digest, families\n"
    env = {"RAYON_NUM_THREADS": threads, "BOUNDWISE_DISABLE_CPU_FEATURES": disabled_features}
    done = run_python(code + f"for n in {sizes!r}:\n    print(digest(families(n)))\n", env)
    assert done.returncode == 0, done.stderr
    return done.stdout.split()


def test_parallel_results_equal_sequential_bit_for_bit():
    sequential = digests_in_subprocess(SIZES, "1")
    assert len(sequential) == len(SIZES)
    assert [digest(families(n)) for n in SIZES] == sequential
    assert digests_in_subprocess(SIZES, "4") == sequential


def test_every_target_equals_the_default_path_bit_for_bit():
    # BOUNDWISE_DISABLE_CPU_FEATURES narrows the kernels to AVX2 or to the
    # baseline wherever wider ones are available; sizes cover the vector tails
    # of four and eight lanes and a chunked run.
    sizes = [0, 1, 3, 4, 5, 7, 8, 9, 17, CHUNK + 1, THRESHOLD + 1]
    default = [digest(families(n)) for n in sizes]
    assert digests_in_subprocess(sizes, "2", "AVX2") == default
    assert digests_in_subprocess(sizes, "1", "sse3, fma") == default
    assert digests_in_subprocess(sizes, "2", "avx512f") == default


@pytest.mark.parametrize("n", [0, 1, 2, 3, 4, 5, 7, 8, 9, CHUNK - 1, CHUNK + 1, THRESHOLD - 1, THRESHOLD + 1, 40000])
def test_vector_and_chunk_boundaries_match_one_element_at_a_time(n):
    # A one-element operation runs only the scalar remainder loop, the reference
    # for the vector lanes and every chunk of a parallel run; each element also
    # encloses the exact result.
    a, b, d = operand(n, 21), operand(n, 22), operand(n, 23, True)
    xs = list(zip(a.values(), a.radii()))
    indices = set(range(0, n, max(1, n // 300))) | set(random.Random(n).sample(range(n), min(n, 100)))
    indices |= {i for k in (1, 4) for i in (k * CHUNK - 1, k * CHUNK, k * CHUNK + 1, n - 2, n - 1) if 0 <= i < n}
    for op, y in (("+", b), ("-", b), ("*", b), ("/", d)):
        whole, ys = OPS[op](a, y), list(zip(y.values(), y.radii()))
        mids, rads = whole.values(), whole.radii()
        assert len(mids) == n
        for i in sorted(indices):
            single = OPS[op](*(bw.from_raw_parts([m], [r], [1]) for m, r in (xs[i], ys[i])))
            assert bits([*single.values(), *single.radii()]) == bits([mids[i], rads[i]]), (op, n, i)
            ex, ey = exact_ends(*xs[i]), exact_ends(*ys[i])
            if ex is None or ey is None:
                assert is_wide(mids[i], rads[i])
            else:
                assert encloses(mids[i], rads[i], *exact_range(op, ex, ey)), (op, n, i)


def num_threads_with(env: dict[str, str], **kwargs) -> int:
    done = run_python("import boundwise as bw; print(bw.num_threads())", env, **kwargs)
    assert done.returncode == 0, done.stderr
    return int(done.stdout)


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


class TestThreads:
    N = 1 << 21

    def test_threads_computing_on_shared_arrays_get_correct_results(self):
        a, b, d = operand(70000, 11), operand(70000, 12), operand(70000, 13, True)
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

    def test_concurrent_readers_see_whole_states(self):
        a = bw.zeros(100_000)
        stop = threading.Event()
        torn, reads = [], [0]

        def reader():
            while not stop.is_set():
                values = set((a + 0.0).values())  # copies the storage handle, computes unlocked, drops it
                reads[0] += 1
                if len(values) != 1:
                    torn.append(values)

        threads = [threading.Thread(target=reader) for _ in range(2)]
        for t in threads:
            t.start()
        for _ in range(40):
            a += 1.0
        stop.set()
        for t in threads:
            t.join()
        assert not torn and set(a.values()) == {40.0} and reads[0] > 0

    @pytest.mark.parametrize(
        "left, right, op",
        [(lambda n: bw.ones(n), lambda n: bw.full(n, (2.0, 0.5)), "+"), (lambda n: bw.ones(n), lambda n: 3.0, "*"),
         (lambda n: 2.0, lambda n: bw.full(n, (4.0, 1.0)), "/")],
        ids=["array-plus-array", "array-times-number", "number-over-array"],
    )
    def test_binary_operators_release_the_interpreter_lock(self, left, right, op):
        assert releases_lock(OPS[op], left(self.N), right(self.N))

    def test_inplace_operator_keeps_the_interpreter_lock(self):
        # The same measure on an operation that holds the lock reads 0.
        a, b = bw.ones(self.N), bw.ones(self.N)

        def work(phase):
            nonlocal a
            phase[0] = 1
            a += b
            phase[0] = 2

        assert lock_progress(work) == 0
        assert a.values()[:2] == [2.0, 2.0]


def products(seed: int) -> str:
    """Pool work and BLAS work: the digest of element-wise and matrix products."""
    a, b, d = operand(50000, seed), operand(50000, seed + 1), operand(50000, seed + 2, True)
    m = operand(96 * 96, seed + 3).reshape(96, 96)
    return digest([a + b, a * b, a / d, (m @ m).flatten()])


@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_multiprocessing_workers_compute_what_the_parent_does(method):
    expected = [products(seed) for seed in (1, 7)]  # pool and BLAS in use before the workers start
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads alive
        with multiprocessing.get_context(method).Pool(2) as pool:
            assert pool.map(products, [1, 7], chunksize=1) == expected
    assert [products(seed) for seed in (1, 7)] == expected


def test_forked_child_computes_with_a_fresh_pool():
    expected = products(11)  # the parent's pool and BLAS are running before the fork
    read_end, write_end = os.pipe()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads alive
        pid = os.fork()
    if pid == 0:  # child: use the pool, report, leave without cleanup
        try:
            os.close(read_end)
            ok = products(11) == expected and bw.num_threads() >= 1
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
    assert message == b"ok" and products(11) == expected


FINALIZE_DURING_CALLS = """
import threading, time
import boundwise._boundwise as bw

class Slow:
    # Sleeping releases the interpreter lock; taking it back while the
    # interpreter finalises ends the thread.
    def __float__(self):
        time.sleep(0.001)
        return 2.0

small, medium, large, square = bw.ones(1000), bw.ones(8192), bw.ones(100000), bw.ones((600, 600))
calls = [
    lambda: small + Slow(),
    lambda: bw.ones(3).__iadd__(Slow()),
    lambda: bw.array([1.0, Slow()]),
    lambda: bw.zeros(1).__setstate__(([1], [Slow()], [0.0])),
    lambda: medium + medium,  # sequential, lock released
    lambda: large * large,  # on the pool, lock released
    lambda: square @ square,  # BLAS on the pool, lock released: in a product at exit
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
print("exiting", bw.num_threads(), len((large * large).values()))
"""


def test_interpreter_exits_cleanly_with_the_pool_alive_and_daemon_threads_inside_calls():
    # Each daemon thread is inside a boundwise call, running Python code or
    # computing with the lock released, when the interpreter finalises.
    for _ in range(3):
        done = run_python(FINALIZE_DURING_CALLS, {"RAYON_NUM_THREADS": "3"})
        assert done.returncode == 0, done.stderr
        assert (done.stdout, done.stderr) == ("exiting 3 100000\n", "")
