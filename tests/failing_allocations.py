"""Runs the module's operations while the interpreter's allocator fails on
purpose (CPython's _testcapi.set_nomemory), one trial per forked child.

    python failing_allocations.py import|entries

For every operation of the group and every allocation index it reaches, two
trials fail allocations from that index on: only that one, and a window of
WINDOW of them. Each trial runs in a child forked from this process after the
fixtures are built, so no trial can disturb the next, and the first import is
a first import in every child. One JSON object per operation goes to standard
output: its name, the number of allocations scanned, the number of trials and
the outcomes that are neither the right result nor MemoryError.
"""

import datetime
import functools
import json
import operator
import os
import signal
import sys
import traceback

import _testcapi

WINDOW = 20
# The scan of an operation ends once this many indices in a row leave it
# untouched and failing every allocation from there on leaves it untouched too.
UNTOUCHED_RUN = 8
TRIAL_SECONDS = 10
PROBE_SECONDS = 2
EVERY_LATER_ALLOCATION = 1 << 30

LINE = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"
BAD_LINE = b"X1>KAFLR"


class Operation:
    """One thing to do under failing allocations.

    act() does it: a callable implemented in C (a builtin, a bound slot, a
    functools.partial of one), so that no Python frame of the harness comes
    and goes while allocations fail. check(result) judges what it returned,
    or the text of its exception when that is of class `raises`: None when
    right, else what is wrong. After a MemoryError, unchanged() judges what
    must have survived. prepare() runs in the child before the failures."""

    def __init__(self, name, act, check, raises=(), unchanged=lambda: None,
                 prepare=lambda: None):
        self.name, self.act, self.check, self.raises = name, act, check, raises
        self.unchanged, self.prepare = unchanged, prepare


def expect(wanted):
    return lambda result: None if result == wanted else f"got {result!r}, wanted {wanted!r}"


# ---------------------------------------------------------------------------
# Trials


