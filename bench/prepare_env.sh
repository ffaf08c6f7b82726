# Shared set-up of the module benchmarks (sourced by scripts/bench-module.sh
# and scripts/bench-callgrind.sh after scripts/lib.sh): a virtual environment
# with the module and aprslib, and the floor module built into a temporary
# directory. Sets BENCH_PYTHON and FLOOR_DIR.

prepare_bench_env() {
    require_packages g++ cmake ninja-build
    use_pyenv_interpreters
    local python=${PYTHON:-python3.11}
    local version
    version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    local venv="$ROOT/build/bench-module/venv-$version"
    [ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q aprslib
    # A Release build, as users get it; its own build dir so no other build collides.
    "$venv/bin/python" -m pip install -q --force-reinstall --no-deps "$ROOT" \
        --config-settings=build-dir="build/bench-module/wheel-$version"
    BENCH_PYTHON="$venv/bin/python"

    FLOOR_DIR=$(mktemp -d)
    trap 'rm -rf "$FLOOR_DIR"' EXIT
    cmake -S "$ROOT/bench/floor" -B "$FLOOR_DIR" -G Ninja \
        -DPython_EXECUTABLE="$BENCH_PYTHON" >/dev/null
    cmake --build "$FLOOR_DIR" >/dev/null
}
