#!/usr/bin/env bash
# Long libFuzzer run of the beacon parser under ASan and UBSan.
#
#   scripts/fuzz.sh [seconds]        (default 1800)
#
# Builds build/reliability-libfuzzer with clang, seeds a working corpus from
# fuzz/corpus and every line of bench/corpus/*.txt, and fuzzes for the given
# time on one core. New inputs collect in build/reliability-libfuzzer/work;
# a crash leaves its input in build/reliability-libfuzzer/artifacts/ (minimise
# it with -minimize_crash=1, then commit it to fuzz/corpus/ with a test).
# The last lines printed are libFuzzer's final statistics.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages clang libclang-rt-14-dev cmake ninja-build
cd "$ROOT"

seconds=${1:-1800}
build=build/reliability-libfuzzer
work=$build/work
artifacts=$build/artifacts

# fuzzer-no-link instruments the core for coverage; only the fuzzer binary
# links libFuzzer itself.
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAV_SANITIZE=fuzzer-no-link,address,undefined -DKAV_BUILD_FUZZ=ON -DKAV_LIBFUZZER=ON \
    -DKAV_BUILD_TESTS=OFF -DKAV_BUILD_MODULE=OFF >/dev/null
cmake --build "$build" --target kav_parse_fuzzer -j 2

mkdir -p "$work" "$artifacts"
seeds=$build/line-seeds
rm -rf "$seeds" && mkdir -p "$seeds"
for corpus in bench/corpus/*.txt; do
    [ -e "$corpus" ] || continue
    split -l 1 -a 6 -d "$corpus" "$seeds/$(basename "$corpus" .txt)-"
done
# Lines were split with their line feed; the parser treats it as part of the
# last token, which is worth keeping as a variant, so the seeds stay as split.

exec nice -n 10 "$build/fuzz/kav_parse_fuzzer" "$work" fuzz/corpus "$seeds" \
    -max_total_time="$seconds" -max_len=512 -dict=fuzz/beacon.dict \
    -artifact_prefix="$artifacts/" -print_final_stats=1 -print_pcs=0
