"""Counts the outcome of every line and reports progress and totals on standard error."""

import collections
import re
import time

# "Parse error: ParseError(InvalidTimestamp(...))" or "Parse error: MissingKAVBeaconID":
# the kind is the first variant name after the prefix.
_ERROR_KIND = re.compile(r"Parse error: (?:ParseError\()?(\w+)")


def error_kind(message):
    match = _ERROR_KIND.match(message)
    return match.group(1) if match else "Unrecognised"


class DecodeTally:
    def __init__(self):
        self.decoded = 0
        self.blank = 0
        self.unreadable_inputs = 0
        self.failures = collections.Counter()

    @property
    def lines(self):
        return self.decoded + self.blank + self.failed

    @property
    def failed(self):
        return sum(self.failures.values())


class ProgressLine:
    """A single self-overwriting status line, shown only once a run takes a while."""

    FIRST_AFTER = 0.5
    EVERY = 0.25

    def __init__(self, stream, clock=time.monotonic):
        self._stream = stream
        self._clock = clock
        self._started = clock()
        self._next_draw = self._started + self.FIRST_AFTER
        self._width = 0

    def update(self, tally):
        now = self._clock()
        if now < self._next_draw:
            return
        self._next_draw = now + self.EVERY
        rate = tally.lines / max(now - self._started, 1e-9)
        text = (
            f"{tally.lines} lines: {tally.decoded} decoded, {tally.failed} failed"
            f" ({rate:,.0f} lines/s)"
        )
        # Pad to the previous width so a shorter text leaves no stale characters.
        self._stream.write("\r" + text.ljust(self._width))
        self._stream.flush()
        self._width = len(text)

    def clear(self):
        if self._width:
            self._stream.write("\r" + " " * self._width + "\r")
            self._stream.flush()
            self._width = 0


def write_summary(stream, tally, seconds):
    rate = tally.lines / max(seconds, 1e-9)
    rows = [
        ("lines read", tally.lines),
        ("decoded", tally.decoded),
        ("failed", tally.failed),
    ]
    rows += [(f"  {kind}", count) for kind, count in sorted(tally.failures.items())]
    rows.append(("blank, skipped", tally.blank))
    if tally.unreadable_inputs:
        rows.append(("unreadable inputs", tally.unreadable_inputs))
    width = max(len(label) for label, _ in rows)
    stream.write(f"summary: {tally.lines} lines in {seconds:.3f} s, {rate:,.0f} lines/s\n")
    for label, count in rows:
        stream.write(f"  {label.ljust(width)}  {count:>8}\n")
    stream.flush()
