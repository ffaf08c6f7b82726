"""ICAOAddress, KAVIDPrefix and KAVBeaconID: construction, copies, reprs, comparison."""

import operator

import pytest

from kav_aprs_parser_pyo3 import (
    ICAOAddress,
    KAVAddressType,
    KAVAircraftType,
    KAVBeaconID,
    KAVIDPrefix,
)

GLIDER_FLARM_REPR = (
    "PyKAVBeaconID { prefix: PyKAVIDPrefix { aircraft_type: Glider, address_type: FLARM, "
    "no_track: false, stealth_mode: false }, icao_address: PyICAOAddress(14525882) }"
)


def prefix(aircraft=KAVAircraftType.GLIDER, address=KAVAddressType.FLARM, no_track=False,
           stealth=False):
    return KAVIDPrefix(aircraft, address, no_track, stealth)


def beacon_id(**changes):
    return KAVBeaconID(prefix(**changes), ICAOAddress(0xDDA5BA))


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IntSubclass(int):
    pass


# ---------------------------------------------------------------------------
# ICAOAddress


@pytest.mark.parametrize(
    ("value", "shown"),
    [
        (0, "PyICAOAddress(0)"),
        (0xDDA5BA, "PyICAOAddress(14525882)"),
        (0xFFFFFF, "PyICAOAddress(16777215)"),
        (True, "PyICAOAddress(1)"),
        (IntSubclass(7), "PyICAOAddress(7)"),
        (Index(42), "PyICAOAddress(42)"),
    ],
)
def test_address_accepts_integers_up_to_24_bits(value, shown):
    assert repr(ICAOAddress(value)) == shown
    assert str(ICAOAddress(value)) == shown
    assert repr(ICAOAddress(value=value)) == shown


@pytest.mark.parametrize(
    ("value", "error", "message"),
    [
        (0x1000000, ValueError,
         "Value 0x1000000 (16777216) exceeds 24-bit ICAO address limit (0xFFFFFF)"),
        (0xFFFFFFFF, ValueError,
         "Value 0xFFFFFFFF (4294967295) exceeds 24-bit ICAO address limit (0xFFFFFF)"),
        (2**32, OverflowError, "out of range integral type conversion attempted"),
        (2**64 - 1, OverflowError, "out of range integral type conversion attempted"),
        (Index(2**32), OverflowError, "out of range integral type conversion attempted"),
        (-1, OverflowError, "can't convert negative int to unsigned"),
        (2**64, OverflowError, None),  # the interpreter's own wording
        (1.0, TypeError, "argument 'value': 'float' object cannot be interpreted as an integer"),
        ("5", TypeError, "argument 'value': 'str' object cannot be interpreted as an integer"),
        (None, TypeError,
         "argument 'value': 'NoneType' object cannot be interpreted as an integer"),
    ],
    ids=["25_bits", "32_bits", "33_bits", "64_bits", "index_of_33_bits", "negative",
         "beyond_64_bits", "float", "str", "None"],
)
def test_address_refuses_what_does_not_fit(value, error, message):
    with pytest.raises(error) as raised:
        ICAOAddress(value)
    assert type(raised.value) is error
    if message is not None:
        assert str(raised.value) == message


def test_address_initialiser_validates_type_and_width_only_and_changes_nothing():
    address = ICAOAddress(5)
    assert address.__init__(0x1000000) is None  # the 24-bit limit is not checked again
    assert address.__init__(value=9) is None
    assert address == ICAOAddress(5)
    with pytest.raises(TypeError, match=r"^argument 'value': 'str' object cannot be"):
        address.__init__("x")
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        address.__init__(2**32)
    assert address == ICAOAddress(5)


def test_address_number_is_visible_only_through_repr_and_comparison():
    address = ICAOAddress(5)
    with pytest.raises(AttributeError):
        address.value  # noqa: B018
    with pytest.raises(AttributeError):
        address.value = 6


# ---------------------------------------------------------------------------
# KAVIDPrefix


