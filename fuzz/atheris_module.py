"""Fuzzes the module's Python boundary with arbitrary bytes and arbitrary objects.

Every input becomes one action: a parse of raw or spliced bytes, a parse of an
arbitrary object, a constructor, initialiser, setter or deleter of one of the
seven classes, or a representation or comparison, also of an instance that
object.__new__ made once a class's __new__ was replaced. Arguments are drawn from a
pool of hostile values: wrong types, huge integers, NaN, subclasses, and
objects whose __float__, __index__, __len__ or __iter__ raise or call back into
the module while it converts them.

The outcome must be a value or one of the exceptions the module documents.
Anything else (SystemError, the module's internal-failure exception, an
undocumented message, a changed instance after a failed write) is re-raised,
and a crash under ASan speaks for itself.

Run through scripts/fuzz-python.sh; any argument is passed on to libFuzzer.
"""

import datetime
import gc
import operator
import os
import sys
import traceback

import atheris

import kav_aprs_parser_pyo3 as kav

A = kav.KAVAircraftType
T = kav.KAVAddressType
P = kav.KAVAPRSProtocol
ENUMS = (A, T, P)
MEMBERS = [getattr(cls, name) for cls in ENUMS for name in dir(cls) if name.isupper()]
VALID_LINE = b"X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF"

PARAMETERS = {
    kav.AircraftBeacon: (
        "callsign", "q_construct", "receiver", "kav_aprs_protocol", "time", "latitude",
        "longitude", "ground_track", "ground_speed", "gps_altitude", "kav_beacon_id",
    ),
    kav.KAVBeaconID: ("prefix", "icao_address"),
    kav.KAVIDPrefix: ("aircraft_type", "address_type", "no_track", "stealth_mode"),
    kav.ICAOAddress: ("value",),
}
# Attributes with setters: every parameter except the address's, which has none.
SETTABLE = {cls: names for cls, names in PARAMETERS.items() if cls is not kav.ICAOAddress}

RUNTIME_MESSAGES = {"Already borrowed", "Already mutably borrowed"}
MAX_REENTRY = 3


class HarnessError(Exception):
    """Raised by the hostile objects; must pass through the module unchanged."""


class Reentry:
    """What the hostile objects call back into while the module converts them."""

    depth = 0
    target = None  # the instance under test, if any
    mutated = False  # set when a callback changed the target

    @classmethod
    def call_back(cls, choice):
        if cls.depth >= MAX_REENTRY:
            return
        cls.depth += 1
        try:
            guarded(lambda: CALLBACKS[choice % len(CALLBACKS)](cls.target))
        finally:
            cls.depth -= 1


def mutate_target(target):
    if type(target) in SETTABLE:
        name = SETTABLE[type(target)][0]
        setattr(target, name, sample_value(name))
        Reentry.mutated = True


def reinitialise_target(target):
    if type(target) in PARAMETERS:
        target.__init__(*valid_arguments(type(target)))


CALLBACKS = [
    lambda target: kav.parse_kav_aprs_aircraft_beacon(VALID_LINE),
    lambda target: kav.parse_kav_aprs_aircraft_beacon(b"bad"),
    lambda target: repr(target),
    lambda target: target == target,
    reinitialise_target,
    mutate_target,
    lambda target: gc.collect(),
]


def sample_value(name):
    """A value the module accepts for that parameter."""
    samples = {
        "callsign": "C", "q_construct": "qAS", "receiver": "R", "kav_aprs_protocol": P.KAFLR,
        "time": datetime.time(1, 2, 3), "latitude": 1.0, "longitude": 2.0,
        "ground_track": 3.0, "ground_speed": 4.0, "gps_altitude": 5.0,
        "prefix": kav.KAVIDPrefix(A.GLIDER, T.FLARM, False, True),
        "icao_address": kav.ICAOAddress(0xDDA5BA), "aircraft_type": A.BALLOON,
        "address_type": T.ICAO, "no_track": True, "stealth_mode": False, "value": 5,
    }
    if name == "kav_beacon_id":
        return kav.KAVBeaconID(samples["prefix"], samples["icao_address"])
    return samples[name]


def valid_arguments(cls):
    return [sample_value(name) for name in PARAMETERS[cls]]


# ---------------------------------------------------------------------------
# Hostile values. Each takes the data provider so that its behaviour is fuzzed.


