"""The installed module is the one abi3 build that serves every interpreter."""

import importlib.machinery
import pathlib
import shutil
import subprocess

import pytest

import kav_aprs_parser_pyo3


def test_extension_is_built_for_the_stable_abi():
    path = pathlib.Path(kav_aprs_parser_pyo3.__file__)
    assert path.name.endswith(".abi3.so")
    assert ".abi3.so" in importlib.machinery.EXTENSION_SUFFIXES


def test_module_docstring_is_empty_text():
    assert kav_aprs_parser_pyo3.__doc__ == ""


def test_only_the_init_function_is_exported():
    # Any other exported symbol could clash with another extension's copy of the
    # same C++ code loaded into the same process.
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm (binutils) is not installed")
    out = subprocess.run(
        [nm, "-D", "--defined-only", kav_aprs_parser_pyo3.__file__],
        check=True, capture_output=True, text=True,
    ).stdout
    exported = {line.split()[-1] for line in out.splitlines() if line.strip()}
    assert exported == {"PyInit_kav_aprs_parser_pyo3"}
