// The INI parser beside Qt's QSettings (IniFormat) and inih on the same 1 MB file
// of 20,000 keys in 200 sections: read it, look up every key, set every key and
// write the file. Prints our figures, the peers', the ratios, and the parser's
// peak heap while it reads and holds the file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ini.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QSettings>
#include <QString>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "code/configparser.h"

// A counting allocator: the live bytes of every operator new, with the
// allocator's own rounding (malloc_usable_size), and their peak.
namespace heap {
std::atomic<size_t> live{0};
std::atomic<size_t> peak{0};
void add(void* p) {
    if (!p) return;
    const size_t now = live += malloc_usable_size(p);
    size_t old = peak.load();
    while (now > old && !peak.compare_exchange_weak(old, now)) {
    }
}
void remove(void* p) {
    if (p) live -= malloc_usable_size(p);
}
}  // namespace heap

void* operator new(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    heap::add(p);
    return p;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept {
    heap::remove(p);
    std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

namespace {

constexpr int SECTIONS = 200;
constexpr int KEYS_PER_SECTION = 100;

struct Entry {
    std::string section, key, value;
    QString qt_key;  // "section/key", built once so lookups time QSettings, not QString
};

struct Fixture {
    std::filesystem::path dir;
    std::string file;  // the generated input
    size_t file_size = 0;
    std::vector<Entry> entries;
};

Fixture& fixture() {
    static Fixture f = [] {
        Fixture x;
        x.dir = std::filesystem::temp_directory_path() /
                ("bench-configparser-" + std::to_string(getpid()));
        std::filesystem::create_directories(x.dir);
        x.file = (x.dir / "input.ini").string();
        // Plain words only: QSettings reads a comma as a list separator.
        std::string text;
        for (int s = 0; s < SECTIONS; ++s) {
            const std::string section = "Section" + std::to_string(s);
            text += "[" + section + "]\r\n";
            for (int k = 0; k < KEYS_PER_SECTION; ++k) {
                char key[32], value[64];
                std::snprintf(key, sizeof key, "key_%03d_%02d", s, k);
                std::snprintf(value, sizeof value, "value %08d of the generated file",
                              s * KEYS_PER_SECTION + k);
                text += std::string(key) + " = " + value + "\r\n";
                x.entries.push_back(
                    {section, key, value, QString::fromStdString(section + "/" + key)});
            }
        }
        FILE* out = std::fopen(x.file.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        x.file_size = text.size();
        return x;
    }();
    return f;
}

void BM_Read_Ours(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        ConfigParser parser(true);
        if (!parser.read(f.file.c_str())) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(parser.sections().size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.file_size));
}

// QSettings keeps parsed files in a process-wide cache and parses again only when
// the file's time stamp moves: each run moves it first.
void move_time_stamp(const std::string& file, time_t stamp) {
    const timespec times[2] = {{stamp, 0}, {stamp, 0}};
    utimensat(AT_FDCWD, file.c_str(), times, 0);
}

void BM_Read_QSettings(benchmark::State& state) {
    const Fixture& f = fixture();
    const QString file = QString::fromStdString(f.file);
    time_t stamp = time(nullptr);
    for (auto _ : state) {
        state.PauseTiming();
        move_time_stamp(f.file, ++stamp);
        state.ResumeTiming();
        QSettings settings(file, QSettings::IniFormat);
        benchmark::DoNotOptimize(settings.contains(QStringLiteral("Section0/key_000_00")));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.file_size));
}

int count_handler(void* user, const char*, const char*, const char*) {
    ++*static_cast<size_t*>(user);
    return 1;
}

void BM_Read_inih(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        size_t keys = 0;
        if (ini_parse(f.file.c_str(), count_handler, &keys) != 0) state.SkipWithError("inih");
        benchmark::DoNotOptimize(keys);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.file_size));
}

