"""Where decoded batches go: JSON lines, CSV or Parquet records, and failed lines.

Every writer takes one decoded batch at a time (a ``Decoded``, or the
decoder's own result, which has the same fields) with the name of the source
it came from, and writes it out before returning, so that a reader at the other
end of a pipe sees each batch as soon as it is decoded. The JSON lines and CSV
are written by the native decoder straight from the columns.

Output files appear whole or not at all: an ``Output`` writes a regular file
under a temporary name beside it and renames it only when ``commit`` is called;
standard output and special files (a terminal, a pipe, ``/dev/null``) are
written in place.
"""

from __future__ import annotations

import contextlib
import errno
import importlib.util
import os
import re
import stat
import sys
from collections.abc import Iterator
from typing import TYPE_CHECKING, Any, Protocol

from . import _native

if TYPE_CHECKING:
    from ._chunks import Batch

STDIO = "-"

# Disk space reserved past the end of a file written under a temporary name.
# Records written into reserved space skip ext4's allocation page by page,
# about a fifth of the kernel's share of writing them; half a reservation
# ahead, the next is made, so a batch of records (at most a few MiB) lands in
# reserved space. Committing the file frees whatever was not filled.
RESERVE_AHEAD_BYTES = 64 << 20
# Random temporary names tried before giving up; 48 random bits are all but never taken.
_UNIQUE_NAME_TRIES = 100


class WriteFailed(Exception):
    """An output could not be written; the message names it and says why."""

    def __init__(self, what: str, error: OSError) -> None:
        super().__init__(f"cannot write {what}: {error.strerror or error}")
        self.error = error


@contextlib.contextmanager
def writing(what: str) -> Iterator[None]:
    """Turns an OSError raised while writing `what` into a WriteFailed naming it."""
    try:
        yield
    except OSError as error:
        raise WriteFailed(what, error) from None


class Output:
    """A destination for bytes: standard output (``"-"``) or a named file."""

    def __init__(self, name: str, *, stdio: Any = None, append: bool = False) -> None:
        """`append` writes a named file in place, after what it holds: for records
        that must be readable while they are written, and kept from one run to the next."""
        self.name = name
        self._final: str | None = None  # the file to rename to on commit
        self._temporary: str | None = None
        self._reserved_until = 0
        self._own_fd = False
        if name == STDIO:
            stream = stdio if stdio is not None else sys.stdout
            stream.flush()
            self.display_name = "standard output"
            self.fd = stream.fileno()
            return
        self.display_name = name
        if append:
            self.fd = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_APPEND | os.O_CLOEXEC, 0o666)
        elif _is_special(name):
            self.fd = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_CLOEXEC, 0o666)
        else:
            self.fd, self._temporary = _create_beside(name)
            self._final = name
        self._own_fd = True

    @property
    def path(self) -> str | None:
        """The path that writers working by name (Parquet) write to; None for standard output."""
        if self.name == STDIO:
            return None
        return self._temporary or self.name

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
        """Closes the file and gives it its name; raises OSError on failure."""
        if self._temporary is not None and self._reserved_until:
            # Frees the space reserved past the end.
            os.ftruncate(self.fd, os.fstat(self.fd).st_size)
        self._close()
        if self._temporary is not None:
            os.replace(self._temporary, self._final)
            self._temporary = None

    def discard(self) -> None:
        """Closes the file and removes what was written under the temporary name."""
        try:
            self._close()
        except OSError:
            pass
        if self._temporary is not None:
            try:
                os.unlink(self._temporary)
            except OSError:
                pass
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


class RecordWriter(Protocol):
    """Writes the decoded beacons of each batch to an ``Output``."""

    def write(self, decoded: Batch, source: str) -> None: ...

    def close(self) -> None:
        """Writes whatever ends the output (a Parquet footer); the Output stays open."""


