"""Columnar decoder benchmark: kav_aprs.decode against the per-line module and a polars regex.

Times in one run, on the bench corpus repeated into one buffer, the cases
built in main() (medians of interleaved samples, processor ns per line, wall
time beside it), the speed-up of two threads over one, and optionally
(--rss-gb) the resident memory of iter_decoded over a generated file of that
size. Prints a table, checks the
targets and writes everything as JSON for bench/chart.py. Run through
scripts/bench-batch.sh.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import pathlib
import platform
import resource
import statistics
import subprocess
import sys
import threading
import time

import polars as pl

import corpus_lines
import kav_aprs
import kav_aprs_parser_pyo3
import timed_cases

# Corpus copies in the large buffer: about 8 MB, iter_decoded's default chunk.
# Columns that large outgrow the caches, and any page they take afresh from
# the system costs a fault: both count.
LARGE_REPEAT = 72
SAMPLE_SECONDS = 0.05

# What a data engineer would write instead: one regex, one capture group per field.
POLARS_PATTERN = (
    r"^(?<callsign>[^>]*)>(?<protocol>KAADSB|KAFLR|KAVSKY),(?<q_construct>[^,]*),(?<receiver>[^:]*):"
    r"/(?<time>\d{6})[hz](?<latitude>\d{4}\.\d{2}[NS]).(?<longitude>\d{5}\.\d{2}[EW])."
    r"(?<ground_track>[^/]*)/(?<ground_speed>[^/]*)/A=(?<gps_altitude>\S+)"
    r".*\bid(?<prefix>[0-9A-Fa-f]{2})(?<address>[0-9A-Fa-f]{6})"
)

TARGETS = (
    # (label, faster case, slower case, bound on slower / faster)
    ("decode >= 10 x parse loop reading 11 attributes", "decode_valid", "parse_attrs", 10.0),
    ("decode >= 15 x polars str.extract_groups", "decode_valid", "polars_regex", 15.0),
)


def _decode_case(data: bytes):
    def run():
        kav_aprs.decode(data)
    return run


def _parse_case(lines: list[bytes]):
    loop = timed_cases.calls_reading_every_attribute(kav_aprs_parser_pyo3.parse_kav_aprs_aircraft_beacon)
    return lambda: loop(lines, 1)


def _polars_case(series: pl.Series):
    return lambda: series.str.extract_groups(POLARS_PATTERN)


def _sample(run, passes: int) -> tuple[float, float]:
    """Wall and processor time of `passes` runs, in ns.

    Processor time is the whole process's, so polars's worker threads count,
    and time spent waiting for a core that other programs hold does not.
    """
    wall, cpu = time.perf_counter_ns(), time.process_time_ns()
    for _ in range(passes):
        run()
    return time.perf_counter_ns() - wall, time.process_time_ns() - cpu


def time_cases(cases: dict, repetitions: int) -> dict:
    """Median processor and wall ns per line of each case, sampled round-robin so noise hits all alike."""
    passes = {}
    for key, (_, lines, run) in cases.items():
        once = _sample(run, 1)[0] / 1e9
        passes[key] = max(1, round(SAMPLE_SECONDS / max(once, 1e-9)))
    cpu: dict[str, list[float]] = {key: [] for key in cases}
    wall: dict[str, list[float]] = {key: [] for key in cases}
    gc.collect()
    gc.disable()
    try:
        keys = list(cases)
        for rep in range(repetitions):
            shift = rep % len(keys)
            for key in keys[shift:] + keys[:shift]:
                _, lines, run = cases[key]
                wall_ns, cpu_ns = _sample(run, passes[key])
                wall[key].append(wall_ns / (passes[key] * lines))
                cpu[key].append(cpu_ns / (passes[key] * lines))
    finally:
        gc.enable()
    return {key: {"label": cases[key][0], "lines": cases[key][1], "median_ns": statistics.median(cpu[key]),
                  "wall_median_ns": statistics.median(wall[key]), "samples_ns": cpu[key]}
            for key in cases}


def time_threads(data: bytes, repetitions: int) -> dict:
    """Two buffers decoded one after the other on one thread, then on two threads at once."""
    def both_on_one():
        kav_aprs.decode(data)
        kav_aprs.decode(data)

    def both_on_two():
        other = threading.Thread(target=kav_aprs.decode, args=(data,))
        other.start()
        kav_aprs.decode(data)
        other.join()

    one, two, one_cpu, two_cpu = [], [], [], []
    for _ in range(repetitions):  # wall time: what a second core saves
        wall, cpu = _sample(both_on_one, 1)
        one.append(wall)
        one_cpu.append(cpu)
        wall, cpu = _sample(both_on_two, 1)
        two.append(wall)
        two_cpu.append(cpu)
    # Processor time: on a busy machine the wall time shows whether a second
    # core was free; equal processor time shows the threads did not slow
    # each other down (a lock, page faults taken one at a time).
    return {"one_thread_ms": statistics.median(one) / 1e6, "two_threads_ms": statistics.median(two) / 1e6,
            "speedup": statistics.median(one) / statistics.median(two),
            "cpu_two_over_one": statistics.median(two_cpu) / statistics.median(one_cpu)}


def page_faults(data: bytes, repetitions: int) -> dict:
    """Minor page faults and system time per decode of `data`, decoded again and again as a stream's chunks are."""
    kav_aprs.decode(data)
    before = resource.getrusage(resource.RUSAGE_SELF)
    for _ in range(repetitions):
        kav_aprs.decode(data)
    after = resource.getrusage(resource.RUSAGE_SELF)
    return {"faults_per_decode": (after.ru_minflt - before.ru_minflt) / repetitions,
            "system_s_per_decode": (after.ru_stime - before.ru_stime) / repetitions}


