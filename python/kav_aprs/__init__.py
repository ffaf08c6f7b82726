"""Whole buffers of KAV aircraft beacon lines decoded into Arrow columns.

``decode`` turns a buffer of lines into a ``Decoded``: the decoded lines in
``beacons``, the failed ones in ``errors``, both readable by any consumer of
Arrow's PyCapsule interface (pyarrow, polars, DuckDB), and counts of every kind
of line. ``iter_decoded`` does the same chunk by chunk for a file, a binary
stream or standard input, compressed or not.
"""

from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from ._decoded import Decoded, decode, iter_decoded

__all__ = ["Decoded", "decode", "iter_decoded"]


def __getattr__(name: str) -> Any:
    # Loaded when first asked for, as is the version, so that the kav-aprs
    # command, which imports this package first, does not pay on every run for
    # what it does not use: Decoded is a dataclass, and dataclasses with what
    # it imports (inspect, ast, dis, tokenize) take about 10 ms; the version
    # comes from importlib.metadata, which takes longer still.
    if name in __all__:
        from . import _decoded

        value = getattr(_decoded, name)
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
