"""Module entry, class registration and the calling convention shared by every
function and method: argument parsing, error wrapping, internal failures."""

import importlib
import inspect
import pickle
import subprocess
import sys

import numpy as np
import pytest

import boundwise._boundwise as bw
from oracles import AMBIGUOUS, assert_cause, raises, snapshot

# Every module function with its text signature, in registration order.
SIGNATURES = {
    "array": "(values, error=0.0)", "zeros": "(shape, *extra)", "ones": "(shape, *extra)",
    "empty": "(shape, *extra)", "full": "(shape, value, error=0.0)", "eye": "(n, m=None, k=0)",
    "identity": "(n)", "diag": "(v)", "linspace": "(start, stop, num=50, endpoint=True)",
    "arange": "(start, stop, step=1.0)", "concatenate": "(arrays, axis=0)", "stack": "(arrays, axis=0)",
    "vstack": "(arrays)", "hstack": "(arrays)", "split": "(a, indices_or_sections, axis=0)",
    "where_impl": "(condition, x, y)", "from_raw_parts": "(midpoints, radii, shape)", "num_threads": "()",
    "seed": "(seed_value)", "rand": "(size=None, *extra)", "random_sample": "(size=None, *extra)",
    "randn": "(size=None, *extra)", "randint": "(low, high, size=None, *extra)",
    "uniform": "(low, high, size=None, *extra)", "normal": "(loc=0.0, scale=1.0, size=None, *extra)",
    "det": "(a)", "inv": "(a, *, method='gauss')", "solve": "(a, b, *, method='gauss')", "lstsq": "(a, b)",
    "eig": "(a)", "svd": "(a)", "pinv": "(a)", "cholesky": "(a)", "matrix_power": "(a, n)",
    "matrix_rank": "(a)", "cond": "(a)",
}


class TestModuleEntry:
    def test_second_import_returns_the_same_module_object(self, monkeypatch):
        monkeypatch.delitem(sys.modules, "boundwise._boundwise")
        second = importlib.import_module("boundwise._boundwise")
        assert second is bw and second.IntervalArray is bw.IntervalArray

    def test_attributes_in_registration_order(self):
        names = list(vars(bw))
        public = [n for n in names if not n.startswith("_")]
        assert public[:2] == ["IntervalArray", "BoolArray"]
        functions = public[2:]
        assert functions == list(SIGNATURES)
        assert names.index("__version__") > max(names.index(f) for f in functions)

    def test_importing_raises_no_warning(self):
        # Types created without a dotted module name raise a DeprecationWarning
        # on newer interpreters; warnings are errors in this child process.
        code = "import boundwise._boundwise as m, pickle; pickle.loads(pickle.dumps(m.BoolArray([True])))"
        done = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr

    def test_sub_interpreters_are_refused(self):
        pytest.importorskip("_xxsubinterpreters")
        code = ("import _xxsubinterpreters as sub, boundwise._boundwise as m\ntry:\n"
                "    sub.run_string(sub.create(), 'import boundwise._boundwise')\nexcept Exception as e:\n"
                "    print('refused', e)\nprint((m.array([1.0]) + 1).values())\n")
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        first, second = done.stdout.splitlines()
        assert first.startswith("refused") and "ImportError" in first and "sub-interpreters" in first
        assert second == "[2.0]"


class TestSignaturesAndNames:
    @pytest.mark.parametrize(
        "obj, signature, doc",
        [(getattr(bw, name), signature, None) for name, signature in sorted(SIGNATURES.items())]
        + [(bw.IntervalArray, "(values, error=0.0)",
            "A NumPy-compatible interval array with guaranteed numerical error bounds."),
           (bw.BoolArray, "(values)", "A NumPy-style boolean array (mask)."),
           (bw.num_threads, "()", "Get the number of Rayon worker threads."),
           (bw.IntervalArray.scale, "($self, scalar)", "Scale the array by an exact scalar (fast path).")]
        + [(getattr(bw.IntervalArray, m), s, None) for m, s in [
            ("reshape", "($self, shape, *extra)"), ("get", "($self, idx)"), ("tolist", "($self)"),
            ("__setstate__", "($self, state)"), ("transpose", "($self)"), ("dot", "($self, other)"),
            ("matmul", "($self, other)")]],
    )
    def test_text_signatures_and_docs(self, obj, signature, doc):
        assert obj.__text_signature__ == signature
        assert obj.__doc__ == doc if doc else obj.__doc__ and not obj.__doc__.startswith(obj.__name__ + "(")

    def test_inspect_reads_the_signatures(self):
        parameters = inspect.signature(bw.linspace).parameters
        assert list(parameters) == ["start", "stop", "num", "endpoint"]
        assert (parameters["num"].default, parameters["endpoint"].default) == (50, True)
        assert parameters["start"].default is inspect.Parameter.empty
        assert inspect.signature(bw.zeros).parameters["extra"].kind is inspect.Parameter.VAR_POSITIONAL

    def test_names(self):
        assert (bw.__doc__, bw.__name__) == ("Python module definition.", "boundwise._boundwise")
        for cls in (bw.IntervalArray, bw.BoolArray):
            name = cls.__name__
            assert (cls.__module__, cls.__qualname__) == ("boundwise._boundwise", name)
            assert repr(cls) == f"<class 'boundwise._boundwise.{name}'>"

    def test_properties_are_read_only(self):
        a = bw.zeros(3)
        for attribute in ["shape", "ndim", "size", "dtype", "itemsize", "nbytes", "strides", "T"]:
            with pytest.raises(AttributeError):
                setattr(a, attribute, 1)


