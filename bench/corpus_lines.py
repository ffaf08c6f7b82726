"""The bundled benchmark corpus: one beacon line per line of each file."""

from __future__ import annotations

import pathlib

CORPUS_DIR = pathlib.Path(__file__).resolve().parent / "corpus"


def load(name: str) -> list[bytes]:
    """The lines of bench/corpus/<name>.txt as bytes, without their line feeds.

    Only b"\\n" separates lines: a carriage return or a tab is part of a line,
    as it would be on the wire.
    """
    data = (CORPUS_DIR / f"{name}.txt").read_bytes()
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    if not lines:
        raise SystemExit(f"corpus {name}.txt is empty")
    return lines
