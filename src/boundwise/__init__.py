"""Interval arrays with guaranteed error bounds.

Every element of an ``IntervalArray`` is a midpoint and a radius standing for the
closed interval [midpoint - radius, midpoint + radius]; every operation returns
an interval that contains the exact result. The work is done by the compiled
extension ``boundwise._boundwise``; this package re-exports its public names.
"""

from . import _boundwise

__version__: str = _boundwise.__version__

# The extension defines no __all__, so its public names are collected here: every
# attribute not starting with an underscore, in the order the module registered it.
__all__ = [name for name in vars(_boundwise) if not name.startswith("_")]
globals().update({name: getattr(_boundwise, name) for name in __all__})
__all__.append("__version__")
