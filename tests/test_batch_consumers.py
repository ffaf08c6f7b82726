"""The Arrow export read by real consumers, and its capsules' ownership.

pyarrow, polars and DuckDB each read ``beacons`` and ``errors`` through the
PyCapsule interface and must see the same values in the types the columns
promise. Capsules dropped unconsumed, partly consumed, or consumed with the
columns released one by one must free everything and touch nothing freed.
"""

import gc
import os
import pathlib
import sys

import duckdb
import polars as pl
import pyarrow as pa
import pytest

import kav_aprs
from batch_reference import comparable, rows_of

ROOT = pathlib.Path(__file__).resolve().parent.parent
SEEDS = ROOT / "fuzz" / "corpus"
# Valid and bad corpus lines, the seeds with NaN, infinities and -0.0, a comment and a blank.
DATA = b"\n".join([
    (ROOT / "bench" / "corpus" / "valid.txt").read_bytes(),
    (ROOT / "bench" / "corpus" / "bad.txt").read_bytes(),
    (SEEDS / "valid-nan-inf-underflow").read_bytes().rstrip(b"\n"),
    b"X1>KAFLR,qAS,RX1:/000000h0000.00S/00000.00W'-0/-0.0/A=-0 id38ABCDEF",
    b"#comment",
    b"",
    b"bad \x00 \xff line",
])
INSTRUMENTED = os.environ.get("KAV_TESTS_INSTRUMENTED", "")

DICTIONARY = pa.dictionary(pa.int8(), pa.utf8())
FLOATS = ("latitude", "longitude", "ground_track", "ground_speed", "gps_altitude")


def _schema(*fields):
    # No column holds nulls, and the schema says so.
    return pa.schema([pa.field(name, kind, nullable=False) for name, kind in fields])


SCHEMAS = {
    "beacons": _schema(
        ("line_number", pa.uint64()), ("callsign", pa.utf8()), ("q_construct", pa.utf8()),
        ("receiver", pa.utf8()), ("kav_aprs_protocol", DICTIONARY), ("time", pa.time32("s")),
        *((name, pa.float64()) for name in FLOATS),
        ("aircraft_type", DICTIONARY), ("address_type", DICTIONARY), ("no_track", pa.bool_()),
        ("stealth_mode", pa.bool_()), ("address", pa.uint32()),
    ),
    "errors": _schema(("line_number", pa.uint64()), ("error_kind", DICTIONARY),
                      ("error", pa.utf8()), ("line", pa.binary())),
}
# The same columns' types as polars and DuckDB name them.
POLARS_TYPES = {
    "beacons": [pl.UInt64, pl.String, pl.String, pl.String, pl.Categorical, pl.Time,
                *[pl.Float64] * 5, pl.Categorical, pl.Categorical, pl.Boolean, pl.Boolean, pl.UInt32],
    "errors": [pl.UInt64, pl.Categorical, pl.String, pl.Binary],
}
DUCKDB_TYPES = {
    "beacons": ["UBIGINT", "VARCHAR", "VARCHAR", "VARCHAR", "VARCHAR", "TIME", *["DOUBLE"] * 5,
                "VARCHAR", "VARCHAR", "BOOLEAN", "BOOLEAN", "UINTEGER"],
    "errors": ["UBIGINT", "VARCHAR", "VARCHAR", "BLOB"],
}


@pytest.fixture(scope="module")
def decoded():
    return kav_aprs.decode(DATA)


def expected_rows(decoded, which):
    return rows_of(decoded)[0 if which == "beacons" else 1]


def read_with_pyarrow_table(export):
    table = pa.table(export)
    table.validate(full=True)
    return table.schema, table.to_pylist()


def read_with_pyarrow_stream(export):
    table = pa.RecordBatchReader.from_stream(export).read_all()
    table.validate(full=True)
    return table.schema, table.to_pylist()


def read_with_pyarrow_array(export):
    batch = pa.record_batch(export)  # through __arrow_c_array__
    batch.validate(full=True)
    return batch.schema, batch.to_pylist()


@pytest.mark.parametrize("which", ["beacons", "errors"])
@pytest.mark.parametrize("read", [read_with_pyarrow_table, read_with_pyarrow_stream,
                                  read_with_pyarrow_array])
def test_pyarrow_reads_valid_columns_of_the_promised_schema(decoded, which, read):
    schema, rows = read(getattr(decoded, which))
    assert schema == SCHEMAS[which]
    assert comparable(rows) == expected_rows(decoded, which)
    assert len(rows) == len(getattr(decoded, which))


