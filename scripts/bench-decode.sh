#!/usr/bin/env bash
# Benchmark of `kav-aprs decode` on a generated file of a million lines (one in
# ten bad), output to a file, one run a case (--repetitions N: medians of N
# interleaved rounds): JSON lines, CSV, Parquet, two
# threads, gzip input, beside the old record-by-record tool and a bare loop of
# parse calls. Prints the table and writes bench/results-decode.json.
#
#   scripts/bench-decode.sh                  # about a minute
#   scripts/bench-decode.sh --lines 200000   # a smaller file
#
# PYTHON picks the interpreter (default: the build interpreter noxfile.py
# names); BENCH_TMP the
# directory of the generated files (default: the system's temporary directory).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
run_nox_on_python -s bench_decode -- "$@"
