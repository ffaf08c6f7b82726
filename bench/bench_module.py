"""Module benchmark: the parse function against the interpreter's floor and peers.

Times, in one run and on the same corpus, the cases (a) to (f) listed in CASES,
prints the median ns per line of each with its ratio to the floor (a), checks
the targets and writes everything as JSON. Run through scripts/bench-module.sh,
which builds the floor module and installs the module and the peer.
"""

from __future__ import annotations

import argparse
import gc
import json
import platform
import statistics
import sys
import time
from typing import Callable

import agreement
import corpus_lines
import pure_python_parser
import rss_flat
import timed_cases

SAMPLE_SECONDS = 0.02  # long enough to swamp the timer, short enough to interleave
PEER_LINES = 1000  # the slow peers run on an even spread of this many lines

# (key, label, corpus, how to build the case from the loaded callables)
CASES = (
    ("loop", "the loop alone, no call", "valid", lambda c: timed_cases.empty_loop()),
    ("a", "(a) floor: one call, one new object", "valid", lambda c: timed_cases.calls(c.floor)),
    ("a_raise", "(a') floor raising ValueError, caught", "bad",
     lambda c: timed_cases.failing_calls(c.floor_raise, ValueError)),
    ("b", "(b) parse, valid lines", "valid", lambda c: timed_cases.calls(c.parse)),
    ("c", "(c) parse, bad lines, ValueError caught", "bad",
     lambda c: timed_cases.failing_calls(c.parse, ValueError)),
    ("d", "(d) parse + read all 11 attributes", "valid",
     lambda c: timed_cases.calls_reading_every_attribute(c.parse)),
    ("e", "(e) pure-Python parser", "valid_peer", lambda c: timed_cases.calls(c.pure_parse)),
    ("f", "(f) aprslib.parse (str lines)", "valid_peer_str", lambda c: timed_cases.calls(c.aprslib)),
)

# (numerator, denominator, relation, bound): "b <= 1.5 a" and so on.
TARGETS = (
    ("b", "a", "<=", 1.5),
    ("c", "a", "<=", 3.0),
    ("e", "b", ">=", 30.0),
    ("f", "b", ">=", 150.0),
)


class Callables:
    """The functions under test, imported once."""

    def __init__(self) -> None:
        import aprslib
        import kav_aprs_parser_pyo3
        import kav_bench_floor

        self.module = kav_aprs_parser_pyo3
        self.parse = kav_aprs_parser_pyo3.parse_kav_aprs_aircraft_beacon
        self.floor = kav_bench_floor.make_beacon
        self.floor_raise = kav_bench_floor.raise_value_error
        self.floor_type = kav_bench_floor.FloorBeacon
        self.pure_parse = pure_python_parser.parse
        self.aprslib = aprslib.parse
        self.aprslib_version = getattr(aprslib, "__version__", "unknown")


