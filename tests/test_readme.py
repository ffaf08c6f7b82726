"""Every code block of the README works as written, and prints what it shows.

- ``python`` blocks run as one doctest session, in a directory holding the
  checkout's samples, their outputs compared as printed (``...`` elides);
- ``console`` blocks run each ``$`` command with bash in such a directory,
  standard error with standard output, the output compared the same way;
- ``sh`` blocks, which install or reach the network, are checked without
  running: a ``kav-aprs`` command line parses, a script exists, a pip
  install names only extras that pyproject.toml declares;
- ``py`` blocks, which need a cluster or a server, compile and import only
  names that exist.
"""

import ast
import doctest
import importlib
import importlib.metadata
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

import pytest

from kav_aprs import cli

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
_TEXT = README.read_text(encoding="utf-8")
# (language, line number of the block's first line, block text) for every fenced block.
BLOCKS = [
    (match.group(1), _TEXT.count("\n", 0, match.start(2)), match.group(2))
    for match in re.finditer(r"^```(\w*)\n(.*?)^```$", _TEXT, flags=re.MULTILINE | re.DOTALL)
]
CHECKER = doctest.OutputChecker()
# A block that shows an optional extra runs where the extra is installed (module shown -> module needed).
EXTRAS = {"kav_aprs.dask": "dask.dataframe", "polars": "polars", "duckdb": "duckdb", "pyarrow": "pyarrow"}


def blocks(language):
    return [(line, text) for lang, line, text in BLOCKS if lang == language]


@pytest.fixture(scope="module")
def checkout_copy(tmp_path_factory):
    """A directory with the checkout's samples, where the README's examples run."""
    work = tmp_path_factory.mktemp("readme")
    shutil.copytree(ROOT / "samples", work / "samples")
    return work


def test_every_block_has_a_language_the_tests_know():
    assert {language for language, _, _ in BLOCKS} <= {"python", "console", "sh", "py", "text"}
    assert len(blocks("python")) >= 5 and blocks("console")


def run_block(line, block, namespace):
    """Runs one block in namespace and returns doctest's report of its failures."""
    test = doctest.DocTestParser().get_doctest(block, namespace, f"README.md:{line + 1}", str(README), line)
    assert test.examples, "a python block without >>> examples would pass unchecked"
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    runner.run(test, out=report.append, clear_globs=False)
    namespace.update(test.globs)  # doctest ran the block in a copy of the namespace
    return runner.failures, "".join(report)


PYTHON = blocks("python")


@pytest.mark.parametrize("index", range(len(PYTHON)), ids=[f"line{line + 1}" for line, _ in PYTHON])
def test_python_example(index, checkout_copy, monkeypatch):
    for shown, needed in EXTRAS.items():
        if shown in PYTHON[index][1]:
            pytest.importorskip(needed)
    monkeypatch.chdir(checkout_copy)
    # The README reads as one session: later blocks use names that earlier ones define.
    namespace = {}
    for line, block in PYTHON[:index]:
        run_block(line, block, namespace)
    failures, report = run_block(*PYTHON[index], namespace)
    assert failures == 0, report


def commands_of(block):
    """(command, expected output) for each ``$`` line of a console block."""
    pairs = []
    for text in block.splitlines(keepends=True):
        if text.startswith("$ "):
            pairs.append([text[2:].strip(), ""])
        else:
            pairs[-1][1] += text
    return pairs


CONSOLE = blocks("console")


@pytest.mark.parametrize("index", range(len(CONSOLE)), ids=[f"line{line + 1}" for line, _ in CONSOLE])
def test_console_example(index, checkout_copy):
    environment = {**os.environ, "PATH": f"{pathlib.Path(sys.executable).parent}{os.pathsep}{os.environ['PATH']}"}
    for command, expected in commands_of(CONSOLE[index][1]):
        run = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=checkout_copy, env=environment,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        assert CHECKER.check_output(expected, run.stdout, doctest.ELLIPSIS), (command, run.stdout)
        assert run.returncode == 0, (command, run.stdout)


def extras_declared():
    return set(importlib.metadata.metadata("kav_aprs_parser_pyo3").get_all("Provides-Extra") or ())


SHELL_LINES = [(line, text.split("#")[0].strip()) for line, block in blocks("sh") for text in block.splitlines()
               if text.split("#")[0].strip()]


@pytest.mark.parametrize("line, command", SHELL_LINES, ids=[command.split()[0] for _, command in SHELL_LINES])
def test_shell_line_is_one_the_package_provides(line, command):
    words = shlex.split(command)
    if words[0] == "kav-aprs":
        cli.build_parser().parse_args(words[1:])
    elif words[0].startswith("./scripts/"):
        assert os.access(ROOT / words[0], os.X_OK), words[0]
    else:
        assert words[:2] == ["pip", "install"], command
        for extra in re.findall(r"\[(\w+)\]", command):
            assert extra in extras_declared(), command


PY = blocks("py")


@pytest.mark.parametrize("index", range(len(PY)), ids=[f"line{line + 1}" for line, _ in PY])
def test_sketch_imports_what_exists(index):
    tree = ast.parse(PY[index][1])
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom):
            module = pytest.importorskip(node.module) if node.module.startswith("kav_aprs.dask") \
                else importlib.import_module(node.module)
            for alias in node.names:
                assert hasattr(module, alias.name), (node.module, alias.name)
        elif isinstance(node, ast.Import):
            for alias in node.names:
                pytest.importorskip(alias.name)
