#!/usr/bin/env bash
# Core parser benchmark (the nox session `bench_core`: kav_core_bench in a
# Release build in build/bench): the median of each case over the corpus in
# bench/corpus/, the parser line by line (time per line) and the batch decoder
# over buffers of the same lines (time per buffer); items_per_second is lines
# a second for both. Extra arguments go to the benchmark, e.g.
# --benchmark_filter=Valid.
#
#   scripts/bench-core.sh                 # 10 repetitions
#   REPETITIONS=30 scripts/bench-core.sh  # more samples per median
#
# Read the CPU column on a shared machine: wall time includes waiting for the
# processor. The "Library was built as DEBUG" warning is about Debian's build
# of Google Benchmark itself, not about the code measured.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build libbenchmark-dev
run_nox -s bench_core -- "$@" | grep -vE '_(mean|stddev|cv) '
