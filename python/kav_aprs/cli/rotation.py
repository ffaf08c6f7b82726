"""Parquet files one per period of time, each appearing under its name only when complete."""

from __future__ import annotations

import datetime
import os
import re
from typing import TYPE_CHECKING

from ..writers import Output, ParquetWriter

if TYPE_CHECKING:
    from .._decoded import Decoded

_PERIOD = re.compile(r"(\d+)([smhd]?)")
_UNIT_SECONDS = {"": 1, "s": 1, "m": 60, "h": 3600, "d": 86400}


def parse_period(text: str) -> int:
    """Seconds of a period written as 90, 90s, 15m, 1h or 1d; ValueError otherwise."""
    match = _PERIOD.fullmatch(text.strip())
    if match is None or int(match.group(1)) == 0:
        raise ValueError(f"not a period of time: {text!r} (examples: 1h, 15m, 30s, 1d)")
    return int(match.group(1)) * _UNIT_SECONDS[match.group(2)]


class RotatingParquet:
    """Beacons into ``DIR/beacons-<UTC start of the period>.parquet``, one file a period.

    Periods are aligned on UTC midnight of 1970, so that an hour runs from
    :00 to :00 whatever time the command started. A file is written under a
    temporary name beside its final one and renamed when its period ends or
    the writing is closed: a reader, or a crash, never sees half a file. A
    period that already has a file (a restart within the hour) gets the next
    free name, ``-1``, ``-2`` and so on, so nothing written earlier is replaced.
    """

    def __init__(self, directory: str, period: int, now: float) -> None:
        """Opens the file of the period holding `now` at once, so that a directory
        that cannot be written or a missing pyarrow shows before anything else."""
        if not os.path.isdir(directory):
            raise FileNotFoundError(2, "no such directory", directory)
        self.directory = directory
        self.period = period
        self._start: int | None = None
        self._output: Output | None = None
        self._writer: ParquetWriter | None = None
        self.files_written: list[str] = []
        self._open(now)

    def _name(self, start: int) -> str:
        stamp = datetime.datetime.fromtimestamp(start, datetime.timezone.utc).strftime("%Y%m%dT%H%M%SZ")
        base = os.path.join(self.directory, f"beacons-{stamp}")
        name, number = base + ".parquet", 0
        while os.path.exists(name):
            number += 1
            name = f"{base}-{number}.parquet"
        return name

    def write(self, decoded: Decoded, source: str, when: float) -> None:
        """Writes a batch into the file of the period holding `when` (seconds since 1970)."""
        if int(when // self.period * self.period) != self._start:
            self.close()
            self._open(when)
        assert self._writer is not None
        self._writer.write(decoded, source)

    def _open(self, when: float) -> None:
        start = int(when // self.period * self.period)
        output = Output(self._name(start))
        try:
            self._writer = ParquetWriter(output)
        except BaseException:
            output.discard()
            raise
        self._output, self._start = output, start

    def close(self) -> None:
        """Completes the current file and gives it its name."""
        if self._writer is None or self._output is None:
            return
        writer, output = self._writer, self._output
        self._writer = self._output = None
        self._start = None
        try:
            writer.close()
            output.commit()
        except BaseException:
            output.discard()
            raise
        self.files_written.append(output.name)

    def discard(self) -> None:
        """Removes the current file's temporary name, when the writing cannot go on."""
        if self._output is not None:
            self._output.discard()
        self._writer = self._output = None
