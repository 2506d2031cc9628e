// Opening the settings sheet on the Console Options page, whose language list reads
// every library in the Language folder: with 50 libraries, and with one hostile
// library of each kind (cut short, a resource tree pointing back at itself, 64 MiB
// sound or with that tree), beside the same sheet over an empty folder. The aim is
// at most 50 ms more.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/ui/CsleLogPropertyPage.h"
#include "app/ui/ExCComboBox.h"
#include "app/ui/ExCPropertySheet.h"
#include "code/console_settings.h"
#include "code/pe_version_resource.h"

namespace {

namespace fs = std::filesystem;

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.empty()) throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

void write_bytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

uint32_t u16(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8;
}
uint32_t u32(const std::string& b, size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

// A library whose first resource directory entry (the type level) names the root
// directory as its subdirectory: a walk that followed it would never end.
std::string with_looping_resource_tree(std::string image) {
    const size_t optional = u32(image, 0x3C) + 24;
    const size_t directories = u16(image, optional) == 0x20B ? 112 : 96;
    const uint32_t resourceRva = u32(image, optional + directories + 16);
    const size_t sections = optional + u16(image, optional - 4);
    for (size_t i = 0; i < u16(image, optional - 18); ++i) {
        const size_t at = sections + 40 * i;
        const uint32_t va = u32(image, at + 12), raw = u32(image, at + 20);
        if (resourceRva < va || resourceRva - va >= u32(image, at + 16)) continue;
        const size_t root = resourceRva - va + raw;
        const size_t entry = root + 16 + 8 * u16(image, root + 12);
        image.replace(entry + 4, 4, std::string("\0\0\0\x80", 4));
        return image;
    }
    throw std::runtime_error("no resource section");
}

struct Folders {
    fs::path base, empty, fifty, truncated, looping, huge, hugeBroken;
};

const Folders& folders() {
    static const Folders f = [] {
        Folders x;
        x.base = fs::temp_directory_path() / ("bench-console-options-" + std::to_string(getpid()));
        x.empty = x.base / "empty";
        x.fifty = x.base / "fifty";
        x.truncated = x.base / "truncated";
        x.looping = x.base / "looping";
        x.huge = x.base / "huge";
        x.hugeBroken = x.base / "huge-broken";
        for (const fs::path* p :
             {&x.empty, &x.fifty, &x.truncated, &x.looping, &x.huge, &x.hugeBroken})
            fs::create_directories(*p);
        const fs::path fixtures = TALVEX_LANGUAGE_DLL_DIR;
        const char* kinds[] = {"french64.dll", "german32.dll", "french32.dll", "english64.dll",
                               "italian_old64.dll"};
        for (int i = 1; i <= 50; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Talvex%03d.DLL", i);
            fs::copy_file(fixtures / kinds[i % 5], x.fifty / name);
        }
        const std::string french = read_bytes(fixtures / "french64.dll");
        write_bytes(x.truncated / "TalvexCUT.DLL", french.substr(0, french.size() / 2));
        write_bytes(x.looping / "TalvexLOP.DLL", with_looping_resource_tree(french));
        // The largest file the reader takes: a sound library followed by zeros.
        std::string huge = french;
        huge.resize(kMaxImageBytes, '\0');
        write_bytes(x.huge / "TalvexBIG.DLL", huge);
        // The same size with the looping tree: the walk must give up on it without
        // reading the zeros behind it.
        std::string hugeBroken = with_looping_resource_tree(french);
        hugeBroken.resize(kMaxImageBytes, '\0');
        write_bytes(x.hugeBroken / "TalvexBRK.DLL", hugeBroken);
        return x;
    }();
    return f;
}

// What the tool does up to the moment the user sees the page, and its closing.
void open_sheet(benchmark::State& state, const fs::path& folder) {
    ConsoleSettings settings;
    int items = 0;
    for (auto _ : state) {
        ExCPropertySheet sheet(QStringLiteral("Talvex"), nullptr, 0);
        auto page = std::make_unique<CCsleLogPropertyPage>(&settings, folder.wstring());
        sheet.AddPage(page.get());
        sheet.Open();
        QApplication::processEvents();
        items = page->LanguageList()->count();
        sheet.close();
    }
    state.counters["items"] = items;
}

void BM_OpenSheet_NoLibraries(benchmark::State& s) { open_sheet(s, folders().empty); }
void BM_OpenSheet_50Libraries(benchmark::State& s) { open_sheet(s, folders().fifty); }
void BM_OpenSheet_Truncated(benchmark::State& s) { open_sheet(s, folders().truncated); }
void BM_OpenSheet_LoopingTree(benchmark::State& s) { open_sheet(s, folders().looping); }
void BM_OpenSheet_64MiB(benchmark::State& s) { open_sheet(s, folders().huge); }
void BM_OpenSheet_64MiBLooping(benchmark::State& s) { open_sheet(s, folders().hugeBroken); }
BENCHMARK(BM_OpenSheet_NoLibraries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSheet_50Libraries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSheet_Truncated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSheet_LoopingTree)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSheet_64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSheet_64MiBLooping)->Unit(benchmark::kMillisecond);

class DifferenceReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred) real[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> real;
};

void print_difference(const DifferenceReporter& r, const char* what, const char* ours) {
    const char* peer = "BM_OpenSheet_NoLibraries";
    if (!r.real.count(ours) || !r.real.count(peer)) return;
    const double o = r.real.at(ours), p = r.real.at(peer);
    std::printf(
        "%-34s ours %8.3f ms, peer (no libraries) %8.3f ms, difference %+8.3f ms (aim: "
        "at most +50 ms)\n",
        what, o, p, o - p);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "C.UTF-8");
    benchmark::Initialize(&argc, argv);
    folders();
    DifferenceReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    print_difference(reporter, "50 language libraries", "BM_OpenSheet_50Libraries");
    print_difference(reporter, "a truncated library", "BM_OpenSheet_Truncated");
    print_difference(reporter, "a looping resource tree", "BM_OpenSheet_LoopingTree");
    print_difference(reporter, "a 64 MiB library", "BM_OpenSheet_64MiB");
    print_difference(reporter, "a 64 MiB library, looping tree", "BM_OpenSheet_64MiBLooping");
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(folders().base, ignored);
    return 0;
}
