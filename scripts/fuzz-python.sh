#!/usr/bin/env bash
# Fuzzes the module's Python boundary (fuzz/atheris_module.py) with atheris
# against a build of the module with ASan and UBSan, on Python 3.11.
#
#   scripts/fuzz-python.sh [seconds]        (default 600)
#
# The module is built into build/reliability-atheris/; new inputs collect in
# build/reliability-atheris/work and a failing input is written to
# build/reliability-atheris/artifacts/.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
use_pyenv_interpreters
cd "$ROOT"

seconds=${1:-600}
base=build/reliability-atheris
venv=$base/venv
mkdir -p "$base/work" "$base/artifacts"

if [ ! -x "$venv/bin/python" ]; then
    python3.11 -m venv "$venv"
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q atheris
fi
"$venv/bin/python" -m pip install -q --force-reinstall --no-deps . \
    --config-settings=cmake.define.KAV_SANITIZE=address,undefined \
    --config-settings=cmake.build-type=RelWithDebInfo \
    --config-settings=build-dir="$base/wheel"

# The interpreter is not instrumented, so the ASan runtime must be loaded
# first; PYTHONMALLOC=malloc lets it see every Python object allocation.
LD_PRELOAD=$(g++ -print-file-name=libasan.so) PYTHONMALLOC=malloc \
ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
    exec nice -n 10 "$venv/bin/python" fuzz/atheris_module.py "$base/work" \
    -max_total_time="$seconds" -max_len=1024 -artifact_prefix="$base/artifacts/" \
    -print_final_stats=1
