"""The ``kav-aprs`` command: one subcommand a job, each in a module of its own.

A subcommand module has ``add_parser(subparsers)``, which adds its parser and
sets ``run`` (a function of the parsed arguments returning the exit status).
"""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Sequence
from typing import Any

from .. import _native
from . import decode, follow, signals

PROG = "kav-aprs"
SUBCOMMANDS = (decode, follow)

EXIT_STATUS = """\
exit status:
  0    every input was read and every output written (lines that fail to
       decode do not change it)
  1    an input could not be read or an output could not be written; also,
       with no message, when the reader of standard output goes away (| head)
  2    the command line was wrong (for decode, also an output that is an input,
       or -o and --errors naming one file: nothing is written)
  130  stopped by Ctrl-C (SIGINT); 143 by SIGTERM, 129 by SIGHUP: 128 + the
       signal's number. Nothing half-written is left: -o and --errors files
       appear only when complete.
"""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Decode KAV APRS aircraft beacon lines.",
        epilog=EXIT_STATUS,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action=_PrintVersion, nargs=0, help="show program's version number and exit")
    subparsers = parser.add_subparsers(title="commands", metavar="COMMAND", dest="command", required=True)
    for command in SUBCOMMANDS:
        command.add_parser(subparsers, epilog=EXIT_STATUS)
    return parser


class _PrintVersion(argparse.Action):
    """--version, reading the installed version only when asked: its metadata is slow to import."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: Any, values: Any,
                 option_string: str | None = None) -> None:
        from .. import __version__

        sys.stdout.write(f"{PROG} {__version__}\n")
        parser.exit()


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return int(args.run(args))
    except KeyboardInterrupt as interrupt:
        return getattr(interrupt, "status", 128 + 2)  # Ctrl-C before the run catches it: SIGINT's
    except BrokenPipeError:
        # The reader went away (`| head`): stop quietly, and keep the
        # interpreter from failing again when it flushes at exit.
        quiet_stdout()
        return 1


def command() -> int:
    """The installed command and ``python -m kav_aprs``: main() in a process of its own.

    Such a process can be set up for decoding in ways that a program calling
    main() among its own work might not want: freed memory is kept for the next
    batch, NumPy is kept out, and a stop signal after the run is ignored.
    pyarrow imports NumPy whenever it can find it, which more than doubles the
    time Parquet output takes to start and leaves NumPy's arithmetic threads
    spinning beside the decoding; the command needs nothing of it. A pyarrow
    too old to do without it gets it (see sinks.import_pyarrow).
    """
    _native.retain_freed_memory()
    sys.modules.setdefault("numpy", None)  # type: ignore[arg-type]  # None: its import fails as if not installed
    signals.ignore_after_runs()
    return main()


def quiet_stdout() -> None:
    """Points standard output at /dev/null, so that the flush at exit cannot fail."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)
