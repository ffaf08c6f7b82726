"""kav_aprs.feed against a scripted APRS-like server on 127.0.0.1.

Each scenario checks the lines delivered against the bytes the server sent:
every whole line once, in order, numbered across connections; the unfinished
line at a disconnect dropped and counted; lines over 4,096 bytes reported as
LineTooLong errors with their first 4,096 bytes. Timings are scaled down so
the table runs in a few seconds; every loop is bounded in count and time.
"""

import collections
import dataclasses
import datetime
import logging
import random
import socket
import threading
import time

import pyarrow as pa
import pytest

import kav_aprs
from aprs_test_server import BANNER, BEACONS, LOGRESP, VALID_LINES, AprsTestServer, login_script
from batch_reference import Expected, rows_of, split_lines
from kav_aprs.feed import LINE_TOO_LONG, MAX_LINE_BYTES, Backoff, Feed, FeedBatch, default_callsign
from kav_aprs.tally import COUNT_NAMES

CALL = b"KAVRX0001"
FAST = dict(batch_interval=0.05, silence_timeout=0.6, connect_timeout=2.0, login_timeout=0.4,
            backoff=Backoff(first=0.05, maximum=0.2, jitter=0.0, healthy_after=30.0))
LOGIN = f"user KAVRX0001 pass -1 vers kav-aprs {kav_aprs.__version__}\r\n".encode()


def _garbage() -> bytes:
    rng = random.Random(14)
    alphabet = bytes(b for b in range(256) if b not in b"\r\n")
    lines = [bytes(rng.choice(alphabet) for _ in range(rng.randint(0, 300))) for _ in range(150)]
    lines += [b"\xff\xfe>\x80,qAR,\xc3:/x", b"#\xff not utf-8 comment", b"\x00" * 10, VALID_LINES[0] + b"\xff"]
    return b"".join(line + b"\r\n" for line in lines)


def _overlong() -> list:
    at_limit = b"A" * MAX_LINE_BYTES + b"\r\n"
    one_over = b"B" * (MAX_LINE_BYTES + 1) + b"\r\n"
    huge = [("send", b"C" * 25_000)] * 4 + [("send", b"\r\n")]  # 100,000 bytes, in pieces
    return [("send", BEACONS[:500] + at_limit + one_over), *huge, ("send", BEACONS)]


@dataclasses.dataclass
class Scenario:
    scripts: list
    options: dict = dataclasses.field(default_factory=dict)
    listen_after: float = 0.0
    connections: int = 1
    failed_connects: int = 0  # at least this many
    server: str | None = "TESTSRV"
    login: bytes = LOGIN
    logs: tuple = ()


