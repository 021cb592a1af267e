#include "desktop_sim.h"

#include <objbase.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "check.h"

namespace kvtest {

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string TempDirectory(const char* tag) {
    char base[MAX_PATH] = {};
    GetTempPathA(sizeof base, base);
    static int serial = 0;
    const std::string dir = std::string(base) + "kv-" + tag + "-" +
                            std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

Simulator::Simulator(const std::string& exe, const std::vector<std::string>& args) {
    log_path_ = TempDirectory("sim") + "\\sim.log";
    std::string command = "\"" + exe + "\"";
    for (const std::string& arg : args) command += " \"" + arg + "\"";
    command += " --log \"" + log_path_ + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
        Fail(__FILE__, __LINE__,
             "cannot start " + command + ": error " + std::to_string(GetLastError()));
        process_ = {};
    }
}

Simulator::~Simulator() {
    Stop();
    DeleteFileA(log_path_.c_str());
    const std::string dir = log_path_.substr(0, log_path_.rfind('\\'));
    RemoveDirectoryA(dir.c_str());
}

std::string Simulator::Log() const {
    std::ifstream file(log_path_, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Simulator::Requests() const {
    std::vector<std::string> lines;
    std::istringstream log(Log());
    std::string line;
    while (std::getline(log, line)) {
        if (line.rfind("REQUEST ", 0) == 0) lines.push_back(line);
    }
    return lines;
}

bool Simulator::WaitLog(const std::string& text, DWORD milliseconds) {
    const double end = NowMs() + milliseconds;
    do {
        if (Log().find(text) != std::string::npos) return true;
        Sleep(10);
    } while (NowMs() < end);
    return false;
}

bool Simulator::WaitReady(DWORD milliseconds) {
    if (process_.hProcess == nullptr) return false;
    const double end = NowMs() + milliseconds;
    do {
        const std::string log = Log();
        const size_t ready = log.find("READY window=");
        if (ready != std::string::npos && log.find('\n', ready) != std::string::npos) {
            window_ = reinterpret_cast<HWND>(
                static_cast<uintptr_t>(std::strtoul(log.c_str() + ready + 13, nullptr, 10)));
            return true;
        }
        if (Ended(0)) break;
        Sleep(10);
    } while (NowMs() < end);
    Fail(__FILE__, __LINE__, "the simulator did not get ready; its log: " + Log());
    return false;
}

bool Simulator::Ended(DWORD milliseconds) {
    return process_.hProcess == nullptr ||
           WaitForSingleObject(process_.hProcess, milliseconds) == WAIT_OBJECT_0;
}

void Simulator::Stop() {
    if (process_.hProcess == nullptr) return;
    if (window_ != nullptr) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (!Ended(5000)) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
}

Child::Child(const std::string& role, const std::vector<std::string>& args) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = "\"" + std::string(self) + "\" " + role;
    for (const std::string& arg : args) command += " \"" + arg + "\"";
    Start(std::move(command));
}

Child::Child(const Program& program, const std::vector<std::string>& args) {
    std::string command = "\"" + program.exe + "\"";
    for (const std::string& arg : args) command += " \"" + arg + "\"";
    Start(std::move(command));
}

void Child::Start(std::string command) {
    output_path_ = TempDirectory("child") + "\\output.txt";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE output = CreateFileA(output_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    auto start = [&] {
        return CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &process_);
    };
    // Now and then, on a loaded machine, Wine cannot start a program at all (error 1359,
    // ERROR_INTERNAL_ERROR, before it runs): then it is started once more.
    bool started = output != INVALID_HANDLE_VALUE && start();
    if (!started && output != INVALID_HANDLE_VALUE && GetLastError() == ERROR_INTERNAL_ERROR) {
        Sleep(500);
        started = start();
    }
    if (!started) {
        Fail(__FILE__, __LINE__,
             "cannot start " + command + ": error " + std::to_string(GetLastError()));
        process_ = {};
    }
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
}

Child::~Child() {
    Kill();
    DeleteFileA(output_path_.c_str());
    RemoveDirectoryA(output_path_.substr(0, output_path_.rfind('\\')).c_str());
}

long Child::Wait(DWORD milliseconds) {
    DWORD code = 0;
    if (process_.hProcess == nullptr ||
        WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.hProcess, &code)) {
        return -1;
    }
    return static_cast<long>(code);
}

void Child::Kill() {
    if (process_.hProcess == nullptr) return;
    if (Wait(0) < 0) {
        TerminateProcess(process_.hProcess, 9);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
}

std::string Child::Output() const {
    std::ifstream file(output_path_, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Session::Session(const kvhost::NativeAddIn::Options* native) : addin_(StartAddIn(native)) {}

Session::~Session() {
    if (addin_ != nullptr) FinishAddIn(*addin_);
}

long Session::Member(bool method, const std::string& name) {
    const long number = addin_->Find(method, Utf16(name));
    if (number < 0) Fail(__FILE__, __LINE__, "no member named " + name);
    return number;
}

void Session::Answered(const std::string& what, const kvhost::Answer& answer,
                       bool refusal_expected) {
    std::vector<kvhost::HostError> fresh = addin_->TakeErrors();
    // A Native API call answers false exactly when the add-in reported an error, so that the
    // 1C script raises it; a COM call answers S_OK whatever the method did, and a property
    // write S_FALSE when the value was refused.
    const bool consistent = addin_->shell() == kvhost::Shell::Native
                                ? answer.accepted == fresh.empty()
                                : answer.accepted || refusal_expected;
    if (answer.failed || !consistent) {
        Fail(__FILE__, __LINE__,
             what + " answered " + Utf8(answer.said) + " with " + Show(fresh.size()) +
                 " errors reported");
    }
    std::lock_guard<std::mutex> locked(errors_lock_);
    errors_.insert(errors_.end(), fresh.begin(), fresh.end());
}

LONG Session::Call(const std::string& method, const std::vector<Arg>& args) {
    if (!ok()) return -9999;
    const long number = Member(true, method);
    std::vector<kv::Variant> params;
    for (const Arg& arg : args) {
        params.push_back(
            arg.text ? kv::Variant::Text(std::u16string(arg.string.begin(), arg.string.end()))
                     : kv::Variant::Int32(arg.number));
    }
    kv::Variant result;
    Answered(method + "()", addin_->Call(number, params, result), false);
    if (result.type() != kv::VarType::I4) {
        Fail(__FILE__, __LINE__, method + " returned type " + Show(result.vt()));
        return -9999;
    }
    return static_cast<LONG>(result.int_value());
}

kvhost::Answer Session::Write(const std::string& property, const kv::Variant& value) {
    const kvhost::Answer answer = addin_->WriteProperty(Member(false, property), value);
    Answered(property + " = ...", answer, true);
    return answer;
}

void Session::SetText(const std::string& property, const std::string& utf8) {
    const std::wstring text = Utf16(utf8);
    const kvhost::Answer answer =
        Write(property, kv::Variant::Text(std::u16string(text.begin(), text.end())));
    if (!answer.accepted) Fail(__FILE__, __LINE__, property + " refused " + Show(utf8));
}

void Session::SetInt(const std::string& property, LONG value) {
    const kvhost::Answer answer = Write(property, kv::Variant::Int32(value));
    if (!answer.accepted) Fail(__FILE__, __LINE__, property + " refused " + Show(value));
}

std::string Session::Text(const std::string& property) {
    kv::Variant value;
    Answered(property, addin_->ReadProperty(Member(false, property), value), false);
    KV_CHECK_EQ(value.type(), kv::VarType::Bstr);
    return Utf8(std::wstring(value.text().begin(), value.text().end()));
}

LONG Session::Int(const std::string& property) {
    kv::Variant value;
    Answered(property, addin_->ReadProperty(Member(false, property), value), false);
    KV_CHECK_EQ(value.type(), kv::VarType::I4);
    return value.type() == kv::VarType::I4 ? static_cast<LONG>(value.int_value()) : -9999;
}

double Session::Real(const std::string& property, uint16_t expected_type) {
    kv::Variant value;
    Answered(property, addin_->ReadProperty(Member(false, property), value), false);
    KV_CHECK_EQ(value.vt(), expected_type);
    return value.type() == kv::VarType::R8 || value.type() == kv::VarType::Date ? value.real_value()
                                                                                : -9999;
}

std::vector<std::string> Session::TakeErrors() {
    std::vector<std::string> texts;
    std::lock_guard<std::mutex> locked(errors_lock_);
    for (const kvhost::HostError& e : errors_) texts.push_back(Utf8(e.description));
    errors_.clear();
    return texts;
}

}  // namespace kvtest
