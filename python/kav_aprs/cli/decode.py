"""``kav-aprs decode``: files and streams of beacon lines into JSON lines, CSV or Parquet."""

from __future__ import annotations

import argparse
import collections
import contextlib
import lzma
import os
import stat
import sys
import time
import zlib
from collections.abc import Callable, Iterator
from typing import IO, TYPE_CHECKING, Any

from .. import _chunks, _native, _sources
from ..writers import (
    STDIO,
    WRITERS,
    ErrorsWriter,
    Output,
    ParquetUnavailable,
    RecordWriter,
    TextWriter,
    WriteFailed,
)
from .report import ProgressLine, Tally, write_summary

if TYPE_CHECKING:
    import concurrent.futures

# Starts decoding a chunk, given the number of its first line, on a worker thread.
StartDecoding = Callable[[_chunks.Chunk, int], "concurrent.futures.Future[_native.DecodedChunk]"]

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

# What reading a damaged or vanished input raises: the system's errors,
# and the decompressors' own for truncated or corrupt data.
READ_ERRORS = (OSError, EOFError, zlib.error, lzma.LZMAError, OverflowError)

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
stealth_mode and address (six hex digits). NaN and the infinities are written
as "NaN", "Infinity" and "-Infinity".

standard error: messages naming each input that cannot be read or output that
cannot be written; a progress line while a long run goes on, when standard
error is a terminal and the records go elsewhere; a summary at the end (lines
read, decoded, failed by kind, comments, blank, unreadable inputs, lines per
second); --errors - adds the failed lines. --quiet leaves only the messages.
"""


def add_parser(subparsers: Any, epilog: str) -> argparse.ArgumentParser:
    parser = subparsers.add_parser(
        "decode",
        help="decode files or streams of beacon lines into JSON lines, CSV or Parquet",
        description=DESCRIPTION,
        epilog=epilog,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("inputs", nargs="*", metavar="FILE",
                        help=f"files of beacon lines, '{STDIO}' for standard input")
    parser.add_argument("--format", choices=sorted(WRITERS), default="jsonl",
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


class _CountingReader:
    """A binary stream that counts the bytes read from it, for the progress line."""

    def __init__(self, stream: IO[bytes]) -> None:
        self._stream = stream
        self.bytes_read = 0

    def read(self, size: int = -1) -> bytes:
        data = self._stream.read(size)
        self.bytes_read += len(data or b"")
        return data

    def read1(self, size: int = -1) -> bytes:
        data = getattr(self._stream, "read1", self._stream.read)(size)
        self.bytes_read += len(data or b"")
        return data

    def fileno(self) -> int:
        # Without it every input looked like a pipe, and --jobs decoded one chunk at a time.
        return self._stream.fileno()


def _source_name(name: str) -> str:
    """The name records give as their source: valid UTF-8 whatever the file system holds."""
    if name == STDIO:
        return "<stdin>"
    return os.fsencode(name).decode("utf-8", "backslashreplace")


def _status(name: str, stdio: Any) -> os.stat_result:
    """The status of a named file, or of the standard stream that '-' stands for."""
    return os.fstat(stdio.fileno()) if name == STDIO else os.stat(name)


def _total_size(inputs: list[str]) -> int | None:
    """The bytes of all inputs, when every one is a regular file."""
    total = 0
    for name in inputs:
        try:
            status = _status(name, sys.stdin)
        except (OSError, ValueError):
            return None
        if not stat.S_ISREG(status.st_mode):
            return None
        total += status.st_size
    return total


def _decoded_in_order(chunks: Iterator[_chunks.Chunk], start: StartDecoding, jobs: int,
                      waits_for_writer: bool) -> Iterator[_native.DecodedChunk]:
    """Decodes chunks on worker threads, yielding them in input order.

    At most `jobs` chunks are in flight. A read error is raised after every
    chunk read before it has been yielded. When the input waits on a writer,
    what is decoded goes out before the next read, which may wait long.
    """
    pending: collections.deque[concurrent.futures.Future[_native.DecodedChunk]] = collections.deque()
    line_number = 1
    failure: BaseException | None = None
    try:
        for chunk in chunks:
            pending.append(start(chunk, line_number))
            line_number += chunk.line_count()
            while pending and (len(pending) > jobs or pending[0].done() or waits_for_writer):
                yield pending.popleft().result()
    except READ_ERRORS as error:
        failure = error
    while pending:
        yield pending.popleft().result()
    if failure is not None:
        raise failure


def _default_batch_bytes(args: argparse.Namespace) -> int:
    if args.format == "parquet":
        return PARQUET_BATCH_BYTES
    return THREAD_TEXT_BATCH_BYTES if args.jobs > 1 else TEXT_BATCH_BYTES


def _batches(stream: IO[bytes], args: argparse.Namespace,
             start: StartDecoding | None) -> Iterator[_native.DecodedChunk]:
    with _sources.open_lines(stream) as reader:
        batch_bytes = args.batch_bytes or _default_batch_bytes(args)
        chunks = _chunks.whole_lines(reader, batch_bytes)
        if start is None:
            line_number = 1
            for chunk in chunks:
                decoded = _chunks.decode(chunk, line_number)
                line_number += decoded.lines
                yield decoded
        else:
            yield from _decoded_in_order(chunks, start, args.jobs, _sources.waits_for_writer(stream))


class _Run:
    """One decode run: the sinks, the counts, and the inputs read one after another."""

    def __init__(self, args: argparse.Namespace, writer: RecordWriter, output: Output,
                 errors: ErrorsWriter | None, errors_output: Output | None) -> None:
        self.args = args
        self.writer = writer
        self.output = output
        self.errors = errors
        self.errors_output = errors_output
        self.tally = Tally()
        self.progress: ProgressLine | None = None
        # The turn of the last batch whose records a worker thread writes.
        self.last_turn: _native.WriteTurn | None = None

    def message(self, text: str) -> None:
        if self.progress is not None:
            self.progress.clear()
        print(f"{NAME}: {text}", file=sys.stderr, flush=True)

    def starter(self, executor: concurrent.futures.Executor, source: str) -> StartDecoding:
        """Decoding on the executor's threads; records as text are written there too, in turn."""
        writer = self.writer
        if not isinstance(writer, TextWriter):
            return lambda chunk, line_number: executor.submit(_chunks.decode, chunk, line_number)
        display_name = self.output.display_name

        def decode_and_write(chunk: _chunks.Chunk, line_number: int, after: _native.WriteTurn | None,
                             done: _native.WriteTurn) -> _native.DecodedChunk:
            try:
                decoded = _chunks.decode(chunk, line_number)
                try:
                    writer.write(decoded, source, after, done)
                except OSError as error:
                    raise WriteFailed(display_name, error) from None
                return decoded
            finally:
                done.withdraw()  # a batch that failed before its write leaves the later ones unwritten

        def start(chunk: _chunks.Chunk, line_number: int) -> concurrent.futures.Future[_native.DecodedChunk]:
            done = _native.WriteTurn()
            after, self.last_turn = self.last_turn, done
            return executor.submit(decode_and_write, chunk, line_number, after, done)

        return start

    def write(self, decoded: _native.DecodedChunk, source: str, records_written: bool) -> None:
        if not records_written:
            try:
                self.writer.write(decoded, source)
            except OSError as error:
                raise WriteFailed(self.output.display_name, error) from None
        if self.errors is not None:
            assert self.errors_output is not None
            try:
                self.errors.write(decoded, source)
            except OSError as error:
                raise WriteFailed(f"errors file {self.errors_output.display_name}", error) from None

    def decode_input(self, name: str, executor: concurrent.futures.Executor | None) -> None:
        source = _source_name(name)
        read_before = self.tally.bytes_read
        start = self.starter(executor, source) if executor is not None else None
        records_written = start is not None and isinstance(self.writer, TextWriter)
        with contextlib.ExitStack() as stack:
            try:
                raw = sys.stdin.buffer if name == STDIO else stack.enter_context(open(name, "rb"))
                counted = _CountingReader(raw)
                batches = _batches(counted, self.args, start)
                while True:
                    try:
                        decoded = next(batches)
                    except StopIteration:
                        break
                    self.write(decoded, source, records_written)
                    self.tally.add(decoded)
                    self.tally.bytes_read = read_before + counted.bytes_read
                    if self.progress is not None:
                        self.progress.update(self.tally)
            except READ_ERRORS as error:
                self.tally.unreadable_inputs += 1
                reason = getattr(error, "strerror", None) or str(error) or type(error).__name__
                self.message(f"cannot read {name}: {reason}")


