"""parse_kav_aprs_aircraft_beacon: argument handling, input types and the ValueError."""

import array
import datetime
import inspect
import os
import pickle
import subprocess
import sys

import pytest

import kav_aprs_parser_pyo3
from kav_aprs_parser_pyo3 import (
    AircraftBeacon,
    KAVAPRSProtocol,
    parse_kav_aprs_aircraft_beacon as parse,
)

LINE = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"


class Bytes(bytes):
    pass


class ByteArray(bytearray):
    pass


class IndexedOnly:
    """A sequence known only through __getitem__ and __len__."""

    def __init__(self, data):
        self.data = data

    def __len__(self):
        return len(self.data)

    def __getitem__(self, i):
        return self.data[i]


class LengthRefused(IndexedOnly):
    def __len__(self):
        raise RuntimeError("no length")


class Byte(int):
    pass


class IntLike:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(
    "make",
    [
        bytes,
        Bytes,
        bytearray,
        ByteArray,
        list,
        tuple,
        lambda b: memoryview(b),
        lambda b: array.array("B", b),
        IndexedOnly,
        LengthRefused,
        lambda b: [IntLike(x) for x in b],
        lambda b: [Byte(x) for x in b],
    ],
    ids=["bytes", "bytes-subclass", "bytearray", "bytearray-subclass", "list", "tuple",
         "memoryview", "array", "getitem-sequence", "length-refused", "index-items",
         "int-subclass-items"],
)
def test_every_accepted_input_type_gives_the_same_beacon(make):
    expected = parse(LINE)
    assert type(expected) is AircraftBeacon
    assert parse(make(LINE)) == expected
    assert repr(parse(make(LINE))) == repr(expected)


def test_decoded_fields_of_a_plain_line():
    b = parse(LINE)
    assert (b.callsign, b.q_construct, b.receiver) == ("X1", "qAS", "RX1")
    assert b.kav_aprs_protocol is KAVAPRSProtocol.KAFLR
    assert b.time == datetime.time(12, 34, 56)
    assert (b.latitude, b.longitude) == (46.5, 8.5)
    assert (b.ground_track, b.ground_speed, b.gps_altitude) == (90.0, 50.0, 1000.0)


def test_keyword_call_equals_positional_call():
    assert parse(input=LINE) == parse(LINE)


def test_input_is_left_untouched():
    data = bytearray(LINE)
    parse(data)
    assert data == LINE


def test_range_is_a_sequence_of_byte_values():
    with pytest.raises(ValueError) as info:
        parse(range(3))
    assert str(info.value).startswith("Parse error: ParseError(InvalidCallsign(")


@pytest.mark.parametrize(
    "argument, error, message",
    [
        ("X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF", TypeError,
         "argument 'input': Can't extract `str` to `Vec`"),
        (type("Text", (str,), {})("X"), TypeError,
         "argument 'input': Can't extract `str` to `Vec`"),
        (5, TypeError, "argument 'input': 'int' object is not an instance of 'Sequence'"),
        (None, TypeError, "argument 'input': 'None' is not an instance of 'Sequence'"),
        ({0: 88}, TypeError, "argument 'input': 'dict' object is not an instance of 'Sequence'"),
        ({88}, TypeError, "argument 'input': 'set' object is not an instance of 'Sequence'"),
        (iter(LINE), TypeError,
         "argument 'input': 'bytes_iterator' object is not an instance of 'Sequence'"),
        ([88, 256], OverflowError, "out of range integral type conversion attempted"),
        ([-1], OverflowError, "out of range integral type conversion attempted"),
        ([2**70], OverflowError, "Python int too large to convert to C long"),
        ([88, "1"], TypeError,
         "argument 'input': 'str' object cannot be interpreted as an integer"),
        ([1.0], TypeError,
         "argument 'input': 'float' object cannot be interpreted as an integer"),
    ],
    ids=["str", "str-subclass", "int", "none", "dict", "set", "iterator", "item-256",
         "item-negative", "item-huge", "item-str", "item-float"],
)
def test_refused_inputs(argument, error, message):
    with pytest.raises(error) as info:
        parse(argument)
    assert type(info.value) is error
    assert str(info.value) == message


class Failing(IndexedOnly):
    def __init__(self, error):
        super().__init__(b"")
        self.error = error

    def __iter__(self):
        raise self.error


@pytest.mark.parametrize(
    "error, message",
    [
        (TypeError("cannot iterate"), "argument 'input': cannot iterate"),
        (LookupError("gone"), "gone"),
    ],
    ids=["TypeError", "LookupError"],
)
def test_iteration_failures_pass_on_with_typeerror_prefixed(error, message):
    with pytest.raises(type(error)) as info:
        parse(Failing(error))
    assert str(info.value) == message


