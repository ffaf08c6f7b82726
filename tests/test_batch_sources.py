"""kav_aprs.iter_decoded: chunks of whole lines from paths, streams and standard input.

Whatever the chunk size, the chunks together must give exactly what one decode
of the whole input gives: no line split, lost or doubled (a ``\\r\\n`` cut
between two reads included), line numbers running on. Compressed input is
recognised by content, not name.
"""

import bz2
import contextlib
import gzip
import io
import lzma
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

import kav_aprs
from batch_reference import Expected, rows_of

ROOT = pathlib.Path(__file__).resolve().parent.parent
VALID = (ROOT / "bench" / "corpus" / "valid.txt").read_bytes()
BAD = (ROOT / "bench" / "corpus" / "bad.txt").read_bytes()
LINE = VALID.split(b"\n")[0]
INSTRUMENTED = os.environ.get("KAV_TESTS_INSTRUMENTED", "")

SPLITS = {
    "lf": LINE + b"\n" + LINE + b"\n",
    "crlf": LINE + b"\r\n" + LINE + b"\r\n",
    "lone-cr": LINE + b"\r" + LINE + b"\r",
    "mixed": b"#c\r\n" + LINE + b"\r" + LINE + b"\n\r\n\r\r" + LINE + b"\r\n\n" + BAD[:400],
    "no-trailing-end": LINE + b"\n" + LINE,
    "only-ends": b"\r\n\n\r\r\r\n",
    "empty": b"",
    "corpora": VALID[:5000] + BAD[:3000],
}


class ReadAlone:
    """A regular file that offers read and fileno, and no readinto."""

    def __init__(self, file):
        self.read, self.fileno = file.read, file.fileno


def merged(decodeds):
    """The rows and counts of several Decoded put together, as of one decode."""
    beacons, errors = [], []
    counts = [0, 0, 0, 0, 0]
    for decoded in decodeds:
        more_beacons, more_errors = rows_of(decoded)
        beacons += more_beacons
        errors += more_errors
        for i, name in enumerate(("lines", "decoded", "failed", "comments", "blank")):
            counts[i] += getattr(decoded, name)
    return beacons, errors, counts


def expected_of(data):
    expected = Expected(data)
    return (expected.beacons, expected.errors,
            [expected.lines, len(expected.beacons), len(expected.errors), expected.comments,
             expected.blank])


@pytest.mark.parametrize("batch_bytes", [1, 2, 3, 5, 64, 1000, 8 << 20])
@pytest.mark.parametrize("name", SPLITS)
@pytest.mark.parametrize("kind", ["stream", "file", "file-read-alone"])
def test_chunks_together_equal_one_decode(tmp_path, kind, name, batch_bytes):
    # A stream is read a fresh object at a time; a file into one buffer that every read reuses, also when
    # the file object offers nothing but read.
    data = SPLITS[name]
    path = tmp_path / "beacons.txt"
    path.write_bytes(data)
    with open(path, "rb") as file:
        source = {"stream": io.BytesIO(data), "file": path, "file-read-alone": ReadAlone(file)}[kind]
        chunks = list(kav_aprs.iter_decoded(source, batch_bytes=batch_bytes))
    assert all(chunk.lines > 0 for chunk in chunks)
    assert merged(chunks) == expected_of(data)


@pytest.mark.parametrize("end, numbers", [(b"\r\n", [1, 2, 4]), (b"\r", [1, 2, 3]), (b"\n", [1, 2, 4])],
                         ids=["CRLF", "CR", "LF"])
def test_a_read_ending_in_a_carriage_return_keeps_the_line_count(end, numbers):
    # The first read stops right after a \r; for \r\n the \n opens the next read.
    data = LINE + end + LINE + end + b"\n" + LINE
    chunks = list(kav_aprs.iter_decoded(io.BytesIO(data), batch_bytes=len(LINE) + 1))
    assert merged(chunks) == expected_of(data)
    assert [row["line_number"] for row in merged(chunks)[0]] == numbers


