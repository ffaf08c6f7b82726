"""Bytes read from a connection, held until they can be handed out as whole lines.

The buffer works on whole reads, never line by line in Python: a burst of a
million lines is a few hundred reads. What it guarantees is that memory never
grows with one line: a line longer than the limit is cut as soon as it passes
the limit, its first bytes kept for the report and the rest discarded as it
arrives, and an empty line takes its place so that line numbers still count it.
"""

from __future__ import annotations

import dataclasses
import re

_LF = 0x0A
_CR = 0x0D
_LINE_END = re.compile(rb"[\r\n]")


@dataclasses.dataclass(frozen=True)
class CutLine:
    """A line longer than the limit: its number, its first bytes and its whole length in bytes."""

    line_number: int
    head: bytes = dataclasses.field(repr=False)
    length: int


@dataclasses.dataclass(frozen=True)
class Taken:
    """Whole lines taken from the buffer.

    `cut` gives, for each line that was cut, the offset in `data` of the empty
    line standing in for it, its first bytes and its length. `received_from`
    and `received_to` are the times of the first and the last read that
    brought bytes of `data` (None for no bytes).
    """

    data: bytes
    cut: tuple[tuple[int, bytes, int], ...]
    received_from: float | None
    received_to: float | None


class _Arrival:
    """Where the bytes of one read begin in the buffer, and when the read was made."""

    __slots__ = ("offset", "when")

    def __init__(self, offset: int, when: float) -> None:
        self.offset = offset
        self.when = when


def _line_end_at_or_after(buf: bytearray, start: int) -> int:
    match = _LINE_END.search(buf, start)
    return -1 if match is None else match.start()


def _after_last_line_end(buf: bytearray, start: int) -> int:
    """The position after the last line end in buf[start:], or `start` if there is none."""
    return max(buf.rfind(b"\n", start), buf.rfind(b"\r", start), start - 1) + 1


