"""Every entry point of the extension, called with arguments of every kind: only
the documented exceptions may come out, never a crash, a SystemError or the
internal failure. `--fuzz-long` runs many more cases per entry point."""

from __future__ import annotations

import array as pyarray
import inspect
import math
import pickle
import resource
import threading
import time
import warnings
from collections.abc import Iterator

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import boundwise._boundwise as bw
from oracles import SANITIZED, intervals


class Lie(Exception):
    """Raised by the lying objects below; it must come out unchanged (or as a cause)."""


# Exceptions a call may end in; AttributeError only for assigning a property.
ALLOWED = (TypeError, ValueError, IndexError, OverflowError, MemoryError, RuntimeError, ZeroDivisionError,
           NotImplementedError, BufferError, Lie, Warning)


class Liar:
    """Conversions that raise, return the wrong type or lie about a length."""

    def __init__(self, kind: str):
        self.kind = kind

    def __float__(self):
        if self.kind == "float-raises":
            raise Lie("float")
        return "not a float" if self.kind == "float-wrong" else 1.5

    def __index__(self):
        if self.kind == "index-raises":
            raise Lie("index")
        return 2**200 if self.kind == "index-huge" else 2

    def __len__(self):
        if self.kind == "len-raises":
            raise Lie("len")
        return 10**6 if self.kind == "len-lies" else 2

    def __getitem__(self, i):
        if self.kind == "getitem-raises" or i >= 2:
            raise Lie("getitem") if self.kind == "getitem-raises" else IndexError(i)
        return float(i)

    def __iter__(self) -> Iterator[float]:
        if self.kind == "iter-raises":
            raise Lie("iter")
        yield from (0.5, 1.5)

    def __repr__(self):
        return f"Liar({self.kind!r})"


LIARS = ["float-raises", "float-wrong", "index-raises", "index-huge", "len-raises", "len-lies", "getitem-raises",
         "iter-raises", "honest"]


class _ClearsOwner:
    """An element whose conversion empties the list being converted."""

    def __init__(self, owner: list):
        self.owner = owner

    def __float__(self):
        self.owner.clear()
        return 2.5


def shrinking(n: int) -> list:
    owner: list = []
    owner.extend(_ClearsOwner(owner) for _ in range(n))
    return owner


def nested(depth: int, leaf=1.0):
    for _ in range(depth):
        leaf = [leaf]
    return leaf


def fresh(*makers) -> st.SearchStrategy:
    """A new object from one of the makers on every draw (mutable values are never shared)."""
    return st.sampled_from(makers).map(lambda make: make())


HUGE_INTS = [2**31, 2**32, 2**62, 2**63 - 1, 2**63, 2**64 - 1, 2**64, 2**100, -2**63, -2**63 - 1, -2**64]
FLOATS = [math.nan, -math.nan, math.inf, -math.inf, 0.0, -0.0, 5e-324, 1e308, -1e-310, 0.1, 1.0, 2.0, -3.5]
DIMS = st.one_of(st.integers(0, 4), st.sampled_from([2**62, 2**63, 2**64 - 1]))

ints = st.one_of(st.integers(-4, 8), st.sampled_from(HUGE_INTS), st.booleans())
floats = st.one_of(st.sampled_from(FLOATS), st.floats(-10, 10))
shapes = st.one_of(st.lists(DIMS, max_size=4).map(tuple), st.lists(st.integers(0, 3), max_size=4),
                   st.just((1,) * 65), DIMS)
numbers = st.one_of(ints, floats, st.complex_numbers(max_magnitude=4), fresh(lambda: np.float32(1.5), lambda: np.int64(3)))
pairs = intervals().map(tuple)
leaves = st.one_of(numbers, pairs, st.sampled_from(LIARS).map(Liar), st.none(), st.text(max_size=3))
ragged = st.recursive(leaves, lambda inner: st.lists(inner, max_size=4) | st.tuples(inner, inner), max_leaves=12)
regular = st.builds(lambda shape, x: np.full(shape, x).tolist(), st.lists(st.integers(0, 3), max_size=3),
                    st.sampled_from(FLOATS))
