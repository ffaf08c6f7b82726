"""KAV aircraft beacon lines decoded into Arrow columns, from buffers, files, streams and live feeds.

``decode`` turns a buffer of lines into a ``Decoded``: the decoded lines in
``beacons``, the failed ones in ``errors``, both readable by any consumer of
Arrow's PyCapsule interface (pyarrow, polars, DuckDB), and counts of every
kind of line. ``open`` reads a file, a binary stream or standard input,
compressed or not, as an iterator of ``Decoded`` batches and as one Arrow
stream of its beacons.
"""

from typing import TYPE_CHECKING, Any

from ._native import Decoded, decode

if TYPE_CHECKING:
    from ._sources import DamagedInputError
    from .reader import Reader, iter_decoded, open

__all__ = ["DamagedInputError", "Decoded", "Reader", "decode", "iter_decoded", "open"]

# Loaded when first asked for: the kav-aprs command imports this package
# first, and should not pay on every run for what it does not use. The
# version comes from importlib.metadata, which takes a while to import.
_LAZY = {"DamagedInputError": "_sources", "Reader": "reader", "iter_decoded": "reader", "open": "reader"}


def __getattr__(name: str) -> Any:
    if name in _LAZY:
        import importlib

        value = getattr(importlib.import_module(f".{_LAZY[name]}", __name__), name)
        globals()[name] = value
        return value
    if name == "__version__":
        import importlib.metadata

        version = importlib.metadata.version("kav_aprs_parser_pyo3")
        globals()["__version__"] = version
        return version
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted({*globals(), *__all__, "__version__"})
