"""Rules shared by every entry point: argument matching and its messages, the
argument prefix, type mismatches, the boolean converter, borrow conflicts,
descriptors, class properties, instances made by object.__new__, the module's
add operation and exhausted memory.
"""

import os
import subprocess
import sys
import textwrap
import weakref

import numpy as np
import pytest

import kav_aprs_parser_pyo3 as kav
from kav_aprs_parser_pyo3 import (
    ICAOAddress,
    KAVAddressType,
    KAVAircraftType,
    KAVAPRSProtocol,
    KAVBeaconID,
    KAVIDPrefix,
)

GLIDER = KAVAircraftType.GLIDER
FLARM = KAVAddressType.FLARM
CLASSES = [
    ICAOAddress, KAVAddressType, KAVAircraftType, KAVAPRSProtocol, KAVBeaconID, KAVIDPrefix,
]


def new_prefix():
    return KAVIDPrefix(GLIDER, FLARM, False, False)


def fake_numpy_bool(name="bool_", **methods):
    """A class that passes for numpy's boolean scalar type by its names."""
    cls = type(name, (), dict(methods))
    cls.__module__ = "numpy"
    return cls()


# ---------------------------------------------------------------------------
# Argument matching


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: ICAOAddress(1, 2),
         "ICAOAddress.__new__() takes 1 positional arguments but 2 were given"),
        (lambda: KAVBeaconID(1, 2, 3),
         "KAVBeaconID.__new__() takes 2 positional arguments but 3 were given"),
        (lambda: ICAOAddress(),
         "ICAOAddress.__new__() missing 1 required positional argument: 'value'"),
        (lambda: KAVBeaconID(),
         "KAVBeaconID.__new__() missing 2 required positional arguments: "
         "'prefix' and 'icao_address'"),
        (lambda: KAVIDPrefix(GLIDER),
         "KAVIDPrefix.__new__() missing 3 required positional arguments: "
         "'address_type', 'no_track', and 'stealth_mode'"),
        (lambda: KAVIDPrefix(GLIDER, no_track=False),
         "KAVIDPrefix.__new__() missing 2 required positional arguments: "
         "'address_type' and 'stealth_mode'"),
        (lambda: ICAOAddress(valu=1),
         "ICAOAddress.__new__() got an unexpected keyword argument 'valu'"),
        (lambda: ICAOAddress(1, value=1),
         "ICAOAddress.__new__() got multiple values for argument 'value'"),
        # Keywords are checked before missing parameters, in the caller's order.
        (lambda: KAVBeaconID(other=1),
         "KAVBeaconID.__new__() got an unexpected keyword argument 'other'"),
        (lambda: KAVBeaconID(1, z=1, prefix=2),
         "KAVBeaconID.__new__() got an unexpected keyword argument 'z'"),
        (lambda: KAVBeaconID(1, prefix=2, z=1),
         "KAVBeaconID.__new__() got multiple values for argument 'prefix'"),
        # Too many positional arguments is checked before any keyword.
        (lambda: ICAOAddress(1, 2, zzz=3),
         "ICAOAddress.__new__() takes 1 positional arguments but 2 were given"),
        # Names compare exactly: no case folding, no prefix matching.
        (lambda: ICAOAddress(Value=1),
         "ICAOAddress.__new__() got an unexpected keyword argument 'Value'"),
        (lambda: ICAOAddress(**{"välue": 1}),
         "ICAOAddress.__new__() got an unexpected keyword argument 'välue'"),
        (lambda: ICAOAddress(5).__init__(),
         "ICAOAddress.__init__() missing 1 required positional argument: 'value'"),
        (lambda: ICAOAddress(5).__init__(1, 2),
         "ICAOAddress.__init__() takes 1 positional arguments but 2 were given"),
    ],
    ids=["too_many_positional", "too_many_positional_of_two", "missing_one", "missing_two_of_two",
         "missing_three", "missing_two_after_keyword", "unknown_keyword", "positional_and_keyword",
         "unknown_keyword_only", "unknown_keyword_before_known", "duplicate_before_unknown_keyword",
         "too_many_positional_before_keyword", "keyword_in_other_case", "keyword_not_ascii",
         "init_missing_one", "init_too_many_positional"],
)
def test_argument_errors_name_the_callable(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert type(raised.value) is TypeError
    assert str(raised.value) == message


def test_keywords_in_any_order_match_positions():
    positional = KAVIDPrefix(GLIDER, FLARM, True, False)
    by_keyword = KAVIDPrefix(stealth_mode=False, no_track=True, address_type=FLARM,
                             aircraft_type=GLIDER)
    mixed = KAVIDPrefix(GLIDER, FLARM, stealth_mode=False, no_track=True)
    assert positional == by_keyword == mixed


def test_matching_comes_before_any_conversion():
    # Both the argument count and the bad value are wrong: the count is reported.
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'stealth_mode'"):
        KAVIDPrefix(1, 2, 3)


# ---------------------------------------------------------------------------
# The argument prefix


class TypeErrorSubclass(TypeError):
    pass


class Raising:
    def __init__(self, make_error):
        self.make_error = make_error

    def __index__(self):
        raise self.make_error()


def raise_from(cause):
    def make():
        try:
            raise cause
        except Exception as exc:  # noqa: BLE001
            error = TypeError("bad index")
            error.__cause__ = exc
            return error
    return make


@pytest.mark.parametrize(
    ("make_error", "expected_type", "message"),
    [
        (lambda: TypeError("bad index"), TypeError, "argument 'value': bad index"),
        (lambda: TypeError("a", "b"), TypeError, "argument 'value': ('a', 'b')"),
        (lambda: TypeErrorSubclass("bad index"), TypeErrorSubclass, "bad index"),
        (lambda: ValueError("bad index"), ValueError, "bad index"),
        (lambda: RuntimeError("bad index"), RuntimeError, "bad index"),
    ],
    ids=["TypeError", "TypeError_of_two_arguments", "TypeError_subclass", "ValueError",
         "RuntimeError"],
)
def test_only_an_exact_type_error_gets_the_argument_prefix(make_error, expected_type, message):
    with pytest.raises(BaseException) as raised:
        ICAOAddress(Raising(make_error))
    assert type(raised.value) is expected_type
    assert str(raised.value) == message


def test_prefixed_error_keeps_a_cause_and_adds_none():
    cause = KeyError("underlying")
    with pytest.raises(TypeError) as raised:
        ICAOAddress(Raising(raise_from(cause)))
    assert str(raised.value) == "argument 'value': bad index"
    assert raised.value.__cause__ is cause

    with pytest.raises(TypeError) as raised:
        ICAOAddress(Raising(lambda: TypeError("bad index")))
    assert raised.value.__cause__ is None


def test_the_prefixed_error_is_a_new_exception():
    original = TypeError("bad index")
    with pytest.raises(TypeError) as raised:
        ICAOAddress(Raising(lambda: original))
    assert raised.value is not original


# ---------------------------------------------------------------------------
# Type-mismatch messages


class Outer:
    class Inner:
        pass


class UnnamedMeta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


class Unnamed(metaclass=UnnamedMeta):
    pass


@pytest.mark.parametrize(
    ("value", "message"),
    [
        (None, "argument 'prefix': 'None' is not an instance of 'KAVIDPrefix'"),
        (Outer.Inner(),
         "argument 'prefix': 'Outer.Inner' object is not an instance of 'KAVIDPrefix'"),
        (Unnamed(),
         "argument 'prefix': '<failed to extract type name>' object is not an instance of "
         "'KAVIDPrefix'"),
        (KAVIDPrefix, "argument 'prefix': 'type' object is not an instance of 'KAVIDPrefix'"),
    ],
    ids=["None", "nested_class", "class_without_name", "the_class_itself"],
)
def test_type_mismatch_names_the_qualified_type(value, message):
    with pytest.raises(TypeError) as raised:
        KAVBeaconID(value, ICAOAddress(1))
    assert str(raised.value) == message


# ---------------------------------------------------------------------------
# The boolean converter


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        (True, True),
        (False, False),
        (np.bool_(True), True),
        (np.bool_(False), False),
    ],
)
def test_bools_and_numpy_bool_scalars_are_accepted(value, expected):
    p = KAVIDPrefix(GLIDER, FLARM, value, value)
    assert p.no_track is expected
    p.stealth_mode = not expected
    p.stealth_mode = value
    assert p.stealth_mode is expected


