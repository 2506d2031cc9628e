// Arbitrary bytes as an INI file: read, write, read the written file again.
// Whatever was read must be written so that it reads back without error to the
// same content, and writing that again must give the same bytes.
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "code/configparser.h"
#include "tests/support/ini_text.h"

namespace {

// A fresh folder for each input, removed after it, so nothing is left behind
// (libFuzzer ends without running exit handlers). On tmpfs where there is one:
// every write syncs, which costs a disk nothing there.
class WorkDir {
public:
    WorkDir() {
        m_path =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm/fuzz-ini-XXXXXX" : "/tmp/fuzz-ini-XXXXXX";
        if (!mkdtemp(m_path.data())) abort();
    }
    ~WorkDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string file(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The content a written file must read back to: a section without comments
// gains the separator line written above it.
bool same_after_round_trip(const ConfigParser& first, const ConfigParser& second) {
    if (first.section_order() != second.section_order()) return false;
    if (first.trailing_comments() != second.trailing_comments()) return false;
    if (first.sections().size() != second.sections().size()) return false;
    for (const auto& [name, section] : first.sections()) {
        const auto other = second.sections().find(name);
        if (other == second.sections().end()) return false;
        const auto expected_comments =
            section.comments.empty() ? std::vector<std::string>{kIniSeparator} : section.comments;
        if (other->second.comments != expected_comments) return false;
        if (section.options.size() != other->second.options.size()) return false;
        auto a = section.options.begin();
        auto b = other->second.options.begin();
        for (; a != section.options.end(); ++a, ++b) {
            if (a->first != b->first || a->second.value != b->second.value ||
                a->second.comments != b->second.comments) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool keep_trailing_whitespace = (data[0] & 1) != 0;
    const WorkDir dir;
    const std::string input = dir.file("input.ini");
    const std::string first_out = dir.file("first.ini");
    const std::string second_out = dir.file("second.ini");
    {
        FILE* f = std::fopen(input.c_str(), "wb");
        if (!f) abort();
        if (size > 1) std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }

    ConfigParser first(keep_trailing_whitespace);
    first.read(input.c_str());
    // Problems come in file order, each on a line of the file.
    unsigned last_line = 1;
    for (const ConfigParser::Problem& problem : first.problems()) {
        if (problem.line < last_line || problem.line > size) abort();
        last_line = problem.line;
    }
    if (!first.write(first_out.c_str(), true)) abort();

    ConfigParser second(keep_trailing_whitespace);
    if (!second.read(first_out.c_str()) || !second.problems().empty()) abort();
    if (!same_after_round_trip(first, second)) abort();
    if (!second.write(second_out.c_str(), true)) abort();
    if (read_bytes(first_out) != read_bytes(second_out)) abort();
    return 0;
}
