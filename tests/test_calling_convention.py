"""Every function, method and constructor parses its arguments as its text
signature reads: the parser and __text_signature__ come from one declaration,
and this checks the two against each other for each entry, present and future."""

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
    assert [p.kind for p in parameters] == [P.POSITIONAL_OR_KEYWORD] * len(named) + [P.VAR_POSITIONAL] * (
        len(parameters) - len(named))
    required = [p.name for p in named if p.default is P.empty]

    raises(TypeError, f"{display} got an unexpected keyword argument 'unknown'", lambda: call(unknown=0))
    if len(parameters) == len(named):  # no *extra: surplus positionals are refused before any conversion
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
