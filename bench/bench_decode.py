"""Benchmark of the kav-aprs decode command, each case a run of a separate process.

The input is the bench corpus repeated into a file of --lines lines (one in ten
bad), the output a file. Beside the command's formats and thread counts: the
record-by-record tool it replaced (bench/baseline_decode/decode.py) and a bare
Python loop of parse calls over the same lines, in the same run; and two
one-thread runs side by side, each over the whole file into a file of its own,
whose lines a second bound what --jobs 2 can reach on the machine as it is
during the run. Wall time is quoted with the processor time (user + system) of
the processes, which a busy machine inflates less. Run through
scripts/bench-decode.sh.
"""

from __future__ import annotations

import argparse
import gzip
import json
import os
import pathlib
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import corpus_lines

BENCH = pathlib.Path(__file__).resolve().parent
COMMAND = pathlib.Path(sys.executable).with_name("kav-aprs")
BASELINE = BENCH / "baseline_decode" / "decode.py"

# The bare loop: what any decoding must at least cost in Python, one call a line.
PARSE_LOOP = """
import sys
import kav_aprs_parser_pyo3 as kav
parse = kav.parse_kav_aprs_aircraft_beacon
decoded = 0
with open(sys.argv[1], "rb") as lines:
    for line in lines:
        try:
            parse(line.rstrip(b"\\n"))
            decoded += 1
        except ValueError:
            pass
"""
# Reading the gzip file to its end, as the command does, without decoding.
GUNZIP = """
import gzip, sys
with gzip.open(sys.argv[1], "rb") as f:
    while f.read1(8 << 20):
        pass
"""
# Two one-thread runs at once: the lines a second that the two cores give work that shares nothing.
TWO_RUNS = "two jsonl runs side by side"


