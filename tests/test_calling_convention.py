"""The calling convention shared by every entry. Each function, method and
constructor parses its arguments as its text signature reads (the parser and
__text_signature__ come from one declaration; this checks the two against each
other for every entry, present and future), and the shared element-wise entry
gives the same results and errors whether or not it lets go of the interpreter lock."""

import inspect

import pytest

import boundwise._boundwise as bw
from conftest import raises

P = inspect.Parameter


def _quoted(names):
    quoted = [f"'{n}'" for n in names]
    if len(quoted) <= 2:
        return " and ".join(quoted)
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def _entries():
    """(id, callable, display name) for everything that parses its arguments."""
    entries = [(name, f, f"{name}()") for name, f in vars(bw).items()
               if callable(f) and not isinstance(f, type) and f.__text_signature__ != "()"]
    for cls, instance in [(bw.IntervalArray, bw.zeros(2)), (bw.BoolArray, bw.BoolArray([True]))]:
        entries.append((cls.__name__, cls, f"{cls.__name__}.__new__()"))
        entries += [(f"{cls.__name__}.{name}", getattr(instance, name), f"{cls.__name__}.{name}()")
                    for name, member in vars(cls).items() if type(member).__name__ == "method_descriptor"]
    return entries


@pytest.mark.parametrize("call, display", [pytest.param(f, d, id=i) for i, f, d in _entries()])
def test_parsing_follows_the_text_signature(call, display):
    parameters = list(inspect.signature(call).parameters.values())
    named = [p for p in parameters if p.kind is P.POSITIONAL_OR_KEYWORD]
    rest = [p.kind for p in parameters[len(named):]]
    # After the positional-or-keyword ones: one *extra, or keyword-only parameters with defaults.
    assert rest in ([], [P.VAR_POSITIONAL]) or set(rest) == {P.KEYWORD_ONLY}
    assert all(p.default is not P.empty for p in parameters if p.kind is P.KEYWORD_ONLY)
    required = [p.name for p in named if p.default is P.empty]

    raises(TypeError, f"{display} got an unexpected keyword argument 'unknown'", lambda: call(unknown=0))
    if rest != [P.VAR_POSITIONAL]:  # no *extra: surplus positionals are refused before any conversion
        counts = f"{len(named)}" if len(required) == len(named) else f"from {len(required)} to {len(named)}"
        given = len(named) + 2
        raises(TypeError, f"{display} takes {counts} positional arguments but {given} were given",
               lambda: call(*[0] * given))
    if named:
        first = named[0].name
        raises(TypeError, f"{display} got multiple values for argument '{first}'", lambda: call(0, **{first: 0}))
    if required:
        noun = "argument" if len(required) == 1 else "arguments"
        raises(TypeError, f"{display} missing {len(required)} required positional {noun}: {_quoted(required)}", call)


# Small arrays keep the interpreter lock; these sizes are far above the size from
# which the element-wise entry releases it.
@pytest.mark.parametrize("rows, cols", [(3, 5), (100, 120)])
def test_element_wise_entry_small_and_large(rows, cols):
    a = bw.from_raw_parts([float(i) for i in range(rows * cols)], [0.5] * (rows * cols), [rows, cols])
    expected = [float(i * cols + j) for j in range(cols) for i in range(rows)]
    t = a.transpose()
    assert (t.shape, t.values(), t.radii()) == ((cols, rows), expected, [0.5] * (rows * cols))
    for same in (a.copy(), a.flatten(), a.ravel()):
        assert (same.values(), same.radii()) == (a.values(), a.radii())
    assert a.flatten().shape == a.ravel().shape == (rows * cols,)


@pytest.mark.parametrize("shape", [(2, 2, 2), (32, 32, 32)])
def test_element_wise_entry_raises_after_taking_the_lock_back(shape):
    a = bw.zeros(shape)
    raises(ValueError, ".transpose only supports 1D and 2D arrays, got 3D", a.transpose)
    assert a.shape == shape
