"""Shared test helpers.

Tests import the plain helpers below with ``from conftest import ...``; fixtures
are collected by pytest as usual.
"""

from __future__ import annotations

import json
import math
import struct
from collections.abc import Iterator
from fractions import Fraction
from pathlib import Path

from hypothesis import strategies as st

REPO = Path(__file__).resolve().parent.parent
DATA = Path(__file__).resolve().parent / "data"

DBL_MAX = 1.7976931348623157e308
ETA = 5e-324  # the smallest positive subnormal
INF = math.inf


# ---------------------------------------------------------------------------
# Exact oracles for interval results
# ---------------------------------------------------------------------------


def bits(x: float) -> int:
    """The IEEE bit pattern of a double (distinguishes -0.0 and NaN payloads)."""
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def is_wide(mid: float, rad: float) -> bool:
    """A result that claims nothing: a NaN midpoint or an infinite radius."""
    return math.isnan(mid) or rad == INF


def exact_ends(mid: float, rad: float) -> tuple[Fraction, Fraction] | None:
    """The exact interval [mid - rad, mid + rad], or None unless both are finite numbers."""
    if not (math.isfinite(mid) and math.isfinite(rad)):
        return None
    m, r = Fraction(mid), Fraction(rad)
    return m - r, m + r


def encloses(mid: float, rad: float, lo: Fraction, hi: Fraction) -> bool:
    """Whether the stored element (mid, rad) contains the exact range [lo, hi].

    A wide element (NaN midpoint or infinite radius) contains everything; a NaN
    radius or an infinite midpoint with a finite radius contains nothing.
    """
    if is_wide(mid, rad):
        return True
    ends = exact_ends(mid, rad)
    return ends is not None and ends[0] <= lo and hi <= ends[1]


def exact_range(
    op: str, a: tuple[Fraction, Fraction], b: tuple[Fraction, Fraction]
) -> tuple[Fraction, Fraction] | None:
    """The exact range of a op b over two bounded intervals; None for a divisor containing 0."""
    (alo, ahi), (blo, bhi) = a, b
    if op == "+":
        return alo + blo, ahi + bhi
    if op == "-":
        return alo - bhi, ahi - blo
    if op == "*":
        corners = [alo * blo, alo * bhi, ahi * blo, ahi * bhi]
    elif op == "/":
        if blo <= 0 <= bhi:
            return None
        corners = [alo / blo, alo / bhi, ahi / blo, ahi / bhi]
    else:
        raise ValueError(op)
    return min(corners), max(corners)


def tightest_element(lo: float, hi: float) -> tuple[float, float]:
    """The midpoint-radius element of least radius (up to rounding) enclosing [lo, hi].

    The entire line becomes (NaN, +inf); a half-bounded interval cannot be stored
    and raises ValueError.
    """
    if lo == -INF and hi == INF:
        return math.nan, INF
    if not (math.isfinite(lo) and math.isfinite(hi)):
        raise ValueError("half-bounded interval")
    if lo == hi:
        return lo, 0.0
    centre = (Fraction(lo) + Fraction(hi)) / 2
    mid = float(centre)
    if mid > hi:  # rounding of the centre can only stay within [lo, hi], but be sure
        mid = hi
    if mid < lo:
        mid = lo
    need = max(Fraction(hi) - Fraction(mid), Fraction(mid) - Fraction(lo))
    rad = float(need)
    if Fraction(rad) < need:
        rad = math.nextafter(rad, INF)
    return mid, rad


# ---------------------------------------------------------------------------
# Hypothesis strategies: adversarial doubles and intervals
# ---------------------------------------------------------------------------

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
        st.floats(0.5, 1.0, exclude_max=True),
        st.integers(-1074, 1024),
        st.booleans(),
    ).filter(math.isfinite)
    subnormal = st.builds(lambda k, neg: (-1 if neg else 1) * k * ETA, st.integers(1, 2**52 - 1), st.booleans())
    decimal = st.builds(lambda k: k / 10, st.integers(-10**6, 10**6))
    return st.one_of(
        st.sampled_from(SPECIAL_VALUES),
        st.floats(allow_nan=False, allow_infinity=False),
        scaled,
        subnormal,
        decimal,
    )


def radii_for(mid: float) -> st.SearchStrategy[float]:
    """Non-negative finite radii: zero-width, relative to the midpoint, tiny or arbitrary."""
    relative = st.integers(0, 60).map(lambda k: abs(mid) * 2.0**-k if math.isfinite(mid) else 0.0)
    return st.one_of(
        st.just(0.0),
        relative,
        st.sampled_from([ETA, 2.0**-1022, 1e-300, 0.5, 1.0, 1e300]),
        finite_doubles().map(abs),
    )


def finite_intervals() -> st.SearchStrategy[tuple[float, float]]:
    """(midpoint, radius) pairs of finite doubles."""
    return finite_doubles().flatmap(lambda m: st.tuples(st.just(m), radii_for(m)))


def intervals() -> st.SearchStrategy[tuple[float, float]]:
    """Finite intervals, mostly, plus NaN midpoints, infinite radii and infinite points."""
    odd = st.sampled_from([(math.nan, 0.0), (math.nan, INF), (1.0, INF), (0.0, INF), (INF, 0.0), (-INF, 0.0)])
    return st.one_of(finite_intervals(), finite_intervals(), finite_intervals(), odd)


# ---------------------------------------------------------------------------
# ITF1788 conformance cases
# ---------------------------------------------------------------------------


def itf1788_path() -> Path:
    """The complete case file next to the repository when present, else the bundled Apache subset."""
    full = REPO.parent / "shared" / "conformance" / "itf1788.jsonl"
    return full if full.is_file() else DATA / "itf1788_apache.jsonl"


def _bound(x: float | str) -> float:
    return float(x)  # "inf" and "-inf" are spelled as strings


def itf1788_cases(ops: set[str]) -> Iterator[dict]:
    """Cases of the given operations, with bounds converted to floats."""
    with itf1788_path().open(encoding="utf-8") as f:
        for line in f:
            case = json.loads(line)
            if case["op"] not in ops:
                continue
            case["args"] = [
                [_bound(a[0]), _bound(a[1])] if isinstance(a, list) else a for a in case["args"]
            ]
            if case["expected"] != "empty":
                case["expected"] = [_bound(case["expected"][0]), _bound(case["expected"][1])]
            yield case
