"""Test sessions: the core's C++ tests, one wheel, and pytest on each interpreter."""

import pathlib
import shutil

import nox

ROOT = pathlib.Path(__file__).parent
DIST = ROOT / "dist"
PYTHONS = ["3.10", "3.11", "3.12", "3.13"]

nox.options.sessions = ["core", "wheel", "tests"]
nox.options.error_on_missing_interpreters = True
nox.options.reuse_existing_virtualenvs = False


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
    wheels = sorted(DIST.glob("*.whl"))
    if len(wheels) != 1 or "-cp310-abi3-" not in wheels[0].name:
        session.error(f"expected one cp310-abi3 wheel, found {[w.name for w in wheels]}")


@nox.session(python=PYTHONS)
def tests(session: nox.Session) -> None:
    """Installs the built wheel into a fresh environment and runs pytest."""
    wheels = sorted(DIST.glob("*-cp310-abi3-*.whl"))
    if not wheels:
        session.error("no wheel in dist/: run the 'wheel' session first")
    session.install("pytest", "numpy")
    session.install("--force-reinstall", "--no-deps", str(wheels[0]))
    # Run from tests/ so that the installed module, not the source tree, is imported.
    session.chdir(ROOT / "tests")
    session.run("python", "-m", "pytest", "-q", *session.posargs)