def test_a_line_longer_than_many_chunks_is_decoded_whole():
    tokens = b" +0.0rot" * (10 << 20 >> 3)  # 10 MB of extension tokens
    long_valid = LINE + tokens
    long_bad = b"\xff" * (10 << 20)
    data = LINE + b"\n" + long_valid + b"\r\n" + long_bad + b"\n" + LINE
    chunks = list(kav_aprs.iter_decoded(io.BytesIO(data), batch_bytes=64 << 10))
    beacons, errors, counts = merged(chunks)
    assert counts == [4, 3, 1, 0, 0]
    assert [row["line_number"] for row in beacons] == [1, 2, 4]
    assert errors[0]["line_number"] == 3 and errors[0]["line"] == long_bad
    assert errors[0]["error_kind"] == "InvalidCallsign"


COMPRESSORS = {"gzip": gzip.compress, "bzip2": bz2.compress, "xz": lzma.compress}
DATA = VALID + b"\r\n" + BAD


@pytest.mark.parametrize("compress", COMPRESSORS.values(), ids=COMPRESSORS)
@pytest.mark.parametrize("name", ["beacons.txt", "beacons.gz", "beacons"])
def test_compressed_input_is_recognised_by_content_not_name(tmp_path, compress, name):
    path = tmp_path / name
    path.write_bytes(compress(DATA))
    assert merged(kav_aprs.iter_decoded(path, batch_bytes=3000)) == expected_of(DATA)
    assert merged(kav_aprs.iter_decoded(str(path), batch_bytes=1 << 20)) == expected_of(DATA)


@pytest.mark.parametrize("name", ["beacons.gz", "beacons.bz2", "beacons.xz"])
def test_plain_input_under_a_compressed_name_is_read_plain(tmp_path, name):
    path = tmp_path / name
    path.write_bytes(DATA)
    assert merged(kav_aprs.iter_decoded(path)) == expected_of(DATA)


@pytest.mark.parametrize("compress", COMPRESSORS.values(), ids=COMPRESSORS)
def test_concatenated_compressed_streams_are_read_to_the_end(compress):
    stream = io.BytesIO(compress(VALID) + compress(BAD))
    assert merged(kav_aprs.iter_decoded(stream)) == expected_of(VALID + BAD)


