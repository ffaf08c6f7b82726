"""Reading beacon lines from a file, a stream or standard input, decoded batch by batch.

``open`` gives a ``Reader``: an iterator of ``Decoded`` batches in input
order, and an Arrow stream of the whole source's beacons, so that
``pyarrow.table(kav_aprs.open(path))`` reads a file in bounded memory. The
reads are cut into whole lines by the native framer, the one rule of line
ends every path shares; with ``jobs`` above one, batches are decoded on as
many threads while the next ones are read, their order and line numbers
exact.
"""

from __future__ import annotations

import collections
import os
from collections.abc import Callable, Iterator
from typing import IO, TYPE_CHECKING, Any, TypeVar, Union

from . import _native, _sources

if TYPE_CHECKING:
    import concurrent.futures

    from .tally import Tally

Source = Union[str, "os.PathLike[str]", IO[bytes]]
T = TypeVar("T")
# Called once a batch, in input order, on the reading thread: the function it
# returns runs on the thread that decoded the batch, right after it, with the
# batch, or with the exception its decoding raised, so that it can let go of
# what it holds (a writer's turn that later batches wait for).
Finish = Callable[[Union[_native.Decoded, BaseException]], T]
Stage = Callable[[], Finish[T]]

DEFAULT_BATCH_BYTES = 8 << 20


