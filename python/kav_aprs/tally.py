"""Running totals of the line counts of decoded batches.

The counts are the ones a ``Decoded`` has, by the names the native module
lists (``COUNT_NAMES``): a count added to the decoder shows here, in the
command's summary and in a feed's statistics without a line of Python.
"""

from __future__ import annotations

import collections
from typing import Any

from . import _native

COUNT_NAMES: tuple[str, ...] = _native.COUNT_NAMES


class Tally:
    """The sum of every count of the batches added, and of their failures per kind.

    ``tally.lines``, ``tally.decoded`` and so on read like a ``Decoded``'s counts.
    """

    def __init__(self) -> None:
        self.counts: dict[str, int] = dict.fromkeys(COUNT_NAMES, 0)
        self.failures: collections.Counter[str] = collections.Counter()

    def add(self, decoded: _native.Decoded) -> None:
        counts = self.counts
        for name in COUNT_NAMES:
            counts[name] += getattr(decoded, name)
        self.failures.update(decoded.failures)

    def __getattr__(self, name: str) -> Any:
        counts = self.__dict__.get("counts", {})
        if name in counts:
            return counts[name]
        raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")