def _show_progress(args: argparse.Namespace) -> bool:
    # A progress line would be torn apart by records or error lines on the same terminal.
    if args.quiet or args.errors == STDIO or not _isatty(sys.stderr):
        return False
    return args.output != STDIO or not _isatty(sys.stdout)


def _isatty(stream: Any) -> bool:
    try:
        return bool(stream.isatty())
    except (AttributeError, ValueError):
        return False


def _file_identity(name: str, stdio: Any) -> tuple[Any, ...] | None:
    """What tells whether two names are one file: the device and inode of a
    regular file (of `stdio` for '-'), the resolved path of one not there yet;
    None for devices, pipes and the like, which two names may well share
    (/dev/null), and for what cannot be looked at (reported when opened)."""
    try:
        status = _status(name, stdio)
    except FileNotFoundError:
        return ("path", os.path.realpath(name))
    except (OSError, ValueError, AttributeError):
        return None
    return (status.st_dev, status.st_ino) if stat.S_ISREG(status.st_mode) else None


def _clash(args: argparse.Namespace, inputs: list[str]) -> str | None:
    """Why the files named cannot be written as asked, if they cannot.

    An output that is also an input would replace the lines being decoded
    (a named one when it is renamed into place, standard output as it grows
    under the reader). Records and errors in one file would be lost when a
    named one, written under a temporary name, takes the file's name; standard
    output and standard error may share a file, both being written in place.
    """
    read = {identity for name in inputs if (identity := _file_identity(name, sys.stdin)) is not None}
    output = _file_identity(args.output, sys.stdout)
    errors = _file_identity(args.errors, sys.stderr) if args.errors is not None else None
    for option, name, identity, stdio in (("-o", args.output, output, "standard output"),
                                          ("--errors", args.errors, errors, "standard error")):
        if identity is not None and identity in read:
            what = stdio if name == STDIO else f"{option} {name}"
            return f"{what} is also an input: write to another file"
    if output is not None and output == errors and (args.output, args.errors) != (STDIO, STDIO):
        names = (f"{option} {stdio if name == STDIO else name}" for option, name, stdio in
                 (("-o", args.output, "(standard output)"), ("--errors", args.errors, "(standard error)")))
        return f"{' and '.join(names)} are one file: the one would replace the other"
    return None


