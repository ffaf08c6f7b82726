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
# PYTHON picks the interpreter (default: the build interpreter noxfile.py names).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
run_nox_on_python -s bench_batch -- "$@"
