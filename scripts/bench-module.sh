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
# PYTHON picks the interpreter (default: pyenv's 3.11).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
source "$ROOT/bench/prepare_env.sh"
prepare_bench_env

results="$ROOT/bench/results-module.json"
for arg in "$@"; do
    [ "$arg" = --rss ] && results="$ROOT/bench/results-module-rss.json"
done
# From bench/, so that the installed module and not the source tree is imported.
cd "$ROOT/bench"
PYTHONPATH="$FLOOR_DIR" "$BENCH_PYTHON" bench_module.py --json "$results" "$@"
echo "figures written to $results"
