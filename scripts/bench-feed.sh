#!/usr/bin/env bash
# Feed benchmark: lines a second that kav_aprs.feed decodes from a loopback
# server bursting 1,000,000 lines, against reading the same bytes from a plain
# socket and decoding them in memory, measured in the same run. Prints medians
# and ratios and writes bench/results-feed.json.
#
#   scripts/bench-feed.sh                      # 5 repetitions, about half a minute
#   scripts/bench-feed.sh --repetitions 11     # more samples per median
#
# PYTHON picks the interpreter (default: pyenv's 3.11).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
use_pyenv_interpreters
python=${PYTHON:-python3.11}
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
venv="$ROOT/build/bench-feed/venv-$version"
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
# A Release build, as users get it; its own build dir so no other build collides.
"$venv/bin/python" -m pip install -q --force-reinstall --no-deps "$ROOT" \
    --config-settings=build-dir="build/bench-feed/wheel-$version"
# From bench/, so that the installed package and not the source tree is imported.
cd "$ROOT/bench"
"$venv/bin/python" bench_feed.py --json "$ROOT/bench/results-feed.json" "$@"
echo "figures written to $ROOT/bench/results-feed.json"
