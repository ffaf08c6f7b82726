"""The native framer as the readers use it: reads cut anywhere give the lines of the whole input.

A reader that keeps its reads frames each in place (``frame``); the feed,
which reuses one receive buffer, gathers copies (``push``/``take``). Either
way, and wherever the reads were cut, the frames decode exactly as the bytes
joined do, and a frame's line count, which numbers the next one before this
one is decoded, agrees with the decoder's.
"""

import ctypes
import sys

import pytest

import kav_aprs
from batch_reference import rows_of
from kav_aprs import _native
from test_batch_sources import SPLITS


def cuts_of(data):
    """Each place just before and after a line end, and others in between."""
    near = {i + step for i, byte in enumerate(data) if byte in b"\r\n" for step in (0, 1, 2)}
    return sorted(near.union(range(0, len(data), 37), [len(data)]).intersection(range(len(data) + 1)))


def framed_in_place(data, cut, kind):
    framer = _native.LineFramer()
    reads = [kind(data[:cut]), kind(data[cut:]) + kind(b"spare")]
    frames = [framer.frame(reads[0]), framer.frame(reads[1], len(data) - cut), framer.finish()]
    return [frame for frame in frames if frame is not None]


def framed_gathered(data, cut):
    framer = _native.LineFramer()
    pushed = framer.push(data[:cut])
    frames = [framer.take()]
    pushed += framer.push(bytearray(data[cut:]) + b"spare", len(data) - cut)
    frames.append(framer.take())
    last = framer.finish()
    assert pushed == framer.gathered_lines + sum(f.lines for f in frames) - framer.gathered_lines
    return frames + ([last] if last is not None else [])


@pytest.mark.parametrize("name", sorted(SPLITS))
@pytest.mark.parametrize("how", ["bytes", "bytearray", "gathered"])
def test_reads_cut_anywhere_decode_as_the_bytes_joined(name, how):
    data = SPLITS[name]
    whole = kav_aprs.decode(data, first_line_number=7)
    for cut in cuts_of(data):
        frames = framed_gathered(data, cut) if how == "gathered" else framed_in_place(data, cut, eval(how))
        line_number, rows = 7, ([], [])
        for frame in frames:
            decoded = frame.decode(line_number, source="s")
            assert frame.lines == decoded.lines and decoded.first_line_number == line_number, cut
            line_number += decoded.lines
            beacons, errors = rows_of(decoded)
            rows[0].extend(beacons)
            rows[1].extend(errors)
        assert rows == rows_of(whole), cut
        assert line_number - 7 == whole.lines, cut


def test_a_line_over_the_limit_fails_with_its_length_and_first_bytes():
    framer = _native.LineFramer(max_line_bytes=8)
    assert framer.push(b"ok\r") == 1
    assert framer.push(b"\n" + b"y" * 20) == 0 and framer.unfinished_bytes == 20
    framer.take()
    assert framer.push(b"y" * 5 + b"\n#c\n") == 2
    errors = rows_of(framer.take().decode(2))[1]
    assert [(e["line_number"], e["error_kind"], e["line"]) for e in errors] == [(2, "LineTooLong", b"y" * 8)]
    assert errors[0]["error"] == "LineTooLong: a line of 25 bytes, cut at 8"


def test_a_dropped_unfinished_line_is_measured_and_the_next_stream_starts_afresh():
    framer = _native.LineFramer()
    assert framer.frame(b"a\rpartial") is not None
    assert framer.drop_unfinished() == 7
    frame = framer.frame(b"\nb\n")  # a new connection's "\n" is a line end of its own
    assert frame.lines == 2 and frame.decode().blank == 1


@pytest.mark.parametrize("call, error", [
    (lambda f: f.frame("text"), TypeError), (lambda f: f.frame(b"ab", 3), ValueError),
    (lambda f: f.frame(b"ab", -1), ValueError), (lambda f: f.push(b"a", size="1"), TypeError),
    (lambda f: f.frame(b"a", 1, True), TypeError), (lambda f: f.frame(b"a", sized=1), TypeError),
    (lambda f: _native.LineFramer(-1), OverflowError),
], ids=["text", "size_beyond_data", "negative_size", "size_str", "last_by_position", "unknown_keyword",
        "negative_limit"])
def test_wrong_arguments_are_refused_by_name(call, error):
    with pytest.raises(error):
        call(_native.LineFramer())


@pytest.mark.parametrize("size", [0, 1, 4095, 4096, 4097, 8 << 20])
def test_a_read_buffer_starts_a_page(size):
    # Reads are copied page to page only into a buffer that starts a page: into a plain bytearray, whose bytes
    # start 16 bytes into a page, reads from the start of a file took five times as long on our AMD machines.
    buffer = _native.read_buffer(size)
    assert type(buffer) is bytearray and len(buffer) >= size
    start = ctypes.c_char.from_buffer(buffer)
    address = ctypes.addressof(start)
    del start  # a bytearray that exports its bytes cannot be resized
    assert address % 4096 == 0
    buffer[:size] = bytes(range(256)) * (size // 256) + bytes(size % 256)
    del buffer[size:]
    assert len(buffer) == size


@pytest.mark.parametrize("size, error", [(-1, ValueError), (sys.maxsize, MemoryError), ("8", TypeError),
                                         (2**70, OverflowError)])
def test_a_read_buffer_of_no_possible_size_is_refused(size, error):
    with pytest.raises(error):
        _native.read_buffer(size)
