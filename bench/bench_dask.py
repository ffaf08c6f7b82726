"""Dask reader benchmark: read_beacons on one and on two single-threaded workers, against the columnar
decoder on one thread, over one generated archive.

The archive (about 2 GiB by default, under /tmp, made once and reused while its parameters match) holds
files of bench corpus lines: one bad line in a hundred and a server comment every ten thousand lines.
In one run and in rotating order, each round times:

  (a) iter_decoded over every file on one thread: the columnar decoder's own figure;
  (d) iter_decoded in two processes at once, each over half the files: the decoder with both cores busy;
  (b) read_beacons(...).map_partitions(len).sum() on a local cluster of one single-threaded worker;
  (c) the same on two single-threaded workers.

Each of (b) and (c) has a cluster of its own, started for the pass and closed after it.

It prints medians of wall time and, since the machine is shared, also of processor time (of this
process for (a), of the decoding in the two processes for (d), of the worker processes for (b) and (c),
and of the busiest one), with the targets
(c) >= 1.7 x (b) and (a) per core <= 1.3 x (c) per core as medians of the ratios within each round, and
the ratios of processor time per line that tell Dask's own share from the machine's ((b) over (a), (c) over
(d)).
For (b) and (c) it also gives this process's processor time a partition: the scheduler's and the
client's work (a local cluster runs them here), which no number of workers shares out; the same over
many small partitions, where decoding costs next to nothing, is what each partition costs them. Last,
it times read_beacons planning a sparse file of a terabyte, which it reads nothing of.
--blocksizes adds a sweep of (c) over block sizes with the peak resident size of a worker at each, the
figures the default block size was chosen from; --keep-freed-memory starts the workers without
distributed's MALLOC_TRIM_THRESHOLD_. Run it through scripts/bench-dask.sh, which installs the package
with its dask extra.
"""

from __future__ import annotations

import argparse
import contextlib
import hashlib
import json
import os
import pathlib
import platform
import resource
import statistics
import subprocess
import sys
import time
from collections.abc import Iterator
from typing import Any, Callable

import corpus_lines
import dask
import distributed
from dask.utils import format_bytes, parse_bytes

import kav_aprs
from kav_aprs.dask import read_beacons

BAD_EVERY = 100
COMMENT_EVERY = 10_000
BLOCK_LINES = 10_000  # lines of the block that every file repeats
WAIT = 1800  # seconds: the longest any one cluster call may take
# This process's environment as it started: starting a local cluster leaves the workers' settings in it
# (MALLOC_TRIM_THRESHOLD_ among them), which (d)'s processes must not inherit.
ENVIRONMENT = dict(os.environ)
# The pass that shows what a partition costs the scheduler: many partitions, little to decode in each.
SCHEDULING_PARTITIONS = 512
SCHEDULING_BLOCK = 16 << 10
# The cases, as the table and the chart name them.
LABELS = {
    "a": "(a) iter_decoded, one thread",
    "d": "(d) iter_decoded, two processes at once",
    "b": "(b) read_beacons, 1 worker x 1 thread",
    "c": "(c) read_beacons, 2 workers x 1 thread",
}