@pytest.mark.parametrize(
    ("args", "message"),
    [
        ((1, KAVAddressType.ICAO, False, False),
         "argument 'aircraft_type': 'int' object is not an instance of 'KAVAircraftType'"),
        ((KAVAddressType.ICAO, KAVAddressType.ICAO, False, False),
         "argument 'aircraft_type': 'KAVAddressType' object is not an instance of "
         "'KAVAircraftType'"),
        ((KAVAircraftType.GLIDER, KAVAircraftType.GLIDER, False, False),
         "argument 'address_type': 'KAVAircraftType' object is not an instance of "
         "'KAVAddressType'"),
        ((KAVAircraftType.GLIDER, None, False, False),
         "argument 'address_type': 'None' is not an instance of 'KAVAddressType'"),
        ((KAVAircraftType.GLIDER, KAVAddressType.ICAO, 0, False),
         "argument 'no_track': 'int' object is not an instance of 'bool'"),
        ((KAVAircraftType.GLIDER, KAVAddressType.ICAO, False, 1),
         "argument 'stealth_mode': 'int' object is not an instance of 'bool'"),
        # Conversions run in parameter order: the first bad argument is named.
        ((1, 2, 3, 4),
         "argument 'aircraft_type': 'int' object is not an instance of 'KAVAircraftType'"),
    ],
    ids=["aircraft_type_int", "aircraft_type_address_type", "address_type_aircraft_type",
         "address_type_None", "no_track_int", "stealth_mode_int", "first_bad_argument_named"],
)
def test_prefix_arguments_must_have_their_exact_types(args, message):
    with pytest.raises(TypeError) as raised:
        KAVIDPrefix(*args)
    assert str(raised.value) == message
    existing = prefix()
    with pytest.raises(TypeError) as raised_again:
        existing.__init__(*args)
    assert str(raised_again.value) == message


@pytest.mark.parametrize(
    ("attribute", "value"),
    [
        ("aircraft_type", KAVAircraftType.STATIC_OBSTACLE),
        ("address_type", KAVAddressType.KAV_TRACKER),
        ("no_track", True),
        ("stealth_mode", True),
    ],
)
def test_prefix_attributes_read_back_what_was_written(attribute, value):
    p = prefix()
    setattr(p, attribute, value)
    assert getattr(p, attribute) is value  # members and bools are shared objects
    others = {"aircraft_type", "address_type", "no_track", "stealth_mode"} - {attribute}
    for other in others:
        assert getattr(p, other) == getattr(prefix(), other)


@pytest.mark.parametrize(
    ("attribute", "value", "message"),
    [
        ("aircraft_type", 1,
         "argument 'aircraft_type': 'int' object is not an instance of 'KAVAircraftType'"),
        ("address_type", KAVAircraftType.GLIDER,
         "argument 'address_type': 'KAVAircraftType' object is not an instance of "
         "'KAVAddressType'"),
        ("no_track", 1, "argument 'no_track': 'int' object is not an instance of 'bool'"),
        ("stealth_mode", None, "argument 'stealth_mode': 'None' is not an instance of 'bool'"),
    ],
    ids=["aircraft_type_int", "address_type_aircraft_type", "no_track_int", "stealth_mode_None"],
)
def test_prefix_rejected_write_keeps_the_old_value(attribute, value, message):
    p = prefix()
    before = getattr(p, attribute)
    with pytest.raises(TypeError) as raised:
        setattr(p, attribute, value)
    assert str(raised.value) == message
    assert getattr(p, attribute) is before


def test_prefix_members_are_the_class_attributes_themselves():
    p = prefix(KAVAircraftType.UA_VS, KAVAddressType.ICAO)
    assert p.aircraft_type is KAVAircraftType.UA_VS
    assert p.address_type is KAVAddressType.ICAO


def test_prefix_has_the_default_object_repr():
    p = prefix()
    assert repr(p) == object.__repr__(p)


# ---------------------------------------------------------------------------
# KAVBeaconID


