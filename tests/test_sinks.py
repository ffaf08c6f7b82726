"""kav_aprs.sinks and Reader.write: files that pyarrow, polars and DuckDB read back,
and the one failure rule: a file under its final name is complete and readable,
whatever happened to the writing of it."""

import datetime
import gzip
import json
import logging
import subprocess
import sys

import duckdb
import polars as pl
import pyarrow as pa
import pyarrow.csv as pa_csv
import pyarrow.json as pa_json
import pyarrow.parquet as pq
import pytest

import kav_aprs
from full_disk import PYARROW_FAILS_UNDER_ASAN, file_size_limit
from kav_aprs import _native, sinks

VALID = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"
LINES = b"".join(VALID.replace(b"X1", f"C{i}".encode()) + b"\n" + (b"bad line\n" if i % 5 == 0 else b"")
                 for i in range(3000))
EXPECTED = kav_aprs.decode(LINES)


def read_back(consumer, path, format):
    """(source, line_number, callsign) of every record, as `consumer` reads the file."""
    if consumer == "pyarrow":
        table = {"jsonl": pa_json.read_json, "csv": pa_csv.read_csv, "parquet": pq.read_table}[format](path)
        return list(zip(*(table.column(name).to_pylist() for name in ("source", "line_number", "callsign"))))
    if consumer == "polars":
        frame = {"jsonl": pl.read_ndjson, "csv": pl.read_csv, "parquet": pl.read_parquet}[format](path)
        return frame.select("source", "line_number", "callsign").rows()
    function = {"jsonl": "read_json", "csv": "read_csv", "parquet": "read_parquet"}[format]
    return duckdb.sql(f"SELECT source, line_number, callsign FROM {function}('{path}')").fetchall()


def expected_records(batch, source):
    table = pa.table(batch.beacons)
    return [(source, number, callsign) for number, callsign in
            zip(table.column("line_number").to_pylist(), table.column("callsign").to_pylist())]


@pytest.mark.parametrize("consumer", ["pyarrow", "polars", "duckdb"])
@pytest.mark.parametrize("format", ["jsonl", "csv", "parquet"])
def test_a_readers_records_in_one_call_read_back_everywhere(tmp_path, format, consumer):
    source = tmp_path / "beacons.txt"
    source.write_bytes(LINES)
    records, errors = tmp_path / f"out.{format}", tmp_path / "errors.jsonl"
    tally = kav_aprs.open(source, jobs=2, batch_bytes=8192).write(records, errors=errors)
    assert (tally.lines, tally.decoded, tally.failed) == (EXPECTED.lines, EXPECTED.decoded, EXPECTED.failed)
    assert read_back(consumer, records, format) == expected_records(EXPECTED, str(source))
    failed = [json.loads(line) for line in errors.read_text().splitlines()]
    assert [(f["line_number"], f["line"]) for f in failed] == [
        (number, "bad line") for number in pa.table(EXPECTED.errors).column("line_number").to_pylist()]
    assert sorted(path.name for path in tmp_path.iterdir()) == sorted(["beacons.txt", records.name, errors.name])


@pytest.mark.parametrize("name, format, wanted", [
    ("out.txt", "csv", "the header"),
    ("out.txt", None, ValueError("cannot tell a format from the name")),
    ("out.jsonl", "xml", ValueError("format must be one of jsonl, csv, parquet, not 'xml'")),
    ("-", "parquet", ValueError("Parquet needs a file, not standard output")),
])
def test_the_format_comes_from_the_suffix_unless_given(tmp_path, name, format, wanted):
    source = tmp_path / "beacons.txt"
    source.write_bytes(VALID + b"\n")
    target = name if name == "-" else tmp_path / name
    if isinstance(wanted, Exception):
        with pytest.raises(type(wanted), match=str(wanted)):
            kav_aprs.open(source).write(target, format=format)
        assert [path.name for path in tmp_path.iterdir()] == ["beacons.txt"]
    else:
        kav_aprs.open(source).write(target, format=format)
        assert target.read_text().startswith("source,line_number,callsign,")


