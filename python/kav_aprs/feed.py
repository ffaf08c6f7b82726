"""Following an APRS server: its beacon lines decoded batch by batch, reconnecting on faults.

``Feed`` logs in as a receive-only client, reads the server's stream and
yields one ``Decoded`` per batch interval, in the caller's own thread: the
waiting is done by a selector with a timeout, not a thread. Silence, a closed
or reset connection, a refused connection or a name that does not resolve
leads to a new connection after an exponential back-off; every whole line
received reaches the caller exactly once, and what cannot (the start of a line
cut off by a disconnect) is counted and logged on the ``kav_aprs.feed``
logger. A line over 4,096 bytes fails as ``LineTooLong``, with its first
4,096 bytes in the batch's ``errors``.

The reads are cut into lines by the native framer, the rule of line ends that
every reader of this package shares; this module never looks for a line end
in the stream itself, only in the server's first few lines for its login
response, and then through the same rule.
"""

from __future__ import annotations

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
from . import _native
from ._native import Decoded
from .tally import Tally

__all__ = ["Backoff", "Feed", "FeedBatch", "FeedStats", "LINE_TOO_LONG", "MAX_LINE_BYTES", "default_callsign"]

log = logging.getLogger(__name__)

MAX_LINE_BYTES = 4096
LINE_TOO_LONG = "LineTooLong"  # the failure kind of a line over MAX_LINE_BYTES, as the decoder names it
_CALLSIGN = re.compile(r"[A-Za-z0-9][A-Za-z0-9-]{0,19}")
_LOGRESP = re.compile(rb"# logresp (\S+) (\w+),? server (\S+)")
_LOGIN_STATUSES = ("unverified", "verified")  # a receive-only login (pass -1) is answered "unverified"
_GREETING_BYTES = 8192  # how much of a connection's start is searched for the login response

# What a Feed yields, by the name it had when it was a class of its own: a
# batch is now a plain ``Decoded`` (see ``Feed`` for its source and times).
# What the class had besides moved: the server's name is ``Feed.server``, a
# line over MAX_LINE_BYTES is a row of kind LINE_TOO_LONG in ``errors`` (so
# ``failed == len(errors)``), and the lines cut off by disconnects are counted
# in ``Feed.stats.dropped_partial_lines`` only.
FeedBatch = Decoded


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


class FeedStats(Tally):
    """Counts since the feed started: a ``Tally`` of the batches yielded, and the connections.

    The line counts (`lines`, `decoded`, `failed`, `comments`, `blank`,
    `failures`) are those of every batch yielded so far. `connections` counts
    connections made, `failed_connects` attempts that failed (refused, name not
    resolved, timed out), `lost_connections` those that ended (closed, reset,
    silent), `dropped_partial_lines` the starts of lines that a connection's
    end cut off, `bytes_received` every byte read.
    """

    def __init__(self) -> None:
        super().__init__()
        self.connections = 0
        self.failed_connects = 0
        self.lost_connections = 0
        self.dropped_partial_lines = 0
        self.bytes_received = 0

    @property
    def reconnects(self) -> int:
        """Connections made after the first."""
        return max(0, self.connections - 1)

    def __repr__(self) -> str:
        fields = {**self.counts, **{name: value for name, value in vars(self).items() if name != "counts"}}
        return f"FeedStats({', '.join(f'{name}={value!r}' for name, value in fields.items())})"


def _when(seconds: float | None) -> datetime.datetime | None:
    return None if seconds is None else datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc)


def _positive(name: str, value: float) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not value > 0:
        raise ValueError(f"{name} must be a positive number, not {value!r}")
    return value


