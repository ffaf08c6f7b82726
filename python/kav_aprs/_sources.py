"""Opening what a reader reads: a path, a binary stream or standard input, compressed or not.

Compressed input is recognised by its first bytes, not its name: archives are
often renamed, piped or served without a telling suffix. It is decompressed
as a stream, member after member, and read to the last byte: when the data
is damaged or cut short, everything before the damage is handed on first,
and then ``DamagedInputError`` names the source and the offset.
"""

from __future__ import annotations

import bz2
import contextlib
import io
import lzma
import os
import stat
import sys
import zlib
from collections.abc import Callable, Iterator
from typing import IO, Any, NamedTuple

# Compressed bytes fed to a decompressor at a time: what a failing feed can
# lose before it is retried byte by byte (where the decompressor can be
# copied) is never more than this.
_FEED_BYTES = 64 << 10


class DamagedInputError(OSError):
    """Compressed input that is damaged or ends early.

    Raised after every line before the damage has been handed on; the message
    names the source and the offset in the compressed input.
    """

    salvaged = b""  # what the damaged feed decompressed to before its damage


class _Codec(NamedTuple):
    name: str
    magic: bytes
    new: Callable[[], Any]  # a decompressor of one member (stream)
    errors: tuple[type[BaseException], ...]  # what its decompress raises on damaged data
    # Whether data after a whole member that is not another member is an
    # error (gzip, but for zero padding) or ignored (bzip2 and xz, which is
    # what their own file readers do).
    strict_trailer: bool


CODECS = (
    _Codec("gzip", b"\x1f\x8b", lambda: zlib.decompressobj(16 + zlib.MAX_WBITS), (zlib.error,), True),
    _Codec("bzip2", b"BZh", bz2.BZ2Decompressor, (OSError, ValueError), False),
    _Codec("xz", b"\xfd7zXZ\x00", lzma.LZMADecompressor, (lzma.LZMAError,), False),
)
SNIFF_BYTES = max(len(codec.magic) for codec in CODECS)


def codec_of(head: bytes) -> _Codec | None:
    """The compression that data starting with `head` is in, or None for plain text."""
    return next((codec for codec in CODECS if head.startswith(codec.magic)), None)


