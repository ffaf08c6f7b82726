#!/usr/bin/env bash
# Fuzzes the module's Python boundary (fuzz/atheris_module.py) with atheris on
# Python 3.11, in two phases:
#
#   1. coverage-guided search against a plain build of the module, for the
#      given time: a crash or an undocumented exception stops it;
#   2. against a build with ASan and UBSan, every input it kept is replayed and
#      then mutated further for half that time.
#
# Two phases because preloading the ASan runtime replaces atheris's coverage
# callbacks with the runtime's own empty ones: under ASan the search is blind,
# so it starts from what the guided search found.
#
#   scripts/fuzz-python.sh [seconds]        (default 600)
#
# Builds and corpus live in build/reliability-atheris/; a failing input is
# written to build/reliability-atheris/artifacts/.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
use_pyenv_interpreters
cd "$ROOT"

seconds=${1:-600}
base=build/reliability-atheris
work=$base/work
artifacts=$base/artifacts
mkdir -p "$work" "$artifacts"

# make_venv NAME [extra config settings...]: a venv with atheris and the module.
make_venv() {
    local venv=$base/$1
    shift
    if [ ! -x "$venv/bin/python" ]; then
        "$BUILD_PYTHON" -m venv "$venv"
        "$venv/bin/python" -m pip install -q --upgrade pip
        "$venv/bin/python" -m pip install -q atheris
    fi
    "$venv/bin/python" -m pip install -q --force-reinstall --no-deps . \
        --config-settings=cmake.build-type=RelWithDebInfo \
        --config-settings=build-dir="$venv-wheel" "$@"
}
make_venv plain
make_venv asan --config-settings=cmake.define.KAV_SANITIZE=address,undefined

echo "== coverage-guided search, ${seconds} s"
nice -n 10 "$base/plain/bin/python" fuzz/atheris_module.py "$work" \
    -max_total_time="$seconds" -max_len=1024 -artifact_prefix="$artifacts/" -print_final_stats=1

echo "== replay of $(ls "$work" | wc -l) inputs, then $((seconds / 2)) s of mutations, under ASan and UBSan"
# The interpreter is not instrumented, so the ASan runtime must be loaded
# first; PYTHONMALLOC=malloc lets it see every Python object allocation.
LD_PRELOAD=$(g++ -print-file-name=libasan.so) PYTHONMALLOC=malloc \
ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
    nice -n 10 "$base/asan/bin/python" fuzz/atheris_module.py "$work" -max_len=1024 \
    -max_total_time=$((seconds / 2)) -artifact_prefix="$artifacts/" -print_final_stats=1
echo "== no input crashed the module or raised an undocumented exception"
