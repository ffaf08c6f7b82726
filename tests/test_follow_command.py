"""``kav-aprs follow`` end to end, against the scripted APRS-like server, stopped by a signal."""

import csv
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

import duckdb
import pyarrow as pa
import pyarrow.parquet as pq
import polars as pl
import pyarrow.csv as pa_csv
import pyarrow.json as pa_json
import pytest

import kav_aprs
from aprs_test_server import BEACONS, VALID_LINES, AprsTestServer, login_script
from batch_reference import Expected
from full_disk import PYARROW_FAILS_UNDER_ASAN, file_size_limit
from kav_aprs.cli import main
from kav_aprs.cli.follow import parse_address, parse_period

CALL = b"KAVRX0001"
LONG_LINE = b"KSK" + b"x" * 5000
# Two bursts more than a second apart, so that one-second Parquet files rotate between them.
SCRIPT = login_script(CALL, ("send", BEACONS), ("sleep", 1.3), ("send", BEACONS + LONG_LINE + b"\r\n"), ("hold",))
PARQUET_DIR = "archive/pq"  # created with its parents by the command


def _unique_beacons(count: int, first: int = 0) -> bytes:
    """Beacon lines each of a callsign of its own, which neither text nor Parquet shrinks much."""
    return b"".join(b"U%05d>" % (first + i) + VALID_LINES[i % len(VALID_LINES)].split(b">", 1)[1] + b"\r\n"
                    for i in range(count))


# A burst of 100 beacons, then, in the next second's batch, one of 3,000 that fills the disk.
FILLS_THE_DISK = login_script(CALL, ("send", _unique_beacons(100)), ("sleep", 1.3),
                              ("send", _unique_beacons(3000, 100)), ("hold",))


def _expected(server: AprsTestServer) -> Expected:
    text = b"".join(server.sent).replace(LONG_LINE, b"")  # cut lines are counted, never decoded
    return Expected(text)


def _command(server: AprsTestServer, options: list) -> list:
    return [sys.executable, "-m", "kav_aprs", "follow", f"127.0.0.1:{server.port}", "--callsign", CALL.decode(),
            *options]