@pytest.mark.parametrize(
    ("value", "message"),
    [
        (1, "argument 'no_track': 'int' object is not an instance of 'bool'"),
        (0, "argument 'no_track': 'int' object is not an instance of 'bool'"),
        (1.0, "argument 'no_track': 'float' object is not an instance of 'bool'"),
        ("True", "argument 'no_track': 'str' object is not an instance of 'bool'"),
        (np.int64(1), "argument 'no_track': 'int64' object is not an instance of 'bool'"),
        (np.array([True]), "argument 'no_track': 'ndarray' object is not an instance of 'bool'"),
        (fake_numpy_bool(__bool__=lambda self: 1),
         "argument 'no_track': 'int' object is not an instance of 'bool'"),
        (fake_numpy_bool(),
         "argument 'no_track': object of type '<class 'numpy.bool_'>' does not define a "
         "'__bool__' conversion"),
        (fake_numpy_bool("float64", __bool__=lambda self: True),
         "argument 'no_track': 'float64' object is not an instance of 'bool'"),
    ],
    ids=["int_1", "int_0", "float", "str", "numpy_int64", "numpy_array", "numpy_bool_giving_int",
         "numpy_bool_without_bool", "float64_named_like_numpy_bool"],
)
def test_everything_else_is_refused_as_a_bool(value, message):
    with pytest.raises(TypeError) as raised:
        KAVIDPrefix(GLIDER, FLARM, value, False)
    assert str(raised.value) == message


