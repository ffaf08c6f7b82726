#!/usr/bin/env bash
# Dask reader benchmark: read_beacons on one and on two single-threaded workers
# of a local cluster against iter_decoded on one thread, over a generated
# archive of about 2 GiB in /tmp (made on the first run, reused after). Prints
# medians and ratios and writes bench/results-dask.json.
#
#   scripts/bench-dask.sh                      # five rounds, a few minutes
#   scripts/bench-dask.sh --repetitions 9      # more rounds per median
#   scripts/bench-dask.sh --blocksizes 16MiB,32MiB,64MiB,128MiB,256MiB
#                                              # also two workers at each block size
#
# PYTHON picks the interpreter (default: pyenv's 3.11).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
# The dask extra as the package declares it.
bench_package_venv bench-dask "$ROOT[dask]"

results="$ROOT/bench/results-dask.json"
# From bench/, so that the installed package and not the source tree is imported.
cd "$ROOT/bench"
"$BENCH_PYTHON" bench_dask.py --json "$results" "$@"
echo "figures written to $results"