def generate(directory: pathlib.Path, total_bytes: int, files: int) -> dict:
    """Writes the archive unless one of the same parameters is there; returns its description."""
    valid, bad = corpus_lines.load("valid"), corpus_lines.load("bad")
    lines = []
    for i in range(BLOCK_LINES):
        if i % COMMENT_EVERY == 0:
            lines.append(b"# aprsc 2.1.19 7 Dec 2026 00:00:00 GMT KAV-EU 127.0.0.1:14580")
        elif i % BAD_EVERY == BAD_EVERY - 1:
            lines.append(bad[i % len(bad)])
        else:
            lines.append(valid[i % len(valid)])
    block = b"\n".join(lines) + b"\n"
    blocks_per_file = max(1, total_bytes // files // len(block))
    description = {"files": files, "bytes": files * blocks_per_file * len(block),
                   "lines": files * blocks_per_file * BLOCK_LINES, "block_sha256": hashlib.sha256(block).hexdigest()}
    marker = directory / "archive.json"
    if marker.exists() and json.loads(marker.read_text()) == description:
        return description
    directory.mkdir(parents=True, exist_ok=True)
    marker.unlink(missing_ok=True)
    for n in range(files):
        with open(directory / f"beacons-{n:03d}.txt", "wb") as out:
            for _ in range(blocks_per_file):
                out.write(block)
    marker.write_text(json.dumps(description))
    return description


# One run of a case: rows, wall seconds, processor seconds of the decoding (all of it, and of the busiest
# process), processor seconds of this process.
Run = tuple[int, float, float, float, float]


def single_thread(paths: list[pathlib.Path]) -> Run:
    """iter_decoded over every file, in this process."""
    wall, cpu = time.perf_counter(), time.process_time()
    rows = sum(decoded.decoded for path in paths for decoded in kav_aprs.iter_decoded(path))
    cpu = time.process_time() - cpu
    return rows, time.perf_counter() - wall, cpu, cpu, cpu


def side_by_side(paths: list[pathlib.Path]) -> Run:
    """iter_decoded in two processes at once, each over half the files: the decoder with both cores busy, as
    two workers have them. Both start decoding together, once both have started up; their processor time is
    that of the decoding alone."""
    halves = [paths[0::2], paths[1::2]]
    children = [subprocess.Popen([sys.executable, __file__, "--decode", *map(str, half)], text=True,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=ENVIRONMENT)
                for half in halves]
    for child in children:
        if child.stdout.readline() != "ready\n":
            raise RuntimeError("a decoding process did not start")
    wall = time.perf_counter()
    for child in children:
        child.stdin.write("go\n")
        child.stdin.close()
    ran = [json.loads(child.stdout.readline()) for child in children]
    wall = time.perf_counter() - wall
    for child in children:
        child.wait(timeout=WAIT)
    cpu = [run["cpu_s"] for run in ran]
    return sum(run["rows"] for run in ran), wall, sum(cpu), max(cpu), 0.0


def decode_when_told(paths: list[str]) -> None:
    """The child of side_by_side: decodes its files once told to, and reports rows and processor time."""
    print("ready", flush=True)
    sys.stdin.readline()
    rows, _, cpu, _, _ = single_thread([pathlib.Path(path) for path in paths])
    print(json.dumps({"rows": rows, "cpu_s": cpu}), flush=True)


def _worker_cpu_seconds() -> float:
    times = os.times()
    return times.user + times.system


def _worker_peak_rss() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def on_cluster(client: distributed.Client, pattern: str, blocksize: str) -> Run:
    """One read_beacons pass; the decoding's processor time is the workers'."""
    before = client.run(_worker_cpu_seconds)
    wall, here = time.perf_counter(), time.process_time()
    frame = read_beacons(pattern, blocksize=blocksize)
    rows = client.compute(frame.map_partitions(len).sum()).result(timeout=WAIT)
    wall, here = time.perf_counter() - wall, time.process_time() - here
    spent = [seconds - before[worker] for worker, seconds in client.run(_worker_cpu_seconds).items()]
    return int(rows), wall, sum(spent), max(spent), here


def passes(client: distributed.Client, pattern: str, blocksize: str, count: int) -> list[Run]:
    """`count` timed passes after an untimed one (the workers' imports, the page cache)."""
    on_cluster(client, pattern, blocksize)
    return [on_cluster(client, pattern, blocksize) for _ in range(count)]


def alone_on_cluster(workers: int, pattern: str, blocksize: str) -> Run:
    """A timed pass on a cluster started for it.

    No other cluster idles beside it: an idle one's scheduler, nanny and worker take about 80 ms of
    processor time a second, which two busy workers lose and one worker, with a core to spare, does not.
    """
    with cluster(workers) as client:
        return passes(client, pattern, blocksize, 1)[0]


@contextlib.contextmanager
def cluster(workers: int) -> Iterator[distributed.Client]:
    """A client of a local cluster of single-threaded worker processes, both closed on leaving."""
    local = distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                     host="127.0.0.1", dashboard_address=None, timeout=120)
    client = distributed.Client(local, timeout=120)
    try:
        yield client
    finally:
        client.close(timeout=60)
        local.close(timeout=60)