def _follow(server: AprsTestServer, tmp_path: pathlib.Path, options: list, stop: signal.Signals | tuple,
            records: pathlib.Path | None, records_before: int = 0) -> subprocess.CompletedProcess:
    """Runs the command until the server has sent all and the records have come
    (after `records_before` of an earlier run), then sends `stop`: one signal or several at once."""
    command = _command(server, options)
    process = subprocess.Popen(command, cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    seen_files = set()
    deadline = time.monotonic() + 15
    try:
        while time.monotonic() < deadline:
            # Whatever carries a final Parquet name is complete, at any moment.
            for path in (tmp_path / PARQUET_DIR).glob("beacons-*.parquet"):
                if path not in seen_files:
                    pq.read_table(path)
                    seen_files.add(path)
            if server.done.is_set():
                wanted = records_before + len(_expected(server).beacons)
                if records is None or records.is_file() and len(_records(records)) >= wanted:
                    break
            time.sleep(0.05)
        time.sleep(0.2 if records is not None else 0.6)  # for standard output: let the last bytes be read
        for number in stop if isinstance(stop, tuple) else (stop,):
            process.send_signal(number)
            time.sleep(0.005)  # a signal sent again before the first is handled would be merged with it
        stdout, stderr = process.communicate(timeout=15)
    finally:
        if process.poll() is None:
            process.kill()
            process.communicate()
    return subprocess.CompletedProcess(command, process.returncode, stdout, stderr.decode())


def _records(path: pathlib.Path) -> list[dict]:
    text = path.read_text(encoding="utf-8")
    if path.suffix == ".csv":
        return list(csv.DictReader(text.splitlines()))
    return [json.loads(line) for line in text.splitlines()]


def _summary(stderr: str) -> dict:
    return {m.group(1).strip(): int(m.group(2)) for m in re.finditer(r"^ +(\w[\w ]*?) +(\d+)$", stderr, re.M)}


@pytest.mark.parametrize("options, stop, records", [
    (["-o", "out.jsonl", "--errors", "errors.jsonl", "--parquet-dir", PARQUET_DIR, "--rotate", "1s"],
     signal.SIGTERM, "out.jsonl"),
    (["--format", "csv", "-o", "out.csv", "--filter", "r/48.1/11.6/200"], signal.SIGINT, "out.csv"),
    (["--errors", "-"], signal.SIGTERM, None),
], ids=["jsonl, errors, rotating parquet, SIGTERM", "csv with a filter, SIGINT", "standard output"])
def test_follow_writes_every_beacon_and_stops_cleanly_on_a_signal(tmp_path, options, stop, records):
    with AprsTestServer([SCRIPT]) as server:
        done = _follow(server, tmp_path, options, stop, tmp_path / records if records else None)
    expected = _expected(server)
    assert done.returncode == 0, done.stderr
    assert "Traceback" not in done.stderr

    wanted = [(row["line_number"], row["callsign"]) for row in expected.beacons]
    if records is None:
        got = [json.loads(line) for line in done.stdout.decode().splitlines()]
    else:
        got = _records(tmp_path / records)
    assert [(int(r["line_number"]), r["callsign"]) for r in got] == wanted
    assert all(r["source"] == f"127.0.0.1:{server.port}" for r in got)

    summary = _summary(done.stderr)
    assert summary["decoded"] == len(wanted)
    assert summary["failed"] == len(expected.errors) + 1
    assert summary["LineTooLong"] == 1
    assert (summary["connections"], summary["reconnects"], summary["dropped partial lines"]) == (1, 0, 0)
    assert re.search(r"^kav-aprs follow: \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ 1 line from .* cut at 4096 bytes",
                     done.stderr, re.M)
    assert server.logins[0].endswith(b" filter r/48.1/11.6/200\r\n" if "--filter" in options else b"0.1.0\r\n"
                                     if kav_aprs.__version__ == "0.1.0" else b"\r\n")

    if "--errors" in options:
        errors_text = done.stderr if options[options.index("--errors") + 1] == "-" else \
            (tmp_path / "errors.jsonl").read_text()
        errors = [json.loads(line) for line in errors_text.splitlines() if line.startswith("{")]
        wanted_errors = [(e["line_number"], e["error_kind"]) for e in expected.errors]
        cut_number = len(re.findall(rb"\r\n", b"".join(server.sent)))
        assert [(e["line_number"], e["error_kind"]) for e in errors] == wanted_errors + [(cut_number, "LineTooLong")]
        assert errors[-1]["line"] == LONG_LINE[:4096].decode()

    if "--parquet-dir" in options:
        files = sorted((tmp_path / PARQUET_DIR).iterdir())
        assert len(files) >= 2 and all(re.fullmatch(r"beacons-\d{8}T\d{6}Z\.parquet", f.name) for f in files)
        table = pa.concat_tables(pq.read_table(f) for f in files).sort_by("line_number")
        assert list(zip(table.column("line_number").to_pylist(), table.column("callsign").to_pylist())) == wanted
        count, last = duckdb.sql(
            f"SELECT count(*), max(line_number) FROM read_parquet('{tmp_path / PARQUET_DIR}/beacons-*.parquet')"
        ).fetchall()[0]
        assert (count, last) == (len(wanted), wanted[-1][0])


def test_a_second_run_appends_to_the_records_and_keeps_one_csv_header(tmp_path):
    for run in range(2):
        with AprsTestServer([login_script(CALL, ("send", BEACONS), ("hold",))]) as server:
            done = _follow(server, tmp_path, ["--format", "csv", "-o", "out.csv", "--quiet"], signal.SIGTERM,
                           tmp_path / "out.csv")
        assert done.returncode == 0 and done.stderr == ""
    text = (tmp_path / "out.csv").read_text()
    assert text.count("source,line_number,") == 1
    assert len(_records(tmp_path / "out.csv")) == 2 * len(_expected(server).beacons)


@pytest.mark.parametrize("arguments, status, message", [
    (["follow", "localhost"], 2, "not HOST:PORT"),
    (["follow", "localhost:0"], 2, "not HOST:PORT"),
    (["follow", "localhost:14580", "--callsign", "A B"], 2, "callsign must be"),
    (["follow", "localhost:14580", "--filter", "a\nb"], 2, "filter must be one line"),
    (["follow", "localhost:14580", "--parquet-dir", ".", "--rotate", "0h"], 2, "not a period of time"),
    (["follow", "localhost:14580", "--parquet-dir", "/dev/null/pq"], 1, "cannot write /dev/null/pq: Not a directory"),
    (["follow", "localhost:14580", "-o", "missing/out.jsonl"], 1, "cannot write missing/out.jsonl"),
], ids=["no_port", "port_zero", "callsign_with_space", "filter_two_lines", "rotate_zero",
        "parquet_dir_not_a_directory", "output_dir_missing"])
def test_command_line_faults_are_one_line_messages(tmp_path, monkeypatch, capsys, arguments, status, message):
    monkeypatch.chdir(tmp_path)
    try:
        got = main(arguments)
    except SystemExit as exit:
        got = exit.code
    assert got == status
    err = capsys.readouterr().err
    assert message in err and "Traceback" not in err
    assert os.listdir(tmp_path) == []  # nothing left behind


@pytest.mark.parametrize("text, address", [
    ("aprs.example.net:14580", ("aprs.example.net", 14580)),
    ("127.0.0.1:10152", ("127.0.0.1", 10152)),
    ("[::1]:14580", ("::1", 14580)),
])
def test_addresses(text, address):
    assert parse_address(text) == address


@pytest.mark.parametrize("text, seconds", [("1h", 3600), ("15m", 900), ("30s", 30), ("90", 90), ("1d", 86400)])
def test_periods(text, seconds):
    assert parse_period(text) == seconds


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
def test_an_output_that_cannot_be_written_ends_the_run_with_its_files_complete(tmp_path):
    (tmp_path / "pq").mkdir()
    with AprsTestServer([login_script(CALL, ("send", BEACONS), ("hold",))]) as server:
        done = subprocess.run(
            [sys.executable, "-m", "kav_aprs", "follow", f"127.0.0.1:{server.port}", "-o", "/dev/full",
             "--parquet-dir", "pq"], cwd=tmp_path, capture_output=True, text=True, timeout=15)
    assert done.returncode == 1
    assert re.search(r"^kav-aprs follow: \S+Z cannot write /dev/full: No space left on device$", done.stderr, re.M)
    assert "Traceback" not in done.stderr and "summary:" in done.stderr
    # The batch that could not be written to /dev/full still went into its Parquet file, completed and named.
    (parquet,) = (tmp_path / "pq").iterdir()
    assert pq.read_table(parquet).num_rows == len(_expected(server).beacons)


@pytest.mark.parametrize("stop", [(signal.SIGTERM, signal.SIGTERM), (signal.SIGINT, signal.SIGINT),
                                  (signal.SIGINT, signal.SIGTERM, signal.SIGHUP), signal.SIGHUP],
                         ids=["SIGTERM twice", "SIGINT twice", "three signals", "SIGHUP"])
def test_stop_signals_however_many_complete_the_parquet_file(tmp_path, stop):
    with AprsTestServer([login_script(CALL, ("send", BEACONS), ("hold",))]) as server:
        done = _follow(server, tmp_path, ["--parquet-dir", PARQUET_DIR, "-o", "out.jsonl"], stop,
                       tmp_path / "out.jsonl")
    assert done.returncode == 0, done.stderr
    assert "Traceback" not in done.stderr and "summary:" in done.stderr
    (parquet,) = (tmp_path / PARQUET_DIR).iterdir()
    assert pq.read_table(parquet).num_rows == len(_expected(server).beacons)


@PYARROW_FAILS_UNDER_ASAN
def test_a_full_disk_never_leaves_an_unreadable_parquet_file(tmp_path):
    with AprsTestServer([FILLS_THE_DISK]) as server:
        done = subprocess.run(_command(server, ["--parquet-dir", PARQUET_DIR, "--rotate", "1s"]), cwd=tmp_path,
                              capture_output=True, text=True, timeout=15, preexec_fn=file_size_limit(20_000))
    assert done.returncode == 1
    assert re.search(rf"cannot write {PARQUET_DIR}/beacons-\d+T\d+Z\.parquet: File too large$", done.stderr, re.M)
    # The file the failed write was for is gone, hidden name and all; those completed before it stay.
    files = list((tmp_path / PARQUET_DIR).iterdir())
    assert all(re.fullmatch(r"beacons-\d{8}T\d{6}Z\.parquet", path.name) for path in files)
    assert sum(pq.read_table(path).num_rows for path in files) == 100


def _read_records(consumer, path):
    """(line_number, callsign) of every record in a JSON lines or CSV file, as `consumer` reads it."""
    jsonl = path.suffix == ".jsonl"
    if consumer == "duckdb":
        return duckdb.sql(f"SELECT line_number, callsign FROM {'read_json' if jsonl else 'read_csv'}('{path}')"
                          ).fetchall()
    if consumer == "polars":
        return (pl.read_ndjson if jsonl else pl.read_csv)(path).select("line_number", "callsign").rows()
    table = (pa_json.read_json if jsonl else pa_csv.read_csv)(path)
    return list(zip(table.column("line_number").to_pylist(), table.column("callsign").to_pylist()))


@pytest.mark.parametrize("earlier", ["full disk", "torn record"])
@pytest.mark.parametrize("format", ["jsonl", "csv"])
def test_records_appended_after_a_failed_run_stay_readable(tmp_path, format, earlier):
    out = tmp_path / f"out.{format}"
    options = ["--format", format, "-o", out.name]
    if earlier == "full disk":
        # The batch that fills the disk is taken off the file again: 100 records stay, whole.
        with AprsTestServer([FILLS_THE_DISK]) as server:
            done = subprocess.run(_command(server, options), cwd=tmp_path, capture_output=True, text=True,
                                  timeout=15, preexec_fn=file_size_limit(100_000))
        assert done.returncode == 1 and f"cannot write {out.name}: File too large" in done.stderr
        kept = 100
        assert out.read_bytes().endswith(b"\n")
    else:
        # A run killed halfway through a record left its start behind.
        with AprsTestServer([login_script(CALL, ("send", BEACONS), ("hold",))]) as server:
            _follow(server, tmp_path, options, signal.SIGTERM, out)
        kept = len(_expected(server).beacons)
        last = out.read_bytes().splitlines(keepends=True)[-1]
        with open(out, "ab") as file:
            file.write(last[: len(last) // 2])
    with AprsTestServer([login_script(CALL, ("send", BEACONS), ("hold",))]) as server:
        done = _follow(server, tmp_path, options, signal.SIGTERM, out, records_before=kept)
    assert done.returncode == 0, done.stderr
    assert ("ended in a torn record" in done.stderr) is (earlier == "torn record")
    wanted = kept + len(_expected(server).beacons)
    for consumer in ("pyarrow", "polars", "duckdb"):
        assert len(_read_records(consumer, out)) == wanted, consumer