@pytest.mark.parametrize("which", ["beacons", "errors"])
def test_polars_reads_the_same_values_and_types(decoded, which):
    frame = pl.DataFrame(getattr(decoded, which))
    assert frame.columns == SCHEMAS[which].names
    assert frame.dtypes == POLARS_TYPES[which]
    assert comparable(frame.to_dicts()) == expected_rows(decoded, which)


@pytest.mark.parametrize("which", ["beacons", "errors"])
def test_duckdb_reads_the_same_values_and_types(decoded, which):
    export = getattr(decoded, which)
    result = duckdb.sql("SELECT * FROM export ORDER BY line_number")
    assert result.columns == SCHEMAS[which].names
    assert [str(t) for t in result.types] == DUCKDB_TYPES[which]
    rows = [dict(zip(result.columns, values)) for values in result.fetchall()]
    assert comparable(rows) == expected_rows(decoded, which)


def test_duckdb_queries_dictionary_columns_as_their_texts(decoded):
    beacons = decoded.beacons
    counts = duckdb.sql(
        "SELECT aircraft_type, count(*) FROM beacons GROUP BY aircraft_type ORDER BY aircraft_type"
    ).fetchall()
    by_type = {}
    for row in expected_rows(decoded, "beacons"):
        by_type[row["aircraft_type"]] = by_type.get(row["aircraft_type"], 0) + 1
    assert counts == sorted(by_type.items())


def test_a_column_outlives_the_batch_and_the_result_it_came_from():
    # pyarrow releases each imported child on its own; columns kept must stay valid.
    decoded = kav_aprs.decode(DATA)
    expected = [row["callsign"] for row in expected_rows(decoded, "beacons")]
    table = pa.table(decoded.beacons)
    callsigns, lines = table.column("callsign"), pa.table(decoded.errors).column("line")
    del decoded, table
    gc.collect()
    assert callsigns.to_pylist() == expected
    assert lines.to_pylist()[-1] == b"bad \x00 \xff line"


@pytest.mark.parametrize("which", ["beacons", "errors"])
def test_an_equal_requested_schema_is_accepted(decoded, which):
    export, schema = getattr(decoded, which), SCHEMAS[which]
    assert pa.RecordBatchReader.from_stream(export, schema=schema).read_all().num_rows == len(export)
    assert pa.record_batch(export, schema=schema).num_rows == len(export)
    export.__arrow_c_stream__(schema.__arrow_c_schema__())
    export.__arrow_c_array__(schema.__arrow_c_schema__())


@pytest.mark.parametrize("method", ["__arrow_c_stream__", "__arrow_c_array__"])
def test_another_requested_schema_is_refused_by_name(decoded, method):
    other = pa.schema([("line_number", pa.int64())]).__arrow_c_schema__()
    with pytest.raises(NotImplementedError, match="schema"):
        getattr(decoded.beacons, method)(other)


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def export_and_drop(export, how):
    if how == "schema":
        export.__arrow_c_schema__()
    elif how == "array":
        export.__arrow_c_array__()
    elif how == "stream":
        export.__arrow_c_stream__()
    elif how == "schema-of-array-only":
        schema, _array = export.__arrow_c_array__()
        pa.Schema._import_from_c_capsule(schema)
    else:  # a stream opened but never read
        pa.RecordBatchReader.from_stream(export)


HOWS = ["schema", "array", "stream", "schema-of-array-only", "unread-stream"]


@pytest.mark.parametrize("how", HOWS)
def test_unconsumed_capsules_leave_no_reference_behind(decoded, how):
    export = decoded.beacons
    gc.collect()  # what earlier tests left to the collector
    before = sys.getrefcount(export), sys.getrefcount(decoded)
    for _ in range(1000):
        export_and_drop(export, how)
    gc.collect()
    assert (sys.getrefcount(export), sys.getrefcount(decoded)) == before


@pytest.mark.skipif(INSTRUMENTED != "", reason="sanitizer allocators keep freed memory")
@pytest.mark.parametrize("how", HOWS)
def test_unconsumed_capsules_leave_no_memory_behind(how):
    # Each round's columns are about 150 kB: a leaked batch per round is gigabytes.
    data = DATA * 1
    for _ in range(200):
        export_and_drop(kav_aprs.decode(data).beacons, how)
    before = resident_bytes()
    for _ in range(2000):
        export_and_drop(kav_aprs.decode(data).beacons, how)
    assert resident_bytes() - before < 16 << 20
