#pragma once
// A platform for native tests: the Windows-1251 codec, regional settings and a clock that the
// test sets, notices that are recorded instead of shown; the posix backends for the rest.
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "component/catalogue.h"
#include "component/method_bodies.h"
#include "component/protocol.h"
#include "platform/backend.h"
#include "platform/platform.h"

namespace kv::test {

class FakeRegional final : public RegionalSource {
  public:
    RegionalSettings settings;
    const RegionalSettings& Settings() override { return settings; }
};

class FakeClock final : public Clock {
  public:
    LocalDateTime now{2025, 12, 8, 14, 5, 9, 0};
    LocalDateTime Now() override { return now; }
};

class RecordingNotices final : public NoticeBox {
  public:
    struct Shown {
        std::string text;
        bool error;
    };
    std::vector<Shown> shown;
    void Show(std::string_view ansi_text, bool error) override {
        shown.push_back({std::string(ansi_text), error});
    }
};

// The trace's file as a list of lines: off unless a test names a file; `fails` makes every
// append fail, as a file that cannot be written does.
class RecordingTraces final : public TraceFiles {
  public:
    TraceSetting setting;
    bool fails = false;
    std::vector<std::string> lines;  // UTF-8
    TraceSetting Setting() override { return setting; }
    bool Append(const TraceSetting& to, std::string_view utf8_line) noexcept override {
        if (fails || to.file != setting.file) return false;
        lines.emplace_back(utf8_line);
        return true;
    }
    uint32_t ProcessId() override { return 4242; }
};

class FakePlatform {
  public:
    FakePlatform() : FakePlatform(backend::Channel()) {}
    // With the test's own desktop application behind the shared block.
    explicit FakePlatform(DesktopChannel& channel)
        : platform{codec,
                   regional,
                   clock,
                   notices,
                   backend::Files(),
                   channel,
                   backend::Processes(),
                   backend::Libraries(),
                   backend::Dialogs(),
                   traces} {}
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    Cp1251Codec codec;
    FakeRegional regional;
    FakeClock clock;
    RecordingNotices notices;
    RecordingTraces traces;
    Platform platform;
};

// The methods that the component core executes itself; the others do nothing here.
inline const MethodBodies& ComponentMethods() {
    static constexpr MethodBodies methods = BindMethods({
        {"LoadPrices", ExecLoadPrices},
        {"LoadOtkazes", ExecLoadOtkazes},
        {"CreateZakaz", ExecCreateZakaz},
        {"ClearPacket", ExecClearPacket},
        {"AddPositionInPacket", ExecAddPositionInPacket},
    });
    return methods;
}

// The host's parameter array: element n, or nothing past the end.
class VectorParams final : public ParamSource {
  public:
    VectorParams() = default;
    VectorParams(std::initializer_list<Variant> list) : values(list) {}
    explicit VectorParams(std::vector<Variant> list) : values(std::move(list)) {}
    std::vector<Variant> values;
    bool Get(int32_t n, Variant& out) const override {
        if (n < 0 || static_cast<size_t>(n) >= values.size()) return false;
        out = values[static_cast<size_t>(n)];
        return true;
    }
};

// Records every entry of the host's error log.
class RecordingErrorLog final : public ErrorSink {
  public:
    std::vector<ErrorRecord> records;
    void Write(const ErrorRecord& record) override { records.push_back(record); }
};

// UTF-16 of a UTF-8 literal, and a host text value of it.
inline std::u16string U(std::string_view utf8) { return Utf8ToUtf16(utf8); }
inline Variant Str(std::string_view utf8) { return Variant::Text(Utf8ToUtf16(utf8)); }

}  // namespace kv::test

namespace kv {
// Readable values in test failure messages.
inline void PrintTo(const Variant& v, std::ostream* os) {
    const Variant& d = v.Deref();
    *os << VarTypeName(v.vt()) << "(";
    switch (d.type()) {
        case VarType::Bstr:
            *os << '"' << Utf16ToUtf8(d.text()) << '"';
            break;
        case VarType::R4:
        case VarType::R8:
        case VarType::Date:
            *os << d.real_value();
            break;
        default:
            *os << d.int_value();
            break;
    }
    *os << ")";
}
}  // namespace kv