SCENARIOS = {
    "banner and login response": Scenario(
        [login_script(CALL, ("send", BEACONS), ("hold",))],
        logs=("server says: kav test server 1.0", "logged in to 127.0.0.1")),
    "login line with filter": Scenario(
        [login_script(CALL, ("send", BEACONS), ("hold",))], options={"filter": "r/48.1/11.6/200"},
        login=LOGIN[:-2] + b" filter r/48.1/11.6/200\r\n"),
    "keepalives only, longer than the silence timeout": Scenario(
        [login_script(CALL, *[("send", b"# keepalive\r\n"), ("sleep", 0.2)] * 6, ("send", BEACONS), ("hold",))]),
    "silence": Scenario(
        [login_script(CALL, ("send", BEACONS), ("sleep", 1.0)), login_script(CALL, ("send", BEACONS), ("hold",))],
        connections=2, logs=("lost: nothing received for 0.6 s",)),
    "closed mid-line": Scenario(
        [login_script(CALL, ("send", BEACONS + VALID_LINES[1][:30])),
         login_script(CALL, ("send", BEACONS), ("hold",))],
        connections=2, logs=("closed by the server", "dropped the unfinished last line (30 bytes)")),
    "reset": Scenario(
        [login_script(CALL, ("send", BEACONS), ("sleep", 0.3), ("send", b"KSK"), ("sleep", 0.3), ("reset",)),
         login_script(CALL, ("send", BEACONS), ("hold",))],
        connections=2, logs=("reset by the server",)),
    "refused, then accepting": Scenario(
        [login_script(CALL, ("send", BEACONS), ("hold",))], listen_after=0.4, failed_connects=1,
        logs=("refused",)),
    "one byte every 100 ms": Scenario([login_script(CALL, ("trickle", b"BAD>X:\r\n", 0.1), ("hold",))]),
    "garbage and non-UTF-8 bytes": Scenario([login_script(CALL, ("send", _garbage()), ("hold",))]),
    "over-long lines": Scenario([login_script(CALL, *_overlong(), ("hold",))], logs=("cut at 4096 bytes",)),
    "no login response": Scenario(
        [[("send", BANNER), ("login",), ("send", BEACONS), ("sleep", 0.3), ("send", b"# keepalive\r\n"),
          ("sleep", 0.3), ("hold",)]], server=None,
        logs=("no login response from 127.0.0.1",)),
    "login response for another name": Scenario(
        [[("send", BANNER), ("login",), ("send", LOGRESP % b"OTHER"), ("send", BEACONS), ("hold",)]],
        logs=("unexpected login response from 127.0.0.1", "it answers for OTHER, not for KAVRX0001")),
    "login response with an unknown status": Scenario(
        [[("send", BANNER), ("login",), ("send", b"# logresp KAVRX0001 invalid, server TESTSRV\r\n"),
          ("send", BEACONS), ("hold",)]],
        logs=("unexpected login response from 127.0.0.1", "its status is 'invalid', not 'unverified'")),
}

# Streams whose line ends and over-long lines test the framing, each sent in
# pieces cut right before or right after every line-end byte, with time for a
# batch between pieces; a second connection follows, starting with a line
# feed that must not pair with a carriage return that ended the first.
FRAMING_STREAMS = {
    "crlf lines": b"a\r\nbb\r\nccc\r\n",
    "lf and lone cr": b"a\nb\rc\r\n\r\n",
    "partial at the end": b"a\r\nb",
    "cr at the end, lf never comes": b"a\r",
    "line at the limit": b"x" * MAX_LINE_BYTES + b"\r\n",
    "line one over the limit": b"x" * (MAX_LINE_BYTES + 1) + b"\r\nok\r\n",
    "long line after a lone cr, ended by lf": b"a\r" + b"y" * (MAX_LINE_BYTES + 900) + b"\nb\n",
    "long line ended by lone cr": b"z" * (MAX_LINE_BYTES + 500) + b"\rq\r\n",
    "two long lines in a row": b"L" * (MAX_LINE_BYTES + 4) + b"\r\n" + b"M" * 3 * MAX_LINE_BYTES + b"\r\nn\r\n",
    "long line never ended": b"ok\r\n" + b"w" * (MAX_LINE_BYTES + 100),
    "empty lines only": b"\r\n\r\n\n",
}


def _framing_scenario(data: bytes, after: bool) -> Scenario:
    """`data` sent in pieces cut right before (or after) each of its \\r and \\n bytes, then a new connection."""
    cuts = sorted({i + after for i, byte in enumerate(data) if byte in b"\r\n"} - {0, len(data)})
    pieces = [data[a:b] for a, b in zip([0, *cuts], [*cuts, len(data)])]
    first = login_script(CALL, *[step for piece in pieces for step in (("send", piece), ("sleep", 0.03))])
    second = login_script(CALL, ("send", b"\n# second connection\r\n"), ("hold",))
    return Scenario([first, second], options={"batch_lines": 2, "batch_interval": 0.02}, connections=2)


SCENARIOS.update({
    f"{name}, cut {where} line ends": _framing_scenario(data, after=where == "after")
    for name, data in FRAMING_STREAMS.items() for where in ("before", "after")})


