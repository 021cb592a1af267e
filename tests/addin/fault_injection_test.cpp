// Each operating-system operation that a method uses fails, one at a time, under the whole
// add-in: the method answers as the component's rules say (a status or an error text in the
// host's log), and the next call on the same object, with the operation working again,
// succeeds. Under the sanitizers LeakSanitizer sees every path.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "addin/methods.h"
#include "link/fake_desktop.h"
#include "link/fake_processes.h"
#include "matching/fb_api.h"
#include "registry_fixture.h"
#include "support/fake_platform.h"
#include "support/wrapping_loader.h"

namespace kv::test {
namespace {

// The real files under a temporary directory, with directory creation or file creation made
// to fail.
class FailingFiles final : public FileSystem {
  public:
    bool fail_mkdir = false;
    bool fail_create = false;

    bool DirectoryExists(const std::string& path) override {
        return real_.DirectoryExists(Native(path));
    }
    bool FileExists(const std::string& path) override { return real_.FileExists(Native(path)); }
    uint32_t MakeDirectory(const std::string& path) override {
        return fail_mkdir ? 5 : real_.MakeDirectory(Native(path));  // ERROR_ACCESS_DENIED
    }
    CreateOutcome CreateNewFile(const std::string& path, std::string_view contents,
                                uint32_t& os_error, std::string& os_message) override {
        if (fail_create) {
            os_error = 112;  // ERROR_DISK_FULL
            os_message = "There is not enough space on the disk.";
            return CreateOutcome::Failed;
        }
        return real_.CreateNewFile(Native(path), contents, os_error, os_message);
    }

  private:
    static std::string Native(std::string path) {
        for (char& c : path) {
            if (c == '\\') c = '/';
        }
        return path;
    }
    FileSystem& real_ = backend::Files();
};

// A client-library call that fails as the library reports an error: a status vector with one
// error code and no arguments, and that code returned.
constexpr fb::Status kLockConflict = 335544345;  // "lock conflict on no wait transaction"

template <typename Fn>
struct FailingCall;
template <typename... Args>
struct FailingCall<fb::Status(KV_ISC_CALL*)(fb::Status*, Args...)> {
    static fb::Status KV_ISC_CALL Call(fb::Status* status, Args...) {
        status[0] = 1;
        status[1] = kLockConflict;
        status[2] = 0;
        return kLockConflict;
    }
};

template <typename Fn>
void* Failing() {
    return reinterpret_cast<void*>(&FailingCall<Fn>::Call);
}

// The platform's loader, with the library made to fail to load, an entry point left out, or
// one call of the library made to fail.
class FailingLoader final : public WrappingLoader {
  public:
    bool fail_open = false;
    std::string missing_entry;
    std::string failing_call;

    void* Open(const std::string& name, uint32_t& os_error) override {
        if (!fail_open) return WrappingLoader::Open(name, os_error);
        os_error = 0;
        return nullptr;
    }

  private:
    void* Wrap(const std::string& name, void* real) override {
        if (name == missing_entry) return nullptr;
        if (name != failing_call) return real;
        static const std::pair<const char*, void*> kFailing[] = {
            {"isc_attach_database", Failing<fb::AttachDatabaseFn>()},
            {"isc_detach_database", Failing<fb::DetachDatabaseFn>()},
            {"isc_start_multiple", Failing<fb::StartMultipleFn>()},
            {"isc_rollback_transaction", Failing<fb::RollbackTransactionFn>()},
            {"isc_dsql_alloc_statement2", Failing<fb::AllocStatement2Fn>()},
            {"isc_dsql_prepare", Failing<fb::PrepareFn>()},
            {"isc_dsql_describe_bind", Failing<fb::DescribeFn>()},
            {"isc_dsql_execute", Failing<fb::ExecuteFn>()},
            {"isc_dsql_fetch", Failing<fb::FetchFn>()},
            {"isc_dsql_free_statement", Failing<fb::FreeStatementFn>()},
        };
        for (const auto& [entry, failing] : kFailing) {
            if (name == entry) return failing;
        }
        return real;
    }
};

// One add-in instance over fakes that each fault can break.
struct World : DesktopHolder {
    FakePlatform base;
    FakeProcesses processes;
    FailingFiles files;
    FailingLoader libraries;
    Platform platform{base.codec, base.regional, base.clock, base.notices,
                      files,      desktop,       processes,  libraries};
    RecordingErrorLog errors;
    Protocol protocol{platform, &errors, AddinMethods()};
    kvtest::TempDir dir;

    World() {
        desktop.SetText("0\t123456\t");
        desktop.answer = "7\t123456\t";
        processes.processes = {{40, "C:\\Kelvarin\\kelvarin.exe"}};
        protocol.object().Timeout = 500;
        protocol.object().DirToZakaz = dir.path() + "/orders";
        protocol.object().BaseName = dir.path() + "/registry.fdb";
        protocol.object().DLLName = "gds32.dll";
        kvtest::CreateRegistry(dir.path() + "/registry.fdb",
                               {{101, 1, 1, "Аспирин", "табл.", "Байер"}});
    }

