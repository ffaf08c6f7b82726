#!/usr/bin/env bash
# Feed benchmark: lines a second that kav_aprs.feed decodes from a loopback
# server bursting 1,000,000 lines, against reading the same bytes from a plain
# socket and decoding them in memory, measured in the same run. Prints medians
# and ratios and writes bench/results-feed.json.
#
#   scripts/bench-feed.sh                      # 5 repetitions, about half a minute
#   scripts/bench-feed.sh --repetitions 11     # more samples per median
#
# PYTHON picks the interpreter (default: the build interpreter noxfile.py names).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
run_nox_on_python -s bench_feed -- "$@"
