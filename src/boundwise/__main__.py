"""``python -m boundwise``: the configuration, a few verified results, and a speed
comparison against NumPy when NumPy is installed. Finishes in a few seconds."""

from __future__ import annotations

import math
import os
import time
import warnings
from fractions import Fraction

import boundwise as bw
from boundwise import _boundwise

# e lies strictly between these two neighbouring doubles.
E_BELOW, E_ABOVE = 2.718281828459045, 2.7182818284590455


def _bounds(m: float, r: float) -> tuple[Fraction, Fraction] | None:
    """The exact interval [m - r, m + r] of a stored element, None when unbounded."""
    if math.isnan(m) or math.isnan(r) or math.isinf(r) or math.isinf(m):
        return None
    return Fraction(m) - Fraction(r), Fraction(m) + Fraction(r)


def _verdict(result: object, contains) -> str:
    """'yes' or 'NO' for the first element of `result`, checked in exact rational arithmetic."""
    if not isinstance(result, bw.IntervalArray):
        return ""
    bounds = _bounds(result.values()[0], result.radii()[0])
    if bounds is None:
        return "  encloses the exact value: yes (unbounded)"
    return "  encloses the exact value: " + ("yes" if contains(*bounds) else "NO")


def _show(label: str, compute, contains=None) -> None:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = compute()
    line = f"{label:<38} = {result!r}"
    for warning in caught:
        line += f"   [{warning.category.__name__}: {warning.message}]"
    print(line)
    if contains is not None:
        print(_verdict(result, contains))


def _configuration() -> None:
    blas = _boundwise._blas_info()
    threads = blas["threads_per_call"]
    print(f"boundwise {bw.__version__}, {bw.num_threads()} worker threads"
          f" (RAYON_NUM_THREADS={os.environ.get('RAYON_NUM_THREADS', 'unset')})")
    print(f"BLAS: {blas['library']}")
    print(f"BLAS threading: {threads if threads else 'unknown'} thread(s) inside each call;"
          " products run in parallel on boundwise's own workers")


def _examples() -> None:
    a = bw.array
    exact = lambda q: (lambda lo, hi: lo <= q <= hi)  # noqa: E731
    _show("0.1 + 0.2", lambda: a([0.1]) + a([0.2]), exact(Fraction(0.1) + Fraction(0.2)))
    _show("1 / 3", lambda: a([1.0]) / 3.0, exact(Fraction(1, 3)))
    _show("1e300 * 1e300", lambda: a([1e300]) * a([1e300]), exact(Fraction(1e300) ** 2))
    _show("(1 +/- 0.5) * (2 +/- 0.25)", lambda: a([(1.0, 0.5)]) * a([(2.0, 0.25)]),
          lambda lo, hi: lo <= Fraction(1, 2) * Fraction(7, 4) and Fraction(3, 2) * Fraction(9, 4) <= hi)
    _show("1 / [-1, 1]", lambda: a([1.0]) / a([(0.0, 1.0)]))
    # exp(1) = e: the enclosure must hold both neighbours of e, so e itself.
    _show("exp(1)", lambda: a([1.0]).exp(),
          lambda lo, hi: lo <= Fraction(E_BELOW) and Fraction(E_ABOVE) <= hi)
    x = a([(1.0, 1e-12)])
    _show("sin(x)**2 + cos(x)**2, x = 1 +/- 1e-12", lambda: x.sin() * x.sin() + x.cos() * x.cos(),
          lambda lo, hi: lo <= 1 <= hi)


def _hilbert_solve() -> None:
    """A verified solve of an ill-conditioned system, checked in exact arithmetic,
    beside NumPy's unverified answer when NumPy is installed."""
    n = 8
    h = [[1.0 / (i + j + 1) for j in range(n)] for i in range(n)]
    rows = [[Fraction(v) for v in row] + [Fraction(1)] for row in h]
    for c in range(n):  # exact elimination of the stored doubles
        for r in range(n):
            if r != c:
                f = rows[r][c] / rows[c][c]
                rows[r] = [p - f * q for p, q in zip(rows[r], rows[c])]
    exact = [rows[i][n] / rows[i][i] for i in range(n)]
    x = bw.solve(bw.array(h), bw.ones(n), method="krawczyk")
    inside = all(Fraction(m) - Fraction(r) <= t <= Fraction(m) + Fraction(r)
                 for m, r, t in zip(x.values(), x.radii(), exact))
    print()
    print(f"Hilbert system of order {n} (condition about 1.5e10), first component:")
    print(f"  solve(method='krawczyk')  {x.values()[0]!r} +/- {x.radii()[0]:.2g}"
          f"   encloses the exact solution: {'yes' if inside else 'NO'}")
    try:
        import numpy as np
    except ImportError:
        return
    guess = float(np.linalg.solve(np.array(h), np.ones(n))[0])
    print(f"  numpy.linalg.solve        {guess!r}   (actual error {float(abs(Fraction(guess) - exact[0])):.2g},"
          " not reported)")


def _best(fn, repeats: int = 5) -> float:
    fn()
    best = math.inf
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def _speed() -> None:
    try:
        import numpy as np
    except ImportError:
        return
    n = 1_000_000
    rng = np.random.default_rng(1)
    xm, ym = rng.uniform(0.5, 2.0, n), rng.uniform(0.5, 2.0, n)
    r = np.full(n, 1e-12)
    x, y = bw.from_raw_parts(xm, r, [n]), bw.from_raw_parts(ym, r, [n])
    print()
    print(f"Speed against NumPy float64 on this machine ({n:,} elements, best of 5):")
    for label, ours, theirs in [("a + b", lambda: x + y, lambda: xm + ym),
                                ("a * b", lambda: x * y, lambda: xm * ym),
                                ("a / b", lambda: x / y, lambda: xm / ym),
                                ("exp(a)", x.exp, lambda: np.exp(xm)),
                                ("sum", x.sum, xm.sum)]:
        t_ours, t_numpy = _best(ours), _best(theirs)
        print(f"  {label:<8} boundwise {t_ours * 1e3:8.2f} ms   NumPy {t_numpy * 1e3:8.2f} ms"
              f"   ratio {t_ours / t_numpy:6.1f}")


def main() -> None:
    _configuration()
    print()
    _examples()
    _hilbert_solve()
    _speed()


if __name__ == "__main__":
    main()