    // The method's VT_I4 result, and what went to the host's log meanwhile.
    int32_t Call(const char* english, std::vector<Variant> params, std::string& error) {
        int32_t number = -1;
        protocol.FindMethod(Utf8ToUtf16(english), number);
        const VectorParams source(std::move(params));
        Variant result;
        const size_t before = errors.records.size();
        EXPECT_EQ(protocol.CallAsFunc(number, result, &source), kS_OK);
        error =
            errors.records.size() > before ? Utf16ToUtf8(errors.records.back().description) : "";
        return static_cast<int32_t>(result.int_value());
    }
};

struct Fault {
    const char* operation;
    const char* method;
    std::vector<Variant> params;
    std::function<void(World&, bool)> set;  // breaks the operation (true) or mends it (false)
    int32_t result;
    const char* error;  // the start of the host log's text; empty: none
    int32_t mended_result;
    const char* mended_error;
};

// The host's log got `expected` at the start of its text, or nothing when that is empty.
void ExpectLogged(const std::string& logged, std::string_view expected, const std::string& what) {
    const std::string text = Utf8FromCp1251(logged);
    if (expected.empty()) {
        EXPECT_EQ(text, "") << what;
    } else {
        EXPECT_EQ(text.substr(0, expected.size()), expected) << what;
    }
}

TEST(FaultInjection, EachOperationFailsAloneAndTheNextCallWorks) {
    const std::vector<Variant> find = {Variant::Int32(0), Variant::Int32(0), Str("1")};
    const std::vector<Variant> sopostav = {Str("Аспирин"), Str("")};
    const Fault faults[] = {
        {"open the block", "FindPosition", find,
         [](World& w, bool on) { w.desktop.open_fails = on; }, -1, "", 7, ""},
        {"map the block",
         "CountPositionInZakaz",
         {},
         [](World& w, bool on) { w.desktop.map_fails = on; },
         -2,
         "",
         7,
         ""},
        {"open the turn",
         "GetPosition",
         {},
         [](World& w, bool on) { w.desktop.turn_open_fails = on; },
         7,
         "",
         7,
         ""},
        {"send the message",
         "ZakazInArhive",
         {},
         [](World& w, bool on) { w.desktop.window = on ? 1 : 123456; },
         -3,
         "",
         7,
         ""},
        {"read the tick",
         "PreparePrice",
         {},
         [](World& w, bool on) { w.desktop.tick_per_read = on ? 1000 : 0; },
         -3,
         "",
         7,
         ""},
        {"make the orders directory",
         "CreateZakaz",
         {Str(""), Str("")},
         [](World& w, bool on) { w.files.fail_mkdir = on; },
         0,
         "File access denied",
         0,
         ""},
        {"create the order file",
         "CreateZakaz",
         {Str(""), Str("")},
         [](World& w, bool on) { w.files.fail_create = on; },
         0,
         "Cannot create file \"",
         0,
         ""},
        {"list the processes",
         "CheckKelvarin",
         {},
         [](World& w, bool on) { w.processes.enum_fails = on; },
         0,
         "",
         1,
         ""},
        {"open a process",
         "CheckKelvarin",
         {},
         [](World& w, bool on) { w.processes.processes[0].openable = !on; },
         0,
         "",
         1,
         ""},
        {"load the client library", "SopostavNames", sopostav,
         [](World& w, bool on) { w.libraries.fail_open = on; }, 0, "Can't load library gds32.dll",
         0, "The name-matching dialog cannot be shown"},
        {"resolve an entry point", "SopostavNames", sopostav,
         [](World& w, bool on) { w.libraries.missing_entry = on ? "isc_dsql_fetch" : ""; }, 0,
         "Can't load library gds32.dll ", 0, "The name-matching dialog cannot be shown"},
    };
    for (const Fault& f : faults) {
        World world;
        std::string error;
        f.set(world, true);
        EXPECT_EQ(world.Call(f.method, f.params, error), f.result) << f.operation;
        ExpectLogged(error, f.error, f.operation);
        world.desktop.SetText("0\t123456\t");
        f.set(world, false);
        EXPECT_EQ(world.Call(f.method, f.params, error), f.mended_result) << f.operation;
        ExpectLogged(error, f.mended_error, std::string(f.operation) + ", mended");
        world.desktop.ExpectReleased();
        EXPECT_EQ(world.processes.open_handles, 0) << f.operation;
    }
}

// Each call of the client library fails alone while SopostavNames reads the registry: the
// library's own text reaches the host's log, or, for a call that only cleans up, the method goes
// on; and the next call, with the library working again, opens the dialog.
TEST(FaultInjection, EachClientLibraryCallFailsAloneAndTheNextCallWorks) {
    const std::vector<Variant> sopostav = {Str("Аспирин"), Str("")};
    const char* const library_text = "lock conflict on no wait transaction";
    const char* const went_on = "The name-matching dialog cannot be shown";
    const std::pair<const char*, const char*> calls[] = {
        {"isc_attach_database", library_text},
        {"isc_start_multiple", library_text},
        {"isc_dsql_alloc_statement2", library_text},
        {"isc_dsql_prepare", library_text},
        {"isc_dsql_describe_bind", library_text},
        {"isc_dsql_execute", library_text},
        {"isc_dsql_fetch", library_text},
        {"isc_rollback_transaction", went_on},
        {"isc_dsql_free_statement", went_on},
        {"isc_detach_database", went_on},
    };
    for (const auto& [call, logged] : calls) {
        World world;
        std::string error;
        world.libraries.failing_call = call;
        EXPECT_EQ(world.Call("SopostavNames", sopostav, error), 0) << call;
        ExpectLogged(error, logged, call);
        world.libraries.failing_call.clear();
        EXPECT_EQ(world.Call("SopostavNames", sopostav, error), 0) << call;
        ExpectLogged(error, went_on, std::string(call) + ", mended");
    }
}

}  // namespace
}  // namespace kv::test
