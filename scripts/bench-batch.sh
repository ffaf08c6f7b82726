#!/usr/bin/env bash
# Columnar decoder benchmark: kav_aprs.decode against the per-line parse loop
# and a polars regex, two threads against one, and optionally the resident
# memory of iter_decoded over a generated file. Prints medians and ratios,
# writes bench/results-batch.json and, with matplotlib installed, the chart
# bench/batch-throughput.png.
#
#   scripts/bench-batch.sh                    # timing run, about a minute
#   scripts/bench-batch.sh --repetitions 31   # more samples per median
#   scripts/bench-batch.sh --rss-gb 2         # also iter_decoded over a 2 GB file in /tmp
#
# PYTHON picks the interpreter (default: pyenv's 3.11).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
use_pyenv_interpreters
python=${PYTHON:-python3.11}
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
venv="$ROOT/build/bench-batch/venv-$version"
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q polars matplotlib
# A Release build, as users get it; its own build dir so no other build collides.
CMAKE_BUILD_PARALLEL_LEVEL=2 "$venv/bin/python" -m pip install -q --force-reinstall --no-deps "$ROOT" \
    --config-settings=build-dir="build/bench-batch/wheel-$version"

results="$ROOT/bench/results-batch.json"
# From bench/, so that the installed package and not the source tree is imported.
cd "$ROOT/bench"
"$venv/bin/python" bench_batch.py --json "$results" "$@"
echo "figures written to $results"
"$venv/bin/python" chart.py "$results" "$ROOT/bench/batch-throughput.png"
