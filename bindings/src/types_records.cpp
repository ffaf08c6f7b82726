// The identifier classes ICAOAddress, KAVIDPrefix and KAVBeaconID and the
// AircraftBeacon class (see classes.hpp): each one's docstring and
// constructor, then their type objects.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "beacon_columns.hpp"
#include "classes.hpp"
#include "first_use.hpp"
#include "slot_entries.hpp"

namespace kav::py {

namespace {

// The type object of a record class, created on first use. Its instances are
// made by Constructor and compared by value; they show their repr text when
// WithRepr, and have attributes when Constructor is a field table.
template <BindingClass Class, class Constructor, bool WithRepr = true>
PyResult<PyTypeObject*> record_type(const char* doc) {
    // Only this one static is looked at on every call; the others are made once.
    static LazyType lazy = [doc]() -> LazyType {
        static std::array<PyType_Slot, 9> slots{{
            {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<Class>)},
            {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<Class>)},
            {Py_tp_doc, const_cast<char*>(doc)},
            {Py_tp_new, reinterpret_cast<void*>(&new_entry<Class, Constructor>)},
            {Py_tp_init, reinterpret_cast<void*>(&init_entry<Class, Constructor>)},
            {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<Class>)},
        }};
        std::size_t next = 6;
        if constexpr (WithRepr) {
            slots[next++] = {Py_tp_repr, reinterpret_cast<void*>(&repr_entry<Class>)};
        }
        if constexpr (requires { Constructor::descriptors; }) {
            slots[next++] = {Py_tp_getset, Constructor::descriptors.data()};
        }
        // The zeroed entries after the last one set end the table.
        static PyType_Spec spec = instance_spec<Class>(slots.data());
        return LazyType(Class::name, spec);
    }();
    return lazy.get();
}

// ICAOAddress: a 24-bit aircraft address, visible only through repr and
// comparison.

constexpr const char* kICAOAddressDoc =
    "ICAOAddress(value)\n--\n\nRepresents a 24-bit ICAO aircraft address.";

struct ICAOAddressConstructor {
    static constexpr std::array<std::string_view, 1> parameters{"value"};

    static PyResult<kav::ICAOAddress> construct(const Arguments<1>& arguments) {
        KAV_PY_TRY_ASSIGN(std::uint32_t number, named("value", to_u32(arguments[0])));
        auto address = kav::ICAOAddress::new_(number);
        if (!address) return fail(PyExc_ValueError, address.error().message());
        return address.value();
    }

    // The initialiser checks the argument's type and width only: the 24-bit
    // limit was the constructor's business, and __init__ never changes the
    // instance.
    static PyResult<Done> validate(const Arguments<1>& arguments) {
        KAV_PY_TRY(named("value", to_u32(arguments[0])));
        return done;
    }
};

// KAVIDPrefix: the decoded ID prefix byte, with four read-write attributes.
// It has no repr of its own: instances show the interpreter's default.

constexpr const char* kPrefixDoc =
    "KAVIDPrefix(aircraft_type, address_type, no_track, stealth_mode)\n--\n\n"
    "The decoded metadata parsed from the 1-byte KAV ID prefix.\n\n"
    "The KAV network embeds privacy requests and object type classification into\n"
    "the first byte of a tracker's ID string using specific bitwise flags.\n\n"
    "# Bit Layout\n"
    "* **Bits 0-1:** Device Address Type (2 bits) -> `KAVAddressType`\n"
    "* **Bits 2-5:** Aircraft / Object Type (4 bits) -> `KAVAircraftType`\n"
    "* **Bit 6:** No-Track Flag (1 bit). If true, do not record trace logs.\n"
    "* **Bit 7:** Stealth Mode Flag (1 bit). If true, delay or hide on live maps.";

PyResult<Ref> make_bool(bool value) {
    return Ref::borrow(value ? Py_True : Py_False);
}

using Prefix = kav::KAVIDPrefix;
using PrefixFields = FieldTable<
    KAVIDPrefixClass,
    Field<"aircraft_type", &Prefix::aircraft_type, &read_argument<EnumClass<kav::KAVAircraftType>>,
          &EnumClass<kav::KAVAircraftType>::member>,
    Field<"address_type", &Prefix::address_type, &read_argument<EnumClass<kav::KAVAddressType>>,
          &EnumClass<kav::KAVAddressType>::member>,
    Field<"no_track", &Prefix::no_track, &to_bool, &make_bool>,
    Field<"stealth_mode", &Prefix::stealth_mode, &to_bool, &make_bool>>;

