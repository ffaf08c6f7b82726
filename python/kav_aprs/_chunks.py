"""Cutting a stream of bytes into chunks of whole lines, for decoding one by one."""

from __future__ import annotations

from collections.abc import Callable, Iterator
from typing import TYPE_CHECKING, Any, NamedTuple, Union

from . import _native

if TYPE_CHECKING:
    from ._decoded import Decoded

    # What the writers and the command take: the package's Decoded, or the
    # decoder's own result, which has the same fields and is all the command
    # needs.
    Batch = Union[Decoded, _native.DecodedChunk]

_CR = 0x0D
_LF = 0x0A


class Chunk(NamedTuple):
    """The whole lines ``carried + data[:end]``.

    `data` holds one read as it came (a recycled buffer may go on past it),
    `end` is where its last line ends, and `carried` the start of a line that
    an earlier read ended in (no line end in it): the decoder joins them, so
    that a read is never copied whole.
    """

    data: bytes | bytearray
    end: int
    carried: bytes = b""

    def line_count(self) -> int:
        """The lines of the chunk, as the decoder counts them."""
        data, end = self.data, self.end
        lines = _native.count_line_ends(data, end)
        if (end and data[end - 1] not in b"\r\n") or (not end and self.carried):
            lines += 1
        return lines


def decode(chunk: Chunk, first_line_number: int) -> _native.DecodedChunk:
    """Decodes the whole lines of a chunk, numbering them from `first_line_number`."""
    return _native.decode(chunk.data, first_line_number, chunk.end, chunk.carried)


def whole_lines(stream: Any, batch_bytes: int, *, recycle: bool = False) -> Iterator[Chunk]:
    """Chunks of `stream` (anything with ``read(size)``; ``read1`` when it has one) that end at a line end.

    A chunk is cut after the last line end (``\\n`` or ``\\r``) of what was read,
    so it holds about `batch_bytes` and never part of a line; the rest waits for
    the next read. A chunk that ends in ``\\r`` ends that line there, so a
    ``\\n`` that starts the next read is the other half of ``\\r\\n`` and is
    dropped. A line longer than a chunk is read on in ever larger reads until
    its end turns up, which keeps the work linear in its length. The last
    chunk may end without a line end.

    With `recycle`, every read goes into one buffer (when the stream reads into
    buffers), so a chunk is valid only until the next one is asked for: for a
    caller that decodes each chunk before it takes the next.
    """
    pending: list[bytes] = []  # read but not yet given out: no line end in any of it
    pending_bytes = 0
    drop_lf = False
    read = _reads(stream, recycle)
    while True:
        data, size = read(max(batch_bytes, pending_bytes))
        if not size:
            break
        if drop_lf:
            drop_lf = False
            if data[0] == _LF:
                data, size = data[1:size], size - 1
                if not size:
                    continue
        # A \r before the last \n cannot be the last line end: searching for one
        # only after it spares a scan of the whole read in files without any.
        last_lf = data.rfind(b"\n", 0, size)
        cut = max(last_lf, data.rfind(b"\r", last_lf + 1, size)) + 1
        if cut == 0:
            pending.append(bytes(data[:size]))
            pending_bytes += size
            continue
        # The read itself, with the line begun before it carried beside it and
        # the start of a line after `cut` left out: copying a whole read for
        # the sake of a few bytes at either end would hold two of them at
        # once. In a list, so that the chunk is handed over and not also kept
        # by this frame while the caller decodes it and works on the result.
        chunk = [Chunk(data, cut, b"".join(pending))]
        if cut == size:
            pending, pending_bytes = [], 0
            drop_lf = data[size - 1] == _CR
        else:
            pending, pending_bytes = [bytes(data[cut:size])], size - cut
        del data
        yield chunk.pop()
    if pending:
        yield Chunk(b"", 0, b"".join(pending))


def _reads(stream: Any, recycle: bool) -> Callable[[int], tuple[bytes | bytearray, int]]:
    """What one read of up to `size` bytes gives: the bytes, and how many of them were read.

    read1 returns what one read gives: a pipe's lines go out as they arrive
    instead of waiting for a whole chunk from a slow writer. A recycled buffer
    is read into instead of taking a fresh object for every read: where freed
    memory goes straight back to the system (Dask's workers set
    MALLOC_TRIM_THRESHOLD_), each read of megabytes was mapped and zeroed
    afresh, which made iter_decoded take 1.7 times its processor time there.
    The buffer starts a memory page, so that a file read from a page's start
    (as it is, read after read of a whole batch) is copied page to page (see
    page_aligned_buffer).
    """
    live = hasattr(stream, "read1")
    read_into = getattr(stream, "readinto1" if live else "readinto", None)
    if not recycle or read_into is None:
        read = stream.read1 if live else stream.read

        def fresh(size: int) -> tuple[bytes, int]:
            block = read(size) or b""
            return block, len(block)

        return fresh
    buffer = bytearray()

    def recycled(size: int) -> tuple[bytearray, int]:
        nonlocal buffer
        if len(buffer) < size:
            buffer = _native.page_aligned_buffer(size)
        with memoryview(buffer)[:size] as view:
            return buffer, read_into(view) or 0

    return recycled
