// The add-in's members as a host sees them, through the shell under test (shell.h): the COM
// add-in created through its ProgID, or the Native API add-in through the MSVC-ABI host. Names,
// property values, method calls and order files; where the shells answer differently (case in
// names, how a refusal reads), each expectation says which answers which.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "check.h"
#include "shell.h"

using namespace kvtest;
using kv::Variant;
using kv::VarType;

namespace {

bool Com() { return TestedShell() == kvhost::Shell::Com; }
// How a call that the add-in takes, or refuses, is answered.
std::wstring Accepted() { return Com() ? L"S_OK" : L"true"; }
std::wstring Refused() { return Com() ? L"S_FALSE" : L"false"; }

Variant Text(const std::wstring& text) {
    return Variant::Text(std::u16string(text.begin(), text.end()));
}

std::wstring TextOf(const Variant& value) {
    return std::wstring(value.text().begin(), value.text().end());
}

// The add-in under test, finished at the end of a group.
struct Tested {
    std::unique_ptr<kvhost::AddIn> addin = StartAddIn();
    ~Tested() {
        if (addin) FinishAddIn(*addin);
    }
};

void CheckError(const kvhost::HostError& error, const std::wstring& description) {
    KV_CHECK_EQ(error.code, 1006);
    KV_CHECK_EQ(error.source, std::wstring(L"KelvarinVK"));
    KV_CHECK_EQ(error.description, description);
    KV_CHECK_HR(error.scode, E_FAIL);
}

// Name lookup in both languages; the parameter counts; what case and blanks do.
void Names() {
    Tested tested;
    if (!tested.addin) return;
    kvhost::AddIn& addin = *tested.addin;
    const char* const properties[][2] = {
        {"ТорговоеНаименование", "TradeName"},
        {"НаименованиеПроизводителя", "Producer"},
        {"Поставщик", "DistribName"},
        {"МННТовара", "IntlName"},
        {"НайденнаяЦена", "Pprice"},
        {"СрокГодности", "UseByDate"},
        {"ПозицияВПрайсе", "PriceID"},
        {"ЗаказываемоеКоличество", "Amount"},
        {"Таймаут", "Timeout"},
        {"ИмяОкна1С", "NameWindow1C"},
        {"ТорговаяТочка", "PointName"},
        {"ПутьКБазе", "BaseName"},
        {"ИмяПользователя", "UserName"},
        {"ПарольПользователя", "UserPass"},
        {"РольПользователя", "UserRole"},
        {"ИмяБиблиотеки", "DLLName"},
        {"ФайлСЗаказом", "ZakazFileName"},
        {"КодПункта", "PointCode"},
        {"КаталогДляЗаказов", "DirToZakaz"},
        {"КодПоставщика", "DistribCode"},
        {"ИмяФайлаСЗаявкой", "FileWithZakaz"},
    };
    for (long i = 0; i < 21; ++i) {
        for (const char* name : properties[i]) KV_CHECK_EQ(addin.Find(false, Utf16(name)), i);
    }
    struct Method {
        const char* russian;
        const char* english;
        long params;
    };
    const Method methods[] = {
        {"ОбновитьПрайсы", "LoadPrices", 0},
        {"ОбновитьОтказы", "LoadOtkazes", 0},
        {"ПодобратьПозиции", "UseAutozakaz", 1},
        {"ПолучитьПоставщиков", "GetDistribList", 0},
        {"ПолучитьПозициюПрайса", "GetPriceItem", 1},
        {"ПрерватьПоиск", "StopFind", 0},
        {"ПроверитьКелварин", "CheckKelvarin", 0},
        {"НайтиПозицию", "FindPosition", 3},
        {"СопоставитьПозиции", "SopostavNames", 2},
        {"ПодготовитьПрайс", "PreparePrice", 0},
        {"ОчиститьТекущийЗаказ", "ClearCurrentZakaz", 0},
        {"ОчиститьАвтозаявку", "ClearAutoZakaz", 0},
        {"КоличествоПозицийВТекущейЗаявке", "CountPositionInZakaz", 0},
        {"ЗаявкуВАрхив", "ZakazInArhive", 0},
        {"ВыбратьПозицииЗаказа", "SelectPositionFromZakaz", 1},
        {"ПолучитьПозицию", "GetPosition", 0},
        {"СоздатьЗаявку", "CreateZakaz", 2},
        {"ОчиститьПакет", "ClearPacket", 0},
        {"ДобавитьПозициюВПакет", "AddPositionInPacket", 10},
        {"ПодобратьПакет", "FindPacket", 0},
        {"ПодобратьАвтозаказИзФайла", "FindAutoZakazFromFile", 1},
    };
    for (long i = 0; i < 21; ++i) {
        KV_CHECK_EQ(addin.Find(true, Utf16(methods[i].russian)), i);
        KV_CHECK_EQ(addin.Find(true, Utf16(methods[i].english)), i);
        KV_CHECK_EQ(addin.ParamCount(i), methods[i].params);
    }
    // The COM add-in compares byte for byte, as 1C:Enterprise 7.7 does; the Native API add-in
    // ignores the case of Latin and Cyrillic letters, as 1C:Enterprise 8 does. Blanks count in
    // both, and properties and methods are separate tables.
    struct Stranger {
        bool method;
        const char* name;
        long com, native;
    };
    const Stranger strangers[] = {
        {false, "timeout", -1, 8},        {false, "TIMEOUT", -1, 8},
        {false, "таймаут", -1, 8},        {false, "ТАЙМАУТ", -1, 8},
        {false, "срокгодности", -1, 5},   {true, "findpacket", -1, 19},
        {true, "подобратьпакет", -1, 19}, {false, " Timeout", -1, -1},
        {false, "Timeout ", -1, -1},      {false, "", -1, -1},
        {false, "FindPacket", -1, -1},    {true, "Timeout", -1, -1},
    };
    for (const Stranger& s : strangers) {
        const long found = addin.Find(s.method, Utf16(s.name));
        if (found != (Com() ? s.com : s.native)) {
            Fail(__FILE__, __LINE__, std::string(s.name) + " found " + Show(found));
        }
    }
    KV_CHECK_EQ(addin.PropertyCount(), 21);
    KV_CHECK_EQ(addin.MethodCount(), 21);
    KV_CHECK_EQ(addin.Extension(), std::wstring(L"KelvarinVK"));
    KV_CHECK(addin.TakeErrors().empty());
}

// Property reads and writes, and what a refused write leaves.
void Properties() {
    Tested tested;
    if (!tested.addin) return;
    kvhost::AddIn& addin = *tested.addin;
    const long kTimeout = 8, kAmount = 7, kTradeName = 0, kPprice = 4, kUseByDate = 5,
               kNameWindow = 9, kBaseName = 11, kUserName = 12;
    auto read = [&](long number) {
        Variant value;
        KV_CHECK_EQ(addin.ReadProperty(number, value).said, Accepted());
        return value;
    };
    auto write = [&](long number, const Variant& value) {
        return addin.WriteProperty(number, value).said;
    };

    // Defaults of a fresh component.
    KV_CHECK(read(kTimeout) == Variant::Int32(0));
    KV_CHECK(read(kPprice) == Variant::Double(0));
    KV_CHECK(read(kUseByDate) == Variant::Date(0));
    KV_CHECK_EQ(TextOf(read(kBaseName)), std::wstring(L"C:\\Kelvarin\\kelvarin.fdb"));
    KV_CHECK_EQ(TextOf(read(kUserName)), std::wstring(L"SYSDBA"));

    // No such property: refused, and an empty value read; the low 8 bits select.
    Variant none;
    KV_CHECK_EQ(addin.ReadProperty(21, none).said, Refused());
    KV_CHECK_EQ(none.type(), VarType::Empty);
    KV_CHECK_EQ(write(21, Variant::Int32(5)), Refused());
    KV_CHECK_EQ(write(256 + kTimeout, Variant::Int32(5)), Accepted());
    KV_CHECK(read(kTimeout) == Variant::Int32(5));

    struct Write {
        const char* what;
        Variant value;
        int32_t stored;
    };
    const Write writes[] = {
        {"text 1500", Text(L"1500"), 1500}, {"2.5", Variant::Double(2.5), 2},
        {"3.5", Variant::Double(3.5), 4},   {"-2.5", Variant::Double(-2.5), -2},
        {"I4", Variant::Int32(-77), -77},   {"true", Variant::Bool(true), -1},
    };
    for (const Write& w : writes) {
        KV_CHECK_EQ(write(kTimeout, w.value), Accepted());
        if (!(read(kTimeout) == Variant::Int32(w.stored))) Note(std::string("write of ") + w.what);
    }

    // Texts: numbers become their digits, an empty value the empty text, characters outside
    // the ANSI code page '?'.
    const std::pair<Variant, std::wstring> texts[] = {
        {Variant::Int32(12), L"12"}, {Variant(), L""}, {Text(L"Ω1"), L"?1"}};
    for (const auto& [value, stored] : texts) {
        KV_CHECK_EQ(write(kTradeName, value), Accepted());
        const Variant back = read(kTradeName);
        KV_CHECK_EQ(back.type(), VarType::Bstr);
        KV_CHECK_EQ(TextOf(back), stored);
    }

    // Dates keep their day count; NameWindow1C takes anything and reads empty.
    KV_CHECK_EQ(write(kUseByDate, Variant::Date(45443.75)), Accepted());
    KV_CHECK(read(kUseByDate) == Variant::Date(45443.75));
    KV_CHECK_EQ(write(kNameWindow, Text(L"Окно")), Accepted());
    KV_CHECK(read(kNameWindow) == Text(L""));
    KV_CHECK(addin.TakeErrors().empty());

    // A failed conversion: refused, the old value stays, one error that says why.
    KV_CHECK_EQ(write(kAmount, Variant::Int32(7)), Accepted());
    KV_CHECK_EQ(write(kAmount, Text(L"abc")), Refused());
    KV_CHECK(read(kAmount) == Variant::Int32(7));
    std::vector<kvhost::HostError> errors = addin.TakeErrors();
    KV_CHECK_EQ(errors.size(), size_t{1});
    if (errors.size() == 1) {
        CheckError(errors[0],
                   L"Ошибка изменения свойства: Could not convert variant of type (OleStr) into "
                   L"type (Integer)");
    }
    KV_CHECK_EQ(write(kPprice, Variant::Null()), Refused());
    errors = addin.TakeErrors();
    KV_CHECK_EQ(errors.size(), size_t{1});
    if (errors.size() == 1) {
        KV_CHECK_EQ(
            errors[0].description.rfind(L"Ошибка изменения свойства: Could not convert variant", 0),
            size_t{0});
    }
}

// Method calls: results, the packet's parameters, and a parameter that does not convert.
void Methods() {
    Tested tested;
    if (!tested.addin) return;
    kvhost::AddIn& addin = *tested.addin;
    const long kGetDistribList = 3, kGetPriceItem = 4, kClearPacket = 17, kAddPositionInPacket = 18;
    auto call = [&](long method, const std::vector<Variant>& params, std::wstring& said) {
        Variant result;
        said = addin.Call(method, params, result).said;
        return result;
    };
    std::wstring said;

    // No such method: refused, with VT_I4 0.
    KV_CHECK(call(21, {}, said) == Variant::Int32(0));
    KV_CHECK_EQ(said, Refused());
    for (long nothing : {kGetDistribList, kGetPriceItem}) {
        KV_CHECK(call(nothing, {Text(L"x")}, said) == Variant::Int32(0));
        KV_CHECK_EQ(said, Accepted());
    }

    // Ten text parameters, fewer (the rest read as empty), none at all: each call adds one
    // position, and the result is the packet's new count, which clearing keeps counting.
    std::vector<Variant> ten;
    for (int i = 0; i < 10; ++i) ten.push_back(Text(L"поле" + std::to_wstring(i)));
    std::vector<Variant> two = {ten[0], ten[1]};
    int32_t count = 0;
    for (const std::vector<Variant>* params : {&ten, &two, &ten}) {
        KV_CHECK(call(kAddPositionInPacket, *params, said) == Variant::Int32(++count));
        KV_CHECK_EQ(said, Accepted());
    }
    KV_CHECK(call(kAddPositionInPacket, {}, said) == Variant::Int32(++count));
    KV_CHECK(call(kClearPacket, {}, said) == Variant::Int32(1));
    KV_CHECK(call(kAddPositionInPacket, ten, said) == Variant::Int32(++count));
    KV_CHECK(addin.TakeErrors().empty());

    // A parameter that does not convert: VT_I4 0 and exactly the parameter message; the COM
    // add-in answers S_OK, the Native API add-in false, so that the 1C script raises it.
    const std::pair<int, const wchar_t*> bad[] = {
        {0, L"Параметр номер 1 не может быть преобразован в строку."},
        {4, L"Параметр номер 5 не может быть преобразован в строку."},
        {9, L"Параметр номер 10 не может быть преобразован в строку."},
    };
    for (const auto& [index, message] : bad) {
        std::vector<Variant> params(10, Text(L""));
        params[static_cast<size_t>(index)] = Variant::Null();
        KV_CHECK(call(kAddPositionInPacket, params, said) == Variant::Int32(0));
        KV_CHECK_EQ(said, Com() ? Accepted() : Refused());
        const std::vector<kvhost::HostError> errors = addin.TakeErrors();
        KV_CHECK_EQ(errors.size(), size_t{1});
        if (errors.size() == 1) CheckError(errors[0], message);
    }
}

// The regional settings of the running system, as the order file names must show them.
std::wstring Locale(LCTYPE item) {
    wchar_t buffer[80] = {};
    GetLocaleInfoW(LOCALE_USER_DEFAULT, item, buffer, 80);
    return buffer;
}

// "dd/mm/yyyy" rendered by hand for a moment of the system clock.
std::wstring DatePart(const SYSTEMTIME& t, const std::wstring& separator) {
    wchar_t text[40];
    swprintf(text, 40, L"%02u%ls%02u%ls%04u", t.wDay, separator.c_str(), t.wMonth,
             separator.c_str(), t.wYear);
    return text;
}

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "missing";
    char buffer[512];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

// CreateZakaz through the DLL on the system's own files, clock and Russian regional settings.
void OrderFiles() {
    Tested tested;
    if (!tested.addin) return;
    kvhost::AddIn& addin = *tested.addin;
    const long kCreateZakaz = 16, kZakazFileName = 16, kDirToZakaz = 18, kPointCode = 17;

    // Wine runs these tests with the Russian settings: "." between date parts, ":" in times.
    const std::wstring date_separator = Locale(LOCALE_SDATE);
    const std::wstring time_separator = Locale(LOCALE_STIME);
    KV_CHECK_EQ(date_separator, std::wstring(L"."));
    KV_CHECK_EQ(time_separator, std::wstring(L":"));

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir =
        std::wstring(temp) + L"kv-orders-" + std::to_wstring(GetCurrentProcessId());
    // Not there yet: the call makes it.
    KV_CHECK_EQ(addin.WriteProperty(kDirToZakaz, Text(dir)).said, Accepted());

    // The file name CreateZakaz returns, or "VT_I4 0" when it failed.
    auto create = [&](const std::wstring& point, const std::wstring& pattern) {
        Variant result;
        KV_CHECK_EQ(addin.Call(kCreateZakaz, {Text(point), Text(pattern)}, result).said,
                    Accepted());
        if (result.type() == VarType::Bstr) return TextOf(result);
        return result == Variant::Int32(0) ? std::wstring(L"VT_I4 0") : std::wstring(L"other");
    };

    // "/" gives the regional date separator; the same minute twice gives the "_1" suffix.
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    const std::wstring first = create(L" 12 ", L"dd/mm/yyyy");
    const std::wstring second = create(L"  ", L"dd/mm/yyyy");
    GetLocalTime(&after);
    const std::wstring day_before = DatePart(before, date_separator);
    const std::wstring day_after = DatePart(after, date_separator);
    KV_CHECK(first == day_before + L".txt" || first == day_after + L".txt");
    KV_CHECK(second == day_before + L"_1.txt" || second == day_after + L"_1.txt");
    Variant name;
    addin.ReadProperty(kZakazFileName, name);
    KV_CHECK_EQ(TextOf(name), second);
    Variant point;
    addin.ReadProperty(kPointCode, point);
    KV_CHECK_EQ(TextOf(point), std::wstring(L" 12 "));  // a blank code leaves the stored one

    // The header line in Windows-1251 with CR LF, 56 bytes.
    const std::string header =
        "\xC7\xE0\xEA\xE0\xE7\t\xCA\xEE\xE4\t\xCD\xE0\xE7\xE2\xE0\xED\xE8\xE5\t"
        "\xCF\xF0\xEE\xE8\xE7\xE2\xEE\xE4\xE8\xF2\xE5\xEB\xFC\t\xD6\xE5\xED\xE0\t"
        "\xCF\xEE\xF1\xF2\xE0\xE2\xF9\xE8\xEA\t\xD4\xE8\xEB\xE8\xE0\xEB\r\n";
    KV_CHECK_EQ(header.size(), size_t{56});
    KV_CHECK_EQ(FileBytes(dir + L"\\" + first), header);
    KV_CHECK_EQ(FileBytes(dir + L"\\" + second), header);

    // ":" gives the regional time separator. Windows refuses it in a file name; Wine passes it
    // on to the Unix file system, which takes it.
    auto clock = [&](const SYSTEMTIME& t) {
        wchar_t hhnn[16];
        swprintf(hhnn, 16, L"%02u%ls%02u.txt", t.wHour, time_separator.c_str(), t.wMinute);
        return std::wstring(hhnn);
    };
    GetLocalTime(&before);
    const std::wstring timed = create(L"", L"hh:nn");
    GetLocalTime(&after);
    KV_CHECK(timed == clock(before) || timed == clock(after));
    KV_CHECK(addin.TakeErrors().empty());
    DeleteFileW((dir + L"\\" + timed).c_str());

    DeleteFileW((dir + L"\\" + first).c_str());
    DeleteFileW((dir + L"\\" + second).c_str());
    KV_CHECK(RemoveDirectoryW(dir.c_str()));  // nothing else was left behind
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(argc, argv,
                          {
                              {"names", Names},
                              {"properties", Properties},
                              {"methods", Methods},
                              {"order_files", OrderFiles},
                          });
}
