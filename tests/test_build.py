"""The built package: extension module, bundled BLAS, re-exports, the demo and CI."""

from __future__ import annotations

import ctypes
import importlib.metadata
import re
import subprocess
import sys
from pathlib import Path

import pytest

import boundwise
from boundwise import _boundwise
from oracles import REPO

PACKAGE_DIR = Path(_boundwise.__file__).resolve().parent
# The scipy-openblas32 library; NumPy's own OpenBLAS (libscipy_openblas64_...) is
# a different library that may be loaded in the same process.
BUNDLED_BLAS = re.compile(r"libscipy_openblas(?!64)[^/]*\.so")


def test_dgemm_through_linked_blas_matches_triple_loop() -> None:
    # Exact small-integer products, direct and along the split-call paths.
    assert _boundwise._dgemm_self_check() == 0.0


def test_extension_is_built_for_the_stable_abi() -> None:
    assert Path(_boundwise.__file__).name.endswith(".abi3.so")


def _bundled_blas() -> set[Path]:
    return {p.resolve() for p in PACKAGE_DIR.iterdir() if BUNDLED_BLAS.fullmatch(p.name)}


def test_loaded_openblas_is_the_copy_inside_the_package() -> None:
    maps = Path("/proc/self/maps")
    if not maps.exists():
        pytest.skip("needs /proc/self/maps")
    mapped = {Path(parts[5]) for parts in (line.split(maxsplit=5) for line in maps.read_text().splitlines())
              if len(parts) == 6 and parts[5].startswith("/")}
    loaded = {p.resolve() for p in mapped if BUNDLED_BLAS.fullmatch(p.name)}
    bundled = _bundled_blas()
    if not bundled:
        # A build against a system BLAS ships no copy and must not reach for one
        # left behind in a temporary build environment.
        assert loaded == set()
        pytest.skip("built against a system BLAS")
    assert loaded == bundled, f"OpenBLAS loaded from {loaded}, package ships {bundled}"


def test_bundled_openblas_is_switched_to_one_thread() -> None:
    # Our worker pool runs the products in parallel; OpenBLAS must not start its own threads.
    bundled = _bundled_blas()
    if not bundled:
        pytest.skip("built against a system BLAS")
    _boundwise._dgemm_self_check()
    assert ctypes.CDLL(str(next(iter(bundled)))).scipy_openblas_get_num_threads() == 1


def test_package_reexports_every_public_name_of_the_extension() -> None:
    public = [name for name in vars(_boundwise) if not name.startswith("_")]
    assert public, "the extension registered no public names"
    assert sorted(boundwise.__all__) == sorted([*public, "where", "__version__"])
    for name in public:
        assert getattr(boundwise, name) is getattr(_boundwise, name), name


def test_versions_agree() -> None:
    assert boundwise.__version__ == _boundwise.__version__
    assert importlib.metadata.version("boundwise") == _boundwise.__version__


# `pip install .` alone brings no NumPy: the demonstration then skips its speed comparison.
WITHOUT_NUMPY = "import sys, runpy; sys.modules['numpy'] = None; runpy.run_module('boundwise', run_name='__main__')"


@pytest.mark.parametrize("numpy", [True, False], ids=["with numpy", "without numpy"])
def test_demonstration_runs(numpy: bool) -> None:
    command = ["-m", "boundwise"] if numpy else ["-c", WITHOUT_NUMPY]
    done = subprocess.run([sys.executable, *command], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith(f"boundwise {boundwise.__version__}")
    assert "BLAS: " in done.stdout and "BLAS threading: " in done.stdout
    assert "encloses the exact value: NO" not in done.stdout
    assert done.stdout.count("encloses the exact value: yes") == 6
    assert "RuntimeWarning" in done.stdout  # the division by an interval holding zero
    assert ("Speed against NumPy" in done.stdout) == numpy


def test_ci_runs_the_readme_test_command() -> None:
    if not (REPO / ".ci" / "run").exists():
        pytest.skip("not run from a checkout")
    block = re.search(r"```(?:bash|sh|console)?\n(.*?)```", (REPO / "README.md").read_text(), re.S)
    assert block, "README.md has no command block"
    commands = [line.strip() for line in block.group(1).splitlines()
                if line.strip() and not line.lstrip().startswith("#")]
    assert "pytest" in commands[-1]
    assert commands[-1] in [line.strip() for line in (REPO / ".ci" / "run").read_text().splitlines()]
