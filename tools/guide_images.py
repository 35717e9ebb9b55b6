"""Redraws the pictures of docs/guide.md from the guide's own plotting example:

    python tools/guide_images.py     (needs matplotlib)
"""

from __future__ import annotations

import re
from pathlib import Path

DOCS = Path(__file__).resolve().parent.parent / "docs"


def main() -> None:
    text = (DOCS / "guide.md").read_text()
    block = re.search(r"^```python\n(# needs: matplotlib\n.*?)^```$", text, re.MULTILINE | re.DOTALL).group(1)
    namespace: dict = {}
    exec("import boundwise as bw\n" + block, namespace)
    namespace["fig"].savefig(DOCS / "images" / "band.png", dpi=80)


if __name__ == "__main__":
    main()
