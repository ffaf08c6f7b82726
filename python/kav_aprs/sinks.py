"""Where decoded batches go: JSON lines, CSV or Parquet records, failed lines, Parquet files a period.

A ``Sink`` writes each batch (a ``Decoded``, whose records name its
``source``) before the next, so that a reader at the other end of a pipe sees
it as soon as it is decoded; ``write`` puts a reader's records into a file in
one call. JSON lines and CSV are rendered natively straight from the columns.

One rule holds for every file, whatever happens (a failed write, a full disk,
an exception, signals): a file a reader can see under its final name is
complete and readable. A new file is written under a hidden name beside its
own and renamed once complete; after any failed write it is removed instead.
A file appended to from run to run is cut back to its last whole batch when
a write fails, and a torn last record found in it is cut off before
appending. Standard output and special files (a terminal, a pipe,
``/dev/null``) are written in place.
"""

from __future__ import annotations

import contextlib
import errno
import importlib.util
import os
import re
import stat
import sys
import time
from collections.abc import Callable, Iterable, Iterator
from typing import TYPE_CHECKING, Any, Union

from . import _native

if TYPE_CHECKING:
    from ._native import Decoded
    from .reader import Reader
    from .tally import Tally

STDIO = "-"
FORMATS = ("jsonl", "csv", "parquet")
SUFFIX_FORMATS = {".jsonl": "jsonl", ".ndjson": "jsonl", ".csv": "csv", ".parquet": "parquet"}
Path = Union[str, "os.PathLike[str]"]

# Disk space reserved past the end of a file written under a temporary name.
# Records written into reserved space skip ext4's allocation page by page,
# about a fifth of the kernel's share of writing them; half a reservation
# ahead, the next is made, so a batch of records (at most a few MiB) lands in
# reserved space. Completing the file frees whatever was not filled.
RESERVE_AHEAD_BYTES = 64 << 20
# Random temporary names tried before giving up; 48 random bits are all but never taken.
_UNIQUE_NAME_TRIES = 100
# How far back from the end of a file appended to a line end is looked for: a
# record is at most a few KiB, so a file without one this far back is not
# one of records, and is left alone.
_TORN_RECORD_LIMIT = 1 << 20
_STDIO_NAMES = {1: "standard output", 2: "standard error"}


class WriteFailed(Exception):
    """An output could not be written; the message names it and says why."""

    def __init__(self, what: str, error: OSError) -> None:
        # The system's words for an errno, not pyarrow's ("Error writing bytes to file. Detail: ...").
        super().__init__(f"cannot write {what}: {os.strerror(error.errno) if error.errno else error}")
        self.error = error


class ParquetUnavailable(Exception):
    """pyarrow, which writes Parquet, is not installed."""