def test_beacon_id_repr_nests_prefix_and_address():
    assert repr(beacon_id()) == GLIDER_FLARM_REPR
    assert str(beacon_id()) == GLIDER_FLARM_REPR
    shown = repr(KAVBeaconID(
        prefix(KAVAircraftType.UA_VS, KAVAddressType.KAV_TRACKER, True, True), ICAOAddress(0)))
    assert shown == (
        "PyKAVBeaconID { prefix: PyKAVIDPrefix { aircraft_type: UAVs, address_type: KAVTracker, "
        "no_track: true, stealth_mode: true }, icao_address: PyICAOAddress(0) }"
    )


def test_beacon_id_reads_give_new_equal_copies():
    b = beacon_id()
    assert b.prefix is not b.prefix
    assert b.prefix == b.prefix
    assert b.icao_address is not b.icao_address
    assert b.icao_address == ICAOAddress(0xDDA5BA)
    b.prefix.no_track = True  # changes only the copy
    assert b.prefix.no_track is False


def test_beacon_id_keeps_its_value_when_its_arguments_change_later():
    p = prefix()
    b = KAVBeaconID(p, ICAOAddress(1))
    p.aircraft_type = KAVAircraftType.BALLOON
    assert b.prefix.aircraft_type is KAVAircraftType.GLIDER
    b.prefix = p
    p.no_track = True
    assert b.prefix.aircraft_type is KAVAircraftType.BALLOON
    assert b.prefix.no_track is False
    b.icao_address = ICAOAddress(7)
    assert b.icao_address == ICAOAddress(7)


@pytest.mark.parametrize(
    ("args", "message"),
    [
        ((None, ICAOAddress(1)), "argument 'prefix': 'None' is not an instance of 'KAVIDPrefix'"),
        ((ICAOAddress(1), ICAOAddress(1)),
         "argument 'prefix': 'ICAOAddress' object is not an instance of 'KAVIDPrefix'"),
        ((prefix(), 1),
         "argument 'icao_address': 'int' object is not an instance of 'ICAOAddress'"),
        ((prefix(), prefix()),
         "argument 'icao_address': 'KAVIDPrefix' object is not an instance of 'ICAOAddress'"),
    ],
    ids=["prefix_None", "prefix_address", "address_int", "address_prefix"],
)
def test_beacon_id_arguments_must_be_identifier_instances(args, message):
    with pytest.raises(TypeError) as raised:
        KAVBeaconID(*args)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    ("attribute", "value", "message"),
    [
        ("prefix", beacon_id(), "argument 'prefix': 'KAVBeaconID' object is not an instance of "
                                "'KAVIDPrefix'"),
        ("icao_address", 0xDDA5BA,
         "argument 'icao_address': 'int' object is not an instance of 'ICAOAddress'"),
    ],
    ids=["prefix_beacon_id", "address_int"],
)
def test_beacon_id_rejected_write_keeps_the_old_value(attribute, value, message):
    b = beacon_id()
    with pytest.raises(TypeError) as raised:
        setattr(b, attribute, value)
    assert str(raised.value) == message
    assert repr(b) == GLIDER_FLARM_REPR


def test_beacon_id_initialiser_validates_and_changes_nothing():
    b = beacon_id()
    assert b.__init__(prefix(KAVAircraftType.AIRSHIP), ICAOAddress(3)) is None
    assert repr(b) == GLIDER_FLARM_REPR
    with pytest.raises(TypeError, match="^argument 'icao_address'"):
        b.__init__(prefix(), "x")


# ---------------------------------------------------------------------------
# Comparison, shared by the three classes


