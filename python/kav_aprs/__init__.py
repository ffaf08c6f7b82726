"""Whole buffers of KAV aircraft beacon lines decoded into Arrow columns.

``decode`` turns a buffer of lines into a ``Decoded``: the decoded lines in
``beacons``, the failed ones in ``errors``, both readable by any consumer of
Arrow's PyCapsule interface (pyarrow, polars, DuckDB), and counts of every kind
of line. ``iter_decoded`` does the same chunk by chunk for a file, a binary
stream or standard input, compressed or not.
"""

from typing import Any

from ._decoded import Decoded, decode, iter_decoded

__all__ = ["Decoded", "decode", "iter_decoded"]


def __getattr__(name: str) -> Any:
    # The version is read from the installed metadata when first asked for:
    # importlib.metadata takes longer to import than the rest of the package,
    # and the command's start-up would pay for it on every run.
    if name == "__version__":
        import importlib.metadata

        version = importlib.metadata.version("kav_aprs_parser_pyo3")
        globals()["__version__"] = version
        return version
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
