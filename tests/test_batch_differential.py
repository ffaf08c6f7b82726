"""kav_aprs.decode gives, line for line, exactly what the per-line parse gives.

Every line of the bench corpora, the fuzz seeds and a seeded stream of damaged
lines is decoded both ways and compared value by value: texts, every float bit,
time, types, flags, address, and for failed lines the error text, its kind and
the raw bytes. Threads decoding different buffers at once must agree too.
"""

import concurrent.futures
import pathlib
import random
import threading
import time

import pytest

import kav_aprs
from batch_reference import Expected, rows_of

ROOT = pathlib.Path(__file__).resolve().parent.parent
VALID = (ROOT / "bench" / "corpus" / "valid.txt").read_bytes()
BAD = (ROOT / "bench" / "corpus" / "bad.txt").read_bytes()
SEEDS = sorted((ROOT / "fuzz" / "corpus").iterdir())

# Pieces that damage a line in the ways trackers, links and disks do.
DAMAGE = [b"", b"\x00", b"\xff", b"\xc3", "é".encode(), "\U0001f6e9".encode(), b"\t", b" ", b"#",
          b"\r", b"\n", b"\r\n", b">", b",", b":", b"/", b"id", b"A=", b"nan", b"-", b"9" * 40]


def damaged_lines(seed: int, count: int) -> bytes:
    """`count` corpus lines, each cut, spliced, overwritten or extended at random."""
    rng = random.Random(seed)
    lines = VALID.splitlines() + BAD.splitlines()
    out = []
    for _ in range(count):
        line = bytearray(rng.choice(lines))
        for _ in range(rng.randint(1, 3)):
            at = rng.randint(0, len(line))
            action = rng.randrange(5)
            if action == 0:
                del line[at:at + rng.randint(1, 12)]
            elif action == 1:
                line[at:at] = rng.choice(DAMAGE)
            elif action == 2:
                line[at:at + 1] = bytes([rng.randrange(256)])
            elif action == 3:
                del line[at:]
            else:
                line[at:at] = line[rng.randint(0, len(line)):][:rng.randint(1, 30)]
        out.append(bytes(line))
    return b"\n".join(out)


def with_line_ends(data: bytes, end: bytes) -> bytes:
    return end.join(data.split(b"\n"))


INPUTS = [
    pytest.param(VALID, id="valid-corpus"),
    pytest.param(BAD, id="bad-corpus"),
    pytest.param(with_line_ends(VALID + BAD, b"\r\n"), id="corpora-crlf"),
    pytest.param(with_line_ends(BAD + VALID, b"\r"), id="corpora-cr"),
    pytest.param(b"# server banner\r\n\r\n" + VALID[:3000] + b"\n\n#keepalive\n" + BAD[:2000],
                 id="comments-and-blanks"),
    *(pytest.param(seed.read_bytes(), id=f"seed-{seed.name}") for seed in SEEDS),
    *(pytest.param(damaged_lines(seed, 3000), id=f"damaged-{seed}") for seed in (1, 2, 3)),
]


def assert_decodes_like_per_line(data: bytes, first_line_number: int = 1) -> None:
    decoded = kav_aprs.decode(data, first_line_number=first_line_number)
    expected = Expected(data, first_line_number)
    counts = (decoded.lines, decoded.decoded, decoded.failed, decoded.comments, decoded.blank)
    assert counts == (expected.lines, len(expected.beacons), len(expected.errors),
                      expected.comments, expected.blank)
    assert decoded.failures == dict(expected.failures)
    assert len(decoded.beacons) == decoded.beacons.num_rows == decoded.decoded
    assert len(decoded.errors) == decoded.errors.num_rows == decoded.failed
    assert rows_of(decoded) == (expected.beacons, expected.errors)


@pytest.mark.parametrize("data", INPUTS)
def test_bulk_decode_equals_per_line_parse(data):
    assert_decodes_like_per_line(data)


@pytest.mark.parametrize("first_line_number", [0, 7, 1 << 40])
def test_line_numbers_start_where_asked(first_line_number):
    assert_decodes_like_per_line(b"\n#c\n" + BAD[:500] + VALID[:500], first_line_number)


@pytest.mark.parametrize(
    "data",
    [bytearray(VALID[:2000]), memoryview(BAD[:2000]), memoryview(b"xx" + VALID[:2000])[2:]],
    ids=["bytearray", "memoryview", "memoryview-slice"],
)
def test_any_buffer_decodes_like_its_bytes(data):
    assert rows_of(kav_aprs.decode(data)) == rows_of(kav_aprs.decode(bytes(data)))


def test_a_bytearray_refilled_after_decoding_leaves_the_tables_as_they_were():
    # Readers refill one buffer for every read: the tables must hold copies of its bytes, not point into it.
    buffer = bytearray(VALID[:2000] + BAD[:2000])
    expected = rows_of(kav_aprs.decode(bytes(buffer)))
    decoded = kav_aprs.decode(buffer)
    buffer[:] = bytes(len(buffer))
    assert rows_of(decoded) == expected


def test_a_bytearray_cannot_be_resized_while_it_is_decoded():
    # It is read in place without the interpreter lock: a resize meanwhile would move it under the decoder.
    buffer = bytearray(VALID * 40)
    expected = rows_of(kav_aprs.decode(bytes(buffer)))
    decoding = threading.Event()
    refused = []

    def resize_while_decoding():
        deadline = time.monotonic() + 30
        while decoding.is_set() and not refused and time.monotonic() < deadline:
            try:
                buffer.append(0x0A)
                del buffer[-1]
            except BufferError:
                refused.append(True)

    for _ in range(50):  # until the other thread has tried a resize during a decode
        decoding.set()
        resizer = threading.Thread(target=resize_while_decoding)
        resizer.start()
        decoded = kav_aprs.decode(buffer)
        decoding.clear()
        resizer.join(timeout=30)
        assert rows_of(decoded) == expected
        if refused:
            break
    assert refused, "no resize was tried while a decode ran"


@pytest.mark.parametrize("data", ["text", 12, None, [1, 2]], ids=type)
def test_a_non_buffer_is_refused(data):
    with pytest.raises(TypeError, match="decode"):
        kav_aprs.decode(data)


def test_threads_decoding_different_buffers_get_the_single_thread_results():
    buffers = [VALID * 20, BAD * 50, damaged_lines(4, 20_000), with_line_ends(VALID * 10, b"\r\n")]
    alone = [rows_of(kav_aprs.decode(data)) for data in buffers]
    start = threading.Barrier(len(buffers))

    def decode_after_barrier(data):
        start.wait(timeout=30)
        return [kav_aprs.decode(data) for _ in range(3)]

    with concurrent.futures.ThreadPoolExecutor(len(buffers)) as pool:
        results = list(pool.map(decode_after_barrier, buffers))
    for expected, rounds in zip(alone, results):
        assert all(rows_of(decoded) == expected for decoded in rounds)