class HostileNumber:
    """Converts through __float__ and __index__ in one of many unfriendly ways."""

    def __init__(self, fdp):
        self.mode = fdp.ConsumeIntInRange(0, 6)
        self.number = fdp.ConsumeInt(9)
        self.callback = fdp.ConsumeIntInRange(0, len(CALLBACKS) - 1)

    def convert(self, kind):
        if self.mode == 0:
            raise HarnessError(kind)
        if self.mode == 1:
            raise TypeError(kind)  # gets the argument-name prefix
        if self.mode == 2:
            return "not a number"
        if self.mode == 3:
            Reentry.call_back(self.callback)
        if self.mode == 4:
            return 10**400 if kind == "index" else float("nan")
        return self.number if kind == "index" else float(self.number)

    def __float__(self):
        return self.convert("float")

    def __index__(self):
        return self.convert("index")


class HostileSequence:
    """A sequence whose length lies and whose iteration may fail half-way."""

    def __init__(self, fdp):
        self.claimed_length = fdp.PickValueInList([0, 3, -1, 2**31, 2**62, 2**63 - 1])
        self.items = [arbitrary_small(fdp) for _ in range(fdp.ConsumeIntInRange(0, 8))]
        self.fail_at = fdp.ConsumeIntInRange(-1, 8)
        self.raise_in_len = fdp.ConsumeBool()

    def __len__(self):
        if self.raise_in_len:
            raise HarnessError("len")
        return self.claimed_length

    def __getitem__(self, index):
        if index == self.fail_at:
            raise HarnessError("getitem")
        if index >= len(self.items):
            raise IndexError(index)
        return self.items[index]


class IterOnlySequence(HostileSequence):
    def __iter__(self):
        for index, item in enumerate(self.items):
            if index == self.fail_at:
                raise HarnessError("iter")
            yield item


class HostileTime(datetime.time):
    """A time subclass whose fields are whatever the fuzzer picked."""

    fields = {}

    def __getattribute__(self, name):
        fields = type(self).fields
        if name in fields:
            value = fields[name]
            if isinstance(value, BaseException):
                raise value
            return value
        return super().__getattribute__(name)


def hostile_time(fdp):
    cls = type("HostileTimeCase", (HostileTime,), {})
    picks = [0, 1, 23, 24, 59, 60, 999_999, 1_000_000, 1_999_999, 2**32, -1, 2**70, "x",
             HarnessError("field"), None, True]
    cls.fields = {
        name: fdp.PickValueInList(picks)
        for name in ("hour", "minute", "second", "microsecond")
        if fdp.ConsumeBool()
    }
    return cls(fdp.ConsumeIntInRange(0, 23), 59, fdp.ConsumeIntInRange(0, 59))


class IntSubclass(int):
    pass


class FloatSubclass(float):
    pass


class StrSubclass(str):
    pass


class BytesSubclass(bytes):
    pass


class BytearraySubclass(bytearray):
    pass


class NumpyLikeBool:
    """Looks like numpy's bool scalar by module and name; __bool__ may misbehave."""

    def __init__(self, result):
        self.result = result

    def __bool__(self):
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


NumpyLikeBool.__module__ = "numpy"
NumpyLikeBool.__qualname__ = NumpyLikeBool.__name__ = "bool_"


def instance_of_module_class(fdp):
    cls = fdp.PickValueInList(list(PARAMETERS))
    return cls(*valid_arguments(cls))


def arbitrary_small(fdp):
    """A value that needs no further structure: numbers, texts, bytes, singletons."""
    choice = fdp.ConsumeIntInRange(0, 14)
    if choice == 0:
        return fdp.ConsumeIntInRange(-2, 300)
    if choice == 1:
        return fdp.PickValueInList([2**24 - 1, 2**24, 2**32, 2**64, 2**70, -(2**63), 10**400])
    if choice == 2:
        return fdp.PickValueInList([float("nan"), float("inf"), -float("inf"), -0.0, 1e308])
    if choice == 3:
        return fdp.ConsumeFloat()
    if choice == 4:
        return fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 40))
    if choice == 5:
        return "\ud800" + fdp.ConsumeUnicode(4)  # not encodable as UTF-8
    if choice == 6:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 120))
    if choice == 7:
        return fdp.PickValueInList([None, True, False, object(), Ellipsis, sys])
    if choice == 8:
        return fdp.PickValueInList(MEMBERS)
    if choice == 9:
        return fdp.PickValueInList(list(PARAMETERS) + list(ENUMS))
    if choice == 10:
        return IntSubclass(fdp.ConsumeInt(4))
    if choice == 11:
        return FloatSubclass(fdp.ConsumeFloat())
    if choice == 12:
        return StrSubclass(fdp.ConsumeUnicode(8))
    if choice == 13:
        return NumpyLikeBool(fdp.PickValueInList([True, False, 1, None, HarnessError("bool")]))
    return datetime.time(
        fdp.ConsumeIntInRange(0, 23), fdp.ConsumeIntInRange(0, 59),
        fdp.ConsumeIntInRange(0, 59), fdp.ConsumeIntInRange(0, 999_999),
        datetime.timezone.utc if fdp.ConsumeBool() else None,
    )


