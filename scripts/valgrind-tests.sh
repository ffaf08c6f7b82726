#!/usr/bin/env bash
# Runs the Python test suite once under valgrind's leak checker (the nox
# session `valgrind_tests`) and counts the memory "definitely lost" in the
# module's own frames, which must be 0.
#
#   scripts/valgrind-tests.sh [pytest arguments]
#
# The interpreter loses some blocks of its own at exit; only loss records whose
# allocation stack passes through the module count. The full valgrind log is
# kept in build/reliability-valgrind/valgrind.log.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages valgrind g++ cmake ninja-build
run_nox -s valgrind_tests -- "$@"
