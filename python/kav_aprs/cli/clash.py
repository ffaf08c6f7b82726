"""Outputs that cannot be written as asked: one that is also an input, or two that are one file."""

from __future__ import annotations

import os
import stat
import sys
from typing import Any

STDIO = "-"


def status(name: str, stdio: Any) -> os.stat_result:
    """The status of a named file, or of the standard stream that '-' stands for."""
    return os.fstat(stdio.fileno()) if name == STDIO else os.stat(name)


def _file_identity(name: str, stdio: Any) -> tuple[Any, ...] | None:
    """What tells whether two names are one file: the device and inode of a
    regular file (of `stdio` for '-'), the resolved path of one not there yet;
    None for devices, pipes and the like, which two names may well share
    (/dev/null), and for what cannot be looked at (reported when opened)."""
    try:
        found = status(name, stdio)
    except FileNotFoundError:
        return ("path", os.path.realpath(name))
    except (OSError, ValueError, AttributeError):
        return None
    return (found.st_dev, found.st_ino) if stat.S_ISREG(found.st_mode) else None


def clash(inputs: list[str], output: str, errors: str | None) -> str | None:
    """Why the records (-o `output`) and failed lines (--errors) cannot be written as asked, if they cannot.

    An output that is also an input would replace the lines being decoded
    (a named one when it is renamed into place, standard output as it grows
    under the reader). Records and errors in one file would be lost when a
    named one, written under a temporary name, takes the file's name; standard
    output and standard error may share a file, both being written in place.
    """
    read = {identity for name in inputs if (identity := _file_identity(name, sys.stdin)) is not None}
    records = _file_identity(output, sys.stdout)
    failures = _file_identity(errors, sys.stderr) if errors is not None else None
    for option, name, identity, stdio in (("-o", output, records, "standard output"),
                                          ("--errors", errors, failures, "standard error")):
        if identity is not None and identity in read:
            what = stdio if name == STDIO else f"{option} {name}"
            return f"{what} is also an input: write to another file"
    if records is not None and records == failures and (output, errors) != (STDIO, STDIO):
        names = (f"{option} {stdio if name == STDIO else name}" for option, name, stdio in
                 (("-o", output, "(standard output)"), ("--errors", errors, "(standard error)")))
        return f"{' and '.join(names)} are one file: the one would replace the other"
    return None