def in_child(body, seconds):
    """body() in a forked child; its text, or how the child ended without one."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        signal.alarm(seconds)
        try:
            text = body()
        except BaseException:  # noqa: BLE001 - reported, not hidden
            text = "harness failed: " + traceback.format_exc()
        os.write(write_end, text.encode())
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        text = pipe.read().decode()
    _, status = os.waitpid(pid, 0)
    if os.WIFSIGNALED(status):
        name = signal.Signals(os.WTERMSIG(status)).name
        if sys.version_info[:3] in HEAP_CORRUPTION_VERSIONS and name == "SIGSEGV":
            return "skipped: heap corruption of " + sys.version.split()[0]
        return "hung" if name == "SIGALRM" else "signal " + name
    return text


# The interpreter's own failures under exhausted memory, each seen in a
# debugger at the failing allocation, and what identifies them here.
MODULE_LOCK = "importlib's module lock"
# 3.13's type_update_dict reports a failed insertion into a class's dict (a
# MemoryError) as AttributeError "type object 'X' has no attribute 'Y'"; the
# module then sees a class attribute that cannot be set for no reason it
# knows, and reports the class as not created.
TYPE_DICT = "the interpreter's class-dict insertion"
# 3.13.0's sys lookup writes its own MemoryError as unraisable.
SYS_LOOKUP = "Exception ignored in PySys_GetObject()"
# 3.13.0 corrupts its heap on two failed allocations that come before the
# module or beneath it: a function object that importlib creates (the next
# import of any module, pure Python or not, then crashes in the allocator), and
# the growth of a dict inside PyType_FromSpec (the garbage collector then
# crashes on that dict). Neither can be told apart from outside the child.
HEAP_CORRUPTION_VERSIONS = {(3, 13, 0)}


def interpreter_machinery(error):
    """Why an exception other than MemoryError came from the interpreter
    itself, not from the module; None when it did not.

    importlib guards each import with a lock that _thread allocates, and
    reports a failed lock allocation as RuntimeError("can't allocate lock")
    from its own frozen frames, before the module is loaded."""
    frames = traceback.extract_tb(error.__traceback__)
    if (type(error) is RuntimeError and str(error) == "can't allocate lock"
            and frames and frames[-1].filename == "<frozen importlib._bootstrap>"):
        return MODULE_LOCK
    return None


def unraisable_from_interpreter(report):
    """Why an unraisable report came from the interpreter; None if not."""
    cause = report.exc_value.__cause__
    if (type(report.exc_value) is RuntimeError and type(cause) is AttributeError
            and str(cause).startswith("type object 'builtins.")):
        return TYPE_DICT
    if report.err_msg == SYS_LOOKUP:
        return SYS_LOOKUP
    return None


def trial(operation, start, stop):
    """One trial, run in the child: 'ok', 'MemoryError', 'skipped: <why>' or
    a description of what went wrong."""
    unraisable, excused = [], []

    def hook(report):
        why = unraisable_from_interpreter(report)
        (excused if why else unraisable).append(why or repr(report.exc_value))

    sys.unraisablehook = hook
    operation.prepare()
    # This frame's object exists before allocations fail: when the interpreter
    # has to create a frame object for a traceback while they fail, it can
    # lose the exception it is propagating (3.11 on, seen as SystemError "error
    # return without exception set"), whatever the code that raised it.
    sys._getframe()
    try:
        _testcapi.set_nomemory(start, stop)
        try:
            result = operation.act()
        finally:
            _testcapi.remove_mem_hooks()
    except MemoryError:
        wrong = operation.unchanged()
        outcome = "MemoryError" if wrong is None else "after MemoryError: " + wrong
    except operation.raises as error:
        wrong = operation.check(f"{type(error).__name__}: {error}")
        outcome = "ok" if wrong is None else "wrong result: " + wrong
    except Exception as error:  # noqa: BLE001 - judged below
        why = interpreter_machinery(error)
        outcome = f"skipped: {why}" if why else f"{type(error).__name__}: {error}"
    except BaseException as error:  # noqa: BLE001 - the module must never raise these
        outcome = f"BaseException {type(error).__name__}: {error}"
    else:
        wrong = operation.check(result)
        outcome = "ok" if wrong is None else "wrong result: " + wrong
    if excused:
        return "skipped: " + ", ".join(excused)
    if unraisable:
        outcome += " with unraisable " + ", ".join(unraisable)
    return outcome


def scan(operation):
    """Every trial of one operation: (allocations scanned, trials, bad outcomes)."""
    bad = {}
    trials = 0
    untouched = 0
    index = 0
    while True:
        outcomes = {
            in_child(lambda: trial(operation, index, index + width), TRIAL_SECONDS)
            for width in (1, WINDOW)
        }
        trials += 2
        for outcome in outcomes - {"ok", "MemoryError"}:
            bad.setdefault(outcome, []).append(index)
        untouched = untouched + 1 if outcomes == {"ok"} else 0
        index += 1
        if untouched >= UNTOUCHED_RUN:
            trials += 1
            every_later = in_child(
                lambda: trial(operation, index, index + EVERY_LATER_ALLOCATION), PROBE_SECONDS)
            if every_later == "ok":
                return index, trials, bad
            untouched = 0


def report(operations):
    for operation in operations:
        allocations, trials, bad = scan(operation)
        print(json.dumps({"name": operation.name, "allocations": allocations,
                          "trials": trials, "bad": bad}), flush=True)


# ---------------------------------------------------------------------------
# The operations


def first_import():
    def works(module=None):
        """The module works, and after a failed import it imports again."""
        import kav_aprs_parser_pyo3 as kav  # noqa: PLC0415 - the import under test
        beacon = kav.parse_kav_aprs_aircraft_beacon(LINE)
        if beacon.kav_aprs_protocol is not kav.KAVAPRSProtocol.KAFLR:
            return "a parse reads a protocol member that is not the class attribute"
        if kav.AircraftBeacon(*[getattr(beacon, name) for name in BEACON_FIELDS]) != beacon:
            return "the beacon does not equal one built from its own fields"
        return None

    return [Operation("first import", functools.partial(__import__, "kav_aprs_parser_pyo3"),
                      works, unchanged=works)]


BEACON_FIELDS = ("callsign", "q_construct", "receiver", "kav_aprs_protocol", "time", "latitude",
                 "longitude", "ground_track", "ground_speed", "gps_altitude", "kav_beacon_id")


def entries():
    import kav_aprs_parser_pyo3 as kav  # noqa: PLC0415 - not before the import group's trials

    parse = kav.parse_kav_aprs_aircraft_beacon
    beacon = parse(LINE)
    identifier = beacon.kav_beacon_id
    prefix = identifier.prefix
    address = identifier.icao_address
    other_prefix = kav.KAVIDPrefix(kav.KAVAircraftType.BALLOON, kav.KAVAddressType.ICAO, True, True)
    other_identifier = kav.KAVBeaconID(other_prefix, kav.ICAOAddress(7))
    # (instance, attribute, a value it does not hold yet)
    writable = [(beacon, name, value) for name, value in zip(BEACON_FIELDS, (
        "NEW1", "qAR", "RX2", kav.KAVAPRSProtocol.KAVSKY, datetime.time(1, 2, 3, 500000), -1.5,
        -2.5, 3.5, 4.5, 5.5, other_identifier))]
    writable += [(prefix, "aircraft_type", kav.KAVAircraftType.AIRSHIP),
                 (prefix, "address_type", kav.KAVAddressType.KAV_TRACKER),
                 (prefix, "no_track", True), (prefix, "stealth_mode", True),
                 (identifier, "prefix", other_prefix),
                 (identifier, "icao_address", kav.ICAOAddress(0xFFFFFF))]
    members = [kav.KAVAPRSProtocol.KAVSKY, kav.KAVAddressType.FLARM,
               kav.KAVAircraftType.STATIC_OBSTACLE]
    # Each class's constructor, with arguments that rebuild the instance above.
    constructors = [
        functools.partial(kav.AircraftBeacon, *[getattr(beacon, name) for name in BEACON_FIELDS]),
        functools.partial(kav.KAVBeaconID, prefix, address),
        functools.partial(kav.KAVIDPrefix, prefix.aircraft_type, prefix.address_type,
                          prefix.no_track, prefix.stealth_mode),
        functools.partial(kav.ICAOAddress, 0xABCDEF),
    ]
    twins = {construct.func: construct() for construct in constructors}
    bad_line_error = f"ValueError: {kav_error(parse, BAD_LINE)}"

    operations = [
        Operation("parse bytes", functools.partial(parse, LINE), expect(beacon)),
        Operation("parse bytearray", functools.partial(parse, bytearray(LINE)), expect(beacon)),
        Operation("parse of a bad line", functools.partial(parse, BAD_LINE),
                  expect(bad_line_error), raises=ValueError),
    ]
    for instance, name, value in writable:
        label = f"{type(instance).__name__}.{name}"
        old = getattr(instance, name)
        read = functools.partial(getattr, instance, name)
        operations += [
            Operation(f"get {label}", read, expect(old)),
            Operation(f"set {label}", functools.partial(setattr, instance, name, value),
                      lambda _, read=read, value=value: expect(value)(read()),
                      unchanged=lambda read=read, old=old: expect(old)(read())),
        ]
    for instance in [beacon, identifier, prefix, address, *members]:
        label = type(instance).__name__
        twin = twins.get(type(instance), instance)
        operations += [
            Operation(f"repr {label}", functools.partial(repr, instance), expect(repr(instance))),
            Operation(f"{label} == an equal one", functools.partial(operator.eq, instance, twin),
                      expect(True)),
            Operation(f"{label} != an equal one", functools.partial(operator.ne, instance, twin),
                      expect(False)),
        ]
        cls = type(instance)
        operations.append(Operation(
            f"object.__new__({label}) once __new__ is replaced",
            functools.partial(object.__new__, cls),
            lambda made, cls=cls: expect(object.__new__(cls))(made),
            prepare=functools.partial(setattr, cls, "__new__",
                                      lambda cls, *args, **kwargs: object.__new__(cls))))
    for construct in constructors:
        operations.append(Operation(f"{construct.func.__name__}(...)", construct,
                                    expect(twins[construct.func])))
    for member in members:
        label = type(member).__name__
        operations += [
            Operation(f"int({label} member)", functools.partial(int, member), expect(int(member))),
            Operation(f"{label} member == its code", functools.partial(operator.eq, member,
                                                                       int(member)), expect(True)),
        ]
    return operations


def kav_error(function, argument):
    try:
        function(argument)
    except ValueError as error:
        return str(error)
    raise AssertionError(f"{argument!r} parsed")


if __name__ == "__main__":
    report(first_import() if sys.argv[1] == "import" else entries())
