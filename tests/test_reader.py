"""kav_aprs.open: a source read once, as ordered batches or as one Arrow stream, on one thread or several.

Whatever the threads and batch sizes, the batches together must hold exactly
what one decode of the whole input holds, numbered alike. Damaged compressed
input gives every line before the damage, then an error naming the file and
the offset.
"""

import gzip
import io
import os
import subprocess
import sys
import textwrap
import zlib

import duckdb
import polars as pl
import pyarrow as pa
import pytest

import kav_aprs
from batch_reference import rows_of
from test_batch_sources import BAD, DATA, LINE, VALID, merged

LINES = (VALID + b"\r\n" + BAD) * 3


def rows_and_numbers(batches):
    batches = list(batches)
    return merged(batches), [b.first_line_number for b in batches], {b.source for b in batches}


@pytest.mark.parametrize("jobs", [2, 3])
@pytest.mark.parametrize("batch_bytes", [1, 700, 1 << 20])
@pytest.mark.parametrize("kind", ["path", "stream", "gzip"])
def test_threads_give_the_batches_of_one_thread(tmp_path, kind, batch_bytes, jobs):
    path = tmp_path / "beacons.txt"
    path.write_bytes(gzip.compress(LINES) if kind == "gzip" else LINES)

    def source():
        return io.BytesIO(LINES) if kind == "stream" else path

    alone = rows_and_numbers(kav_aprs.open(source(), batch_bytes=batch_bytes, first_line_number=5))
    threaded = rows_and_numbers(kav_aprs.open(source(), jobs=jobs, batch_bytes=batch_bytes, first_line_number=5))
    assert threaded == alone
    whole = kav_aprs.decode(LINES, first_line_number=5)
    assert alone[0] == merged([whole])


def consumers():
    return {
        "pyarrow": lambda reader: pa.table(reader),
        "pyarrow_stream": lambda reader: pa.RecordBatchReader.from_stream(reader).read_all(),
        "polars": lambda reader: pl.DataFrame(reader).to_arrow(),
        "duckdb": lambda reader: pa.table(duckdb.sql("SELECT * FROM reader").arrow()),
    }


@pytest.mark.parametrize("consumer", consumers())
def test_arrow_consumers_read_a_whole_file_batch_by_batch(tmp_path, consumer):
    path = tmp_path / "beacons.txt.gz"
    path.write_bytes(gzip.compress(LINES))
    table = consumers()[consumer](kav_aprs.open(path, batch_bytes=4096))
    expected = pa.table(kav_aprs.decode(LINES).beacons)
    assert table.num_rows == expected.num_rows
    assert table.column("line_number").to_pylist() == expected.column("line_number").to_pylist()
    assert table.column("callsign").to_pylist() == expected.column("callsign").to_pylist()


def test_the_stream_comes_in_batches_and_checks_a_requested_schema(tmp_path):
    path = tmp_path / "beacons.txt"
    path.write_bytes(LINES)
    stream = pa.RecordBatchReader.from_stream(kav_aprs.open(path, batch_bytes=4096))
    assert sum(1 for _ in stream) > 3
    schema = pa.table(kav_aprs.decode(b"").beacons).schema
    assert pa.table(kav_aprs.open(path), schema=schema).num_rows > 0
    with pytest.raises(NotImplementedError, match="requested schema"):
        kav_aprs.open(path).__arrow_c_stream__(pa.schema([("x", pa.int8())]).__arrow_c_schema__())


def test_a_read_error_in_the_middle_of_a_stream_reaches_the_consumer():
    class Failing(io.RawIOBase):
        def __init__(self):
            self.reads = 0

        def readable(self):
            return True

        def readinto(self, buffer):
            self.reads += 1
            if self.reads > 2:
                raise OSError("the disk went away")
            data = (LINE + b"\n") * 50
            buffer[: len(data)] = data
            return len(data)

    with pytest.raises(OSError, match="the disk went away"):
        pa.table(kav_aprs.open(Failing(), batch_bytes=1 << 20))


def zlib_recovered(compressed):
    """What zlib alone gets out of a gzip file up to its damage, fed a byte at a time."""
    inflater = zlib.decompressobj(16 + zlib.MAX_WBITS)
    out = []
    for at in range(len(compressed)):
        try:
            out.append(inflater.decompress(compressed[at:at + 1]))
        except zlib.error:
            break
    return b"".join(out)


