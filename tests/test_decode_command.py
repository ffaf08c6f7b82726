"""The installed ``kav-aprs decode`` command, run as a user runs it: a separate process.

Records are read back (JSON, CSV, Parquet through pyarrow and DuckDB) and
compared with what the per-line module gives for the same lines.
"""

import bz2
import contextlib
import csv
import gzip
import io
import json
import lzma
import math
import os
import pathlib
import pty
import re
import signal
import stat
import subprocess
import sys
import time

import pytest

import kav_aprs_parser_pyo3 as kav
from full_disk import PYARROW_FAILS_UNDER_ASAN, file_size_limit

COMMAND = pathlib.Path(sys.executable).with_name("kav-aprs")
ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = (ROOT / "bench" / "corpus" / "valid.txt").read_bytes() + (ROOT / "bench" / "corpus" / "bad.txt").read_bytes()
SAMPLE = ROOT / "samples" / "beacons.txt"

VALID = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"
ENDS_AFTER_HEADER = b"X1>KAFLR,qAS,RX1:"
FAILING = [
    (b"keepalive without a header", "InvalidCallsign"),
    (b"X1\xff>KAFLR,qAS,RX1:", "InvalidCallsign"),
    (b"X1>KAFLR", "UnknownError"),
    (VALID.replace(b"KAFLR", b"APRS"), "InvalidKAVAprsProtocol"),
    (ENDS_AFTER_HEADER, "UnexpectedEndOfMessage"),
    (VALID.replace(b"123456h", b"246000h"), "InvalidTimestamp"),
    (VALID.replace(b"4630.00N", b"46x0.00N"), "InvalidLatitude"),
    (VALID.replace(b"/050/", b"/5 0/"), "InvalidGroundSpeed"),
    (VALID.replace(b"id06ABCDEF", b"id06ABCDEG"), "InvalidKAVBeaconId"),
    (VALID.replace(b" id06ABCDEF", b" +198fpm"), "MissingKAVBeaconID"),
]
# Every kind of line: beacons of every protocol and odd value, failures, a
# comment and blank lines, a text with a comma and quotes for CSV.
MIXED = b"\n".join([
    b"# server comment",
    VALID,
    b"",
    VALID.replace(b"00830.00E'090/050", b"inf00.00W'inf/nan"),
    VALID.replace(b"RX1:", b'R,"X":').replace(b"X1>", b"Z\xc3\xbc>"),
    *(line for line, _ in FAILING),
    CORPUS,
])


def run(*args, stdin=b"", command=(str(COMMAND),), **kwargs):
    return subprocess.run([*command, *args], input=stdin, capture_output=True, timeout=120, **kwargs)


def float_text(value):
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "Infinity" if value > 0 else "-Infinity"
    return repr(value)


def expected_rows(data, source):
    """One row of texts a beacon, worked out line by line with the per-line module."""
    rows = []
    for number, line in enumerate(re.split(rb"\r\n|\r|\n", data), start=1):
        if not line or line.startswith(b"#"):
            continue
        try:
            beacon = kav.parse_kav_aprs_aircraft_beacon(line)
        except ValueError:
            continue
        prefix = beacon.kav_beacon_id.prefix
        address = int(re.fullmatch(r"PyICAOAddress\((\d+)\)", repr(beacon.kav_beacon_id.icao_address)).group(1))
        rows.append({
            "source": source, "line_number": str(number), "callsign": beacon.callsign,
            "q_construct": beacon.q_construct, "receiver": beacon.receiver,
            "kav_aprs_protocol": repr(beacon.kav_aprs_protocol), "time": beacon.time.strftime("%H:%M:%S"),
            **{name: float_text(getattr(beacon, name))
               for name in ("latitude", "longitude", "ground_track", "ground_speed", "gps_altitude")},
            "aircraft_type": repr(prefix.aircraft_type), "address_type": repr(prefix.address_type),
            "no_track": str(prefix.no_track).lower(), "stealth_mode": str(prefix.stealth_mode).lower(),
            "address": f"{address:06X}",
        })
    return rows