class _Decompressed:
    """The content of a compressed stream, through ``read(size)``.

    Each member is decompressed with a fresh decompressor; at most `size`
    bytes come out of one call (max_length), so that highly compressed data
    never expands in memory all at once.
    """

    def __init__(self, stream: Any, codec: _Codec, name: str) -> None:
        self._stream = stream
        self._codec = codec
        self._name = name
        self._decompressor = codec.new()
        self._pending = b""  # compressed bytes read and not yet fed
        self._offset = 0  # of _pending in the compressed input
        self._member_started = False
        self._ended = False
        self._damage: DamagedInputError | None = None  # to raise once what came before it is read

    def read(self, size: int = -1) -> bytes:
        if self._damage is not None:
            damage, self._damage = self._damage, None
            raise damage
        if size is None or size < 0:
            size = 1 << 62
        parts: list[bytes] = []
        wanted = size
        try:
            while wanted > 0 and not self._ended:
                part = self._next(wanted)
                if part:
                    parts.append(part)
                    wanted -= len(part)
        except DamagedInputError as damage:
            parts.append(damage.salvaged)
            if not any(parts):
                raise
            self._damage = damage
        return b"".join(parts)

    def close(self) -> None:
        self._ended = True

    def _next(self, wanted: int) -> bytes:
        """Up to `wanted` decompressed bytes, possibly none."""
        decompressor = self._decompressor
        if decompressor.eof:
            self._next_member()
            return b""
        if not self._pending and self._needs_input():
            self._pending = self._stream.read(_FEED_BYTES) or b""
            if not self._pending:
                return self._end_of_input()
        feed, self._pending = self._pending, b""
        snapshot = decompressor.copy() if hasattr(decompressor, "copy") else None
        try:
            out = decompressor.decompress(feed, wanted)
        except self._codec.errors as error:
            self._ended = True
            salvaged, at = self._salvage(snapshot, feed) if snapshot is not None else (b"", 0)
            damage = DamagedInputError(
                f"{self._name}: damaged {self._codec.name} data at byte {self._offset + at:,} of the file: {error}")
            damage.salvaged = salvaged
            raise damage from None
        self._member_started = True
        left = self._unconsumed(decompressor)
        self._offset += len(feed) - len(left)
        self._pending = left
        return bytes(out)

    def _end_of_input(self) -> bytes:
        """The last output at the end of the compressed bytes; damage if a member is unfinished."""
        self._ended = True
        decompressor = self._decompressor
        # zlib may hold output that no more input will push out.
        last = decompressor.flush() if hasattr(decompressor, "flush") else b""
        if self._member_started and not decompressor.eof:
            damage = DamagedInputError(
                f"{self._name}: the {self._codec.name} data ends early, at byte {self._offset:,} of the file"
                " (cut short?)")
            damage.salvaged = last
            raise damage
        return last

    def _needs_input(self) -> bool:
        decompressor = self._decompressor
        if hasattr(decompressor, "needs_input"):
            return bool(decompressor.needs_input)
        return not decompressor.unconsumed_tail

    @staticmethod
    def _unconsumed(decompressor: Any) -> bytes:
        """Input fed but not yet used: zlib gives it back, bzip2 and xz keep it (or leave it after eof)."""
        if hasattr(decompressor, "unconsumed_tail"):
            return bytes(decompressor.unconsumed_tail) + (bytes(decompressor.unused_data) if decompressor.eof else b"")
        return bytes(decompressor.unused_data) if decompressor.eof else b""

    def _next_member(self) -> None:
        """After a whole member: the next one, the end, or damage."""
        rest = self._pending or self._stream.read(_FEED_BYTES) or b""
        if self._codec.strict_trailer:
            # Zero padding after the last member is allowed, as the gzip tools allow it.
            while rest and not rest.strip(b"\0"):
                self._offset += len(rest)
                rest = self._stream.read(_FEED_BYTES) or b""
            stripped = rest.lstrip(b"\0")
            self._offset += len(rest) - len(stripped)
            rest = stripped
        if not rest:
            self._ended = True
            return
        if not rest.startswith(self._codec.magic[: len(rest)]):
            self._ended = True
            if self._codec.strict_trailer:
                raise DamagedInputError(
                    f"{self._name}: data that is not {self._codec.name} at byte {self._offset:,} of the file,"
                    " after its last whole member")
            return
        self._decompressor = self._codec.new()
        self._member_started = False
        self._pending = rest

    def _salvage(self, decompressor: Any, feed: bytes) -> tuple[bytes, int]:
        """What `feed` decompresses to before its damage, fed byte by byte, and the damaged byte's offset in it."""
        parts = []
        for at in range(len(feed)):
            try:
                parts.append(decompressor.decompress(feed[at : at + 1]))
            except self._codec.errors:
                return b"".join(parts), at
        return b"".join(parts), len(feed)


class _Counted:
    """A binary stream that counts the bytes read from it (as stored: compressed or not), for progress."""

    def __init__(self, stream: IO[bytes]) -> None:
        self._stream = stream
        self.bytes_read = 0
        self.fileno = stream.fileno if hasattr(stream, "fileno") else None

    def read(self, size: int = -1) -> bytes | bytearray:
        data = _checked(self._stream.read(size))
        self.bytes_read += len(data)
        return data

    def read1(self, size: int = -1) -> bytes | bytearray:
        data = _checked(getattr(self._stream, "read1", self._stream.read)(size))
        self.bytes_read += len(data)
        return data

    def readinto(self, buffer: memoryview) -> int:
        read_into = getattr(self._stream, "readinto", None)
        if read_into is None:
            data = self.read(len(buffer))
            buffer[: len(data)] = data
            return len(data)
        got = read_into(buffer) or 0
        self.bytes_read += got
        return got


def _checked(data: Any) -> bytes | bytearray:
    if data is None:
        raise TypeError("cannot read a non-blocking stream that has no data ready")
    if not isinstance(data, (bytes, bytearray)):
        raise TypeError(
            f"needs a binary stream, but read() gave {type(data).__name__}: open files with mode 'rb'")
    return data


