"""The decode tool in examples/, run as a user runs it: a separate process."""

import json
import os
import pathlib
import pty
import subprocess
import sys
import time

import pytest

TOOL = pathlib.Path(__file__).resolve().parent.parent / "examples" / "decode.py"

VALID = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"
VALID_RECORD = {
    "callsign": "X1",
    "q_construct": "qAS",
    "receiver": "RX1",
    "kav_aprs_protocol": "KAFLR",
    "time": "12:34:56",
    "latitude": 46.5,
    "longitude": 8.5,
    "ground_track": 90.0,
    "ground_speed": 50.0,
    "gps_altitude": 1000.0,
    "aircraft_type": "Glider",
    "address_type": "FLARM",
    "no_track": False,
    "stealth_mode": False,
    "address": "ABCDEF",
}
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


def run_tool(*args, stdin=b""):
    return subprocess.run([sys.executable, str(TOOL), *args], input=stdin, capture_output=True)


def json_lines(data):
    return [json.loads(line) for line in data.decode().splitlines()]


def test_record_holds_every_field_in_order():
    result = run_tool("-", stdin=VALID + b"\n")
    assert result.returncode == 0
    [record] = json_lines(result.stdout)
    assert list(record.items()) == list(VALID_RECORD.items())


def test_csv_has_a_header_and_one_row_per_beacon():
    result = run_tool("--format", "csv", "-", stdin=VALID + b"\n" + VALID + b"\n")
    header, *rows = result.stdout.decode().splitlines()
    assert header == ",".join(VALID_RECORD)
    assert rows == ["X1,qAS,RX1,KAFLR,12:34:56,46.5,8.5,90.0,50.0,1000.0,Glider,FLARM,False,False,ABCDEF"] * 2


@pytest.mark.parametrize("ending", [b"\n", b"\r\n", b""], ids=["lf", "crlf", "none"])
def test_only_the_line_break_is_removed(tmp_path, ending):
    # A carriage return left on this line would turn its failure into an InvalidTimestamp.
    errors = tmp_path / "errors.jsonl"
    result = run_tool("--errors", str(errors), "-", stdin=VALID + b"\r\n" + ENDS_AFTER_HEADER + ending)
    assert len(json_lines(result.stdout)) == 1
    [failure] = json_lines(errors.read_bytes())
    assert (failure["error_kind"], failure["line"]) == ("UnexpectedEndOfMessage", ENDS_AFTER_HEADER.decode())


def test_failing_lines_go_to_the_errors_file_with_their_kind(tmp_path):
    errors = tmp_path / "errors.jsonl"
    lines = [line for line, _ in FAILING]
    result = run_tool("--errors", str(errors), "-", stdin=b"\n".join([VALID, b"", *lines]) + b"\n")
    assert result.returncode == 0
    failures = json_lines(errors.read_bytes())
    assert [(f["line_number"], f["error_kind"]) for f in failures] == [
        (number, kind) for number, (_, kind) in enumerate(FAILING, start=3)
    ]
    assert all(f["source"] == "<stdin>" and f["error"].startswith("Parse error: ") for f in failures)
    assert failures[1]["line"] == "X1\\xff>KAFLR,qAS,RX1:"


def test_summary_counts_outcomes_by_kind():
    lines = [VALID, VALID, b""] + [line for line, _ in FAILING]
    summary = run_tool("-", stdin=b"\n".join(lines) + b"\n").stderr.decode()
    counts = dict(line.rsplit(None, 1) for line in summary.splitlines()[1:])
    assert {label.strip(): int(count) for label, count in counts.items()} == {
        "lines read": len(lines), "decoded": 2, "failed": len(FAILING), "blank, skipped": 1,
        "InvalidCallsign": 2, **{kind: 1 for _, kind in FAILING[2:]},
    }
    assert "lines/s" in summary.splitlines()[0]


def test_errors_dash_writes_failures_to_stderr():
    result = run_tool("--errors", "-", "-", stdin=b"X1>KAFLR\n")
    record = json.loads(result.stderr.decode().splitlines()[0])
    assert record["error"] == 'Parse error: ParseError(UnknownError("KAFLR"))'


def test_non_finite_numbers_are_texts_in_strict_json():
    line = VALID.replace(b"00830.00E'090/050", b"inf00.00W'inf/nan")
    output = run_tool("-", stdin=line).stdout.decode()

    def refuse(constant):
        raise AssertionError(f"non-standard JSON constant {constant}")

    record = json.loads(output, parse_constant=refuse)
    assert (record["longitude"], record["ground_track"], record["ground_speed"]) == ("-Infinity", "Infinity", "NaN")


def test_inputs_are_read_in_order_and_an_unreadable_one_fails_the_run(tmp_path):
    first = tmp_path / "first.txt"
    first.write_bytes(VALID.replace(b"X1>", b"A1>") + b"\n")
    result = run_tool(str(first), str(tmp_path / "missing.txt"), "-", stdin=VALID.replace(b"X1>", b"B1>"))
    assert result.returncode == 1
    assert [r["callsign"] for r in json_lines(result.stdout)] == ["A1", "B1"]
    assert f"cannot read {tmp_path / 'missing.txt'}" in result.stderr.decode()


def test_without_arguments_the_bundled_sample_is_decoded():
    result = run_tool()
    assert result.returncode == 0
    records = json_lines(result.stdout)
    assert {r["kav_aprs_protocol"] for r in records} == {"KAADSB", "KAFLR", "KAVSKY"}
    failed = int(next(line for line in result.stderr.decode().splitlines() if "failed" in line).split()[-1])
    assert len(records) >= 25 and failed >= 10


def test_progress_is_shown_on_a_terminal_only():
    controller, terminal = pty.openpty()
    tool = subprocess.Popen([sys.executable, str(TOOL), "-"], stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=terminal)
    os.close(terminal)
    tool.stdin.write(VALID + b"\n")
    tool.stdin.flush()
    time.sleep(1.0)  # past the delay after which a run counts as long
    tool.stdin.write(VALID + b"\n")
    tool.stdin.close()
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
    assert b"\r2 lines: 2 decoded, 0 failed" in shown
    assert b"\r" not in run_tool("-", stdin=VALID + b"\n").stderr


def test_a_closed_output_pipe_ends_the_run_quietly(tmp_path):
    many = tmp_path / "many.txt"
    many.write_bytes((VALID + b"\n") * 20000)
    tool = subprocess.Popen([sys.executable, str(TOOL), str(many)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    tool.stdout.readline()
    tool.stdout.close()
    stderr = tool.stderr.read()
    assert tool.wait(timeout=60) == 1
    assert b"Traceback" not in stderr
