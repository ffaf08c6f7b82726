"""AircraftBeacon: construction, attributes, time conversion, repr and equality."""

import datetime
import decimal
import fractions
import math
import sys
import warnings
import weakref

import pytest

from kav_aprs_parser_pyo3 import (
    AircraftBeacon,
    ICAOAddress,
    KAVAddressType,
    KAVAircraftType,
    KAVAPRSProtocol,
    KAVBeaconID,
    KAVIDPrefix,
)

PARAMETERS = (
    "callsign",
    "q_construct",
    "receiver",
    "kav_aprs_protocol",
    "time",
    "latitude",
    "longitude",
    "ground_track",
    "ground_speed",
    "gps_altitude",
    "kav_beacon_id",
)


def glider_id(address=0xDDA5BA, no_track=False):
    prefix = KAVIDPrefix(KAVAircraftType.GLIDER, KAVAddressType.FLARM, no_track, False)
    return KAVBeaconID(prefix, ICAOAddress(address))


def fields(**overrides):
    """The worked example's field values, with some replaced."""
    values = dict(
        callsign="ABC",
        q_construct="qAS",
        receiver="R1",
        kav_aprs_protocol=KAVAPRSProtocol.KAFLR,
        time=datetime.time(12, 34, 56),
        latitude=47.5,
        longitude=-8.25,
        ground_track=0,
        ground_speed=0.00001,
        gps_altitude=1200,
        kav_beacon_id=glider_id(),
    )
    values.update(overrides)
    return values


def beacon(**overrides):
    return AircraftBeacon(**fields(**overrides))


def time_reporting(**attributes):
    """A datetime.time subclass whose fields read as given, out of range or not."""
    overrides = {name: property(lambda self, v=value: v) for name, value in attributes.items()}
    return type("ReportedTime", (datetime.time,), overrides)(0, 0)


WORKED_EXAMPLE_REPR = (
    'PyAircraftBeacon { callsign: "ABC", q_construct: "qAS", receiver: "R1", '
    "kav_aprs_protocol: KAFLR, time: 12:34:56, latitude: 47.5, longitude: -8.25, "
    "ground_track: 0.0, ground_speed: 1e-5, gps_altitude: 1200.0, "
    "kav_beacon_id: PyKAVBeaconID { prefix: PyKAVIDPrefix { aircraft_type: Glider, "
    "address_type: FLARM, no_track: false, stealth_mode: false }, "
    "icao_address: PyICAOAddress(14525882) } }"
)


