#!/usr/bin/env bash
# Benchmark of `kav-aprs decode` on a generated file of a million lines (one in
# ten bad), output to a file, one run a case: JSON lines, CSV, Parquet, two
# threads, gzip input, beside the old record-by-record tool and a bare loop of
# parse calls. Prints the table and writes bench/results-decode.json.
#
#   scripts/bench-decode.sh                  # about a minute
#   scripts/bench-decode.sh --lines 200000   # a smaller file
#
# PYTHON picks the interpreter (default: pyenv's 3.11); BENCH_TMP the
# directory of the generated files (default: the system's temporary directory).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bench_package_venv bench-decode pyarrow

results="$ROOT/bench/results-decode.json"
# From bench/, so that the installed package and not the source tree is imported.
cd "$ROOT/bench"
"$BENCH_PYTHON" bench_decode.py --json "$results" "$@"
echo "figures written to $results"
