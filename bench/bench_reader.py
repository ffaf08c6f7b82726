"""Reader benchmark: kav_aprs.open over a large file on one and two threads, and over a small file.

Generates, in a directory of its own (removed at the end), a file of about
--gb gigabytes of realistic lines (the bundled corpus, one bad line in ten)
and one of a megabyte, then times in interleaved rounds:

- read: the large file read through one buffer and its lines counted, the
  floor any reader pays;
- jobs1, jobs2: every batch of kav_aprs.open(large, jobs=N);
- small: kav_aprs.open(small) over and over, for its cost per line.

Prints medians (wall and processor seconds, and per line) and the ratios the
reader is held to: jobs=2 over jobs=1 by wall time, their processor time per
line, and the small file's cost per line over the large one's. Writes the
figures as JSON with --json.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import platform
import shutil
import statistics
import tempfile
import time

import corpus_lines

import kav_aprs


def realistic_lines(total_bytes: int) -> bytes:
    """Corpus lines, one bad in ten, repeated to about `total_bytes`."""
    valid, bad = corpus_lines.load("valid"), corpus_lines.load("bad")
    block = b"".join((bad[i % len(bad)] if i % 10 == 9 else valid[i % len(valid)]) + b"\n"
                     for i in range(10 * len(valid)))
    return block * max(1, total_bytes // len(block))


def write_large(path: pathlib.Path, total_bytes: int) -> None:
    block = realistic_lines(64 << 20)
    with open(path, "wb") as file:
        for _ in range(max(1, total_bytes // len(block))):
            file.write(block)


def timed(run) -> tuple[float, float, int]:
    wall, cpu = time.perf_counter(), time.process_time()
    lines = run()
    return time.perf_counter() - wall, time.process_time() - cpu, lines


def read_floor(path: pathlib.Path) -> int:
    buffer = bytearray(8 << 20)
    lines = 0
    with open(path, "rb", buffering=0) as file:
        while size := file.readinto(buffer):
            lines += buffer.count(b"\n", 0, size)
    return lines


def reader(path: pathlib.Path, jobs: int, times: int = 1) -> int:
    return sum(decoded.lines for _ in range(times) for decoded in kav_aprs.open(path, jobs=jobs))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gb", type=float, default=1.0, help="size of the large file (default 1)")
    parser.add_argument("--repetitions", type=int, default=5, help="interleaved rounds (default 5)")
    parser.add_argument("--dir", type=pathlib.Path, help="where to generate the files (default: a temporary directory)")
    parser.add_argument("--json", type=pathlib.Path, help="write the figures here")
    args = parser.parse_args()

    work = pathlib.Path(tempfile.mkdtemp(prefix="kav-bench-reader-", dir=args.dir))
    try:
        large, small = work / "large.txt", work / "small.txt"
        write_large(large, int(args.gb * (1 << 30)))
        small.write_bytes(realistic_lines(1 << 20))
        small_times = max(1, large.stat().st_size // small.stat().st_size // 8)
        cases = {
            "read": lambda: read_floor(large),
            "jobs1": lambda: reader(large, 1),
            "jobs2": lambda: reader(large, 2),
            "small": lambda: reader(small, 1, small_times),
        }
        samples: dict[str, list[tuple[float, float, int]]] = {name: [] for name in cases}
        reader(large, 2)  # the page cache, and the decoder's memory pool
        for _ in range(args.repetitions):
            for name, run in cases.items():
                samples[name].append(timed(run))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    figures: dict[str, dict[str, float]] = {}
    print(f"{'case':8} {'wall s':>8} {'cpu s':>8} {'ns/line wall':>13} {'ns/line cpu':>12}")
    for name, runs in samples.items():
        wall = statistics.median(r[0] for r in runs)
        cpu = statistics.median(r[1] for r in runs)
        lines = runs[0][2]
        figures[name] = {"wall_s": wall, "cpu_s": cpu, "lines": lines,
                         "wall_ns_per_line": wall / lines * 1e9, "cpu_ns_per_line": cpu / lines * 1e9}
        print(f"{name:8} {wall:8.3f} {cpu:8.3f} {wall / lines * 1e9:13.1f} {cpu / lines * 1e9:12.1f}")
    ratios = {
        "jobs2_speedup_wall": figures["jobs1"]["wall_s"] / figures["jobs2"]["wall_s"],
        "jobs2_cpu_per_line_over_jobs1": figures["jobs2"]["cpu_ns_per_line"] / figures["jobs1"]["cpu_ns_per_line"],
        "small_cpu_per_line_over_large": figures["small"]["cpu_ns_per_line"] / figures["jobs1"]["cpu_ns_per_line"],
        "jobs1_wall_over_read": figures["jobs1"]["wall_s"] / figures["read"]["wall_s"],
    }
    for name, value in ratios.items():
        print(f"{name:36} {value:6.2f}")
    if args.json is not None:
        args.json.write_text(json.dumps({
            "machine": {"processor": platform.processor() or platform.machine(), "cores": os.cpu_count(),
                        "python": platform.python_version()},
            "repetitions": args.repetitions, "cases": figures, "ratios": ratios}, indent=2))


if __name__ == "__main__":
    main()
