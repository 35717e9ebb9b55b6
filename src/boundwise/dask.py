"""Interval arrays on Dask: ``IntervalArray`` work spread over blocks.

A ``ChunkedIntervalArray`` is one Dask array whose every block is a
``boundwise.IntervalArray`` holding that block's elements (midpoints and radii
together, so a block moves between processes as one protocol-5 pickle with two
out-of-band buffers). ``shape``, ``ndim`` and ``chunks`` are those of the Dask
array; ``mid`` and ``rad`` are Dask float64 arrays of the midpoints and radii
with the same chunks; ``compute()`` assembles an ``IntervalArray``.

Element-wise work runs block by block through the one-machine kernels, so its
results are bit for bit the one-machine results. So are ``max`` and ``min``
(but for the NaN rule of their methods): their partials travel as
outward-rounded ends, which combine exactly. Sums, means and matrix products
combine partial results in another order than the one-machine loops; they are
still enclosures, because every combining step is interval arithmetic (a sum
of enclosures of partial sums encloses the total), but their radii differ from
the one-machine radii by the rounding of the combining steps.

Needs Dask (``pip install "boundwise[dask]"``); ``import boundwise`` does not.
"""

from __future__ import annotations

import math
import numbers
import operator
from collections.abc import Callable
from functools import partial
from typing import Any

try:
    import dask
    import dask.array as da
    import numpy as np
    from dask.base import DaskMethodsMixin, tokenize
    from dask.highlevelgraph import HighLevelGraph
except ModuleNotFoundError as _missing:
    raise ModuleNotFoundError(f"boundwise.dask needs {_missing.name}: pip install \"boundwise[dask]\"",
                              name=_missing.name) from _missing

import boundwise as bw
from boundwise import IntervalArray

__all__ = ["ChunkedIntervalArray", "from_array", "from_dask"]

# How many partial results one combining task of a tree reduction takes.
SPLIT_EVERY = 8
# The largest count that a double holds exactly (a divisor of `mean`).
_EXACT_COUNT = 2**53
_DBL_MAX = float(np.finfo(np.float64).max)


def _meta(ndim: int) -> np.ndarray:
    # Dask wants a zero-size example of a block's type. Blocks are interval
    # arrays, which Dask never inspects: every function applied to them is ours.
    return np.empty((0,) * ndim, dtype=np.float64)


# Block functions: module-level so that worker processes unpickle them by name.


def _block_from_parts(midpoints: np.ndarray, radii: np.ndarray) -> IntervalArray:
    return bw.from_raw_parts(midpoints, radii, midpoints.shape)


def _block_midpoints(block: IntervalArray) -> np.ndarray:
    return np.asarray(block.mid)


def _block_radii(block: IntervalArray) -> np.ndarray:
    return np.asarray(block.rad)


def _call_method(name: str, block: IntervalArray, *args: Any) -> IntervalArray:
    return getattr(block, name)(*args)


def _reflected(op: Callable, left: Any, right: Any) -> Any:
    return op(right, left)


def _as_block(value: IntervalArray | tuple[float, float]) -> IntervalArray:
    """A (midpoint, radius) pair of a whole-array result as a 0-d block."""
    if isinstance(value, tuple):
        return bw.from_raw_parts([value[0]], [value[1]], [])
    return value


def _entire_line_where(result: IntervalArray, lanes: np.ndarray) -> IntervalArray:
    """result with the elements selected by the mask replaced by the entire line."""
    mid, rad = np.array(result.mid), np.array(result.rad)
    mid[lanes], rad[lanes] = math.nan, math.inf
    return bw.from_raw_parts(mid, rad, mid.shape)


# Endpoint form of max and min. A partial extreme travels as its two ends, not
# as a (midpoint, radius) pair: a half-bounded partial such as [0, +inf) has no
# narrow midpoint-radius form, yet the ends of the whole lane may be bounded.
# The conversions are those of the extension, operation for operation, so the
# tree gives the one-machine result bit for bit.


