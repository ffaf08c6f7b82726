# Shared set-up of the module benchmarks (sourced by scripts/bench-callgrind.sh
# after scripts/lib.sh): the environment of the nox session `bench_module` (the
# module and aprslib), prepared without measuring, and the floor module it
# builds, copied into a temporary directory. PYTHON picks the interpreter.
# Sets BENCH_PYTHON and FLOOR_DIR.

prepare_bench_env() {
    require_packages g++ cmake ninja-build
    run_nox_on_python --install-only -s bench_module
    local version
    version=$("${PYTHON:-$BUILD_PYTHON}" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    BENCH_PYTHON="$ROOT/build/bench-module/venv-$version/bin/python"

    FLOOR_DIR=$(mktemp -d)
    trap 'rm -rf "$FLOOR_DIR"' EXIT
    cp "$ROOT/build/bench-module/floor-$version"/kav_bench_floor*.so "$FLOOR_DIR"/
}
