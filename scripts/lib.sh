# Shared set-up for the project's scripts: system packages, interpreters, tools.
# Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The interpreters tested, and the one that builds and runs the tools: named
# once, in noxfile.py.
read -r -a PYTHON_VERSIONS <<<"$(sed -n 's/^PYTHONS = \[\(.*\)\]$/\1/p' "$ROOT/noxfile.py" | tr -d '",')"
BUILD_PYTHON=python$(sed -n 's/^BUILD_PYTHON = "\(.*\)"$/\1/p' "$ROOT/noxfile.py")

# Installs the named Debian packages when missing (as root), otherwise stops
# with a message naming them.
require_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing system packages: ${missing[*]}" >&2
        if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; } >&2; then
            echo "error: could not install system packages: ${missing[*]}" >&2
            exit 1
        fi
    else
        echo "error: missing system packages: ${missing[*]} (run: sudo apt-get install ${missing[*]})" >&2
        exit 1
    fi
}

# Puts the interpreters noxfile.py names, from pyenv, on PATH, so that nox finds them.
use_pyenv_interpreters() {
    local root
    root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
    for v in "${PYTHON_VERSIONS[@]}"; do
        local dir
        dir=$(ls -d "$root"/versions/"$v".*/bin 2>/dev/null | sort -V | tail -n 1)
        if [ -z "$dir" ]; then
            echo "error: Python $v not found under $root/versions (pyenv install $v)" >&2
            exit 1
        fi
        PATH="$dir:$PATH"
    done
    export PATH
}

# A virtual environment of the project's own tools, made once: nox, and uv,
# which makes the sessions' environments. pip's output goes to a log, printed
# when the install fails.
tools_python() {
    local venv="$ROOT/.venv-tools" log="$ROOT/build/logs/tools.log"
    if [ ! -x "$venv/bin/nox" ] || [ ! -x "$venv/bin/uv" ]; then
        mkdir -p "$(dirname "$log")"
        if ! { "$BUILD_PYTHON" -m venv "$venv" && "$venv/bin/python" -m pip install 'nox>=2026.10' uv; } \
            >"$log" 2>&1; then
            tail -n 30 "$log" >&2
            echo "error: could not install nox and uv into $venv (log: $log)" >&2
            exit 1
        fi
    fi
    echo "$venv/bin/python"
}

# Everything ./scripts/test.sh builds with: compilers, test and benchmark
# libraries, g++-aarch64-linux-gnu, which cross-compiles the aarch64 wheel, and
# ccache, which compiles what several builds of a run share once.
require_test_packages() {
    require_packages g++ cmake ninja-build libgtest-dev libbenchmark-dev g++-aarch64-linux-gnu ccache
}

# Runs nox with the given arguments, from the tools environment, with the pyenv
# interpreters on PATH. Every build the scripts need is a session in
# noxfile.py; nox works in the checkout's root, the caller's directory is kept.
run_nox() {
    use_pyenv_interpreters
    local nox_python
    nox_python=$(tools_python)
    (cd "$ROOT" && exec "$nox_python" -m nox "$@")
}

# run_nox on the interpreter PYTHON names, when set, instead of the session's own.
run_nox_on_python() {
    run_nox ${PYTHON:+--force-python "$PYTHON"} "$@"
}
