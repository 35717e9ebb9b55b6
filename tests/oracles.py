"""Exact oracles, adversarial hypothesis strategies, conformance cases and small
assertions shared by the test files (``from oracles import ...``)."""

from __future__ import annotations

import json
import math
import os
import operator
import re
import struct
import subprocess
import sys
import textwrap
import threading
import warnings
from fractions import Fraction
from pathlib import Path

import pytest
from hypothesis import strategies as st

import boundwise as bw

REPO = Path(__file__).resolve().parent.parent
DATA = Path(__file__).resolve().parent / "data"

DBL_MAX = 1.7976931348623157e308
ETA = 5e-324  # the smallest positive subnormal
INF = math.inf
NAN = math.nan
NAN_PAYLOAD = struct.unpack("<d", bytes.fromhex("0100000000f8ffff"))[0]  # negative NaN with a payload
DIVIDE_WARNING = "divide by zero encountered in interval division; returning the entire real line"
AMBIGUOUS = "The truth value of an array with more than one element is ambiguous. Use a.any() or a.all()"
DIM_CAP = r"^maximum supported dimension for an array is 64, found \d+$"

# True under tools/sanitize.sh: AddressSanitizer reserves terabytes of address
# space and keeps freed memory in quarantine, so address-space limits and
# resident-memory figures mean nothing there.
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")

