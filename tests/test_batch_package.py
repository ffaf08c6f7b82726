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
reader = kav_aprs.open(io.BytesIO(b""), jobs=2)
reveal_type(decoded)
reveal_type(decoded.beacons)
reveal_type(decoded.failures)
reveal_type(next(reader))
kav_aprs.decode("text")
kav_aprs.iter_decoded("-", batch_bytes="8M")
"""
REVEALED = [
    "kav_aprs._native.Decoded",
    "kav_aprs._native.ArrowBatch",
    "dict[str, int]",
    "kav_aprs._native.Decoded",
]


def test_version_is_the_distribution_version():
    assert kav_aprs.__version__ == importlib.metadata.version("kav_aprs_parser_pyo3")


# The package's names load when first asked for; every way of asking must find them, in a fresh
# process where nothing has loaded them yet, and a wrong name must still be an AttributeError.
NAME_LOOKUPS = {
    "attribute": "import kav_aprs; print(kav_aprs.decode(b'').lines, kav_aprs.Decoded.__name__)",
    "from_import": "from kav_aprs import Decoded, iter_decoded; print(Decoded.__name__, iter_decoded.__name__)",
    "star_import": "from kav_aprs import *; print(sorted(n for n in dir() if not n.startswith('_')))",
    "dir": "import kav_aprs; print([n for n in kav_aprs.__all__ if n not in dir(kav_aprs)])",
    "unknown": "import kav_aprs\ntry:\n    kav_aprs.Decode\nexcept AttributeError as e:\n    print(e)",
}
NAME_LOOKUP_OUTPUTS = {
    "attribute": "0 Decoded",
    "from_import": "Decoded iter_decoded",
    "star_import": "['DamagedInputError', 'Decoded', 'Reader', 'decode', 'iter_decoded', 'open']",
    "dir": "[]",
    "unknown": "module 'kav_aprs' has no attribute 'Decode'",
}


@pytest.mark.parametrize("lookup", sorted(NAME_LOOKUPS))
def test_the_package_names_are_found_however_asked_for(lookup):
    result = subprocess.run([sys.executable, "-c", NAME_LOOKUPS[lookup]], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == NAME_LOOKUP_OUTPUTS[lookup]


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


def test_a_missing_optional_dependency_names_the_extra_to_install():
    script = ("import sys\nsys.modules['dask'] = None\ntry:\n    import kav_aprs.dask\n"
              "except ImportError as error:\n    print(error)")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60).stdout
    assert "dask.dataframe is not installed" in out and "pip install 'kav_aprs_parser_pyo3[dask]'" in out
