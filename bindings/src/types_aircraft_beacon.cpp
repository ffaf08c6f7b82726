// AircraftBeacon: the eleven fields of a parsed beacon, each a read-write
// attribute. Texts, numbers and the time are stored as plain values and built
// anew on every read; the beacon ID is copied in and out, and the protocol is
// read back as the shared enumeration member.
#include "types_aircraft_beacon.hpp"

#include <string>
#include <type_traits>
#include <utility>

#include "binding_conventions.hpp"
#include "repr_format.hpp"
#include "time_of_day_conversion.hpp"
#include "types_enums.hpp"
#include "types_identifiers.hpp"

namespace kav::py {

namespace {

constexpr const char* kDoc =
    "AircraftBeacon(callsign, q_construct, receiver, kav_aprs_protocol, time, latitude, "
    "longitude, ground_track, ground_speed, gps_altitude, kav_beacon_id)\n--\n\n"
    "Represents a parsed KAV (Kite Air View) APRS aircraft beacon.\n\n"
    "This class contains all the extracted telemetric and identification data\n"
    "broadcasted by an aircraft, such as coordinates, ground track, altitude,\n"
    "and its unique KAV identifier.";

PyResult<Ref> make_text(const std::string& text) {
    Ref result =
        Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!result) return fail_fetched();
    return result;
}

PyResult<Ref> make_float(double value) {
    Ref result = Ref::steal(PyFloat_FromDouble(value));
    if (!result) return fail_fetched();
    return result;
}

// One attribute: the record member it lives in, how a Python value becomes
// the stored one, and how the stored one becomes a new Python object.
template <auto Member, auto Convert, auto Make>
struct Field {
    using Stored = std::remove_cvref_t<decltype(std::declval<kav::AircraftBeacon&>().*Member)>;
    static PyResult<Ref> get(const kav::AircraftBeacon& beacon) { return Make(beacon.*Member); }
    static PyResult<Stored> convert(PyObject* value) { return Convert(value); }
    static void store(kav::AircraftBeacon& beacon, Stored&& value) noexcept {
        beacon.*Member = std::move(value);
    }
};

template <auto Member>
using TextField = Field<Member, &to_text, &make_text>;
template <auto Member>
using NumberField = Field<Member, &to_double, &make_float>;

struct CallsignField : TextField<&kav::AircraftBeacon::callsign> {
    static constexpr const char* name = "callsign";
};
struct QConstructField : TextField<&kav::AircraftBeacon::q_construct> {
    static constexpr const char* name = "q_construct";
};
struct ReceiverField : TextField<&kav::AircraftBeacon::receiver> {
    static constexpr const char* name = "receiver";
};
struct ProtocolField
    : Field<&kav::AircraftBeacon::kav_aprs_protocol, &enum_from_object<kav::KAVAPRSProtocol>,
            &enum_member<kav::KAVAPRSProtocol>> {
    static constexpr const char* name = "kav_aprs_protocol";
};
struct TimeField : Field<&kav::AircraftBeacon::time, &to_time_of_day, &from_time_of_day> {
    static constexpr const char* name = "time";
};
struct LatitudeField : NumberField<&kav::AircraftBeacon::latitude> {
    static constexpr const char* name = "latitude";
};
struct LongitudeField : NumberField<&kav::AircraftBeacon::longitude> {
    static constexpr const char* name = "longitude";
};
struct GroundTrackField : NumberField<&kav::AircraftBeacon::ground_track> {
    static constexpr const char* name = "ground_track";
};
struct GroundSpeedField : NumberField<&kav::AircraftBeacon::ground_speed> {
    static constexpr const char* name = "ground_speed";
};
struct GPSAltitudeField : NumberField<&kav::AircraftBeacon::gps_altitude> {
    static constexpr const char* name = "gps_altitude";
};
struct BeaconIDField : Field<&kav::AircraftBeacon::kav_beacon_id, &read_argument<KAVBeaconIDClass>,
                             &new_instance_holding<KAVBeaconIDClass>> {
    static constexpr const char* name = "kav_beacon_id";
};

template <class Field>
PyResult<typename Field::Stored> convert_argument(PyObject* argument) {
    return named(Field::name, Field::convert(argument));
}

std::string render(const kav::AircraftBeacon& beacon) {
    return kav::repr::repr_text(beacon);
}

// Doubles compare by IEEE rules: NaN equals nothing, 0.0 equals -0.0.
bool equal(const kav::AircraftBeacon& left, const kav::AircraftBeacon& right) {
    return left.callsign == right.callsign && left.q_construct == right.q_construct &&
           left.receiver == right.receiver && left.kav_aprs_protocol == right.kav_aprs_protocol &&
           left.time == right.time && left.latitude == right.latitude &&
           left.longitude == right.longitude && left.ground_track == right.ground_track &&
           left.ground_speed == right.ground_speed && left.gps_altitude == right.gps_altitude &&
           left.kav_beacon_id == right.kav_beacon_id;
}

PyGetSetDef attributes[] = {
    attribute<AircraftBeaconClass, CallsignField>("The sender's callsign"),
    attribute<AircraftBeaconClass, QConstructField>(
        "The APRS q-construct indicating how the message was routed."),
    attribute<AircraftBeaconClass, ReceiverField>(
        "The name/callsign of receiving station that picked up the beacon"),
    attribute<AircraftBeaconClass, ProtocolField>("The specific `KAVAPRSProtocol` used"),
    attribute<AircraftBeaconClass, TimeField>("The time the beacon was generated (UTC)"),
    attribute<AircraftBeaconClass, LatitudeField>(
        "The latitude of the aircraft in decimal degrees (negative for South)."),
    attribute<AircraftBeaconClass, LongitudeField>(
        "The longitude of the aircraft in decimal degrees (negative for West)."),
    attribute<AircraftBeaconClass, GroundTrackField>(
        "The ground track (heading) of the aircraft in degrees (0-360)."),
    attribute<AircraftBeaconClass, GroundSpeedField>(
        "The ground speed of the aircraft (meters per second)."),
    attribute<AircraftBeaconClass, GPSAltitudeField>("The GPS altitude of the aircraft (metres)"),
    attribute<AircraftBeaconClass, BeaconIDField>(
        "The unique `KAVBeaconID` extracted from the message extension."),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<AircraftBeaconClass>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<AircraftBeaconClass>)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<AircraftBeaconClass>)},
    {Py_tp_init, reinterpret_cast<void*>(&init_entry<AircraftBeaconClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr_entry<AircraftBeaconClass, &render>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<AircraftBeaconClass, &equal>)},
    {Py_tp_getset, attributes},
    {0, nullptr},
};

