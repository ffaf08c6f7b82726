"""The enumeration classes: shared members, text forms, codes and comparison."""

import operator

import pytest

from kav_aprs_parser_pyo3 import KAVAddressType, KAVAircraftType, KAVAPRSProtocol

ENUMS = (KAVAircraftType, KAVAddressType, KAVAPRSProtocol)

# (class, attribute name, code, text form), in the class's declaration order.
MEMBERS = [
    (KAVAircraftType, "RESERVED", 0, "Reserved"),
    (KAVAircraftType, "GLIDER", 1, "Glider"),
    (KAVAircraftType, "TOW_PLANE", 2, "TowPlane"),
    (KAVAircraftType, "HELICOPTER", 3, "Helicopter"),
    (KAVAircraftType, "PARACHUTE", 4, "Parachute"),
    (KAVAircraftType, "DROP_PLANE", 5, "DropPlane"),
    (KAVAircraftType, "HANG_GLIDER", 6, "HangGlider"),
    (KAVAircraftType, "PARAGLIDER", 7, "Paraglider"),
    (KAVAircraftType, "RECIPROCATING_ENGINE_AIRCRAFT", 8, "ReciprocatingEngineAircraft"),
    (KAVAircraftType, "JET_TURBOPROP_AIRCRAFT", 9, "JetTurbopropAircraft"),
    (KAVAircraftType, "UNKNOWN", 10, "Unknown"),
    (KAVAircraftType, "BALLOON", 11, "Balloon"),
    (KAVAircraftType, "AIRSHIP", 12, "Airship"),
    (KAVAircraftType, "UA_VS", 13, "UAVs"),
    (KAVAircraftType, "STATIC_OBSTACLE", 15, "StaticObstacle"),
    (KAVAddressType, "UNKNOWN", 0, "Unknown"),
    (KAVAddressType, "ICAO", 1, "ICAO"),
    (KAVAddressType, "FLARM", 2, "FLARM"),
    (KAVAddressType, "KAV_TRACKER", 3, "KAVTracker"),
    (KAVAPRSProtocol, "KAADSB", 0, "KAADSB"),
    (KAVAPRSProtocol, "KAFLR", 1, "KAFLR"),
    (KAVAPRSProtocol, "KAVSKY", 2, "KAVSKY"),
]

DOCS = {
    KAVAircraftType: "Categories of aircraft identified in the KAV network.",
    KAVAddressType: "The scheme utilized to format and route the beacon address.",
    KAVAPRSProtocol: "The protocol format used by the beacon over the APRS network.",
}


class IndexOnly:
    """Not an int, but convertible to one through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(("cls", "name", "code", "text"), MEMBERS)
def test_member_shows_its_text_form_and_converts_to_its_code(cls, name, code, text):
    member = getattr(cls, name)
    assert type(member) is cls
    assert repr(member) == text
    assert str(member) == text
    assert int(member) == code
    assert bool(member) is True  # also for code 0: no __bool__ of its own


@pytest.mark.parametrize("cls", ENUMS)
def test_class_attributes_are_the_members_in_declaration_order(cls):
    expected = [name for owner, name, _, _ in MEMBERS if owner is cls]
    assert [name for name in vars(cls) if name.isupper()] == expected


@pytest.mark.parametrize(("cls", "name"), [(cls, name) for cls, name, _, _ in MEMBERS])
def test_every_read_of_a_member_gives_the_same_object(cls, name):
    assert getattr(cls, name) is getattr(cls, name)


@pytest.mark.parametrize(
    ("left", "right", "equal"),
    [
        (KAVAircraftType.GLIDER, KAVAircraftType.GLIDER, True),
        (KAVAircraftType.GLIDER, KAVAircraftType.TOW_PLANE, False),
        (KAVAircraftType.GLIDER, 1, True),
        (KAVAircraftType.GLIDER, True, True),
        (KAVAircraftType.RESERVED, 0, True),
        (KAVAircraftType.RESERVED, False, True),
        (KAVAircraftType.STATIC_OBSTACLE, 15, True),
        (KAVAircraftType.STATIC_OBSTACLE, 14, False),
        (KAVAircraftType.GLIDER, IndexOnly(1), True),
        (KAVAircraftType.GLIDER, IndexOnly(2), False),
        (KAVAPRSProtocol.KAVSKY, 2, True),
        (KAVAddressType.KAV_TRACKER, -3, False),
        # Not comparable: equality falls back to identity, never raises.
        (KAVAircraftType.GLIDER, KAVAddressType.ICAO, False),  # same code, other class
        (KAVAircraftType.GLIDER, 1.0, False),
        (KAVAircraftType.GLIDER, "Glider", False),
        (KAVAircraftType.GLIDER, 2**70, False),
        (KAVAircraftType.GLIDER, -(2**70), False),
        (KAVAircraftType.GLIDER, None, False),
        (KAVAircraftType.GLIDER, IndexOnly("not an int"), False),
    ],
    ids=["same_member", "other_member", "its_code", "True_as_code_1", "code_0", "False_as_code_0",
         "highest_code", "other_code", "index_of_its_code", "index_of_other_code",
         "code_of_other_enum", "negative_int", "member_of_other_enum_same_code", "float",
         "text_form", "int_beyond_64_bits", "negative_int_beyond_64_bits", "None",
         "index_not_an_int"],
)
def test_equality_with_members_and_integers(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)
    assert (right == left) is equal  # reflected through the member's own comparison


@pytest.mark.parametrize("compare", [operator.lt, operator.le, operator.gt, operator.ge])
@pytest.mark.parametrize("other", [KAVAircraftType.TOW_PLANE, 5])
def test_members_are_unordered(compare, other):
    with pytest.raises(TypeError):
        compare(KAVAircraftType.GLIDER, other)


@pytest.mark.parametrize("cls", ENUMS)
def test_class_cannot_be_called_subclassed_or_its_members_hashed(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls(1)
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    member = next(iter(v for v in vars(cls).values() if type(v) is cls))
    with pytest.raises(TypeError):
        hash(member)
    with pytest.raises(TypeError):
        {member}  # noqa: B018 - a set needs hashing


@pytest.mark.parametrize(
    "use",
    [
        operator.index, float, lambda m: [0, 1][m], lambda m: m + 1,
        lambda m: m.name, lambda m: m.value,
    ],
    ids=["index", "float", "subscript", "add", "name", "value"],
)
def test_members_offer_nothing_beyond_their_listed_operations(use):
    with pytest.raises((TypeError, AttributeError)):
        use(KAVAircraftType.GLIDER)


@pytest.mark.parametrize("cls", ENUMS)
def test_classes_are_not_iterable_and_have_no_lookup_by_code(cls):
    with pytest.raises(TypeError):
        iter(cls)
    with pytest.raises(TypeError):
        cls[0]


@pytest.mark.parametrize("cls", ENUMS)
def test_class_identity_and_docstring(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__doc__ == DOCS[cls]
    assert cls.__text_signature__ is None


def test_members_are_kept_alive_by_the_class_not_by_readers():
    import sys

    member = KAVAircraftType.BALLOON
    before = sys.getrefcount(member)
    for _ in range(1000):
        int(member)
        repr(member)
        _ = member == 11
    assert sys.getrefcount(member) == before
