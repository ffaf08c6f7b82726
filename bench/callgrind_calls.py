"""Runs one timed case of the module benchmark a given number of passes.

scripts/bench-callgrind.sh runs this under callgrind twice per case, with two
pass counts, and takes the difference: start-up and import cancel out, and
what remains per call, less the same for the loop alone, is the exact
instruction count of one call.

    python callgrind_calls.py {loop,floor,floor_raise,parse,parse_bad,floor_read,parse_read} PASSES
"""

from __future__ import annotations

import sys

import corpus_lines
import timed_cases


def build_case(name: str) -> tuple[timed_cases.Case, list[bytes]]:
    import kav_aprs_parser_pyo3
    import kav_bench_floor

    parse = kav_aprs_parser_pyo3.parse_kav_aprs_aircraft_beacon
    valid, bad = corpus_lines.load("valid"), corpus_lines.load("bad")
    cases = {
        "loop": (timed_cases.empty_loop(), valid),
        "floor": (timed_cases.calls(kav_bench_floor.make_beacon), valid),
        "floor_raise": (timed_cases.failing_calls(kav_bench_floor.raise_value_error, ValueError), bad),
        "parse": (timed_cases.calls(parse), valid),
        "parse_bad": (timed_cases.failing_calls(parse, ValueError), bad),
        "floor_read": (timed_cases.calls_reading_every_attribute(kav_bench_floor.make_beacon), valid),
        "parse_read": (timed_cases.calls_reading_every_attribute(parse), valid),
    }
    return cases[name]


def main() -> None:
    case, lines = build_case(sys.argv[1])
    case(lines, int(sys.argv[2]))
    # One line of output: how many calls a pass makes, for the script's division.
    print(len(lines))


if __name__ == "__main__":
    main()