def _positive_int(name: str, value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or value < 1:
        raise ValueError(f"{name} must be a positive int, not {value!r}")
    return value


def open(source: Source, *, jobs: int = 1, batch_bytes: int = DEFAULT_BATCH_BYTES,  # noqa: A001
         first_line_number: int = 1) -> Reader:
    """Opens `source` for reading its beacon lines, decoded batch by batch.

    `source` is a path, a binary file object, or ``"-"`` or ``sys.stdin`` for
    standard input. Input compressed with gzip, bzip2 or xz is recognised by
    its first bytes, whatever its name, and decompressed as it is read. Each
    batch holds whole lines, about `batch_bytes` of them (a longer line makes
    a longer batch); line numbers run on from one batch to the next, starting
    at `first_line_number`. `jobs` threads decode batches side by side. A path
    is closed when the reader ends or is closed; a file object given is left
    open. Nothing is read until the first batch is asked for.
    """
    return Reader(source, jobs=jobs, batch_bytes=batch_bytes, first_line_number=first_line_number)


def iter_decoded(source: Source, *, batch_bytes: int = DEFAULT_BATCH_BYTES) -> Reader:
    """``open(source, batch_bytes=batch_bytes)``: the name this package first had for it."""
    return Reader(source, batch_bytes=batch_bytes)


class Reader:
    """The decoded batches of one source, in input order (see ``open``).

    Iterate it for ``Decoded`` batches, or hand it to an Arrow consumer
    (``__arrow_c_stream__``) for its beacons; either reads the source once.
    Use it as a context manager, or call ``close()``, to close the source early.
    """

    def __init__(self, source: Source, *, jobs: int = 1, batch_bytes: int = DEFAULT_BATCH_BYTES,
                 first_line_number: int = 1) -> None:
        _sources.check_source(source, "kav_aprs.open()")
        self._batch_bytes = _positive_int("batch_bytes", batch_bytes)
        self._jobs = _positive_int("jobs", jobs)
        if isinstance(first_line_number, bool) or not isinstance(first_line_number, int) \
                or not 0 <= first_line_number < 1 << 64:
            raise ValueError(f"first_line_number must be an int from 0 to 2**64 - 1, not {first_line_number!r}")
        self._source = source
        self._first_line_number = first_line_number
        self.source = _sources.source_name(source)
        self._input: _sources.Input | None = None
        self._started = False
        self._batches: Iterator[_native.Decoded] | None = None
        self._active: Any = None  # the generator reading the source, to close it early

    @property
    def bytes_read(self) -> int:
        """Bytes read so far of the source as stored (compressed, if it is)."""
        return 0 if self._input is None else self._input.bytes_read

    def __iter__(self) -> Reader:
        return self

    def __next__(self) -> _native.Decoded:
        if self._batches is None:
            self._batches = (decoded for decoded, _ in self.staged(None))
        return next(self._batches)

    def __enter__(self) -> Reader:
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.close()

    def close(self) -> None:
        """Stops reading and closes a source opened by path; batches not yet read are left unread."""
        self._started = True
        self._batches = iter(())
        if self._active is not None:
            self._active.close()

    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any:
        """The beacons of every batch not yet read, as an Arrow stream (PyCapsule interface)."""
        # The schema is the beacon table's whatever the input: an empty one checks the request.
        _native.decode(b"").beacons.__arrow_c_stream__(requested_schema)
        return _native.batch_stream(self, "beacons")

    def write(self, records: str | os.PathLike[str], *, format: str | None = None,  # noqa: A002
              errors: str | os.PathLike[str] | None = None) -> Tally:
        """Writes the beacons of every batch not yet read to the file `records`,
        in the format its suffix names (.jsonl, .csv, .parquet) or `format`,
        and the failed lines to `errors` as JSON lines; returns their counts.

        The files appear whole or not at all (see ``kav_aprs.sinks.write``).
        """
        from . import sinks

        return sinks.write(self, records, format=format, errors=errors)

    def staged(self, stage: Stage[T] | None) -> Iterator[tuple[_native.Decoded, T | None]]:
        """Each batch with what `stage` made of it on the thread that decoded it, in input order.

        For writers that render a batch on the decoding thread while others
        are decoded: `stage()` is called for each batch in input order on the
        reading thread, and the function it returns gets the decoded batch on
        the decoding thread. A read error is raised after every batch read
        before it has been given out.
        """
        if self._started:
            raise RuntimeError("the reader has already been read from")
        self._started = True
        staged = self._active = self._staged(stage)
        return staged

    def _staged(self, stage: Stage[T] | None) -> Iterator[tuple[_native.Decoded, T | None]]:
        with _sources.opened(self._source) as opened:
            self._input = opened
            if self._jobs == 1:
                yield from self._in_turn(opened, stage)
            else:
                yield from self._threaded(opened, stage)

    # One thread: each batch decoded before the next read, all reads into one buffer.

    def _in_turn(self, opened: _sources.Input, stage: Stage[T] | None) -> Iterator[tuple[_native.Decoded, T | None]]:
        framer = _native.LineFramer()
        line_number = self._first_line_number
        reads = _Reads(opened, self._batch_bytes)
        while True:
            data, size = reads.read()
            frame = framer.frame(data, size, last=not size)
            if frame is not None:
                decoded, finished = self._decode(frame, line_number, stage() if stage is not None else None)
                del frame  # the buffer is free for the next read
                line_number += decoded.lines
                yield decoded, finished
            reads.give_back(data)
            if not size:
                return

    def _decode(self, frame: _native.Frame, first: int, finish: Finish[T] | None) -> tuple[_native.Decoded, T | None]:
        try:
            decoded = frame.decode(first, source=self.source)
        except BaseException as error:
            if finish is not None:
                finish(error)
            raise
        return decoded, (finish(decoded) if finish is not None else None)

    # Several threads: reads go on while earlier batches decode.

    def _threaded(self, opened: _sources.Input, stage: Stage[T] | None) -> Iterator[tuple[_native.Decoded, T | None]]:
        import concurrent.futures

        framer = _native.LineFramer()
        line_number = self._first_line_number
        # Each batch in flight has its own read; one more is being read.
        reads = _Reads(opened, self._batch_bytes)
        pending: collections.deque[tuple[concurrent.futures.Future[tuple[_native.Decoded, Any]], Any]] = \
            collections.deque()

        def next_result() -> tuple[_native.Decoded, Any]:
            future, data = pending.popleft()
            result = future.result()
            reads.give_back(data)
            return result

        with concurrent.futures.ThreadPoolExecutor(self._jobs, thread_name_prefix="kav-aprs-decode") as executor:
            failure: BaseException | None = None
            try:
                while True:
                    try:
                        data, size = reads.read()
                    except (OSError, EOFError) as error:
                        failure = error
                        break
                    frame = framer.frame(data, size, last=not size)
                    if frame is not None:
                        lines = frame.lines
                        pending.append((executor.submit(self._decode, frame, line_number,
                                                        stage() if stage is not None else None), data))
                        line_number += lines
                    else:
                        reads.give_back(data)
                    while pending and (len(pending) > self._jobs or pending[0][0].done() or opened.live):
                        yield next_result()
                    if not size:
                        break
                while pending:
                    yield next_result()
            finally:
                for future, _ in pending:
                    future.cancel()
            if failure is not None:
                raise failure


class _Reads:
    """Reads of an opened source, a batch at a time.

    A stream that may wait on its writer is read with what one read gives
    (read1), so that its lines go out as they arrive instead of waiting for a
    whole batch. A file is read into buffers that are kept and read into again
    once their batch is decoded: a fresh buffer for every read is memory the
    system maps and clears afresh each time, which where freed memory goes
    straight back to the system (Dask's workers) cost 1.7 times the processor
    time. A buffer is sized to the file when it is smaller than a batch, and
    starts a memory page, so that a file read from a page's start is copied
    page to page (see read_buffer). A compressed source gives fresh bytes.
    """

    def __init__(self, opened: _sources.Input, batch_bytes: int) -> None:
        reader = opened.reader
        self.size = batch_bytes if opened.size is None else max(min(batch_bytes, opened.size + 1), 1)
        self._read_into = getattr(reader, "readinto1" if opened.live else "readinto", None)
        self._read = getattr(reader, "read1", reader.read) if opened.live else reader.read
        self._spare: list[bytearray] = []

    def read(self) -> tuple[bytes | bytearray, int]:
        """The bytes of one read (possibly in a longer buffer) and how many were read; 0 at the end."""
        if self._read_into is None:
            block = self._read(self.size) or b""
            return block, len(block)
        buffer = self._spare.pop() if self._spare else _native.read_buffer(self.size)
        with memoryview(buffer)[: self.size] as view:
            return buffer, self._read_into(view) or 0

    def give_back(self, data: bytes | bytearray) -> None:
        """Keeps a buffer whose batch is decoded, for a later read."""
        if isinstance(data, bytearray):
            self._spare.append(data)