def rounds(cases: dict[str, Callable[[], Run]], repetitions: int) -> dict:
    """Every case once per round, the order rotating, so that noise hits all alike."""
    samples: dict[str, list[Run]] = {key: [] for key in cases}
    keys = list(cases)
    for rep in range(repetitions):
        shift = rep % len(keys)
        for key in keys[shift:] + keys[:shift]:
            samples[key].append(cases[key]())
            print(f"  round {rep + 1} {key}: {samples[key][-1][1]:.2f} s wall", file=sys.stderr)
    return {
        key: {
            "rows": runs[0][0],
            "wall_s": statistics.median(run[1] for run in runs),
            "cpu_s": statistics.median(run[2] for run in runs),
            "busiest_cpu_s": statistics.median(run[3] for run in runs),
            "this_process_cpu_s": statistics.median(run[4] for run in runs),
            "wall_samples_s": [run[1] for run in runs],
            "cpu_samples_s": [run[2] for run in runs],
            "busiest_cpu_samples_s": [run[3] for run in runs],
        }
        for key, runs in samples.items()
    }


def sweep(client: distributed.Client, pattern: str, blocksizes: list[str], repetitions: int) -> dict:
    """Two workers at each block size: median wall time and the peak resident size of a worker."""
    found = {}
    for blocksize in blocksizes:
        client.restart(timeout=120)  # a fresh peak resident size for each block size
        runs = passes(client, pattern, blocksize, repetitions)
        found[blocksize] = {
            "partitions": read_beacons(pattern, blocksize=blocksize).npartitions,
            "wall_s": statistics.median(run[1] for run in runs),
            "cpu_s": statistics.median(run[2] for run in runs),
            "peak_worker_rss_bytes": max(client.run(_worker_peak_rss).values()),
        }
        print(f"  blocksize {blocksize}: {found[blocksize]['wall_s']:.2f} s", file=sys.stderr)
    return found


def scheduling(client: distributed.Client, directory: pathlib.Path, paths: list[pathlib.Path],
               repetitions: int) -> dict:
    """Milliseconds a partition of two workers' passes over SCHEDULING_PARTITIONS partitions of a few
    hundred lines each: wall time, this process's processor time, and the workers'."""
    path = directory / "scheduling.sample"  # outside the archive's glob
    with open(paths[0], "rb") as source:
        path.write_bytes(source.read(SCHEDULING_PARTITIONS * SCHEDULING_BLOCK))
    try:
        runs = passes(client, str(path), str(SCHEDULING_BLOCK), repetitions)
    finally:
        path.unlink()
    return {"partitions": SCHEDULING_PARTITIONS, "block_bytes": SCHEDULING_BLOCK,
            **{name: statistics.median(run[index] for run in runs) / SCHEDULING_PARTITIONS * 1e3
               for name, index in (("wall_ms", 1), ("workers_cpu_ms", 2), ("this_process_cpu_ms", 4))}}


def planning(directory: pathlib.Path, size: int, repetitions: int) -> dict:
    """Median seconds of read_beacons over a sparse file of `size` bytes, at the default block size."""
    path = directory / "plan.sparse"  # outside the archive's glob
    with open(path, "wb") as file:
        file.truncate(size)
    try:
        seconds = []
        for _ in range(repetitions):
            started = time.perf_counter()
            partitions = read_beacons(str(path)).npartitions
            seconds.append(time.perf_counter() - started)
    finally:
        path.unlink()
    return {"bytes": size, "partitions": partitions, "seconds": statistics.median(seconds)}


