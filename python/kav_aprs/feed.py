"""Following an APRS server: its beacon lines decoded batch by batch, reconnecting on faults.

``Feed`` logs in as a receive-only client, reads the server's stream and
yields one ``FeedBatch`` (a ``Decoded`` with the server's name and reception
times) per batch interval, in the caller's own thread: the waiting is done
by a selector with a timeout, not a thread. Silence, a closed or reset connection, a
refused connection or a name that does not resolve leads to a new connection
after an exponential back-off; every whole line received reaches the caller
exactly once, and what cannot (the start of a line cut off by a disconnect, a
line over 4,096 bytes) is counted and logged on the ``kav_aprs.feed`` logger.
"""

from __future__ import annotations

import collections
import contextlib
import dataclasses
import datetime
import logging
import random
import re
import selectors
import socket
import time
from collections.abc import Generator
from typing import Any

import kav_aprs
from ._decoded import Decoded, decode
from ._line_buffer import CutLine, LineBuffer

__all__ = ["Backoff", "CutLine", "Feed", "FeedBatch", "FeedStats", "LINE_TOO_LONG", "MAX_LINE_BYTES",
           "default_callsign"]

log = logging.getLogger(__name__)

MAX_LINE_BYTES = 4096
LINE_TOO_LONG = "LineTooLong"  # the failure kind counted for a line cut at MAX_LINE_BYTES
_CALLSIGN = re.compile(r"[A-Za-z0-9][A-Za-z0-9-]{0,19}")
_LOGRESP = re.compile(rb"# logresp (\S+) (\w+),? server (\S+)")
_GREETING_BYTES = 8192  # how much of a connection's start is searched for the login response


def default_callsign() -> str:
    """A receive-only name: ``KAVRX`` and four random digits.

    The digits keep two followers on one server from sharing a name, which
    some servers answer by closing the older connection.
    """
    return f"KAVRX{random.randrange(10_000):04d}"


@dataclasses.dataclass(frozen=True)
class Backoff:
    """Waits between connection attempts: `first` seconds, doubling to `maximum`.

    Each wait is shortened by a random fraction of up to `jitter`, so that
    clients dropped together do not return together. A connection that lasted
    `healthy_after` seconds starts the doubling afresh.
    """

    first: float = 1.0
    maximum: float = 60.0
    jitter: float = 0.25
    healthy_after: float = 60.0

    def delay(self, failures: int, rng: random.Random | None = None) -> float:
        """The wait after the `failures`-th fault in a row (1 for the first)."""
        doubled = self.first * 2.0 ** min(max(failures - 1, 0), 60)
        return min(self.maximum, doubled) * (1.0 - self.jitter * (rng or random).random())


@dataclasses.dataclass(frozen=True, eq=False)
class FeedBatch(Decoded):
    """The lines of one batch interval, decoded, with where and when they were received.

    Lines are numbered across connections from 1, comment lines (the server's
    own) included. A line cut at MAX_LINE_BYTES counts as failed under the kind
    LINE_TOO_LONG and is listed in `cut_lines` (it has no row in `errors`), so
    ``failed == len(errors) + len(cut_lines)``. `received_from` and
    `received_to` are the times of the first and the last read that brought
    the batch's bytes (None for an empty batch); `server` is the name the
    server gave in its login response, if it gave one. `dropped_partial_lines`
    counts the starts of lines lost to disconnects since the previous batch.
    """

    first_line_number: int
    server: str | None
    received_from: datetime.datetime | None
    received_to: datetime.datetime | None
    cut_lines: tuple[CutLine, ...] = ()
    dropped_partial_lines: int = 0


