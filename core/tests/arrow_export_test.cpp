// The Arrow export read as a consumer reads it: types, lengths and buffers,
// and the release rules (parts released in any order, moved out, or never
// taken). Under the sanitizers a part released twice, or read after its table
// is gone, fails here; one never released leaks.
#include "arrow_export.hpp"
#include "case_names.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode_lines.hpp"

namespace kav {
namespace {

constexpr std::string_view kLines =
    "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF\n"
    "bad line\n"
    "#comment\n"
    "Z\xc3\xa9>KAVSKY,q\xe2\x82\xac,R:/235959z9959.99S/17959.99W'359/999/A=-00012 idFF123456\n";

std::shared_ptr<const DecodedLines> decoded_sample() {
    auto decoded = decode_lines(kLines, 1);
    EXPECT_TRUE(decoded.ok());
    return std::make_shared<const DecodedLines>(std::move(decoded).value());
}

std::shared_ptr<const BeaconColumns> beacons_of(std::shared_ptr<const DecodedLines> lines) {
    return {lines, &lines->beacons};
}
std::shared_ptr<const ErrorColumns> errors_of(std::shared_ptr<const DecodedLines> lines) {
    return {lines, &lines->errors};
}

std::string_view text_at(const ArrowArray& array, int64_t row) {
    const auto* offsets = static_cast<const std::int32_t*>(array.buffers[1]);
    const auto* bytes = static_cast<const char*>(array.buffers[2]);
    return std::string_view(bytes + offsets[row],
                            static_cast<std::size_t>(offsets[row + 1] - offsets[row]));
}

template <class Columns>
ArrowArray exported(std::shared_ptr<const Columns> table) {
    ArrowArray batch;
    export_batch(std::move(table), &batch);
    return batch;
}

template <class Struct>
void release(Struct& part) {
    ASSERT_NE(part.release, nullptr);
    part.release(&part);
    EXPECT_EQ(part.release, nullptr);
}

// ---------------------------------------------------------------------------
// Schemas.

struct Field {
    const char* name;
    const char* format;
    const char* dictionary;  // the value format of a dictionary column, else null
};

struct SchemaCase {
    const char* name;
    void (*export_schema)(ArrowSchema*);
    std::vector<Field> fields;
};

void PrintTo(const SchemaCase& c, std::ostream* out) {
    *out << c.name;
}

class SchemaTest : public testing::TestWithParam<SchemaCase> {};

TEST_P(SchemaTest, IsAStructOfTheColumnsInOrder) {
    ArrowSchema schema;
    GetParam().export_schema(&schema);
    EXPECT_STREQ(schema.format, "+s");
    ASSERT_EQ(schema.n_children, static_cast<int64_t>(GetParam().fields.size()));
    for (std::size_t i = 0; i < GetParam().fields.size(); ++i) {
        const Field& field = GetParam().fields[i];
        const ArrowSchema& child = *schema.children[i];
        EXPECT_STREQ(child.name, field.name);
        EXPECT_STREQ(child.format, field.format) << field.name;
        EXPECT_EQ(child.flags & ARROW_FLAG_NULLABLE, 0) << field.name;
        EXPECT_EQ(child.n_children, 0);
        if (field.dictionary == nullptr) {
            EXPECT_EQ(child.dictionary, nullptr) << field.name;
        } else {
            ASSERT_NE(child.dictionary, nullptr) << field.name;
            EXPECT_STREQ(child.dictionary->format, field.dictionary);
        }
    }
    release(schema);
}

INSTANTIATE_TEST_SUITE_P(Tables, SchemaTest,
                         testing::Values(SchemaCase{"Beacons",
                                                    &export_schema<BeaconColumns>,
                                                    {{"line_number", "L", nullptr},
                                                     {"callsign", "u", nullptr},
                                                     {"q_construct", "u", nullptr},
                                                     {"receiver", "u", nullptr},
                                                     {"kav_aprs_protocol", "c", "u"},
                                                     {"time", "tts", nullptr},
                                                     {"latitude", "g", nullptr},
                                                     {"longitude", "g", nullptr},
                                                     {"ground_track", "g", nullptr},
                                                     {"ground_speed", "g", nullptr},
                                                     {"gps_altitude", "g", nullptr},
                                                     {"aircraft_type", "c", "u"},
                                                     {"address_type", "c", "u"},
                                                     {"no_track", "b", nullptr},
                                                     {"stealth_mode", "b", nullptr},
                                                     {"address", "I", nullptr}}},
                                         SchemaCase{"Errors",
                                                    &export_schema<ErrorColumns>,
                                                    {{"line_number", "L", nullptr},
                                                     {"error_kind", "c", "u"},
                                                     {"error", "u", nullptr},
                                                     {"line", "z", nullptr}}}), test::CaseName{});

TEST(SchemaTest, ComparesTypesAndNamesAndDescribesThem) {
    ArrowSchema beacons;
    ArrowSchema errors;
    ArrowSchema errors_again;
    export_schema<BeaconColumns>(&beacons);
    export_schema<ErrorColumns>(&errors);
    export_schema<ErrorColumns>(&errors_again);
    EXPECT_TRUE(same_schema(errors, errors_again));
    EXPECT_FALSE(same_schema(errors, beacons));
    errors_again.name = "";  // a nameless struct as some consumers give it back
    EXPECT_TRUE(same_schema(errors, errors_again));
    errors_again.children[3]->format = "Z";
    EXPECT_FALSE(same_schema(errors, errors_again));
    EXPECT_EQ(describe_schema(errors),
              "+s<line_number: L, error_kind: dictionary<c, u>, error: u, line: z>");
    release(beacons);
    release(errors);
    release(errors_again);
}

// ---------------------------------------------------------------------------
// Arrays.

TEST(BatchTest, LaysOutEveryBeaconColumn) {
    ArrowArray batch = exported(beacons_of(decoded_sample()));
    EXPECT_EQ(batch.length, 2);
    EXPECT_EQ(batch.null_count, 0);
    EXPECT_EQ(batch.n_buffers, 1);
    EXPECT_EQ(batch.buffers[0], nullptr);
    ASSERT_EQ(batch.n_children, 16);
    for (const ArrowArray* column : std::span(batch.children, 16)) {
        EXPECT_EQ(column->length, 2) << column->n_buffers;
        EXPECT_EQ(column->null_count, 0);
        EXPECT_EQ(column->offset, 0);
        EXPECT_EQ(column->buffers[0], nullptr);
        for (int64_t b = 1; b < column->n_buffers; ++b) EXPECT_NE(column->buffers[b], nullptr);
    }
    const ArrowArray& line_number = *batch.children[0];
    EXPECT_EQ(static_cast<const std::uint64_t*>(line_number.buffers[1])[1], 4u);
    const ArrowArray& callsign = *batch.children[1];
    ASSERT_EQ(callsign.n_buffers, 3);
    EXPECT_EQ(text_at(callsign, 0), "X1");
    EXPECT_EQ(text_at(callsign, 1), "Z\xc3\xa9");

    const ArrowArray& aircraft_type = *batch.children[11];
    ASSERT_EQ(aircraft_type.n_buffers, 2);
    ASSERT_NE(aircraft_type.dictionary, nullptr);
    EXPECT_EQ(aircraft_type.dictionary->length, 15);
    const auto* type_index = static_cast<const std::int8_t*>(aircraft_type.buffers[1]);
    EXPECT_EQ(text_at(*aircraft_type.dictionary, type_index[0]), "Glider");  // prefix 0x06
    EXPECT_EQ(text_at(*aircraft_type.dictionary, type_index[1]), "StaticObstacle");
    const ArrowArray& protocol = *batch.children[4];
    EXPECT_EQ(
        text_at(*protocol.dictionary, static_cast<const std::int8_t*>(protocol.buffers[1])[1]),
        "KAVSKY");
    // Flags are bit-packed, row 0 in the lowest bit: prefix 0xFF sets both in row 1.
    const ArrowArray& stealth_mode = *batch.children[14];
    EXPECT_EQ(static_cast<const std::uint8_t*>(stealth_mode.buffers[1])[0] & 0x3u, 0x2u);
    release(batch);
}

TEST(BatchTest, LaysOutTheErrorColumns) {
    const auto lines = decoded_sample();
    ArrowArray batch = exported(errors_of(lines));
    ASSERT_EQ(batch.length, 1);
    ASSERT_EQ(batch.n_children, 4);
    EXPECT_EQ(static_cast<const std::uint64_t*>(batch.children[0]->buffers[1])[0], 2u);
    const ArrowArray& kind = *batch.children[1];
    EXPECT_EQ(kind.dictionary->length, 16);
    EXPECT_EQ(text_at(*kind.dictionary, static_cast<const std::int8_t*>(kind.buffers[1])[0]),
              lines->errors.error_kind().text(0));
    EXPECT_EQ(text_at(*batch.children[2], 0), lines->errors.error()[0]);
    EXPECT_EQ(text_at(*batch.children[3], 0), "bad line");
    release(batch);
}

TEST(BatchTest, AnEmptyTableStillHasAddressedBuffers) {
    auto decoded = decode_lines("", 1);
    ASSERT_TRUE(decoded.ok());
    ArrowArray batch =
        exported(beacons_of(std::make_shared<const DecodedLines>(std::move(decoded).value())));
    EXPECT_EQ(batch.length, 0);
    for (int64_t i = 0; i < batch.n_children; ++i) {
        for (int64_t b = 1; b < batch.children[i]->n_buffers; ++b) {
            EXPECT_NE(batch.children[i]->buffers[b], nullptr) << i;
        }
    }
    EXPECT_EQ(static_cast<const std::int32_t*>(batch.children[1]->buffers[1])[0], 0);
    release(batch);
}

// ---------------------------------------------------------------------------
// Release rules: each case ends with no reference to the table but the
// exported parts it keeps, then reads those parts, then releases them.

enum class Order { ParentOnly, ChildrenFirst, ChildMovedOutThenParent, DictionaryMovedOut };

struct ReleaseCase {
    const char* name;
    Order order;
};

void PrintTo(const ReleaseCase& c, std::ostream* out) {
    *out << c.name;
}

class ReleaseTest : public testing::TestWithParam<ReleaseCase> {};

TEST_P(ReleaseTest, EveryPartOutlivesTheRestAndIsFreedOnce) {
    ArrowArray batch = exported(beacons_of(decoded_sample()));
    switch (GetParam().order) {
        case Order::ParentOnly:
            release(batch);
            break;
        case Order::ChildrenFirst:
            for (int64_t i = 0; i < batch.n_children; ++i) release(*batch.children[i]);
            release(batch);
            break;
        case Order::ChildMovedOutThenParent: {
            ArrowArray callsign;
            std::memcpy(&callsign, batch.children[1], sizeof callsign);
            batch.children[1]->release = nullptr;
            release(batch);
            EXPECT_EQ(text_at(callsign, 1), "Z\xc3\xa9");  // the table is still alive
            release(callsign);
            break;
        }
        case Order::DictionaryMovedOut: {
            ArrowArray types;
            std::memcpy(&types, batch.children[11]->dictionary, sizeof types);
            batch.children[11]->dictionary->release = nullptr;
            release(batch);
            EXPECT_EQ(text_at(types, 14), "StaticObstacle");
            release(types);
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ReleaseTest,
    testing::Values(ReleaseCase{"ParentOnly", Order::ParentOnly},
                    ReleaseCase{"ChildrenFirst", Order::ChildrenFirst},
                    ReleaseCase{"ChildMovedOutThenParent", Order::ChildMovedOutThenParent},
                    ReleaseCase{"DictionaryMovedOut", Order::DictionaryMovedOut}),
    test::CaseName{});

TEST(ReleaseTest, SchemaChildMovedOutOutlivesItsParent) {
    ArrowSchema schema;
    export_schema<BeaconColumns>(&schema);
    ArrowSchema protocol;
    std::memcpy(&protocol, schema.children[4], sizeof protocol);
    schema.children[4]->release = nullptr;
    release(schema);
    EXPECT_STREQ(protocol.name, "kav_aprs_protocol");
    EXPECT_STREQ(protocol.dictionary->format, "u");
    release(protocol);
}

// ---------------------------------------------------------------------------
// Streams.

TEST(StreamTest, YieldsTheSchemaAndOneBatchThenEnds) {
    ArrowArrayStream stream;
    export_stream(errors_of(decoded_sample()), &stream);
    ArrowSchema schema;
    ASSERT_EQ(stream.get_schema(&stream, &schema), 0);
    EXPECT_EQ(schema.n_children, 4);
    ArrowArray first;
    ASSERT_EQ(stream.get_next(&stream, &first), 0);
    ASSERT_NE(first.release, nullptr);
    EXPECT_EQ(first.length, 1);
    ArrowArray end;
    ASSERT_EQ(stream.get_next(&stream, &end), 0);
    EXPECT_EQ(end.release, nullptr);
    EXPECT_EQ(stream.get_last_error(&stream), nullptr);
    release(stream);  // the schema and batch taken from it live on
    EXPECT_EQ(text_at(*first.children[3], 0), "bad line");
    release(first);
    release(schema);
}

TEST(StreamTest, ReleasedUnreadFreesEverything) {
    ArrowArrayStream stream;
    export_stream(beacons_of(decoded_sample()), &stream);
    release(stream);
}

}  // namespace
}  // namespace kav
