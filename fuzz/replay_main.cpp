// Replays fuzz inputs through the fuzz target without libFuzzer, so that any
// compiler with ASan/UBSan can re-check the corpus in ordinary CI.
//
// Usage: kav_parse_fuzz_replay PATH... [--lines PATH...]
//   a directory: every regular file in it is one input (in name order);
//   a file: the whole file is one input; for paths after --lines, each line
//   is one (the form in which the text corpora of beacon lines are kept).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool read_file(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void run_one(std::string_view input) {
    // A fresh heap copy of exactly the input's size lets ASan catch any read
    // one byte past the end, which a larger shared buffer would hide.
    std::vector<std::uint8_t> copy(input.begin(), input.end());
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

std::size_t replay_lines(std::string_view text) {
    std::size_t count = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        run_one(text.substr(0, end));
        ++count;
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return count;
}

// Returns the number of inputs replayed, or -1 if the path cannot be read.
long replay_path(const fs::path& path, bool as_lines) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        if (ec) return -1;
        std::sort(files.begin(), files.end());
        long total = 0;
        for (const auto& file : files) {
            const long n = replay_path(file, as_lines);
            if (n < 0) return -1;
            total += n;
        }
        return total;
    }
    std::string content;
    if (!read_file(path, content)) return -1;
    if (as_lines) return static_cast<long>(replay_lines(content));
    run_one(content);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool as_lines = false;
    long total = 0;
    int paths = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--lines") {
            as_lines = true;
            continue;
        }
        const long n = replay_path(fs::path(arg), as_lines);
        if (n < 0) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 2;
        }
        total += n;
        ++paths;
    }
    if (paths == 0) {
        std::fprintf(stderr, "usage: %s [--lines] PATH...\n", argv[0]);
        return 2;
    }
    std::printf("replayed %ld inputs without a fault\n", total);
    return 0;
}
