"""Beacon files as a Dask data frame, decoded in parallel on a cluster.

Needs the optional extra: ``pip install kav_aprs_parser_pyo3[dask]``.

How files become partitions:

- An uncompressed file larger than the block size is cut into byte ranges of
  the block size. A range owns every line that starts inside it: it reads
  from the first line start at or after its first byte to the first line
  start at or after its end, both found by the core's line rule
  (``_native.line_start``), so every line belongs to exactly one range,
  however the cuts fall (a ``\\r\\n`` cut between its two bytes included).
- A compressed file (gzip, bzip2 or xz, recognised by its first bytes) cannot
  be entered in the middle: it is one partition, decoded as a stream.
- A file no larger than one block is one partition.

A range is read into a buffer that each thread keeps and refills for its next
range, which the decoder reads in place: about one block size of memory per
worker thread, held between computations (see _read_buffer).

Line numbers count every line of a file (blank and comment lines too) from 1,
without reading any byte twice. Each range is decoded with numbers from 1 and
reports how many lines it held; a small task per range adds the lines of the
range before it to the count carried that far, and the range's frame adds
that count to its numbers. So a range costs four tasks (the first of a file
three): decoding, counting, numbering, and the alias under which
``dask.dataframe.from_graph`` names each partition; a computation's own step
on each partition is one more. Dask's public constructors allow no fewer:
``from_map`` gives a partition no input from another task, ``from_delayed``
puts two aliases in front of each.

Planning sizes the files and reads their first bytes only; the tasks are laid
out when Dask asks for them. Their keys come from each file's identity
(fsspec's ``ukey``: a hash of what the file system tells of it, size and
modification time among it), the block size and ``errors``: unchanged files
read again give the same keys, so results still held on a cluster are
reused, and a file rewritten since gives new ones.

Columns: those of the decoder's tables, plus ``source``, the file the row came
from. Every column is Arrow-backed (``pandas.ArrowDtype``) except the
enumerations (``kav_aprs_protocol``, ``aircraft_type``, ``address_type`` and
``error_kind``), which are pandas categoricals whose categories are all the
members' texts in code order, the same for every partition, so Dask knows them
without computing anything. ``source`` is an Arrow dictionary column: one
entry per partition, so the file name costs a few bytes per row, not its length.
"""

from __future__ import annotations

import functools
import os
import threading
from collections.abc import Iterator, Mapping
from typing import Any, NamedTuple

try:
    import dask.dataframe as dd
    import fsspec
    import numpy as np
    import pandas as pd
    import pyarrow as pa
    import pyarrow.compute as pc
    from dask.base import tokenize
    from dask.task_spec import Task, TaskRef
    from dask.utils import parse_bytes
except ImportError as missing:
    raise ImportError(
        f"kav_aprs.dask needs Dask with pandas and pyarrow ({missing.name} is not installed): "
        "pip install 'kav_aprs_parser_pyo3[dask]'", name=missing.name) from missing

import kav_aprs

from . import _native, _sources

__all__ = ["read_beacons"]

# How much to read at a time while looking for the next line start.
_SCAN_BYTES = 64 << 10
# Per thread: the buffer that _decode_range reads its bytes into.
_buffers = threading.local()


def read_beacons(
    urlpath: str | os.PathLike[str] | list[str | os.PathLike[str]],
    *,
    blocksize: int | str | None = "64MiB",
    errors: bool = False,
    storage_options: dict[str, Any] | None = None,
) -> dd.DataFrame:
    """Reads beacon files into a Dask data frame, one row per decoded line.

    urlpath: a path, a list of paths or a glob (``*``), local or any URL that
    fsspec opens (``s3://...``, ``file://...``); storage_options go to fsspec.
    blocksize: bytes per partition of an uncompressed file (an int, or a text
    such as ``"64MiB"``); None makes every file one partition.
    errors: when true, the frame holds the lines that failed to decode (columns
    ``line_number``, ``error_kind``, ``error``, ``line``, ``source``) instead.

    Files are sized and their first bytes read now, to plan the partitions;
    nothing is decoded until the frame is computed.
    """
    block = _block_bytes(blocksize)
    errors = bool(errors)
    fs, _, paths = fsspec.get_fs_token_paths(urlpath, mode="rb", storage_options=storage_options)
    if not paths:
        raise FileNotFoundError(f"no beacon file matches {urlpath!r}")
    graph = _Graph(tuple(_plan_file(fs, path, block, errors) for path in paths), errors)
    meta = _frame(pa.Table.from_batches([_empty_batch(errors)]), "")
    return dd.from_graph(graph, meta, (None,) * (graph.partitions + 1), _PartitionKeys(graph), "read-beacons")