def _sum_error(x: np.ndarray, y: np.ndarray, s: np.ndarray) -> np.ndarray:
    """x + y - s for s = fl(x + y), exact when s is finite (Knuth's TwoSum; the
    one intermediate that may overflow, s - x, is clamped to +-DBL_MAX as in
    Boldo, Graillat and Muller, ACM TOMS 2017)."""
    b = np.clip(s - x, -_DBL_MAX, _DBL_MAX)
    return (x - (s - b)) + (y - b)


def _add_up(x: np.ndarray, y: np.ndarray) -> np.ndarray:
    s = x + y
    return np.where(np.isfinite(s) & (_sum_error(x, y, s) > 0), np.nextafter(s, math.inf), s)


def _ends(m: np.ndarray, r: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The outward-rounded ends of the elements (m, r): NaN for an element with
    a NaN midpoint or radius, (-inf, +inf) for an infinite radius, and an
    overflowed end kept on the side it cannot reach (lo = +inf becomes DBL_MAX)."""
    with np.errstate(all="ignore"):
        lo, hi = m - r, m + r
        lo = np.where(np.isfinite(lo) & (_sum_error(m, -r, lo) < 0), np.nextafter(lo, -math.inf), lo)
        hi = np.where(np.isfinite(hi) & (_sum_error(m, r, hi) > 0), np.nextafter(hi, math.inf), hi)
    lo, hi = np.where(lo == math.inf, _DBL_MAX, lo), np.where(hi == -math.inf, -_DBL_MAX, hi)
    whole, unknown = r == math.inf, np.isnan(m) | np.isnan(r)
    lo, hi = np.where(whole, -math.inf, lo), np.where(whole, math.inf, hi)
    return np.where(unknown, math.nan, lo), np.where(unknown, math.nan, hi)


def _from_ends(ends: tuple[np.ndarray, np.ndarray]) -> IntervalArray:
    """The elements of the ends (lo <= hi or NaN): midpoint (lo + hi) / 2 and
    the smallest radius covering both exact distances to the ends."""
    lo, hi = (np.asarray(e, dtype=np.float64) for e in ends)
    lo, hi = np.minimum(lo, hi), np.maximum(lo, hi)
    with np.errstate(all="ignore"):
        total = lo + hi
        # lo + hi overflows only for huge ends of one sign; halving first is exact.
        m = np.where(np.isfinite(total) | ~(np.isfinite(lo) & np.isfinite(hi)), total * 0.5, lo * 0.5 + hi * 0.5)
        up, down = _add_up(hi - m, _sum_error(hi, -m, hi - m)), _add_up(m - lo, _sum_error(m, -lo, m - lo))
        r = np.where(up >= down, up, down)
    r = np.where(np.isfinite(lo) & np.isfinite(hi) & np.isfinite(m), r, math.inf)
    r = np.where(lo == hi, 0.0, r)
    return bw.from_raw_parts(m.ravel(), r.ravel(), m.shape)


def _extreme(op: str, x: IntervalArray, axis: int | None) -> Any:
    """The ends of the interval max or min of x (over everything or along an
    axis): the max (min) of the lower ends and of the upper ends. An element
    with a NaN midpoint or radius, which bounds nothing, makes its lane NaN and
    so, at the end, the entire line, as it does in a sum (the one-machine
    methods skip such elements). None when the reduced extent is empty: an
    empty chunk contributes nothing."""
    if (x.size if axis is None else x.shape[axis]) == 0:
        return None
    largest = op == "max"
    pick = np.max if largest else np.min  # both keep a NaN
    m, r = np.asarray(x.mid, dtype=np.float64), np.asarray(x.rad, dtype=np.float64)
    if axis is None:
        m, r = m.ravel(), r.ravel()
    ends = []
    for k, sign in enumerate((-1.0, 1.0)):
        # Every end lies within one step outward of the nearest sum s = m -+ r
        # (an overflowed s at DBL_MAX), so only elements with s within one
        # step of the extreme s can hold the extreme end: their exact ends
        # decide. A NaN extreme (a NaN or entire-line element) keeps them all.
        with np.errstate(all="ignore"):
            near = m + sign * r
            bound = np.nextafter(pick(near, axis=axis, keepdims=True), -math.inf if largest else math.inf)
        chosen = np.nonzero(~(near < bound) if largest else ~(near > bound))
        exact = _ends(m[chosen], r[chosen])[k]
        if axis is None:
            ends.append(pick(exact))
            continue
        lanes = np.full(m.shape, -math.inf if largest else math.inf)
        lanes[chosen] = exact
        ends.append(pick(lanes, axis=axis))
    return tuple(ends)


def _reduce_one(op: str, x: IntervalArray, axis: int | None) -> Any:
    """One partial result: for sum a (midpoint, radius) pair for axis None,
    else an array; for max and min the pair of end arrays."""
    if op == "sum":
        return x.sum(axis)
    return _extreme(op, x, axis)


def _combine(op: str, axis: int | None, parts: list) -> Any:
    """Partial results of neighbouring blocks combined: sums by the same
    interval reduction, applied to the partials laid side by side; extremes
    by the max or min of their ends, which is exact."""
    parts = [p for p in parts if p is not None]
    if len(parts) <= 1:
        return parts[0] if parts else None
    if op != "sum":
        pick = np.max if op == "max" else np.min
        return tuple(pick(np.stack([p[k] for p in parts]), axis=0) for k in (0, 1))
    if axis is None:
        joined = bw.from_raw_parts([p[0] for p in parts], [p[1] for p in parts], [len(parts)])
    else:
        joined = bw.stack(parts, axis)
    return _reduce_one(op, joined, axis)


def _divide_by_count(count: int, total: Any) -> IntervalArray:
    """An enclosure of total / count, for `mean`; an empty lane's mean is the entire line."""
    total = _as_block(total)
    if count == 0:
        return _entire_line_where(total, np.ones(total.shape, dtype=bool))
    if count <= _EXACT_COUNT:
        return total / float(count)
    # Beyond 2^53 the count is an interval: its nearest double and the (exact,
    # integral) distance to it.
    near = float(count)
    return total / bw.from_raw_parts([near], [float(abs(count - int(near)))], [])


def _interval_total(parts: list[IntervalArray]) -> IntervalArray:
    """The interval sum of the parts, added pairwise (a tree of depth log2 n)."""
    while len(parts) > 1:
        paired = [parts[i] + parts[i + 1] for i in range(0, len(parts) - 1, 2)]
        parts = paired + parts[len(parts) - len(parts) % 2:]
    return parts[0]


def _block_matmul(left: list[IntervalArray], right: list[IntervalArray]) -> IntervalArray:
    """One output block: the interval sum of the verified products of the blocks
    along the inner dimension."""
    return _interval_total([_as_block(a @ b) for a, b in zip(left, right)])


def _assemble(blocks: Any, chunks: tuple[tuple[int, ...], ...], scalar: bool) -> Any:
    """The computed blocks (nested lists, one level per dimension) as one IntervalArray."""
    grid = tuple(len(c) for c in chunks)
    if grid == (1,) * len(chunks):
        whole = blocks
        for _ in range(max(len(chunks), 1)):  # a 0-d array's one key comes in a list too
            whole = whole[0]
        _check_block(whole, tuple(c[0] for c in chunks), ())
        return whole.tolist() if scalar else whole
    shape = tuple(sum(c) for c in chunks)
    mid, rad = np.empty(shape), np.empty(shape)
    starts = [np.cumsum((0,) + c) for c in chunks]
    for index in np.ndindex(*grid):
        block = blocks
        for i in index:
            block = block[i]
        _check_block(block, tuple(c[i] for c, i in zip(chunks, index)), index)
        where = tuple(slice(s[i], s[i + 1]) for s, i in zip(starts, index))
        mid[where], rad[where] = np.asarray(block.mid), np.asarray(block.rad)
    return bw.from_raw_parts(mid, rad, shape)


def _check_block(block: Any, shape: tuple[int, ...], index: tuple[int, ...]) -> None:
    # A block of the wrong shape would be broadcast into its slot: refuse it.
    if not isinstance(block, IntervalArray) or block.shape != shape:
        found = block.shape if isinstance(block, IntervalArray) else type(block).__name__
        raise ValueError(f"block {list(index)} holds {found}; its chunks give an interval array of shape {shape}")


# Alignment of operands


def _shape_text(shape: tuple[int, ...]) -> str:
    return "[" + ", ".join(map(str, shape)) + "]"


def _broadcast_shape(shapes: list[tuple[int, ...]]) -> tuple[int, ...]:
    ndim = max(map(len, shapes), default=0)
    out = []
    for d in range(ndim):
        sizes = {s[len(s) - ndim + d] for s in shapes if len(s) - ndim + d >= 0} - {1}
        if len(sizes) > 1:
            raise ValueError("operands could not be broadcast together with shapes "
                             + " and ".join(_shape_text(s) for s in shapes))
        out.append(sizes.pop() if sizes else 1)
    return tuple(out)


def _target_chunks(shape: tuple[int, ...], operands: list) -> list[tuple[int, ...]]:
    """Chunks of the result: along each dimension, those of the first chunked
    operand that spans it, else one chunk."""
    ndim = len(shape)
    target: list[tuple[int, ...]] = []
    for d, size in enumerate(shape):
        found = (size,)
        for x in operands:
            k = x.ndim - ndim + d
            if isinstance(x, ChunkedIntervalArray) and k >= 0 and x.shape[k] == size:
                found = x.chunks[k]
                break
        target.append(found)
    return target


def _aligned(x: Any, shape: tuple[int, ...], target: list[tuple[int, ...]]) -> ChunkedIntervalArray:
    """x chunked as the result is (a dimension of size 1 against a larger one in one chunk)."""
    lead = len(shape) - x.ndim
    want = tuple((1,) if size == 1 and shape[lead + k] != 1 else target[lead + k] for k, size in enumerate(x.shape))
    if isinstance(x, IntervalArray):
        return from_array(x, want)
    return x if x.chunks == want else x.rechunk(want)


def _probe(x: Any) -> Any:
    """A one-element stand-in of an operand, for checking arguments before any work."""
    if isinstance(x, (ChunkedIntervalArray, IntervalArray)):
        return bw.ones((1,) * x.ndim)
    return x


def _elementwise(func: Callable, name: str, *operands: Any) -> ChunkedIntervalArray:
    """func applied block by block to the operands (chunked arrays, interval
    arrays, numbers), broadcast together."""
    func(*map(_probe, operands))  # raises the one-machine errors of bad arguments
    arrays = [x for x in operands if isinstance(x, (ChunkedIntervalArray, IntervalArray))]
    shape = _broadcast_shape([x.shape for x in arrays])
    target = _target_chunks(shape, arrays)
    args: list[Any] = []
    for x in operands:
        if isinstance(x, (ChunkedIntervalArray, IntervalArray)):
            args += [_aligned(x, shape, target)._blocks, tuple(range(len(shape) - x.ndim, len(shape)))]
        else:
            args += [x, None]
    blocks = da.blockwise(func, tuple(range(len(shape))), *args, name=f"{name}-{tokenize(func, *operands)}",
                          dtype=np.float64, meta=_meta(len(shape)), align_arrays=False)
    scalar = all(x._scalar for x in arrays if isinstance(x, ChunkedIntervalArray)) and not shape
    return ChunkedIntervalArray(blocks, scalar=scalar)


def _unary(name: str) -> Callable[..., ChunkedIntervalArray]:
    def method(self: ChunkedIntervalArray, *args: Any) -> ChunkedIntervalArray:
        return _elementwise(partial(_call_method, name), name, self, *args)

    method.__name__ = method.__qualname__ = name
    method.__doc__ = f"`IntervalArray.{name}` block by block."
    return method


def _operator(op: Callable, name: str, reflected: bool = False) -> Callable[..., Any]:
    def method(self: ChunkedIntervalArray, other: Any) -> Any:
        if not isinstance(other, (ChunkedIntervalArray, IntervalArray, numbers.Real)):
            return NotImplemented
        if reflected:
            return _elementwise(partial(_reflected, op), name, self, other)
        return _elementwise(op, name, self, other)

    method.__name__ = method.__qualname__ = f"__{'r' if reflected else ''}{name}__"
    return method


class ChunkedIntervalArray(DaskMethodsMixin):
    """An interval array split into blocks, each an ``IntervalArray``, computed by Dask.

    Build one with ``from_array`` or ``from_dask``; ``compute()`` returns the
    ``IntervalArray`` (or, for a whole-array reduction, the (midpoint, radius)
    pair that the one-machine method returns). ``dask.compute``,
    ``dask.persist`` and ``distributed.Client.compute`` take it like any Dask
    collection.
    """

    __slots__ = ("_blocks", "_scalar")

    def __init__(self, blocks: da.Array, scalar: bool = False) -> None:
        self._blocks = blocks
        self._scalar = scalar

    # The Dask collection protocol, delegated to the array of blocks.
    def __dask_graph__(self) -> Any:
        return self._blocks.__dask_graph__()

    def __dask_keys__(self) -> Any:
        return self._blocks.__dask_keys__()

    def __dask_layers__(self) -> Any:
        return self._blocks.__dask_layers__()

    def __dask_tokenize__(self) -> Any:
        return ("boundwise.dask", self._blocks.name, self._scalar)

    @staticmethod
    def __dask_optimize__(dsk: Any, keys: Any, **kwargs: Any) -> Any:
        return da.Array.__dask_optimize__(dsk, keys, **kwargs)

    @staticmethod
    def __dask_scheduler__(dsk: Any, keys: Any, **kwargs: Any) -> Any:
        return dask.threaded.get(dsk, keys, **kwargs)

    def __dask_postcompute__(self) -> Any:
        return _assemble, (self.chunks, self._scalar)

    def __dask_postpersist__(self) -> Any:
        return self._rebuild, ()

    def _rebuild(self, dsk: Any, *, rename: Any = None) -> ChunkedIntervalArray:
        rebuild, args = self._blocks.__dask_postpersist__()
        return ChunkedIntervalArray(rebuild(dsk, *args, rename=rename), self._scalar)

    # Shape and chunks, as on a Dask array.
    @property
    def shape(self) -> tuple[int, ...]:
        return self._blocks.shape

    @property
    def ndim(self) -> int:
        return self._blocks.ndim

    @property
    def size(self) -> int:
        return math.prod(self.shape)

    @property
    def chunks(self) -> tuple[tuple[int, ...], ...]:
        return self._blocks.chunks

    @property
    def numblocks(self) -> tuple[int, ...]:
        return self._blocks.numblocks

    @property
    def mid(self) -> da.Array:
        """The midpoints: a Dask float64 array with the same chunks."""
        return da.map_blocks(_block_midpoints, self._blocks, dtype=np.float64, meta=_meta(self.ndim))

    @property
    def rad(self) -> da.Array:
        """The radii: a Dask float64 array with the same chunks."""
        return da.map_blocks(_block_radii, self._blocks, dtype=np.float64, meta=_meta(self.ndim))

    def __repr__(self) -> str:
        return f"ChunkedIntervalArray(shape={self.shape}, chunks={self.chunks})"

    def to_delayed(self) -> np.ndarray:
        """The blocks as an array of ``dask.delayed`` objects, each an ``IntervalArray``."""
        return self._blocks.to_delayed()

    def rechunk(self, chunks: Any) -> ChunkedIntervalArray:
        """The same elements in other chunks (chunks as Dask takes them); exact."""
        return from_dask(self.mid.rechunk(chunks), self.rad.rechunk(chunks))

    # Element-wise operators and functions, block by block.
    __add__, __radd__ = _operator(operator.add, "add"), _operator(operator.add, "add", True)
    __sub__, __rsub__ = _operator(operator.sub, "sub"), _operator(operator.sub, "sub", True)
    __mul__, __rmul__ = _operator(operator.mul, "mul"), _operator(operator.mul, "mul", True)
    __truediv__ = _operator(operator.truediv, "truediv")
    __rtruediv__ = _operator(operator.truediv, "truediv", True)
    __floordiv__ = _operator(operator.floordiv, "floordiv")
    __rfloordiv__ = _operator(operator.floordiv, "floordiv", True)
    __rpow__ = _operator(operator.pow, "pow", True)

    def __pow__(self, other: Any, mod: None = None) -> Any:
        if mod is not None:
            return NotImplemented
        return _operator(operator.pow, "pow")(self, other)

    def __neg__(self) -> ChunkedIntervalArray:
        return _elementwise(operator.neg, "neg", self)

    def __pos__(self) -> ChunkedIntervalArray:
        return _elementwise(operator.pos, "pos", self)

    def __abs__(self) -> ChunkedIntervalArray:
        return _elementwise(operator.abs, "abs", self)

    abs, floor, ceil, trunc, sign = _unary("abs"), _unary("floor"), _unary("ceil"), _unary("trunc"), _unary("sign")
    nan_to_num, round, clip, scale = _unary("nan_to_num"), _unary("round"), _unary("clip"), _unary("scale")
    maximum, minimum, power = _unary("maximum"), _unary("minimum"), _unary("power")
    exp, ln, log, log2, log10 = _unary("exp"), _unary("ln"), _unary("log"), _unary("log2"), _unary("log10")
    sqrt, sin, cos, tan = _unary("sqrt"), _unary("sin"), _unary("cos"), _unary("tan")

    # Reductions: a tree whose combining step is interval arithmetic (sums) or
    # the exact max / min of ends (extremes).
    def sum(self, axis: int | None = None, split_every: int = SPLIT_EVERY) -> ChunkedIntervalArray:
        """Enclosure of the sum of all elements (a (midpoint, radius) pair once
        computed) or along an axis: block sums combined by interval addition."""
        return self._reduce("sum", axis, split_every, None)

    def mean(self, axis: int | None = None, split_every: int = SPLIT_EVERY) -> ChunkedIntervalArray:
        """Enclosure of the mean: the tree sum divided by the element count
        (an empty lane's mean is the entire line, as on one machine)."""
        axis = self._axis("sum", axis)
        count = self.size if axis is None else self.shape[axis]
        return self._reduce("sum", axis, split_every, partial(_divide_by_count, count))

    def max(self, axis: int | None = None, split_every: int = SPLIT_EVERY) -> ChunkedIntervalArray:
        """The interval maximum, bit for bit that of one machine, except that a
        NaN element makes its lane the entire line."""
        return self._reduce("max", axis, split_every, _from_ends)

    def min(self, axis: int | None = None, split_every: int = SPLIT_EVERY) -> ChunkedIntervalArray:
        """The interval minimum, bit for bit that of one machine, except that a
        NaN element makes its lane the entire line."""
        return self._reduce("min", axis, split_every, _from_ends)

    def _axis(self, op: str, axis: Any) -> int | None:
        # The one-machine method on a stand-in with the same empty dimensions
        # raises exactly its own errors (axis out of bounds, empty max or min).
        getattr(bw.zeros(tuple(min(n, 1) for n in self.shape)), op)(axis)
        return None if axis is None else operator.index(axis)

    def _reduce(self, op: str, axis: Any, split_every: int, finish: Callable | None) -> ChunkedIntervalArray:
        axis = self._axis(op, axis)
        if split_every < 2:
            raise ValueError(f"split_every must be at least 2, got {split_every}")
        blocks = _tree_reduce(self._blocks, op, axis, split_every, finish or _as_block)
        return ChunkedIntervalArray(blocks, scalar=axis is None)

    # Matrix products.
    def matmul(self, other: ChunkedIntervalArray | IntervalArray) -> ChunkedIntervalArray:
        """Enclosure of the matrix product (1-D or 2-D operands, as
        `IntervalArray.matmul`): every output block is the interval sum of the
        verified products of the blocks along the inner dimension."""
        if not isinstance(other, (ChunkedIntervalArray, IntervalArray)):
            raise TypeError(f"matmul: expected an interval array, got {type(other).__name__}")
        _probe(self) @ _probe(other)  # the one-machine dimensionality errors
        inner = self.shape[-1]
        if inner != other.shape[0]:
            raise ValueError(f"matmul: shapes {self.shape} and {other.shape} not aligned")
        right_chunks = (self.chunks[-1],) + (other.chunks[1:] if isinstance(other, ChunkedIntervalArray)
                                              else tuple((n,) for n in other.shape[1:]))
        right = from_array(other, right_chunks) if isinstance(other, IntervalArray) else other
        if right.chunks != right_chunks:
            right = right.rechunk(right_chunks)
        left_index, right_index = "ik"[2 - self.ndim:], "kj"[:right.ndim]
        out_index = left_index[:-1] + right_index[1:]
        blocks = da.blockwise(_block_matmul, out_index, self._blocks, left_index, right._blocks, right_index,
                              concatenate=False, align_arrays=False, dtype=np.float64, meta=_meta(len(out_index)),
                              name=f"matmul-{tokenize(self, right)}")
        return ChunkedIntervalArray(blocks, scalar=not out_index)

    dot = matmul

    def __matmul__(self, other: Any) -> Any:
        if not isinstance(other, (ChunkedIntervalArray, IntervalArray)):
            return NotImplemented
        return self.matmul(other)


def _tree_reduce(x: da.Array, op: str, axis: int | None, split_every: int, finish: Callable) -> da.Array:
    """Dask array of the reduction of the blocks of x: one partial per block,
    then groups of split_every partials combined until one per lane is left."""
    token = tokenize(x, op, axis, split_every, finish)
    name = f"interval-{op}-{token}"
    graph: dict = {}
    for index in np.ndindex(*x.numblocks):
        graph[(f"{name}-partial",) + index] = (partial(_reduce_one, op), (x.name,) + index, axis)
    if axis is None:
        lanes = {(): list(np.ndindex(*x.numblocks))}
        chunks: tuple = ()
    else:
        kept = x.numblocks[:axis] + x.numblocks[axis + 1:]
        lanes = {out: [out[:axis] + (j,) + out[axis:] for j in range(x.numblocks[axis])] for out in np.ndindex(*kept)}
        chunks = x.chunks[:axis] + x.chunks[axis + 1:]
    combine = partial(_combine, op, axis)
    for out, members in lanes.items():
        level: list[tuple[Any, ...]] = [(f"{name}-partial",) + index for index in members]
        depth = 0
        while len(level) > 1:
            depth += 1
            groups = [level[i:i + split_every] for i in range(0, len(level), split_every)]
            level = [(f"{name}-combine-{depth}",) + out + (g,) for g in range(len(groups))]
            graph.update((key, (combine, group)) for key, group in zip(level, groups))
        graph[(name,) + out] = (finish, level[0])
    layers = HighLevelGraph.from_collections(name, graph, dependencies=[x])  # type: ignore[list-item]
    return da.Array(layers, name, chunks, meta=_meta(len(chunks)))


# Construction


def from_dask(midpoints: da.Array, radii: da.Array) -> ChunkedIntervalArray:
    """The chunked interval array of these midpoints and radii: two Dask arrays
    of real numbers with equal shapes and chunks (each block is read as
    `boundwise.from_raw_parts` reads it)."""
    for what, x in (("midpoints", midpoints), ("radii", radii)):
        if not isinstance(x, da.Array):
            raise TypeError(f"from_dask: {what} must be a dask array, got {type(x).__name__}")
        if x.dtype.kind not in "biuf":
            raise TypeError(f"from_dask: {what} must hold real numbers, got dtype {x.dtype}")
    if midpoints.shape != radii.shape:
        raise ValueError(f"from_dask: midpoints of shape {midpoints.shape} and radii of shape {radii.shape} differ")
    if midpoints.chunks != radii.chunks:
        raise ValueError(f"from_dask: midpoints in chunks {midpoints.chunks} and radii in chunks {radii.chunks} differ")
    index = tuple(range(midpoints.ndim))
    blocks = da.blockwise(_block_from_parts, index, midpoints, index, radii, index, dtype=np.float64,
                          meta=_meta(midpoints.ndim), name=f"intervals-{tokenize(midpoints, radii)}")
    return ChunkedIntervalArray(blocks)


def from_array(a: IntervalArray, chunks: Any = "auto") -> ChunkedIntervalArray:
    """The chunked interval array of ``a`` (an ``IntervalArray``, or anything
    ``boundwise.array`` takes), split into chunks as ``dask.array.from_array``
    splits (an int, a tuple per dimension, "auto", ...); exact."""
    if not isinstance(a, IntervalArray):
        a = bw.array(a)
    return from_dask(da.from_array(np.asarray(a.mid), chunks=chunks), da.from_array(np.asarray(a.rad), chunks=chunks))

