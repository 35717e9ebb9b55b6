"""``python -m boundwise``: a short demonstration of verified interval arithmetic."""

from __future__ import annotations

import math
import warnings
from fractions import Fraction

import boundwise as bw


def _contains(result: object, exact: Fraction) -> str:
    """Say whether the first element of `result` encloses `exact`, checked in exact
    rational arithmetic on the stored midpoint and radius."""
    values = getattr(result, "values", None)
    radii = getattr(result, "radii", None)
    if not (callable(values) and callable(radii)):
        return ""
    m, r = values()[0], radii()[0]
    if math.isnan(m) or math.isnan(r) or math.isinf(r):
        return "  encloses the exact value: yes (unbounded)"
    if math.isinf(m):
        return "  encloses the exact value: NO"
    inside = Fraction(m) - Fraction(r) <= exact <= Fraction(m) + Fraction(r)
    return "  encloses the exact value: " + ("yes" if inside else "NO")


def _show(label: str, compute, exact: Fraction | None = None) -> None:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = compute()
    line = f"{label:<26} = {result!r}"
    for warning in caught:
        line += f"   [{warning.category.__name__}: {warning.message}]"
    print(line)
    if exact is not None:
        note = _contains(result, exact)
        if note:
            print(note)


def main() -> None:
    threads = bw.num_threads() if hasattr(bw, "num_threads") else None
    print(f"boundwise {bw.__version__}" + (f", {threads} worker threads" if threads else ""))
    print()
    a = bw.array
    _show("0.1 + 0.2", lambda: a([0.1]) + a([0.2]), Fraction(0.1) + Fraction(0.2))
    _show("1 / 3", lambda: a([1.0]) / 3.0, Fraction(1, 3))
    _show("(1 +/- 0.5) * (2 +/- 0.25)", lambda: a([(1.0, 0.5)]) * a([(2.0, 0.25)]))
    _show("1 / [0, 1]", lambda: a([1.0]) / a([(0.0, 1.0)]))
    _show("1e300 * 1e300", lambda: a([1e300]) * a([1e300]), Fraction(1e300) ** 2)

if __name__ == "__main__":
    main()
