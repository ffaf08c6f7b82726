# Shared set-up of the module benchmarks (sourced by scripts/bench-module.sh
# and scripts/bench-callgrind.sh after scripts/lib.sh): a virtual environment
# with the module and aprslib, and the floor module built into a temporary
# directory. Sets BENCH_PYTHON and FLOOR_DIR.

prepare_bench_env() {
    bench_package_venv bench-module aprslib

    FLOOR_DIR=$(mktemp -d)
    trap 'rm -rf "$FLOOR_DIR"' EXIT
    cmake -S "$ROOT/bench/floor" -B "$FLOOR_DIR" -G Ninja \
        -DPython_EXECUTABLE="$BENCH_PYTHON" >/dev/null
    cmake --build "$FLOOR_DIR" >/dev/null
}