def test_a_damaged_input_is_raised_and_leaves_no_file(tmp_path):
    source = tmp_path / "beacons.txt.gz"
    packed = gzip.compress(LINES)
    source.write_bytes(packed[: len(packed) // 2])
    with pytest.raises(kav_aprs.DamagedInputError, match="ends early"):
        kav_aprs.open(source, batch_bytes=4096).write(tmp_path / "out.parquet", errors=tmp_path / "errors.jsonl")
    assert [path.name for path in tmp_path.iterdir()] == ["beacons.txt.gz"]


# Batches written through a Sink in a child whose files stop at a size, as on a
# full disk, until a write fails; then the sink is committed, as follow does
# whatever ends its run. It prints the failure and how many batches went in.
FILL_THE_DISK = """
import sys, kav_aprs
from kav_aprs import sinks
options = eval(sys.argv[1])
batch = kav_aprs.decode(sys.stdin.buffer.read(), source="s")
sink = sinks.Sink(**options)
written = 0
try:
    try:
        while written < int(sys.argv[2]):
            sink.write(batch)
            written += 1
    finally:
        sink.commit()
except sinks.WriteFailed as failure:
    print(failure, written)
"""


@pytest.mark.parametrize("options, kept", [
    ({"records": "out.jsonl"}, None),
    ({"records": "out.csv"}, None),
    pytest.param({"records": "out.parquet"}, None, marks=PYARROW_FAILS_UNDER_ASAN),
    pytest.param({"parquet_dir": "pq", "rotate": 3600}, None, marks=PYARROW_FAILS_UNDER_ASAN),
    ({"records": "out.jsonl", "append": True}, "jsonl"),
    ({"records": "out.csv", "append": True}, "csv"),
    ({"errors": "errors.jsonl", "append": True}, "errors"),
], ids=["jsonl", "csv", "parquet", "parquet-dir", "append-jsonl", "append-csv", "append-errors"])
def test_a_full_disk_leaves_only_complete_files(tmp_path, options, kept):
    def fill(batches, limit=None):
        done = subprocess.run([sys.executable, "-c", FILL_THE_DISK, repr(options), str(batches)], input=LINES,
                              cwd=tmp_path, capture_output=True, timeout=60,
                              preexec_fn=file_size_limit(limit) if limit else None)
        assert done.returncode == 0, done.stderr
        return done.stdout.decode()

    seed = b""
    if kept:  # a file appended to holds the records of an earlier run
        assert fill(1) == ""
        seed = (tmp_path / options.get("records", "errors.jsonl")).read_bytes()
    failure = fill(1000, limit=len(seed) + 400_000)
    assert "File too large" in failure
    written = int(failure.split()[-1])
    left = sorted(path.relative_to(tmp_path).as_posix() for path in tmp_path.rglob("*") if path.is_file())
    if not kept:
        assert left == []  # the file of the failed write is gone; nothing else was
        return
    # A file appended to keeps every whole batch and nothing of the one that failed.
    (name,) = left
    content = (tmp_path / name).read_bytes()
    table = "errors" if kept == "errors" else "beacons"
    rows_a_batch = len(getattr(EXPECTED, table))
    assert content.startswith(seed) and content.endswith(b"\n")
    lines = content.decode().splitlines()
    assert len(lines) == len(seed.splitlines()) + written * rows_a_batch
    if kept != "errors":
        assert len(read_back("duckdb", tmp_path / name, kept)) == (1 + written) * len(EXPECTED.beacons)


@pytest.mark.parametrize("format, content, cut, refused", [
    ("jsonl", b'{"source": "s", "line_number": 1}\n{"source": "s", "li', 19, False),
    ("csv", b"source,line_number,cal", 22, False),  # a torn header: the next write starts the file afresh
    ("jsonl", b"\x00" * (1 << 20) + b"\n" + b"\x00" * (1 << 20), 0, True),  # no line end near the end
])
def test_appending_after_a_torn_record_cuts_it_off_and_says_so(tmp_path, caplog, format, content, cut, refused):
    path = tmp_path / f"out.{format}"
    path.write_bytes(content)
    batch = kav_aprs.decode(VALID + b"\n", source="s")
    with caplog.at_level(logging.WARNING, logger="kav_aprs.sinks"):
        if refused:
            with pytest.raises(sinks.WriteFailed, match="no line end in its last 1,048,576 bytes"):
                sinks.Sink(str(path), append=True)
            assert path.read_bytes() == content
            return
        with sinks.Sink(str(path), append=True) as sink:
            sink.write(batch)
    assert f"{path} ended in a torn record ({cut} bytes without a line end" in caplog.text
    kept = content[: len(content) - cut]
    assert path.read_bytes().startswith(kept)
    assert read_back("pyarrow", path, format)[-1] == ("s", 1, "X1")


def _batch(hour, minute):
    """A batch received at hour:minute UTC on a day of 2026."""
    received = datetime.datetime(2026, 6, 1, hour, minute, tzinfo=datetime.timezone.utc)
    return _native.LineFramer().frame(LINES[:5000], last=True).decode(1, source="s", received_to=received)


def test_parquet_files_a_period_in_a_directory_made_for_them(tmp_path):
    directory = tmp_path / "archive" / "2026"
    for batches in ([(10, 5), (10, 59), (11, 0)], [(10, 30)]):  # a second run within an hour it wrote
        with sinks.Sink(parquet_dir=str(directory), rotate=3600) as sink:
            for hour, minute in batches:
                sink.write(_batch(hour, minute))
    rows_a_batch = len(_batch(0, 0).beacons)
    files = {path.name: pq.read_table(path).num_rows for path in directory.iterdir()}
    # Each run opens the file of the hour it starts in at once, and completes it with no rows.
    now = datetime.datetime.now(datetime.timezone.utc).strftime("beacons-%Y%m%dT%H0000Z")
    assert [files.pop(name) for name in sorted(files) if name.startswith(now)] == [0, 0]
    assert files == {"beacons-20260601T100000Z.parquet": 2 * rows_a_batch,
                     "beacons-20260601T110000Z.parquet": rows_a_batch,
                     "beacons-20260601T100000Z-1.parquet": rows_a_batch}
    total = duckdb.sql(f"SELECT count(*) FROM read_parquet('{directory}/beacons-2026060*.parquet')").fetchall()
    assert total == [(4 * rows_a_batch,)]