PyType_Spec spec = instance_spec<AircraftBeaconClass>("builtins.AircraftBeacon", slots);

}  // namespace

// Empty texts, the protocol of code 0, midnight, zeros and the blank identifier.
AircraftBeaconClass::Value AircraftBeaconClass::blank() noexcept {
    return kav::AircraftBeacon{
        {}, {}, {}, {}, {}, 0.0, 0.0, 0.0, 0.0, 0.0, KAVBeaconIDClass::blank()};
}

PyResult<PyTypeObject*> AircraftBeaconClass::type() {
    static LazyType lazy(name, spec);
    return lazy.get();
}

// In parameter order, stopping at the first failure; the record is built only
// once every value has been converted.
PyResult<AircraftBeaconClass::Value> AircraftBeaconClass::construct(
    const Arguments<11>& arguments) {
    KAV_PY_TRY_ASSIGN(auto callsign, convert_argument<CallsignField>(arguments[0]));
    KAV_PY_TRY_ASSIGN(auto q_construct, convert_argument<QConstructField>(arguments[1]));
    KAV_PY_TRY_ASSIGN(auto receiver, convert_argument<ReceiverField>(arguments[2]));
    KAV_PY_TRY_ASSIGN(auto protocol, convert_argument<ProtocolField>(arguments[3]));
    KAV_PY_TRY_ASSIGN(auto time, convert_argument<TimeField>(arguments[4]));
    KAV_PY_TRY_ASSIGN(auto latitude, convert_argument<LatitudeField>(arguments[5]));
    KAV_PY_TRY_ASSIGN(auto longitude, convert_argument<LongitudeField>(arguments[6]));
    KAV_PY_TRY_ASSIGN(auto ground_track, convert_argument<GroundTrackField>(arguments[7]));
    KAV_PY_TRY_ASSIGN(auto ground_speed, convert_argument<GroundSpeedField>(arguments[8]));
    KAV_PY_TRY_ASSIGN(auto gps_altitude, convert_argument<GPSAltitudeField>(arguments[9]));
    KAV_PY_TRY_ASSIGN(auto beacon_id, convert_argument<BeaconIDField>(arguments[10]));
    return kav::AircraftBeacon{std::move(callsign),
                               std::move(q_construct),
                               std::move(receiver),
                               protocol,
                               time,
                               latitude,
                               longitude,
                               ground_track,
                               ground_speed,
                               gps_altitude,
                               beacon_id};
}

PyResult<Done> AircraftBeaconClass::validate(const Arguments<11>& arguments) {
    KAV_PY_TRY(construct(arguments));
    return done;
}

}  // namespace kav::py