class TestArgumentParsing:
    @pytest.mark.parametrize(
        "call, message",
        # The generic check in test_calling_convention covers every entry with all
        # arguments missing, one unknown keyword and surplus positionals; these
        # are the partial fillings and singular forms it does not reach.
        [
            (lambda: bw.full(3), "full() missing 1 required positional argument: 'value'"),
            (lambda: bw.from_raw_parts([1.0]),
             "from_raw_parts() missing 2 required positional arguments: 'radii' and 'shape'"),
            (lambda: bw.from_raw_parts(shape=[1]),
             "from_raw_parts() missing 2 required positional arguments: 'midpoints' and 'radii'"),
            (lambda: bw.from_raw_parts(radii=[1.0]),
             "from_raw_parts() missing 2 required positional arguments: 'midpoints' and 'shape'"),
            (lambda: bw.zeros(3, extra=2), "zeros() got an unexpected keyword argument 'extra'"),
            (lambda: bw.eye(2, 3, m=3), "eye() got multiple values for argument 'm'"),
            (lambda: bw.zeros(3).copy(1), "IntervalArray.copy() takes 0 positional arguments but 1 was given"),
            (lambda: bw.eye(1, 2, 3, 4), "eye() takes from 1 to 3 positional arguments but 4 were given"),
        ],
    )
    def test_messages(self, call, message):
        raises(TypeError, message, call)

    def test_noargs_function_refuses_arguments(self):
        with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)"):
            bw.num_threads(1)

    def test_keywords_and_extra_positionals_fill_parameters(self):
        assert bw.linspace(stop=1.0, start=0.0, endpoint=False, num=4).values() == [0.0, 0.25, 0.5, 0.75]
        assert bw.eye(n=2, k=1).values() == [0.0, 1.0, 0.0, 0.0]
        assert bw.zeros(shape=(2, 3)).shape == (2, 3)
        assert bw.zeros(2, 3, 4).shape == (2, 3, 4)
        assert bw.zeros(3).reshape(1, 3, 1).shape == (1, 3, 1)

    @pytest.mark.parametrize(
        "call, name, inner",
        [
            (lambda: bw.eye("a"), "n", "'str' object cannot be interpreted as an integer"),
            (lambda: bw.eye(2, 2.5), "m", "'float' object cannot be interpreted as an integer"),
            (lambda: bw.eye(2, k=1.5), "k", "'float' object cannot be interpreted as an integer"),
            (lambda: bw.linspace("a", 1), "start", "must be real number, not str"),
            (lambda: bw.linspace(0, None), "stop", "must be real number, not NoneType"),
            (lambda: bw.arange(0, 1, "x"), "step", "must be real number, not str"),
            (lambda: bw.array([1.0], error="x"), "error", "must be real number, not str"),
            (lambda: bw.from_raw_parts(1, [], []), "midpoints", "'int' object cannot be converted to 'Sequence'"),
            (lambda: bw.from_raw_parts([], "ab", []), "radii", "'str' object cannot be converted to 'Sequence'"),
            (lambda: bw.from_raw_parts([], [], 0), "shape", "'int' object cannot be converted to 'Sequence'"),
            (lambda: bw.zeros(3).get("x"), "idx", "'str' object cannot be interpreted as an integer"),
            (lambda: bw.zeros(3).scale("x"), "scalar", "must be real number, not str"),
            (lambda: bw.BoolArray(3), "values", "'int' object cannot be converted to 'Sequence'"),
            (lambda: bw.BoolArray("abc"), "values", "Can't extract `str` to `Vec`"),
            (lambda: bw.BoolArray([1]), "values", "'int' object cannot be converted to 'PyBool'"),
            (lambda: bw.BoolArray([True, None]), "values", "'NoneType' object cannot be converted to 'PyBool'"),
        ],
    )
    def test_conversion_type_error_is_wrapped_with_cause(self, call, name, inner):
        assert_cause(raises(TypeError, f"argument '{name}': {inner}", call))