class TestArgumentMatching:
    def test_no_arguments_names_all_eleven(self):
        with pytest.raises(TypeError) as info:
            AircraftBeacon()
        assert str(info.value) == (
            "AircraftBeacon.__new__() missing 11 required positional arguments: "
            "'callsign', 'q_construct', 'receiver', 'kav_aprs_protocol', 'time', 'latitude', "
            "'longitude', 'ground_track', 'ground_speed', 'gps_altitude', and 'kav_beacon_id'"
        )

    def test_twelve_positional_arguments(self):
        with pytest.raises(TypeError) as info:
            AircraftBeacon(*fields().values(), 0)
        assert str(info.value) == (
            "AircraftBeacon.__new__() takes 11 positional arguments but 12 were given"
        )

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: AircraftBeacon(**fields(), colour="red"),
             "AircraftBeacon.__new__() got an unexpected keyword argument 'colour'"),
            (lambda: AircraftBeacon("ABC", **fields()),
             "AircraftBeacon.__new__() got multiple values for argument 'callsign'"),
            (lambda: beacon().__init__(**fields(), colour="red"),
             "AircraftBeacon.__init__() got an unexpected keyword argument 'colour'"),
            (lambda: beacon().__init__(),
             "AircraftBeacon.__init__() missing 11 required positional arguments: "
             "'callsign', 'q_construct', 'receiver', 'kav_aprs_protocol', 'time', 'latitude', "
             "'longitude', 'ground_track', 'ground_speed', 'gps_altitude', and 'kav_beacon_id'"),
        ],
        ids=["unexpected-keyword", "given-twice", "init-unexpected-keyword", "init-missing"],
    )
    def test_matching_errors(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_keywords_in_any_order_equal_positional_call(self):
        values = fields()
        by_keyword = AircraftBeacon(**dict(reversed(list(values.items()))))
        assert by_keyword == AircraftBeacon(*values.values())
        assert repr(by_keyword) == WORKED_EXAMPLE_REPR


class TestClass:
    def test_docstring_and_signature(self):
        assert AircraftBeacon.__text_signature__ == "(" + ", ".join(PARAMETERS) + ")"
        assert AircraftBeacon.__doc__ == (
            "Represents a parsed KAV (Kite Air View) APRS aircraft beacon.\n\n"
            "This class contains all the extracted telemetric and identification data\n"
            "broadcasted by an aircraft, such as coordinates, ground track, altitude,\n"
            "and its unique KAV identifier."
        )

    def test_attribute_docstrings_in_declaration_order(self):
        docs = {
            "callsign": "The sender's callsign",
            "q_construct": "The APRS q-construct indicating how the message was routed.",
            "receiver": "The name/callsign of receiving station that picked up the beacon",
            "kav_aprs_protocol": "The specific `KAVAPRSProtocol` used",
            "time": "The time the beacon was generated (UTC)",
            "latitude": "The latitude of the aircraft in decimal degrees (negative for South).",
            "longitude": "The longitude of the aircraft in decimal degrees (negative for West).",
            "ground_track": "The ground track (heading) of the aircraft in degrees (0-360).",
            "ground_speed": "The ground speed of the aircraft (meters per second).",
            "gps_altitude": "The GPS altitude of the aircraft (metres)",
            "kav_beacon_id": "The unique `KAVBeaconID` extracted from the message extension.",
        }
        descriptors = [n for n, v in vars(AircraftBeacon).items() if hasattr(v, "__set__")
                       and not n.startswith("__")]
        assert descriptors == list(PARAMETERS)
        assert {n: vars(AircraftBeacon)[n].__doc__ for n in PARAMETERS} == docs

    def test_builtin_style_class(self):
        assert AircraftBeacon.__module__ == "builtins"
        assert AircraftBeacon.__qualname__ == "AircraftBeacon"
        with pytest.raises(TypeError):
            type("Derived", (AircraftBeacon,), {})
        b = beacon()
        with pytest.raises(TypeError):
            weakref.ref(b)
        with pytest.raises(AttributeError):
            b.colour = "red"
        with pytest.raises(TypeError):
            hash(b)
        assert str(b) == repr(b)


class TestConversions:
    @pytest.mark.parametrize(
        "value",
        [1, True, decimal.Decimal("1"), fractions.Fraction(2, 2), 1.0],
        ids=["int", "bool", "decimal", "fraction", "float"],
    )
    @pytest.mark.parametrize("name", ["latitude", "longitude", "ground_track",
                                      "ground_speed", "gps_altitude"])
    def test_numbers_are_stored_as_doubles(self, name, value):
        b = beacon(**{name: value})
        assert getattr(b, name) == 1.0 and type(getattr(b, name)) is float
        b2 = beacon()
        setattr(b2, name, value)
        assert getattr(b2, name) == 1.0 and type(getattr(b2, name)) is float

    def test_object_with_only_index_is_a_number(self):
        class Indexable:
            def __index__(self):
                return 7

        assert beacon(ground_track=Indexable()).ground_track == 7.0

    @pytest.mark.parametrize(
        "name, value, error, message",
        [
            ("callsign", 5, TypeError,
             "argument 'callsign': 'int' object is not an instance of 'str'"),
            ("receiver", b"R1", TypeError,
             "argument 'receiver': 'bytes' object is not an instance of 'str'"),
            ("q_construct", None, TypeError,
             "argument 'q_construct': 'None' is not an instance of 'str'"),
            ("kav_aprs_protocol", 1, TypeError,
             "argument 'kav_aprs_protocol': 'int' object is not an instance of 'KAVAPRSProtocol'"),
            ("kav_aprs_protocol", KAVAddressType.ICAO, TypeError,
             "argument 'kav_aprs_protocol': "
             "'KAVAddressType' object is not an instance of 'KAVAPRSProtocol'"),
            ("time", datetime.datetime(2024, 1, 1, 12), TypeError,
             "argument 'time': 'datetime' object is not an instance of 'time'"),
            ("time", "12:00", TypeError,
             "argument 'time': 'str' object is not an instance of 'time'"),
            ("kav_beacon_id", None, TypeError,
             "argument 'kav_beacon_id': 'None' is not an instance of 'KAVBeaconID'"),
            ("kav_beacon_id", ICAOAddress(1), TypeError,
             "argument 'kav_beacon_id': 'ICAOAddress' object is not an instance of 'KAVBeaconID'"),
            ("latitude", "47.5", TypeError,
             "argument 'latitude': must be real number, not str"),
            ("gps_altitude", 10**400, OverflowError, "int too large to convert to float"),
            ("callsign", "\udc80", UnicodeEncodeError, None),
        ],
        ids=["callsign-int", "receiver-bytes", "q_construct-None", "protocol-int",
             "protocol-other_enum", "time-datetime", "time-str", "beacon_id-None",
             "beacon_id-address", "latitude-str", "altitude-int_beyond_float",
             "callsign-lone_surrogate"],
    )
    @pytest.mark.parametrize("how", ["construct", "assign", "reinitialise"])
    def test_refused_values(self, how, name, value, error, message):
        b = beacon()
        before = repr(b)
        with pytest.raises(error) as info:
            if how == "construct":
                beacon(**{name: value})
            elif how == "assign":
                setattr(b, name, value)
            else:
                b.__init__(**fields(**{name: value}))
        if message is not None:
            assert str(info.value) == message
        assert repr(b) == before

    def test_typeerror_subclass_passes_without_prefix(self):
        class Refusal(TypeError):
            pass

        class Refusing:
            def __float__(self):
                raise Refusal("no float today")

        with pytest.raises(Refusal) as info:
            beacon(latitude=Refusing())
        assert str(info.value) == "no float today"

    def test_prefixed_typeerror_keeps_only_the_original_cause(self):
        class Refusing:
            def __init__(self, cause):
                self.cause = cause

            def __float__(self):
                if self.cause is None:
                    raise TypeError("no float")
                raise TypeError("no float") from self.cause

        with pytest.raises(TypeError) as plain:
            beacon(latitude=Refusing(None))
        assert str(plain.value) == "argument 'latitude': no float"
        assert plain.value.__cause__ is None

        cause = KeyError("root")
        with pytest.raises(TypeError) as chained:
            beacon(latitude=Refusing(cause))
        assert chained.value.__cause__ is cause

    def test_conversion_stops_at_first_failing_parameter(self):
        with pytest.raises(TypeError, match="argument 'q_construct'"):
            beacon(q_construct=1, latitude="x", kav_beacon_id=None)


class TestTime:
    @pytest.mark.parametrize(
        "given, read_back, shown",
        [
            (datetime.time(0, 0), datetime.time(0, 0), "00:00:00"),
            (datetime.time(23, 59, 59), datetime.time(23, 59, 59), "23:59:59"),
            (datetime.time(12, 0, 0, 500000), datetime.time(12, 0, 0, 500000), "12:00:00.500"),
            (datetime.time(12, 0, 0, 123456), datetime.time(12, 0, 0, 123456), "12:00:00.123456"),
            (datetime.time(12, 0, 0, 1000), datetime.time(12, 0, 0, 1000), "12:00:00.001"),
            (datetime.time(12, 0, 0, 1), datetime.time(12, 0, 0, 1), "12:00:00.000001"),
            (datetime.time(10, 0, tzinfo=datetime.timezone(datetime.timedelta(hours=2))),
             datetime.time(10, 0), "10:00:00"),
            (datetime.time(1, 2, 3, fold=1), datetime.time(1, 2, 3), "01:02:03"),
        ],
        ids=["midnight", "last-second", "millis", "micros", "one-milli", "one-micro",
             "aware", "fold"],
    )
    def test_round_trip_and_repr(self, given, read_back, shown):
        b = beacon(time=given)
        got = b.time
        assert got == read_back and type(got) is datetime.time
        assert got.tzinfo is None and got.fold == 0
        assert f"time: {shown}," in repr(b)

    @pytest.mark.parametrize(
        "attributes",
        [dict(hour=24), dict(minute=60), dict(second=60), dict(microsecond=1_000_000),
         dict(second=58, microsecond=1_000_000), dict(second=59, microsecond=2_000_000),
         dict(microsecond=5_000_000)],
        ids=["hour-24", "minute-60", "second-60", "micro-overflow", "leap-not-at-59",
             "leap-too-long", "nanos-beyond-32-bits"],
    )
    def test_out_of_range_fields_are_refused(self, attributes):
        with pytest.raises(ValueError) as info:
            beacon(time=time_reporting(**attributes))
        assert str(info.value) == "invalid or out-of-range time"

    @pytest.mark.parametrize(
        "attributes, error, message",
        [
            (dict(hour=-1), OverflowError, None),
            (dict(minute=2**32), OverflowError, "out of range integral type conversion attempted"),
            (dict(second="5"), TypeError,
             "argument 'time': 'str' object cannot be interpreted as an integer"),
        ],
        ids=["negative_hour", "minute_beyond_uint32", "second_as_str"],
    )
    def test_unreadable_fields_pass_their_error(self, attributes, error, message):
        with pytest.raises(error) as info:
            beacon(time=time_reporting(**attributes))
        if message is not None:
            assert str(info.value) == message

    def leap_second_beacon(self):
        return beacon(time=time_reporting(hour=23, minute=59, second=59, microsecond=1_250_000))

    def test_leap_second_is_kept_and_shown_as_60(self):
        assert "time: 23:59:60.250," in repr(self.leap_second_beacon())

    def test_leap_second_reads_back_as_59_with_a_warning(self):
        b = self.leap_second_beacon()
        with pytest.warns(UserWarning) as record:
            got = b.time
        assert got == datetime.time(23, 59, 59, 250000)
        assert [str(w.message) for w in record] == [
            "ignored leap-second, `datetime` does not support leap-seconds"
        ]

    def test_leap_second_warning_turned_error_is_reported_not_raised(self, monkeypatch):
        reported = []
        monkeypatch.setattr(sys, "unraisablehook", reported.append)
        b = self.leap_second_beacon()
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            got = b.time
        assert got == datetime.time(23, 59, 59, 250000)
        assert len(reported) == 1
        assert isinstance(reported[0].exc_value, UserWarning)
        assert reported[0].object == got


class TestRepr:
    def test_worked_example(self):
        assert repr(beacon()) == WORKED_EXAMPLE_REPR

    @pytest.mark.parametrize(
        "value, shown",
        [
            (1e-5, "1e-5"), (1.5e-5, "1.5e-5"), (-8.25, "-8.25"), (1200.0, "1200.0"),
            (1e16, "1e16"), (2.5e16, "2.5e16"), (9999999999999998.0, "9999999999999998.0"),
            (0.0001, "0.0001"), (0.00012345, "0.00012345"), (5e-324, "5e-324"),
            (1.7976931348623157e308, "1.7976931348623157e308"), (0.0, "0.0"), (-0.0, "-0.0"),
            (0.1, "0.1"), (1 / 3, "0.3333333333333333"), (44 + 15.61 / 60, "44.26016666666666"),
            (-1e-300, "-1e-300"), (math.nan, "NaN"), (-math.nan, "NaN"), (math.inf, "inf"),
            (-math.inf, "-inf"),
        ],
    )
    @pytest.mark.parametrize("name", ["latitude", "gps_altitude"])
    def test_doubles(self, name, value, shown):
        assert f" {name}: {shown}," in repr(beacon(**{name: value}))

    @pytest.mark.parametrize(
        "text, shown",
        [
            ("", '""'),
            ('say "hi"', r'"say \"hi\""'),
            ("it's", '"it\'s"'),
            ("a\tb\x1b", r'"a\tb\u{1b}"'),
            ("line\r\n", r'"line\r\n"'),
            ("back\\slash\0", r'"back\\slash\0"'),
            ("Zürich", '"Zürich"'),
            ("e\u0301", r'"e\u{301}"'),
            ("\u200b\u00a0 x", r'"\u{200b}\u{a0} x"'),
        ],
        ids=["empty", "quote", "apostrophe", "control", "crlf", "backslash-nul", "non-ascii",
             "combining-mark", "format-and-nbsp"],
    )
    def test_strings_are_quoted_and_escaped(self, text, shown):
        assert f"receiver: {shown}," in repr(beacon(receiver=text))

    @pytest.mark.parametrize("member", ["KAADSB", "KAFLR", "KAVSKY"])
    def test_protocol_shows_its_name(self, member):
        b = beacon(kav_aprs_protocol=getattr(KAVAPRSProtocol, member))
        assert f"kav_aprs_protocol: {member}," in repr(b)

    def test_beacon_id_is_its_own_repr(self):
        kid = KAVBeaconID(KAVIDPrefix(KAVAircraftType.UA_VS, KAVAddressType.KAV_TRACKER,
                                      True, True), ICAOAddress(0))
        assert repr(beacon(kav_beacon_id=kid)).endswith(f"kav_beacon_id: {kid!r} }}")


class TestEquality:
    ALTERNATIVES = dict(
        callsign="ABD",
        q_construct="qAR",
        receiver="R2",
        kav_aprs_protocol=KAVAPRSProtocol.KAVSKY,
        time=datetime.time(12, 34, 56, 1),
        latitude=47.50000000000001,
        longitude=8.25,
        ground_track=360,
        ground_speed=0.00002,
        gps_altitude=-1200,
        kav_beacon_id=glider_id(no_track=True),
    )

    def test_equal_fields_compare_equal(self):
        assert beacon() == beacon()
        assert not (beacon() != beacon())

    @pytest.mark.parametrize("name", PARAMETERS)
    def test_each_field_takes_part(self, name):
        other = beacon(**{name: self.ALTERNATIVES[name]})
        assert beacon() != other
        assert not (beacon() == other)

    def test_address_alone_makes_beacon_ids_differ(self):
        assert beacon() != beacon(kav_beacon_id=glider_id(address=0xDDA5BB))

    def test_nan_is_unequal_even_to_itself_but_identity_still_finds_it(self):
        b = beacon(latitude=math.nan)
        assert b != b
        assert not (b == b)
        assert b in [b]

    def test_signed_zeros_are_equal(self):
        assert beacon(ground_speed=0.0) == beacon(ground_speed=-0.0)

    @pytest.mark.parametrize("other", [5, None, "ABC", glider_id()])
    def test_other_types_are_never_equal(self, other):
        assert (beacon() == other) is False
        assert (beacon() != other) is True

    @pytest.mark.parametrize("op", ["__lt__", "__le__", "__gt__", "__ge__"])
    def test_no_ordering(self, op):
        assert getattr(beacon(), op)(beacon()) is NotImplemented
        with pytest.raises(TypeError):
            sorted([beacon(), beacon()])


class TestCopySemantics:
    def test_protocol_is_the_shared_member(self):
        b = beacon()
        assert b.kav_aprs_protocol is KAVAPRSProtocol.KAFLR
        assert b.kav_aprs_protocol is b.kav_aprs_protocol

    def test_beacon_id_reads_are_distinct_equal_copies(self):
        b = beacon()
        first, second = b.kav_beacon_id, b.kav_beacon_id
        assert first is not second and first == second
        first.icao_address = ICAOAddress(1)
        assert b.kav_beacon_id == glider_id()

    def test_assigned_beacon_id_is_copied_in(self):
        b = beacon()
        kid = glider_id(address=0x123456)
        b.kav_beacon_id = kid
        kid.icao_address = ICAOAddress(7)
        kid.prefix = KAVIDPrefix(KAVAircraftType.BALLOON, KAVAddressType.ICAO, True, True)
        assert b.kav_beacon_id == glider_id(address=0x123456)

    def test_constructor_copies_the_beacon_id(self):
        kid = glider_id()
        b = beacon(kav_beacon_id=kid)
        kid.icao_address = ICAOAddress(7)
        assert b.kav_beacon_id == glider_id()

    def test_every_attribute_can_be_replaced(self):
        b = beacon()
        for name, value in TestEquality.ALTERNATIVES.items():
            setattr(b, name, value)
        assert b == AircraftBeacon(**TestEquality.ALTERNATIVES)

    @pytest.mark.parametrize("name", PARAMETERS)
    def test_attributes_cannot_be_deleted(self, name):
        b = beacon()
        with pytest.raises(AttributeError) as info:
            delattr(b, name)
        assert str(info.value) == "property has no deleter"


class TestReinitialisation:
    def test_init_validates_but_changes_nothing(self):
        b = beacon()
        assert b.__init__(**TestEquality.ALTERNATIVES) is None
        assert repr(b) == WORKED_EXAMPLE_REPR

    def test_conversions_run_in_both_new_and_init(self):
        calls = []

        class Counting:
            def __float__(self):
                calls.append(1)
                return 2.0

        beacon(latitude=Counting())
        assert len(calls) == 2

    def test_setter_from_inside_init_conflicts_with_its_borrow(self):
        b = beacon()

        class Reentering:
            def __float__(self):
                b.callsign = "ZZZ"
                return 1.0

        with pytest.raises(RuntimeError) as info:
            b.__init__(**fields(latitude=Reentering()))
        assert str(info.value) == "Already borrowed"
        assert b.callsign == "ABC"
        b.callsign = "NEW"  # the borrow was released on the way out
        assert b.callsign == "NEW"

    def test_reads_from_inside_init_share_the_borrow(self):
        b = beacon()
        seen = []

        class Reading:
            def __float__(self):
                seen.append((b.callsign, repr(b) == WORKED_EXAMPLE_REPR, b == b))
                return 1.0

        b.__init__(**fields(latitude=Reading()))
        assert seen == [("ABC", True, True)]
