"""``kav-aprs decode``: files and streams of beacon lines into JSON lines, CSV or Parquet."""

from __future__ import annotations

import argparse
import contextlib
import sys
import time
from typing import Any

import kav_aprs

from .. import sinks
from ..sinks import STDIO
from ..tally import Tally
from . import signals
from .clash import clash
from .report import progress_line, write_summary

NAME = "kav-aprs decode"
# Bytes of input decoded at a time. A Parquet batch is a row group, which
# readers want large; JSON lines and CSV go faster in batches whose columns and
# text stay in the cache while they are rendered. Threads each render a whole
# batch before their turn to write it, so theirs are smaller still: the writes
# of one file are serial in the kernel, and the first and last batches, which
# no other thread's work overlaps, are short.
PARQUET_BATCH_BYTES = 8 << 20
TEXT_BATCH_BYTES = 2 << 20
THREAD_TEXT_BATCH_BYTES = 1 << 20

DESCRIPTION = """\
Decode KAV APRS aircraft beacon lines into records, one per decoded beacon.

Reads the files named ('-' for standard input; standard input when none is
named). Input compressed with gzip, bzip2 or xz is recognised by its first
bytes, whatever its name. Lines end at \\n, \\r\\n or a lone \\r; lines starting
with '#' are comments; comments and blank lines are counted and skipped.

formats (--format):
  jsonl    one JSON object a beacon (the default)
  csv      a header line, then one line a beacon
  parquet  a zstd-compressed Parquet file, one row group per batch (needs -o
           and pyarrow: pip install 'kav_aprs_parser_pyo3[parquet]')
Every record holds source, line_number, callsign, q_construct, receiver,
kav_aprs_protocol, time (HH:MM:SS), latitude, longitude, ground_track,
ground_speed, gps_altitude, aircraft_type, address_type, no_track,
stealth_mode and address (the 24-bit address: six upper-case hex digits in
JSON lines and CSV, "0A3F9C"; a uint32 in Parquet). NaN and the infinities
are written as "NaN", "Infinity" and "-Infinity". Files named by -o and
--errors appear only when complete: a run that fails or is stopped, or none
of whose inputs could be read, leaves neither. A damaged compressed input
gives its records up to the damage.

standard error: messages naming each input that cannot be read or output that
cannot be written; a progress line while a long run goes on, when standard
error is a terminal and the records go elsewhere; a summary at the end (lines
read, decoded, failed by kind, comments, blank, unreadable inputs, lines per
second); --errors - adds the failed lines. --quiet leaves only the messages.
"""


def add_parser(subparsers: Any, epilog: str) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = subparsers.add_parser(
        "decode",
        help="decode files or streams of beacon lines into JSON lines, CSV or Parquet",
        description=DESCRIPTION,
        epilog=epilog,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("inputs", nargs="*", metavar="FILE",
                        help=f"files of beacon lines, '{STDIO}' for standard input")
    parser.add_argument("--format", choices=sinks.FORMATS, default="jsonl",
                        help="output format (default: jsonl)")
    parser.add_argument("-o", "--output", metavar="FILE", default=STDIO,
                        help="write the records to FILE (default: standard output)")
    parser.add_argument("--errors", metavar="FILE",
                        help="write every failing line as a JSON line with its source, line number, "
                             f"error kind and error text to FILE ('{STDIO}' for standard error)")
    parser.add_argument("--jobs", type=_positive, default=1, metavar="N",
                        help="decode on N threads (default: 1); records keep the input order")
    parser.add_argument("--batch-bytes", type=_positive, metavar="BYTES",
                        help="bytes of input decoded at a time (default: "
                             f"{PARQUET_BATCH_BYTES} for parquet, one row group each, "
                             f"{TEXT_BATCH_BYTES} otherwise, {THREAD_TEXT_BATCH_BYTES} with --jobs 2 or more)")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="no progress line and no summary")
    parser.set_defaults(run=run, parser=parser)
    return parser


def _positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def run(args: argparse.Namespace) -> int:
    if args.format == "parquet" and args.output == STDIO:
        args.parser.error("--format parquet needs a file: give one with -o FILE")
    inputs = args.inputs or [STDIO]
    refusal = clash(inputs, args.output, args.errors)
    if refusal is not None:
        args.parser.error(refusal)
    with signals.interrupting():
        return _Run(args, inputs).run()


class _Run:
    """One decode run: the inputs read one after another into one sink, and what is told of it."""

    def __init__(self, args: argparse.Namespace, inputs: list[str]) -> None:
        self.args = args
        self.inputs = inputs
        self.batch_bytes = args.batch_bytes or (
            PARQUET_BATCH_BYTES if args.format == "parquet" else
            THREAD_TEXT_BATCH_BYTES if args.jobs > 1 else TEXT_BATCH_BYTES)
        self.tally = Tally()
        self.unreadable = 0
        self.read_any = False  # whether any input could be read at all
        self.bytes_read = 0  # of the inputs done, as stored
        self.started = time.perf_counter()
        # Not beside records or failed lines on the same terminal, which would tear it apart.
        self.progress = None if args.quiet or args.errors == STDIO else progress_line(inputs, args.output == STDIO)

    def message(self, text: str) -> None:
        if self.progress is not None:
            self.progress.clear()
        print(f"{NAME}: {text}", file=sys.stderr, flush=True)

    def run(self) -> int:
        try:
            sink = sinks.Sink(self.args.output, self.args.format, errors=self.args.errors)
        except (sinks.WriteFailed, sinks.ParquetUnavailable) as error:
            self.message(str(error))
            return 1
        try:
            for name in self.inputs:
                self.decode(name, sink)
            if self.read_any:
                sink.commit()
            else:  # no input could be read at all: an empty file would only look like a result
                sink.discard()
        except sinks.WriteFailed as failure:
            sink.discard()
            if isinstance(failure.error, BrokenPipeError):
                raise failure.error from None  # the reader of standard output left: end quietly
            self.message(str(failure))
            return 1
        except BaseException:
            sink.discard()
            raise
        finally:
            if self.progress is not None:
                self.progress.clear()
        if not self.args.quiet:
            with contextlib.suppress(OSError):
                write_summary(sys.stderr, self.tally, time.perf_counter() - self.started,
                              [("unreadable inputs", self.unreadable)] if self.unreadable else [])
        return 1 if self.unreadable else 0

    def decode(self, name: str, sink: sinks.Sink) -> None:
        """Writes the records of one input; one that cannot be read, or not to its end, is told and counted."""
        reader = kav_aprs.open(name, jobs=self.args.jobs, batch_bytes=self.batch_bytes)
        try:
            with reader:  # its threads are done on leaving, whatever ends the reading
                for decoded in sink.written(reader):
                    self.read_any = True
                    self.tally.add(decoded)
                    if self.progress is not None:
                        self.progress.update(self.tally, self.bytes_read + reader.bytes_read)
            self.read_any = True
        except OSError as error:
            self.unreadable += 1
            # A damaged input's message names it, and where the damage is.
            self.message(f"cannot read {error}" if isinstance(error, kav_aprs.DamagedInputError)
                         else f"cannot read {name}: {error.strerror or error}")
        self.bytes_read += reader.bytes_read
