"""The Python package around the extension: type stubs that match the built
module, where, and the optional plotting helper."""

from __future__ import annotations

import inspect
import math
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import boundwise as bw

PACKAGE = Path(bw.__file__).resolve().parent


def run_mypy_tool(args: list[str], cache: Path) -> subprocess.CompletedProcess:
    env = {**os.environ, "MYPY_CACHE_DIR": str(cache)}
    # From a source tree (an editable install) mypy reads the package beside the
    # working directory; an installed package it finds in site-packages, and
    # site-packages itself must not be the working directory (its top-level
    # modules would shadow mypy's own).
    installed = PACKAGE.parent.name.endswith("-packages")
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, env=env, timeout=240,
                          cwd=cache if installed else PACKAGE.parent)


@pytest.fixture(scope="module")
def mypy_cache(request, tmp_path_factory) -> Path:
    pytest.importorskip("mypy.stubtest")
    cache = getattr(request.config, "cache", None)  # absent under -p no:cacheprovider
    return cache.mkdir("mypy") if cache is not None else tmp_path_factory.mktemp("mypy")


def test_stubs_match_the_extension(mypy_cache):
    done = run_mypy_tool(["mypy.stubtest", "boundwise._boundwise", "--concise"], mypy_cache)
    assert done.returncode == 0, (
        "src/boundwise/_boundwise.pyi disagrees with the built extension. Add what is missing (with its "
        "signature and, where the result depends on the arguments, overloads) and mend what differs:\n"
        + done.stdout + done.stderr)


def test_package_type_checks_against_its_stubs(mypy_cache, tmp_path):
    allowlist = tmp_path / "allowlist.txt"
    # __all__ is computed from the extension at import (checked in test_build);
    # the bundled BLAS library sits in the package but is no module.
    allowlist.write_text("boundwise.__all__\nboundwise.libscipy_openblas\n")
    done = run_mypy_tool(["mypy.stubtest", "boundwise", "--concise", "--allowlist", str(allowlist),
                          "--ignore-unused-allowlist"], mypy_cache)
    assert done.returncode == 0, done.stdout + done.stderr


def test_overloads_give_the_result_types(mypy_cache, tmp_path):
    script = tmp_path / "typed_use.py"
    script.write_text(textwrap.dedent("""
        from typing import assert_type
        import array
        import numpy as np
        import boundwise as bw

        a = bw.array(np.zeros((2, 3)), error=0.1)
        b = bw.from_raw_parts(np.asarray(a.mid), np.asarray(a.rad), a.shape)
        assert_type(a.sum(), tuple[float, float])
        assert_type(a.sum(axis=0), bw.IntervalArray)
        assert_type(a.argmax(), int)
        assert_type(a.argmax(axis=1), list[int])
        assert_type(a.all(), bool)
        assert_type(a.any(0), bw.BoolArray)
        assert_type(a < b, bw.BoolArray)
        assert_type(a == 1.0, bw.BoolArray)
        assert_type(bw.rand(), float)
        assert_type(bw.rand(3, 4), bw.IntervalArray)
        assert_type(bw.normal(size=3), bw.IntervalArray)
        assert_type(bw.where(a > 0, a, 0.0), bw.IntervalArray)
        assert_type(a.mid, memoryview)
        assert_type(bw.array(array.array("d", [1.0])), bw.IntervalArray)
        assert_type(a[0:1], bw.IntervalArray)
    """))
    done = run_mypy_tool(["mypy", "--strict", "--no-error-summary", str(script)], mypy_cache)
    assert done.returncode == 0, done.stdout + done.stderr


class TestWhere:
    def test_signature(self):
        assert list(inspect.signature(bw.where).parameters) == ["condition", "x", "y"]
        assert "where" in bw.__all__

    @pytest.mark.parametrize(
        "condition", [[True, False, True], bw.BoolArray([True, False, True]), bw.array([1.0, 0.0, math.nan]), False],
    )
    def test_selects_like_where_impl(self, condition):
        x, y = bw.array([(1.0, 0.5), (2.0, 0.0), (3.0, 0.25)]), bw.array([(-1.0, 0.0)])
        assert bw.where(condition, x, y).tolist() == bw.where_impl(condition, x, y).tolist()
        assert bw.where(condition, x, 7.0).tolist() == [
            xe if c else (7.0, 0.0)
            for xe, c in zip(x.tolist(), [True, False, True] if condition is not False else [False] * 3)]


def test_importing_the_package_leaves_matplotlib_alone():
    code = "import sys, boundwise; import boundwise.plot; print('matplotlib' in sys.modules)"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "False"


class TestBand:
    @pytest.fixture
    def axes(self):
        matplotlib = pytest.importorskip("matplotlib")
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        fig, ax = plt.subplots()
        yield ax
        plt.close(fig)

    def test_band_spans_each_interval(self, axes):
        from boundwise.plot import band

        a = bw.from_raw_parts([1.0, 2.0, math.nan, 4.0, 5.0], [0.5, 0.0, 1.0, math.inf, 0.25], [5])
        assert band(a, [0.0, 1.0, 2.0, 3.0, 4.0], axes, label="a") is axes
        (line,) = axes.get_lines()
        assert [y if math.isfinite(y) else None for y in line.get_ydata()] == [1.0, 2.0, None, None, 5.0]
        (fill,) = axes.collections
        # Vertices of the filled band per x, from every polygon (gaps split it).
        spans: dict[float, list[float]] = {}
        for path in fill.get_paths():
            for x, y in path.vertices:
                spans.setdefault(float(x), []).append(float(y))
        assert {x: (min(ys), max(ys)) for x, ys in spans.items() if x in (0.0, 1.0, 4.0)} == {
            0.0: (0.5, 1.5), 1.0: (2.0, 2.0), 4.0: (4.75, 5.25)}
        assert 2.0 not in spans and 3.0 not in spans  # no finite bounds: a gap
        assert axes.get_legend_handles_labels()[1] == ["a"]

    @pytest.mark.parametrize(
        "a, x, message",
        [(bw.zeros((2, 2)), None, "band draws one-dimensional arrays, got shape [2, 2]"),
         (bw.zeros(3), [0.0, 1.0], "x has 2 positions for 3 elements")],
    )
    def test_refuses(self, axes, a, x, message):
        from boundwise.plot import band

        with pytest.raises(ValueError) as info:
            band(a, x, axes)
        assert str(info.value) == message and not axes.get_lines()
