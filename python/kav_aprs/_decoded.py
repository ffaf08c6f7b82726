"""The result of decoding a buffer of lines, and the two ways of getting one."""

from __future__ import annotations

import dataclasses
import os
from collections.abc import Iterator
from contextlib import AbstractContextManager
from typing import IO, Any, Union

from . import _chunks, _native, _sources

Source = Union[str, "os.PathLike[str]", IO[bytes]]


@dataclasses.dataclass(frozen=True, eq=False)
class Decoded:
    """The decoded lines of one buffer, the lines that failed, and the counts.

    ``beacons`` and ``errors`` export Arrow record batches through the PyCapsule
    interface (``__arrow_c_stream__``, ``__arrow_c_array__``), so
    ``pyarrow.table(d.beacons)``, ``polars.DataFrame(d.beacons)`` and DuckDB
    read them without a copy. ``lines`` counts every line, which is
    ``decoded + failed + comments + blank``; ``failures`` maps each error kind
    that occurred to its number of lines.
    """

    beacons: _native.ArrowBatch = dataclasses.field(repr=False)
    errors: _native.ArrowBatch = dataclasses.field(repr=False)
    lines: int
    decoded: int
    failed: int
    comments: int
    blank: int
    failures: dict[str, int]

    @classmethod
    def _of(cls, chunk: _native.DecodedChunk) -> Decoded:
        return cls(chunk.beacons, chunk.errors, chunk.lines, chunk.decoded, chunk.failed,
                   chunk.comments, chunk.blank, chunk.failures)


def decode(data: bytes | bytearray | memoryview, *, first_line_number: int = 1) -> Decoded:
    """Decodes every line of `data` (whole lines of bytes) into columns.

    Lines end at ``\\n``, ``\\r\\n`` or a lone ``\\r``; a last line without an
    end is a line too. Empty lines count as blank, lines starting with ``#`` as
    comments. `first_line_number` is the number given to the first line.
    ``bytes`` and ``bytearray`` are read as they are (a bytearray cannot be
    resized while it is decoded: that raises BufferError); any other buffer is copied.
    """
    if not isinstance(data, (bytes, bytearray)):
        try:
            data = bytes(memoryview(data))
        except TypeError:
            raise TypeError(
                f"decode() needs bytes, a bytearray or another buffer of bytes, "
                f"not {type(data).__name__}"
            ) from None
    return Decoded._of(_native.decode(data, first_line_number))


def decode_chunk(chunk: _chunks.Chunk, first_line_number: int) -> Decoded:
    """Decodes the whole lines of a chunk cut by ``_chunks.whole_lines``."""
    return Decoded._of(_chunks.decode(chunk, first_line_number))


def iter_decoded(source: Source, *, batch_bytes: int = 8 << 20) -> Iterator[Decoded]:
    """Decodes a file, a binary stream or standard input one chunk at a time.

    `source` is a path, a binary file object, or ``"-"`` or ``sys.stdin`` for
    standard input. Input compressed with gzip, bzip2 or xz is recognised by its
    first bytes, whatever its name, and decompressed as it is read. Each chunk
    holds whole lines, about `batch_bytes` of them (a longer line makes a
    longer chunk); line numbers run on from one chunk to the next, starting at 1.
    A path is closed at the end; a file object given is left open.
    """
    if isinstance(batch_bytes, bool) or not isinstance(batch_bytes, int) or batch_bytes < 1:
        raise ValueError(f"batch_bytes must be a positive int, not {batch_bytes!r}")
    return _decode_chunks(_sources.open_lines(source), batch_bytes)


def _decode_chunks(opener: AbstractContextManager[Any], batch_bytes: int) -> Iterator[Decoded]:
    line_number = 1
    with opener as stream:
        # Each chunk is decoded before the next is read, so one buffer serves every read.
        for chunk in _chunks.whole_lines(stream, batch_bytes, recycle=True):
            decoded = decode_chunk(chunk, line_number)
            del chunk  # not kept while the caller works on the result
            line_number += decoded.lines
            yield decoded