@dataclasses.dataclass
class Sent:
    """What the client should deliver of the bytes a server sent."""

    lines: list  # whole lines, in order, the over-long ones whole too
    dropped: int

    @classmethod
    def of(cls, connections) -> "Sent":
        lines, dropped = [], 0
        for sent in connections:
            whole = bytes(sent[: max(sent.rfind(b"\n"), sent.rfind(b"\r")) + 1])
            dropped += len(sent) > len(whole)
            lines += split_lines(whole)
        return cls(lines, dropped)

    def expected(self) -> tuple[Expected, list]:
        """The rows and counts of the lines, with the over-long ones as LineTooLong errors."""
        expected = Expected(b"".join((b"" if len(line) > MAX_LINE_BYTES else line) + b"\n" for line in self.lines))
        cut = [too_long(number, line) for number, line in enumerate(self.lines, 1) if len(line) > MAX_LINE_BYTES]
        expected.errors = sorted(expected.errors + cut, key=lambda row: row["line_number"])
        expected.blank -= len(cut)
        expected.failures.update({LINE_TOO_LONG: len(cut)} if cut else {})
        return expected, cut


def too_long(number: int, line: bytes) -> dict:
    return {"line_number": number, "error_kind": LINE_TOO_LONG,
            "error": f"LineTooLong: a line of {len(line)} bytes, cut at {MAX_LINE_BYTES}",
            "line": line[:MAX_LINE_BYTES]}


def follow(server: AprsTestServer, **options) -> tuple[Feed, list]:
    """Follows `server` until it has sent everything and as many lines as it sent have come (10 s at most)."""
    batches = []
    deadline = time.monotonic() + 10.0
    sent_lines = None
    with Feed("127.0.0.1", server.port, callsign=CALL.decode(), **{**FAST, **options}) as feed:
        for batch in feed:
            batches.append(batch)
            if sent_lines is None and server.done.is_set():
                sent_lines = len(Sent.of(server.sent).lines)
            if time.monotonic() > deadline or (sent_lines is not None and feed.stats.lines >= sent_lines):
                feed.stop()
    return feed, batches


@pytest.mark.parametrize("name", SCENARIOS)
def test_every_whole_line_sent_is_delivered_once(name, caplog):
    scenario = SCENARIOS[name]
    caplog.set_level(logging.INFO, logger="kav_aprs.feed")
    with AprsTestServer(scenario.scripts, listen_after=scenario.listen_after) as server:
        feed, batches = follow(server, **scenario.options)
    sent = Sent.of(server.sent)
    expected, cut = sent.expected()

    beacons, errors = [], []
    for batch in batches:
        batch_beacons, batch_errors = rows_of(batch)
        beacons += batch_beacons
        errors += batch_errors
        assert batch.lines == batch.decoded + batch.failed + batch.comments + batch.blank
        assert batch.failed == len(batch_errors)
        assert batch.source == feed.address
    assert beacons == expected.beacons
    assert errors == expected.errors
    assert sum(b.lines for b in batches) == expected.lines == feed.stats.lines
    assert sum(b.comments for b in batches) == expected.comments
    assert sum(b.blank for b in batches) == expected.blank
    assert sum((collections.Counter(b.failures) for b in batches), collections.Counter()) == expected.failures
    for count in COUNT_NAMES:  # the feed's statistics are the sums of what it yielded
        assert getattr(feed.stats, count) == sum(getattr(b, count) for b in batches), count
    assert feed.stats.failures == expected.failures
    assert feed.stats.dropped_partial_lines == sent.dropped
    numbers = [b.first_line_number for b in batches]
    assert numbers == [1] + [n + b.lines for n, b in zip(numbers, batches)][:-1]

    assert feed.stats.connections == scenario.connections
    assert feed.stats.failed_connects >= scenario.failed_connects
    assert server.logins == [scenario.login] * len(server.sent)
    assert feed.server == scenario.server
    messages = "\n".join(record.getMessage() for record in caplog.records)
    for wanted in scenario.logs:
        assert wanted in messages
    if cut:
        assert f"cut at {MAX_LINE_BYTES} bytes ({LINE_TOO_LONG}" in messages
    with_data = [b for b in batches if b.lines]
    assert all(b.received_from <= b.received_to for b in with_data)