class Output:
    """A destination for bytes: standard output or error (``"-"``), or a named file.

    Every write goes through ``writing()``, which remembers a failure: an
    output whose write failed is never completed under its name.
    """

    def __init__(self, name: str, *, label: str = "", stdio: Any = None, append: bool = False) -> None:
        """`label` starts what messages call the output ("errors file "). `append`
        writes a regular file in place after what it holds: for records that
        must be readable while they are written, and kept from run to run."""
        self.name = name
        self.failure: BaseException | None = None  # what the first failed write raised
        self._temporary: str | None = None
        self._reserved_until = 0
        self._own_fd = False
        self._rolls_back = False  # a failed write is cut off the end of the file
        if name == STDIO:
            stream = stdio if stdio is not None else sys.stdout
            stream.flush()
            self.fd = stream.fileno()
            self.what = label + _STDIO_NAMES.get(self.fd, "standard output")
            return
        self.what = label + name
        try:
            if _is_special(name):
                self.fd = os.open(name, os.O_WRONLY | os.O_CLOEXEC)
            elif append:
                self.fd = os.open(name, os.O_RDWR | os.O_CREAT | os.O_APPEND | os.O_CLOEXEC, 0o666)
                self._own_fd = self._rolls_back = True
                _cut_torn_record(self.fd, self.what)
            else:
                self.fd, self._temporary = _create_beside(name)
            self._own_fd = True
        except OSError as error:
            self.discard()
            raise WriteFailed(self.what, error) from None

    @property
    def path(self) -> str | None:
        """The path that writers working by name (Parquet) write to; None for standard output."""
        if self.name == STDIO:
            return None
        return self._temporary or self.name

    @contextlib.contextmanager
    def writing(self) -> Iterator[None]:
        """Around one batch's write: a failure is remembered (and is raised again at once
        by any later write), cut off the end of a file appended to, and an OSError
        raised as a WriteFailed naming the output."""
        if self.failure is not None:
            raise self.failure
        start = os.fstat(self.fd).st_size if self._rolls_back else -1
        try:
            yield
        except BaseException as error:
            raised = WriteFailed(self.what, error) if isinstance(error, OSError) else error
            if self.failure is None:  # a later batch refused after it is no news
                self.failure = raised
            if start >= 0 and self._own_fd:
                with contextlib.suppress(OSError):
                    os.ftruncate(self.fd, start)
            if raised is error:
                raise
            raise raised from None

    def reserve_ahead(self) -> None:
        """Reserves disk space past the end of a file being written under a
        temporary name, when the reservation so far is half used. Threads
        writing in turn may call it at once: at worst both reserve the same
        space, which costs nothing more."""
        if self._temporary is None:
            return
        end = os.fstat(self.fd).st_size
        if end + RESERVE_AHEAD_BYTES // 2 > self._reserved_until:
            self._reserved_until = end + RESERVE_AHEAD_BYTES
            _native.reserve_space(self.fd, end, RESERVE_AHEAD_BYTES)

    def commit(self) -> None:
        """Closes the file and gives it its name. After a failed write, removes it
        instead and raises that failure again."""
        try:
            with self.writing():
                if self._temporary is not None and self._reserved_until:
                    os.ftruncate(self.fd, os.fstat(self.fd).st_size)  # frees the space reserved past the end
                self._close()
                if self._temporary is not None:
                    os.replace(self._temporary, self.name)
                    self._temporary = None
        finally:
            if self.failure is not None:
                self.discard()

    def discard(self) -> None:
        """Closes the file and removes what was written under the temporary name;
        a file appended to keeps its whole batches."""
        with contextlib.suppress(OSError):
            self._close()
        if self._temporary is not None:
            with contextlib.suppress(OSError):
                os.unlink(self._temporary)
            self._temporary = None

    def _close(self) -> None:
        if self._own_fd:
            self._own_fd = False
            os.close(self.fd)


def _create_beside(name: str) -> tuple[int, str]:
    """A new file, open for writing, under a hidden unique name in the directory of `name`.

    Created with the mode any new file gets, since it is to become `name`.
    (tempfile would do, but its import costs the command's start-up more than
    these lines.)
    """
    directory, base = os.path.split(os.path.abspath(name))
    for _ in range(_UNIQUE_NAME_TRIES):
        temporary = os.path.join(directory, f".{base}.{os.urandom(6).hex()}.part")
        try:
            return os.open(temporary, os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666), temporary
        except FileExistsError:
            continue
    raise FileExistsError(errno.EEXIST, f"no unused temporary name beside {name} in {_UNIQUE_NAME_TRIES} tries")


def _is_special(name: str) -> bool:
    """Whether `name` exists and is not a regular file (a device, a pipe, a terminal)."""
    try:
        return not stat.S_ISREG(os.stat(name).st_mode)
    except FileNotFoundError:
        return False


def _cut_torn_record(fd: int, what: str) -> None:
    """Cuts off a last record without its line end, left by a write that failed
    (a full disk, a killed process), so that what is appended starts a record.

    Appended to as it is, the fragment would swallow the next record; ended
    with a line end, it would stay a line that no reader of the records can
    read (half a JSON object, a CSV row short of fields). It is a record
    lost either way.
    """
    size = os.fstat(fd).st_size
    if size == 0 or os.pread(fd, 1, size - 1) == b"\n":
        return
    start = max(size - _TORN_RECORD_LIMIT, 0)
    line_end = os.pread(fd, size - start, start).rfind(b"\n")
    if line_end < 0 and start > 0:
        raise OSError(f"no line end in its last {_TORN_RECORD_LIMIT:,} bytes: not a file of records")
    keep = start + line_end + 1
    os.ftruncate(fd, keep)
    import logging

    logging.getLogger(__name__).warning(
        "%s ended in a torn record (%d bytes without a line end, left by a write that failed): cut off",
        what, size - keep)


