"""A chunk is a read, where its whole lines end, and the line begun before it.

The decoder must give for ``carried + data[:end]`` exactly what it gives for
those bytes joined, and the line count that ``--jobs`` numbers the next chunk
from must agree with the decoder's, wherever the read was cut.
"""

import ctypes
import sys

import pytest

import kav_aprs
from batch_reference import rows_of
from kav_aprs import _chunks, _decoded, _native
from test_batch_sources import SPLITS


def ends_of(data):
    """Each end just before and after a line end, and others in between."""
    near = {i + step for i, byte in enumerate(data) if byte in b"\r\n" for step in (0, 1, 2)}
    return sorted(near.union(range(0, len(data), 37), [len(data)]).intersection(range(len(data) + 1)))


@pytest.mark.parametrize("name", sorted(SPLITS))
@pytest.mark.parametrize("carried_bytes", [0, 1, 30])
def test_every_cut_decodes_as_the_bytes_joined(name, carried_bytes):
    data = SPLITS[name]
    first_line_end = min((data.find(end) for end in (b"\r", b"\n") if end in data), default=len(data))
    carried_bytes = min(carried_bytes, first_line_end)  # a line begun: no line end in it
    carried, read = data[:carried_bytes], data[carried_bytes:]
    for end in ends_of(read):
        chunk = _chunks.Chunk(read, end, carried)
        decoded = _decoded.decode_chunk(chunk, 7)
        alone = kav_aprs.decode(carried + read[:end], first_line_number=7)
        assert rows_of(decoded) == rows_of(alone), end
        assert chunk.line_count() == decoded.lines == alone.lines, end


@pytest.mark.parametrize("data", [SPLITS["lf"], bytearray(SPLITS["mixed"])], ids=["bytes", "bytearray"])
def test_no_end_means_all_of_the_data(data):
    assert _native.decode(data, 1, None).lines == _native.decode(data, 1).lines == kav_aprs.decode(data).lines
    assert _native.decode(data, 1, None, b"").lines == kav_aprs.decode(data).lines


@pytest.mark.parametrize("args, error", [
    ((-1,), ValueError), ((len(SPLITS["lf"]) + 1,), ValueError), ((2**70,), OverflowError),
    (("3",), TypeError), ((None, "text"), TypeError), ((None, b"", 0), TypeError),
], ids=["negative_end", "end_beyond_data", "end_beyond_64_bits", "end_str", "text_not_bytes",
        "too_many_arguments"])
def test_an_end_outside_the_data_or_a_wrong_argument_is_refused(args, error):
    with pytest.raises(error):
        _native.decode(SPLITS["lf"], 1, *args)


@pytest.mark.parametrize("size", [0, 1, 4095, 4096, 4097, 8 << 20])
def test_a_read_buffer_starts_a_page(size):
    # Reads are copied page to page only into a buffer that starts a page: into a plain bytearray, whose bytes
    # start 16 bytes into a page, reads from the start of a file took five times as long on our AMD machines.
    buffer = _native.page_aligned_buffer(size)
    assert type(buffer) is bytearray and len(buffer) >= size and not any(buffer)
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
        _native.page_aligned_buffer(size)