def print_report(report: dict) -> None:
    archive = report["archive"]
    print(f"Python {report['python']}, dask {report['dask']}; archive: {archive['files']} files, "
          f"{format_bytes(archive['bytes'])}, {archive['lines']:,} lines; blocksize {report['blocksize']}; "
          f"medians of {report['repetitions']} rounds")
    print(f"worker environment: {report['worker_environment']}")
    print(f"{'case':<46}{'wall s':>8}{'Mlines/s':>10}{'cpu s':>8}{'Mlines/cpu-s':>14}{'busiest cpu s':>15}")
    lines = archive["lines"]
    for r in report["cases"].values():
        print(f"{r['label']:<46}{r['wall_s']:>8.2f}{lines / r['wall_s'] / 1e6:>10.2f}"
              f"{r['cpu_s']:>8.2f}{lines / r['cpu_s'] / 1e6:>14.2f}{r['busiest_cpu_s']:>15.2f}")
    for key in "bc":
        r = report["cases"][key]
        parts = report["partitions"]
        print(f"({key}) scheduler and client: {r['this_process_cpu_s']:.2f} processor s a pass, "
              f"{r['this_process_cpu_s'] / parts * 1e3:.1f} ms a partition ({parts} partitions)")
    cost = report["scheduling"]
    print(f"(c) over {cost['partitions']} partitions of {format_bytes(cost['block_bytes'])}, a partition: "
          f"{cost['wall_ms']:.1f} ms wall, {cost['this_process_cpu_ms']:.1f} ms processor time of the scheduler and "
          f"client, {cost['workers_cpu_ms']:.1f} ms of the workers")
    plan = report["planning"]
    print(f"planning a sparse file of {format_bytes(plan['bytes'])} ({plan['partitions']:,} partitions): "
          f"{plan['seconds']:.2f} s")
    for t in report["targets"]:
        print(f"target {t['target']:<52} ratio {t['ratio']:>6.2f}  {'holds' if t['holds'] else 'MISSED'}")
    for share in report["shares"]:
        print(f"processor time per line, {share['measure']:<52} ratio {share['ratio']:>6.2f}")
    if "sweep" in report:
        print(f"{'blocksize (2 workers)':<24}{'partitions':>11}{'wall s':>8}{'cpu s':>8}{'peak worker RSS':>17}")
        for blocksize, r in report["sweep"].items():
            print(f"{blocksize:<24}{r['partitions']:>11}{r['wall_s']:>8.2f}{r['cpu_s']:>8.2f}"
                  f"{format_bytes(r['peak_worker_rss_bytes']):>17}")


def median_ratio(numerator: list[float], denominator: list[float], factor: float = 1.0) -> float:
    """The median of per-round ratios: the cases of one round ran back to back, under much the same load from
    the rest of the machine."""
    return statistics.median(factor * n / d for n, d in zip(numerator, denominator))


def targets(cases: dict) -> list[dict]:
    a, b, c = (cases[key] for key in "abc")
    checks = (
        ("(c) >= 1.7 x (b), wall", median_ratio(b["wall_samples_s"], c["wall_samples_s"]), ">=", 1.7),
        # On a busy machine the second worker may get no second core of its own; the busiest worker's
        # processor time is what the wall time would be if it did.
        ("(c) >= 1.7 x (b), busiest worker's processor time",
         median_ratio(b["cpu_samples_s"], c["busiest_cpu_samples_s"]), ">=", 1.7),
        # Lines a second of (a) over lines a second and core of (c).
        ("(a) per core <= 1.3 x (c) per core, wall",
         median_ratio(c["wall_samples_s"], a["wall_samples_s"], factor=2.0), "<=", 1.3),
        ("(a) per core <= 1.3 x (c) per core, processor time",
         median_ratio(c["cpu_samples_s"], a["cpu_samples_s"]), "<=", 1.3),
    )
    return [{"target": target, "ratio": ratio, "holds": ratio >= bound if relation == ">=" else ratio <= bound}
            for target, ratio, relation, bound in checks]


