"""``kav-aprs follow``: an APRS server's live stream, decoded into records as it comes."""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
import time
from collections.abc import Callable, Iterator
from typing import TYPE_CHECKING, Any

from ..writers import (
    STDIO,
    CsvWriter,
    ErrorsWriter,
    JsonLinesWriter,
    Output,
    ParquetUnavailable,
    WriteFailed,
    writing,
)
from .report import Tally, write_summary

# The feed and what only a running follow needs (sockets, logging, signals,
# the rotation of Parquet files with its datetime) are imported by the functions
# that use them: the command line of every subcommand is parsed with this module
# loaded, and they take a while to import.
if TYPE_CHECKING:
    import logging

    from ..feed import Feed, FeedBatch, FeedStats
    from .rotation import RotatingParquet

NAME = "kav-aprs follow"
RECORD_WRITERS = {"jsonl": JsonLinesWriter, "csv": CsvWriter}

DESCRIPTION = """\
Follow an APRS server (plain TCP, HOST:PORT) and decode its beacon lines as
they come, until stopped by SIGINT (Ctrl-C) or SIGTERM.

Logs in as a receive-only client: 'user CALLSIGN pass -1 vers kav-aprs
VERSION', with ' filter FILTER' when --filter is given. The default callsign,
KAVRX and four random digits, is a receive-only name that is no station's:
the server needs no pass code for it and sends to it, but takes nothing from it.

Records go out once a second (or every 10,000 lines): JSON lines or CSV to
standard output or appended to -o FILE, and with --parquet-dir one Parquet
file a period (--rotate, default 1h) named after the UTC start of its period,
beacons-20261207T140000Z.parquet, which appears only when complete. Line
numbers run on across reconnections, counting the server's own '#' lines.

Silence for 60 s (the server's keepalives count), a closed or reset
connection, a refused connection or a name that does not resolve leads to a
new connection after a wait of 1 s, doubling to 60 s. A line cut off by a
disconnect is dropped and counted; a line over 4,096 bytes is cut there,
counted as failed (LineTooLong) and written to --errors with its first
4,096 bytes.

standard error: one line a fault or event, with the UTC time; at the end, a
summary (lines, decoded, failed by kind, comments, blank, connections,
reconnects, dropped partial lines). --quiet leaves only the faults.
"""

FOLLOW_EXIT_STATUS = """\
exit status:
  0  stopped by SIGINT or SIGTERM, every record written
  1  an output could not be written (the run stops, files are closed)
  2  the command line was wrong
"""


def add_parser(subparsers: Any, epilog: str) -> argparse.ArgumentParser:
    parser = subparsers.add_parser(
        "follow",
        help="follow an APRS server's live stream, decoding its beacons as they come",
        description=DESCRIPTION,
        epilog=FOLLOW_EXIT_STATUS,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("address", metavar="HOST:PORT", help="the server, e.g. aprs.example.net:14580")
    parser.add_argument("--callsign", help="the name to log in with (default: KAVRX and four random digits)")
    parser.add_argument("--filter", help="a server-side filter, e.g. 'r/48.1/11.6/200' (200 km around a point)")
    parser.add_argument("--format", choices=sorted(RECORD_WRITERS), default="jsonl",
                        help="format of the records for -o or standard output (default: jsonl)")
    parser.add_argument("-o", "--output", metavar="FILE",
                        help="append the records to FILE ('-' for standard output, the default "
                             "unless --parquet-dir is given)")
    parser.add_argument("--parquet-dir", metavar="DIR", help="write the beacons as Parquet files into DIR")
    parser.add_argument("--rotate", metavar="PERIOD", default="1h",
                        help="one Parquet file a PERIOD: 1h, 15m, 30s, 1d (default: 1h)")
    parser.add_argument("--errors", metavar="FILE",
                        help=f"append every failing line as a JSON line to FILE ('{STDIO}' for standard error)")
    parser.add_argument("-q", "--quiet", action="store_true", help="no events and no summary, only the faults")
    parser.set_defaults(run=run, parser=parser)
    return parser


def parse_address(text: str) -> tuple[str, int]:
    """HOST:PORT or [IPv6]:PORT; ValueError naming what is wrong."""
    host, colon, port = text.rpartition(":")
    if host.startswith("[") and host.endswith("]"):
        host = host[1:-1]
    if not colon or not host or not port.isdigit() or not 0 < int(port) < 65536:
        raise ValueError(f"not HOST:PORT with a port from 1 to 65535: {text!r}")
    return host, int(port)


def _utc_now() -> str:
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())


