// Time per beacon line of the core parser: the valid and the bad lines of the
// bundled corpus, and lines of 80, 160 and 640 bytes, whose cost must grow no
// faster than their length. One iteration parses one line, so the reported
// time per iteration is the time per line.
//
// Beside them, the same corpus lines decoded into columns by the batch
// decoder, a whole buffer an iteration: compare the items_per_second (lines a
// second) of the two forms. Last, the decoded valid corpus written as JSON
// lines and as CSV rows, the records of `kav-aprs decode`, and the floats of
// those records alone, beside std::to_chars as the baseline.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decode_lines.hpp"
#include "float_repr.hpp"
#include "parse.hpp"
#include "record_text.hpp"

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "kav_core_bench: %s\n", what.c_str());
    std::exit(1);
}

// The lines of one corpus file, each checked to give the outcome the file
// promises, so that a stale corpus cannot time the wrong path.
std::vector<std::string> load_corpus(std::string_view name, bool valid) {
    const std::string path = std::string(KAV_BENCH_CORPUS_DIR) + "/" + std::string(name);
    std::ifstream file(path, std::ios::binary);
    if (!file) fail("cannot read " + path + " (run tools/gen_corpus.py)");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (kav::parse_aircraft_beacon(line).ok() != valid) {
            fail(path + ": line " + std::to_string(lines.size() + 1) + " gives the wrong outcome");
        }
        lines.push_back(std::move(line));
    }
    if (lines.empty()) fail(path + " holds no line");
    return lines;
}

// A valid line of exactly `length` bytes: the fixed fields, ordinary
// extension tokens as padding, and the `id` token last, so that the whole
// line is scanned.
std::string line_of_length(std::size_t length) {
    constexpr std::string_view kFixed =
        "KFL3E1234>KAFLR,qAS,Horn:/123456h4630.00N/00830.00E'090/050/A=001000";
    constexpr std::string_view kId = " id063E1234";
    constexpr std::string_view kTokens = " +198fpm +0.0rot 11.0dB 0e -3.4kHz gps2x3 FL042.15";
    if (length < kFixed.size() + kId.size()) fail("line length too short");
    std::string padding;
    while (padding.size() < length - kFixed.size() - kId.size()) padding += kTokens;
    padding.resize(length - kFixed.size() - kId.size());
    std::string line = std::string(kFixed) + padding + std::string(kId);
    if (!kav::parse_aircraft_beacon(line).ok()) fail("padded line does not parse: " + line);
    return line;
}

void parse_in_turn(benchmark::State& state, const std::vector<std::string>& lines) {
    std::size_t next = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const std::string& line = lines[next];
        auto result = kav::parse_aircraft_beacon(line);
        benchmark::DoNotOptimize(result);
        bytes += static_cast<std::int64_t>(line.size());
        if (++next == lines.size()) next = 0;
    }
    state.SetBytesProcessed(bytes);
    state.SetItemsProcessed(state.iterations());
}

void BM_ValidLines(benchmark::State& state) {
    static const auto lines = load_corpus("valid.txt", true);
    parse_in_turn(state, lines);
}

void BM_BadLines(benchmark::State& state) {
    static const auto lines = load_corpus("bad.txt", false);
    parse_in_turn(state, lines);
}

void BM_LineOfLength(benchmark::State& state) {
    const std::vector<std::string> lines{line_of_length(static_cast<std::size_t>(state.range(0)))};
    parse_in_turn(state, lines);
}

// A corpus file as one buffer, its lines repeated until the buffer holds at
// least `min_bytes`, with the number of lines that must decode.
struct CorpusBuffer {
    std::string bytes;
    std::size_t decoded;
};

CorpusBuffer load_buffer(std::string_view name, bool valid, std::size_t min_bytes) {
    const std::vector<std::string> lines = load_corpus(name, valid);
    CorpusBuffer corpus{{}, 0};
    do {
        for (const std::string& line : lines) {
            corpus.bytes += line;
            corpus.bytes += '\n';
        }
        if (valid) corpus.decoded += lines.size();
    } while (corpus.bytes.size() < min_bytes);
    return corpus;
}

