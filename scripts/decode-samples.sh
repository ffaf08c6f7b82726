#!/usr/bin/env bash
# The main job: installs the package, with its kav-aprs command, into the
# virtual environment .venv (the nox session `install`) and decodes the bundled
# sample lines with `kav-aprs decode` (or decodes with the arguments given, e.g.
# `./scripts/decode-samples.sh --format csv samples/beacons.txt`).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
run_nox -s install
if [ $# -eq 0 ]; then
    cd "$ROOT"
    set -- samples/beacons.txt
fi
exec "$ROOT/.venv/bin/kav-aprs" decode "$@"