def as_texts(record):
    """A parsed JSON or Parquet record in the text forms of expected_rows."""
    def text(value):
        if isinstance(value, bool):
            return str(value).lower()
        if isinstance(value, float):
            return float_text(value)
        return str(value)
    return {name: text(value) for name, value in record.items()}


def strict_json_lines(data):
    def refuse(constant):
        raise AssertionError(f"non-standard JSON constant {constant}")
    return [json.loads(line, parse_constant=refuse) for line in data.decode("utf-8").splitlines()]


def read_jsonl(path_or_bytes):
    return [as_texts(r) for r in strict_json_lines(path_or_bytes)]


def read_csv(data):
    return list(csv.DictReader(io.StringIO(data.decode("utf-8"), newline="")))


def compressed(kind, data):
    return {"plain": lambda d: d, "gzip": gzip.compress, "bzip2": bz2.compress, "xz": lzma.compress}[kind](data)


# ---------------------------------------------------------------------------
# Input forms and formats: every record equals the per-line module's.

@pytest.mark.parametrize("compression", ["plain", "gzip", "bzip2", "xz"])
@pytest.mark.parametrize("form", ["file", "dash", "no-argument"])
def test_every_input_form_gives_the_per_line_values(tmp_path, form, compression):
    data = compressed(compression, MIXED)
    path = tmp_path / "beacons.txt"  # a plain name whatever the content
    path.write_bytes(data)
    args, stdin, source = {"file": ([str(path)], b"", str(path)),
                           "dash": (["-"], data, "<stdin>"),
                           "no-argument": ([], data, "<stdin>")}[form]
    result = run("decode", *args, stdin=stdin)
    assert result.returncode == 0, result.stderr
    assert read_jsonl(result.stdout) == expected_rows(MIXED, source)


def test_json_lines_are_todays_records_byte_for_byte():
    result = run("decode", "-", stdin=VALID + b"\n")
    record = {"source": "<stdin>", "line_number": 1, "callsign": "X1", "q_construct": "qAS", "receiver": "RX1",
              "kav_aprs_protocol": "KAFLR", "time": "12:34:56", "latitude": 46.5, "longitude": 8.5,
              "ground_track": 90.0, "ground_speed": 50.0, "gps_altitude": 1000.0, "aircraft_type": "Glider",
              "address_type": "FLARM", "no_track": False, "stealth_mode": False, "address": "ABCDEF"}
    assert result.stdout == (json.dumps(record, ensure_ascii=False) + "\n").encode()


def test_csv_rows_equal_the_per_line_values(tmp_path):
    out = tmp_path / "beacons.csv"
    result = run("decode", "--format", "csv", "-o", str(out), "-", stdin=MIXED)
    assert result.returncode == 0, result.stderr
    rows = read_csv(out.read_bytes())
    assert rows == expected_rows(MIXED, "<stdin>")
    assert rows[2]["receiver"] == 'R,"X"'


def test_parquet_reads_back_in_pyarrow_and_duckdb(tmp_path):
    pq = pytest.importorskip("pyarrow.parquet")
    duckdb = pytest.importorskip("duckdb")
    first, second = tmp_path / "a.txt", tmp_path / "b.txt"
    first.write_bytes(MIXED)
    second.write_bytes(VALID + b"\n")
    out = tmp_path / "beacons.parquet"
    result = run("decode", "--format", "parquet", "-o", str(out), "--batch-bytes", "4096",
                 str(first), str(second))
    assert result.returncode == 0, result.stderr
    expected = expected_rows(MIXED, str(first)) + expected_rows(VALID, str(second))

    parquet = pq.ParquetFile(out)
    assert parquet.metadata.num_row_groups > 2  # one a batch
    assert parquet.metadata.row_group(0).column(1).compression == "ZSTD"
    columns = {parquet.metadata.row_group(0).column(i).path_in_schema: parquet.metadata.row_group(0).column(i)
               for i in range(parquet.metadata.num_columns)}
    # The writer's per-column choices survive: delta-coded line numbers, statistics where a reader prunes by them.
    assert "DELTA_BINARY_PACKED" in columns["line_number"].encodings
    assert columns["time"].statistics.has_min_max and not columns["callsign"].is_stats_set
    assert "RLE_DICTIONARY" in columns["receiver"].encodings
    table = parquet.read()
    for name in ("source", "kav_aprs_protocol", "aircraft_type", "address_type"):
        assert str(table.schema.field(name).type).startswith("dictionary"), name

    def texts(row):
        row = dict(row)
        row["time"] = row["time"].strftime("%H:%M:%S")
        row["address"] = f"{row['address']:06X}"
        return as_texts(row)

    assert [texts(r) for r in table.to_pylist()] == expected
    rows = duckdb.sql(f"SELECT * FROM read_parquet('{out}') ORDER BY source, line_number").fetchall()
    names = table.column_names
    assert [texts(zip(names, r)) for r in rows] == sorted(expected, key=lambda r: (r["source"], int(r["line_number"])))