buffers = st.one_of(
    st.lists(floats, max_size=6).map(lambda xs: pyarray.array("d", xs)),
    st.lists(st.integers(-9, 9), max_size=6).map(lambda xs: np.array(xs, dtype=np.int64)),
    fresh(lambda: np.zeros((2, 0)), lambda: np.ones((2, 3), dtype=np.float32), lambda: np.array([1, 2], dtype=np.uint8),
          lambda: np.array([True, False]), lambda: np.array(["a"]), lambda: np.array([1.0, None], dtype=object),
          lambda: np.ones((4, 4))[::2, ::3], lambda: np.float64(2.0), lambda: memoryview(b"abcdefgh"),
          lambda: bytearray(16), lambda: memoryview(np.arange(6.0).reshape(2, 3)).cast("B"),
          lambda: memoryview(np.arange(6.0))[::2]))


def _arrays() -> st.SearchStrategy:
    def build(shape, xs):
        return bw.from_raw_parts([m for m, _ in xs], [r for _, r in xs], list(shape))

    small = st.sampled_from([(), (1,), (3,), (2, 2), (1, 3, 1)]).flatmap(
        lambda s: st.lists(pairs, min_size=math.prod(s), max_size=math.prod(s)).map(lambda xs: build(s, xs)))
    odd = fresh(lambda: bw.zeros(0), lambda: bw.zeros((2**63, 0)), lambda: bw.zeros((0, 2**64 - 1, 3)),
                lambda: bw.ones((3, 4)), lambda: bw.eye(3), lambda: bw.array(1.0), lambda: bw.linspace(-1, 1, 5))
    return st.one_of(small, odd)


arrays = _arrays()
masks = st.one_of(st.lists(st.booleans(), max_size=5).map(bw.BoolArray),
                  st.tuples(arrays, floats).map(lambda t: t[0] < t[1]),
                  fresh(lambda: bw.zeros((2, 0)) > 1.0))
keys = st.one_of(ints, st.slices(6), st.just(Ellipsis), st.none(), masks,
                 st.lists(st.one_of(st.integers(-4, 4), st.booleans()), max_size=4),
                 st.tuples(*[st.one_of(st.integers(-3, 3), st.slices(4), st.just(Ellipsis), st.none())] * 2),
                 st.tuples(*[st.integers(-2, 2)] * 4))
states = st.one_of(st.tuples(st.lists(DIMS, max_size=3), st.lists(floats, max_size=3), st.lists(floats, max_size=3)),
                   st.tuples(shapes, st.binary(max_size=24), st.binary(max_size=24)),
                   st.lists(st.none(), max_size=4), fresh(lambda: pickle.PickleBuffer(b"12345678")))
deep = fresh(lambda: nested(63), lambda: nested(64), lambda: nested(65), lambda: nested(1000),
             lambda: nested(70, Liar("float-raises")))
values = st.one_of(numbers, shapes, ragged, regular, buffers, arrays, masks, keys, states, deep,
                   st.sampled_from(LIARS).map(Liar), st.integers(0, 4).map(shrinking),
                   st.one_of(st.none(), st.text(max_size=4), st.binary(max_size=8), fresh(object),
                             st.dictionaries(st.text(max_size=2), ints, max_size=2)))


def _entries() -> list[tuple[str, object, str]]:
    """Every module function, the two classes, and every method, slot and property they define."""
    found = [("function", None, name) for name, v in vars(bw).items()
             if callable(v) and not isinstance(v, type) and name != "_raise_internal_failure"]
    for cls in (bw.IntervalArray, bw.BoolArray):
        found.append(("class", cls, cls.__name__))
        for name, v in vars(cls).items():
            if name == "__new__":
                continue
            if inspect.isgetsetdescriptor(v) or isinstance(v, property):
                found.append(("property", cls, name))
            elif callable(v):
                found.append(("method", cls, name))
    return found


ENTRIES = _entries()


def _arity(target) -> tuple[int, list[str]]:
    """Positional parameter count and keyword names, from the text signature."""
    try:
        parameters = list(inspect.signature(target).parameters.values())
    except (TypeError, ValueError):
        return 2, []
    positional = [p for p in parameters if p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD)]
    return len(positional), [p.name for p in parameters if p.kind != p.POSITIONAL_ONLY]