def test_a_burst_of_100000_lines_arrives_whole_in_batches_of_10000_and_at_most_one_read_more():
    burst = b"".join(line + b"\r\n" for line in VALID_LINES * 100)
    read_bytes = 1 << 16
    with AprsTestServer([login_script(CALL, ("send", burst), ("hold",))]) as server:
        feed, batches = follow(server, read_bytes=read_bytes)
    lines_a_read = read_bytes // (min(map(len, VALID_LINES)) + 2)
    numbers, callsigns = [], []
    for batch in batches:
        assert batch.lines < 10_000 + lines_a_read
        assert batch.failed == 0
        table = pa.table(batch.beacons)
        numbers += table.column("line_number").to_pylist()
        callsigns += table.column("callsign").to_pylist()
    # Three server lines come first: the banner, the login response, then the burst.
    assert numbers == list(range(3, 3 + len(VALID_LINES) * 100))
    expected_callsigns = [line.split(b">")[0].split(b" ")[0].decode() for line in VALID_LINES]
    assert callsigns == expected_callsigns * 100
    assert feed.stats.comments == 2 and feed.stats.decoded == 100_000


@pytest.mark.parametrize("error, wanted", [
    (socket.gaierror(-2, "Name or service not known"), "cannot resolve 'aprs.example': Name or service not known"),
    (ConnectionRefusedError(111, "Connection refused"), "connection to aprs.example:14580 refused"),
    (TimeoutError(), "connection to aprs.example:14580 timed out after 2 s"),
    (OSError(113, "No route to host"), "cannot connect to aprs.example:14580: No route to host"),
], ids=["unresolved", "refused", "timed_out", "no_route"])
def test_failed_connections_are_reported_and_retried_with_batches_going_on(monkeypatch, caplog, error, wanted):
    attempts = []

    def fail(address, timeout):
        attempts.append(time.monotonic())
        raise error

    monkeypatch.setattr(socket, "create_connection", fail)
    caplog.set_level(logging.INFO, logger="kav_aprs.feed")
    batches = []
    with Feed("aprs.example", 14580, **FAST) as feed:
        for batch in feed:
            batches.append(batch)
            if len(attempts) >= 4 or len(batches) > 200:
                feed.stop()
    assert len(attempts) >= 4
    assert feed.stats.failed_connects == len(attempts) and feed.stats.connections == 0
    assert [r.getMessage() for r in caplog.records if r.levelno == logging.WARNING][0] == wanted
    # Back-off of 0.05, 0.1, 0.2 s between the attempts, with an empty batch every 0.05 s meanwhile.
    gaps = [b - a for a, b in zip(attempts, attempts[1:])]
    assert [round(g, 2) >= w for g, w in zip(gaps, (0.05, 0.1, 0.2))] == [True] * 3
    assert all(b.lines == 0 for b in batches) and len(batches) >= 6


@pytest.mark.parametrize("backoff, failures, random_value, delay", [
    (Backoff(), 1, 0.0, 1.0),
    (Backoff(), 2, 0.0, 2.0),
    (Backoff(), 6, 0.0, 32.0),
    (Backoff(), 7, 0.0, 60.0),  # 64 s, capped
    (Backoff(), 10_000, 0.0, 60.0),  # no overflow however long the outage
    (Backoff(), 1, 1.0, 0.75),  # jitter shortens, never lengthens
    (Backoff(), 7, 0.5, 52.5),
    (Backoff(first=0.5, maximum=3.0, jitter=0.0), 4, 0.9, 3.0),
], ids=["first", "second", "sixth", "capped", "no_overflow", "full_jitter", "half_jitter_capped",
        "own_settings_capped"])
def test_backoff_doubles_to_its_maximum_and_jitter_only_shortens(backoff, failures, random_value, delay):
    class Fixed(random.Random):
        def random(self):
            return random_value

    assert backoff.delay(failures, Fixed()) == pytest.approx(delay)


def test_a_connection_that_lasted_a_healthy_while_starts_the_backoff_afresh(caplog):
    # A fourth connection: the feed may stop once the server is done, before it logs the last wait.
    scripts = [login_script(CALL, ("send", BEACONS), ("sleep", 0.3))] * 4
    caplog.set_level(logging.INFO, logger="kav_aprs.feed")
    with AprsTestServer(scripts) as server:
        follow(server, backoff=Backoff(first=0.05, maximum=0.4, jitter=0.0, healthy_after=0.2))
    waits = [r.getMessage() for r in caplog.records if "again in" in r.getMessage()]
    assert waits[:3] == ["connecting to 127.0.0.1:%d again in 0.1 s" % server.port] * 3


