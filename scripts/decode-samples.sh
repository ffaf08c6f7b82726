#!/usr/bin/env bash
# The main job: installs the module into a virtual environment and decodes the
# bundled sample lines (or the files given as arguments).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages g++ cmake ninja-build
use_pyenv_interpreters
venv="$ROOT/.venv"
[ -x "$venv/bin/python" ] || python3.11 -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q "$ROOT"
if [ -f "$ROOT/examples/decode.py" ]; then
    exec "$venv/bin/python" "$ROOT/examples/decode.py" "$@"
else
    exec "$venv/bin/python" -c 'import kav_aprs_parser_pyo3; print("imported", kav_aprs_parser_pyo3.__name__)'
fi
