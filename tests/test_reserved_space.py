"""Disk space reserved ahead of the records written to a file, and freed past
its end once the file is complete."""

import errno
import os
import pathlib
import subprocess
import sys

import pytest

from kav_aprs import _native

COMMAND = pathlib.Path(sys.executable).with_name("kav-aprs")
RESERVED = 1 << 20
VALID = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF\n"


def allocated(path):
    return os.stat(path).st_blocks * 512


def test_a_regular_file_gets_the_space_without_growing(tmp_path):
    path = tmp_path / "out"
    fd = os.open(path, os.O_RDWR | os.O_CREAT)
    try:
        reserved = _native.reserve_space(fd, 0, RESERVED)
        assert os.fstat(fd).st_size == 0
        if reserved:  # file systems without reservations say so with False
            assert allocated(path) >= RESERVED
    finally:
        os.close(fd)


@pytest.mark.parametrize("kind", ["pipe", "/dev/null"])
def test_what_cannot_hold_a_reservation_says_false(kind):
    if kind == "pipe":
        read_end, fd = os.pipe()
        os.close(read_end)
    else:
        fd = os.open(kind, os.O_WRONLY)
    try:
        assert _native.reserve_space(fd, 0, RESERVED) is False
    finally:
        os.close(fd)


@pytest.mark.parametrize("open_flags", [os.O_RDONLY, None], ids=["read-only", "closed"])
def test_a_descriptor_that_cannot_be_written_raises(tmp_path, open_flags):
    path = tmp_path / "out"
    path.touch()
    fd = os.open(path, os.O_RDONLY)
    if open_flags is None:
        os.close(fd)
    try:
        with pytest.raises(OSError) as raised:
            _native.reserve_space(fd, 0, RESERVED)
        assert raised.value.errno == errno.EBADF
    finally:
        if open_flags is not None:
            os.close(fd)


@pytest.mark.parametrize("offset, length", [(-1, 10), (0, 0), (0, -5)])
def test_a_range_that_is_not_one_is_refused_by_name(tmp_path, offset, length):
    with open(tmp_path / "out", "wb") as out, pytest.raises(ValueError, match=f"not {offset} and {length}"):
        _native.reserve_space(out.fileno(), offset, length)


@pytest.mark.parametrize("format", ["jsonl", "csv"])
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_the_command_frees_what_it_reserved_past_the_end(tmp_path, format, jobs):
    source = tmp_path / "beacons.txt"
    source.write_bytes(VALID * 2000 + b"not a beacon\n" * 10)
    records, errors = tmp_path / f"out.{format}", tmp_path / "errors.jsonl"
    subprocess.run([COMMAND, "decode", "--quiet", "--format", format, "--jobs", jobs, "-o", records,
                    "--errors", errors, source], check=True, timeout=60)
    expected = subprocess.run([COMMAND, "decode", "--quiet", "--format", format, source],
                              check=True, capture_output=True, timeout=60).stdout
    assert records.read_bytes() == expected
    for path in (records, errors):
        # What the file holds, rounded up to the file system's blocks: nothing reserved is left.
        assert allocated(path) <= os.stat(path).st_size + 64 * 1024, path.name
