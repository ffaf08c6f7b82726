#!/usr/bin/env bash
# Runs every test: the core's C++ tests (CTest) and the Python tests against one
# built abi3 wheel, installed into a fresh virtual environment of each of
# Python 3.10, 3.11, 3.12 and 3.13. Extra arguments go to nox (e.g. -s core).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bootstrap
exec "$NOX_PYTHON" -m nox "$@"