// KAVBeaconID: a prefix and an address, each held by copy: reading either
// attribute gives a new object, so changing that object changes nothing here.

constexpr const char* kBeaconIDDoc =
    "KAVBeaconID(prefix, icao_address)\n--\n\n"
    "Represents a complete KAV beacon identifier.\n\n"
    "In KAV APRS, a beacon ID is composed of a 1-byte metadata prefix (encoding\n"
    "things like aircraft type and tracker type) and a 3-byte (24-bit) address.";

using BeaconID = kav::KAVBeaconID;
using BeaconIDFields =
    FieldTable<KAVBeaconIDClass,
               Field<"prefix", &BeaconID::prefix, &read_argument<KAVIDPrefixClass>,
                     &new_instance_holding<KAVIDPrefixClass>>,
               Field<"icao_address", &BeaconID::icao_address, &read_argument<ICAOAddressClass>,
                     &new_instance_holding<ICAOAddressClass>>>;

// AircraftBeacon: the eleven fields of a parsed beacon, each a read-write
// attribute. Texts, numbers and the time are stored as plain values and built
// anew on every read; the beacon ID is copied in and out, and the protocol is
// read back as the shared enumeration member.

constexpr const char* kBeaconDoc =
    "AircraftBeacon(callsign, q_construct, receiver, kav_aprs_protocol, time, latitude, "
    "longitude, ground_track, ground_speed, gps_altitude, kav_beacon_id)\n--\n\n"
    "Represents a parsed KAV (Kite Air View) APRS aircraft beacon.\n\n"
    "This class contains all the extracted telemetric and identification data\n"
    "broadcasted by an aircraft, such as coordinates, ground track, altitude,\n"
    "and its unique KAV identifier.";

PyResult<Ref> make_text(const std::string& text) {
    return returned(new_str(text));
}

PyResult<Ref> make_float(double value) {
    return returned(PyFloat_FromDouble(value));
}

using Beacon = kav::AircraftBeacon;
using BeaconFields = FieldTable<
    AircraftBeaconClass,
    Field<"callsign", &Beacon::callsign, &to_text, &make_text, "The sender's callsign">,
    Field<"q_construct", &Beacon::q_construct, &to_text, &make_text,
          "The APRS q-construct indicating how the message was routed.">,
    Field<"receiver", &Beacon::receiver, &to_text, &make_text,
          "The name/callsign of receiving station that picked up the beacon">,
    Field<"kav_aprs_protocol", &Beacon::kav_aprs_protocol,
          &read_argument<EnumClass<kav::KAVAPRSProtocol>>, &EnumClass<kav::KAVAPRSProtocol>::member,
          "The specific `KAVAPRSProtocol` used">,
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
    for (const std::string_view name : BeaconFields::parameters) {
        if (name != "kav_beacon_id") {
            same = same && is_next(name);
            continue;
        }
        for (const std::string_view part : PrefixFields::parameters) same = same && is_next(part);
        same = same && is_next("address");
    }
    return same && next == columns.size();
}
static_assert(columns_follow_the_attributes(),
              "kav::BeaconColumns (beacon_columns.hpp) lists the beacon's attributes, in order");

}  // namespace

PyResult<PyTypeObject*> ICAOAddressClass::type() {
    return record_type<ICAOAddressClass, ICAOAddressConstructor>(kICAOAddressDoc);
}

PyResult<PyTypeObject*> KAVIDPrefixClass::type() {
    return record_type<KAVIDPrefixClass, PrefixFields, false>(kPrefixDoc);
}

PyResult<PyTypeObject*> KAVBeaconIDClass::type() {
    return record_type<KAVBeaconIDClass, BeaconIDFields>(kBeaconIDDoc);
}

PyResult<PyTypeObject*> AircraftBeaconClass::type() {
    return record_type<AircraftBeaconClass, BeaconFields>(kBeaconDoc);
}

}  // namespace kav::py