@dataclasses.dataclass
class FeedStats:
    """Counts since the feed started.

    `connections` counts connections made, `failed_connects` attempts that
    failed (refused, name not resolved, timed out), `lost_connections` those
    that ended (closed, reset, silent).
    """

    connections: int = 0
    failed_connects: int = 0
    lost_connections: int = 0
    lines: int = 0
    decoded: int = 0
    failed: int = 0
    comments: int = 0
    blank: int = 0
    failures: collections.Counter[str] = dataclasses.field(default_factory=collections.Counter)
    dropped_partial_lines: int = 0
    bytes_received: int = 0

    @property
    def reconnects(self) -> int:
        """Connections made after the first."""
        return max(0, self.connections - 1)


def _when(seconds: float | None) -> datetime.datetime | None:
    return None if seconds is None else datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc)


def _positive(name: str, value: float) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not value > 0:
        raise ValueError(f"{name} must be a positive number, not {value!r}")
    return value


class Feed:
    """An APRS server's stream as an iterator of ``FeedBatch``, one per batch interval.

    Use it as a context manager, or call ``close()``, to close the connection.
    ``stop()`` (safe to call from a signal handler) ends the iteration after
    one last batch of the whole lines received. Iteration goes on through
    faults and reconnections, yielding a batch every `batch_interval` seconds
    even while waiting to reconnect (an empty one if nothing came), or as soon
    as `batch_lines` lines have come.
    """

    def __init__(
        self,
        host: str,
        port: int,
        *,
        callsign: str | None = None,
        filter: str | None = None,  # noqa: A002 - the server's own word for it
        batch_interval: float = 1.0,
        batch_lines: int = 10_000,
        silence_timeout: float = 60.0,
        connect_timeout: float = 10.0,
        login_timeout: float = 10.0,
        backoff: Backoff = Backoff(),
        read_bytes: int = 1 << 20,
    ) -> None:
        callsign = default_callsign() if callsign is None else callsign
        if not isinstance(callsign, str) or not _CALLSIGN.fullmatch(callsign):
            raise ValueError(f"callsign must be letters, digits and '-', up to 20 of them, not {callsign!r}")
        if filter is not None and (not isinstance(filter, str) or not (filter.isascii() and filter.isprintable())
                                   or not filter.strip()):
            raise ValueError(f"filter must be one line of printable ASCII text, not {filter!r}")
        if isinstance(port, bool) or not isinstance(port, int) or not 0 < port < 65536:
            raise ValueError(f"port must be an int from 1 to 65535, not {port!r}")
        for name, count in (("batch_lines", batch_lines), ("read_bytes", read_bytes)):
            if isinstance(count, bool) or not isinstance(count, int) or count < 1:
                raise ValueError(f"{name} must be a positive int, not {count!r}")
        self.host, self.port, self.callsign = host, port, callsign
        self.batch_interval = _positive("batch_interval", batch_interval)
        self.silence_timeout = _positive("silence_timeout", silence_timeout)
        self.connect_timeout = _positive("connect_timeout", connect_timeout)
        self.login_timeout = _positive("login_timeout", login_timeout)
        self.batch_lines, self.backoff = batch_lines, backoff
        self.login_line = f"user {callsign} pass -1 vers kav-aprs {kav_aprs.__version__}" + (
            f" filter {filter}" if filter is not None else "") + "\r\n"
        self.stats = FeedStats()
        self.server: str | None = None
        self._lines = LineBuffer(MAX_LINE_BYTES)
        self._scratch = bytearray(read_bytes)
        self._next_line = 1
        self._next_batch = 0.0
        self._dropped_since_batch = 0
        self._stopping = False
        # stop() writes a byte here, so that a wait ends at once instead of at its timeout.
        self._wake, self._waker = socket.socketpair()
        self._waker.setblocking(False)
        self._selector = selectors.DefaultSelector()
        self._selector.register(self._wake, selectors.EVENT_READ)
        self._batches = self._run()

    @property
    def address(self) -> str:
        return f"[{self.host}]:{self.port}" if ":" in self.host else f"{self.host}:{self.port}"

    def __iter__(self) -> Feed:
        return self

    def __next__(self) -> FeedBatch:
        return next(self._batches)

    def __enter__(self) -> Feed:
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.close()

    def stop(self) -> None:
        """Ends the iteration at once with a last batch of the whole lines received.

        A connection attempt under way (at most `connect_timeout`) ends first.
        """
        self._stopping = True
        with contextlib.suppress(OSError):  # already woken, or closed
            self._waker.send(b"\0")

    def close(self) -> None:
        """Closes the connection at once; lines not yet yielded are left unread."""
        self._batches.close()
        self._selector.close()
        self._wake.close()
        self._waker.close()

    # The stream, as one generator: connect, receive, wait, and again.

    def _run(self) -> Generator[FeedBatch, None, None]:
        self._next_batch = time.monotonic() + self.batch_interval
        failures = 0
        while not self._stopping:
            connection = self._connect()
            if connection is not None:
                began = time.monotonic()
                with connection:
                    connection.setblocking(False)
                    self._selector.register(connection, selectors.EVENT_READ)
                    try:
                        reason = yield from self._receive(connection)
                    finally:
                        self._selector.unregister(connection)
                self._end_of_stream()
                if reason is None:
                    break
                self.stats.lost_connections += 1
                log.warning("connection to %s lost: %s", self.address, reason)
                if time.monotonic() - began >= self.backoff.healthy_after:
                    failures = 0
            failures += 1
            delay = self.backoff.delay(failures)
            log.info("connecting to %s again in %.1f s", self.address, delay)
            yield from self._wait_until(time.monotonic() + delay)
        yield self._batch()

    def _connect(self) -> socket.socket | None:
        try:
            connection = socket.create_connection((self.host, self.port), timeout=self.connect_timeout)
        except socket.gaierror as error:
            problem = f"cannot resolve {self.host!r}: {error.strerror}"
        except ConnectionRefusedError:
            problem = f"connection to {self.address} refused"
        except TimeoutError:
            problem = f"connection to {self.address} timed out after {self.connect_timeout:g} s"
        except OSError as error:
            problem = f"cannot connect to {self.address}: {error.strerror or error}"
        else:
            try:
                connection.sendall(self.login_line.encode("ascii"))
            except OSError as error:
                connection.close()
                problem = f"cannot log in to {self.address}: {error.strerror or error}"
            else:
                self.stats.connections += 1
                log.info("connected to %s as %s", self.address, self.callsign)
                return connection
        self.stats.failed_connects += 1
        log.warning("%s", problem)
        return None

    def _receive(self, connection: socket.socket) -> Generator[FeedBatch, None, str | None]:
        """Yields batches while the connection lasts; returns why it ended, None when stopped."""
        self.server = None
        greeting = _Greeting(self.callsign)
        view = memoryview(self._scratch)
        last_heard = time.monotonic()
        login_deadline = last_heard + self.login_timeout
        while not self._stopping:
            while self._lines.newlines >= self.batch_lines or time.monotonic() >= self._next_batch:
                yield self._batch()
                if self._stopping:
                    return None
            now = time.monotonic()
            if greeting.waiting and now >= login_deadline:
                greeting.waiting = False
                log.warning("no login response from %s within %g s", self.address, self.login_timeout)
            ready = self._selector.select(max(0.0, min(self._next_batch, last_heard + self.silence_timeout) - now))
            if self._stopping:
                return None
            try:
                received = connection.recv_into(view)
            except BlockingIOError:
                if not ready and time.monotonic() - last_heard >= self.silence_timeout:
                    return f"nothing received for {self.silence_timeout:g} s"
                continue
            except ConnectionResetError:
                return "connection reset by the server"
            except OSError as error:
                return f"{error.strerror or error}"
            if received == 0:
                return "connection closed by the server"
            last_heard = time.monotonic()
            self.stats.bytes_received += received
            self._lines.append(view[:received], time.time())
            if greeting.waiting:
                server = greeting.read(view[:received])
                if server is not None:
                    self.server = server
                    log.info("logged in to %s (server %s) as %s", self.address, server, self.callsign)
        return None

    def _wait_until(self, resume: float) -> Generator[FeedBatch, None, None]:
        """Waits for `resume` (monotonic time) or a stop, yielding batches as they fall due."""
        while not self._stopping:
            now = time.monotonic()
            if now >= self._next_batch:
                yield self._batch()
            elif now >= resume:
                return
            else:
                self._selector.select(min(self._next_batch, resume) - now)

    def _end_of_stream(self) -> None:
        dropped = self._lines.end_of_stream()
        if dropped:
            self._dropped_since_batch += 1
            self.stats.dropped_partial_lines += 1
            log.warning("dropped the unfinished last line (%d bytes) received from %s", dropped, self.address)

    def _batch(self) -> FeedBatch:
        self._next_batch = time.monotonic() + self.batch_interval
        taken = self._lines.take(self.batch_lines)
        first = self._next_line
        decoded = decode(taken.data, first_line_number=first)
        self._next_line += decoded.lines
        cut_lines = tuple(
            CutLine(first + _lines_before(taken.data, offset), head, length) for offset, head, length in taken.cut
        )
        failures = dict(decoded.failures)
        if cut_lines:
            failures[LINE_TOO_LONG] = len(cut_lines)
            for line in cut_lines:
                log.warning("line %d from %s cut at %d bytes: it had %d", line.line_number, self.address,
                            MAX_LINE_BYTES, line.length)
        batch = FeedBatch(
            decoded.beacons, decoded.errors, decoded.lines, decoded.decoded, decoded.failed + len(cut_lines),
            decoded.comments, decoded.blank - len(cut_lines), failures,
            first_line_number=first, server=self.server, received_from=_when(taken.received_from),
            received_to=_when(taken.received_to), cut_lines=cut_lines,
            dropped_partial_lines=self._dropped_since_batch,
        )
        self._dropped_since_batch = 0
        stats = self.stats
        stats.lines += batch.lines
        stats.decoded += batch.decoded
        stats.failed += batch.failed
        stats.comments += batch.comments
        stats.blank += batch.blank
        stats.failures.update(failures)
        return batch


