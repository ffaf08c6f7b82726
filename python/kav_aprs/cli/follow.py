"""``kav-aprs follow``: an APRS server's live stream, decoded into records as it comes."""

from __future__ import annotations

import argparse
import contextlib
import re
import sys
import time
from collections.abc import Iterator
from typing import TYPE_CHECKING, Any

from .. import sinks
from ..sinks import STDIO
from . import signals
from .report import write_summary

# The feed and what only a running follow needs (sockets, logging) are
# imported by the functions that use them: the command line of every
# subcommand is parsed with this module loaded, and they take a while to import.
if TYPE_CHECKING:
    import logging

    from ..feed import Feed, FeedStats

NAME = "kav-aprs follow"
TEXT_FORMATS = ("csv", "jsonl")
_PERIOD = re.compile(r"(\d+)([smhd]?)")
_UNIT_SECONDS = {"": 1, "s": 1, "m": 60, "h": 3600, "d": 86400}

DESCRIPTION = """\
Follow an APRS server (plain TCP, HOST:PORT) and decode its beacon lines as
they come, until stopped by SIGINT (Ctrl-C), SIGTERM or SIGHUP.

Logs in as a receive-only client: 'user CALLSIGN pass -1 vers kav-aprs
VERSION', with ' filter FILTER' when --filter is given. The default callsign,
KAVRX and four random digits, is a receive-only name that is no station's:
the server needs no pass code for it and sends to it, but takes nothing from it.

Records go out once a second (or every 10,000 lines): JSON lines or CSV to
standard output or appended to -o FILE, and with --parquet-dir (created if
missing) one Parquet file a period (--rotate, default 1h) named after the UTC
start of its period, beacons-20261207T140000Z.parquet, which appears only
when complete. Line numbers run on across reconnections, counting the
server's own '#' lines. A batch whose write to -o or --errors fails is taken
off the file again; a last record without its line end, left in the file by
an earlier run (a full disk, a killed process), is cut off before appending,
with a message.

Silence for 60 s (the server's keepalives count), a closed or reset
connection, a refused connection or a name that does not resolve leads to a
new connection after a wait of 1 s, doubling to 60 s. A line cut off by a
disconnect is dropped and counted; a line over 4,096 bytes fails
(LineTooLong) and is written to --errors with its first 4,096 bytes.

standard error: one line a fault or event, with the UTC time; at the end, a
summary (lines, decoded, failed by kind, comments, blank, connections,
reconnects, dropped partial lines). --quiet leaves only the faults.
"""

FOLLOW_EXIT_STATUS = """\
exit status:
  0  stopped by SIGINT (Ctrl-C), SIGTERM or SIGHUP, every record written:
     however many signals come, the current Parquet file is completed and named
  1  an output could not be written (the run stops; every file written well is
     completed); also, with no message, when the reader of standard output goes
     away (| head)
  2  the command line was wrong
"""


def add_parser(subparsers: Any, epilog: str) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "follow",
        help="follow an APRS server's live stream, decoding its beacons as they come",
        description=DESCRIPTION,
        epilog=FOLLOW_EXIT_STATUS,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("address", metavar="HOST:PORT", help="the server, e.g. aprs.example.net:14580")
    parser.add_argument("--callsign", help="the name to log in with (default: KAVRX and four random digits)")
    parser.add_argument("--filter", help="a server-side filter, e.g. 'r/48.1/11.6/200' (200 km around a point)")
    parser.add_argument("--format", choices=TEXT_FORMATS, default="jsonl",
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


def parse_period(text: str) -> int:
    """Seconds of a period written as 90, 90s, 15m, 1h or 1d; ValueError otherwise."""
    match = _PERIOD.fullmatch(text.strip())
    if match is None or int(match.group(1)) == 0:
        raise ValueError(f"not a period of time: {text!r} (examples: 1h, 15m, 30s, 1d)")
    return int(match.group(1)) * _UNIT_SECONDS[match.group(2)]


def _utc_now() -> str:
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())


def message(text: str) -> None:
    print(f"{NAME}: {_utc_now()} {text}", file=sys.stderr, flush=True)


def _message_handler(level: int) -> logging.Handler:
    """A handler writing log records as the command's one-line messages, with the UTC time."""
    import logging

    class MessageHandler(logging.Handler):
        def emit(self, record: logging.LogRecord) -> None:
            with contextlib.suppress(OSError, ValueError):
                message(record.getMessage())

    return MessageHandler(level)


@contextlib.contextmanager
def _package_messages(quiet: bool) -> Iterator[None]:
    """The package's log records (the feed's events, a torn record cut off) as the command's messages."""
    import logging

    logger = logging.getLogger("kav_aprs")
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


def _summary_rows(stats: FeedStats) -> list[tuple[str, int]]:
    return [("connections", stats.connections), ("reconnects", stats.reconnects),
            ("failed connects", stats.failed_connects), ("lost connections", stats.lost_connections),
            ("dropped partial lines", stats.dropped_partial_lines)]


def run(args: argparse.Namespace) -> int:
    from ..feed import Feed

    try:
        host, port = parse_address(args.address)
        rotate = parse_period(args.rotate)
        feed = Feed(host, port, callsign=args.callsign, filter=args.filter)
    except ValueError as error:
        args.parser.error(str(error))
    started = time.monotonic()
    # Every stop signal only stops the feed, however many come, until the run
    # ends: the files are completed and named on the way out, and a signal
    # never cuts that short.
    with signals.on_stop_signals(lambda number: feed.stop()):
        with _package_messages(args.quiet), feed:
            try:
                sink = sinks.Sink(STDIO if args.output is None and args.parquet_dir is None else args.output,
                                  args.format, errors=args.errors, parquet_dir=args.parquet_dir, rotate=rotate,
                                  append=True)
            except (sinks.WriteFailed, sinks.ParquetUnavailable) as error:
                message(str(error))
                return 1
            status = _follow(feed, sink)
        if not args.quiet:
            with contextlib.suppress(OSError):
                write_summary(sys.stderr, feed.stats, time.monotonic() - started, _summary_rows(feed.stats))
    return status


def _follow(feed: Feed, sink: sinks.Sink) -> int:
    """Writes the feed's batches until it stops or a write fails. Whatever ends
    it, every file whose writes all went well is completed and named."""
    try:
        try:
            for batch in feed:
                sink.write(batch)
        finally:
            sink.commit()
    except sinks.WriteFailed as failure:
        if isinstance(failure.error, BrokenPipeError):
            raise failure.error from None  # the reader of standard output left: end quietly
        message(str(failure))
        return 1
    return 0
