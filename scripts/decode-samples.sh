#!/usr/bin/env bash
# The main job: installs the package, with its kav-aprs command, into the
# virtual environment .venv and decodes the bundled sample lines with
# `kav-aprs decode` (or decodes with the arguments given, e.g.
# `./scripts/decode-samples.sh --format csv samples/beacons.txt`).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
use_pyenv_interpreters
venv="$ROOT/.venv"
[ -x "$venv/bin/python" ] || "$BUILD_PYTHON" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q "$ROOT[parquet]"
if [ $# -eq 0 ]; then
    cd "$ROOT"
    set -- samples/beacons.txt
fi
exec "$venv/bin/kav-aprs" decode "$@"