class LineBuffer:
    """Reads of one connection after another, given out as chunks of whole lines.

    Line ends are ``\\n``, ``\\r\\n`` and a lone ``\\r``, as the decoder reads
    them. ``take`` cuts after the last whole line, or after the `max_lines`-th
    ``\\n`` if there are that many; the bytes after the last line end (the
    start of a line still arriving) stay for the next reads. ``end_of_stream``
    drops them when the connection ends, since the rest of that line will
    never come.
    """

    def __init__(self, max_line_bytes: int = 4096) -> None:
        if max_line_bytes < 2:
            raise ValueError(f"max_line_bytes must be at least 2, not {max_line_bytes}")
        self.max_line_bytes = max_line_bytes
        # Any run of more than max_line_bytes bytes without a line end holds a
        # whole block of this many bytes without one, wherever the blocks start.
        self._block = max_line_bytes // 2
        self._buf = bytearray()
        self._line_start = 0  # after the last line end in _buf
        self.newlines = 0  # b"\n" in _buf
        # _buf[:_counted_at] holds _counted_newlines b"\n": where a search for the n-th one may start.
        self._counted_at = 0
        self._counted_newlines = 0
        self._drop_lf = False  # the last chunk ended in b"\r": a b"\n" next completes that line end
        self._cut: list[tuple[int, bytes, int]] = []  # (offset of the stand-in line, first bytes, length)
        # The first bytes and the length so far of a cut line still arriving.
        self._overlong_head: bytes | None = None
        self._overlong_length = 0
        self._arrivals: list[_Arrival] = []  # where each read's bytes begin, in order

    @property
    def pending_bytes(self) -> int:
        """Bytes held, whole lines and the start of a line still arriving."""
        return len(self._buf)

    def append(self, data: bytes | bytearray | memoryview, when: float) -> None:
        """Adds the bytes of one read, made at time `when`."""
        buf = self._buf
        base = len(buf)
        buf += data
        if self._drop_lf and len(buf) > base:
            self._drop_lf = False
            if buf[base] == _LF:
                del buf[base]
        if self._overlong_head is not None and not self._finish_overlong(base):
            return
        if len(buf) == base:
            return
        self._arrivals.append(_Arrival(base, when))
        self._counted_at, self._counted_newlines = self._line_start, self.newlines
        self.newlines += buf.count(b"\n", base)
        self._cut_overlong(self._line_start)
        self._line_start = _after_last_line_end(buf, self._line_start)

    def _finish_overlong(self, base: int) -> bool:
        """Discards the rest of a cut line up to its line end; False if it has not come yet."""
        buf = self._buf
        end = _line_end_at_or_after(buf, base)
        if end < 0:
            self._overlong_length += len(buf) - base
            del buf[base:]
            return False
        assert self._overlong_head is not None
        self._stand_in(base, end)
        self._cut.append((base, self._overlong_head, self._overlong_length + end - base))
        self._overlong_head = None
        return True

    def _stand_in(self, begin: int, end: int) -> None:
        """Replaces the line buf[begin:end] by an empty one, keeping its line end.

        A lone b"\\n" end becomes b"\\r\\n": right after a lone b"\\r" it would
        otherwise pair with that one and the line would vanish.
        """
        buf = self._buf
        stand_in = b"\r" if end < len(buf) and buf[end] == _LF else b""
        buf[begin:end] = stand_in
        removed = end - begin - len(stand_in)
        for arrival in self._arrivals:
            if arrival.offset > begin:
                arrival.offset = max(begin, arrival.offset - removed)

    def _cut_overlong(self, start: int) -> None:
        """Cuts every line in buf[start:] longer than the limit."""
        buf, block, limit = self._buf, self._block, self.max_line_bytes
        position = start
        while True:
            begin = position
            while begin + block <= len(buf) and (
                buf.find(b"\n", begin, begin + block) >= 0 or buf.find(b"\r", begin, begin + block) >= 0
            ):
                begin += block
            if begin + block > len(buf):
                return
            # A block without a line end: measure the line it lies in.
            line_begin = max(buf.rfind(b"\n", position, begin), buf.rfind(b"\r", position, begin), position - 1) + 1
            end = _line_end_at_or_after(buf, begin + block)
            if end < 0:
                if len(buf) - line_begin > limit:
                    self._overlong_head = bytes(buf[line_begin : line_begin + limit])
                    self._overlong_length = len(buf) - line_begin
                    del buf[line_begin:]
                    self._arrivals = [a for a in self._arrivals if a.offset < line_begin]
                return
            if end - line_begin > limit:
                head = bytes(buf[line_begin : line_begin + limit])
                self._cut.append((line_begin, head, end - line_begin))
                self._stand_in(line_begin, end)
                position = line_begin
            else:
                position = end

    def take(self, max_lines: int) -> Taken:
        """Takes the whole lines held, up to the `max_lines`-th ``\\n``."""
        buf = self._buf
        if self.newlines >= max_lines:
            self.newlines -= max_lines  # the b"\n" after the one wanted
            cut, seen = self._counted_at, self._counted_newlines
            if seen > max_lines:
                cut, seen = 0, 0
            if max_lines - seen <= self.newlines:
                for _ in range(max_lines - seen):
                    cut = buf.find(b"\n", cut) + 1
            else:  # nearer the end: search back
                cut = len(buf)
                for _ in range(self.newlines + 1):
                    cut = buf.rfind(b"\n", 0, cut)
                cut += 1
        else:
            cut = self._line_start
            self.newlines = 0
        with memoryview(buf) as view:  # one copy, not two; released before the buffer shrinks
            data = bytes(view[:cut])
        del buf[:cut]
        self._line_start -= cut
        # Every b"\n" left lies before the start of the line still arriving.
        self._counted_at, self._counted_newlines = self._line_start, self.newlines
        # What is left after a cut holds no line end, so a b"\n" completing a
        # final b"\r" can only come with the next read.
        if cut:
            self._drop_lf = data[-1] == _CR and not buf

        taken_cut = tuple(line for line in self._cut if line[0] < cut)
        self._cut = [(offset - cut, head, length) for offset, head, length in self._cut if offset >= cut]
        times = [a.when for a in self._arrivals if a.offset < cut]
        rest = [_Arrival(a.offset - cut, a.when) for a in self._arrivals if a.offset >= cut]
        if buf and times and (not rest or rest[0].offset > 0):
            rest.insert(0, _Arrival(0, times[-1]))  # the read that brought the last bytes taken brought the first left
        self._arrivals = rest
        return Taken(data, taken_cut, times[0] if times else None, times[-1] if times else None)

    def end_of_stream(self) -> int:
        """Drops the start of a line still arriving when the connection ends; returns its length in bytes.

        A cut line that never got its line end is dropped the same way.
        """
        dropped = len(self._buf) - self._line_start
        if self._overlong_head is not None:
            dropped = self._overlong_length
            self._overlong_head = None
        del self._buf[self._line_start :]
        self._arrivals = [a for a in self._arrivals if a.offset < self._line_start]
        self._drop_lf = False
        return dropped