@pytest.mark.parametrize("ending", [b"\n", b"\r\n", b"\r"], ids=["lf", "crlf", "lone-cr"])
def test_every_line_end_separates_lines(tmp_path, ending):
    # A lone \r once joined two beacons into one record.
    data = ending.join([b"# c", VALID, b"", VALID.replace(b"ABCDEF", b"123456"), ENDS_AFTER_HEADER]) + ending
    errors = tmp_path / "errors.jsonl"
    result = run("decode", "--errors", str(errors), "-", stdin=data)
    assert [(r["line_number"], r["address"]) for r in strict_json_lines(result.stdout)] == [(2, "ABCDEF"), (4, "123456")]
    [failure] = strict_json_lines(errors.read_bytes())
    assert (failure["line_number"], failure["error_kind"], failure["line"]) == (5, "UnexpectedEndOfMessage", "X1>KAFLR,qAS,RX1:")


def test_failing_lines_go_to_the_errors_file_with_their_kind(tmp_path):
    errors = tmp_path / "errors.jsonl"
    lines = [line for line, _ in FAILING]
    result = run("decode", "--errors", str(errors), "-", stdin=b"\n".join([VALID, b"", *lines]) + b"\n")
    assert result.returncode == 0
    failures = strict_json_lines(errors.read_bytes())
    assert [(f["line_number"], f["error_kind"]) for f in failures] == [
        (number, kind) for number, (_, kind) in enumerate(FAILING, start=3)
    ]
    for failure, (line, _) in zip(failures, FAILING):
        assert list(failure) == ["source", "line_number", "error_kind", "error", "line"]
        assert failure["source"] == "<stdin>"
        assert failure["line"] == line.decode("utf-8", "backslashreplace")
        with pytest.raises(ValueError) as raised:
            kav.parse_kav_aprs_aircraft_beacon(line)
        assert failure["error"] == str(raised.value)


def test_errors_dash_writes_failures_to_stderr():
    result = run("decode", "--errors", "-", "--quiet", "-", stdin=b"X1>KAFLR\n")
    [record] = strict_json_lines(result.stderr)
    assert record["error"] == 'Parse error: ParseError(UnknownError("KAFLR"))'


def test_summary_counts_outcomes_by_kind():
    lines = [b"# comment", VALID, VALID, b""] + [line for line, _ in FAILING]
    summary = run("decode", "-", stdin=b"\n".join(lines) + b"\n").stderr.decode()
    counts = dict(line.rsplit(None, 1) for line in summary.splitlines()[1:])
    assert {label.strip(): int(count.replace(",", "")) for label, count in counts.items()} == {
        "lines read": len(lines), "decoded": 2, "failed": len(FAILING), "comments": 1, "blank": 1,
        "InvalidCallsign": 2, **{kind: 1 for _, kind in FAILING[2:]},
    }
    assert "lines/s" in summary.splitlines()[0]
    assert run("decode", "--quiet", "-", stdin=b"\n".join(lines)).stderr == b""
    many = run("decode", "-", stdin=(VALID + b"\n") * 1234).stderr.decode()  # thousands separated, as in progress
    assert many.startswith("summary: 1,234 lines in ") and re.search(r"^  decoded +1,234$", many, re.M)


def test_the_bundled_sample_decodes():
    result = run("decode", str(SAMPLE))
    assert result.returncode == 0
    records = strict_json_lines(result.stdout)
    assert {r["kav_aprs_protocol"] for r in records} == {"KAADSB", "KAFLR", "KAVSKY"}
    assert len(records) >= 25


