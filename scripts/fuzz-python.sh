#!/usr/bin/env bash
# Fuzzes the module's Python boundary (fuzz/atheris_module.py) with atheris
# (the nox session `fuzz_python`), in two phases:
#
#   1. coverage-guided search against a plain build of the module, for the
#      given time: a crash or an undocumented exception stops it;
#   2. against a build with ASan and UBSan, every input it kept is replayed and
#      then mutated further for half that time.
#
#   scripts/fuzz-python.sh [seconds]        (default 600)
#
# Builds and corpus live in build/reliability-atheris/; a failing input is
# written to build/reliability-atheris/artifacts/.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
run_nox -s fuzz_python -- "$@"
