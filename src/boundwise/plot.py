"""Pictures of interval arrays (needs matplotlib: ``pip install "boundwise[plot]"``).

``import boundwise`` never imports this module; ``import boundwise.plot`` does,
and matplotlib with it.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Any

from boundwise import IntervalArray


def band(
    a: IntervalArray,
    x: Sequence[float] | None = None,
    ax: Any = None,
    *,
    label: str | None = None,
    color: Any = None,
    alpha: float = 0.3,
) -> Any:
    """Draw a one-dimensional interval array as a band [mid - rad, mid + rad]
    around a line through its midpoints, against `x` (default 0, 1, 2, ...).

    Elements that are NaN or unbounded leave a gap. Draws on `ax` (default: the
    current axes of pyplot) and returns it.
    """
    if a.ndim != 1:
        raise ValueError(f"band draws one-dimensional arrays, got shape {list(a.shape)}")
    if ax is None:
        import matplotlib.pyplot as plt  # type: ignore[import-not-found, unused-ignore]  # optional extra

        ax = plt.gca()
    positions = list(range(a.size)) if x is None else [float(v) for v in x]
    if len(positions) != a.size:
        raise ValueError(f"x has {len(positions)} positions for {a.size} elements")
    mids, rads = a.values(), a.radii()
    # A gap (NaN) wherever the element has no finite bounds.
    bounded = [math.isfinite(m) and math.isfinite(r) for m, r in zip(mids, rads)]
    line = [m if ok else math.nan for m, ok in zip(mids, bounded)]
    lower = [m - r if ok else math.nan for m, r, ok in zip(mids, rads, bounded)]
    upper = [m + r if ok else math.nan for m, r, ok in zip(mids, rads, bounded)]
    (drawn,) = ax.plot(positions, line, label=label, color=color)
    ax.fill_between(positions, lower, upper, color=drawn.get_color(), alpha=alpha, linewidth=0)
    return ax
