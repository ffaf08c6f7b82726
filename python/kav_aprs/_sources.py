"""Opening what iter_decoded reads: a path, a binary stream or standard input.

Compressed input is recognised by its first bytes, not its name: archives are
often renamed, piped or served without a telling suffix.
"""

from __future__ import annotations

import bz2
import contextlib
import gzip
import io
import lzma
import os
import stat
import sys
from collections.abc import Iterator
from typing import IO, Any, Callable

# (leading bytes, opener of a decompressing reader over a binary stream)
_COMPRESSED: tuple[tuple[bytes, Callable[[Any], Any]], ...] = (
    (b"\x1f\x8b", lambda stream: gzip.GzipFile(fileobj=stream, mode="rb")),
    (b"BZh", bz2.BZ2File),
    (b"\xfd7zXZ\x00", lzma.LZMAFile),
)
_SNIFF_BYTES = max(len(magic) for magic, _ in _COMPRESSED)


class _Rejoined:
    """A stream whose first bytes were read to recognise its format, put back in front.

    Only ``read`` and ``readinto`` are offered (a file object given by the
    caller need not seek): ``read`` is all that the decompressing readers call,
    and the chunker then reads a file in whole chunks, the first one included,
    into one buffer that it keeps for every read.
    """

    def __init__(self, head: bytes, stream: IO[bytes]) -> None:
        self._head = head
        self._stream = stream

    def read(self, size: int = -1) -> bytes:
        head, self._head = self._head, b""
        if not head:
            return self._stream.read(size)
        if 0 <= size < len(head):
            self._head = head[size:]
            return head[:size]
        return head + self._stream.read(-1 if size < 0 else size - len(head))

    def readinto(self, buffer: memoryview) -> int:
        read_into = getattr(self._stream, "readinto", None)
        if self._head or read_into is None:
            data = self.read(len(buffer)) or b""
            buffer[: len(data)] = data
            return len(data)
        return read_into(buffer) or 0


class _RejoinedLive(_Rejoined):
    """A rejoined stream that may wait on its writer, with ``read1`` too, so
    that the chunker hands on what has arrived instead of waiting for a whole
    chunk. It is the stream's own ``read1`` when it has one, ``read``
    otherwise."""

    def read1(self, size: int = -1) -> bytes:
        if self._head:
            # What is already here, without waiting for more.
            return self.read(min(size, len(self._head)) if size >= 0 else len(self._head))
        return getattr(self._stream, "read1", self._stream.read)(size)


def waits_for_writer(stream: Any) -> bool:
    """Whether reading `stream` may wait on whoever writes it (a pipe, a
    terminal, a socket, or a stream that cannot tell): anything but a regular file."""
    try:
        return not stat.S_ISREG(os.fstat(stream.fileno()).st_mode)
    except (OSError, AttributeError, ValueError):
        return True


def _read_up_to(stream: IO[bytes], size: int) -> bytes:
    """Up to `size` bytes, fewer only at the end: a pipe may deliver them one by one."""
    parts = []
    wanted = size
    while wanted > 0:
        part = stream.read(wanted)
        if part is None:
            raise TypeError("iter_decoded cannot read a non-blocking stream that has no data ready")
        if not isinstance(part, (bytes, bytearray)):
            raise TypeError(
                f"iter_decoded needs a binary stream, but read() gave {type(part).__name__}: "
                "open files with mode 'rb'"
            )
        if not part:
            break
        parts.append(bytes(part))
        wanted -= len(part)
    return b"".join(parts)


class _WholeReads:
    """A decompressing reader offered through ``read`` and ``close`` alone.

    Its ``read1`` would give what one compressed block holds, and cut the
    input into chunks too small to decode efficiently; ``read`` fills them.
    """

    def __init__(self, reader: IO[bytes]) -> None:
        self.read = reader.read
        self.close = reader.close


def _decompressed(stream: IO[bytes]) -> Any:
    """A reader of `stream`'s content, decompressed if its first bytes say so."""
    head = _read_up_to(stream, _SNIFF_BYTES)
    rejoined = (_RejoinedLive if waits_for_writer(stream) else _Rejoined)(head, stream)
    for magic, opener in _COMPRESSED:
        if head.startswith(magic):
            return _WholeReads(opener(rejoined))
    return rejoined


@contextlib.contextmanager
def _opened(source: Any) -> Iterator[Any]:
    with contextlib.ExitStack() as stack:
        if (isinstance(source, str) and source == "-") or source is sys.stdin:
            stream = sys.stdin.buffer
        elif isinstance(source, (str, os.PathLike)):
            stream = stack.enter_context(open(source, "rb"))
        else:
            stream = source
        reader = _decompressed(stream)
        # A decompressing reader holds its decompressor's buffers until closed;
        # closing it leaves a stream it was given open.
        if hasattr(reader, "close"):
            stack.callback(reader.close)
        yield reader


def open_lines(source: Any) -> contextlib.AbstractContextManager[Any]:
    """A context giving a reader (``read(size)``) of `source`'s decompressed bytes.

    The type of `source` is checked now, so that a wrong argument fails at the
    call; the source is opened on entry and a path closed on exit.
    """
    is_path = isinstance(source, (str, os.PathLike))
    if not (is_path or source is sys.stdin or callable(getattr(source, "read", None))):
        raise TypeError(
            "iter_decoded reads a path, a binary file object or '-' for standard input, "
            f"not {type(source).__name__}"
            + ("; decode() takes bytes in memory" if isinstance(source, (bytes, bytearray)) else "")
        )
    if isinstance(source, io.TextIOBase) and source is not sys.stdin:
        raise TypeError("iter_decoded needs a binary file object, not a text stream: open files with mode 'rb'")
    return _opened(source)