def measure_rss(gigabytes: float, batch_bytes: int) -> dict:
    """iter_decoded over a generated file in a fresh interpreter (bench/rss_batch.py)."""
    path = pathlib.Path("/tmp") / f"kav-bench-{os.getpid()}.txt"
    block = (b"\n".join(corpus_lines.load("valid") + corpus_lines.load("bad")) + b"\n") * 200
    try:
        with open(path, "wb") as file:
            written = 0
            while written < gigabytes * 1e9:
                file.write(block)
                written += len(block)
        out = subprocess.run([sys.executable, str(pathlib.Path(__file__).with_name("rss_batch.py")),
                              str(path), str(batch_bytes)], check=True, capture_output=True, text=True)
        result = json.loads(out.stdout)
        result["file_bytes"] = written
        return result
    finally:
        path.unlink(missing_ok=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=15)
    parser.add_argument("--rss-gb", type=float, default=0.0, help="also measure iter_decoded over a file this large")
    parser.add_argument("--batch-bytes", type=int, default=8 << 20)
    parser.add_argument("--json", type=pathlib.Path)
    args = parser.parse_args()

    valid, bad = corpus_lines.load("valid"), corpus_lines.load("bad")
    valid_buffer = b"\n".join(valid) + b"\n"
    bad_buffer = (b"\n".join(bad) + b"\n") * 10
    series = pl.Series("line", [line.decode("utf-8", "replace") for line in valid] * 10)
    cases = {
        "decode_valid": ("kav_aprs.decode, valid lines", len(valid), _decode_case(valid_buffer)),
        "decode_valid_8mb": ("kav_aprs.decode, valid lines, 8 MB buffer", len(valid) * LARGE_REPEAT,
                             _decode_case(valid_buffer * LARGE_REPEAT)),
        "decode_bad": ("kav_aprs.decode, bad lines", len(bad) * 10, _decode_case(bad_buffer)),
        "parse_attrs": ("parse + read 11 attributes, per line", len(valid), _parse_case(valid)),
        "polars_regex": ("polars str.extract_groups regex", len(series), _polars_case(series)),
    }
    results = time_cases(cases, args.repetitions)
    threads = time_threads(valid_buffer * LARGE_REPEAT, args.repetitions)
    faults = page_faults(valid_buffer * LARGE_REPEAT, 2 * args.repetitions)
    targets = [{"target": label, "ratio": results[slow]["median_ns"] / results[fast]["median_ns"],
                "holds": results[slow]["median_ns"] / results[fast]["median_ns"] >= bound}
               for label, fast, slow, bound in TARGETS]
    targets.append({"target": "two threads >= 1.7 x one", "ratio": threads["speedup"],
                    "holds": threads["speedup"] >= 1.7})
    report = {"python": platform.python_version(), "polars": pl.__version__, "cpus": os.cpu_count(),
              "repetitions": args.repetitions, "cases": results, "threads": threads, "faults": faults,
              "targets": targets}
    if args.rss_gb:
        report["rss"] = measure_rss(args.rss_gb, args.batch_bytes)
        rss = report["rss"]
        targets.append({"target": "iter_decoded growth <= 4 x batch_bytes, flat",
                        "ratio": rss["growth_bytes"] / args.batch_bytes,
                        "holds": rss["growth_bytes"] <= 4 * args.batch_bytes and rss["flat"]})

    print(f"Python {report['python']}, polars {report['polars']}; medians of {args.repetitions} samples")
    base = results["decode_valid"]["median_ns"]
    print(f"{'case (processor time)':<42}{'ns/line':>10}{'M lines/s':>11}{'x decode':>10}{'wall ns':>10}")
    for r in results.values():
        print(f"{r['label']:<42}{r['median_ns']:>10.1f}{1e3 / r['median_ns']:>11.2f}"
              f"{r['median_ns'] / base:>10.1f}{r['wall_median_ns']:>10.1f}")
    print(f"two threads vs one: {threads['one_thread_ms']:.1f} ms -> {threads['two_threads_ms']:.1f} ms, "
          f"{threads['speedup']:.2f} x; processor time two / one {threads['cpu_two_over_one']:.2f}")
    lines_8mb = results["decode_valid_8mb"]["lines"]
    print(f"8 MB buffer decoded again and again: {faults['faults_per_decode']:.0f} page faults and "
          f"{faults['system_s_per_decode'] / lines_8mb * 1e9:.1f} ns per line of system time a decode")
    if "rss" in report:
        rss = report["rss"]
        print(f"iter_decoded over {rss['file_bytes'] / 1e9:.2f} GB in {rss['chunks']} chunks: resident "
              f"{rss['baseline_bytes'] / 2**20:.0f} MiB before, growth {rss['growth_bytes'] / 2**20:.1f} MiB "
              f"(max), last minus first chunk {rss['drift_bytes'] / 2**20:.1f} MiB, "
              f"{rss['lines_per_second'] / 1e6:.1f} M lines/s")
    for t in targets:
        print(f"{'ok  ' if t['holds'] else 'MISS'} {t['target']}: {t['ratio']:.2f}")
    if args.json:
        args.json.write_text(json.dumps(report, indent=1) + "\n")


if __name__ == "__main__":
    main()