class TextWriter:
    """Records as JSON lines or CSV, rendered and written natively, each batch in its turn.

    Each batch takes a turn (``stage``), in input order; the function given
    for it renders its rows on whichever thread calls it, and writes them once
    the batch before has been written, so that several threads may render
    batches at once.
    """

    def __init__(self, output: Output) -> None:
        self.output = output
        self._last_turn: _native.WriteTurn | None = None

    def stage(self) -> Callable[[Decoded | BaseException], bool]:
        """The writing of the next batch, to be called with it on any thread
        (or with what its decoding raised, which gives the turn up)."""
        done = _native.WriteTurn()
        after, self._last_turn = self._last_turn, done

        def write(decoded: Decoded | BaseException) -> bool:
            if isinstance(decoded, BaseException):
                done.withdraw()
                return False
            try:
                with self.output.writing():
                    self.output.reserve_ahead()
                    self._render(decoded, after, done)
            finally:
                done.withdraw()  # a batch that failed before its write leaves the later ones unwritten
            return True

        return write

    def write(self, decoded: Decoded) -> None:
        self.stage()(decoded)

    def _render(self, decoded: Decoded, after: _native.WriteTurn | None, done: _native.WriteTurn) -> None:
        raise NotImplementedError

    def commit(self) -> None:
        self.output.commit()

    def discard(self) -> None:
        self.output.discard()


class JsonLinesWriter(TextWriter):
    """One JSON object a beacon: source, line_number, then the beacon's fields."""

    table = "beacons"

    def _render(self, decoded: Decoded, after: _native.WriteTurn | None, done: _native.WriteTurn) -> None:
        _native.write_json_lines(getattr(decoded, self.table), decoded.source or "", self.output.fd, after, done)


class ErrorsWriter(JsonLinesWriter):
    """Every failed line as a JSON line: source, line_number, error_kind, error, line.

    The line's bytes that are not UTF-8 appear as ``\\xNN``.
    """

    table = "errors"


class CsvWriter(TextWriter):
    """A header line (unless the file appended to has one), then one CSV line a beacon, in the JSON lines' order."""

    def __init__(self, output: Output) -> None:
        super().__init__(output)
        self._header = output.name == STDIO or os.fstat(output.fd).st_size == 0

    def _render(self, decoded: Decoded, after: _native.WriteTurn | None, done: _native.WriteTurn) -> None:
        # Only the first batch waits for no other: whichever thread gets here
        # first, a batch that waits never carries the header.
        header = False
        if after is None:
            header, self._header = self._header, False
        _native.write_csv_lines(decoded.beacons, decoded.source or "", header, self.output.fd, after, done)

    def commit(self) -> None:
        try:
            if self._header:  # no batch came: the file still says what its columns are
                self.write(_native.decode(b""))
        finally:
            super().commit()


# How the Parquet columns are encoded. Within a batch of a live feed's lines
# (seconds to minutes of it) texts, enumerations, addresses, times, tracks and
# speeds repeat and shrink in a dictionary. Positions and altitudes are nearly
# all distinct, so a dictionary would be built only to be abandoned: they are
# written plain. Line numbers count up by one, which delta encoding stores in a
# few bits a row.
_PARQUET_ENCODINGS = {"line_number": "DELTA_BINARY_PACKED"}
_PARQUET_PLAIN = {"latitude", "longitude", "gps_altitude", *_PARQUET_ENCODINGS}
# Minimum and maximum of a callsign or receiver name select no row group, so
# these columns go without statistics; every other column keeps them.
_PARQUET_UNSORTED_TEXTS = {"callsign", "q_construct", "receiver"}


def import_pyarrow() -> tuple[Any, Any]:
    """pyarrow and pyarrow.parquet, or ParquetUnavailable.

    The kav-aprs command keeps NumPy out of its process (a None in
    sys.modules). pyarrow before 16 cannot import without it (and says so on
    standard error), so unless the installed pyarrow is known to be newer,
    NumPy is let in first.
    """
    if "numpy" in sys.modules and sys.modules["numpy"] is None and not _pyarrow_does_without_numpy():
        del sys.modules["numpy"]
    try:
        import pyarrow as pa
        import pyarrow.parquet as pq
    except ImportError:
        raise ParquetUnavailable(
            "writing Parquet needs pyarrow: pip install 'kav_aprs_parser_pyo3[parquet]'"
        ) from None
    return pa, pq


# The first pyarrow that imports without NumPy.
_PYARROW_WITHOUT_NUMPY = 16
# The line of pyarrow's version file that gives its version.
_PYARROW_VERSION = re.compile(r"^__version__ = version = '(\d+)\.", re.MULTILINE)


