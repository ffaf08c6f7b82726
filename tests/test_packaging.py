"""The installed module is the one abi3 build that serves every interpreter,
on every glibc from 2.17 on, and its distribution says what it is."""

import importlib.machinery
import importlib.metadata
import os
import pathlib
import re
import shutil
import subprocess

import pytest

import kav_aprs_parser_pyo3

DISTRIBUTION = "kav_aprs_parser_pyo3"
METADATA = importlib.metadata.metadata(DISTRIBUTION)
CHANGELOG = pathlib.Path(__file__).resolve().parent.parent / "CHANGELOG.md"
# The oldest glibc the release wheel promises (manylinux2014).
OLDEST_GLIBC = (2, 17)
# Shared libraries every Linux with that glibc has; libstdc++ is not one of them.
SYSTEM_LIBRARIES = {"libc.so.6", "libm.so.6", "libgcc_s.so.1", "libpthread.so.0", "libdl.so.2"}


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


def _dynamic_section():
    """(shared libraries needed, {library: versions required}) of the installed module, from objdump -p."""
    objdump = shutil.which("objdump")
    if objdump is None:
        pytest.skip("objdump (binutils) is not installed")
    if os.environ.get("KAV_TESTS_INSTRUMENTED"):
        pytest.skip("sanitized builds keep the C++ runtime shared")
    out = subprocess.run(
        [objdump, "-p", kav_aprs_parser_pyo3.__file__], check=True, capture_output=True, text=True
    ).stdout
    needed = set(re.findall(r"^\s*NEEDED\s+(\S+)", out, flags=re.MULTILINE))
    required, library = {}, None
    for line in out.split("Version References:")[-1].splitlines():
        if match := re.match(r"\s*required from (\S+):", line):
            library = match.group(1)
        elif library and (match := re.match(r"\s*0x\w+ 0x\w+ \d+ (\S+)", line)):
            required.setdefault(library, set()).add(match.group(1))
    return needed, required


def test_module_needs_only_libraries_every_glibc_system_has():
    needed, _ = _dynamic_section()
    unexpected = {name for name in needed if not name.startswith("ld-linux")} - SYSTEM_LIBRARIES
    assert not unexpected, f"the module needs {unexpected}: is the C++ runtime still linked in?"


def test_module_needs_no_glibc_symbol_newer_than_the_oldest_promised():
    _, required = _dynamic_section()
    versions = {v for names in required.values() for v in names if v.startswith("GLIBC_")}
    assert versions, "no GLIBC_ version references found: objdump output not understood"
    too_new = sorted(
        v for v in versions
        if tuple(int(part) for part in v.removeprefix("GLIBC_").split(".")[:2]) > OLDEST_GLIBC
    )
    assert not too_new, f"the module needs {too_new}, newer than glibc {OLDEST_GLIBC}"


@pytest.mark.parametrize(
    "field, pattern",
    [
        # Older pip and other tools show only the licence's text and classifier.
        ("License", r"^MIT$"),
        ("Author", r"\w"),
        ("Requires-Python", r"^>=3\.10$"),
        ("Keywords", r"\baprs\b"),
    ],
)
def test_metadata_field(field, pattern):
    # Author comes out as Author or Author-email depending on whether an address is given.
    values = METADATA.get_all(field) or METADATA.get_all(f"{field}-email") or []
    assert any(re.search(pattern, value) for value in values), f"{field}: {values}"


@pytest.mark.parametrize("label", ["Homepage", "Documentation", "Changelog", "Issues"])
def test_project_url(label):
    urls = dict(entry.split(", ", 1) for entry in METADATA.get_all("Project-URL") or [])
    assert urls.get(label, "").startswith("https://"), urls


@pytest.mark.parametrize(
    "classifier",
    [
        "Typing :: Typed",
        "Operating System :: POSIX :: Linux",
        "Programming Language :: Python :: 3.10",
        "Programming Language :: Python :: 3.11",
        "Programming Language :: Python :: 3.12",
        "Programming Language :: Python :: 3.13",
        "Topic :: Communications :: Ham Radio",
        "License :: OSI Approved :: MIT License",
    ],
)
def test_classifier(classifier):
    assert classifier in (METADATA.get_all("Classifier") or [])


def test_licence_file_is_installed():
    files = importlib.metadata.files(DISTRIBUTION) or []
    licences = [f for f in files if f.name == "LICENSE"]
    assert licences and "MIT" in licences[0].read_text()


def test_changelog_names_the_installed_version_as_the_newest_release():
    releases = re.findall(r"^## (\d+\.\d+\.\d+)\b", CHANGELOG.read_text(encoding="utf-8"), flags=re.MULTILINE)
    assert releases and releases[0] == importlib.metadata.version(DISTRIBUTION)


def test_the_package_reports_the_distributions_version():
    kav_aprs = pytest.importorskip("kav_aprs")
    assert kav_aprs.__version__ == importlib.metadata.version(DISTRIBUTION)

