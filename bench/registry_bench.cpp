// Opening the registry query with a two-word filter and reading its first row: our connection
// against the same statement run straight through the client library, on a generated registry
// of 200,000 rows, in one run. Prints the ratio of the two and the rows our open fetched.
#include <ibase.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "matching/registry.h"
#include "platform/backend.h"
#include "support/wrapping_loader.h"
#include "syllable_registry.h"

namespace {

constexpr int kRows = 200000;
constexpr int kRounds = 15;

// The platform's loader with isc_dsql_fetch counted.
int g_fetches = 0;
kv::fb::FetchFn g_real_fetch = nullptr;

kv::fb::Status CountedFetch(kv::fb::Status* status, kv::fb::Handle* statement,
                            unsigned short version, const kv::fb::Xsqlda* output) {
    ++g_fetches;
    return g_real_fetch(status, statement, version, output);
}

class CountingLoader final : public kv::test::WrappingLoader {
    void* Wrap(const std::string& name, void* real) override {
        if (real == nullptr || name != "isc_dsql_fetch") return real;
        g_real_fetch = reinterpret_cast<kv::fb::FetchFn>(real);
        return reinterpret_cast<void*>(&CountedFetch);
    }
};

std::string Condition(const std::string& word) {
    return kv::RegistryConnection::NameContains("'" + kv::Cp1251FromUtf8(word) + "'");
}

void Check(const ISC_STATUS* status) {
    if (status[0] == 1 && status[1] != 0) {
        isc_print_status(status);
        std::exit(1);
    }
}

// The same statement through the client library directly: prepare, execute, one fetch.
struct Baseline {
    isc_db_handle db = 0;
    isc_tr_handle tr = 0;

    explicit Baseline(const std::string& path) {
        ISC_STATUS_ARRAY status;
        const char items[] = {isc_dpb_version1,
                              isc_dpb_user_name,
                              6,
                              'S',
                              'Y',
                              'S',
                              'D',
                              'B',
                              'A',
                              isc_dpb_lc_ctype,
                              7,
                              'W',
                              'I',
                              'N',
                              '1',
                              '2',
                              '5',
                              '1'};
        isc_attach_database(status, 0, path.c_str(), &db, sizeof items, items);
        Check(status);
        static char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait,
                             isc_tpb_read_committed, isc_tpb_rec_version};
        isc_start_transaction(status, &tr, 1, &db, sizeof tpb, tpb);
        Check(status);
    }
    ~Baseline() {
        ISC_STATUS_ARRAY status;
        isc_rollback_transaction(status, &tr);
        isc_detach_database(status, &db);
    }

    // Runs the statement and reads `rows` rows (all of them for -1); returns the rows read.
    // The statement is freed after `done`, outside what the caller times.
    template <typename Done>
    int Run(const std::string& sql, int rows, Done done) {
        ISC_STATUS_ARRAY status;
        isc_stmt_handle stmt = 0;
        isc_dsql_allocate_statement(status, &db, &stmt);
        Check(status);
        std::vector<char> memory(XSQLDA_LENGTH(8));
        auto* out = reinterpret_cast<XSQLDA*>(memory.data());
        out->version = SQLDA_VERSION1;
        out->sqln = 8;
        isc_dsql_prepare(status, &tr, &stmt, 0, sql.c_str(), 3, out);
        Check(status);
        std::vector<std::vector<char>> buffers(static_cast<size_t>(out->sqld));
        std::vector<short> nulls(static_cast<size_t>(out->sqld));
        for (int i = 0; i < out->sqld; ++i) {
            XSQLVAR& var = out->sqlvar[i];
            buffers[static_cast<size_t>(i)].resize(static_cast<size_t>(var.sqllen) + 2);
            var.sqldata = buffers[static_cast<size_t>(i)].data();
            var.sqlind = &nulls[static_cast<size_t>(i)];
        }
        isc_dsql_execute(status, &tr, &stmt, SQLDA_VERSION1, nullptr);
        Check(status);
        int read = 0;
        while (rows < 0 || read < rows) {
            if (isc_dsql_fetch(status, &stmt, SQLDA_VERSION1, out) == 100) break;
            Check(status);
            ++read;
        }
        done();
        isc_dsql_free_statement(status, &stmt, DSQL_drop);
        return read;
    }
};

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    try {
        char pattern[] = "/tmp/kvbench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return 1;
        const std::string dir = pattern;
        const std::string path = dir + "/registry.fdb";
        const auto created = Clock::now();
        kvbench::CreateSyllableRegistry(dir, path, kRows, -1);
        std::printf("registry of %d rows created in %.1f s\n", kRows,
                    std::chrono::duration<double>(Clock::now() - created).count());

        const std::string filter = Condition("дол") + " and " + Condition("табл");
        CountingLoader loader;
        double ours_ms = 0, baseline_ms = 0;
        int fetched = 0, matches = 0;
        {
            kv::RegistryConnection ours(loader);
            ours.Configure(path, "SYSDBA", "", "", "gds32.dll");
            ours.Attach();
            ours.StartTransaction();
            ours.ReplaceFilterLine(filter);
            Baseline baseline(path);
            const std::string sql = ours.StatementText();
            matches = baseline.Run(sql, -1, [] {});

            std::vector<double> ours_times, baseline_times;
            const auto run_ours = [&] {
                g_fetches = 0;
                const auto start = Clock::now();
                ours.Open();
                ours.First();
                ours_times.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                fetched = std::max(fetched, g_fetches);
                ours.Close();
            };
            const auto run_baseline = [&] {
                const auto start = Clock::now();
                baseline.Run(sql, 1, [&] {
                    baseline_times.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                });
            };
            // Alternating which goes first, so that neither always meets a warmer cache.
            for (int round = 0; round < kRounds; ++round) {
                if (round % 2 == 0) {
                    run_ours();
                    run_baseline();
                } else {
                    run_baseline();
                    run_ours();
                }
            }
            ours_ms = Median(ours_times);
            baseline_ms = Median(baseline_times);
            ours.CloseConnection();
        }
        std::filesystem::remove_all(dir);

        std::printf("two-word filter matches %d of %d rows\n", matches, kRows);
        std::printf(
            "open + first row: ours %.2f ms, client library directly %.2f ms (medians of %d)\n",
            ours_ms, baseline_ms, kRounds);
        std::printf("ratio ours / direct: %.3f\n", ours_ms / baseline_ms);
        std::printf("rows fetched by open + first row: %d (of %d in the result)\n", fetched,
                    matches);
        return fetched == 1 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