def _block_bytes(blocksize: int | str | None) -> int | None:
    if blocksize is None:
        return None
    if isinstance(blocksize, bool) or not isinstance(blocksize, (int, str)):
        raise TypeError(f"blocksize must be an int, a text such as '64MiB' or None, not {type(blocksize).__name__}")
    try:
        block = parse_bytes(blocksize)
    except ValueError as error:
        raise ValueError(f"blocksize {blocksize!r} is not a size: {error}") from None
    if block <= 0:
        raise ValueError(f"blocksize must be at least one byte, got {blocksize!r}")
    return block


class _File(NamedTuple):
    """One file as planned: read whole (block is None), or in ranges of `block` bytes. `token` changes with
    the file, the block and what is read (errors), and with it the keys of the read's tasks."""

    fs: fsspec.AbstractFileSystem
    path: str
    source: str
    size: int
    block: int | None
    token: str

    @property
    def partitions(self) -> int:
        return 1 if self.block is None else -(-self.size // self.block)


def _plan_file(fs: fsspec.AbstractFileSystem, path: str, block: int | None, errors: bool) -> _File:
    size = fs.size(path)
    source = path if _is_local(fs) else fs.unstrip_protocol(path)
    if block is not None and (size <= block or _is_compressed(fs, path)):
        block = None
    return _File(fs, path, source, size, block, tokenize(fs, path, fs.ukey(path), block, errors))


class _Graph(Mapping[tuple[str, int], Task]):
    """The tasks of every partition, as a graph for ``from_graph``.

    Laid out when Dask first asks for a task, and tokenized as its files'
    tokens, not task by task: Dask tokenizes the graph it is given, which for
    the 49,151 tasks of a terabyte took three seconds, where planning it
    otherwise takes a hundredth. It is pickled without its tasks, to be laid
    out again where it goes (the scheduler).

    Each kind of task has one name for the whole read, its partitions numbered
    across the files: Dask's scheduler holds a read's decoding back until a
    worker is free only when those tasks form one large group (one name). With
    a name per file, two workers decoded ahead of the counts and held up to 25
    decoded ranges at once (1.4 GB), where 5 were held.
    """

    def __init__(self, files: tuple[_File, ...], errors: bool) -> None:
        self.files = files
        self.errors = errors
        self.token = tokenize([file.token for file in files])
        self.partitions = sum(file.partitions for file in files)

    def __reduce__(self) -> tuple[Any, ...]:
        return _Graph, (self.files, self.errors)

    def __dask_tokenize__(self) -> str:
        return self.token

    def __repr__(self) -> str:
        # What frame.pprint() shows.
        return f"<the tasks of {self.partitions} partitions of {len(self.files)} beacon files>"

    def name(self, kind: str) -> str:
        return f"{kind}-{self.token}"

    def __getitem__(self, key: tuple[str, int]) -> Task:
        return self._tasks[key]

    def __iter__(self) -> Iterator[tuple[str, int]]:
        return iter(self._tasks)

    def __len__(self) -> int:
        return len(self._tasks)

    @functools.cached_property
    def _tasks(self) -> dict[tuple[str, int], Task]:
        tasks: dict[tuple[str, int], Task] = {}
        decoding, counting, frame = self.name("decode-beacons"), self.name("count-lines"), self.name("beacon-frame")
        partition = 0
        for file in self.files:
            for index in range(file.partitions):
                key = (decoding, partition)
                if file.block is None:
                    tasks[key] = Task(key, _decode_file, file.fs, file.path, file.source, self.errors)
                else:
                    start = index * file.block
                    tasks[key] = Task(key, _decode_range, file.fs, file.path, file.source, start,
                                      min(start + file.block, file.size), file.size, self.errors)
                # The lines of the file before this range. The count takes the decoded range before it whole,
                # not a piece of it, which would cost one more task; so it runs where that range lies, by far
                # its largest input.
                lines_before: TaskRef | int = 0
                if index:
                    lines_before = TaskRef((counting, partition))
                    tasks[(counting, partition)] = Task(
                        (counting, partition), _lines_after, TaskRef((decoding, partition - 1)),
                        TaskRef((counting, partition - 1)) if index > 1 else 0)
                tasks[(frame, partition)] = Task((frame, partition), _numbered, TaskRef(key), lines_before,
                                                 file.source)
                partition += 1
        return tasks


class _PartitionKeys:
    """The key of each partition's frame, in order, for ``from_graph``: tokenized and shown as the graph, not
    key by key (16,384 keys for a terabyte)."""

    def __init__(self, graph: _Graph) -> None:
        self._graph = graph

    def __iter__(self) -> Iterator[tuple[str, int]]:
        name = self._graph.name("beacon-frame")
        return ((name, partition) for partition in range(self._graph.partitions))

    def __len__(self) -> int:
        return self._graph.partitions

    def __dask_tokenize__(self) -> str:
        return self._graph.token

    def __repr__(self) -> str:
        return repr(self._graph)


def _is_local(fs: fsspec.AbstractFileSystem) -> bool:
    protocols = (fs.protocol,) if isinstance(fs.protocol, str) else fs.protocol
    return "file" in protocols


def _is_compressed(fs: fsspec.AbstractFileSystem, path: str) -> bool:
    """Whether the file starts as a compressed stream does, by the leading bytes that kav_aprs.open knows."""
    with fs.open(path, "rb") as file:
        return _sources.codec_of(file.read(_sources.SNIFF_BYTES)) is not None


def _decode_file(fs: fsspec.AbstractFileSystem, path: str, source: str, errors: bool) -> tuple[pa.Table, int]:
    """A whole file, compressed or not, streamed through the decoder, and how many lines it has."""
    batches, lines = [], 0
    with fs.open(path, "rb") as file:
        for decoded in kav_aprs.open(file):
            batches.append(_batch(decoded, errors))
            lines += decoded.lines
    # At least one batch, which from_batches takes the table's schema from.
    return pa.Table.from_batches(batches or [_empty_batch(errors)]), lines


def _decode_range(
    fs: fsspec.AbstractFileSystem, path: str, source: str, start: int, end: int, size: int, errors: bool
) -> tuple[pa.Table, int]:
    """The lines that start in bytes [start, end) of a file, numbered from 1, and how many there are."""
    with fs.open(path, "rb") as file:
        # A range in which no line starts owns none, so it looks no further than its end: every range that a
        # long line crosses would otherwise scan on to the line's end, n²/2 blocks for a line n blocks long.
        begin = _line_start_at_or_after(file, start, end)
        finish = _line_start_at_or_after(file, end, size) if begin < end else begin
        file.seek(begin)
        buffer = _read_buffer(finish - begin)
        got = _read_into(file, buffer, finish - begin)
    if got != finish - begin:
        raise OSError(
            f"{source}: read {got} bytes at offset {begin} where {finish - begin} were expected;"
            " the file changed while it was being read"
        )
    # The range ends where a line starts, or at the end of the file: every line in it is whole.
    frame = _native.LineFramer().frame(buffer, got, last=True)
    decoded = frame.decode(1, source=source) if frame is not None else _native.decode(b"", source=source)
    return pa.Table.from_batches([_batch(decoded, errors)]), decoded.lines


def _read_buffer(size: int) -> bytearray:
    """This thread's buffer for the bytes of a range, at least `size` long.

    One buffer is refilled for every range a thread reads: a new one per range
    would be memory the system maps and zeroes afresh each time, which on
    workers that hand freed memory straight back (distributed's default) cost
    about a fifth of a range's decoding. The decoder reads it in place, and its
    tables do not point into it, so the next range may overwrite it. It starts
    a memory page, which makes the first range of a file, read from offset 0,
    copy five times as fast (see _native.read_buffer).
    """
    buffer = getattr(_buffers, "buffer", None)
    if buffer is None or len(buffer) < size:
        _buffers.buffer = buffer = _native.read_buffer(size)
    return buffer


def _read_into(file: Any, buffer: bytearray, size: int) -> int:
    """Reads up to `size` bytes into the start of `buffer`, fewer only at the end of the file."""
    view = memoryview(buffer)
    got = 0
    while got < size and (part := file.readinto(view[got:size])):
        got += part
    return got


def _line_start_at_or_after(file: Any, position: int, limit: int) -> int:
    """The offset of the first line start at or after position, or limit if none comes before it.

    A line starts at offset 0 and right after a line end, so the search begins
    one byte early, where a line end just before position shows. It searches
    no further than limit, reading one byte past each window it searches: that
    byte tells a \\r\\n from a lone \\r at the window's end.
    """
    if position <= 0:
        return 0
    if position >= limit:
        return limit
    offset = position - 1
    file.seek(offset)
    window = b""  # bytes from offset on
    while offset < limit:
        searched = min(_SCAN_BYTES, limit - offset)
        while len(window) <= searched and (more := file.read(searched + 1 - len(window))):
            window += more
        found = _native.line_start(window, min(searched, len(window)))
        if found is not None:
            return min(offset + found, limit)
        if len(window) <= searched:  # the file ends in the window
            break
        offset += searched
        window = window[searched:]
    return limit


def _numbered(decoded: tuple[pa.Table, int], lines_before: int, source: str) -> pd.DataFrame:
    """The frame of a decoded range with its line numbers counted from the start of the file."""
    table, _ = decoded
    if lines_before:
        at = table.schema.get_field_index("line_number")
        shifted = pc.add(table.column(at), pa.scalar(lines_before, pa.uint64()))
        table = table.set_column(at, table.field(at), shifted)
    return _frame(table, source)


def _lines_after(decoded: tuple[pa.Table, int], lines_before: int) -> int:
    """The lines of the file up to the end of a decoded range."""
    return lines_before + decoded[1]


def _batch(decoded: Any, errors: bool) -> pa.RecordBatch:
    return pa.record_batch(decoded.errors if errors else decoded.beacons)


def _empty_batch(errors: bool) -> pa.RecordBatch:
    """A batch without rows, which still carries the schema and the enumerations' dictionaries."""
    return _batch(kav_aprs.decode(b""), errors)


def _frame(table: pa.Table, source: str) -> pd.DataFrame:
    """A decoded table as a pandas frame over the same memory, plus the source column."""
    columns: dict[str, Any] = {
        name: _categorical(column, name) if pa.types.is_dictionary(column.type)
        else pd.arrays.ArrowExtensionArray(column)
        for name, column in zip(table.column_names, table.columns)
    }
    # Every index is 0, so Arrow need not read them back to check them: its check alone took half the time of
    # building the frame, and faulted in the pages of indices that are all zero.
    columns["source"] = pd.arrays.ArrowExtensionArray(
        pa.DictionaryArray.from_arrays(
            pa.array(np.zeros(table.num_rows, dtype=np.int32)), pa.array([source], pa.utf8()), safe=False
        )
    )
    # The columns are this frame's own: pandas would otherwise copy the categoricals' codes once more.
    return pd.DataFrame(columns, copy=False)


def _categorical(column: pa.ChunkedArray, name: str) -> pd.Categorical:
    """An enumeration column as a categorical: the dictionary of every batch lists all the members' texts in
    code order, so the indices are the codes of one set of categories, the same in every partition. A table
    without rows may come without batches (as Dask hands one from worker to worker), hence no dictionary.

    The codes are copied, since pandas refuses assignments into a frame whose codes are Arrow's read-only
    memory. They are copied into memory from Arrow's pool, which keeps what is freed for the next range: on
    Dask workers, which start with MALLOC_TRIM_THRESHOLD_ set, the C allocator hands freed memory back to the
    system at once, so codes from numpy were faulted in afresh for every range (a third of the renumbering
    task's time)."""
    dtype = np.dtype(column.type.index_type.to_pandas_dtype()) if column.num_chunks else np.dtype(np.int8)
    codes = np.frombuffer(pa.allocate_buffer(len(column) * dtype.itemsize), dtype)
    at = 0
    for chunk in column.chunks:
        codes[at : at + len(chunk)] = chunk.indices.to_numpy(zero_copy_only=False)
        at += len(chunk)
    return pd.Categorical.from_codes(codes, dtype=_enumerations()[name])


@functools.cache
def _enumerations() -> dict[str, pd.CategoricalDtype]:
    """The categories of each enumeration column: its members' texts in code order, from the dictionaries that
    even the tables of an empty buffer carry. Made once: checking the categories costs about a millisecond
    each time."""
    decoded = kav_aprs.decode(b"")
    tables = (pa.record_batch(decoded.beacons), pa.record_batch(decoded.errors))
    return {field.name: pd.CategoricalDtype(column.dictionary.to_pylist())
            for table in tables for field, column in zip(table.schema, table.columns)
            if pa.types.is_dictionary(field.type)}