def shares(cases: dict) -> list[dict]:
    """Processor time per line, as ratios that tell Dask's own share from the machine's: with one core busy,
    and with both busy, when the decoder alone slows down too (the caches and memory that the cores share)."""
    a, b, c, d = (cases[key] for key in "abcd")
    return [
        {"measure": "(d) over (a): the decoder, both cores busy over one",
         "ratio": median_ratio(d["cpu_samples_s"], a["cpu_samples_s"])},
        {"measure": "(b) over (a): Dask's share, one core busy",
         "ratio": median_ratio(b["cpu_samples_s"], a["cpu_samples_s"])},
        {"measure": "(c) over (d): Dask's share, both cores busy",
         "ratio": median_ratio(c["cpu_samples_s"], d["cpu_samples_s"])},
    ]


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--archive", default="/tmp/kav-aprs-bench-archive", help="where the archive is made")
    ap.add_argument("--size", default="2GiB", help="archive size (default 2GiB)")
    ap.add_argument("--files", type=int, default=8, help="files in the archive (default 8)")
    ap.add_argument("--blocksize", default="64MiB", help="block size of (b) and (c)")
    ap.add_argument("--repetitions", type=int, default=5)
    ap.add_argument("--blocksizes", help="comma-separated block sizes to sweep on two workers")
    ap.add_argument("--keep-freed-memory", action="store_true",
                    help="start the workers without distributed's MALLOC_TRIM_THRESHOLD_, so that freed memory"
                         " is reused instead of handed back to the system and faulted in again")
    ap.add_argument("--json", help="write the figures to this file")
    ap.add_argument("--decode", nargs="+", metavar="FILE", help=argparse.SUPPRESS)  # side_by_side's children
    args = ap.parse_args()
    if args.decode:
        decode_when_told(args.decode)
        return 0

    directory = pathlib.Path(args.archive)
    archive = generate(directory, parse_bytes(args.size), args.files)
    paths = sorted(directory.glob("beacons-*.txt"))
    pattern = str(directory / "beacons-*.txt")
    report: dict[str, Any] = {"python": platform.python_version(), "dask": dask.__version__,
                              "archive": archive, "blocksize": args.blocksize, "repetitions": args.repetitions}
    if args.keep_freed_memory:
        dask.config.set({"distributed.nanny.pre-spawn-environ.MALLOC_TRIM_THRESHOLD_": None})
    report["worker_environment"] = dask.config.get("distributed.nanny.pre-spawn-environ")
    report["cases"] = rounds({
        "a": lambda: single_thread(paths),
        "d": lambda: side_by_side(paths),
        "b": lambda: alone_on_cluster(1, pattern, args.blocksize),
        "c": lambda: alone_on_cluster(2, pattern, args.blocksize),
    }, args.repetitions)
    for key, case in report["cases"].items():
        case["label"] = LABELS[key]
    if len({case["rows"] for case in report["cases"].values()}) != 1:
        print("refusing to report: the cluster did not give one row per decoded line", file=sys.stderr)
        return 1
    report["partitions"] = read_beacons(pattern, blocksize=args.blocksize).npartitions
    report["targets"] = targets(report["cases"])
    report["shares"] = shares(report["cases"])
    with cluster(2) as client:
        report["scheduling"] = scheduling(client, directory, paths, 3)
        if args.blocksizes:
            report["sweep"] = sweep(client, pattern, args.blocksizes.split(","), args.repetitions)
    report["planning"] = planning(directory, 1 << 40, 3)
    print_report(report)
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps(report, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
