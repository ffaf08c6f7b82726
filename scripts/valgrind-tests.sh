#!/usr/bin/env bash
# Runs the Python test suite once under valgrind's leak checker and counts the
# memory "definitely lost" in the module's own frames, which must be 0.
#
#   scripts/valgrind-tests.sh [pytest arguments]
#
# The interpreter loses some blocks of its own at exit; only loss records whose
# allocation stack passes through the module count. The full valgrind log is
# kept in build/reliability-valgrind/valgrind.log.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages valgrind g++ cmake ninja-build
use_pyenv_interpreters
cd "$ROOT"

base=build/reliability-valgrind
venv=$base/venv
log=$base/valgrind.log
mkdir -p "$base"
if [ ! -x "$venv/bin/python" ]; then
    "$BUILD_PYTHON" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q pytest numpy mypy
fi
# Debug information gives the loss records readable frames.
"$venv/bin/python" -m pip install -q --force-reinstall --no-deps . \
    --config-settings=cmake.build-type=RelWithDebInfo --config-settings=build-dir="$base/wheel"

status=0
(
    cd tests
    PYTHONMALLOC=malloc KAV_TESTS_INSTRUMENTED=valgrind \
        valgrind --leak-check=full --show-leak-kinds=definite --num-callers=50 \
        --log-file="$ROOT/$log" "$ROOT/$venv/bin/python" -m pytest -q -p no:cacheprovider "$@"
) || status=$?

leak_status=0
"$venv/bin/python" - "$log" <<'PY' || leak_status=$?
import re
import sys

log = open(sys.argv[1], encoding="utf-8", errors="replace").read()
# A record is a header line followed by its stack frames. Frames of the module
# name its C++ namespace (with debug information) or its shared object.
FRAMES = r"((?:==\d+==\s+(?:at|by) .*\n)+)"
MODULE = re.compile(r"kav::|kav_aprs_parser_pyo3")
losses = re.findall(r"==\d+== ([\d,]+) (?:\(.*?\) )?bytes in [\d,]+ blocks are definitely lost"
                    r".*\n" + FRAMES, log)
errors = re.findall(r"==\d+== ((?:Invalid|Use of uninit|Conditional jump|Mismatched|Source and "
                    r"destination|Argument).*)\n" + FRAMES, log)
lost = [int(size.replace(",", "")) for size, frames in losses if MODULE.search(frames)]
# Errors count only where the module itself made the access: the interpreter's
# own cycle collector trips valgrind from anywhere, deep below module frames.
bad = [kind for kind, frames in errors if MODULE.search("".join(frames.splitlines(True)[:3]))]
total = re.search(r"definitely lost: ([\d,]+) bytes in ([\d,]+) blocks", log)
print(f"valgrind: definitely lost overall: {total.group(1) if total else 0} bytes "
      f"in {total.group(2) if total else 0} blocks (interpreter included)")
print(f"valgrind: definitely lost in the module's frames: {sum(lost)} bytes (with blocks they held) "
      f"in {len(lost)} loss records")
print(f"valgrind: memory errors in the module's frames: {len(bad)}")
sys.exit(1 if lost or bad else 0)
PY
[ "$status" -eq 0 ] || echo "the test suite failed under valgrind (exit $status)" >&2
exit $(( status != 0 || leak_status != 0 ))