def test_item_conversion_error_of_other_types_passes_unchanged():
    class Broken:
        def __index__(self):
            raise KeyError("broken item")

    with pytest.raises(KeyError) as info:
        parse([88, Broken()])
    assert info.value.args == ("broken item",)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: parse(),
         "parse_kav_aprs_aircraft_beacon() missing 1 required positional argument: 'input'"),
        (lambda: parse(LINE, LINE),
         "parse_kav_aprs_aircraft_beacon() takes 1 positional arguments but 2 were given"),
        (lambda: parse(LINE, input=LINE),
         "parse_kav_aprs_aircraft_beacon() got multiple values for argument 'input'"),
        (lambda: parse(line=LINE),
         "parse_kav_aprs_aircraft_beacon() got an unexpected keyword argument 'line'"),
        (lambda: parse(input=LINE, line=LINE),
         "parse_kav_aprs_aircraft_beacon() got an unexpected keyword argument 'line'"),
    ],
    ids=["missing", "two-positional", "given-twice", "unexpected", "unexpected-with-input"],
)
def test_argument_matching(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


FAILURES = [
    (b"", 'Parse error: ParseError(InvalidCallsign(APRSParseContext '
          '{ input: "", message: "invalid callsign" }))'),
    (b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000",
     "Parse error: MissingKAVBeaconID"),
    (b"X>KAFLR", 'Parse error: ParseError(UnknownError("KAFLR"))'),
    (b"\xff>KAFLR",
     'Parse error: ParseError(InvalidCallsign(APRSParseContext '
     '{ input: "\ufffd>KAFLR", message: "invalid callsign" }))'),
    (b'X>"\n\t,',
     'Parse error: ParseError(InvalidKAVAprsProtocol(APRSParseContext '
     '{ input: "\\"\\n\\t", message: "Unsupported KAV APRS Protocol" }))'),
]
FAILURE_IDS = ["empty", "no-id", "unknown", "invalid-utf8", "escaped"]


@pytest.mark.parametrize("line, message", FAILURES, ids=FAILURE_IDS)
def test_parse_failure_is_a_plain_valueerror(line, message):
    with pytest.raises(ValueError) as info:
        parse(line)
    assert type(info.value) is ValueError
    assert info.value.args == (message,)


def test_each_failure_has_its_own_message():
    # Shorter messages after longer ones and back: no text carries over.
    for line, message in FAILURES + FAILURES[::-1]:
        with pytest.raises(ValueError) as info:
            parse(line)
        assert info.value.args == (message,)


def test_failure_inside_a_handler_chains_the_handled_exception():
    try:
        raise KeyError("outer")
    except KeyError as handled:
        outer = handled
        with pytest.raises(ValueError) as info:
            parse(b"")
    assert info.value.__context__ is outer
    assert info.value.__cause__ is None


def test_function_object():
    assert parse.__name__ == "parse_kav_aprs_aircraft_beacon"
    assert parse.__module__ == "kav_aprs_parser_pyo3"
    assert parse.__self__ is None
    assert parse.__text_signature__ == "(input)"
    assert str(inspect.signature(parse)) == "(input)"
    assert kav_aprs_parser_pyo3.parse_kav_aprs_aircraft_beacon is parse
    assert parse.__qualname__ == "parse_kav_aprs_aircraft_beacon"
    assert repr(parse) == "<built-in function parse_kav_aprs_aircraft_beacon>"
    assert pickle.loads(pickle.dumps(parse)) is parse


def test_docstring():
    assert parse.__doc__ == (
        "Parses a raw KAV APRS aircraft beacon message.\n\n"
        "This is the primary entry point for decoding an KAV beacon. It extracts\n"
        "the header information, positional block, and trailing extension tags from\n"
        "the raw byte stream.\n\n"
        "# Arguments\n\n"
        "* `input` (`bytes`): A bytes-like object containing the raw APRS message.\n\n"
        "# Returns\n\n"
        "`AircraftBeacon`: The successfully parsed beacon object.\n\n"
        "# Raises\n\n"
        "* `ValueError`: If the parsing fails. This typically occurs if:\n"
        "  * The overall message format is invalid.\n"
        "  * A specific token (time, coordinates, etc.) fails to parse.\n"
        "  * The required KAV Beacon ID is missing from the message."
    )


def test_results_are_independent_objects():
    first, second = parse(LINE), parse(LINE)
    assert first is not second
    first.callsign = "CHANGED"
    assert second.callsign == "X1"


class BoastfulLength(IndexedOnly):
    def __len__(self):
        return sys.maxsize


def test_absurd_length_hint_does_not_decide_the_allocation():
    assert parse(BoastfulLength(LINE)) == parse(LINE)


MEMORY_STARVED_PARSE = """
import resource, sys
from kav_aprs_parser_pyo3 import parse_kav_aprs_aircraft_beacon as parse
line = b"x" * (64 << 20)  # no '>': the error text must copy all of it
with open("/proc/self/statm") as statm:
    in_use = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (in_use + (16 << 20), resource.RLIM_INFINITY))
try:
    parse(line)
except MemoryError:
    print("MemoryError")
"""


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer runtime needs an unlimited address space")
def test_exhausted_memory_raises_memoryerror_instead_of_ending_the_process():
    done = subprocess.run([sys.executable, "-c", MEMORY_STARVED_PARSE], capture_output=True,
                          text=True, timeout=60)
    assert (done.returncode, done.stdout.strip()) == (0, "MemoryError")
