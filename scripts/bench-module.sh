#!/usr/bin/env bash
# Module benchmark: the parse function against the interpreter's own floor (a
# tiny extension built here into a temporary directory), a pure-Python parser
# and aprslib, on the bundled corpus. Prints medians and ratios and writes
# bench/results-module.json.
#
#   scripts/bench-module.sh                   # timing run, about a minute
#   scripts/bench-module.sh --repetitions 31  # more samples per median
#   scripts/bench-module.sh --rss 10000000    # memory mode: resident size over 10 million
#                                             # parses, into bench/results-module-rss.json
#
# PYTHON picks the interpreter (default: the build interpreter noxfile.py names).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
run_nox_on_python -s bench_module -- "$@"
