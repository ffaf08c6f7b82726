"""Batches rendered on several threads and written in turn, and the command's
threads meeting a failed or closed output."""

import os
import pathlib
import subprocess
import sys
import threading

import pytest

import kav_aprs
from kav_aprs import _native

COMMAND = pathlib.Path(sys.executable).with_name("kav-aprs")
VALID = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"


def batches(lines):
    return [kav_aprs.decode((VALID.replace(b"X1", f"C{i}".encode()) + b"\n") * lines) for i in range(4)]


# Large enough that a batch's text passes the writer's spill size while it waits.
BATCHES = batches(3000)
# A batch whose JSON lines pass what a thread keeps ahead of its turn: it waits midway.
BEYOND_AHEAD_LINES = 60_000


def written(tmp_path, write_all):
    """What `write_all(fd)` leaves in a new file."""
    path = tmp_path / "out"
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    try:
        write_all(fd)
    finally:
        os.close(fd)
    return path.read_bytes()


def write_json(batch, fd, first, after=None, done=None):
    _native.write_json_lines(batch.beacons, "s", fd, after, done)


def write_csv(batch, fd, first, after=None, done=None):
    _native.write_csv_lines(batch.beacons, "s", first, fd, after, done)


def in_threads(calls):
    """Runs each call on a thread of its own, the last started first; the errors raised, in call order."""
    errors = [None] * len(calls)

    def run(index):
        try:
            calls[index]()
        except Exception as error:  # noqa: BLE001 - reported to the test
            errors[index] = error

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(calls))]
    for thread in reversed(threads):
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert not any(thread.is_alive() for thread in threads)
    return errors


@pytest.mark.parametrize("lines", [3000, BEYOND_AHEAD_LINES])
@pytest.mark.parametrize("write", [write_json, write_csv])
def test_threads_write_in_the_order_of_their_turns(tmp_path, write, lines):
    given = BATCHES if lines == 3000 else batches(lines)

    def one_thread(fd):
        for i, batch in enumerate(given):
            write(batch, fd, i == 0)

    def threads(fd):
        turns = [_native.WriteTurn() for _ in given]
        errors = in_threads([lambda i=i: write(given[i], fd, i == 0, turns[i - 1] if i else None, turns[i])
                             for i in range(len(given))])
        assert errors == [None] * len(given)

    in_order = written(tmp_path, one_thread)
    assert written(tmp_path, threads) == in_order
    assert in_order.count(b"\n") == lines * len(given) + (write is write_csv)


@pytest.mark.parametrize("withdrawn", [0, 1, 2])
def test_a_withdrawn_turn_leaves_every_later_batch_unwritten(tmp_path, withdrawn):
    turns = [_native.WriteTurn() for _ in BATCHES]
    turns[withdrawn].withdraw()

    def threads(fd):
        errors = in_threads([lambda i=i: write_json(BATCHES[i], fd, False, turns[i - 1], turns[i])
                             for i in range(withdrawn + 1, len(BATCHES))])
        assert all(isinstance(error, RuntimeError) and "a batch before it was not" in str(error)
                   for error in errors), errors

    assert written(tmp_path, threads) == b""
    # Each skipped batch withdrew its own turn in its turn: one waiting on the last is refused at once.
    with pytest.raises(RuntimeError):
        written(tmp_path, lambda fd: write_json(BATCHES[0], fd, False, turns[-1], _native.WriteTurn()))


def test_the_csv_header_goes_with_the_first_batch_whichever_thread_comes_first(tmp_path):
    from kav_aprs.sinks import CsvWriter, Output

    writer = CsvWriter(Output(str(tmp_path / "out.csv")))
    first, second = writer.stage(), writer.stage()
    # The later batch reaches the writer first; it waits, and carries no header.
    errors = in_threads([lambda: first(BATCHES[0]), lambda: second(BATCHES[1])])
    assert errors == [None, None]
    writer.commit()
    text = (tmp_path / "out.csv").read_text()
    assert text.startswith("source,line_number,") and text.count("source,") == 1
    assert text.index("C0") < text.index("C1")


def test_a_failed_write_withdraws_its_turn():
    full = os.open("/dev/full", os.O_WRONLY)
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        first, second = _native.WriteTurn(), _native.WriteTurn()
        with pytest.raises(OSError, match="No space left on device"):
            write_json(BATCHES[0], full, True, None, first)
        with pytest.raises(RuntimeError):
            write_json(BATCHES[1], null, False, first, second)
    finally:
        os.close(full)
        os.close(null)


@pytest.mark.parametrize("bad", ["not a turn", 3])
def test_turns_must_be_write_turns(bad):
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        with pytest.raises(TypeError, match="must be a WriteTurn or None"):
            write_json(BATCHES[0], null, True, bad, None)
    finally:
        os.close(null)


@pytest.mark.parametrize("kind, waits", [("file", False), ("pipe", True)])
def test_only_an_input_that_waits_on_its_writer_is_handed_out_chunk_by_chunk(tmp_path, kind, waits):
    # Every chunk read from a pipe goes out before the next read; a file's
    # chunks are decoded side by side, which is what --jobs is for.
    from kav_aprs import _sources

    if kind == "file":
        (tmp_path / "in.txt").write_bytes(VALID + b"\n")
        stream = open(tmp_path / "in.txt", "rb")
    else:
        read_end, write_end = os.pipe()
        os.close(write_end)
        stream = os.fdopen(read_end, "rb")
    with stream, _sources.opened(stream) as opened:
        assert opened.live is waits


def run(*args, stdin=b""):
    return subprocess.run([str(COMMAND), *args], input=stdin, capture_output=True, timeout=120)


@pytest.mark.parametrize("format", ["jsonl", "csv"])
@pytest.mark.parametrize("jobs", ["2", "3"])
def test_threads_meeting_an_unwritable_output_name_it(jobs, format):
    result = run("decode", "--jobs", jobs, "--format", format, "--batch-bytes", "3000", "-o", "/dev/full", "-",
                 stdin=(VALID + b"\n" + b"bad\n") * 2000)
    assert result.returncode == 1
    assert "cannot write /dev/full: No space left on device" in result.stderr.decode()
    assert b"Traceback" not in result.stderr


@pytest.mark.parametrize("jobs", ["2", "3"])
def test_threads_meeting_a_closed_pipe_end_quietly(tmp_path, jobs):
    many = tmp_path / "many.txt"
    many.write_bytes((VALID + b"\n") * 50000)
    tool = subprocess.Popen([str(COMMAND), "decode", "--jobs", jobs, "--batch-bytes", "100000", str(many)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    tool.stdout.readline()
    tool.stdout.close()
    stderr = tool.stderr.read()
    assert tool.wait(timeout=60) == 1
    assert b"Traceback" not in stderr
