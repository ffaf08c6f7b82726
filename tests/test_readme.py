"""The README's Python examples run and print what the README shows."""

import doctest
import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
_TEXT = README.read_text(encoding="utf-8")
# (line number of the block's first line, block text) for every ```python block.
BLOCKS = [
    (_TEXT.count("\n", 0, match.start(1)), match.group(1))
    for match in re.finditer(r"^```python\n(.*?)^```$", _TEXT, flags=re.MULTILINE | re.DOTALL)
]
# A block that shows an optional extra runs where the extra is installed (module shown -> module needed).
EXTRAS = {"kav_aprs.dask": "dask.dataframe"}
# The repr and error texts are long; the README wraps them at blanks.
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE


def run_block(line, block, namespace):
    """Runs one block in namespace and returns doctest's report of its failures."""
    test = doctest.DocTestParser().get_doctest(block, namespace, f"README.md:{line + 1}", str(README), line)
    assert test.examples, "a python block without >>> examples would pass unchecked"
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    report = []
    runner.run(test, out=report.append, clear_globs=False)
    namespace.update(test.globs)  # doctest ran the block in a copy of the namespace
    return runner.failures, "".join(report)


@pytest.mark.parametrize("index", range(len(BLOCKS)), ids=[f"line{line + 1}" for line, _ in BLOCKS])
def test_readme_example(index):
    for shown, needed in EXTRAS.items():
        if shown in BLOCKS[index][1]:
            pytest.importorskip(needed)
    # The README reads as one session: later blocks use names that earlier ones define.
    namespace = {}
    for line, block in BLOCKS[:index]:
        run_block(line, block, namespace)
    failures, report = run_block(*BLOCKS[index], namespace)
    assert failures == 0, report


def test_readme_has_examples():
    assert len(BLOCKS) >= 5