def run(args: argparse.Namespace) -> int:
    if args.format == "parquet" and args.output == STDIO:
        args.parser.error("--format parquet needs a file: give one with -o FILE")
    inputs = args.inputs or [STDIO]
    clash = _clash(args, inputs)
    if clash is not None:
        args.parser.error(clash)
    started = time.perf_counter()
    opened: list[Output] = []
    run: _Run | None = None
    try:
        output = Output(args.output)
        opened.append(output)
        writer = WRITERS[args.format](output)
        errors_output = errors = None
        if args.errors is not None:
            errors_output = Output(args.errors, stdio=sys.stderr)
            opened.append(errors_output)
            errors = ErrorsWriter(errors_output)
        run = _Run(args, writer, output, errors, errors_output)
        if _show_progress(args):
            run.progress = ProgressLine(sys.stderr, _total_size(inputs))
        executor = None
        if args.jobs > 1:
            import concurrent.futures  # only for threads: it takes a while to import

            executor = concurrent.futures.ThreadPoolExecutor(args.jobs)
        try:
            for name in inputs:
                run.decode_input(name, executor)
        finally:
            if executor is not None:
                executor.shutdown(cancel_futures=True)
        try:
            writer.close()
            output.commit()
        except OSError as error:
            raise WriteFailed(output.display_name, error) from None
        if errors_output is not None:
            try:
                errors_output.commit()
            except OSError as error:
                raise WriteFailed(f"errors file {errors_output.display_name}", error) from None
    except ParquetUnavailable as error:
        print(f"{NAME}: {error}", file=sys.stderr)
        _discard(opened)
        return 1
    except WriteFailed as failure:
        _discard(opened)
        if isinstance(failure.error, BrokenPipeError) and args.output == STDIO:
            raise failure.error from None  # the reader of standard output left: end quietly
        (run.message if run is not None else _print_message)(str(failure))
        return 1
    except OSError as error:  # an output that could not be opened
        _discard(opened)
        name = args.output if not opened else args.errors
        what = name if name != STDIO else "standard output"
        _print_message(f"cannot write {what}: {error.strerror or error}")
        return 1
    except BaseException:
        _discard(opened)
        raise
    finally:
        if run is not None and run.progress is not None:
            run.progress.clear()
    if not args.quiet:
        with contextlib.suppress(OSError):
            write_summary(sys.stderr, run.tally, time.perf_counter() - started)
    return 1 if run.tally.unreadable_inputs else 0


def _print_message(text: str) -> None:
    print(f"{NAME}: {text}", file=sys.stderr, flush=True)


def _discard(outputs: list[Output]) -> None:
    for output in outputs:
        output.discard()
