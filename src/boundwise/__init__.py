"""Interval arrays with guaranteed error bounds.

Every element of an ``IntervalArray`` is a midpoint and a radius standing for the
closed interval [midpoint - radius, midpoint + radius]; every operation returns
an interval that contains the exact result. The work is done by the compiled
extension ``boundwise._boundwise``; this package re-exports its public names and
adds ``where``. The plotting helper ``boundwise.plot`` is imported on request
only (it needs matplotlib).
"""

from __future__ import annotations

from . import _boundwise

# Every public name of the extension: the two classes and the module functions
# (the extension defines no __all__, so the star takes the names without an
# underscore, functions added to it later included).
from ._boundwise import *  # noqa: F403
from ._boundwise import BoolArray, IntervalArray, __version__

_Operand = IntervalArray | float


def where(condition: BoolArray | IntervalArray | list[bool] | bool, x: _Operand, y: _Operand) -> IntervalArray:
    """Elements of x where the condition holds and of y elsewhere, broadcast together.

    ``condition`` is a ``BoolArray``, an ``IntervalArray`` (an element holds when
    its midpoint is non-zero or NaN), a list of bools or a bool; ``x`` and ``y``
    are interval arrays or numbers (exact points). The NumPy-style name of
    ``where_impl``.
    """
    return _boundwise.where_impl(condition, x, y)


__all__ = [name for name in vars(_boundwise) if not name.startswith("_")] + ["where", "__version__"]