class TextWriter:
    """JSON lines or CSV, rendered and written natively.

    ``write`` may run on several threads at once when each call is given the
    turn of the batch before (`after`) and its own (`done`): it renders its rows
    meanwhile, and writes them once `after` has passed, then passes `done` on.
    """

    def __init__(self, output: Output) -> None:
        self._output = output
        self._fd = output.fd

    def write(self, decoded: Batch, source: str, after: _native.WriteTurn | None = None,
              done: _native.WriteTurn | None = None) -> None:
        raise NotImplementedError

    def close(self) -> None:
        pass


class JsonLinesWriter(TextWriter):
    """One JSON object a beacon: source, line_number, then the beacon's fields."""

    def write(self, decoded: Batch, source: str, after: _native.WriteTurn | None = None,
              done: _native.WriteTurn | None = None) -> None:
        self._output.reserve_ahead()
        _native.write_json_lines(decoded.beacons, source, self._fd, after, done)


class CsvWriter(TextWriter):
    """A header line, then one CSV line a beacon, in the JSON lines' field order."""

    def __init__(self, output: Output, *, header: bool = True) -> None:
        """`header` False continues a file that already has its header line."""
        super().__init__(output)
        self._header = header

    def write(self, decoded: Batch, source: str, after: _native.WriteTurn | None = None,
              done: _native.WriteTurn | None = None) -> None:
        # Only a batch that waits for no other can be the first written: one
        # that waits never carries the header, whichever thread gets here first.
        header = False
        if after is None:
            header, self._header = self._header, False
        self._output.reserve_ahead()
        _native.write_csv_lines(decoded.beacons, source, header, self._fd, after, done)

    def close(self) -> None:
        if self._header:
            # No batch came: the file still says what its columns are.
            self.write(_native.decode(b"", 1), "")


class ParquetUnavailable(Exception):
    """pyarrow, which writes Parquet, is not installed."""


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
    enumerations stay dictionary columns.
    """

    def __init__(self, output: Output) -> None:
        if output.path is None:
            raise ValueError("Parquet needs a file: give one with -o")
        self._pa, self._pq = import_pyarrow()
        self._path = output.path
        self._writer: Any = None

    def _with_source(self, decoded: Batch, source: str) -> Any:
        pa = self._pa
        table = pa.table(decoded.beacons)
        indices = pa.repeat(pa.scalar(0, pa.int32()), table.num_rows)
        sources = pa.DictionaryArray.from_arrays(indices, pa.array([source], pa.string()))
        return table.add_column(0, "source", sources)

    def write(self, decoded: Batch, source: str) -> None:
        table = self._with_source(decoded, source)
        if self._writer is None:
            self._writer = self._pq.ParquetWriter(
                self._path, table.schema, compression="zstd",
                use_dictionary=[name for name in table.schema.names if name not in _PARQUET_PLAIN],
                column_encoding=_PARQUET_ENCODINGS,
                write_statistics=[name for name in table.schema.names if name not in _PARQUET_UNSORTED_TEXTS],
            )
        if table.num_rows:
            self._writer.write_table(table, row_group_size=table.num_rows)

    def close(self) -> None:
        if self._writer is None:
            self.write(_native.decode(b"", 1), "")
        self._writer.close()


WRITERS: dict[str, type[JsonLinesWriter] | type[CsvWriter] | type[ParquetWriter]] = {
    "jsonl": JsonLinesWriter,
    "csv": CsvWriter,
    "parquet": ParquetWriter,
}


class ErrorsWriter:
    """Every failed line as a JSON line: source, line_number, error_kind, error, line.

    The line's bytes that are not UTF-8 appear as ``\\xNN``.
    """

    def __init__(self, output: Output) -> None:
        self._output = output
        self._fd = output.fd

    def write(self, decoded: Batch, source: str) -> None:
        if decoded.failed:
            self._output.reserve_ahead()
            _native.write_json_lines(decoded.errors, source, self._fd)