def _draw_call(data, kind, cls, name):
    receiver = None
    if kind in ("method", "property"):
        receiver = data.draw(arrays if cls is bw.IntervalArray else masks, label="self")
    if kind == "property":
        value = data.draw(values)
        return (lambda: getattr(receiver, name)), (lambda: setattr(receiver, name, value))
    target = getattr(receiver, name) if receiver is not None else (cls if kind == "class" else getattr(bw, name))
    count, keywords = _arity(target)
    count = data.draw(st.sampled_from([count, count, count, max(count - 1, 0), count + 1]), label="arity")
    args = data.draw(st.lists(values, min_size=count, max_size=count), label="args")
    names = st.sampled_from(keywords + ["bogus"]) if keywords else st.just("bogus")
    kwargs = data.draw(st.dictionaries(names, values, max_size=1 if keywords else 0), label="kwargs")
    return (lambda: target(*args, **kwargs)), None


def _use(result) -> None:
    """Touches what came back, so that a corrupt result shows itself."""
    if isinstance(result, (bw.IntervalArray, bw.BoolArray)):
        repr(result)
        if isinstance(result, bw.IntervalArray) and result.size < 100:
            result.tolist()
    elif isinstance(result, Iterator):
        for _, item in zip(range(4), result):
            _use(item)


def _check(call) -> None:
    try:
        _use(call())
    except ALLOWED:
        pass


@pytest.mark.parametrize("kind, cls, name", ENTRIES, ids=[f"{c.__name__ + '.' if c else ''}{n}" for _, c, n in ENTRIES])
def test_entry_point_raises_only_documented_exceptions(kind, cls, name, fuzz_examples, mutated_arrays):
    @settings(max_examples=fuzz_examples, deadline=None, database=None,
              suppress_health_check=list(HealthCheck))
    @given(st.data(), st.sampled_from(["error", "ignore"]))
    def run(data, warning_filter):
        call, assign = _draw_call(data, kind, cls, name)
        with warnings.catch_warnings():
            warnings.simplefilter(warning_filter)
            _check(call)
            if assign is not None:
                with pytest.raises(AttributeError):  # properties are read-only
                    assign()
            mutated_arrays.use(data.draw(values, label="operand"))

    run()


def test_registry_covers_every_entry_point():
    names = {n for _, _, n in ENTRIES}
    assert {"array", "zeros", "linspace", "from_raw_parts", "randint", "split", "where_impl"} <= names
    assert {"__setstate__", "__getitem__", "__setitem__", "__iadd__", "__rpow__", "mid", "T", "tolist"} <= names
    assert len([e for e in ENTRIES if e[1] is bw.BoolArray]) >= 10 and len(ENTRIES) > 150


class MutatedArrays:
    """Arrays that a second thread keeps mutating while the fuzzed calls read them."""

    def __init__(self):
        self.shared = [bw.ones(5000), bw.zeros((3, 4)), bw.ones(2)]
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._mutate, daemon=True)

    def _mutate(self):
        k = 0
        while not self.stop.is_set():
            a = self.shared[k % len(self.shared)]
            try:
                if k % 3 == 0:
                    a += 1.0
                elif k % 3 == 1:
                    a[0] = (float(k), 0.5)
                else:
                    a *= bw.array([(1.0, 0.25)])
            except RuntimeError:  # a borrow held by the fuzzing thread
                pass
            k += 1
            time.sleep(0.001)  # leaves the interpreter lock to the fuzzing thread most of the time

    def use(self, operand):
        """One read of a mutated array against a fuzzed operand."""
        a = self.shared[hash(type(operand)) % len(self.shared)]
        _check(lambda: a + operand)
        _check(lambda: a[operand])


@pytest.fixture(scope="module", autouse=True)
def bounded_address_space():
    """Sizes that pass every check but not the machine end in MemoryError, not
    in an allocation the kernel grants and then cannot back (the sanitizer run
    bounds allocations itself)."""
    if SANITIZED:
        yield
        return
    with open("/proc/self/statm") as f:
        mapped = int(f.read().split()[0]) * resource.getpagesize()
    old = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (mapped + (4 << 30), old[1]))
    yield
    resource.setrlimit(resource.RLIMIT_AS, old)


@pytest.fixture(scope="module")
def mutated_arrays():
    arrays = MutatedArrays()
    arrays.thread.start()
    yield arrays
    arrays.stop.set()
    arrays.thread.join()
