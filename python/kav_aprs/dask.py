"""Beacon files as a Dask data frame, decoded in parallel on a cluster.

Needs the optional extra: ``pip install kav_aprs_parser_pyo3[dask]``.

How files become partitions:

- An uncompressed file larger than the block size is cut into byte ranges of
  the block size. A range owns every line that starts inside it, so its first
  line starts at the first line start at or after its first byte, and it reads
  on to the first line start at or after its end. A line starts at offset 0
  and after each line end (``\\n``, ``\\r\\n`` or a lone ``\\r``); a ``\\r\\n``
  cut between its two bytes is one line end, so the line after it belongs to
  the next range. Both ends of a range come from the same rule, so every line
  belongs to exactly one range, however the cuts fall.
- A compressed file (gzip, bzip2 or xz, recognised by its first bytes) cannot
  be entered in the middle: it is one partition, decoded as a stream.
- A file no larger than one block is one partition.

A range is read into a buffer that each thread keeps and refills for its next
range, which the decoder reads in place: about one block size of memory per
worker thread, held between computations, instead of a fresh block-sized read
per range (see _read_buffer).

Line numbers count every line of a file (blank and comment lines too) from 1.
A range's first line number is one plus the number of lines in the ranges
before it. Those counts are carried, not recounted: each range is decoded
with numbers starting at 1 and reports how many lines it held; a small task
per range adds up the counts of the ranges before it, and the frame's own
step adds that to the range's numbers. Counting the line ends before each
range instead would read every file about (number of ranges / 2) times over;
a separate counting pass would read it twice. Carrying costs one small task
per range and no extra reading.

It is also why the frame is made of two expressions of this module's own
(_Decoding and _Frames) and not with ``from_map``, whose partitions cannot
take inputs from other tasks, nor with ``from_graph`` or ``from_delayed``,
which put one or two tasks in front of every partition only to hand its frame
on. _Decoding holds the decoding and counting tasks; _Frames turns each
decoded range into its numbered pandas frame: a partition costs three tasks.
_Frames is blockwise, so that a fused graph (``optimize()``, ``persist()``)
joins it with what the computation does next to each partition (a filter,
``len``), and a frame that only those steps read is never stored or sized by
the worker. Dask 2026.11 does not fuse in ``compute()`` or ``to_parquet()``;
there the frame is a task of its own. The tasks
are written straight into one graph: chained delayed objects would each carry
the graph of every range before them, which made planning a file quadratic in
its ranges. The keys are not derived from the arguments: a file rewritten in
place must not be answered from the results of an earlier read still held on
a cluster.

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
import uuid
from typing import Any, NamedTuple

import dask.dataframe as dd
import fsspec
import numpy as np
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc
from dask.base import tokenize
from dask.dataframe.dask_expr import new_collection
from dask.dataframe.dask_expr._expr import Expr, PartitionsFiltered
from dask.dataframe.dask_expr.io import BlockwiseIO
from dask.task_spec import Task, TaskRef
from dask.utils import parse_bytes

import kav_aprs

from . import _chunks, _native, _sources

__all__ = ["read_beacons"]

# How much to read at a time while looking for the next line end.
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
    fs, _, paths = fsspec.get_fs_token_paths(urlpath, mode="rb", storage_options=storage_options)
    if not paths:
        raise FileNotFoundError(f"no beacon file matches {urlpath!r}")
    parts = tuple(part for path in paths for part in _plan_file(fs, path, block))
    meta = _frame(pa.Table.from_batches([_empty_batch(errors)]), "")
    return new_collection(_Frames(_Decoding(parts, errors, uuid.uuid4().hex), meta))


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


class _Part(NamedTuple):
    """What one partition decodes: a whole file (start is None), or the lines that start in bytes
    [start, end) of a file of `size` bytes."""

    fs: fsspec.AbstractFileSystem
    path: str
    source: str
    start: int | None = None
    end: int = 0
    size: int = 0


def _plan_file(fs: fsspec.AbstractFileSystem, path: str, block: int | None) -> list[_Part]:
    """The partitions of one file, in file order."""
    size = fs.size(path)
    source = path if _is_local(fs) else fs.unstrip_protocol(path)
    if block is None or size <= block or _is_compressed(fs, path):
        return [_Part(fs, path, source)]
    return [_Part(fs, path, source, start, min(start + block, size), size) for start in range(0, size, block)]


class _Decoding(Expr):
    """The decoding tasks, one per partition, and the running line counts between the ranges of a file.

    Partition i of this expression is the decoded table of part i and its line count; the count task of a
    range that follows another in its file holds the lines of the file before it. The keys are fresh for
    every read (see the module's notes).
    """

    _parameters = ["parts", "errors", "token"]

    @functools.cached_property
    def _name(self) -> str:
        return f"decode-beacons-{self.token}"

    @functools.cached_property
    def _count_name(self) -> str:
        return f"count-lines-{self.token}"

    @property
    def _meta(self) -> Any:
        return None

    def _divisions(self) -> tuple[None, ...]:
        return (None,) * (len(self.parts) + 1)

    def _tree_repr_lines(self, indent: int = 0, recursive: bool = True) -> list[str]:
        # What frame.pprint() shows: a count, not the parts, which are thousands for a terabyte.
        files = len({part.path for part in self.parts})
        return [" " * indent + f"Decoding: {len(self.parts)} partitions of {files} files"]

    def lines_before(self, index: int) -> TaskRef | int:
        """What the renumbering of partition `index` adds to its line numbers."""
        return TaskRef((self._count_name, index)) if self.parts[index].start else 0

    def _layer(self) -> dict:
        tasks: dict[tuple[str, int], Task] = {}
        for index, part in enumerate(self.parts):
            key = (self._name, index)
            if part.start is None:
                tasks[key] = Task(key, _decode_file, part.fs, part.path, part.source, self.errors)
            else:
                tasks[key] = Task(key, _decode_range, part.fs, part.path, part.source, part.start, part.end,
                                  part.size, self.errors)
            # The count takes the decoded range before it whole, not a piece of it, which would cost one more
            # task; so it runs where that range lies, by far its largest input.
            if part.start:
                count = (self._count_name, index)
                tasks[count] = Task(count, _lines_after, TaskRef((self._name, index - 1)),
                                    self.lines_before(index - 1))
        return tasks


class _Frames(PartitionsFiltered, BlockwiseIO):
    """The frame of each partition: its decoded table renumbered, as a pandas frame.

    Blockwise, so that a fused graph joins it with what the computation does next to each partition
    (len, a filter): one task per partition hands on the frame or what became of it, and a frame that
    only a fused step reads is never stored and sized on the worker. A selection of
    partitions (``frame.partitions[...]``) keeps their own numbers, by which they find their inputs."""

    _parameters = ["decoding", "meta", "_partitions"]
    _defaults = {"_partitions": None}

    @functools.cached_property
    def _name(self) -> str:
        # A selection of partitions is another expression, with keys of its own.
        return f"read-beacons-{tokenize(self.decoding._name, self.operand('_partitions'))}"

    @property
    def _meta(self) -> pd.DataFrame:
        return self.operand("meta")

    def _divisions(self) -> tuple[None, ...]:
        return self.decoding._divisions()

    def _filtered_task(self, name: Any, index: int) -> Task:
        decoding = self.decoding
        return Task(name, _numbered, TaskRef((decoding._name, index)), decoding.lines_before(index),
                    decoding.parts[index].source)


def _is_local(fs: fsspec.AbstractFileSystem) -> bool:
    protocols = (fs.protocol,) if isinstance(fs.protocol, str) else fs.protocol
    return "file" in protocols


def _is_compressed(fs: fsspec.AbstractFileSystem, path: str) -> bool:
    """Whether the file starts as a compressed stream does, by the same leading bytes that iter_decoded knows."""
    with fs.open(path, "rb") as file:
        head = file.read(_sources._SNIFF_BYTES)
    return any(head.startswith(magic) for magic, _ in _sources._COMPRESSED)


def _decode_file(fs: fsspec.AbstractFileSystem, path: str, source: str, errors: bool) -> tuple[pa.Table, int]:
    """A whole file, compressed or not, streamed through the decoder, and how many lines it has."""
    batches, lines = [], 0
    with fs.open(path, "rb") as file:
        for decoded in kav_aprs.iter_decoded(file):
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
    decoded = _chunks.decode(_chunks.Chunk(buffer, got), 1)
    return pa.Table.from_batches([_batch(decoded, errors)]), decoded.lines


def _read_buffer(size: int) -> bytearray:
    """This thread's buffer for the bytes of a range, at least `size` long.

    One buffer is refilled for every range a thread reads: a new one per range
    would be memory the system maps and zeroes afresh each time, which on
    workers that hand freed memory straight back (distributed's default) cost
    about a fifth of a range's decoding. The decoder reads it in place, and its
    tables do not point into it, so the next range may overwrite it. It starts
    a memory page: the first range of a file, read from offset 0 into a plain
    bytearray (whose bytes start 16 bytes into a page), took five times as long
    to copy as page to page (see page_aligned_buffer).
    """
    buffer = getattr(_buffers, "buffer", None)
    if buffer is None or len(buffer) < size:
        _buffers.buffer = buffer = _native.page_aligned_buffer(size)
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

    A line starts at offset 0 and right after a line end. The search begins one
    byte early, so that a line end just before position is seen, and reads no
    further than limit.
    """
    if position <= 0:
        return 0
    if position >= limit:
        return limit
    offset = position - 1
    file.seek(offset)
    while offset < limit and (window := file.read(min(_SCAN_BYTES, limit - offset))):
        # Two byte searches (memchr) where a pattern of both would step through a long line byte by byte.
        lf = window.find(b"\n")
        cr = window.find(b"\r", 0, lf if lf >= 0 else len(window))
        at = cr if cr >= 0 else lf
        if at < 0:
            offset += len(window)
            continue
        end = offset + at
        # Past a \r at limit - 1 the next line starts at limit or after it: limit either way.
        if at != cr or end + 1 == limit:
            return end + 1
        # A \n right after a \r belongs to the same line end, also when the read stopped between them.
        following = window[at + 1 : at + 2]
        if not following:
            file.seek(end + 1)
            following = file.read(1)
        return end + 2 if following == b"\n" else end + 1
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
