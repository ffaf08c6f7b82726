"""Feed benchmark: lines a second that kav_aprs.feed decodes from a loopback burst.

A server process (pinned to another core when there is one) sends a banner,
reads the login line, answers it, then sends a burst of lines made of the
bundled corpus, all at once. The client (this process, pinned to one core)
follows it with the default batching until every line has come. Each
repetition measures three things on the same bytes, interleaved:

- recv: reading the burst from a plain socket and doing nothing with it, the
  loopback's own ceiling;
- decode: kav_aprs.decode on the burst in memory, in 10,000-line chunks, the
  decoder's own speed;
- feed: Feed from connecting to its last batch due to its count, 10,000
  lines and the rest of the read that reached them (the few lines after it
  wait for the batch interval, as they should).

Prints the median lines a second of each, by the clock and by the client's
CPU time (the figure to trust on a busy machine), and the feed's ratio to
both; writes the figures as JSON with --json. Run through
scripts/bench-feed.sh.
"""

from __future__ import annotations

import argparse
import json
import multiprocessing
import os
import platform
import socket
import statistics
import sys
import time

import corpus_lines

import kav_aprs
from kav_aprs.feed import Backoff, Feed

TARGET_LINES_PER_SECOND = 500_000
CHUNK_LINES = 10_000


def burst_of(lines: int) -> bytes:
    corpus = corpus_lines.load("valid")
    return b"".join(corpus[i % len(corpus)] + b"\r\n" for i in range(lines))


def _pin(core: int | None) -> None:
    if core is not None and hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {core})


def _serve(listener: socket.socket, burst: bytes, connections: int, core: int | None) -> None:
    """Plays the burst to each of `connections` clients in turn."""
    _pin(core)
    listener.settimeout(60)
    for _ in range(connections):
        connection, _ = listener.accept()
        with connection:
            connection.sendall(b"# kav bench server\r\n")
            connection.recv(1000)  # the login line (the raw reader sends one too)
            connection.sendall(b"# logresp KAVBENCH unverified, server BENCH\r\n")
            connection.sendall(burst)
            connection.shutdown(socket.SHUT_WR)
            connection.settimeout(60)
            while connection.recv(1 << 16):  # until the client hangs up
                pass


def time_recv(port: int, size: int) -> tuple[float, float]:
    """Seconds (wall, CPU) to read `size` bytes of burst after the greeting from a plain socket."""
    with socket.create_connection(("127.0.0.1", port)) as connection:
        connection.sendall(b"user KAVBENCH pass -1\r\n")
        buffer = bytearray(1 << 20)
        view = memoryview(buffer)
        got = 0
        start, cpu = time.perf_counter(), time.process_time()
        while got < size:
            received = connection.recv_into(view)
            if not received:
                break
            got += received
        return time.perf_counter() - start, time.process_time() - cpu


def time_decode(burst: bytes) -> tuple[float, float]:
    """Seconds (wall, CPU) to decode the burst in memory, cut into 10,000-line chunks beforehand."""
    chunks, at = [], 0
    while at < len(burst):
        end = at
        for _ in range(CHUNK_LINES):
            end = burst.find(b"\n", end) + 1
            if end == 0:
                end = len(burst)
                break
        chunks.append(burst[at:end])
        at = end
    start, cpu = time.perf_counter(), time.process_time()
    for chunk in chunks:
        kav_aprs.decode(chunk)
    return time.perf_counter() - start, time.process_time() - cpu


def time_feed(port: int, lines: int) -> tuple[int, float, float]:
    """Lines and seconds (wall, CPU) for Feed from connecting to its last batch due to its count.

    The lines after that batch wait for the batch interval, by design; the
    time to it is the client's own.
    """
    decoded = full_lines = 0
    wall = cpu = 0.0
    start, cpu_start = time.perf_counter(), time.process_time()
    with Feed("127.0.0.1", port, callsign="KAVBENCH", batch_lines=CHUNK_LINES, backoff=Backoff(first=60.0)) as feed:
        for batch in feed:
            decoded += batch.decoded
            if batch.lines >= CHUNK_LINES:
                full_lines = feed.stats.lines
                wall, cpu = time.perf_counter() - start, time.process_time() - cpu_start
            if decoded >= lines:
                break
    if decoded != lines or feed.stats.failed or feed.stats.connections != 1:
        raise SystemExit(f"feed delivered {decoded} of {lines} lines ({feed.stats})")
    return full_lines, wall, cpu



def _per(lines: int, seconds: float) -> float:
    """Lines a second; a run too short for the clock to see counts as a nanosecond."""
    return lines / max(seconds, 1e-9)

def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--json", help="write the figures here")
    args = parser.parse_args()

    cores = sorted(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else []
    client_core = cores[0] if cores else None
    server_core = cores[1] if len(cores) > 1 else None
    burst = burst_of(args.lines)
    listener = socket.create_server(("127.0.0.1", 0))
    server = multiprocessing.get_context("fork").Process(
        target=_serve, args=(listener, burst, 2 * args.repetitions, server_core), daemon=True)
    server.start()
    _pin(client_core)
    port = listener.getsockname()[1]

    samples: dict[str, list[tuple[int, float, float]]] = {"recv": [], "decode": [], "feed": []}
    for repetition in range(args.repetitions):
        samples["recv"].append((args.lines, *time_recv(port, len(burst))))
        samples["decode"].append((args.lines, *time_decode(burst)))
        samples["feed"].append(time_feed(port, args.lines))
        print(f"repetition {repetition + 1}: " + ", ".join(
            f"{name} {_per(s[-1][0], s[-1][1]):,.0f} lines/s" for name, s in samples.items()), file=sys.stderr)
    server.join(10)
    listener.close()

    rate = {name: statistics.median(_per(n, wall) for n, wall, _ in s) for name, s in samples.items()}
    cpu_rate = {name: statistics.median(_per(n, cpu) for n, _, cpu in s) for name, s in samples.items()}
    print(f"{args.lines:,} lines ({len(burst) / 1e6:.1f} MB), {args.repetitions} repetitions, medians;"
          f" client on core {client_core}, server on core {server_core}")
    print(f"  {'':7} {'lines/s':>12} {'lines/CPU s':>12}")
    for name in samples:
        print(f"  {name:7} {rate[name]:>12,.0f} {cpu_rate[name]:>12,.0f}")
    for per, figures in (("s", rate), ("CPU s", cpu_rate)):
        print(f"  per {per}: feed / decode = {figures['feed'] / figures['decode']:.2f},"
              f" feed / recv = {figures['feed'] / figures['recv']:.2f}")
    verdict = "met" if rate["feed"] >= TARGET_LINES_PER_SECOND else "NOT met"
    print(f"  target {TARGET_LINES_PER_SECOND:,} lines/s: {verdict}")
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"lines": args.lines, "bytes": len(burst), "repetitions": args.repetitions,
                       "python": platform.python_version(), "lines_per_second": rate,
                       "lines_per_cpu_second": cpu_rate, "samples": samples}, out, indent=2)


if __name__ == "__main__":
    main()