// The buffer is built anew for each repetition, outside the timed loop.
void BM_DecodeBuffer(benchmark::State& state, std::string_view name, bool valid) {
    const CorpusBuffer corpus = load_buffer(name, valid, static_cast<std::size_t>(state.range(0)));
    std::size_t lines = 0;
    for (auto _ : state) {
        auto decoded = kav::decode_lines(corpus.bytes, 1);
        if (!decoded.ok() || decoded.value().counts.decoded != corpus.decoded) {
            state.SkipWithError("the corpus did not decode as it parses");
            break;
        }
        lines = decoded.value().counts.lines;
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(corpus.bytes.size()));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines));
}

// The valid corpus decoded into columns, for the cases that write its records.
kav::DecodedLines decoded_valid_corpus() {
    const CorpusBuffer corpus = load_buffer("valid.txt", true, 0);
    auto decoded = kav::decode_lines(corpus.bytes, 1);
    if (!decoded.ok()) fail("the corpus did not decode");
    return std::move(decoded).value();
}

// One iteration writes every row of the decoded corpus into a buffer that
// keeps its capacity, as the command's spills do.
template <bool kJson>
void BM_WriteRecords(benchmark::State& state) {
    const kav::DecodedLines decoded = decoded_valid_corpus();
    const kav::BeaconColumns& beacons = decoded.beacons;
    std::string out;
    for (auto _ : state) {
        out.clear();
        if constexpr (kJson) {
            kav::append_json_lines(out, beacons, "beacons.txt");
        } else {
            kav::append_csv_rows(out, beacons, "beacons.txt");
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(beacons.rows()));
}

// The latitudes and longitudes of the decoded valid corpus, the floats that
// need all their shortest digits, as the writers write them; the baseline is
// std::to_chars's shortest text of the same values, which the writers used
// to lay out.
template <bool kRepr>
void BM_FloatText(benchmark::State& state) {
    const kav::DecodedLines decoded = decoded_valid_corpus();
    const kav::BeaconColumns& beacons = decoded.beacons;
    std::vector<double> values;
    for (std::size_t row = 0; row < beacons.rows(); ++row) {
        values.push_back(beacons.latitude()[row]);
        values.push_back(beacons.longitude()[row]);
    }
    char text[kav::kFloatReprMaxChars];
    for (auto _ : state) {
        for (const double value : values) {
            char* end = kRepr ? kav::write_float_repr(text, value)
                              : std::to_chars(text, text + sizeof text, value).ptr;
            benchmark::DoNotOptimize(end);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

}  // namespace

BENCHMARK(BM_ValidLines);
BENCHMARK(BM_BadLines);
BENCHMARK(BM_LineOfLength)->Arg(80)->Arg(160)->Arg(640);
// The argument is the least size of the buffer: 0 for the corpus file once;
// 8 MiB, the package's chunk, for the cost of memory that is new to the process
// (page faults) and of columns larger than the caches.
BENCHMARK_CAPTURE(BM_DecodeBuffer, ValidLines, "valid.txt", true)->Arg(0)->Arg(8 << 20);
BENCHMARK_CAPTURE(BM_DecodeBuffer, BadLines, "bad.txt", false)->Arg(0)->Arg(8 << 20);

BENCHMARK_TEMPLATE(BM_WriteRecords, true)->Name("BM_WriteRecords/JsonLines");
BENCHMARK_TEMPLATE(BM_WriteRecords, false)->Name("BM_WriteRecords/Csv");
BENCHMARK_TEMPLATE(BM_FloatText, true)->Name("BM_FloatText/Repr");
BENCHMARK_TEMPLATE(BM_FloatText, false)->Name("BM_FloatText/ToCharsBaseline");

BENCHMARK_MAIN();
