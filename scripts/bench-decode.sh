#!/usr/bin/env bash
# Benchmark of `kav-aprs decode` on a generated file of a million lines (one in
# ten bad), output to a file, one run a case: JSON lines, CSV, Parquet, two
# threads, gzip input, beside the old record-by-record tool and a bare loop of
# parse calls. Prints the table and writes bench/results-decode.json.
#
#   scripts/bench-decode.sh                  # about a minute
#   scripts/bench-decode.sh --lines 200000   # a smaller file
#
# PYTHON picks the interpreter (default: pyenv's 3.11); BENCH_TMP the
# directory of the generated files (default: the system's temporary directory).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
use_pyenv_interpreters
python=${PYTHON:-python3.11}
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
venv="$ROOT/build/bench-decode/venv-$version"
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q pyarrow
# A Release build, as users get it; its own build dir so no other build collides.
CMAKE_BUILD_PARALLEL_LEVEL=2 "$venv/bin/python" -m pip install -q --force-reinstall --no-deps "$ROOT" \
    --config-settings=build-dir="build/bench-decode/wheel-$version"

results="$ROOT/bench/results-decode.json"
# From bench/, so that the installed package and not the source tree is imported.
cd "$ROOT/bench"
"$venv/bin/python" bench_decode.py --json "$results" "$@"
echo "figures written to $results"