class TestBoolArray:
    @pytest.mark.parametrize(
        "values, text",
        [([True, False], "BoolArray([true, false])"), ([], "BoolArray([])"), ((False,), "BoolArray([false])"),
         ([True] * 3, "BoolArray([true, true, true])"), ([np.True_, np.False_], "BoolArray([true, false])")],
    )
    def test_construction_and_text(self, values, text):
        mask = bw.BoolArray(values)
        assert repr(mask) == str(mask) == text
        assert len(mask) == len(values) and mask.tolist() == list(values)

    def test_truth_value(self):
        assert bool(bw.BoolArray([True])) is True and bool(bw.BoolArray([False])) is False
        for values in ([], [True, True]):
            raises(ValueError, AMBIGUOUS, lambda: bool(bw.BoolArray(values)))

    @pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
    @pytest.mark.parametrize("values", [[], [True], [True, False, False, True] * 15])
    def test_pickle_round_trip(self, values, protocol):
        mask = bw.BoolArray(values)
        restored = pickle.loads(pickle.dumps(mask, protocol=protocol))
        assert type(restored) is bw.BoolArray and restored.tolist() == values
        assert restored == mask and restored is not mask

    def test_reduce_and_state(self):
        assert bw.BoolArray([True, False]).__reduce__() == (bw.BoolArray, ([True, False],))
        mask = bw.BoolArray([True])
        assert mask.__getstate__() == [True]
        assert mask.__setstate__([False, False]) is None and mask.tolist() == [False, False]
        assert_cause(raises(TypeError, "argument 'state': 'int' object cannot be converted to 'PyBool'",
                            lambda: mask.__setstate__([1])))
        assert mask.tolist() == [False, False]


def test_subclasses():
    class Tagged(bw.IntervalArray):
        pass

    a = Tagged([1.0, (2.0, 0.5)], error=0.25)  # the class call makes the subclass
    assert type(a) is Tagged and isinstance(a, bw.IntervalArray)
    assert (a.values(), a.radii()) == ([1.0, 2.0], [0.25, 0.5])
    assert type(bw.array(a)) is bw.IntervalArray and bw.array(a).values() == [1.0, 2.0]
    values = [[1.0, (2.0, 0.5)], [3, 4]]
    b, c = bw.IntervalArray(values, 0.125), bw.array(values, error=0.125)
    assert type(b) is bw.IntervalArray and snapshot(b) == snapshot(c)
    t = Tagged([1.0, 2.0])  # operands of every kind
    assert (t + t).values() == [2.0, 4.0] and (1.0 + t).values() == [2.0, 3.0]
    assert (t * bw.array([2.0])).values() == [2.0, 4.0] and (bw.array([2.0]) - t).values() == [1.0, 0.0]
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):  # pickles through from_raw_parts
        p = pickle.loads(pickle.dumps(a, protocol=protocol))
        assert type(p) is bw.IntervalArray and snapshot(p) == snapshot(a)


def _internal_failure():
    try:
        bw._raise_internal_failure("invalid layout")
    except Exception:  # noqa: BLE001 - must not catch it
        pytest.fail("the internal failure was caught by 'except Exception'")
    except BaseException as failure:  # noqa: BLE001
        return failure
    pytest.fail("no internal failure raised")


class TestInternalFailure:
    def test_is_a_base_exception_only_created_once(self):
        failure = _internal_failure()
        cls = type(failure)
        assert cls.__bases__ == (BaseException,) and not isinstance(failure, Exception)
        assert f"{cls.__module__}.{cls.__qualname__}" == "boundwise_runtime.InternalFailure"
        assert "BaseException" in cls.__doc__ and failure.args == ("invalid layout",)
        assert type(_internal_failure()) is cls

    @pytest.mark.parametrize(
        "call",  # 2**59 bytes: below the layout limit, beyond any address space
        [lambda: bw.zeros(2**55), lambda: bw.ones((2**28, 2**27)), lambda: bw.eye(2**28, 2**27),
         lambda: bw.full(2**55, (1.0, 0.5))],
    )
    def test_unsatisfiable_sizes_are_memory_errors(self, call):
        with pytest.raises(MemoryError, match="cannot allocate"):
            call()

    def test_memory_error_for_more_than_the_machine_has(self):
        # 16 TB: refused unless the kernel overcommits without limit.
        try:
            with open("/proc/sys/vm/overcommit_memory") as f:
                if f.read().strip() == "1":
                    pytest.skip("the kernel grants any allocation")
        except OSError:
            pass
        with pytest.raises(MemoryError):
            bw.zeros((10**6, 10**6))
