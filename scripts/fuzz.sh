#!/usr/bin/env bash
# Long libFuzzer run of the beacon parser under ASan and UBSan (the nox session
# `fuzz`, which builds build/reliability-libfuzzer with clang).
#
#   scripts/fuzz.sh [seconds]        (default 1800)
#
# New inputs collect in build/reliability-libfuzzer/work; a crash leaves its
# input in build/reliability-libfuzzer/artifacts/ (minimise it with
# -minimize_crash=1, then commit it to fuzz/corpus/ with a test). The last
# lines printed are libFuzzer's final statistics.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages clang libclang-rt-14-dev cmake ninja-build
run_nox -s fuzz -- "$@"
