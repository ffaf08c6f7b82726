"""How the project builds: every build is a nox session the scripts only call, and the valgrind log's reading."""

import ast
import importlib.util
import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
SCRIPTS = sorted((ROOT / "scripts").glob("*.sh")) + sorted((ROOT / "bench").glob("*.sh"))


NOXFILE = ast.parse((ROOT / "noxfile.py").read_text(encoding="utf-8"))
# The functions of noxfile.py that are sessions.
SESSIONS = [node for node in NOXFILE.body if isinstance(node, ast.FunctionDef)
            and any("nox.session" in ast.unparse(decorator) for decorator in node.decorator_list)]


def _noxfile():
    """The session names noxfile.py defines and the ones `nox` runs by default."""
    (default,) = [ast.literal_eval(node.value) for node in NOXFILE.body if isinstance(node, ast.Assign)
                  and ast.unparse(node.targets[0]) == "nox.options.sessions"]
    return {session.name for session in SESSIONS}, set(default)


def _sessions_run_by(script):
    return set(re.findall(r"nox\w*(?: [^\n]*?)? -s (\w+)", script.read_text(encoding="utf-8")))


def test_the_scripts_run_only_sessions_that_exist_and_the_test_run_stays_without_the_long_ones():
    sessions, default = _noxfile()
    assert default <= sessions
    for script in SCRIPTS:
        named = _sessions_run_by(script)
        assert named <= sessions, f"{script.name} runs sessions noxfile.py lacks: {named - sessions}"
        if script.name != "test.sh":
            assert not named & default, f"{script.name}'s long run would slow every test run: {named & default}"


def _runs_pytest(session):
    """Whether a session's body runs the pytest suite: names pytest as a word or calls _pytest."""
    return any(isinstance(node, ast.Constant) and node.value == "pytest"
               or isinstance(node, ast.Name) and node.id == "_pytest" for node in ast.walk(session))


def test_every_session_running_the_suite_installs_the_one_list_of_test_dependencies():
    running = [session for session in SESSIONS if _runs_pytest(session)]
    assert {"tests", "tests_asan", "valgrind_tests"} <= {session.name for session in running}
    for session in running:
        names = {node.id for node in ast.walk(session) if isinstance(node, ast.Name)}
        assert "TEST_DEPENDENCIES" in names, f"{session.name} runs pytest without TEST_DEPENDENCIES"


def test_sessions_sharing_a_build_directory_build_it_alike():
    """Two settings in one directory would rebuild each other's objects, or install the other's module."""
    settings = {}
    for call in ast.walk(NOXFILE):
        if isinstance(call, ast.Call) and ast.unparse(call.func) == "_install_checkout":
            directory, *rest = map(ast.unparse, call.args[1:])
            settings.setdefault(directory, set()).add(tuple(rest))
    assert settings["SANITIZED_TEST_BUILD_DIR"] == {("*SANITIZED_TEST_BUILD",)}
    assert all(len(alike) == 1 for alike in settings.values()), settings


# lib.sh installs nox itself, which the sessions need before they can build anything.
BUILDING_SCRIPTS = [script for script in SCRIPTS if script.name != "lib.sh"]


@pytest.mark.parametrize("script", BUILDING_SCRIPTS, ids=[script.name for script in BUILDING_SCRIPTS])
def test_a_script_builds_nothing_itself_and_names_no_interpreter(script):
    text = script.read_text(encoding="utf-8")
    assert not re.search(r"pip install|^\s*cmake |python3\.\d", text, flags=re.MULTILINE)


def _valgrind_losses():
    spec = importlib.util.spec_from_file_location("valgrind_losses", ROOT / "tools" / "valgrind_losses.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def _record(header, *frames):
    return "".join([f"==7== {header}\n", *(f"==7==    {'at' if i == 0 else 'by'} 0x1: {frame}\n"
                                           for i, frame in enumerate(frames)), "==7== \n"])


INTERPRETER = ("malloc (vg_replace_malloc.c:1)", "PyObject_Malloc (obmalloc.c:1)", "main (python.c:1)")
MODULE = ("operator new(unsigned long) (vg_replace_malloc.c:1)", "kav::parse_line (parse.cpp:1)",
          "PyObject_Call (call.c:1)")
DEEP = ("PyObject_GC_Del (gcmodule.c:1)", "subtype_dealloc (typeobject.c:1)", "gc_collect (gcmodule.c:1)",
        "kav::convert (types.cpp:1)")
SUMMARY = "==7==    definitely lost: 48 bytes in 2 blocks\n"


@pytest.mark.parametrize("log, status, counted", [
    (_record("16 bytes in 1 blocks are definitely lost in loss record 1 of 9", *INTERPRETER) + SUMMARY, 0,
     "in the module's frames: 0 bytes"),
    (_record("32 (16 direct, 16 indirect) bytes in 1 blocks are definitely lost in loss record 2 of 9", *MODULE)
     + SUMMARY, 1, "in the module's frames: 32 bytes"),
    (_record("1,024 bytes in 1 blocks are definitely lost in loss record 3 of 9", *MODULE) + SUMMARY, 1,
     "in the module's frames: 1024 bytes"),
    (_record("Invalid read of size 8", *MODULE), 1, "memory errors in the module's frames: 1"),
    (_record("Conditional jump or move depends on uninitialised value(s)", *DEEP), 0,
     "memory errors in the module's frames: 0"),
    ("", 0, "definitely lost overall: 0 bytes in 0 blocks"),
], ids=["interpreter_loss", "module_loss_with_indirect", "thousands_separator", "module_read",
        "error_below_the_collector", "empty_log"])
def test_only_the_module_s_own_losses_and_errors_fail_the_run(tmp_path, capsys, log, status, counted):
    path = tmp_path / "valgrind.log"
    path.write_text(log, encoding="utf-8")
    assert _valgrind_losses().main(str(path)) == status
    assert counted in capsys.readouterr().out


def test_a_missing_log_is_one_line_not_a_traceback(tmp_path, capsys):
    assert _valgrind_losses().main(str(tmp_path / "none.log")) == 2
    error = capsys.readouterr().err
    assert error.startswith("valgrind: cannot read the log") and error.count("\n") == 1
