"""pytest configuration. The shared oracles, strategies and conformance loader
live in oracles.py; the names below stay importable from here for older files."""

from __future__ import annotations

from collections.abc import Iterator
from pathlib import Path

import pytest

from oracles import (  # noqa: F401
    AMBIGUOUS, CONFORMANCE_FILES, CONFORMANCE_PARTS, DATA, DBL_MAX, DIM_CAP, DIVIDE_WARNING, ETA, IN_PLACE, INF, NAN,
    NAN_PAYLOAD, OPS, REPO, SPECIAL_VALUES, Number, Raising, assert_cause, bits, conformance_cases, encloses,
    exact_ends, exact_range, finite_doubles, finite_intervals, from_pairs, intervals, is_wide, mp_bounds, only, pairs,
    quietly, radii_for, raises, read_conformance, snapshot, tightest_element, ulp, warned)


def itf1788_path() -> Path:
    """The complete case file when present, else the bundled Apache subset."""
    full = CONFORMANCE_FILES["lgpl"]
    return full if full.is_file() else CONFORMANCE_FILES["apache"]


def itf1788_cases(ops: set[str]) -> Iterator[dict]:
    """Cases of the given operations from every part present."""
    for part in CONFORMANCE_PARTS:
        yield from read_conformance(part, ops)


def pytest_addoption(parser):
    parser.addoption("--fuzz-long", nargs="?", type=int, const=1000, default=0, metavar="CASES",
                     help="fuzz every entry point with CASES cases (default 1000) and leak-check it with "
                          "10^5 calls (minutes, not seconds)")


@pytest.fixture(scope="session")
def long_run(request) -> bool:
    return request.config.getoption("--fuzz-long") > 0


@pytest.fixture(scope="session")
def fuzz_examples(request) -> int:
    """Hypothesis cases per entry point."""
    return request.config.getoption("--fuzz-long") or 6


@pytest.fixture(scope="session")
def leak_calls(long_run) -> int:
    """Calls per entry point in the leak check."""
    return 100_000 if long_run else 200
