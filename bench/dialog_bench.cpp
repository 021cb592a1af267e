// The name-matching dialog on a generated registry of 200,000 rows, in real time:
// - keystroke-to-list latency: from the moment the debounce timer fires (the pause after the
//   last keystroke, itself excluded) to a full page of rows read for the list, against the
//   bare registry open + the same page in the same run;
// - the registry queries that a burst of 10 keystrokes typed 100 ms apart costs (must be 1).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "matching/UFormSelect.h"
#include "platform/backend.h"
#include "support/wrapping_loader.h"
#include "syllable_registry.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 200000;
constexpr int kRounds = 9;
constexpr size_t kPage = 20;  // rows the list shows at once

int g_prepares = 0;
kv::fb::PrepareFn g_real_prepare = nullptr;

kv::fb::Status CountedPrepare(kv::fb::Status* status, kv::fb::Handle* transaction,
                              kv::fb::Handle* statement, unsigned short length, const char* sql,
                              unsigned short dialect, kv::fb::Xsqlda* output) {
    ++g_prepares;
    return g_real_prepare(status, transaction, statement, length, sql, dialect, output);
}

class CountingLoader final : public kv::test::WrappingLoader {
    void* Wrap(const std::string& name, void* real) override {
        if (real == nullptr || name != "isc_dsql_prepare") return real;
        g_real_prepare = reinterpret_cast<kv::fb::PrepareFn>(real);
        return reinterpret_cast<void*>(&CountedPrepare);
    }
};

// A window with a real timer, run by the benchmark's own loop instead of a message loop.
class BenchWindow final : public kv::SelectDialogWindow {
  public:
    explicit BenchWindow(kv::SelectDialogEvents& reported) : events(reported) {}
    void SetTitle(std::string_view) override {}
    void SetFilterText(std::string_view text) override { filter = text; }
    void ShowResult(size_t count) override { rows = count; }
    void ResizeResult(size_t count) override { rows = count; }
    void SelectRow(size_t) override {}
    void SetListRedraw(bool) override {}
    void EnableConfirm(bool) override {}
    void FocusList() override {}
    void StartTimer(uint32_t ms) override { due = Clock::now() + std::chrono::milliseconds(ms); }
    void StopTimer() override { due.reset(); }
    void ShowError(std::string_view text) override {
        std::fprintf(stderr, "error box: %s\n", std::string(text).c_str());
        std::exit(1);
    }
    int32_t RunModal() override { return kv::mrCancel; }
    void Close(int32_t) override {}

    // Waits, firing the timer when it is due; returns when `until` has passed.
    void RunUntil(Clock::time_point until) {
        while (Clock::now() < until) {
            if (due && Clock::now() >= *due) Fire();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    // Fires the timer and reads the page the list shows; the time that took, in ms.
    double Fire() {
        due.reset();
        const auto start = Clock::now();
        events.TimerFired();
        ReadPage();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    void ReadPage() {
        std::string text;
        for (size_t row = 0; row < std::min(rows, kPage); ++row) {
            if (!events.CellText(row, kv::SelectColumn::TradeName, text)) {
                events.RowsNeeded(kPage - 1);
                events.CellText(row, kv::SelectColumn::TradeName, text);
            }
        }
    }

    kv::SelectDialogEvents& events;
    std::string filter;
    size_t rows = 0;
    std::optional<Clock::time_point> due;
};

class BenchToolkit final : public kv::DialogToolkit {
  public:
    BenchWindow* window = nullptr;
    std::unique_ptr<kv::SelectDialogWindow> CreateSelectDialog(
        kv::SelectDialogEvents& events) override {
        auto created = std::make_unique<BenchWindow>(events);
        window = created.get();
        return created;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main() {
    try {
        char pattern[] = "/tmp/kvdialogbench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return 1;
        const std::string dir = pattern;
        const std::string path = dir + "/registry.fdb";
        const auto created = Clock::now();
        kvbench::CreateSyllableRegistry(dir, path, kRows, 1);
        std::printf("registry of %d rows created in %.1f s\n", kRows, Ms(created) / 1000);

        CountingLoader loader;
        BenchToolkit toolkit;
        bool ok = true;
        {
            kv::TfrmSelect dialog(toolkit, loader);
            kv::RegistryConnection& registry = dialog.Connection();
            registry.Configure(path, "SYSDBA", "", "", "gds32.dll");
            registry.Attach();
            registry.StartTransaction();
            registry.SetParameter("");
            registry.Open();
            BenchWindow& window = *toolkit.window;

            std::printf("%8s %10s %10s %7s  %s\n", "matches", "dialog ms", "bare ms", "ratio",
                        "filter");
            for (const char* filter_utf8 : {"дол", "дол табл", "ба 10", "табл", "нет такого"}) {
                const std::string filter = kv::Cp1251FromUtf8(filter_utf8);
                std::vector<double> dialog_ms, bare_ms;
                for (int round = 0; round < kRounds; ++round) {
                    window.events.FilterChanged(round % 2 ? filter : filter + " ");
                    dialog_ms.push_back(window.Fire());
                    // The same statement opened and read for one page, without the dialog.
                    registry.Close();
                    const auto start = Clock::now();
                    registry.Open();
                    registry.MoveTo(kPage - 1);
                    bare_ms.push_back(Ms(start));
                }
                registry.Close();
                registry.Open();
                while (registry.Next()) {
                }
                std::printf("%8d %10.1f %10.1f %7.3f  \"%s\"\n", registry.RowCount(),
                            Median(dialog_ms), Median(bare_ms), Median(dialog_ms) / Median(bare_ms),
                            filter_utf8);
            }

            // Ten keystrokes 100 ms apart, then the pause: one query, 500 ms after the last.
            window.events.FilterChanged(std::string());
            window.Fire();
            const int before = g_prepares;
            std::string typed;
            const auto start = Clock::now();
            Clock::time_point last_key;
            for (char c : kv::Cp1251FromUtf8("дол табл 5")) {
                typed += c;
                last_key = Clock::now();
                window.events.FilterChanged(typed);
                window.RunUntil(last_key + std::chrono::milliseconds(100));
            }
            window.RunUntil(last_key + std::chrono::milliseconds(1500));
            const int queries = g_prepares - before;
            std::printf("burst of %zu keystrokes 100 ms apart: %d registry quer%s in %.0f ms\n",
                        typed.size(), queries, queries == 1 ? "y" : "ies", Ms(start));
            ok = queries == 1;
            registry.CloseConnection();
        }
        std::filesystem::remove_all(dir);
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