void BM_Lookup_Ours(benchmark::State& state) {
    const Fixture& f = fixture();
    ConfigParser parser(true);
    parser.read(f.file.c_str());
    std::string value;
    for (auto _ : state) {
        for (const Entry& e : f.entries) {
            if (!parser.get(e.section, e.key, value)) state.SkipWithError("missing key");
            benchmark::DoNotOptimize(value.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * f.entries.size()));
}

void BM_Lookup_QSettings(benchmark::State& state) {
    const Fixture& f = fixture();
    QSettings settings(QString::fromStdString(f.file), QSettings::IniFormat);
    for (auto _ : state) {
        for (const Entry& e : f.entries) {
            QString value = settings.value(e.qt_key).toString();
            if (value.isEmpty()) state.SkipWithError("missing key");
            benchmark::DoNotOptimize(value.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * f.entries.size()));
}

// QSettings reads an INI file lazily: opening it only splits the file into
// sections, each parsed on its first lookup. Reading and looking up every key
// compares the whole work on both sides.
void BM_ReadLookup_Ours(benchmark::State& state) {
    const Fixture& f = fixture();
    std::string value;
    for (auto _ : state) {
        ConfigParser parser(true);
        parser.read(f.file.c_str());
        for (const Entry& e : f.entries) {
            if (!parser.get(e.section, e.key, value)) state.SkipWithError("missing key");
            benchmark::DoNotOptimize(value.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.file_size));
}

void BM_ReadLookup_QSettings(benchmark::State& state) {
    const Fixture& f = fixture();
    const QString file = QString::fromStdString(f.file);
    time_t stamp = time(nullptr) + 1000000;
    for (auto _ : state) {
        state.PauseTiming();
        move_time_stamp(f.file, ++stamp);
        state.ResumeTiming();
        QSettings settings(file, QSettings::IniFormat);
        for (const Entry& e : f.entries) {
            QString value = settings.value(e.qt_key).toString();
            if (value.isEmpty()) state.SkipWithError("missing key");
            benchmark::DoNotOptimize(value.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.file_size));
}

// Both set every key into an empty store and save it to a new file, which both
// do atomically (a temporary file, synced, renamed).
void BM_Write_Ours(benchmark::State& state) {
    const Fixture& f = fixture();
    const std::string out = (f.dir / "ours.ini").string();
    for (auto _ : state) {
        std::filesystem::remove(out);
        ConfigParser parser(true);
        for (const Entry& e : f.entries) parser.set(e.section, e.key, e.value, true);
        if (!parser.write(out.c_str(), false)) state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * std::filesystem::file_size(out)));
}

void BM_Write_QSettings(benchmark::State& state) {
    const Fixture& f = fixture();
    const std::string out = (f.dir / "qsettings.ini").string();
    std::vector<QString> values;
    for (const Entry& e : f.entries) values.push_back(QString::fromStdString(e.value));
    for (auto _ : state) {
        std::filesystem::remove(out);
        QSettings settings(QString::fromStdString(out), QSettings::IniFormat);
        for (size_t i = 0; i < f.entries.size(); ++i) {
            settings.setValue(f.entries[i].qt_key, values[i]);
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) state.SkipWithError("sync failed");
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * std::filesystem::file_size(out)));
}

BENCHMARK(BM_Read_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read_QSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read_inih)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup_QSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLookup_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLookup_QSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_QSettings)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            real[run.benchmark_name()] = run.GetAdjustedRealTime();
            cpu[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
    }
    std::map<std::string, double> real, cpu;
};

void print_ratio(const RatioReporter& r, const char* what, const char* ours, const char* peer,
                 const char* aim) {
    if (!r.real.count(ours) || !r.real.count(peer)) return;
    const double ours_cpu = r.cpu.at(ours), peer_cpu = r.cpu.at(peer);
    const double ours_real = r.real.at(ours), peer_real = r.real.at(peer);
    std::printf(
        "%-38s CPU: ours %8.3f ms, peer %8.3f ms, peer/ours %5.2fx | wall: ours %8.3f ms, "
        "peer %8.3f ms, peer/ours %5.2fx  (%s)\n",
        what, ours_cpu, peer_cpu, peer_cpu / ours_cpu, ours_real, peer_real, peer_real / ours_real,
        aim);
}

// The parser's heap while it reads the file and holds all of it, beside the file's size.
void print_peak_memory() {
    const Fixture& f = fixture();
    const size_t base = heap::live.load();
    heap::peak = base;
    const size_t arena_before = mallinfo2().uordblks;
    size_t held = 0, arena_held = 0;
    {
        ConfigParser parser(true);
        parser.read(f.file.c_str());
        held = heap::live.load() - base;
        arena_held = mallinfo2().uordblks - arena_before;
    }
    const size_t peak = heap::peak.load() - base;
    std::printf(
        "peak heap while reading %zu bytes: %zu bytes = %.2fx the file (aim: under 4x); "
        "held after the read: %zu bytes (malloc's own count: %zu)\n",
        f.file_size, peak, static_cast<double>(peak) / static_cast<double>(f.file_size), held,
        arena_held);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    const Fixture& f = fixture();
    std::printf("input: %zu bytes, %zu keys in %d sections\n", f.file_size, f.entries.size(),
                SECTIONS);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    print_ratio(reporter, "read (QSettings only indexes)", "BM_Read_Ours", "BM_Read_QSettings",
                "no aim: QSettings parses on lookup");
    print_ratio(reporter, "read and look up every key", "BM_ReadLookup_Ours",
                "BM_ReadLookup_QSettings", "aim: at least 2x");
    print_ratio(reporter, "read vs inih (parses, stores nothing)", "BM_Read_Ours", "BM_Read_inih",
                "aim: at least 0.5x");
    print_ratio(reporter, "look up every key (file in memory)", "BM_Lookup_Ours",
                "BM_Lookup_QSettings", "no aim");
    print_ratio(reporter, "set every key and write", "BM_Write_Ours", "BM_Write_QSettings",
                "aim: at least 2x");
    print_peak_memory();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(f.dir, ignored);
    return 0;
}
