// A parse allocates nothing but what it hands back: the record's three texts
// (none when they fit the string's inline buffer) or the error's texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "parse.hpp"

namespace {

// Counts the allocations of this thread while a test looks.
thread_local std::size_t allocations = 0;

void* counted_allocation(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return counted_allocation(size);
}
void* operator new[](std::size_t size) {
    return counted_allocation(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace kav {
namespace {

std::size_t allocations_of_parse(std::string_view line) {
    allocations = 0;
    const auto result = parse_aircraft_beacon(line);
    const std::size_t counted = allocations;
    EXPECT_EQ(result.ok(), !line.empty() && line.back() == 'F') << line;
    return counted;
}

constexpr std::string_view kBlock = ":/123456h4630.00N/00830.00E'090/050/A=001000";

TEST(ParseAllocation, ShortHeaderTextsStayInline) {
    const std::string line = "X1>KAFLR,qAS,RX1" + std::string(kBlock) +
                             " !W12! -019fpm +0.0rot 5.5dB 3e -4.3kHz gps2x3 id06ABCDEF";
    EXPECT_EQ(allocations_of_parse(line), 0u);
}

TEST(ParseAllocation, LongHeaderTextsAreTheOnlyAllocations) {
    const std::string line =
        "CallsignLongerThanInline>KAFLR,qConstructLongerThanInline,"
        "ReceiverLongerThanInline" +
        std::string(kBlock) + " id06ABCDEF";
    EXPECT_EQ(allocations_of_parse(line), 3u);
}

TEST(ParseAllocation, AFailureAllocatesOnlyItsErrorTexts) {
    // Input and message longer than the inline buffer: one block each.
    const std::string line =
        "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'0x0/050/A=001000 id06ABCDEX";
    EXPECT_EQ(allocations_of_parse(line), 2u);
}

}  // namespace
}  // namespace kav