def waits_for_writer(stream: Any) -> bool:
    """Whether reading `stream` may wait on whoever writes it (a pipe, a
    terminal, a socket, or a stream that cannot tell): anything but a regular file."""
    try:
        return not stat.S_ISREG(os.fstat(stream.fileno()).st_mode)
    except (OSError, AttributeError, ValueError, TypeError):
        return True


def _read_up_to(stream: _Counted, size: int) -> bytes:
    """Up to `size` bytes, fewer only at the end: a pipe may deliver them one by one."""
    parts = []
    wanted = size
    while wanted > 0:
        part = stream.read(wanted)
        if not part:
            break
        parts.append(bytes(part))
        wanted -= len(part)
    return b"".join(parts)


class _Rejoined:
    """A stream whose first bytes were read to recognise its format, put back in front.

    ``read``, ``read1`` and ``readinto``: a file object given by the caller
    need not seek, and the reader reads a file in whole reads, the first one
    included, into one buffer that it keeps for every read.
    """

    def __init__(self, head: bytes, stream: _Counted) -> None:
        self._head = head
        self._stream = stream

    def read(self, size: int = -1) -> bytes | bytearray:
        head, self._head = self._head, b""
        if not head:
            return self._stream.read(size)
        if 0 <= size < len(head):
            self._head = head[size:]
            return head[:size]
        return head + self._stream.read(-1 if size < 0 else size - len(head))

    def read1(self, size: int = -1) -> bytes | bytearray:
        if self._head:
            # What is already here, without waiting for more.
            return self.read(min(size, len(self._head)) if size >= 0 else len(self._head))
        return self._stream.read1(size)

    def readinto(self, buffer: memoryview) -> int:
        if self._head:
            data = self.read(len(buffer))
            buffer[: len(data)] = data
            return len(data)
        return self._stream.readinto(buffer)


class Input(NamedTuple):
    """An opened source: what to read its content from, and what is known of it."""

    reader: Any  # read(size); read1 and readinto too when not compressed
    live: bool  # reads may wait on a writer: hand on what has come
    size: int | None  # of the content, when it is a plain regular file
    counted: _Counted  # bytes read of the source as stored

    @property
    def bytes_read(self) -> int:
        return self.counted.bytes_read


def source_name(source: Any) -> str:
    """The name a source's records give: valid UTF-8 whatever the file system holds."""
    if (isinstance(source, str) and source == "-") or source is sys.stdin:
        return "<stdin>"
    if isinstance(source, (str, bytes, os.PathLike)):
        return os.fsencode(source).decode("utf-8", "backslashreplace")
    name = getattr(source, "name", None)
    return name if isinstance(name, str) else "<stream>"


def check_source(source: Any, caller: str) -> None:
    """TypeError now, at the call, for what cannot be a source."""
    is_path = isinstance(source, (str, os.PathLike))
    if not (is_path or source is sys.stdin or callable(getattr(source, "read", None))):
        raise TypeError(
            f"{caller} reads a path, a binary file object or '-' for standard input, "
            f"not {type(source).__name__}"
            + ("; decode() takes bytes in memory" if isinstance(source, (bytes, bytearray)) else ""))
    if isinstance(source, io.TextIOBase) and source is not sys.stdin:
        raise TypeError(f"{caller} needs a binary file object, not a text stream: open files with mode 'rb'")


@contextlib.contextmanager
def opened(source: Any) -> Iterator[Input]:
    """The source opened for reading its content; a path is closed on exit, a file object given is left open."""
    with contextlib.ExitStack() as stack:
        if (isinstance(source, str) and source == "-") or source is sys.stdin:
            stream = sys.stdin.buffer
        elif isinstance(source, (str, os.PathLike)):
            stream = stack.enter_context(open(source, "rb"))
        else:
            stream = source
        live = waits_for_writer(stream)
        counted = _Counted(stream)
        head = _read_up_to(counted, SNIFF_BYTES)
        rejoined = _Rejoined(head, counted)
        codec = codec_of(head)
        if codec is not None:
            yield Input(_Decompressed(rejoined, codec, source_name(source)), live, None, counted)
            return
        size = None
        if not live:
            with contextlib.suppress(OSError, AttributeError, ValueError, TypeError):
                size = max(os.fstat(stream.fileno()).st_size - stream.tell() + len(head), 0)
        yield Input(rejoined, live, size, counted)
