"""The feed's line buffer: whatever the reads and the takes, the same lines come out once, in order.

Each stream is fed in several cuttings (whole, byte by byte, random sizes) with
takes at random points; the lines taken must be the stream's whole lines, with
lines over the limit replaced by empty ones and reported, and the start of a
line still arriving dropped at the end.
"""

import random

import pytest

from batch_reference import split_lines
from kav_aprs._line_buffer import LineBuffer

LIMIT = 16

STREAMS = {
    # name: (bytes of one connection, lines expected (cut ones empty), (index, length) of the cut ones, dropped bytes)
    "crlf lines": (b"a\r\nbb\r\nccc\r\n", [b"a", b"bb", b"ccc"], [], 0),
    "lf and lone cr": (b"a\nb\rc\r\n\r\n", [b"a", b"b", b"c", b""], [], 0),
    "partial at the end": (b"a\r\nb", [b"a"], [], 1),
    "cr at the end, lf never comes": (b"a\r", [b"a"], [], 0),
    "line at the limit": (b"x" * LIMIT + b"\r\n", [b"x" * LIMIT], [], 0),
    "line one over the limit": (b"x" * (LIMIT + 1) + b"\r\nok\r\n", [b"", b"ok"], [(0, LIMIT + 1)], 0),
    "long line after a lone cr, ended by lf": (b"a\r" + b"y" * 40 + b"\nb\n", [b"a", b"", b"b"], [(1, 40)], 0),
    "long line ended by lone cr": (b"z" * 33 + b"\rq\r\n", [b"", b"q"], [(0, 33)], 0),
    "two long lines in a row": (b"L" * 20 + b"\r\n" + b"M" * 50 + b"\r\nn\r\n", [b"", b"", b"n"],
                                [(0, 20), (1, 50)], 0),
    "long line never ended": (b"ok\r\n" + b"w" * 100, [b"ok"], [], 100),
    "empty lines only": (b"\r\n\r\n\n", [b"", b"", b""], [], 0),
}


def _cuttings(data: bytes, seed: int):
    yield "whole", [data]
    yield "bytes", [data[i : i + 1] for i in range(len(data))]
    rng = random.Random(seed)
    pieces, at = [], 0
    while at < len(data):
        size = rng.randint(1, 7)
        pieces.append(data[at : at + size])
        at += size
    yield "random", pieces


def _feed(pieces, seed):
    """Appends the pieces, taking at random points; returns taken bytes, cut (line index, length), dropped."""
    rng = random.Random(seed)
    buffer = LineBuffer(LIMIT)
    taken, cut, lines_so_far = bytearray(), [], 0
    for number, piece in enumerate(pieces):
        buffer.append(piece, float(number))
        # Memory stays bounded whatever the line lengths.
        assert buffer.pending_bytes <= LIMIT + 2 + len(piece)
        if rng.random() < 0.4:
            max_lines = rng.randint(1, 3)
            chunk = buffer.take(max_lines)
            assert chunk.data.count(b"\n") <= max_lines
            for offset, head, length in chunk.cut:
                assert head == (head[:1] * LIMIT)
                cut.append((lines_so_far + len(split_lines(chunk.data[:offset])), length))
            lines_so_far += len(split_lines(chunk.data))
            taken += chunk.data
    dropped = buffer.end_of_stream()
    last = buffer.take(1 << 30)
    for offset, _, length in last.cut:
        cut.append((lines_so_far + len(split_lines(last.data[:offset])), length))
    taken += last.data
    return bytes(taken), cut, dropped


@pytest.mark.parametrize("name", STREAMS)
def test_lines_come_out_once_in_order_whatever_the_reads(name):
    data, lines, cut, dropped = STREAMS[name]
    for seed in range(3):
        for cutting, pieces in _cuttings(data, seed):
            taken, got_cut, got_dropped = _feed(pieces, seed)
            where = f"{name}, {cutting}, seed {seed}"
            assert split_lines(taken) == lines, where
            assert got_cut == cut, where
            assert got_dropped == dropped, where


def test_take_stops_at_the_nth_line_feed_and_keeps_the_rest():
    buffer = LineBuffer(LIMIT)
    buffer.append(b"1\r\n2\r\n3\r\n4\r\n5", 1.0)
    assert buffer.newlines == 4
    assert buffer.take(3).data == b"1\r\n2\r\n3\r\n"
    buffer.append(b"\r\n", 2.0)
    chunk = buffer.take(3)
    assert chunk.data == b"4\r\n5\r\n"
    # The read that brought "4" also brought what was left of the first take.
    assert (chunk.received_from, chunk.received_to) == (1.0, 2.0)
    assert buffer.take(3).received_from is None


def test_a_line_feed_after_a_cr_that_ended_a_take_is_not_another_line():
    buffer = LineBuffer(LIMIT)
    buffer.append(b"a\r", 1.0)
    assert buffer.take(10).data == b"a\r"
    assert buffer.take(10).data == b""  # an empty take in between must not forget the pending \r
    buffer.append(b"\nb\r\n", 2.0)
    assert split_lines(buffer.take(10).data) == [b"b"]


def test_a_new_connection_starts_afresh_after_a_cr():
    buffer = LineBuffer(LIMIT)
    buffer.append(b"a\r", 1.0)
    buffer.take(10)
    buffer.end_of_stream()
    buffer.append(b"\nb\n", 2.0)
    assert split_lines(buffer.take(10).data) == [b"", b"b"]