def test_numpy_bool_is_recognised_by_name_under_either_spelling():
    for name in ("bool_", "bool"):
        assert KAVIDPrefix(GLIDER, FLARM, fake_numpy_bool(name, __bool__=lambda self: True),
                           False).no_track is True


def test_an_error_inside_a_numpy_bool_passes_unchanged():
    def fail(self):
        raise ZeroDivisionError("inside __bool__")

    with pytest.raises(ZeroDivisionError, match="^inside __bool__$"):
        KAVIDPrefix(GLIDER, FLARM, fake_numpy_bool(__bool__=fail), False)


# ---------------------------------------------------------------------------
# Borrow conflicts: Python code run by a conversion re-enters the instance


class Reentrant:
    """Runs `action` when converted, as an index and as a numpy boolean."""

    def __init__(self, action, result):
        self.action = action
        self.result = result

    def __index__(self):
        self.action()
        return self.result


def reentrant_bool(action):
    def convert(self):
        action()
        return True
    return fake_numpy_bool(__bool__=convert)


def test_reading_during_the_initialiser_is_allowed():
    address = ICAOAddress(7)
    seen = []
    address.__init__(Reentrant(lambda: seen.append((repr(address), address == ICAOAddress(7))), 1))
    assert seen == [("PyICAOAddress(7)", True)]

    p = new_prefix()
    p.__init__(GLIDER, FLARM, reentrant_bool(lambda: seen.append(p.aircraft_type)), False)
    assert seen[-1] is GLIDER


def test_writing_during_the_initialiser_is_refused_and_leaves_the_instance_usable():
    p = new_prefix()

    def write():
        p.no_track = True

    with pytest.raises(RuntimeError) as raised:
        p.__init__(GLIDER, FLARM, reentrant_bool(write), False)
    assert type(raised.value) is RuntimeError
    assert str(raised.value) == "Already borrowed"
    assert p.no_track is False
    p.no_track = True  # the initialiser's borrow was released on the way out
    assert p.no_track is True


def test_a_setter_converts_before_it_borrows():
    # The new value's conversion may itself read the instance being written.
    p = new_prefix()
    p.stealth_mode = reentrant_bool(lambda: p.stealth_mode)
    assert p.stealth_mode is True


def test_constructing_from_an_instance_being_initialised_reads_it():
    p = new_prefix()
    made = []
    p.__init__(GLIDER, FLARM, reentrant_bool(lambda: made.append(KAVBeaconID(p, ICAOAddress(1)))),
               False)
    assert made[0].prefix == new_prefix()


# ---------------------------------------------------------------------------
# Descriptors and class properties


