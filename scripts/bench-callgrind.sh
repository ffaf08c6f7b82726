#!/usr/bin/env bash
# Instructions per call of the floor (returning and raising), of the parse
# function on valid lines and on bad lines, under callgrind: exact counts that repeat on a shared, noisy
# machine. Each case runs twice with different pass counts over the corpus; the
# difference, less the same difference for the loop alone, divided by the
# calls, is one call's price.
#
# The same runs also give the core's share of a parse call: the inclusive
# count of the core functions the module calls (the parse, and for a bad line
# the rendering of its message). What is left, the binding's own work, is
# held against the floor as well.
#
#   scripts/bench-callgrind.sh [PASSES]      # default 20 extra passes
#
# The counts are also written to bench/results-callgrind.json.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
source "$ROOT/bench/prepare_env.sh"
require_packages valgrind
# The module keeps its symbol table, so that the core's functions can be
# found by name; stripping changes no instruction.
export SKBUILD_INSTALL_STRIP=false
prepare_bench_env
extra=${1:-20}

out=$(mktemp -d)
trap 'rm -rf "$out" "$FLOOR_DIR"' EXIT
cd "$ROOT/bench"

# The core's entry points as the symbol table names them.
core_functions='kav::parse_aircraft_beacon_view[(]|kav::append_error_message[(]'

# Total instructions of one run of a case with the given pass count; the
# core's inclusive instructions in that run go to $file.core.
instructions() {
    local file="$out/$1.$2"
    PYTHONHASHSEED=0 PYTHONPATH="$FLOOR_DIR" valgrind --tool=callgrind \
        --callgrind-out-file="$file" "$BENCH_PYTHON" callgrind_calls.py "$1" "$2" \
        >"$file.lines" 2>/dev/null
    callgrind_annotate --inclusive=yes --threshold=100 "$file" 2>/dev/null |
        awk -v pattern="$core_functions" '$0 ~ pattern { gsub(",", "", $1); sum += $1 }
                                          END { print sum + 0 }' >"$file.core"
    awk '/^(summary|totals):/ {print $2; exit}' "$file"
}

declare -A per_pass core_per_pass lines
for case in loop floor floor_raise parse parse_bad floor_read parse_read; do
    low=$(instructions "$case" 1)
    high=$(instructions "$case" $((1 + extra)))
    per_pass[$case]=$(( (high - low) / extra ))
    core_per_pass[$case]=$(( ($(cat "$out/$case.$((1 + extra)).core") - $(cat "$out/$case.1.core")) / extra ))
    lines[$case]=$(cat "$out/$case.1.lines")
done

loop_per_line=$(( per_pass[loop] / lines[loop] ))
printf '%-34s %12s\n' "case" "instr/call"
printf '%-34s %12d\n' "loop alone (per line)" "$loop_per_line"
json="{\"loop_per_line\": $loop_per_line"
declare -A net
for case in floor floor_raise parse parse_bad floor_read parse_read; do
    net[$case]=$(( per_pass[$case] / lines[$case] - loop_per_line ))
    printf '%-34s %12d\n' "$case (net of the loop)" "${net[$case]}"
    json+=", \"$case\": ${net[$case]}"
done
declare -A core
for case in parse parse_bad; do
    core[$case]=$(( core_per_pass[$case] / lines[$case] ))
    if [ "${core[$case]}" -le 0 ]; then
        echo "error: the core's functions ($core_functions) not found in the module's symbols" >&2
        exit 1
    fi
    printf '%-34s %12d\n' "$case: of which the core" "${core[$case]}"
    json+=", \"${case}_core\": ${core[$case]}"
done
# The ratios the module is held to: a valid parse against the floor's call,
# the eleven attribute reads against the floor's eleven member reads, a bad
# line against a call that only raises; and for the two parses, the binding's
# own work (the call less the core's) against the same floors.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
valid=$(ratio "${net[parse]}" "${net[floor]}")
valid_binding=$(ratio $(( net[parse] - core[parse] )) "${net[floor]}")
reads=$(ratio $(( net[parse_read] - net[parse] )) $(( net[floor_read] - net[floor] )))
bad=$(ratio "${net[parse_bad]}" "${net[floor_raise]}")
bad_binding=$(ratio $(( net[parse_bad] - core[parse_bad] )) "${net[floor_raise]}")
printf '%-34s %12s\n' "valid parse / floor" "$valid" "  less the core / floor" "$valid_binding" \
    "11 reads / floor's 11 reads" "$reads" \
    "bad line / raising floor" "$bad" "  less the core / raising floor" "$bad_binding"
json+=", \"valid_to_floor\": $valid, \"valid_binding_to_floor\": $valid_binding"
json+=", \"reads_to_floor\": $reads"
json+=", \"bad_to_floor\": $bad, \"bad_binding_to_floor\": $bad_binding"
echo "$json}" >"$ROOT/bench/results-callgrind.json"
echo "figures written to $ROOT/bench/results-callgrind.json"