def arbitrary_value(fdp):
    choice = fdp.ConsumeIntInRange(0, 10)
    if choice <= 3:
        return arbitrary_small(fdp)
    if choice == 4:
        return HostileNumber(fdp)
    if choice == 5:
        return fdp.PickValueInList([HostileSequence, IterOnlySequence])(fdp)
    if choice == 6:
        return hostile_time(fdp)
    if choice == 7:
        return instance_of_module_class(fdp)
    if choice == 8:
        data = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 120))
        wrap = fdp.PickValueInList([bytearray, BytesSubclass, BytearraySubclass, list, tuple,
                                    memoryview])
        return wrap(data)
    if choice == 9:
        return datetime.datetime(2020, 1, 1)
    return [arbitrary_small(fdp) for _ in range(fdp.ConsumeIntInRange(0, 6))]


# ---------------------------------------------------------------------------
# Outcome checks.


def documented_value_error(error):
    if isinstance(error, UnicodeEncodeError):
        return True
    text = str(error)
    return (
        text.startswith("Parse error: ")
        or text.startswith("Value 0x") and text.endswith("exceeds 24-bit ICAO address limit (0xFFFFFF)")
        or text == "invalid or out-of-range time"
    )


def is_documented(error):
    """Whether an exception is one the module may raise (or lets pass from a callback)."""
    if isinstance(error, ValueError):
        return documented_value_error(error)
    if isinstance(error, RuntimeError):
        return str(error) in RUNTIME_MESSAGES or isinstance(error, RecursionError)
    # Not SystemError, and not the internal-failure class, which derives from
    # BaseException and so is never caught here at all.
    return isinstance(error, (HarnessError, TypeError, OverflowError, AttributeError, MemoryError))


def guarded(action):
    """Runs an action; returns its value, or None after a documented exception."""
    try:
        return action()
    except Exception as error:
        if not is_documented(error):
            raise
        return None


def snapshot(instance):
    if isinstance(instance, kav.KAVIDPrefix):
        return tuple(getattr(instance, name) for name in PARAMETERS[kav.KAVIDPrefix])
    return repr(instance)


def check_beacon(beacon):
    assert type(beacon) is kav.AircraftBeacon, type(beacon)
    for name in PARAMETERS[kav.AircraftBeacon]:
        getattr(beacon, name)
    repr(beacon)


# ---------------------------------------------------------------------------
# Actions.


def parse_outcome(line):
    try:
        beacon = kav.parse_kav_aprs_aircraft_beacon(line)
    except ValueError as error:
        assert type(error) is ValueError and documented_value_error(error), error
        return str(error)
    check_beacon(beacon)
    return repr(beacon)


def parse_bytes(fdp):
    data = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 300))
    outcome = parse_outcome(data)
    # The same bytes in the other accepted forms must give the same result.
    for form in (bytearray(data), list(data), tuple(data), BytesSubclass(data)):
        assert parse_outcome(form) == outcome, data


def parse_spliced_line(fdp):
    at = fdp.ConsumeIntInRange(0, len(VALID_LINE))
    cut = fdp.ConsumeIntInRange(0, 12)
    line = VALID_LINE[:at] + fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 12)) + VALID_LINE[at + cut:]
    parse_outcome(line)


def call_with(fdp, function, names):
    """Calls with arbitrary arguments in a fuzzed form: by position, by keyword,
    missing, one too many, repeated or unknown."""
    values = [arbitrary_value(fdp) for _ in range(len(names) + 1)]
    positional = fdp.ConsumeIntInRange(0, len(names) + 1)
    kwargs = {name: values[i] for i, name in enumerate(names) if i >= positional and fdp.ConsumeBool()}
    if fdp.ConsumeIntInRange(0, 9) == 0:
        kwargs[fdp.PickValueInList([*names, "extra", "inpu", ""])] = values[-1]
    return guarded(lambda: function(*values[:positional], **kwargs))


def parse_object(fdp):
    outcome = call_with(fdp, kav.parse_kav_aprs_aircraft_beacon, ("input",))
    if outcome is not None:
        check_beacon(outcome)


def construct(fdp):
    cls = fdp.PickValueInList(list(PARAMETERS) + list(ENUMS))
    names = PARAMETERS.get(cls, ())
    if fdp.ConsumeBool() and names:
        # Mostly valid arguments with one hostile value reach the later conversions.
        args = valid_arguments(cls)
        args[fdp.ConsumeIntInRange(0, len(args) - 1)] = arbitrary_value(fdp)
        outcome = guarded(lambda: cls(*args))
    else:
        outcome = call_with(fdp, cls, names)
    if outcome is not None:
        assert type(outcome) is cls
        repr(outcome)