def damaged(compressed, how):
    if how == "truncated":
        return compressed[: len(compressed) * 2 // 3]
    at = len(compressed) * 2 // 3  # a stretch of garbage in the middle of the deflate data
    return compressed[:at] + bytes(range(7, 250)) * 4 + compressed[at + 972:]


@pytest.mark.parametrize("jobs", [1, 2])
@pytest.mark.parametrize("how", ["truncated", "corrupt"])
def test_damaged_gzip_gives_every_whole_line_before_the_damage_then_names_the_offset(tmp_path, how, jobs):
    text = (VALID + BAD) * 40
    path = tmp_path / "archive.gz"
    path.write_bytes(damaged(gzip.compress(text, 6), how))
    recovered = zlib_recovered(path.read_bytes())
    whole_lines = recovered[: max(recovered.rfind(b"\n"), recovered.rfind(b"\r")) + 1]
    batches = []
    with pytest.raises(kav_aprs.DamagedInputError) as raised:
        for decoded in kav_aprs.open(path, jobs=jobs, batch_bytes=64 << 10):
            batches.append(decoded)
    assert merged(batches) == merged([kav_aprs.decode(whole_lines)])
    message = str(raised.value)
    assert message.startswith(str(path)) and "at byte" in message
    assert isinstance(raised.value, OSError)


@pytest.mark.parametrize("trailer, damaged_input", [(b"\0" * 100, False), (b"not gzip", True)],
                         ids=["zero_padding", "garbage"])
def test_after_the_last_gzip_member_only_zero_padding_is_quiet(trailer, damaged_input):
    stream = io.BytesIO(gzip.compress(DATA) + trailer)
    if damaged_input:
        with pytest.raises(kav_aprs.DamagedInputError, match="not gzip"):
            list(kav_aprs.open(stream))
    else:
        assert merged(kav_aprs.open(stream)) == merged([kav_aprs.decode(DATA)])


def test_a_reader_is_read_once_and_closing_it_closes_its_file(tmp_path):
    path = tmp_path / "beacons.txt"
    path.write_bytes(LINES)
    opened_before = set(os.listdir("/proc/self/fd"))
    with kav_aprs.open(path, batch_bytes=1000) as reader:
        next(reader)
        assert set(os.listdir("/proc/self/fd")) != opened_before
    assert set(os.listdir("/proc/self/fd")) == opened_before
    with pytest.raises(StopIteration):
        next(reader)
    again = kav_aprs.open(path)
    list(again)
    with pytest.raises(RuntimeError, match="already been read"):
        again.staged(None)


@pytest.mark.parametrize("argument, value", [("jobs", 0), ("jobs", 1.5), ("first_line_number", -1),
                                             ("first_line_number", 1 << 64), ("batch_bytes", "8M")])
def test_wrong_arguments_fail_at_the_call_naming_themselves(argument, value):
    with pytest.raises(ValueError, match=argument):
        kav_aprs.open(io.BytesIO(b""), **{argument: value})


def test_sources_name_their_records(tmp_path):
    path = tmp_path / "b\udcffeacons.txt"
    path.write_bytes(LINE)
    assert next(kav_aprs.open(path)).source == str(tmp_path / "b\\xffeacons.txt")
    assert next(kav_aprs.open(io.BytesIO(LINE))).source == "<stream>"


@pytest.mark.skipif(sys.version_info < (3, 12), reason="a Python class exports its own buffer from 3.12")
def test_a_bytearray_that_exports_other_memory_is_read_through_its_export_while_another_thread_clears_it():
    # Reading the bytearray's own storage without holding an export of it let a thread that cleared it
    # meanwhile make the decoder read freed memory.
    script = textwrap.dedent(f"""
        import threading, kav_aprs
        from kav_aprs import _native
        line = {LINE!r} + b"\\n"

        class Exporting(bytearray):
            def __buffer__(self, flags):
                return memoryview(bytes(line * 2))

        data = Exporting(line * 200_000)
        stop = threading.Event()

        def churn():
            while not stop.is_set():
                data.clear()
                data.extend(line * 200_000)

        thread = threading.Thread(target=churn)
        thread.start()
        try:
            counts = set()
            for _ in range(200):
                counts.add(kav_aprs.decode(data).decoded)
                frame = _native.LineFramer().frame(data, last=True)
                counts.add(frame.decode().decoded)
        finally:
            stop.set()
            thread.join()
        print(sorted(counts))
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "[2]"


@pytest.mark.parametrize("jobs", [1, 2])
def test_a_stage_hears_of_a_batch_that_failed_to_decode(jobs):
    # A batch whose lines could be numbered past 2**64 - 1 fails to decode. A text writer's stage holds the
    # writing turn that the batches after it wait for: unless it hears of the failure and gives the turn up,
    # the threads writing the later batches wait for it forever.
    heard = []

    def stage():
        return heard.append

    data = b"a\n" * 8 + b"x" * 200 + b"\n" + b"a\n" * 40
    reader = kav_aprs.open(io.BytesIO(data), jobs=jobs, batch_bytes=16, first_line_number=2**64 - 100)
    with pytest.raises(OverflowError, match="2\\*\\*64 - 1"):
        for _ in reader.staged(stage):
            pass
    reader.close()
    assert isinstance(heard[0], kav_aprs.Decoded)
    assert any(isinstance(outcome, OverflowError) for outcome in heard)
