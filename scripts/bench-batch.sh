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
bench_venv bench-batch polars matplotlib

results="$ROOT/bench/results-batch.json"
# From bench/, so that the installed package and not the source tree is imported.
cd "$ROOT/bench"
"$BENCH_PYTHON" bench_batch.py --json "$results" "$@"
echo "figures written to $results"
"$BENCH_PYTHON" chart.py "$results" "$ROOT/bench/batch-throughput.png"
