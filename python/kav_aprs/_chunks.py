"""Cutting a stream of bytes into chunks of whole lines, for decoding one by one."""

from __future__ import annotations

from collections.abc import Iterator
from typing import Any

_CR = 0x0D
_LF = 0x0A


def whole_lines(stream: Any, batch_bytes: int) -> Iterator[bytes]:
    """Chunks of `stream` (anything with ``read(size)``) that end at a line end.

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
    while True:
        block = stream.read(max(batch_bytes, pending_bytes))
        if not block:
            break
        if drop_lf:
            drop_lf = False
            if block[0] == _LF:
                block = block[1:]
                if not block:
                    continue
        cut = max(block.rfind(b"\n"), block.rfind(b"\r")) + 1
        if cut == 0:
            pending.append(block)
            pending_bytes += len(block)
            continue
        # One copy at most: the rest of the previous read joined with a view of
        # this one, or a slice; none when the read ends on a line end. In a
        # list, so that the chunk is handed over and not also kept by this
        # frame while the caller decodes it and works on the result.
        if pending:
            chunk = [b"".join((*pending, memoryview(block)[:cut]))]
        else:
            chunk = [block if cut == len(block) else block[:cut]]
        if cut == len(block):
            pending, pending_bytes = [], 0
            drop_lf = block[-1] == _CR
        else:
            pending, pending_bytes = [block[cut:]], len(block) - cut
        del block
        yield chunk.pop()
    if pending:
        yield b"".join(pending)