class Feed:
    """An APRS server's stream as an iterator of ``Decoded`` batches, one per batch interval.

    A batch's lines are numbered across connections from 1, the server's own
    comment lines included; its ``source`` is the feed's ``address``, and its
    ``received_from`` and ``received_to`` are the UTC times of the read that
    brought the first byte of its first line and of the one that brought its
    last line end (None for an empty batch).

    Use it as a context manager, or call ``close()``, to close the connection.
    ``stop()`` (safe to call from a signal handler) ends the iteration after
    one last batch of the whole lines received. Iteration goes on through
    faults and reconnections, yielding a batch every `batch_interval` seconds
    even while waiting to reconnect (an empty one if nothing came), or as soon
    as `batch_lines` lines have come. A batch holds every whole line received
    since the one before, so one due to its count may hold more than
    `batch_lines` lines, by up to the lines of the read that reached it: the
    feed takes what the framer has gathered as a whole, rather than looking
    for the `batch_lines`-th line end itself, whose ``\\r`` and ``\\n`` may
    come in two reads.
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
        self._framer = _native.LineFramer(MAX_LINE_BYTES)
        self._scratch = bytearray(read_bytes)  # every read lands here; the framer copies the whole lines out
        # time.time() of the read that brought the first byte of the unfinished
        # line, and of the reads that brought the first and the last line of the
        # lines gathered for the next batch.
        self._line_began: float | None = None
        self._received_from: float | None = None
        self._received_to: float | None = None
        self._next_line = 1
        self._next_batch = 0.0
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

    def __next__(self) -> Decoded:
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

    def _run(self) -> Generator[Decoded, None, None]:
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

    def _receive(self, connection: socket.socket) -> Generator[Decoded, None, str | None]:
        """Yields batches while the connection lasts; returns why it ended, None when stopped."""
        self.server = None
        greeting = _Greeting(self.callsign, self.address)
        view = memoryview(self._scratch)
        last_heard = time.monotonic()
        login_deadline = last_heard + self.login_timeout
        while not self._stopping:
            if self._framer.gathered_lines >= self.batch_lines or time.monotonic() >= self._next_batch:
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
            self._gather(received, time.time())
            if greeting.waiting:
                server = greeting.read(view[:received])
                if server is not None:
                    self.server = server
                    log.info("logged in to %s (server %s) as %s", self.address, server, self.callsign)
        return None

    def _gather(self, received: int, when: float) -> None:
        """Frames the read of `received` bytes made at `when`, keeping its whole lines for the next batch."""
        began = when if self._line_began is None else self._line_began
        if self._framer.push(self._scratch, received):
            if self._received_from is None:
                self._received_from = began
            self._received_to = began = when  # the line left unfinished, if any, began in this read
        self._line_began = began if self._framer.unfinished_bytes else None

    def _wait_until(self, resume: float) -> Generator[Decoded, None, None]:
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
        """Drops the line a connection's end cut off: the rest of it will never come."""
        dropped = self._framer.drop_unfinished()
        self._line_began = None
        if dropped:
            self.stats.dropped_partial_lines += 1
            log.warning("dropped the unfinished last line (%d bytes) received from %s", dropped, self.address)

    def _batch(self) -> Decoded:
        self._next_batch = time.monotonic() + self.batch_interval
        batch = self._framer.take().decode(
            self._next_line, source=self.address,
            received_from=_when(self._received_from), received_to=_when(self._received_to))
        self._received_from = self._received_to = None
        self._next_line += batch.lines
        self.stats.add(batch)
        cut = batch.failures.get(LINE_TOO_LONG, 0)
        if cut:
            log.warning("%d line%s from %s cut at %d bytes (%s, among lines %d to %d)", cut, "s" * (cut > 1),
                        self.address, MAX_LINE_BYTES, LINE_TOO_LONG, batch.first_line_number, self._next_line - 1)
        return batch


class _Greeting:
    """The server's first lines, searched for its login response.

    Only the first few kilobytes of a connection are searched: a server that
    sends none is reported once, by the caller, and followed all the same.
    The lines are cut by the native rule of line ends, as the framer cuts them.
    """

    def __init__(self, callsign: str, address: str) -> None:
        self.callsign = callsign
        self.address = address
        self.waiting = True
        self._searched = 0  # bytes of the connection's start looked at
        self._unfinished = b""  # the start of a line whose end has not come yet

    def read(self, data: memoryview) -> str | None:
        """Adds received bytes; returns the server's name once its login response is found."""
        room = _GREETING_BYTES - self._searched
        text = self._unfinished + bytes(data[:room])
        self._searched += min(room, len(data))
        while (start := _native.line_start(text, len(text))) is not None:
            line, text = text[:start], text[start:]
            if line.startswith(b"# logresp"):
                self.waiting = False
                return self._checked(line)
            if line.startswith(b"#"):
                log.info("server says: %s", line[1:].strip().decode("utf-8", "replace"))
        self._unfinished = text
        if self._searched >= _GREETING_BYTES:
            self.waiting = False
            log.warning("no login response in the first %d bytes from %s", _GREETING_BYTES, self.address)
        return None

    def _checked(self, line: bytes) -> str | None:
        """The server's name in a login response, with a warning for what is not as asked."""
        text = line.strip().decode("utf-8", "replace")
        match = _LOGRESP.match(line)
        if match is None:
            log.warning("login response from %s not understood: %r", self.address, text)
            return None
        callsign, status, server = (group.decode("utf-8", "replace") for group in match.groups())
        unexpected = []
        if callsign.upper() != self.callsign.upper():
            unexpected.append(f"it answers for {callsign}, not for {self.callsign} as logged in: the server may"
                              " rename a callsign it does not accept, so choose another")
        if status not in _LOGIN_STATUSES:
            unexpected.append(f"its status is {status!r}, not 'unverified' as for a receive-only login: the server"
                              " may not have accepted it, so check the callsign")
        if unexpected:
            log.warning("unexpected login response from %s: %s (%r)", self.address, "; ".join(unexpected), text)
        return server