def _pyarrow_does_without_numpy() -> bool:
    """Whether the installed pyarrow is one that imports without NumPy, read
    from its version file without importing it; False when that cannot be told."""
    try:
        spec = importlib.util.find_spec("pyarrow")
        if spec is None or spec.origin is None:
            return False
        with open(os.path.join(os.path.dirname(spec.origin), "_generated_version.py"), encoding="utf-8") as file:
            found = _PYARROW_VERSION.search(file.read())
    except (ImportError, ValueError, OSError, UnicodeDecodeError):
        return False
    return found is not None and int(found.group(1)) >= _PYARROW_WITHOUT_NUMPY


class ParquetWriter:
    """A Parquet file, zstd-compressed, one row group per batch.

    The columns are the beacon table's, after a ``source`` column; the
    enumerations and the source stay dictionary columns. pyarrow's writer
    closes quietly after a failed write, leaving a file without its footer:
    the Output's memory of the failure is what keeps it from its name.
    """

    def __init__(self, output: Output) -> None:
        if output.path is None:
            raise ValueError("Parquet needs a file, not standard output")
        self._pa, self._pq = import_pyarrow()
        self.output = output
        self._writer: Any = None

    def write(self, decoded: Decoded) -> None:
        pa = self._pa
        with self.output.writing():
            table = pa.table(decoded.beacons)
            indices = pa.repeat(pa.scalar(0, pa.int32()), table.num_rows)
            sources = pa.DictionaryArray.from_arrays(indices, pa.array([decoded.source or ""], pa.string()))
            table = table.add_column(0, "source", sources)
            if self._writer is None:
                self._writer = self._pq.ParquetWriter(
                    self.output.path, table.schema, compression="zstd",
                    use_dictionary=[name for name in table.schema.names if name not in _PARQUET_PLAIN],
                    column_encoding=_PARQUET_ENCODINGS,
                    write_statistics=[name for name in table.schema.names if name not in _PARQUET_UNSORTED_TEXTS],
                )
            if table.num_rows:
                self._writer.write_table(table, row_group_size=table.num_rows)

    def commit(self) -> None:
        """Writes the footer and gives the file its name."""
        try:
            if self._writer is None:  # no batch came: the file still has the columns
                self.write(_native.decode(b""))
            with self.output.writing():
                self._writer.close()
        finally:
            self.output.commit()

    def discard(self) -> None:
        self.output.discard()


WRITERS: dict[str, type[TextWriter] | type[ParquetWriter]] = {
    "jsonl": JsonLinesWriter,
    "csv": CsvWriter,
    "parquet": ParquetWriter,
}


