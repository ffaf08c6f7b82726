#!/usr/bin/env bash
# Runs the tests: the nox sessions of noxfile.py that nox runs by default.
#
#   ./scripts/test.sh            # everything CI runs: about 10 minutes on two cores
#   ./scripts/test.sh --quick    # the core's C++ tests and pytest on one interpreter,
#                                # rebuilding only what changed: about a minute
#   ./scripts/test.sh -s core    # other arguments go to nox (-s tests-3.12, --list, ...)
#
# Everything: the core's GoogleTest suite with warnings as errors; the release
# wheel, its packaging checks (abi3audit, auditwheel, stubtest, the sdist
# building the same wheel) and the aarch64 wheel; pytest against that one wheel
# on each interpreter noxfile.py names; the core's tests, the fuzz corpus and
# pytest under ASan and UBSan. Extra arguments after --quick go to pytest.
#
# Each session prints its tests' summaries and one line per build or install
# step, whose output is in build/logs/<session>/<step>.log; a failed step
# prints the end of its log.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_test_packages
if [ "${1:-}" = "--quick" ]; then
    shift
    run_nox -s core "tests-${BUILD_PYTHON#python}" -- "$@"
else
    run_nox "$@"
fi
