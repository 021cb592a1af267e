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

Session::Session() : initialised_(addin_.ok()) {}

Session::~Session() {
    if (initialised_) addin_.init->Done();
}

long Session::Member(bool method, const std::string& name) {
    BSTR bstr = SysAllocString(Utf16(name).c_str());
    long number = -1;
    const HRESULT hr =
        method ? addin_.lang->FindMethod(bstr, &number) : addin_.lang->FindProp(bstr, &number);
    SysFreeString(bstr);
    if (hr != S_OK) Fail(__FILE__, __LINE__, "no member named " + name);
    return number;
}

LONG Session::Call(const std::string& method, const std::vector<Arg>& args) {
    if (!ok()) return -9999;
    const long number = Member(true, method);
    std::vector<Var> values(args.size());
    std::vector<VARIANT*> pointers;
    for (size_t i = 0; i < args.size(); ++i) {
        VARIANT* v = values[i].get();
        if (args[i].text) {
            V_VT(v) = VT_BSTR;
            V_BSTR(v) = SysAllocString(args[i].string.c_str());
        } else {
            V_VT(v) = VT_I4;
            V_I4(v) = args[i].number;
        }
        pointers.push_back(v);
    }
    Params params(pointers);
    Var result;
    KV_CHECK_HR(addin_.lang->CallAsFunc(number, result.get(), params.get()), S_OK);
    if (result.vt() != VT_I4) {
        Fail(__FILE__, __LINE__, method + " returned type " + Show(result.vt()));
        return -9999;
    }
    return V_I4(result.get());
}

void Session::SetText(const std::string& property, const std::string& utf8) {
    Var value = Var::Text(Utf16(utf8));
    KV_CHECK_HR(addin_.lang->SetPropVal(Member(false, property), value.get()), S_OK);
}

void Session::SetInt(const std::string& property, LONG value) {
    Var v = Var::I4(value);
    KV_CHECK_HR(addin_.lang->SetPropVal(Member(false, property), v.get()), S_OK);
}

std::string Session::Text(const std::string& property) {
    Var value;
    KV_CHECK_HR(addin_.lang->GetPropVal(Member(false, property), value.get()), S_OK);
    KV_CHECK_EQ(value.vt(), VT_BSTR);
    return value.vt() == VT_BSTR ? Utf8(value.text()) : std::string();
}

LONG Session::Int(const std::string& property) {
    Var value;
    KV_CHECK_HR(addin_.lang->GetPropVal(Member(false, property), value.get()), S_OK);
    KV_CHECK_EQ(value.vt(), VT_I4);
    return value.vt() == VT_I4 ? V_I4(value.get()) : -9999;
}

double Session::Real(const std::string& property, VARTYPE expected_type) {
    Var value;
    KV_CHECK_HR(addin_.lang->GetPropVal(Member(false, property), value.get()), S_OK);
    KV_CHECK_EQ(value.vt(), expected_type);
    if (value.vt() == VT_R8) return V_R8(value.get());
    if (value.vt() == VT_DATE) return V_DATE(value.get());
    return -9999;
}

std::vector<std::string> Session::TakeErrors() {
    std::vector<std::string> texts;
    for (const LoggedError& e : connection_.log.records) texts.push_back(Utf8(e.description));
    connection_.log.records.clear();
    return texts;
}

}  // namespace kvtest
