// ReadRecords over a CallerID table of 200,000 rows, beside what the client library
// itself can do (a minimal fetch loop on Firebird's object interface) and beside
// isql-fb printing the same query. Needs the server of scripts/firebird-test-server
// (run through scripts/with-test-services).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <firebird/Interface.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/CallerIdDbConnection.h"

namespace {

constexpr int ROWS = 200000;
const char* const QUERY = "SELECT * FROM CallerIDBench";

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Server() { return "127.0.0.1/" + Env("TALVEX_TEST_FB_PORT"); }

bool RunIsql(const std::string& user, const std::string& password, const std::string& role,
             const std::string& sql, const char* output) {
    std::string command = "env -u FIREBIRD isql-fb -q -b -user " + user + " -password " + password +
                          (role.empty() ? "" : " -role " + role) + " " + Server() +
                          ":CallerID_Database >" + output + " 2>&1";
    FILE* pipe = popen(command.c_str(), "w");
    if (!pipe) return false;
    std::fputs(sql.c_str(), pipe);
    return pclose(pipe) == 0;
}

// The table is made once per server: 200,000 rows written by the server itself.
void CreateBenchTable() {
    std::string sql =
        "SET TERM ^ ;\n"
        "EXECUTE BLOCK AS BEGIN\n"
        "  IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = "
        "'CALLERIDBENCH')) THEN\n"
        "    EXECUTE STATEMENT 'CREATE TABLE CallerIDBench (RecordId BIGINT, Alias CHAR(16), "
        "Type CHAR(16), ID CHAR(25), Channel INTEGER)';\n"
        "END^\n"
        "SET TERM ; ^\n"
        "COMMIT;\n"
        "SET TERM ^ ;\n"
        "EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN\n"
        "  IF (NOT EXISTS (SELECT 1 FROM CallerIDBench)) THEN\n"
        "  WHILE (i < " +
        std::to_string(ROWS) +
        ") DO BEGIN\n"
        "    INSERT INTO CallerIDBench VALUES (:i + 1, 'Caller ' || :i, "
        "IIF(MOD(:i, 3) = 0, 'SIP', 'PSTN'), '+1555' || (1000000 + :i), MOD(:i, 32));\n"
        "    i = i + 1;\n"
        "  END\n"
        "END^\n"
        "SET TERM ; ^\n"
        "COMMIT;\n"
        "GRANT SELECT ON CallerIDBench TO ROLE AdmAdminRole;\n"
        "COMMIT;\n";
    if (!RunIsql("SYSDBA", Env("TALVEX_TEST_FB_SYSDBA_PASSWORD"), "", sql, "/dev/stderr"))
        throw std::runtime_error("cannot create the CallerIDBench table");
}

void SetRows(benchmark::State& state, size_t rows) {
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReadRecords(benchmark::State& state) {
    DbmsConnectionSettings settings;
    settings.userName = Wide(Env("TALVEX_TEST_FB_USER"));
    settings.password = Wide(Env("TALVEX_TEST_FB_PASSWORD"));
    settings.server = L"127.0.0.1";
    settings.port = Wide(Env("TALVEX_TEST_FB_PORT"));
    CallerIdDbConnection connection(Wide(Env("TALVEX_TEST_FB_CLIENT_DIR")), settings);
    connection.Connect();
    std::vector<CallerIdRecord> rows;
    for (auto _ : state) {
        if (!connection.ReadRecords(Wide(QUERY), rows)) state.SkipWithError("ReadRecords failed");
        benchmark::DoNotOptimize(rows.data());
    }
    if (rows.size() != ROWS) state.SkipWithError("wrong row count");
    SetRows(state, rows.size());
}

// What the client library itself can do: one attachment, a transaction and a cursor
// per pass, every row fetched and every column copied out of the message buffer.
void BM_MinimalFetchLoop(benchmark::State& state) {
    using namespace Firebird;
    std::string path = Env("TALVEX_TEST_FB_CLIENT_DIR") + "/libfbclient.so.2";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto getMaster = reinterpret_cast<IMaster* (*)()>(
        library ? dlsym(library, "fb_get_master_interface") : nullptr);
    if (!getMaster) {
        state.SkipWithError("cannot load the client library");
        return;
    }
    IMaster* master = getMaster();
    ThrowStatusWrapper status(master->getStatus());
    IUtil* util = master->getUtilInterface();
    IProvider* provider = master->getDispatcher();
    size_t count = 0;
    try {
        IXpbBuilder* dpb = util->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&status, isc_dpb_user_name, Env("TALVEX_TEST_FB_USER").c_str());
        dpb->insertString(&status, isc_dpb_password, Env("TALVEX_TEST_FB_PASSWORD").c_str());
        dpb->insertString(&status, isc_dpb_sql_role_name, "AdmAdminRole");
        std::string name = Server() + ":CallerID_Database";
        IAttachment* attachment = provider->attachDatabase(
            &status, name.c_str(), dpb->getBufferLength(&status), dpb->getBuffer(&status));
        dpb->dispose();
        IXpbBuilder* tpb = util->getXpbBuilder(&status, IXpbBuilder::TPB, nullptr, 0);
        for (unsigned char tag :
             {isc_tpb_read, isc_tpb_read_committed, isc_tpb_no_rec_version, isc_tpb_wait})
            tpb->insertTag(&status, tag);

        struct Row {
            int64_t id;
            char alias[16], type[16], number[25];
            int32_t channel;
        } row{};
        for (auto _ : state) {
            ITransaction* transaction = attachment->startTransaction(
                &status, tpb->getBufferLength(&status), tpb->getBuffer(&status));
            IResultSet* cursor =
                attachment->openCursor(&status, transaction, 0, QUERY, SQL_DIALECT_V6, nullptr,
                                       nullptr, nullptr, nullptr, 0);
            IMessageMetadata* meta = cursor->getMetadata(&status);
            std::vector<unsigned char> buffer(meta->getMessageLength(&status));
            unsigned offsets[5];
            for (unsigned i = 0; i < 5; ++i) offsets[i] = meta->getOffset(&status, i);
            count = 0;
            while (cursor->fetchNext(&status, buffer.data()) == IStatus::RESULT_OK) {
                std::memcpy(&row.id, &buffer[offsets[0]], sizeof row.id);
                std::memcpy(row.alias, &buffer[offsets[1]], sizeof row.alias);
                std::memcpy(row.type, &buffer[offsets[2]], sizeof row.type);
                std::memcpy(row.number, &buffer[offsets[3]], sizeof row.number);
                std::memcpy(&row.channel, &buffer[offsets[4]], sizeof row.channel);
                benchmark::DoNotOptimize(row);
                ++count;
            }
            cursor->close(&status);
            meta->release();
            transaction->rollback(&status);
        }
        tpb->dispose();
        attachment->detach(&status);
    } catch (const FbException& e) {
        char text[1024];
        util->formatStatus(text, sizeof text, e.getStatus());
        state.SkipWithError(text);
    }
    provider->release();
    status.dispose();
    if (count != ROWS) state.SkipWithError("wrong row count");
    SetRows(state, count);
}

void BM_IsqlPrinting(benchmark::State& state) {
    std::string sql = std::string(QUERY) + ";\n";
    for (auto _ : state) {
        if (!RunIsql(Env("TALVEX_TEST_FB_USER"), Env("TALVEX_TEST_FB_PASSWORD"), "AdmAdminRole",
                     sql, "/dev/null"))
            state.SkipWithError("isql-fb failed");
    }
    SetRows(state, ROWS);
}

BENCHMARK(BM_ReadRecords)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_MinimalFetchLoop)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_IsqlPrinting)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// Collects the time per pass of each benchmark for the comparison printed at the end.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.iterations > 0)
                seconds[run.benchmark_name()] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    if (Env("TALVEX_TEST_FB_PORT").empty() || !Env("TALVEX_TEST_FB_UNAVAILABLE").empty()) {
        std::printf("bench_caller_id_db skipped: %s\n",
                    Env("TALVEX_TEST_FB_UNAVAILABLE").empty()
                        ? "TALVEX_TEST_FB_* not set (run through scripts/with-test-services)"
                        : Env("TALVEX_TEST_FB_UNAVAILABLE").c_str());
        return 0;
    }
    try {
        CreateBenchTable();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    auto rate = [&](const char* name) {
        for (const auto& [run, seconds] : collector.seconds)
            if (run.rfind(name, 0) == 0 &&
                (run.size() == std::strlen(name) || run[std::strlen(name)] == '/'))
                return ROWS / seconds;
        return 0.0;
    };
    double ours = rate("BM_ReadRecords"), loop = rate("BM_MinimalFetchLoop"),
           isql = rate("BM_IsqlPrinting");
    std::printf("\nReading %d CallerID rows:\n", ROWS);
    std::printf("  ReadRecords          %12.0f rows/s\n", ours);
    std::printf(
        "  minimal fetch loop   %12.0f rows/s   time ratio ReadRecords/loop  %.2fx (aim <= "
        "1.20x)\n",
        loop, ours > 0 ? loop / ours : 0.0);
    std::printf("  isql-fb printing     %12.0f rows/s   time ratio ReadRecords/isql  %.2fx\n", isql,
                ours > 0 ? isql / ours : 0.0);
    benchmark::Shutdown();
    return 0;
}