def message(text: str) -> None:
    print(f"{NAME}: {_utc_now()} {text}", file=sys.stderr, flush=True)


def _message_handler(level: int) -> logging.Handler:
    """A handler writing the feed's log records as the command's one-line messages."""
    import logging

    class MessageHandler(logging.Handler):
        def emit(self, record: logging.LogRecord) -> None:
            with contextlib.suppress(OSError, ValueError):
                message(record.getMessage())

    return MessageHandler(level)


@contextlib.contextmanager
def _feed_messages(quiet: bool) -> Iterator[None]:
    import logging

    logger = logging.getLogger("kav_aprs.feed")
    handler = _message_handler(logging.WARNING if quiet else logging.INFO)
    saved = logger.level, logger.propagate
    logger.addHandler(handler)
    logger.setLevel(handler.level)
    logger.propagate = False
    try:
        yield
    finally:
        logger.removeHandler(handler)
        logger.setLevel(saved[0])
        logger.propagate = saved[1]


@contextlib.contextmanager
def _stopped_by_signals(feed: Feed) -> Iterator[None]:
    """SIGINT and SIGTERM stop the feed after its current batch; a second one interrupts at once."""
    import signal

    received: list[int] = []

    def stop(number: int, frame: Any) -> None:
        if received:
            raise KeyboardInterrupt
        received.append(number)
        feed.stop()

    saved = {number: signal.signal(number, stop) for number in (signal.SIGINT, signal.SIGTERM)}
    try:
        yield
    finally:
        for number, handler in saved.items():
            signal.signal(number, handler)


def cut_line_records(batch: FeedBatch, source: str) -> bytes:
    """The errors file's JSON lines for the lines cut at MAX_LINE_BYTES, with their first bytes."""
    import json

    from ..feed import LINE_TOO_LONG, MAX_LINE_BYTES

    return b"".join(
        json.dumps({
            "source": source, "line_number": line.line_number, "error_kind": LINE_TOO_LONG,
            "error": f"{LINE_TOO_LONG}: a line of {line.length} bytes, cut at {MAX_LINE_BYTES}",
            "line": line.head.decode("utf-8", "backslashreplace"),
        }, ensure_ascii=False).encode() + b"\n"
        for line in batch.cut_lines
    )


def _write_errors(errors: ErrorsWriter, output: Output, batch: FeedBatch, source: str) -> None:
    errors.write(batch, source)
    records = memoryview(cut_line_records(batch, source))
    while records:  # os.write may write part of it when a signal comes
        records = records[os.write(output.fd, records):]