def write_input(directory: pathlib.Path, lines: int) -> tuple[pathlib.Path, pathlib.Path]:
    valid = corpus_lines.load("valid")
    bad = corpus_lines.load("bad")
    chosen = [bad[(i // 10) % len(bad)] if i % 10 == 9 else valid[i % len(valid)] for i in range(lines)]
    plain = directory / "beacons.txt"
    plain.write_bytes(b"\n".join(chosen) + b"\n")
    packed = directory / "beacons.txt.gz"
    packed.write_bytes(gzip.compress(plain.read_bytes(), compresslevel=6))
    return plain, packed


def timed(commands: list[list[str]], stdout_path: str) -> tuple[float, float]:
    """Wall seconds and processor seconds (user + system, all together) of the commands run side by side."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.perf_counter()
    with open(stdout_path, "wb") as stdout:
        runs = [subprocess.Popen(argv, stdout=stdout, stderr=subprocess.DEVNULL) for argv in commands]
        for argv, run in zip(commands, runs):
            if run.wait():
                raise subprocess.CalledProcessError(run.returncode, argv)
    wall = time.perf_counter() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--json", type=pathlib.Path, help="write the figures here")
    parser.add_argument("--skip-baseline", action="store_true", help="leave out the slow old tool")
    parser.add_argument("--repetitions", type=int, default=1,
                        help="rounds over every case (the old tool runs in the first only); medians are quoted")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(dir=os.environ.get("BENCH_TMP")) as folder:
        work = pathlib.Path(folder)
        plain, packed = write_input(work, args.lines)
        empty = work / "empty.txt"
        empty.touch()
        # Every case writes a file that did not exist: replacing one would add the
        # file system's flush of the old contents to whichever case came second.
        out, beside = str(work / "out"), str(work / "out-beside")

        def decode_into(path: str) -> list[str]:
            return [str(COMMAND), "decode", "--quiet", "-o", path]

        decode = decode_into(out)
        cases = {
            "jsonl": ([decode + [str(plain)]], os.devnull),
            "csv": ([decode + ["--format", "csv", str(plain)]], os.devnull),
            "parquet": ([decode + ["--format", "parquet", str(plain)]], os.devnull),
            "jsonl, --jobs 2": ([decode + ["--jobs", "2", str(plain)]], os.devnull),
            "parquet, --jobs 2": ([decode + ["--format", "parquet", "--jobs", "2", str(plain)]], os.devnull),
            TWO_RUNS: ([decode + [str(plain)], decode_into(beside) + [str(plain)]], os.devnull),
            "jsonl, gzip input": ([decode + [str(packed)]], os.devnull),
            "gzip decompression alone": ([[sys.executable, "-c", GUNZIP, str(packed)]], os.devnull),
            "bare Python loop of parse calls": ([[sys.executable, "-c", PARSE_LOOP, str(plain)]], os.devnull),
            # What every run pays before its first line: the rates net of it are the steady state.
            "start-up: jsonl of an empty file": ([decode + [str(empty)]], os.devnull),
            "start-up: parquet of an empty file": ([decode + ["--format", "parquet", str(empty)]], os.devnull),
        }
        if not args.skip_baseline:
            # The old tool writes to standard output.
            cases["bench/baseline_decode/decode.py (jsonl)"] = ([[sys.executable, str(BASELINE), str(plain)]], out)
        samples: dict[str, list[tuple[float, float]]] = {label: [] for label in cases}
        for round_number in range(args.repetitions):
            for label, (commands, stdout_path) in cases.items():
                if round_number and label.startswith("bench/baseline"):
                    continue
                samples[label].append(timed(commands, stdout_path))
                for written in (out, beside):
                    pathlib.Path(written).unlink(missing_ok=True)
        results = {}
        for label, runs in samples.items():
            wall = statistics.median(w for w, _ in runs)
            cpu = statistics.median(c for _, c in runs)
            lines = 0 if label.startswith("start-up") else args.lines * len(cases[label][0])
            results[label] = {"wall_s": wall, "cpu_s": cpu, "lines_per_s": lines / wall,
                              "lines_per_cpu_s": lines / cpu, "runs": len(runs)}

    print(f"{args.lines:,} lines (one in ten bad), output to a file, medians of {args.repetitions} "
          f"interleaved run(s) a case")
    print("| case | wall s | lines/s | CPU s | lines per CPU s |")
    print("|---|---|---|---|---|")
    for label, r in results.items():
        rates = (f"{r['lines_per_s'] / 1e6:.2f} M", f"{r['lines_per_cpu_s'] / 1e6:.2f} M") if r["lines_per_s"] else ("–", "–")
        print(f"| {label} | {r['wall_s']:.2f} | {rates[0]} | {r['cpu_s']:.2f} | {rates[1]} |")
    one = results["jsonl"]
    # Each round runs both within a second of each other, so the ratio within a round is spared
    # most of the machine's drift, which a ratio of the two medians is not.
    speedup = statistics.median(w1 / w2 for (w1, _), (w2, _) in zip(samples["jsonl"], samples["jsonl, --jobs 2"]))
    print(f"--jobs 2 over --jobs 1: {speedup:.2f} x (wall, median of the rounds' ratios)")
    ceiling = statistics.median(2 * w1 / w2 for (w1, _), (w2, _) in zip(samples["jsonl"], samples[TWO_RUNS]))
    print(f"two runs side by side over one, lines a second: {ceiling:.2f} x (the same)")
    print("net of start-up, lines/s (wall): " + ", ".join(
        f"{label} {args.lines / (results[label]['wall_s'] - results[begin]['wall_s']) / 1e6:.2f} M"
        for label, begin in (("jsonl", "start-up: jsonl of an empty file"),
                             ("csv", "start-up: jsonl of an empty file"),
                             ("parquet", "start-up: parquet of an empty file"))))
    gz = results["jsonl, gzip input"]["cpu_s"] - one["cpu_s"]
    print(f"gzip input costs {gz:.2f} CPU s more than plain; decompression alone "
          f"{results['gzip decompression alone']['cpu_s']:.2f} CPU s")
    if args.json:
        args.json.write_text(json.dumps({"lines": args.lines, "results": results, "jobs_2_over_1": speedup,
                                         "two_runs_over_one": ceiling},
                                        indent=2))


if __name__ == "__main__":
    main()