@pytest.mark.parametrize("options, message", [
    ({"callsign": "N0 CALL"}, "callsign must be"),
    ({"callsign": ""}, "callsign must be"),
    ({"filter": "r/1/2/3\r\nuser X"}, "filter must be one line"),
    ({"filter": " "}, "filter must be one line"),
    ({"filter": "b/D-KÄSE"}, "filter must be one line of printable ASCII"),  # the login line is ASCII
    ({"read_bytes": 0}, "read_bytes must be"),  # a read of nothing would look like a closed connection
    ({"port": 0}, "port must be"),
    ({"port": 65536}, "port must be"),
    ({"batch_lines": 0}, "batch_lines must be"),
    ({"batch_interval": 0}, "batch_interval must be"),
    ({"silence_timeout": -1.0}, "silence_timeout must be"),
], ids=["callsign_with_space", "callsign_empty", "filter_two_lines", "filter_blank",
        "filter_not_ascii", "read_bytes_zero", "port_zero", "port_beyond_65535", "batch_lines_zero",
        "batch_interval_zero", "silence_timeout_negative"])
def test_bad_arguments_are_refused_before_connecting(options, message):
    with pytest.raises(ValueError, match=message):
        Feed("127.0.0.1", **{"port": 14580, **options})


def test_the_default_callsign_is_a_receive_only_name():
    names = {default_callsign() for _ in range(50)}
    assert all(name.startswith("KAVRX") and len(name) == 9 and name[5:].isdigit() for name in names)
    assert len(names) > 1
    assert Feed("127.0.0.1", 14580).login_line.startswith("user KAVRX")


@pytest.mark.parametrize("listen_after", [0.0, 5.0], ids=["connected", "waiting to reconnect"])
def test_stop_ends_at_once_with_a_last_batch_of_every_whole_line_received(listen_after):
    """No need to wait for the batch interval, the silence timeout or the back-off."""
    script = login_script(CALL, ("send", BEACONS), ("hold",))
    with AprsTestServer([script], listen_after=listen_after) as server:
        feed = Feed("127.0.0.1", server.port, callsign=CALL.decode(), batch_interval=30.0, silence_timeout=30.0,
                    backoff=Backoff(first=30.0))
        timer = threading.Timer(0.5, feed.stop)
        timer.start()
        started = time.monotonic()
        with feed:
            batches = list(feed)
        timer.join()
    assert time.monotonic() - started < 2.0
    assert len(batches) == 1
    assert batches[0].lines == (len(Sent.of(server.sent).lines) if listen_after == 0.0 else 0)


def _until(feed: Feed, done, seconds: float = 5.0) -> list:
    """The batches of `feed` until done(feed, batches) or `seconds` have passed, at most 1,000 of them."""
    batches = []
    deadline = time.monotonic() + seconds
    for batch in feed:
        batches.append(batch)
        if done(feed, batches) or time.monotonic() > deadline or len(batches) >= 1_000:
            feed.stop()
    return batches


