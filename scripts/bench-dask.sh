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
# PYTHON picks the interpreter (default: the build interpreter noxfile.py names).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
run_nox_on_python -s bench_dask -- "$@"
