#!/usr/bin/env bash
# Runs every test: the core's C++ tests (CTest) and the Python tests against one
# built abi3 wheel, installed into a fresh virtual environment of each
# interpreter noxfile.py names. Extra arguments go to nox (e.g. -s core).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_test_packages
run_nox "$@"
