"""The kav_aprs package as installed: version, typing, and its extension's exports."""

import importlib.metadata
import pathlib
import shutil
import subprocess
import sys

import pytest

import kav_aprs
from kav_aprs import _native

SNIPPET = """\
import io
import kav_aprs

decoded = kav_aprs.decode(b"X1>KAFLR")
chunks = kav_aprs.iter_decoded(io.BytesIO(b""))
reveal_type(decoded)
reveal_type(decoded.beacons)
reveal_type(decoded.failures)
reveal_type(chunks)
kav_aprs.decode("text")
kav_aprs.iter_decoded("-", batch_bytes="8M")
"""
REVEALED = [
    "kav_aprs._decoded.Decoded",
    "kav_aprs._native.ArrowBatch",
    "dict[str, int]",
    "typing.Iterator[kav_aprs._decoded.Decoded]",
]


def test_version_is_the_distribution_version():
    assert kav_aprs.__version__ == importlib.metadata.version("kav_aprs_parser_pyo3")


def test_the_package_ships_its_type_information():
    package = pathlib.Path(kav_aprs.__file__).parent
    assert (package / "py.typed").is_file() and (package / "_native.pyi").is_file()
    assert pathlib.Path(_native.__file__).name == "_native.abi3.so"


def test_mypy_knows_the_package_types(tmp_path):
    (tmp_path / "snippet.py").write_text(SNIPPET)
    out = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--no-error-summary",
         "snippet.py"], cwd=tmp_path, capture_output=True, text=True,
    ).stdout
    revealed = [line.split('Revealed type is "')[1].rstrip('"') for line in out.splitlines()
                if "Revealed type" in line]
    assert revealed == REVEALED
    errors = [int(line.split(":")[1]) for line in out.splitlines() if ": error:" in line]
    assert errors == [10, 11], out


def test_only_the_init_function_is_exported():
    # Both extensions carry the same core: any other exported symbol could bind to the wrong copy.
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm (binutils) is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", _native.__file__],
                         check=True, capture_output=True, text=True).stdout
    assert {line.split()[-1] for line in out.splitlines() if line.strip()} == {"PyInit__native"}