class RotatingParquet:
    """Beacons into ``DIR/beacons-<UTC start of the period>.parquet``, one file a period.

    Periods are aligned on UTC midnight of 1970, so that an hour runs from
    :00 to :00 whatever time writing started; a batch goes to the period of
    its ``received_to`` (now, for a batch without one). Each file is a
    ParquetWriter's: complete under its name, or not there. A period that
    already has a file (a restart within the hour) gets the next free name,
    ``-1``, ``-2`` and so on, so nothing written earlier is replaced.
    """

    def __init__(self, directory: str, period: int) -> None:
        """Creates the directory (and its parents) if need be, and opens the file
        of the current period at once, so that a directory that cannot be
        written or a missing pyarrow shows before anything else."""
        import_pyarrow()  # before a directory is made for nothing
        try:
            os.makedirs(directory, exist_ok=True)
        except OSError as error:
            raise WriteFailed(directory, error) from None
        self.directory = directory
        self.period = period
        self._start: int | None = None
        self._writer: ParquetWriter | None = None
        self._open(time.time())

    def write(self, decoded: Decoded) -> None:
        when = decoded.received_to.timestamp() if decoded.received_to is not None else time.time()
        if int(when // self.period * self.period) != self._start:
            self.commit()
            self._open(when)
        assert self._writer is not None
        self._writer.write(decoded)

    def commit(self) -> None:
        """Completes the current file and gives it its name."""
        writer, self._writer, self._start = self._writer, None, None
        if writer is not None:
            writer.commit()

    def discard(self) -> None:
        if self._writer is not None:
            self._writer.discard()
        self._writer = None

    def _open(self, when: float) -> None:
        import datetime  # here: what decode writes has no use for it, and it slows every start

        start = int(when // self.period * self.period)
        stamp = datetime.datetime.fromtimestamp(start, datetime.timezone.utc).strftime("%Y%m%dT%H%M%SZ")
        base = os.path.join(self.directory, f"beacons-{stamp}")
        name, number = base + ".parquet", 0
        while os.path.exists(name):
            number += 1
            name = f"{base}-{number}.parquet"
        output = Output(name)
        try:
            self._writer = ParquetWriter(output)
        except BaseException:
            output.discard()
            raise
        self._start = start


Writer = Union[TextWriter, ParquetWriter, RotatingParquet]


class Sink:
    """Where decoded batches go: records in one format, failed lines, Parquet files a period.

    Each batch goes to every writer: one that fails does not keep it from the
    others, and the first failure is raised once all have had it. ``commit``
    completes and names every file whose writes all went well (and removes the
    others); ``discard`` removes every file not yet complete. As a context
    manager, it commits when the block ends well and discards on an exception.
    """

    def __init__(self, records: str | None = None, format: str | None = None, *,  # noqa: A002
                 errors: str | None = None, parquet_dir: str | None = None, rotate: int = 3600,
                 append: bool = False) -> None:
        """`records` ("-" for standard output) in `format` (by default, the one
        its suffix names), failed lines as JSON lines to `errors` ("-" for
        standard error), beacons into a Parquet file every `rotate` seconds in
        `parquet_dir`. `append` adds records and failed lines to the files
        named, in place, after what they hold."""
        format = format or SUFFIX_FORMATS.get(os.path.splitext(records or "")[1].lower(), "")
        if records is not None and (format not in WRITERS or append and format == "parquet"):
            raise ValueError("Parquet files are not appended to" if format == "parquet" else
                             f"format must be one of {', '.join(FORMATS)}, not {format!r}" if format else
                             f"cannot tell a format from the name {records!r}: end it in "
                             f"{', '.join(SUFFIX_FORMATS)}, or give the format")
        self.records: TextWriter | ParquetWriter | None = None
        self._writers: list[Writer] = []
        try:
            if records is not None:
                output = Output(records, append=append)
                try:
                    self.records = WRITERS[format](output)
                except BaseException:
                    output.discard()
                    raise
                self._writers.append(self.records)
            if errors is not None:
                self._writers.append(ErrorsWriter(Output(errors, label="errors file ", stdio=sys.stderr,
                                                         append=append)))
            if parquet_dir is not None:
                self._writers.append(RotatingParquet(parquet_dir, rotate))
        except BaseException:
            self.discard()
            raise

    def __enter__(self) -> Sink:
        return self

    def __exit__(self, kind: Any, *exc_info: Any) -> None:
        if kind is None:
            self.commit()
        else:
            self.discard()

    def write(self, decoded: Decoded) -> None:
        """Writes a batch to every writer."""
        _each(self._writers, lambda writer: writer.write(decoded))

    def written(self, reader: Reader) -> Iterator[Decoded]:
        """Each batch of `reader`, once written. JSON lines and CSV records are
        rendered and written on the reader's decoding threads, in input order.

        Close the reader (``with reader``) before committing or discarding:
        that waits for its threads, which may still be writing.
        """
        staged = self.records.stage if isinstance(self.records, TextWriter) else None
        others = [writer for writer in self._writers if staged is None or writer is not self.records]
        for decoded, _ in reader.staged(staged):
            _each(others, lambda writer: writer.write(decoded))  # noqa: B023 - called at once
            yield decoded

    def commit(self) -> None:
        """Completes and names every file whose writes all went well, and removes the others."""
        _each(self._writers, lambda writer: writer.commit())

    def discard(self) -> None:
        for writer in self._writers:
            writer.discard()


def _each(writers: Iterable[Writer], call: Callable[[Writer], None]) -> None:
    """`call` on every writer, then the first failure raised again."""
    failure: BaseException | None = None
    for writer in writers:
        try:
            call(writer)
        except BaseException as error:  # noqa: BLE001 - raised once all are done
            failure = failure or error
    if failure is not None:
        raise failure


def write(reader: Reader, records: Path, *, format: str | None = None,  # noqa: A002
          errors: Path | None = None) -> Tally:
    """Writes the records of every batch of `reader` not yet read to `records`
    ("-": standard output), and its failed lines to `errors` as JSON lines;
    the counts of the lines read.

    The format is the one the suffix of `records` names (.jsonl, .csv,
    .parquet) unless `format` is given. The files appear whole or not at all:
    when reading or writing fails, the error is raised and neither file is
    left. The reader is closed at the end.
    """
    from .tally import Tally

    tally = Tally()
    with Sink(os.fspath(records), format, errors=None if errors is None else os.fspath(errors)) as sink:
        with reader:
            for decoded in sink.written(reader):
                tally.add(decoded)
    return tally
