"""The guide's examples run: ```python blocks with a prompt as doctests, the others
as scripts, all blocks of a file in one namespace, in order. A block whose first
line is "# needs: <module>" is skipped where that module is missing (the others
still run)."""

from __future__ import annotations

import doctest
import importlib.util
import re
import warnings
from pathlib import Path

import pytest

DOCS = Path(__file__).resolve().parent.parent / "docs"
FENCE = re.compile(r"^```python\n(.*?)^```$", re.MULTILINE | re.DOTALL)
GUIDES = sorted(DOCS.glob("*.md"))


def python_blocks(path: Path) -> list[tuple[int, str]]:
    text = path.read_text()
    return [(text.count("\n", 0, m.start()) + 2, m.group(1)) for m in FENCE.finditer(text)]


def test_the_guide_has_examples():
    assert GUIDES and all(python_blocks(path) for path in GUIDES)


@pytest.mark.parametrize("path", GUIDES, ids=lambda p: p.name)
def test_examples_run(path):
    namespace: dict = {"__name__": "__guide__"}
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    parser = doctest.DocTestParser()
    for line, block in python_blocks(path):
        needs = re.match(r"# needs: (\w+)", block)
        if needs and importlib.util.find_spec(needs.group(1)) is None:
            continue
        if ">>>" not in block:
            exec(compile(block, f"{path.name}:{line}", "exec"), namespace)
            continue
        test = parser.get_doctest(block, namespace, f"{path.name}:{line}", str(path), line - 1)
        # Examples that expect a warning record it themselves.
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            runner.run(test, clear_globs=False)
        namespace.update(test.globs)  # a DocTest runs on a copy of the names it was given
    results = runner.summarize(verbose=False)
    assert results.attempted > 0
    assert results.failed == 0, f"{results.failed} example(s) of {path.name} failed (output above)"
