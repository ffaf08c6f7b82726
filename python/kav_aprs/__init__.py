"""Whole buffers of KAV aircraft beacon lines decoded into Arrow columns.

``decode`` turns a buffer of lines into a ``Decoded``: the decoded lines in
``beacons``, the failed ones in ``errors``, both readable by any consumer of
Arrow's PyCapsule interface (pyarrow, polars, DuckDB), and counts of every kind
of line. ``iter_decoded`` does the same chunk by chunk for a file, a binary
stream or standard input, compressed or not.
"""

import importlib.metadata

from ._decoded import Decoded, decode, iter_decoded

__all__ = ["Decoded", "decode", "iter_decoded"]
__version__ = importlib.metadata.version("kav_aprs_parser_pyo3")
