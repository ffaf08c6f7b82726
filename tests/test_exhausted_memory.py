"""Every allocation of the first import and of each entry point, failed on its
own and in a window (failing_allocations.py runs the trials): each trial ends
in the right result or MemoryError, never in a signal, a hang, another
exception, or an exception that `except Exception` misses."""

import json
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("_testcapi")
if not hasattr(__import__("_testcapi"), "set_nomemory"):
    pytest.skip("this interpreter cannot fail allocations on purpose", allow_module_level=True)

DRIVER = pathlib.Path(__file__).with_name("failing_allocations.py")


def scanned(group):
    run = subprocess.run([sys.executable, str(DRIVER), group], capture_output=True, text=True,
                         timeout=600, check=False)
    assert run.returncode == 0, run.stderr
    return [json.loads(line) for line in run.stdout.splitlines()]


# The group, and the fewest allocations its longest operation must reach: a
# scan that stops short of them stopped before the module did anything.
@pytest.mark.parametrize(("group", "fewest"), [("import", 300), ("entries", 10)])
def test_every_failed_allocation_ends_in_the_result_or_memory_error(group, fewest):
    operations = scanned(group)
    assert operations
    assert max(operation["allocations"] for operation in operations) >= fewest
    wrong = {
        operation["name"]: {outcome: indices for outcome, indices in operation["bad"].items()
                            if not outcome.startswith("skipped: ")}
        for operation in operations
    }
    assert {name: bad for name, bad in wrong.items() if bad} == {}
