"""The installed module is the one abi3 build that serves every interpreter."""

import importlib.machinery
import pathlib

import kav_aprs_parser_pyo3


def test_extension_is_built_for_the_stable_abi():
    path = pathlib.Path(kav_aprs_parser_pyo3.__file__)
    assert path.name.endswith(".abi3.so")
    assert ".abi3.so" in importlib.machinery.EXTENSION_SUFFIXES


def test_module_docstring_is_empty_text():
    assert kav_aprs_parser_pyo3.__doc__ == ""
