// AircraftBeacon: the eleven fields of a parsed beacon, each a read-write
// attribute. Texts, numbers and the time are stored as plain values and built
// anew on every read; the beacon ID is copied in and out, and the protocol is
// read back as the shared enumeration member.
#include "types_aircraft_beacon.hpp"

#include <string>
#include <type_traits>
#include <utility>

#include "beacon_columns.hpp"
#include "binding_conventions.hpp"
#include "record_fields.hpp"
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
    Ref result = new_str(text);
    if (!result) return fail_fetched();
    return result;
}

PyResult<Ref> make_float(double value) {
    Ref result = Ref::steal(PyFloat_FromDouble(value));
    if (!result) return fail_fetched();
    return result;
}

using Beacon = kav::AircraftBeacon;

// The beacon's attributes, in parameter order.
using Fields = FieldTable<
    Field<"callsign", &Beacon::callsign, &to_text, &make_text, "The sender's callsign">,
    Field<"q_construct", &Beacon::q_construct, &to_text, &make_text,
          "The APRS q-construct indicating how the message was routed.">,
    Field<"receiver", &Beacon::receiver, &to_text, &make_text,
          "The name/callsign of receiving station that picked up the beacon">,
    Field<"kav_aprs_protocol", &Beacon::kav_aprs_protocol, &enum_from_object<kav::KAVAPRSProtocol>,
          &enum_member<kav::KAVAPRSProtocol>, "The specific `KAVAPRSProtocol` used">,
    Field<"time", &Beacon::time, &to_time_of_day, &from_time_of_day,
          "The time the beacon was generated (UTC)">,
    Field<"latitude", &Beacon::latitude, &to_double, &make_float,
          "The latitude of the aircraft in decimal degrees (negative for South).">,
    Field<"longitude", &Beacon::longitude, &to_double, &make_float,
          "The longitude of the aircraft in decimal degrees (negative for West).">,
    Field<"ground_track", &Beacon::ground_track, &to_double, &make_float,
          "The ground track (heading) of the aircraft in degrees (0-360).">,
    Field<"ground_speed", &Beacon::ground_speed, &to_double, &make_float,
          "The ground speed of the aircraft (meters per second).">,
    Field<"gps_altitude", &Beacon::gps_altitude, &to_double, &make_float,
          "The GPS altitude of the aircraft (metres)">,
    Field<"kav_beacon_id", &Beacon::kav_beacon_id, &read_argument<KAVBeaconIDClass>,
          &new_instance_holding<KAVBeaconIDClass>,
          "The unique `KAVBeaconID` extracted from the message extension.">>;

static_assert(Fields::parameters == AircraftBeaconClass::parameters);

// The decoded tables (Arrow columns, JSON lines, CSV) hold the same fields in
// the same order: the line number first, then these attributes, the beacon
// ID flattened into its prefix's four attributes and the address.
constexpr bool columns_follow_the_attributes() {
    const auto& columns = kav::BeaconColumns::kNames;
    std::size_t next = 0;
    auto is_next = [&](std::string_view name) {
        return next < columns.size() && columns[next++] == name;
    };
    bool same = is_next("line_number");
    for (const std::string_view name : Fields::parameters) {
        if (name != "kav_beacon_id") {
            same = same && is_next(name);
            continue;
        }
        for (const std::string_view part : KAVIDPrefixClass::parameters) same = same && is_next(part);
        same = same && is_next("address");
    }
    return same && next == columns.size();
}
static_assert(columns_follow_the_attributes(),
              "kav::BeaconColumns (beacon_columns.hpp) lists the beacon's attributes, in order");

PyType_Slot slots[] = {
    {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<AircraftBeaconClass>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<AircraftBeaconClass>)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<AircraftBeaconClass>)},
    {Py_tp_init, reinterpret_cast<void*>(&init_entry<AircraftBeaconClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr_entry<AircraftBeaconClass>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<AircraftBeaconClass>)},
    {Py_tp_getset, Fields::descriptors<AircraftBeaconClass>.data()},
    {0, nullptr},
};

PyType_Spec spec = instance_spec<AircraftBeaconClass>(slots);

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

PyResult<AircraftBeaconClass::Value> AircraftBeaconClass::construct(
    const Arguments<11>& arguments) {
    return Fields::construct(blank(), arguments);
}

}  // namespace kav::py