def _lines_before(data: bytes, offset: int) -> int:
    """Lines ended in data[:offset], by the decoder's line ends."""
    head = data[:offset]
    return head.count(b"\n") + head.count(b"\r") - head.count(b"\r\n")


class _Greeting:
    """The server's first lines, searched for its login response.

    Only the first few kilobytes of a connection are searched: a server that
    sends none is reported once, by the caller, and followed all the same.
    """

    def __init__(self, callsign: str) -> None:
        self.callsign = callsign
        self.waiting = True
        self._text = bytearray()
        self._seen = 0  # bytes of _text already split into lines

    def read(self, data: memoryview) -> str | None:
        """Adds received bytes; returns the server's name once its login response is found."""
        room = _GREETING_BYTES - len(self._text)
        self._text += data[:room]
        end = max(self._text.rfind(b"\n"), self._text.rfind(b"\r")) + 1
        lines = bytes(self._text[self._seen:end]).splitlines()
        self._seen = max(self._seen, end)
        for line in lines:
            if line.startswith(b"# logresp"):
                self.waiting = False
                return self._checked(line)
            if line.startswith(b"#"):
                log.info("server says: %s", line[1:].strip().decode("utf-8", "replace"))
        if len(self._text) >= _GREETING_BYTES:
            self.waiting = False
            log.warning("no login response in the first %d bytes from the server", _GREETING_BYTES)
        return None

    def _checked(self, line: bytes) -> str | None:
        text = line.decode("utf-8", "replace")
        match = _LOGRESP.match(line)
        if match is None:
            log.warning("login response not understood: %r", text)
            return None
        callsign, status, server = (group.decode("utf-8", "replace") for group in match.groups())
        if callsign.upper() != self.callsign.upper() or status not in ("unverified", "verified"):
            log.warning("unexpected login response: %r", text)
        return server
