"""Cutting a stream of bytes into chunks of whole lines, for decoding one by one."""

from __future__ import annotations

from collections.abc import Iterator
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

    `data` is one read as it came, `end` where its last line ends, and
    `carried` the start of a line that an earlier read ended in (no line end
    in it): the decoder joins them, so that a read is never copied whole.
    """

    data: bytes
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


def whole_lines(stream: Any, batch_bytes: int) -> Iterator[Chunk]:
    """Chunks of `stream` (anything with ``read(size)``; ``read1`` when it has one) that end at a line end.

    A chunk is cut after the last line end (``\\n`` or ``\\r``) of what was read,
    so it holds about `batch_bytes` and never part of a line; the rest waits for
    the next read. A chunk that ends in ``\\r`` ends that line there, so a
    ``\\n`` that starts the next read is the other half of ``\\r\\n`` and is
    dropped. A line longer than a chunk is read on in ever larger reads until
    its end turns up, which keeps the work linear in its length. The last
    chunk may end without a line end.
    """
    pending: list[bytes] = []  # read but not yet given out: no line end in any of it
    pending_bytes = 0
    drop_lf = False
    # read1 returns what one read gives: a pipe's lines go out as they arrive
    # instead of waiting for a whole chunk from a slow writer.
    read = getattr(stream, "read1", stream.read)
    while True:
        block = read(max(batch_bytes, pending_bytes))
        if not block:
            break
        if drop_lf:
            drop_lf = False
            if block[0] == _LF:
                block = block[1:]
                if not block:
                    continue
        # A \r before the last \n cannot be the last line end: searching for one
        # only after it spares a scan of the whole read in files without any.
        last_lf = block.rfind(b"\n")
        cut = max(last_lf, block.rfind(b"\r", last_lf + 1)) + 1
        if cut == 0:
            pending.append(block)
            pending_bytes += len(block)
            continue
        # The read itself, with the line begun before it carried beside it and
        # the start of a line after `cut` left out: copying a whole read for
        # the sake of a few bytes at either end would hold two of them at
        # once. In a list, so that the chunk is handed over and not also kept
        # by this frame while the caller decodes it and works on the result.
        chunk = [Chunk(block, cut, b"".join(pending))]
        if cut == len(block):
            pending, pending_bytes = [], 0
            drop_lf = block[-1] == _CR
        else:
            pending, pending_bytes = [block[cut:]], len(block) - cut
        del block
        yield chunk.pop()
    if pending:
        yield Chunk(b"", 0, b"".join(pending))