@pytest.mark.parametrize("compress", COMPRESSORS.values(), ids=COMPRESSORS)
def test_truncated_compressed_input_raises_instead_of_ending_quietly(compress):
    cut = compress(VALID * 20)
    with pytest.raises((EOFError, OSError, lzma.LZMAError)):
        list(kav_aprs.iter_decoded(io.BytesIO(cut[: len(cut) // 2]), batch_bytes=4096))


@pytest.mark.parametrize("compress", [None, gzip.compress], ids=["plain", "gzip"])
@pytest.mark.parametrize("source", ['"-"', "sys.stdin"])
def test_standard_input_is_read_through(source, compress):
    script = textwrap.dedent(f"""
        import sys, kav_aprs
        chunks = list(kav_aprs.iter_decoded({source}, batch_bytes=999))
        print(sum(c.lines for c in chunks), sum(c.decoded for c in chunks),
              sum(c.failed for c in chunks), len(chunks))
    """)
    data = DATA if compress is None else compress(DATA)
    out = subprocess.run([sys.executable, "-c", script], input=data, capture_output=True,
                         check=True, timeout=120).stdout.split()
    expected = Expected(DATA)
    assert [int(n) for n in out[:3]] == [expected.lines, len(expected.beacons), len(expected.errors)]
    assert int(out[3]) > 1


def test_a_given_file_object_is_left_open_and_a_path_is_closed(tmp_path):
    path = tmp_path / "beacons.txt"
    path.write_bytes(DATA)
    with open(path, "rb") as file:
        list(kav_aprs.iter_decoded(file))
        assert not file.closed
    opened_before = set(os.listdir("/proc/self/fd"))
    list(kav_aprs.iter_decoded(path))
    assert set(os.listdir("/proc/self/fd")) == opened_before


@pytest.mark.parametrize("opened", [False, True], ids=["path", "file object"])
def test_a_file_is_read_in_whole_chunks_from_the_first(tmp_path, opened):
    # Recognising the format reads ahead; the first chunk must still be a whole
    # one, not only what the read-ahead left buffered (in Parquet, a first row
    # group of a few dozen rows).
    path = tmp_path / "beacons.txt"
    path.write_bytes((LINE + b"\n") * 2000)
    batch_bytes = 64 << 10
    with contextlib.ExitStack() as stack:
        source = stack.enter_context(open(path, "rb")) if opened else path
        lines = [decoded.lines for decoded in kav_aprs.iter_decoded(source, batch_bytes=batch_bytes)]
    assert lines[:-1] == [batch_bytes // (len(LINE) + 1)] * (len(lines) - 1)
    assert sum(lines) == 2000


@pytest.mark.parametrize("source, error, text", [
    (b"X1>KAFLR", TypeError, "decode\\(\\) takes bytes"),
    (12, TypeError, "not int"),
    (io.StringIO("text"), TypeError, "mode 'rb'"),
])
def test_a_wrong_source_fails_at_the_call(source, error, text):
    with pytest.raises(error, match=text):
        kav_aprs.iter_decoded(source)


@pytest.mark.parametrize("batch_bytes", [0, -1, True, 1.5, "8M"])
def test_a_wrong_batch_size_fails_at_the_call(batch_bytes):
    with pytest.raises(ValueError, match="batch_bytes"):
        kav_aprs.iter_decoded(io.BytesIO(DATA), batch_bytes=batch_bytes)


def test_a_missing_file_raises_file_not_found(tmp_path):
    with pytest.raises(FileNotFoundError):
        next(kav_aprs.iter_decoded(tmp_path / "missing.txt"))


@pytest.mark.skipif(INSTRUMENTED != "", reason="sanitizer allocators keep freed memory")
def test_a_file_is_read_into_one_buffer_where_freed_memory_goes_back_at_once(tmp_path):
    # Dask's workers hand freed memory back to the system at once: a fresh object for every read of a file
    # was mapped and faulted in page by page.
    path = tmp_path / "beacons.txt"
    path.write_bytes((VALID + BAD) * ((64 << 20) // len(VALID + BAD)))
    script = textwrap.dedent(f"""
        import resource, kav_aprs
        def faults():
            return resource.getrusage(resource.RUSAGE_SELF).ru_minflt
        for _ in range(2):  # the second time, once the decoder's own blocks are in place
            before = faults()
            lines = sum(decoded.lines for decoded in kav_aprs.iter_decoded({str(path)!r}))
        print(faults() - before, lines)
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True,
                         env={**os.environ, "MALLOC_TRIM_THRESHOLD_": "65536"})
    faults, lines = map(int, run.stdout.split())
    assert lines > 500_000
    # Every page of the file once more: 21,000 faults. One buffer leaves the decoder's own, about 9,000.
    assert faults < path.stat().st_size // 4096


class EndlessLines:
    """A binary stream of `total` bytes of corpus lines, made as they are read."""

    def __init__(self, total):
        self.left = total
        self.block = (VALID + BAD) * 64

    def read(self, size):
        size = min(size, self.left, len(self.block))
        self.left -= size
        return self.block[:size]


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(INSTRUMENTED != "", reason="sanitizer allocators keep freed memory")
def test_memory_stays_within_a_few_chunks_whatever_the_input_size():
    batch_bytes = 1 << 20
    stream = EndlessLines(256 << 20)
    before = resident_bytes()
    peaks = []
    lines = 0
    for decoded in kav_aprs.iter_decoded(stream, batch_bytes=batch_bytes):
        lines += decoded.lines
        peaks.append(resident_bytes() - before)
    assert lines > 2_000_000
    # Three chunks live at the most (the read, the previous result, the new one);
    # the allocator keeps some freed memory besides.
    assert max(peaks) < 8 * batch_bytes
    # Flat: the last chunks need no more than the first ones did.
    assert max(peaks[-20:]) <= max(peaks[:20]) + batch_bytes