def test_a_line_feed_after_a_batch_ends_the_long_line_it_follows_not_the_lone_cr_before_it():
    """The \\n that ends a line over the limit, begun right after a lone \\r, comes after a batch was taken.

    It ends the long line; taken for the second half of that \\r, it would
    let the long line swallow the beacon after it, and number every later
    line one too low.
    """
    before = VALID_LINES[0] + b"\r" + b"L" * (MAX_LINE_BYTES + 900)
    after = b"\n" + VALID_LINES[1] + b"\r\n" + VALID_LINES[2] + b"\r\n"
    before_received = len(BANNER) + len(LOGRESP % CALL) + len(before)
    taken = threading.Event()  # set once a batch was taken with the long line past the limit

    def done(feed, batches):
        if feed.stats.bytes_received >= before_received and feed.stats.lines >= 3:
            taken.set()
        return feed.stats.lines >= 6

    script = login_script(CALL, ("send", before), ("wait", taken), ("send", after), ("hold",))
    with AprsTestServer([script]) as server, \
            Feed("127.0.0.1", server.port, callsign=CALL.decode(), **FAST) as feed:
        batches = _until(feed, done)
    assert taken.is_set()
    beacons = [row for batch in batches for row in rows_of(batch)[0]]
    errors = [row for batch in batches for row in rows_of(batch)[1]]
    assert [(row["line_number"], row["callsign"]) for row in beacons] == [
        (number, line.split(b">")[0].decode()) for number, line in zip((3, 5, 6), VALID_LINES)]
    assert errors == [too_long(4, before[len(VALID_LINES[0]) + 1:])]
    assert feed.stats.lines == 6 and feed.stats.decoded == 3 and feed.stats.failures == {LINE_TOO_LONG: 1}


def test_stop_right_after_a_batch_due_to_its_count_keeps_every_line_received():
    """A batch due to its count takes every line gathered, not the first batch_lines of them.

    None is cut inside a read, where its line ends may be split, and a stop
    that follows at once leaves none behind.
    """
    burst = b"".join(line + b"\r\n" for line in VALID_LINES[:60])
    script = login_script(CALL, ("send", burst), ("hold",))
    with AprsTestServer([script]) as server, \
            Feed("127.0.0.1", server.port, callsign=CALL.decode(), **{**FAST, "batch_lines": 5}) as feed:
        batches = _until(feed, lambda feed, batches: feed.stats.lines >= 5)
    received = bytes(server.sent[0][:feed.stats.bytes_received])
    assert feed.stats.lines == len(Sent.of([received]).lines) > 5
    assert sum(batch.lines for batch in batches) == feed.stats.lines
    assert [row["line_number"] for batch in batches for row in rows_of(batch)[0]] == list(
        range(3, feed.stats.lines + 1))


def test_a_batch_is_dated_by_the_reads_that_brought_the_first_byte_of_its_first_line_and_its_last_line_end():
    sends = [b"# one line in two reads,", b" the end\r\n# a line in the same read\r\n", b"# the next batch\r", b"\n"]
    script = login_script(CALL, *[step for data in sends for step in (("sleep", 0.3), ("send", data))], ("hold",))
    every_byte = len(BANNER) + len(LOGRESP % CALL) + len(b"".join(sends))
    started = datetime.datetime.now(datetime.timezone.utc)
    with AprsTestServer([script]) as server, \
            Feed("127.0.0.1", server.port, callsign=CALL.decode(), **{**FAST, "batch_interval": 0.1}) as feed:
        batches = _until(feed, lambda feed, batches: feed.stats.bytes_received == every_byte)
    ended = datetime.datetime.now(datetime.timezone.utc)

    def batch_with(line_number):
        [batch] = [b for b in batches if b.first_line_number <= line_number < b.first_line_number + b.lines]
        return batch

    split, whole = batch_with(3), batch_with(5)
    assert split is batch_with(4)  # ended by the read that brought line 4 whole
    assert 0.2 < (split.received_to - split.received_from).total_seconds() < 1.5
    # Line 5 ended at its \r; the \n that came alone later brought no line.
    assert whole.lines == 1 and whole.received_from == whole.received_to
    assert started <= batch_with(1).received_from <= split.received_from < split.received_to < whole.received_from
    assert whole.received_to <= ended and whole.received_to.tzinfo == datetime.timezone.utc
    assert feed.stats.lines == 5
    assert all(b.received_from is b.received_to is None for b in batches if not b.lines)
    assert not batches[-1].lines


def test_feed_batch_is_the_decoded_type_and_the_stats_keep_their_names():
    assert FeedBatch is kav_aprs.Decoded
    with Feed("127.0.0.1", 14580) as feed:
        stats = feed.stats
    for name in (*COUNT_NAMES, "connections", "failed_connects", "lost_connections", "dropped_partial_lines",
                 "bytes_received", "reconnects"):
        assert getattr(stats, name) == 0, name
    assert stats.failures == {}