OPS = {"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}
IN_PLACE = {"+": operator.iadd, "-": operator.isub, "*": operator.imul, "/": operator.itruediv}


def bits(values) -> list[int]:
    """IEEE bit patterns of doubles (distinguishes -0.0 and NaN payloads)."""
    return [struct.unpack("<Q", struct.pack("<d", x))[0] for x in values]


def snapshot(a):
    return a.shape, bits(a.values()), bits(a.radii())


def only(a) -> tuple[float, float]:
    (m,), (r,) = a.values(), a.radii()
    return m, r


def pairs(a) -> list[tuple[float, float]]:
    return list(zip(a.values(), a.radii()))


def from_pairs(elements, shape=None):
    """The array holding exactly these (midpoint, radius) pairs."""
    return bw.from_raw_parts([m for m, _ in elements], [r for _, r in elements],
                             list(shape) if shape is not None else [len(elements)])


def ulp(x: float) -> float:
    return math.ulp(abs(x)) if math.isfinite(x) else INF


def raises(exception, message, call):
    """call() raises exactly `exception` with exactly `message`."""
    with pytest.raises(exception) as info:
        call()
    assert type(info.value) is exception
    assert str(info.value) == message
    return info.value


def assert_cause(error: BaseException) -> None:
    """A conversion error wrapped as "argument 'name': inner" keeps the inner
    TypeError as its cause; every other error has no cause."""
    wrapped = re.fullmatch(r"argument '\w+': (.*)", str(error), re.S)
    if wrapped:
        assert type(error.__cause__) is TypeError and str(error.__cause__) == wrapped.group(1)
    else:
        assert error.__cause__ is None


def warned(call, category=RuntimeWarning):
    """The result of call() and the warnings of `category` it issued."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    return result, [w for w in caught if w.category is category]


def quietly(fn, *args):
    """fn(*args) with the division warning silenced: for tests of values only."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        return fn(*args)


class Raising:
    """A number whose conversion (__float__ and __index__) raises the given exception."""

    def __init__(self, exception):
        self.exception = exception

    def __float__(self):
        raise self.exception

    __index__ = __float__


class Number:
    """A number only through __float__, optionally with a side effect of the conversion."""

    def __init__(self, value, on_convert=None):
        self.value, self.on_convert = value, on_convert

    def __float__(self):
        if self.on_convert:
            self.on_convert()
        return self.value


def run_python(code: str, env_updates: dict[str, str] | None = None, **kwargs) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter with the pool variables cleared, then updated."""
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(env_updates or {})
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                          timeout=120, **kwargs)


def lock_progress(work) -> int:
    """Iterations this thread makes while another thread runs work(phase) between
    its two markers phase[0] = 1 and phase[0] = 2: 0 unless the work releases the
    interpreter lock. A long switch interval keeps the interpreter from handing
    the lock over at the check that follows a call (a 0.2 s call holding the lock
    read as released under the default 5 ms)."""
    phase, count = [0], 0
    saved = sys.getswitchinterval()
    sys.setswitchinterval(0.5)
    try:
        thread = threading.Thread(target=work, args=(phase,))
        thread.start()
        while phase[0] != 2:
            if phase[0] == 1:
                count += 1
        thread.join()
    finally:
        sys.setswitchinterval(saved)
    return count


def releases_lock(fn, *args) -> bool:
    """Whether fn(*args) lets this thread run; a busy machine may leave it
    unscheduled through one call, not through five."""
    def work(phase):
        phase[0] = 1
        fn(*args)
        phase[0] = 2

    return any(lock_progress(work) > 0 for _ in range(5))


# Exact oracles for interval results


def is_wide(mid: float, rad: float) -> bool:
    """A result that claims nothing: a NaN midpoint or an infinite radius."""
    return math.isnan(mid) or rad == INF


def exact_ends(mid: float, rad: float) -> tuple[Fraction, Fraction] | None:
    """The exact interval [mid - rad, mid + rad], or None unless both are finite."""
    if not (math.isfinite(mid) and math.isfinite(rad)):
        return None
    m, r = Fraction(mid), Fraction(rad)
    return m - r, m + r


def encloses(mid: float, rad: float, lo: Fraction, hi: Fraction) -> bool:
    """Whether (mid, rad) contains [lo, hi]. A wide element contains everything;
    a NaN radius or an infinite midpoint with a finite radius contains nothing."""
    if is_wide(mid, rad):
        return True
    ends = exact_ends(mid, rad)
    return ends is not None and ends[0] <= lo and hi <= ends[1]


def exact_range(op: str, a, b) -> tuple[Fraction, Fraction] | None:
    """The exact range of a op b over two bounded intervals; None for a divisor containing 0."""
    (alo, ahi), (blo, bhi) = a, b
    if op == "+":
        return alo + blo, ahi + bhi
    if op == "-":
        return alo - bhi, ahi - blo
    if op == "/" and blo <= 0 <= bhi:
        return None
    f = operator.mul if op == "*" else operator.truediv
    corners = [f(p, q) for p in (alo, ahi) for q in (blo, bhi)]
    return min(corners), max(corners)


def mp_bounds(f, *args: float, prec: int = 256) -> tuple[Fraction, Fraction] | None:
    """Rigorous rational bounds on f(*args) from mpmath's interval context, where
    f takes and returns mpmath intervals (e.g. ``lambda x: iv.exp(x)``); None when
    a bound is not finite."""
    from mpmath import iv, libmp

    saved, iv.prec = iv.prec, prec
    try:
        value = f(*(iv.mpf(x) for x in args))
    finally:
        iv.prec = saved
    ends = []
    for end in value._mpi_:
        if end in (libmp.finf, libmp.fninf, libmp.fnan):
            return None
        ends.append(Fraction(*libmp.to_rational(end)))
    return ends[0], ends[1]


# Exact rational linear algebra (lists of rows of Fractions)


def exact_inverse_times(a, b):
    """a^-1 b for square Fraction a and Fraction b (n x c), by Gauss-Jordan; None when a is singular."""
    n = len(a)
    m = [list(a[i]) + list(b[i]) for i in range(n)]
    for k in range(n):
        p = next((i for i in range(k, n) if m[i][k] != 0), None)
        if p is None:
            return None
        m[k], m[p] = m[p], m[k]
        pivot = m[k][k]
        m[k] = [x / pivot for x in m[k]]
        for i in range(n):
            if i != k and m[i][k] != 0:
                f = m[i][k]
                m[i] = [x - f * y for x, y in zip(m[i], m[k])]
    return [row[n:] for row in m]


def exact_matmul(a, b):
    return [[sum(x * y for x, y in zip(row, col)) for col in zip(*b)] for row in a]


def exact_identity(n):
    return [[Fraction(int(i == j)) for j in range(n)] for i in range(n)]


def tightest_element(lo: float, hi: float) -> tuple[float, float]:
    """The midpoint-radius element of least radius enclosing [lo, hi]; the entire
    line is (NaN, +inf); a half-bounded interval raises ValueError."""
    if lo == -INF and hi == INF:
        return math.nan, INF
    if not (math.isfinite(lo) and math.isfinite(hi)):
        raise ValueError("half-bounded interval")
    if lo == hi:
        return lo, 0.0
    mid = min(max(float((Fraction(lo) + Fraction(hi)) / 2), lo), hi)
    need = max(Fraction(hi) - Fraction(mid), Fraction(mid) - Fraction(lo))
    rad = float(need)
    if Fraction(rad) < need:
        rad = math.nextafter(rad, INF)
    return mid, rad


# Hypothesis strategies: adversarial doubles and intervals

# Values whose sums, products and quotients round, overflow or underflow.
SPECIAL_VALUES = [
    0.0, -0.0, 1.0, -1.0, 0.1, 0.2, 0.3, 1.0 / 3.0, 3.0, 10.0, 0.5,
    1.0 + 2.0**-52, 1.0 - 2.0**-53, 2.0**53, 2.0**53 + 2.0, 1e16,
    1e308, -1e308, DBL_MAX, -DBL_MAX, DBL_MAX / 2, 8.98846567431158e307,
    1e-300, 1e-200, 2.0**-537, 2.0**-1022, 2.0**-1022 - ETA, ETA, -ETA, 3 * ETA,
]


def finite_doubles() -> st.SearchStrategy[float]:
    """Finite doubles of every scale, with huge, tiny, subnormal and rounding-prone values."""
    scaled = st.builds(
        lambda mant, exp, neg: (-1.0 if neg else 1.0) * math.ldexp(mant, exp),
        st.floats(0.5, 1.0, exclude_max=True), st.integers(-1074, 1024), st.booleans(),
    ).filter(math.isfinite)
    subnormal = st.builds(lambda k, neg: (-1 if neg else 1) * k * ETA, st.integers(1, 2**52 - 1), st.booleans())
    decimal = st.builds(lambda k: k / 10, st.integers(-10**6, 10**6))
    return st.one_of(st.sampled_from(SPECIAL_VALUES), st.floats(allow_nan=False, allow_infinity=False),
                     scaled, subnormal, decimal)


def radii_for(mid: float) -> st.SearchStrategy[float]:
    """Non-negative finite radii: zero-width, relative to the midpoint, tiny or arbitrary."""
    relative = st.integers(0, 60).map(lambda k: abs(mid) * 2.0**-k if math.isfinite(mid) else 0.0)
    return st.one_of(st.just(0.0), relative, st.sampled_from([ETA, 2.0**-1022, 1e-300, 0.5, 1.0, 1e300]),
                     finite_doubles().map(abs))


def finite_intervals() -> st.SearchStrategy[tuple[float, float]]:
    return finite_doubles().flatmap(lambda m: st.tuples(st.just(m), radii_for(m)))


def intervals() -> st.SearchStrategy[tuple[float, float]]:
    """Finite intervals, mostly, plus NaN midpoints, infinite radii and infinite points."""
    odd = st.sampled_from([(math.nan, 0.0), (math.nan, INF), (1.0, INF), (0.0, INF), (INF, 0.0), (-INF, 0.0)])
    return st.one_of(finite_intervals(), finite_intervals(), finite_intervals(), odd)


# ITF1788 conformance cases: the bundled Apache-2.0 part and the LGPL rest

APACHE_SOURCE = "libieeep1788_elem.itl"
CONFORMANCE_FILES = {"apache": DATA / "itf1788_apache.jsonl",
                     "lgpl": REPO.parent / "shared" / "conformance" / "itf1788.jsonl"}
CONFORMANCE_PARTS = list(CONFORMANCE_FILES)


def read_conformance(part: str, ops) -> list[dict]:
    """Cases of the given operations from one part, bounds as floats ("inf" is
    spelled as a string in the files); the LGPL part holds the cases whose source
    is not the Apache one, and is empty when its file is absent."""
    path, cases = CONFORMANCE_FILES[part], []
    if not path.is_file():
        return cases
    with path.open(encoding="utf-8") as f:
        for line in f:
            case = json.loads(line)
            if case["op"] not in ops or (part == "lgpl") != (case["source"] != APACHE_SOURCE):
                continue
            case["args"] = [[float(a[0]), float(a[1])] if isinstance(a, list) else a for a in case["args"]]
            if case["expected"] != "empty":
                case["expected"] = [float(case["expected"][0]), float(case["expected"][1])]
            cases.append(case)
    return cases


def conformance_cases(op: str, part: str) -> list[dict]:
    """The cases of one operation from one part, for a test parametrised over
    CONFORMANCE_PARTS; skips with the reason when the LGPL file is absent."""
    if not CONFORMANCE_FILES[part].is_file():
        pytest.skip(f"the LGPL conformance cases are not at {CONFORMANCE_FILES[part]}")
    return read_conformance(part, {op})