@pytest.mark.parametrize(
    ("make", "attribute"),
    [
        (new_prefix, "aircraft_type"),
        (new_prefix, "address_type"),
        (new_prefix, "no_track"),
        (new_prefix, "stealth_mode"),
        (lambda: KAVBeaconID(new_prefix(), ICAOAddress(1)), "prefix"),
        (lambda: KAVBeaconID(new_prefix(), ICAOAddress(1)), "icao_address"),
    ],
)
def test_attributes_cannot_be_deleted(make, attribute):
    instance = make()
    before = getattr(instance, attribute)
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        delattr(instance, attribute)
    # By value: the identifier getters hand out a new copy on every read.
    assert getattr(instance, attribute) == before


INSTANCES = [
    lambda: ICAOAddress(1),
    new_prefix,
    lambda: KAVBeaconID(new_prefix(), ICAOAddress(1)),
    lambda: GLIDER,
    lambda: FLARM,
    lambda: KAVAPRSProtocol.KAFLR,
]


@pytest.mark.parametrize("make", INSTANCES)
def test_instances_have_no_dict_and_no_weak_references(make):
    instance = make()
    with pytest.raises(AttributeError):
        instance.unknown_attribute = 1
    with pytest.raises(AttributeError):
        instance.__dict__  # noqa: B018
    with pytest.raises(TypeError):
        weakref.ref(instance)