class _Sinks:
    """Where each batch goes: records, Parquet files, failed lines."""

    def __init__(self, args: argparse.Namespace) -> None:
        self.outputs: list[Output] = []
        self.records: JsonLinesWriter | CsvWriter | None = None
        self.records_output: Output | None = None
        self.errors: ErrorsWriter | None = None
        self.errors_output: Output | None = None
        self.parquet: RotatingParquet | None = None
        try:
            if args.output is not None or args.parquet_dir is None:
                self.records_output = self._open(args.output or STDIO, sys.stdout)
                fresh = self.records_output.name == STDIO or os.fstat(self.records_output.fd).st_size == 0
                self.records = (CsvWriter(self.records_output, header=fresh) if args.format == "csv"
                                else JsonLinesWriter(self.records_output))
            if args.errors is not None:
                self.errors_output = self._open(args.errors, sys.stderr)
                self.errors = ErrorsWriter(self.errors_output)
            if args.parquet_dir is not None:
                from .rotation import RotatingParquet

                self.parquet = RotatingParquet(args.parquet_dir, args.rotate, time.time())
        except BaseException:
            self.discard()
            raise

    def _open(self, name: str, stdio: Any) -> Output:
        output = Output(name, stdio=stdio, append=name != STDIO)
        self.outputs.append(output)
        return output

    def write(self, batch: FeedBatch, source: str) -> None:
        """Writes a batch to every output: one that fails does not keep it from the others."""
        failures: list[WriteFailed] = []

        def attempt(what: str, write: Callable[[], None]) -> None:
            try:
                with writing(what):
                    write()
            except WriteFailed as failure:
                failures.append(failure)

        records, errors, parquet = self.records, self.errors, self.parquet
        if records is not None and self.records_output is not None:
            attempt(self.records_output.display_name, lambda: records.write(batch, source))
        errors_output = self.errors_output
        if errors is not None and errors_output is not None:
            attempt(f"errors file {errors_output.display_name}",
                    lambda: _write_errors(errors, errors_output, batch, source))
        if parquet is not None:
            when = batch.received_to.timestamp() if batch.received_to is not None else time.time()
            attempt(f"Parquet file in {parquet.directory}", lambda: parquet.write(batch, source, when))
        if failures:
            raise failures[0]

    def close(self) -> None:
        """Ends every output; the first failure is raised after all are closed."""
        failure: WriteFailed | None = None
        if self.parquet is not None:
            try:
                self.parquet.close()
            except OSError as error:
                failure = WriteFailed(f"Parquet file in {self.parquet.directory}", error)
        for output in self.outputs:
            try:
                if output is self.records_output and self.records is not None:
                    self.records.close()
                output.commit()
            except OSError as error:
                failure = failure or WriteFailed(output.display_name, error)
        if failure is not None:
            raise failure

    def discard(self) -> None:
        if self.parquet is not None:
            self.parquet.discard()
        for output in self.outputs:
            output.discard()  # closes: records and errors are appended in place, so nothing is removed


def _summary_rows(stats: FeedStats) -> list[tuple[str, int]]:
    return [("connections", stats.connections), ("reconnects", stats.reconnects),
            ("failed connects", stats.failed_connects), ("lost connections", stats.lost_connections),
            ("dropped partial lines", stats.dropped_partial_lines)]


def run(args: argparse.Namespace) -> int:
    from ..feed import Feed
    from .rotation import parse_period

    parser = args.parser
    try:
        host, port = parse_address(args.address)
        args.rotate = parse_period(args.rotate)
        feed = Feed(host, port, callsign=args.callsign, filter=args.filter)
    except ValueError as error:
        parser.error(str(error))
    source = args.address
    try:
        sinks = _Sinks(args)
    except ParquetUnavailable as error:
        feed.close()
        message(str(error))
        return 1
    except OSError as error:
        feed.close()
        message(str(WriteFailed(getattr(error, "filename", None) or "standard output", error)))
        return 1

    tally = Tally()
    started = time.monotonic()
    status = 0
    with _feed_messages(args.quiet), _stopped_by_signals(feed), feed:
        try:
            for batch in feed:
                sinks.write(batch, source)
                tally.add(batch)
            sinks.close()
        except WriteFailed as failure:
            feed.close()
            with contextlib.suppress(WriteFailed):
                sinks.close()
            if isinstance(failure.error, BrokenPipeError) and sinks.records_output is not None \
                    and sinks.records_output.name == STDIO:
                raise failure.error from None  # the reader of standard output left: end quietly
            message(str(failure))
            status = 1
        except BaseException:
            sinks.discard()
            raise
    if not args.quiet:
        with contextlib.suppress(OSError):
            write_summary(sys.stderr, tally, time.monotonic() - started, _summary_rows(feed.stats))
    return status