def _spread(lines: list, count: int) -> list:
    step = max(1, len(lines) // count)
    return lines[::step][:count]


def _passes_for(case: Callable, lines: list) -> int:
    """Passes over `lines` that make one sample last about SAMPLE_SECONDS."""
    start = time.perf_counter()
    case(lines, 1)
    once = time.perf_counter() - start
    return max(1, round(SAMPLE_SECONDS / max(once, 1e-9)))


def time_cases(callables: Callables, corpora: dict, repetitions: int) -> dict:
    """ns per line of every case, sampled round-robin so noise hits all alike."""
    cases = [(key, label, corpora[corpus], build(callables)) for key, label, corpus, build in CASES]
    passes = {key: _passes_for(case, lines) for key, _, lines, case in cases}
    samples: dict[str, list[float]] = {key: [] for key, *_ in cases}
    gc.collect()
    gc.disable()
    try:
        for rep in range(repetitions):
            shift = rep % len(cases)
            for key, _, lines, case in cases[shift:] + cases[:shift]:
                start = time.perf_counter_ns()
                case(lines, passes[key])
                elapsed = time.perf_counter_ns() - start
                samples[key].append(elapsed / (passes[key] * len(lines)))
    finally:
        gc.enable()
    return {
        key: {
            "label": label,
            "lines": len(lines),
            "passes_per_sample": passes[key],
            "median_ns": statistics.median(samples[key]),
            "min_ns": min(samples[key]),
            "samples_ns": samples[key],
        }
        for key, label, lines, _ in cases
    }


def _ratios(results: dict) -> dict:
    floor = results["a"]["median_ns"]
    loop = results["loop"]["median_ns"]
    return {
        key: {
            "to_floor": r["median_ns"] / floor,
            "to_floor_net_of_loop": (r["median_ns"] - loop) / (floor - loop),
        }
        for key, r in results.items()
    }


def _targets(results: dict) -> list[dict]:
    checked = []
    for num, den, relation, bound in TARGETS:
        ratio = results[num]["median_ns"] / results[den]["median_ns"]
        holds = ratio <= bound if relation == "<=" else ratio >= bound
        checked.append({"target": f"({num}) {relation} {bound} x ({den})", "ratio": ratio,
                        "holds": holds})
    return checked


def basic_sizes(callables: Callables) -> dict:
    sizes = {name: obj.__basicsize__ for name in callables.module.__all__
             if isinstance(obj := getattr(callables.module, name), type)}
    sizes["FloorBeacon (floor)"] = callables.floor_type.__basicsize__
    return sizes


def print_report(report: dict) -> None:
    print(f"Python {report['python']}; corpus: {report['corpus']['valid']} valid, "
          f"{report['corpus']['bad']} bad lines; medians of {report['repetitions']} samples")
    print(f"{'case':<44}{'ns/line':>10}{'x (a)':>9}{'x (a) net':>11}")
    for key, r in report["cases"].items():
        ratio = report["ratios"][key]
        print(f"{r['label']:<44}{r['median_ns']:>10.1f}{ratio['to_floor']:>9.2f}"
              f"{ratio['to_floor_net_of_loop']:>11.2f}")
    print("('net' subtracts the loop alone from both sides)")
    bad_to_raising_floor = report["cases"]["c"]["median_ns"] / report["cases"]["a_raise"]["median_ns"]
    print(f"(c) is {bad_to_raising_floor:.2f} x (a'), the least a call that raises can cost")
    for t in report["targets"]:
        print(f"target {t['target']:<24} ratio {t['ratio']:>8.2f}  {'holds' if t['holds'] else 'MISSED'}")
    print(f"aprslib {report['aprslib']['version']} raised on {report['aprslib']['failures']} of "
          f"{report['aprslib']['lines']} lines, timed on the rest (it reads general APRS its own way)")
    print("__basicsize__: " + ", ".join(f"{k} {v}" for k, v in report["basicsize"].items()))


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--repetitions", type=int, default=15)
    ap.add_argument("--json", help="write the figures to this file")
    ap.add_argument("--rss", type=int, metavar="PARSES",
                    help="memory mode: parse this many lines and report resident size")
    args = ap.parse_args()

    callables = Callables()
    valid, bad = corpus_lines.load("valid"), corpus_lines.load("bad")
    problems = agreement.check(callables.module, callables.pure_parse, valid, bad)
    if problems:
        print("refusing to time: the cases disagree\n  " + "\n  ".join(problems[:20]),
              file=sys.stderr)
        return 1

    report: dict = {
        "python": platform.python_version(),
        "corpus": {"valid": len(valid), "bad": len(bad)},
        "basicsize": basic_sizes(callables),
    }
    if args.rss:
        report["rss"] = rss_flat.measure(callables.parse, valid, bad, args.rss,
                                         warm_up=min(1_000_000, args.rss // 10))
        rss = report["rss"]
        print(f"resident size over {rss['parses']} parses: {rss['baseline_bytes'] / 2**20:.1f} MiB "
              f"after warm-up, max {rss['max_bytes'] / 2**20:.1f} MiB, growth "
              f"{rss['growth_bytes'] / 1024:.0f} KiB: {'flat' if rss['flat'] else 'GROWING'}")
        print("__basicsize__: " + ", ".join(f"{k} {v}" for k, v in report["basicsize"].items()))
    else:
        peer = _spread(valid, PEER_LINES)
        peer_str = [line.decode("utf-8", "replace") for line in peer]
        accepted = agreement.peer_accepted(callables.aprslib, peer_str)
        corpora = {"valid": valid, "bad": bad, "valid_peer": peer, "valid_peer_str": accepted}
        report["aprslib"] = {"version": callables.aprslib_version, "lines": len(peer_str),
                             "failures": len(peer_str) - len(accepted)}
        report["repetitions"] = args.repetitions
        report["cases"] = time_cases(callables, corpora, args.repetitions)
        report["ratios"] = _ratios(report["cases"])
        report["targets"] = _targets(report["cases"])
        print_report(report)
    if args.json:
        with open(args.json, "w") as out:
            json.dump(report, out, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