@pytest.mark.parametrize(
    ("left", "right", "equal"),
    [
        (ICAOAddress(5), ICAOAddress(5), True),
        (ICAOAddress(5), ICAOAddress(6), False),
        (ICAOAddress(True), ICAOAddress(1), True),
        (ICAOAddress(5), 5, False),
        (prefix(), prefix(), True),
        (prefix(), prefix(aircraft=KAVAircraftType.RESERVED), False),
        (prefix(), prefix(address=KAVAddressType.ICAO), False),
        (prefix(), prefix(no_track=True), False),
        (prefix(), prefix(stealth=True), False),
        (beacon_id(), beacon_id(), True),
        (beacon_id(), beacon_id(stealth=True), False),
        (beacon_id(), KAVBeaconID(prefix(), ICAOAddress(0xDDA5BB)), False),
        (beacon_id(), GLIDER_FLARM_REPR, False),
        (beacon_id(), beacon_id().prefix, False),
    ],
    ids=["address_same", "address_other", "address_from_bool", "address_and_int", "prefix_same",
         "prefix_other_aircraft_type", "prefix_other_address_type", "prefix_other_no_track",
         "prefix_other_stealth_mode", "beacon_id_same", "beacon_id_other_prefix",
         "beacon_id_other_address", "beacon_id_and_its_repr", "beacon_id_and_its_prefix"],
)
def test_equality_is_field_by_field_within_one_class(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)
    assert (right == left) is equal


@pytest.mark.parametrize("make", [lambda: ICAOAddress(5), prefix, beacon_id],
                         ids=["ICAOAddress", "KAVIDPrefix", "KAVBeaconID"])
@pytest.mark.parametrize("compare", [operator.lt, operator.le, operator.gt, operator.ge])
def test_instances_are_unordered(make, compare):
    with pytest.raises(TypeError):
        compare(make(), make())


@pytest.mark.parametrize("make", [lambda: ICAOAddress(5), prefix, beacon_id],
                         ids=["ICAOAddress", "KAVIDPrefix", "KAVBeaconID"])
def test_instances_are_unhashable(make):
    with pytest.raises(TypeError):
        hash(make())
    assert type(make()).__hash__ is None


# ---------------------------------------------------------------------------
# Class docstrings and signatures

DOCS = {
    ICAOAddress: ("(value)", "Represents a 24-bit ICAO aircraft address."),
    KAVBeaconID: (
        "(prefix, icao_address)",
        "Represents a complete KAV beacon identifier.\n\n"
        "In KAV APRS, a beacon ID is composed of a 1-byte metadata prefix (encoding\n"
        "things like aircraft type and tracker type) and a 3-byte (24-bit) address.",
    ),
    KAVIDPrefix: (
        "(aircraft_type, address_type, no_track, stealth_mode)",
        "The decoded metadata parsed from the 1-byte KAV ID prefix.\n\n"
        "The KAV network embeds privacy requests and object type classification into\n"
        "the first byte of a tracker's ID string using specific bitwise flags.\n\n"
        "# Bit Layout\n"
        "* **Bits 0-1:** Device Address Type (2 bits) -> `KAVAddressType`\n"
        "* **Bits 2-5:** Aircraft / Object Type (4 bits) -> `KAVAircraftType`\n"
        "* **Bit 6:** No-Track Flag (1 bit). If true, do not record trace logs.\n"
        "* **Bit 7:** Stealth Mode Flag (1 bit). If true, delay or hide on live maps.",
    ),
}


@pytest.mark.parametrize("cls", list(DOCS), ids=lambda cls: cls.__name__)
def test_class_docstring_and_text_signature(cls):
    import inspect

    signature, doc = DOCS[cls]
    assert cls.__text_signature__ == signature
    assert cls.__doc__ == doc
    assert str(inspect.signature(cls)) == signature


@pytest.mark.parametrize(("cls", "attributes"), [
    (KAVIDPrefix, ["aircraft_type", "address_type", "no_track", "stealth_mode"]),
    (KAVBeaconID, ["prefix", "icao_address"]),
])
def test_attributes_are_documented_descriptors_in_declaration_order(cls, attributes):
    descriptors = [name for name, value in vars(cls).items()
                   if type(value).__name__ == "getset_descriptor"]
    assert descriptors == attributes
    assert all(vars(cls)[name].__doc__ == "" for name in attributes)
