// Fuzz target of the beacon parser: any bytes must give either a record or an
// error, and whichever comes back must hold up to what callers rely on. The
// same bytes decoded as a buffer of lines must give, row for row, what the
// parse gives for each line the splitter yields.
//
// Built twice: with libFuzzer (clang) for long runs, and with replay_main.cpp
// (any compiler, under ASan/UBSan) so that ordinary CI replays the corpus.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "aprs_types.hpp"
#include "arrow_export.hpp"
#include "decode_lines.hpp"
#include "line_framer.hpp"
#include "line_splitter.hpp"
#include "parse.hpp"
#include "utf8_oracle.hpp"

namespace {

using kav::fuzz::well_formed_utf8;

// The oracle itself must reject the classic traps, or every check below is void.
static_assert(well_formed_utf8("plain ASCII \x7F"));
static_assert(well_formed_utf8("\xC2\x80\xE0\xA0\x80\xED\x9F\xBF\xF4\x8F\xBF\xBF"));
static_assert(!well_formed_utf8("\xC0\x80"));          // overlong NUL
static_assert(!well_formed_utf8("\xE0\x9F\xBF"));      // overlong three-byte form
static_assert(!well_formed_utf8("\xED\xA0\x80"));      // surrogate U+D800
static_assert(!well_formed_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
static_assert(!well_formed_utf8("\xE2\x82"));          // truncated
static_assert(!well_formed_utf8("\x80"));              // lone continuation byte
static_assert(!well_formed_utf8("\xF5\x80\x80\x80"));  // lead byte never used

[[noreturn]] void fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "parse_fuzzer: %s: [%.*s]\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

void check(bool ok, const char* what, std::string_view detail) {
    if (!ok) fail(what, detail);
}

// The header texts are copied verbatim from the front of the line, so the line
// must start with exactly them and their separators: a record that does not
// rebuild the header points at a wrong slice or a lost byte.
void check_record(std::string_view line, const kav::AircraftBeacon& beacon) {
    for (const std::string* text : {&beacon.callsign, &beacon.q_construct, &beacon.receiver}) {
        check(well_formed_utf8(*text), "record text is not UTF-8", *text);
    }
    std::string header = beacon.callsign;
    header += '>';
    header += kav::text_form(beacon.kav_aprs_protocol);
    header += ',';
    header += beacon.q_construct;
    header += ',';
    header += beacon.receiver;
    header += ':';
    check(line.starts_with(header), "record header does not rebuild the line", line);

    check(beacon.time.seconds < 86400 && beacon.time.nanoseconds == 0,
          "parsed time outside one day of whole seconds", line);
    check(kav::code(beacon.kav_beacon_id.prefix.aircraft_type) != 14,
          "aircraft type code 14 has no member", line);
    check(beacon.kav_beacon_id.icao_address.value() <= kav::ICAOAddress::kLimit,
          "address above 24 bits", line);
}

// Users see the debug text inside an exception message: it must be valid
// UTF-8 whatever the input held, and every control character must arrive
// escaped, never raw (a raw line feed would forge a second log line).
void check_error(const kav::BeaconParseError& error) {
    const std::string text = kav::debug_text(error);
    check(well_formed_utf8(text), "error text is not UTF-8", text);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        check(byte >= 0x20 && byte != 0x7F, "raw control byte in error text", text);
    }
    const bool missing_id = text == "MissingKAVBeaconID";
    const bool parse_error = text.starts_with("ParseError(") && text.ends_with(")");
    check(missing_id || parse_error, "error text has an unknown shape", text);
}

// The view form hands out texts that borrow the caller's line: each must lie
// inside it, or the caller would copy from memory it does not own.
void check_views_inside(std::string_view line, const kav::AircraftBeaconView& view) {
    const auto inside = [line](std::string_view text) {
        return text.empty() || (text.data() >= line.data() &&
                                text.data() + text.size() <= line.data() + line.size());
    };
    check(inside(view.callsign) && inside(view.q_construct) && inside(view.receiver),
          "view text outside the line", line);
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_beacon_row(const kav::BeaconColumns& columns, std::size_t row, std::uint64_t number,
                     const kav::AircraftBeaconView& beacon) {
    const kav::KAVIDPrefix& prefix = beacon.kav_beacon_id.prefix;
    return columns.line_number()[row] == number && columns.callsign()[row] == beacon.callsign &&
           columns.q_construct()[row] == beacon.q_construct &&
           columns.receiver()[row] == beacon.receiver &&
           columns.kav_aprs_protocol()[row] == beacon.kav_aprs_protocol &&
           columns.time()[row] == static_cast<std::int32_t>(beacon.time.seconds) &&
           same_bits(columns.latitude()[row], beacon.latitude) &&
           same_bits(columns.longitude()[row], beacon.longitude) &&
           same_bits(columns.ground_track()[row], beacon.ground_track) &&
           same_bits(columns.ground_speed()[row], beacon.ground_speed) &&
           same_bits(columns.gps_altitude()[row], beacon.gps_altitude) &&
           columns.aircraft_type()[row] == prefix.aircraft_type &&
           columns.address_type()[row] == prefix.address_type &&
           columns.no_track()[row] == prefix.no_track &&
           columns.stealth_mode()[row] == prefix.stealth_mode &&
           columns.address()[row] == beacon.kav_beacon_id.icao_address.value();
}

bool same_error_row(const kav::ErrorColumns& columns, std::size_t row, std::uint64_t number,
                    std::string_view line, const kav::BeaconParseError& error) {
    std::string message;
    kav::append_error_message(message, error);
    return columns.line_number()[row] == number &&
           columns.error_kind()[row] == kav::error_kind_of(error) &&
           columns.error()[row] == message && columns.line()[row] == line;
}

// The input as a buffer of lines, against each line parsed alone; then the
// tables are exported and released, so that the sanitizers see the export too.
void check_batch(std::string_view data) {
    constexpr std::uint64_t kFirstLineNumber = 1;
    auto decoded = kav::decode_lines(data, kFirstLineNumber);
    check(decoded.ok(), "batch decoding refused a small input", data);
    const auto lines = std::make_shared<const kav::DecodedLines>(std::move(decoded).value());
    std::size_t beacon_row = 0;
    std::size_t error_row = 0;
    std::uint64_t number = kFirstLineNumber;
    kav::LineSplitter splitter(data);
    for (std::string_view line; splitter.next(line); ++number) {
        if (line.empty() || line.front() == '#') continue;
        const auto parsed = kav::parse_aircraft_beacon_view(line);
        if (parsed) {
            check(beacon_row < lines->beacons.rows() &&
                      same_beacon_row(lines->beacons, beacon_row++, number, parsed.value()),
                  "batch beacon row differs from the line's parse", line);
        } else {
            check(error_row < lines->errors.rows() &&
                      same_error_row(lines->errors, error_row++, number, line, parsed.error()),
                  "batch error row differs from the line's parse", line);
        }
    }
    const kav::LineCounts& counts = lines->counts;
    check(beacon_row == lines->beacons.rows() && error_row == lines->errors.rows() &&
              counts.lines == number - kFirstLineNumber &&
              counts.lines == counts.decoded + counts.failed + counts.comments + counts.blank,
          "batch counts do not add up", data);

    ArrowArray beacons;
    kav::export_batch(std::shared_ptr<const kav::BeaconColumns>(lines, &lines->beacons), &beacons);
    ArrowArray errors;
    kav::export_batch(std::shared_ptr<const kav::ErrorColumns>(lines, &lines->errors), &errors);
    check(beacons.length == static_cast<std::int64_t>(beacon_row) &&
              errors.length == static_cast<std::int64_t>(error_row),
          "exported batch length differs", data);
    beacons.release(&beacons);
    errors.release(&errors);
}

// The input framed in three reads, cut where its first bytes say, with and
// without a line limit: the runs must decode as the whole input does, a line
// over the limit counted as LineTooLong instead of being parsed.
void check_framed(std::string_view data) {
    const std::size_t first = data.empty() ? 0 : static_cast<unsigned char>(data[0]) % (data.size() + 1);
    const std::size_t second =
        data.size() < 2 ? first : first + static_cast<unsigned char>(data[1]) % (data.size() - first + 1);
    const std::size_t limit = data.size() < 3 ? 0 : static_cast<unsigned char>(data[2]) % 64;
    const std::string reads[] = {std::string(data.substr(0, first)),
                                 std::string(data.substr(first, second - first)),
                                 std::string(data.substr(second))};
    kav::LineFramer framer(limit);
    std::vector<kav::FramedRead> framed;
    std::vector<std::string_view> framed_reads;
    for (const std::string& read : reads) {
        if (auto run = framer.frame(read)) {
            framed.push_back(std::move(*run));
            framed_reads.push_back(read);
        }
    }
    if (auto last = framer.finish()) {
        framed.push_back(std::move(*last));
        framed_reads.push_back({});
    }
    std::vector<kav::LineRun> runs;
    for (std::size_t i = 0; i < framed.size(); ++i) runs.push_back(framed[i].run_of(framed_reads[i]));
    const auto pieces = kav::decode_lines(runs, 1, limit);
    const auto whole = kav::decode_lines(data, 1);
    check(pieces.ok() && whole.ok(), "decoding refused a small input", data);
    const kav::LineCounts& got = pieces.value().counts;
    const kav::LineCounts& expected = whole.value().counts;
    std::uint64_t too_long = 0;
    kav::LineSplitter splitter(data);
    for (std::string_view line; splitter.next(line);) too_long += limit != 0 && line.size() > limit;
    check(got.lines == expected.lines && got.failures[kav::kLineTooLongKind] == too_long,
          "framed reads count other lines than the whole input", data);
    if (limit == 0) {
        check(got.decoded == expected.decoded && got.failed == expected.failed &&
                  got.comments == expected.comments && got.blank == expected.blank &&
                  pieces.value().beacons.line_number().size() == expected.decoded,
              "framed reads decode otherwise than the whole input", data);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto result = kav::parse_aircraft_beacon(line);
    const auto view = kav::parse_aircraft_beacon_view(line);
    check(result.ok() == view.ok(), "the record and view forms disagree", line);
    if (result.ok()) {
        check_views_inside(line, view.value());
        check_record(line, result.value());
    } else {
        check(result.error() == view.error(), "the record and view forms fail differently", line);
        check_error(result.error());
    }
    check_batch(line);
    check_framed(line);
    return 0;
}