def reinitialise(fdp):
    cls = fdp.PickValueInList(list(PARAMETERS))
    instance = cls(*valid_arguments(cls))
    before = snapshot(instance)
    Reentry.target, Reentry.mutated = instance, False
    args = valid_arguments(cls)
    args[fdp.ConsumeIntInRange(0, len(args) - 1)] = arbitrary_value(fdp)
    guarded(lambda: instance.__init__(*args))
    Reentry.target = None
    assert Reentry.mutated or snapshot(instance) == before, "__init__ changed the instance"


def write_attribute(fdp):
    cls = fdp.PickValueInList(list(SETTABLE))
    instance = cls(*valid_arguments(cls))
    name = fdp.PickValueInList(list(SETTABLE[cls]) + ["no_such_attribute"])
    value = arbitrary_value(fdp)
    before = snapshot(instance)
    Reentry.target, Reentry.mutated = instance, False
    deleting = fdp.ConsumeIntInRange(0, 9) == 0
    try:
        if deleting:
            delattr(instance, name)
        else:
            setattr(instance, name, value)
        stored = True
    except Exception as error:
        if not is_documented(error):
            raise
        stored = False
    finally:
        Reentry.target = None
    assert not (deleting and stored), "an attribute was deleted"
    if not stored:
        assert Reentry.mutated or snapshot(instance) == before, f"failed write of {name} changed it"
    else:
        guarded(lambda: getattr(instance, name))


def compare(fdp):
    left = fdp.PickValueInList([instance_of_module_class, lambda f: f.PickValueInList(MEMBERS)])(fdp)
    right = arbitrary_value(fdp) if fdp.ConsumeBool() else instance_of_module_class(fdp)
    op = fdp.PickValueInList([operator.eq, operator.ne, operator.lt, operator.le, operator.gt,
                              operator.ge])
    result = guarded(lambda: op(left, right))
    assert result is None or isinstance(result, bool), result
    guarded(lambda: hash(left))
    guarded(lambda: int(left))
    assert isinstance(repr(left), str)


def use_made_by_object_new(fdp):
    """Replaces a class's __new__, so that object.__new__ hands out an instance
    no constructor has seen, and puts that instance through reads, writes,
    deletions, repr, comparison and use as an argument.

    The replacement cannot be undone in a process (the class's constructor is
    out of reach for good), so it happens in a forked child; the child's
    branches do not guide the search, but a crash or an undocumented
    exception there fails this input."""
    cls = fdp.PickValueInList(list(PARAMETERS) + list(ENUMS))
    steps = [fdp.ConsumeIntInRange(0, 5) for _ in range(fdp.ConsumeIntInRange(1, 6))]
    values = [arbitrary_value(fdp) for _ in steps]
    names = [fdp.PickValueInList(list(SETTABLE.get(cls, ())) + ["no_such_attribute"])
             for _ in steps]
    pid = os.fork()
    if pid == 0:
        status = 0
        try:
            cls.__new__ = lambda cls, *args, **kwargs: object.__new__(cls)
            made = object.__new__(cls)
            for step, value, name in zip(steps, values, names):
                if step == 0:
                    guarded(lambda: getattr(made, name))
                elif step == 1:
                    guarded(lambda: setattr(made, name, value))
                elif step == 2:
                    guarded(lambda: delattr(made, name))
                elif step == 3:
                    assert isinstance(repr(made), str)
                elif step == 4:
                    guarded(lambda: made == value)
                    guarded(lambda: value != made)
                else:
                    arguments = [made if type(made) is type(value) else value
                                 for value in valid_arguments(kav.AircraftBeacon)]
                    guarded(lambda: kav.AircraftBeacon(*arguments))
            del made
            gc.collect()
        except BaseException:  # noqa: BLE001 - reported to the parent through the status
            traceback.print_exc()
            status = 1
        os._exit(status)
    _, status = os.waitpid(pid, 0)
    assert status == 0, f"object.__new__({cls.__name__}) route ended with status {status:#x}"


ACTIONS = [parse_bytes, parse_spliced_line, parse_object, construct, reinitialise,
           write_attribute, compare, use_made_by_object_new]


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    fdp.PickValueInList(ACTIONS)(fdp)


def main():
    # The module is native and carries no coverage counters of its own; the
    # harness's branches (which exception came back, which path ran) guide
    # the search instead.
    atheris.instrument_all()
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