@pytest.mark.parametrize("cls", CLASSES, ids=lambda cls: cls.__name__)
def test_classes_report_builtins_and_cannot_be_subclassed(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__base__ is object
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


@pytest.mark.parametrize("cls", CLASSES, ids=lambda cls: cls.__name__)
def test_class_objects_accept_new_attributes(cls):
    cls.added_by_test = 1
    assert cls.added_by_test == 1
    del cls.added_by_test
    assert not hasattr(cls, "added_by_test")


@pytest.mark.parametrize("cls", [ICAOAddress, KAVBeaconID, KAVIDPrefix], ids=lambda c: c.__name__)
def test_object_new_cannot_bypass_the_constructor(cls):
    with pytest.raises(TypeError):
        object.__new__(cls)


# Once Python code replaces a class's __new__, object.__new__ no longer refuses
# the class. The instance it hands out has seen no constructor of the module,
# and must still read, write, compare, print and go away like any other. The
# replacement cannot be undone, so each class is tried in a child interpreter.
OBJECT_NEW_ROUTE = textwrap.dedent(
    """
    import datetime, gc, sys
    import kav_aprs_parser_pyo3 as kav

    names = {**vars(kav), "datetime": datetime}
    cls = getattr(kav, sys.argv[1])
    writes = {name: eval(text, names) for name, text in eval(sys.argv[2]).items()}
    twin = eval(sys.argv[3], names)

    cls.__new__ = lambda cls, *args, **kwargs: object.__new__(cls)
    made = object.__new__(cls)
    assert type(made) is cls
    print(repr(made) if cls is not kav.KAVIDPrefix else "default repr")
    assert made == twin and not made != twin, (made, twin)
    for name, value in writes.items():
        try:
            delattr(made, name)
        except AttributeError as error:
            assert str(error) == "property has no deleter", error
        else:
            raise AssertionError("deleted " + name)
        setattr(made, name, value)
        assert getattr(made, name) == value, name
    assert (made == twin) == (not writes)
    del made
    gc.collect()
    print("done")
    """
)
BLANK_ID = (
    "KAVBeaconID(KAVIDPrefix(KAVAircraftType.RESERVED, KAVAddressType.UNKNOWN, False, False), "
    "ICAOAddress(0))"
)
BLANK_ID_REPR = (
    "PyKAVBeaconID { prefix: PyKAVIDPrefix { aircraft_type: Reserved, address_type: Unknown, "
    "no_track: false, stealth_mode: false }, icao_address: PyICAOAddress(0) }"
)
OTHER_ID = "KAVBeaconID(KAVIDPrefix(KAVAircraftType.GLIDER, KAVAddressType.FLARM, True, False), ICAOAddress(7))"


# Class, attribute writes (expressions), an equal instance made by the
# constructor, and what repr prints.
OBJECT_NEW_CASES = [
    ("ICAOAddress", {}, "ICAOAddress(0)", "PyICAOAddress(0)"),
    ("KAVIDPrefix",
     {"aircraft_type": "KAVAircraftType.BALLOON", "address_type": "KAVAddressType.ICAO",
      "no_track": "True", "stealth_mode": "True"},
     "KAVIDPrefix(KAVAircraftType.RESERVED, KAVAddressType.UNKNOWN, False, False)",
     "default repr"),
    ("KAVBeaconID",
     {"prefix": "KAVIDPrefix(KAVAircraftType.GLIDER, KAVAddressType.FLARM, True, False)",
      "icao_address": "ICAOAddress(0xFFFFFF)"},
     BLANK_ID, BLANK_ID_REPR),
    ("AircraftBeacon",
     {"callsign": "'ABC'", "q_construct": "'qAS'", "receiver": "'R1'",
      "kav_aprs_protocol": "KAVAPRSProtocol.KAVSKY", "time": "datetime.time(1, 2, 3)",
      "latitude": "1.5", "longitude": "-2.5", "ground_track": "3.0", "ground_speed": "4.0",
      "gps_altitude": "5.0", "kav_beacon_id": OTHER_ID},
     "AircraftBeacon('', '', '', KAVAPRSProtocol.KAADSB, datetime.time(0, 0), 0.0, 0.0, 0.0, "
     "0.0, 0.0, " + BLANK_ID + ")",
     'PyAircraftBeacon { callsign: "", q_construct: "", receiver: "", kav_aprs_protocol: KAADSB, '
     "time: 00:00:00, latitude: 0.0, longitude: 0.0, ground_track: 0.0, ground_speed: 0.0, "
     "gps_altitude: 0.0, kav_beacon_id: " + BLANK_ID_REPR + " }"),
    ("KAVAPRSProtocol", {}, "KAVAPRSProtocol.KAADSB", "KAADSB"),
    ("KAVAddressType", {}, "KAVAddressType.UNKNOWN", "Unknown"),
    ("KAVAircraftType", {}, "KAVAircraftType.RESERVED", "Reserved"),
]


@pytest.mark.parametrize(("name", "writes", "twin", "printed"),
                         [pytest.param(*case, id=case[0]) for case in OBJECT_NEW_CASES])
def test_an_instance_from_object_new_holds_a_blank_value(name, writes, twin, printed):
    run = subprocess.run(
        [sys.executable, "-c", OBJECT_NEW_ROUTE, name, repr(writes), twin],
        capture_output=True, text=True, timeout=60, check=False,
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == [printed, "done"]


# ---------------------------------------------------------------------------
# The module's add operation, run again on fresh module objects


def fresh_module(all_value=None):
    spec = kav.__spec__
    module = spec.loader.create_module(spec)
    if all_value is not None:
        module.__all__ = all_value
    return spec.loader, module


def test_executing_again_adds_the_same_class_objects():
    loader, module = fresh_module()
    loader.exec_module(module)
    assert module.__all__ == kav.__all__
    for cls in CLASSES:
        assert getattr(module, cls.__name__) is cls


def test_the_classes_are_listed_in_all_in_their_order():
    names = ["ICAOAddress", "KAVAddressType", "KAVAircraftType", "KAVAPRSProtocol", "KAVBeaconID",
             "KAVIDPrefix"]
    assert [name for name in kav.__all__ if name in names] == names


def test_an_existing_list_all_is_extended():
    class Names(list):
        pass

    existing = Names(["already_there"])
    loader, module = fresh_module(existing)
    loader.exec_module(module)
    assert module.__all__ is existing
    assert existing == ["already_there", *kav.__all__]


def test_an_all_that_is_no_list_fails_the_execution():
    loader, module = fresh_module(("already_there",))
    with pytest.raises(TypeError, match=r"^'tuple' object is not an instance of 'list'$"):
        loader.exec_module(module)


# ---------------------------------------------------------------------------
# Exhausted memory, provoked in a child interpreter by failing one allocation
# at a time (CPython's _testcapi.set_nomemory).

ATTEMPT_EACH_ALLOCATION = textwrap.dedent(
    """
    import _testcapi
    import kav_aprs_parser_pyo3 as kav

    def attempt(action, start):
        # Only the one allocation numbered `start` fails; the outcome is named
        # after the hooks are gone, so naming it cannot fail.
        try:
            _testcapi.set_nomemory(start, start + 1)
            try:
                action()
            finally:
                _testcapi.remove_mem_hooks()
        except Exception as error:
            return "Exception " + type(error).__name__
        except BaseException as error:
            return "BaseException %s %s %s" % (
                type(error).__name__, type(error).__mro__[1].__name__, error)
        return "ok"
    """
)
REPORT_EACH_ATTEMPT = textwrap.dedent(
    """
    for name, action in ACTIONS.items():
        for start in range(60):
            print(name, attempt(action, start))
    """
)


def run_with_failing_allocations(setup):
    """Runs each action of the ACTIONS dict that `setup` defines once per
    allocation, failing just that allocation; one line of outcome per run."""
    pytest.importorskip("_testcapi")
    script = ATTEMPT_EACH_ALLOCATION + textwrap.dedent(setup) + REPORT_EACH_ATTEMPT
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=120, check=False)
    assert run.returncode == 0, run.stderr
    return [line.split(" ", 1) for line in run.stdout.splitlines()], run.stderr


def test_a_failed_append_to_all_raises_memory_error_not_an_internal_failure():
    outcomes, stderr = run_with_failing_allocations(
        """
        def execute_with_empty_all():
            spec = kav.__spec__
            module = spec.loader.create_module(spec)
            module.__all__ = []
            spec.loader.exec_module(module)

        ACTIONS = {"exec": execute_with_empty_all}
        """
    )
    assert ["exec", "Exception MemoryError"] in outcomes
    assert {outcome for _, outcome in outcomes} <= {"ok", "Exception MemoryError"}
    assert "internal failure" not in stderr


def test_entries_survive_every_single_failed_allocation():
    outcomes, _ = run_with_failing_allocations(
        """
        P = kav.KAVIDPrefix(kav.KAVAircraftType.GLIDER, kav.KAVAddressType.FLARM, False, False)
        P2 = kav.KAVIDPrefix(kav.KAVAircraftType.BALLOON, kav.KAVAddressType.ICAO, True, True)
        B = kav.KAVBeaconID(P, kav.ICAOAddress(5))
        ACTIONS = {
            "new": lambda: kav.KAVBeaconID(P, kav.ICAOAddress(5)),
            "repr": lambda: repr(B),
            "get": lambda: B.prefix,
            "set": lambda: setattr(B, "prefix", P2 if B.prefix == P else P),
            "compare": lambda: B == kav.KAVBeaconID(P2, kav.ICAOAddress(5)),
            "mismatch": lambda: kav.KAVIDPrefix(1, 2, 3, 4),
            "prefixed": lambda: kav.ICAOAddress("x"),
        }
        """
    )
    expected = {
        "new": "ok", "repr": "ok", "get": "ok", "set": "ok", "compare": "ok",
        "mismatch": "Exception TypeError", "prefixed": "Exception TypeError",
    }
    also_possible = {"Exception MemoryError"}
    if sys.version_info >= (3, 11):
        # From 3.11 on the interpreter itself can lose an exception that it is
        # creating when that allocation fails (any builtin raising shows it).
        also_possible.add("Exception SystemError")
    for name, outcome in outcomes:
        assert outcome in {expected[name]} | also_possible, (name, outcome)


# A C++ allocation that fails inside an entry point raises MemoryError and
# leaves the process usable, instead of ending it. The one large allocation in
# the module is the copy of a bytearray argument, made here to exceed a limit
# on the child's address space.
EXHAUST_ADDRESS_SPACE = textwrap.dedent(
    """
    import resource
    import kav_aprs_parser_pyo3 as kav

    line = bytearray(300 << 20)
    with open("/proc/self/status") as status:
        mapped = next(int(row.split()[1]) * 1024 for row in status if row.startswith("VmSize"))
    resource.setrlimit(resource.RLIMIT_AS, (mapped + (100 << 20), resource.RLIM_INFINITY))
    try:
        kav.parse_kav_aprs_aircraft_beacon(line)
    except MemoryError:
        print("MemoryError")
    print(repr(kav.ICAOAddress(5)))
    """
)


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer runtime needs an unlimited address space")
def test_exhausted_memory_in_the_module_raises_memory_error():
    run = subprocess.run([sys.executable, "-c", EXHAUST_ADDRESS_SPACE], capture_output=True,
                         text=True, timeout=120, check=False)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["MemoryError", "PyICAOAddress(5)"]
