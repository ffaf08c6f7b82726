#!/usr/bin/env python3
"""Decodes KAV APRS aircraft beacon lines into JSON lines or CSV.

(The record-by-record decode tool that `kav-aprs decode` replaced, kept
unchanged as the yardstick of bench/bench_decode.py.)

Reads the files named on the command line ("-" for standard input; with no
argument, the bundled samples/beacons.txt) and writes one record per decoded
beacon to standard output. Lines are read as bytes, because a beacon line is
not necessarily valid UTF-8, and only the line break itself ("\\n" or "\\r\\n")
is removed; blank lines are skipped. NaN and the infinities appear as the texts
"NaN", "Infinity" and "-Infinity", since JSON has no numbers for them.

Lines that fail to decode go, when --errors is given, to that file ("-" for
standard error) as JSON lines with the source, line number, error kind, error
text and the line itself (undecodable bytes shown as \\xNN escapes). A summary
of the outcomes goes to standard error. The exit status is 0 unless an input
could not be read or the output could not be written.
"""

import argparse
import json
import os
import pathlib
import sys
import time

import kav_aprs_parser_pyo3 as kav

from beacon_output import WRITERS, beacon_record
from decode_report import DecodeTally, ProgressLine, error_kind, write_summary

SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "samples" / "beacons.txt"
STDIO = "-"


class InputError(Exception):
    """An input that could not be opened or read to its end."""


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "inputs", nargs="*", default=[str(SAMPLE)], metavar="FILE",
        help=f"files of beacon lines, '{STDIO}' for standard input (default: the bundled sample)",
    )
    parser.add_argument(
        "--format", choices=sorted(WRITERS), default="jsonl",
        help="output format (default: jsonl)",
    )
    parser.add_argument(
        "--errors", metavar="FILE",
        help=f"write the lines that fail, with their error text, to FILE ('{STDIO}' for standard error)",
    )
    return parser.parse_args(argv)


def without_line_break(raw):
    if raw.endswith(b"\r\n"):
        return raw[:-2]
    if raw.endswith(b"\n"):
        return raw[:-1]
    return raw


def lines_of(name):
    """Yields the lines of one input as bytes; any read failure becomes InputError."""
    try:
        stream = sys.stdin.buffer if name == STDIO else open(name, "rb")
    except OSError as error:
        raise InputError(error.strerror or str(error)) from error
    try:
        lines = iter(stream)
        while True:
            try:
                raw = next(lines)
            except StopIteration:
                return
            except OSError as error:
                raise InputError(error.strerror or str(error)) from error
            yield without_line_break(raw)
    finally:
        if stream is not sys.stdin.buffer:
            stream.close()


def failure_record(source, number, line, message):
    return {
        "source": "<stdin>" if source == STDIO else source,
        "line_number": number,
        "error_kind": error_kind(message),
        "error": message,
        "line": line.decode("utf-8", errors="backslashreplace"),
    }


def decode_inputs(inputs, writer, errors, tally, progress):
    for source in inputs:
        try:
            for number, line in enumerate(lines_of(source), start=1):
                if not line:
                    tally.blank += 1
                    continue
                try:
                    beacon = kav.parse_kav_aprs_aircraft_beacon(line)
                except ValueError as error:
                    message = str(error)
                    tally.failures[error_kind(message)] += 1
                    if errors is not None:
                        errors.write(json.dumps(failure_record(source, number, line, message)) + "\n")
                else:
                    tally.decoded += 1
                    writer.write(beacon_record(beacon))
                if progress is not None:
                    progress.update(tally)
        except InputError as error:
            tally.unreadable_inputs += 1
            if progress is not None:
                progress.clear()
            print(f"decode.py: cannot read {source}: {error}", file=sys.stderr)


def open_errors(name):
    if name is None:
        return None
    if name == STDIO:
        return sys.stderr
    return open(name, "w", encoding="utf-8")


def main(argv=None):
    args = parse_arguments(argv)
    # Callsigns and station names may hold any character: write UTF-8 whatever the locale.
    sys.stdout.reconfigure(encoding="utf-8")
    tally = DecodeTally()
    # A progress line would be torn apart by records on the same terminal, or by
    # error records on the same stream.
    show_progress = sys.stderr.isatty() and not sys.stdout.isatty() and args.errors != STDIO
    progress = ProgressLine(sys.stderr) if show_progress else None
    started = time.perf_counter()
    try:
        errors = open_errors(args.errors)
    except OSError as error:
        print(f"decode.py: cannot write {args.errors}: {error.strerror}", file=sys.stderr)
        return 1
    try:
        decode_inputs(args.inputs, WRITERS[args.format](sys.stdout), errors, tally, progress)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader went away (for example `| head`): stop quietly, and keep the
        # interpreter from failing again when it flushes stdout at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except OSError as error:
        print(f"decode.py: cannot write output: {error.strerror or error}", file=sys.stderr)
        return 1
    finally:
        if errors is not None and errors is not sys.stderr:
            errors.close()
        if progress is not None:
            progress.clear()
    write_summary(sys.stderr, tally, time.perf_counter() - started)
    return 1 if tally.unreadable_inputs else 0


if __name__ == "__main__":
    sys.exit(main())