# ---------------------------------------------------------------------------
# Failures: exit status 1 with a message naming what failed, never a traceback.

def test_a_missing_input_fails_the_run_and_the_others_are_decoded(tmp_path):
    first = tmp_path / "first.txt"
    first.write_bytes(VALID.replace(b"X1>", b"A1>") + b"\n")
    broken = tmp_path / "broken.txt"
    broken.write_bytes(gzip.compress(VALID + b"\n")[:-12])  # truncated archive
    missing = tmp_path / "missing.txt"
    result = run("decode", str(first), str(missing), str(broken), str(tmp_path), "-",
                 stdin=VALID.replace(b"X1>", b"B1>"))
    assert result.returncode == 1
    assert [r["callsign"] for r in strict_json_lines(result.stdout)] == ["A1", "B1"]
    stderr = result.stderr.decode()
    assert f"cannot read {missing}: No such file or directory" in stderr
    assert f"cannot read {broken}:" in stderr and f"cannot read {tmp_path}:" in stderr
    assert re.search(r"unreadable inputs\s+3", stderr) and "Traceback" not in stderr


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_a_truncated_gzip_gives_every_record_before_the_damage(tmp_path, jobs):
    data = b"".join(VALID.replace(b"X1", f"C{i}".encode()) + b"\n" + (b"bad\n" if i % 7 == 0 else b"")
                    for i in range(30000))
    packed = gzip.compress(data)
    path = tmp_path / "beacons.txt.gz"
    path.write_bytes(packed[: len(packed) * 2 // 3])
    recovered = subprocess.run(["gzip", "-dc"], stdin=open(path, "rb"), capture_output=True).stdout
    out, errors = tmp_path / "out.jsonl", tmp_path / "errors.jsonl"
    result = run("decode", "--jobs", jobs, "--batch-bytes", "65536", "-o", str(out), "--errors", str(errors),
                 str(path))
    assert result.returncode == 1
    assert re.search(rf"cannot read {path}: the gzip data ends early, at byte [\d,]+ of the file",
                     result.stderr.decode())
    whole_lines = recovered[: recovered.rindex(b"\n") + 1]  # the unfinished last line is not a line
    assert 1000 < len(whole_lines) < len(data)
    assert read_jsonl(out.read_bytes()) == expected_rows(whole_lines, str(path))
    assert len(strict_json_lines(errors.read_bytes())) == whole_lines.count(b"bad\n")


# Inputs that give not a single line: a missing file, a directory, a gzip file damaged in its first bytes.
UNREADABLE = {"missing": None, "directory": "dir", "damaged": gzip.compress(VALID)[:12] + b"\0" * 20}


@pytest.mark.parametrize("format", ["jsonl", "csv", "parquet"])
def test_inputs_none_of_which_could_be_read_create_no_output(tmp_path, format):
    if format == "parquet":
        pytest.importorskip("pyarrow")
    inputs = tmp_path / "inputs"
    inputs.mkdir()
    for name, content in UNREADABLE.items():
        if content == "dir":
            (inputs / name).mkdir()
        elif content is not None:
            (inputs / name).write_bytes(content)
    out = tmp_path / "out"
    result = run("decode", "--format", format, "-o", str(out), "--errors", str(tmp_path / "errors.jsonl"),
                 *(str(inputs / name) for name in UNREADABLE))
    assert result.returncode == 1
    assert result.stderr.decode().count("cannot read ") == len(UNREADABLE) and b"Traceback" not in result.stderr
    assert sorted(path.name for path in tmp_path.iterdir()) == ["inputs"]
    # An empty input is read, and gives an output with no records.
    empty = inputs / "empty.txt"
    empty.touch()
    assert run("decode", "--format", format, "-o", str(out), str(empty)).returncode == 0
    assert out.exists()


@pytest.mark.parametrize("number", [signal.SIGTERM, signal.SIGHUP, signal.SIGINT], ids=lambda n: n.name)
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_a_stop_signal_leaves_nothing_half_written(tmp_path, number, jobs):
    tool = subprocess.Popen([str(COMMAND), "decode", "--jobs", jobs, "-o", str(tmp_path / "out.jsonl"),
                             "--errors", str(tmp_path / "errors.jsonl"), "-"],
                            stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        tool.stdin.write((VALID + b"\nbad\n") * 1000)
        tool.stdin.flush()
        deadline = time.monotonic() + 30
        while sum(path.stat().st_size > 0 for path in tmp_path.glob(".*.part")) < 2:  # both being written
            assert time.monotonic() < deadline and tool.poll() is None
            time.sleep(0.02)
        tool.send_signal(number)
        assert tool.wait(timeout=30) == 128 + number
    finally:
        tool.kill()
        tool.stdin.close()
        stderr = tool.stderr.read()
        tool.stderr.close()
    assert list(tmp_path.iterdir()) == [] and b"Traceback" not in stderr


@pytest.mark.parametrize("format", ["jsonl", "csv", pytest.param("parquet", marks=PYARROW_FAILS_UNDER_ASAN)])
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_a_full_disk_fails_the_run_and_leaves_no_file(tmp_path, format, jobs):
    if format == "parquet":
        pytest.importorskip("pyarrow")
    source = tmp_path / "in.txt"
    source.write_bytes(b"".join(VALID.replace(b"X1", f"C{i}".encode()) + b"\nbad\n" for i in range(20000)))
    out = tmp_path / "out"
    result = run("decode", "--format", format, "--jobs", jobs, "--batch-bytes", "100000", "-o", str(out),
                 str(source), preexec_fn=file_size_limit(50_000))
    assert result.returncode == 1
    assert f"cannot write {out}: File too large" in result.stderr.decode() and b"Traceback" not in result.stderr
    assert list(tmp_path.iterdir()) == [source]


@pytest.mark.parametrize("option, what", [("-o", "cannot write /dev/full"), ("--errors", "cannot write errors file /dev/full")])
def test_an_unwritable_output_is_named_in_the_message(option, what):
    result = run("decode", option, "/dev/full", "-", stdin=(VALID + b"\n" + b"bad\n") * 100)
    assert result.returncode == 1
    assert f"{what}: No space left on device" in result.stderr.decode()
    assert b"Traceback" not in result.stderr


def test_an_unwritable_output_leaves_no_file_behind(tmp_path):
    out = tmp_path / "beacons.jsonl"
    result = run("decode", "-o", str(out), "--errors", "/dev/full", "-", stdin=b"bad\n")
    assert result.returncode == 1
    assert list(tmp_path.iterdir()) == []


def test_a_closed_pipe_ends_the_run_quietly(tmp_path):
    many = tmp_path / "many.txt"
    many.write_bytes((VALID + b"\n") * 50000)
    tool = subprocess.Popen([str(COMMAND), "decode", str(many)], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    tool.stdout.readline()
    tool.stdout.close()
    stderr = tool.stderr.read()
    assert tool.wait(timeout=60) == 1
    assert b"Traceback" not in stderr


@pytest.mark.parametrize("args, stdin, stdout, message", [
    (["{input}", "-o", "{input}"], None, None, "-o {input} is also an input"),
    (["{input}", "-o", "{tmp}/./beacons.txt"], None, None, "-o {tmp}/./beacons.txt is also an input"),
    (["{link}", "--errors", "{input}"], None, None, "--errors {input} is also an input"),
    (["-", "-o", "{input}"], "{input}", None, "-o {input} is also an input"),
    (["{input}", "--format", "parquet", "-o", "{input}"], None, None, "-o {input} is also an input"),
    (["-"], "{input}", "{input}", "standard output is also an input"),
    (["{input}", "-o", "{tmp}/out.jsonl", "--errors", "{tmp}/out.jsonl"], None, None, "are one file"),
    (["{input}", "-o", "{tmp}/new.jsonl", "--errors", "{tmp}/./new.jsonl"], None, None, "are one file"),
], ids=["output_is_input", "output_is_input_spelt_otherwise", "errors_file_is_input_by_a_link",
        "output_is_standard_input", "parquet_output_is_input", "standard_output_appends_to_input",
        "output_is_errors_file", "new_output_is_errors_file"])
def test_an_output_that_would_replace_an_input_or_the_other_output_is_refused(tmp_path, args, stdin, stdout, message):
    def path(text):
        return text.format(tmp=tmp_path, input=tmp_path / "beacons.txt", link=tmp_path / "link.txt")

    lines = (VALID + b"\n" + b"bad\n") * 10
    (tmp_path / "beacons.txt").write_bytes(lines)
    (tmp_path / "link.txt").symlink_to("beacons.txt")
    (tmp_path / "out.jsonl").write_bytes(b"kept\n")
    before = sorted(tmp_path.iterdir())
    with contextlib.ExitStack() as stack:
        streams = {name: stack.enter_context(open(path(file), mode))
                   for name, file, mode in (("stdin", stdin, "rb"), ("stdout", stdout, "ab")) if file}
        result = subprocess.run([str(COMMAND), "decode", *map(path, args)], stderr=subprocess.PIPE,
                                stdin=streams.get("stdin", subprocess.DEVNULL),
                                stdout=streams.get("stdout", subprocess.DEVNULL), timeout=120)
    assert result.returncode == 2
    assert path(message) in result.stderr.decode() and b"Traceback" not in result.stderr
    assert (tmp_path / "beacons.txt").read_bytes() == lines
    assert (tmp_path / "out.jsonl").read_bytes() == b"kept\n"
    assert sorted(tmp_path.iterdir()) == before


def test_standard_error_into_the_output_file_is_refused(tmp_path):
    out = tmp_path / "out.jsonl"
    with open(out, "ab") as log:
        result = subprocess.run([str(COMMAND), "decode", "-o", str(out), "--errors", "-", "-"],
                                input=VALID + b"\nbad\n", stderr=log, timeout=120)
    assert result.returncode == 2
    assert f"-o {out} and --errors (standard error) are one file" in out.read_text()
    assert sorted(tmp_path.iterdir()) == [out]


def test_outputs_that_are_written_in_place_may_share_a_file(tmp_path):
    both = tmp_path / "both.log"
    with open(both, "wb") as log:
        result = subprocess.run([str(COMMAND), "decode", "-q", "--errors", "-", "-"], input=VALID + b"\nbad\n",
                                stdout=log, stderr=log, timeout=120)
    assert result.returncode == 0
    assert [record.get("line_number") for record in strict_json_lines(both.read_bytes())] == [1, 2]
    assert run("decode", "-o", "/dev/null", "--errors", "/dev/null", "-", stdin=b"bad\n").returncode == 0


@pytest.mark.parametrize("args", [
    ["decode", "--format", "xml"],
    ["decode", "--format", "parquet"],  # Parquet needs a file
    ["decode", "--jobs", "0"],
    ["decode", "--batch-bytes", "many"],
    [],
], ids=["unknown_format", "parquet_to_stdout", "no_jobs", "batch_bytes_not_a_size", "no_command"])
def test_usage_errors_exit_with_2(args):
    result = run(*args)
    assert result.returncode == 2
    assert b"usage:" in result.stderr and b"Traceback" not in result.stderr


def test_parquet_without_pyarrow_says_what_to_install(tmp_path):
    blocked = ("import sys; sys.modules['pyarrow'] = None; from kav_aprs.cli import main; sys.exit(main())",)
    result = run("decode", "--format", "parquet", "-o", str(tmp_path / "x.parquet"), "-", stdin=VALID,
                 command=(sys.executable, "-c", *blocked))
    assert result.returncode == 1
    assert result.stderr.decode().strip().splitlines() == [
        "kav-aprs decode: writing Parquet needs pyarrow: pip install 'kav_aprs_parser_pyo3[parquet]'"]
    assert list(tmp_path.iterdir()) == []


# pyarrow 16 and later import without NumPy, which the command keeps out of its process; an older
# pyarrow (told by its version file, which is read without importing it), or one whose version cannot
# be told, gets NumPy, and a missing one must still be named. Each case: the pyarrow package put first
# on the path (None: none at all), what import_pyarrow gives.
VERSION_FILE = "__version__ = version = '{}'\n"
PYARROW_CASES = {
    "version_15": ({"__init__.py": "import numpy\n", "parquet.py": "", "_generated_version.py":
                    VERSION_FILE.format("15.0.2")}, "ours, numpy imported"),
    "version_16": ({"__init__.py": "", "parquet.py": "", "_generated_version.py": VERSION_FILE.format("16.0.0")},
                   "ours, numpy kept out"),
    "version_26": ({"__init__.py": "", "parquet.py": "", "_generated_version.py": VERSION_FILE.format("26.0.1")},
                   "ours, numpy kept out"),
    "no_version_file": ({"__init__.py": "import numpy\n", "parquet.py": ""}, "ours, numpy imported"),
    "missing": (None, "unavailable"),
}
IMPORT_PYARROW = """
import sys
sys.modules["numpy"] = None
if sys.argv[1] == "missing":
    sys.modules["pyarrow"] = None
else:
    sys.path.insert(0, sys.argv[2])
from kav_aprs.sinks import ParquetUnavailable, import_pyarrow
try:
    pa, pq = import_pyarrow()
except ParquetUnavailable:
    print("unavailable")
else:
    numpy = "numpy imported" if sys.modules.get("numpy") is not None else "numpy kept out"
    print(f"{'ours' if pa.__file__.startswith(sys.argv[2]) else 'installed'}, {numpy}")
"""


@pytest.mark.parametrize("case", sorted(PYARROW_CASES))
def test_the_command_lends_numpy_only_to_a_pyarrow_that_needs_it(tmp_path, case):
    files, expected = PYARROW_CASES[case]
    for name, text in (files or {}).items():
        (tmp_path / "pyarrow").mkdir(exist_ok=True)
        (tmp_path / "pyarrow" / name).write_text(text)
    result = subprocess.run([sys.executable, "-c", IMPORT_PYARROW, case, str(tmp_path)],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == expected


def test_parquet_is_written_without_importing_numpy(tmp_path):
    pq = pytest.importorskip("pyarrow.parquet")
    out = tmp_path / "x.parquet"
    script = ("import sys; from kav_aprs.cli import command; sys.argv[1:] = sys.argv[2:]; status = command(); "
              "print(status, sys.modules.get('numpy') is None)")
    result = subprocess.run([sys.executable, "-c", script, "--", "decode", "-q", "--format", "parquet", "-o",
                             str(out), str(SAMPLE)], capture_output=True, text=True, timeout=60)
    assert result.stdout.split() == ["0", "True"], result.stderr
    assert pq.read_table(out).num_rows == len(expected_rows(SAMPLE.read_bytes(), str(SAMPLE)))


@pytest.mark.parametrize("umask", [0o022, 0o077, 0o002])
@pytest.mark.parametrize("format", ["jsonl", "parquet"])
def test_an_output_file_gets_the_mode_of_any_new_file(tmp_path, umask, format):
    if format == "parquet":
        pytest.importorskip("pyarrow")
    out = tmp_path / "out"
    result = run("decode", "--format", format, "-o", str(out), "-", stdin=VALID,
                 preexec_fn=lambda: os.umask(umask))
    assert result.returncode == 0, result.stderr
    assert stat.S_IMODE(out.stat().st_mode) == 0o666 & ~umask
    assert [path.name for path in tmp_path.iterdir()] == ["out"]


# ---------------------------------------------------------------------------
# Threads, streaming, the terminal, the command's own surface.

@pytest.mark.parametrize("format", ["jsonl", "csv"])
def test_jobs_give_byte_identical_output(tmp_path, format):
    data = MIXED.replace(b"\n", b"\r", 300).replace(b"\n", b"\r\n", 300) * 3
    source = tmp_path / "in.txt"
    source.write_bytes(data)
    outputs = []
    for jobs in ("1", "2", "3"):
        out, errors = tmp_path / f"out{jobs}", tmp_path / f"errors{jobs}"
        result = run("decode", "--format", format, "--jobs", jobs, "--batch-bytes", "3000",
                     "-o", str(out), "--errors", str(errors), str(source), str(source))
        assert result.returncode == 0, result.stderr
        outputs.append((out.read_bytes(), errors.read_bytes()))
    assert outputs[0] == outputs[1] == outputs[2]
    assert outputs[0][0].count(b"\n") > 2000


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_a_slow_writers_records_arrive_promptly(tmp_path, jobs):
    out = tmp_path / "out.jsonl"
    tool = subprocess.Popen([str(COMMAND), "decode", "--jobs", jobs, "-"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        for callsign in (b"A1", b"B2"):
            tool.stdin.write(VALID.replace(b"X1", callsign) + b"\n")
            tool.stdin.flush()
            line = tool.stdout.readline()  # would hang until the end with a full chunk awaited
            assert json.loads(line)["callsign"] == callsign.decode()
    finally:
        tool.stdin.close()
        tool.wait(timeout=30)
    # And a file output appears only when it is complete.
    slow = subprocess.Popen([str(COMMAND), "decode", "-o", str(out), "-"], stdin=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    slow.stdin.write(VALID + b"\n")
    slow.stdin.flush()
    time.sleep(0.3)
    assert not out.exists()
    slow.stdin.close()
    assert slow.wait(timeout=30) == 0
    assert len(out.read_bytes().splitlines()) == 1


def test_progress_is_shown_on_a_terminal_only(tmp_path):
    source = tmp_path / "in.txt"
    source.write_bytes(VALID + b"\n")
    controller, terminal = pty.openpty()
    tool = subprocess.Popen([str(COMMAND), "decode", str(source), "-"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=terminal)
    os.close(terminal)
    tool.stdin.write(VALID + b"\n")
    tool.stdin.flush()
    tool.stdout.readline(), tool.stdout.readline()  # both decoded: the run has started
    time.sleep(1.0)  # past the delay after which a run counts as long
    tool.stdin.write(VALID + b"\n")
    tool.stdin.close()
    tool.stdout.read()
    tool.wait(timeout=30)
    shown = b""
    while True:
        try:
            chunk = os.read(controller, 4096)
        except OSError:  # the terminal's other end is closed
            break
        if not chunk:
            break
        shown += chunk
    os.close(controller)
    assert b"\r3 lines: 3 decoded, 0 failed" in shown
    assert b"\r" not in run("decode", "-", stdin=VALID + b"\n").stderr


@pytest.mark.parametrize("total, read, elapsed, wanted", [
    (None, 0, 2.0, "1,000 lines: 900 decoded, 100 failed, 500 lines/s"),
    (200_000_000, 50_000_000, 10.0, "50.0 of 200.0 MB (25%), 1,000 lines: 900 decoded, 100 failed, 100 lines/s, 30s left"),
    (1_000_000, 1_000_000, 100.0, "1.0 of 1.0 MB (100%), 1,000 lines: 900 decoded, 100 failed, 10 lines/s, 0s left"),
    (3_000_000_000, 1_000_000_000, 1800.0, "1,000.0 of 3,000.0 MB (33%), 1,000 lines: 900 decoded, 100 failed, 1 lines/s, 1h00m left"),
], ids=["size_unknown", "quarter_read", "all_read", "hours_left"])
def test_progress_line_shows_share_and_time_left(total, read, elapsed, wanted):
    from kav_aprs.cli.report import ProgressLine
    from kav_aprs.tally import Tally
    tally = Tally()
    tally.counts.update(lines=1000, decoded=900, failed=100)
    assert ProgressLine(io.StringIO(), total).text(tally, read, elapsed) == wanted


def test_version_help_and_module_form():
    version = run("--version")
    assert version.returncode == 0 and re.fullmatch(rb"kav-aprs \d+\.\d+\.\d+\S*\n", version.stdout)
    help_text = " ".join(run("decode", "--help").stdout.decode().split())
    for wanted in ("jsonl", "csv", "parquet", "exit status", "standard error", "--jobs", "--errors", "-o FILE",
                   "130 stopped by Ctrl-C (SIGINT); 143 by SIGTERM, 129 by SIGHUP", "goes away (| head)",
                   "six upper-case hex digits", "a uint32 in Parquet"):
        assert wanted in help_text, wanted
    as_module = run("decode", "-", stdin=VALID, command=(sys.executable, "-m", "kav_aprs"))
    assert as_module.stdout == run("decode", "-", stdin=VALID).stdout != b""

