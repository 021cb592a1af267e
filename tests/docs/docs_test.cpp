// The Russian documents against the catalogue: the reference's tables list every member with
// its two names and parameter count and nothing else, every member a document names exists,
// and every call in the 1C code (the example module, the reference's examples) names a
// method with its parameter count and uses its result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "component/catalogue.h"

namespace kv {
namespace {

const std::filesystem::path kDocs = std::filesystem::path(KV_SOURCE_DIR) / "docs" / "ru";

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct Member {
    bool method;
    int number;
    std::string russian;
    std::string english;
    int params;  // methods only
};

std::vector<Member> Catalogue() {
    std::vector<Member> members;
    for (int i = 0; i < kPropertyCount; ++i) {
        members.push_back({false, i, PropertyAt(i).russian, PropertyAt(i).english, 0});
    }
    for (int i = 0; i < kMethodCount; ++i) {
        members.push_back(
            {true, i, MethodAt(i).russian, MethodAt(i).english, MethodAt(i).param_count});
    }
    return members;
}

std::optional<Member> Find(const std::string& name) {
    for (const Member& m : Catalogue()) {
        if (m.russian == name || m.english == name) return m;
    }
    return std::nullopt;
}

// The 1C platform's own names that the documents show beside the component's members: its
// functions, objects and words, and the module's predefined procedures.
bool PlatformName(const std::string& name) {
    for (const char* own :
         {"СоздатьОбъект", "ЗагрузитьВнешнююКомпоненту", "ПодключитьВнешнююКомпоненту",
          "УстановитьВнешнююКомпоненту", "Новый", "ОписаниеОшибки", "Симв", "Текст", "Экспорт",
          "ПриНачалеРаботыСистемы", "ПриОткрытии"}) {
        if (name == own) return true;
    }
    return false;
}

// The code of a document: its ``` blocks and, unless left out, its `...` spans.
std::string CodeOf(const std::string& text, bool spans = true) {
    std::string code;
    bool block = false;
    for (const std::string& line : Lines(text)) {
        if (line.rfind("```", 0) == 0) {
            block = !block;
        } else if (block) {
            code += line;
        } else if (spans) {
            static const std::regex span("`([^`]+)`");
            for (std::sregex_iterator m(line.begin(), line.end(), span), end; m != end; ++m) {
                code += (*m)[1].str() + "\n";
            }
            code += "\n";
            continue;
        }
        code += "\n";
    }
    return code;
}

// The procedures and functions that the 1C code of the example modules and of the documents
// defines, which the documents may name too.
std::vector<std::string> DefinedRoutines() {
    static const std::regex routine(R"((?:Процедура|Функция) ([\w\x80-\xFF]+)\()");
    const std::string code = Read(kDocs / "example.1s.txt") + Read(kDocs / "example-1c8.bsl") +
                             CodeOf(Read(kDocs / "reference.md")) + CodeOf(Read(kDocs / "1c8.md"));
    std::vector<std::string> names;
    for (std::sregex_iterator m(code.begin(), code.end(), routine), end; m != end; ++m) {
        names.push_back((*m)[1]);
    }
    return names;
}

// The rows "| № | `Russian` | `English` | ..." of the table under a "## " heading.
struct Row {
    int number;
    std::string russian, english, fourth;
};
std::vector<Row> TableUnder(const std::string& heading) {
    static const std::regex row(R"(^\| (\d+) \| `([^`]+)` \| `([^`]+)` \| ([^|]*) \|)");
    std::vector<Row> rows;
    bool inside = false;
    for (const std::string& line : Lines(Read(kDocs / "reference.md"))) {
        if (line.rfind("## ", 0) == 0) inside = line == "## " + heading;
        std::smatch m;
        if (inside && std::regex_search(line, m, row)) {
            rows.push_back({std::stoi(m[1]), m[2], m[3], m[4]});
        }
    }
    return rows;
}

// "нет" or the number that opens the reference's column of parameters.
int ParamsColumn(const std::string& text) {
    if (text.rfind("нет", 0) == 0) return 0;
    return std::isdigit(static_cast<unsigned char>(text[0])) ? std::stoi(text) : -1;
}

TEST(Reference, TablesListEveryMemberWithItsNamesAndNothingElse) {
    struct Table {
        const char* heading;
        bool method;
        int count;
    };
    for (const Table& table : {Table{"Свойства", false, kPropertyCount},
                               Table{"Методы: сводная таблица", true, kMethodCount}}) {
        SCOPED_TRACE(table.heading);
        const std::vector<Row> rows = TableUnder(table.heading);
        ASSERT_EQ(rows.size(), static_cast<size_t>(table.count))
            << "the table has another number of rows than the catalogue has members";
        for (size_t i = 0; i < rows.size(); ++i) {
            const int n = static_cast<int>(i);
            const char* russian = table.method ? MethodAt(n).russian : PropertyAt(n).russian;
            const char* english = table.method ? MethodAt(n).english : PropertyAt(n).english;
            EXPECT_EQ(rows[i].number, n) << "row " << i << " is numbered " << rows[i].number;
            EXPECT_EQ(rows[i].russian, russian) << "Russian name of number " << n;
            EXPECT_EQ(rows[i].english, english) << "English name of number " << n;
            if (table.method) {
                EXPECT_EQ(ParamsColumn(rows[i].fourth), MethodAt(n).param_count)
                    << rows[i].russian << ": the table says parameters \"" << rows[i].fourth
                    << "\"";
            }
        }
    }
}

// Every `Name`, `Name(...)` in Cyrillic in every document is a member (a call form names a
// method with its parameter count); "`Russian` (`English`)", "`Russian` / `English`" and
// "### Russian (English)" pair one member's two names.
TEST(Documents, NameOnlyMembersOfTheCatalogue) {
    static const std::regex token(R"(`((?:[\xD0\xD1][\x80-\xBF]|[0-9])+)(\(([^`]*)\))?`)");
    static const std::regex pair(
        R"((?:`|^### )((?:[\xD0\xD1][\x80-\xBF]|[0-9])+)(?:\(\))?`?(?: \(| / )`?([A-Za-z0-9]+)(?:\(\))?`?)");
    const std::vector<std::string> routines = DefinedRoutines();
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kDocs)) {
        if (entry.path().extension() != ".md") continue;
        const std::string file = entry.path().filename().string();
        int line_number = 0;
        for (const std::string& line : Lines(Read(entry.path()))) {
            ++line_number;
            const std::string where = file + ":" + std::to_string(line_number) + ": ";
            for (std::sregex_iterator m(line.begin(), line.end(), token), end; m != end; ++m) {
                const std::string name = (*m)[1];
                // Only capitalised words are names; "Таймаута" and the like are not.
                if (name.compare(0, 2, "\xD0\x90") < 0 || name.compare(0, 2, "\xD0\xAF") > 0) {
                    if (name.rfind("Ё", 0) != 0) continue;
                }
                if (PlatformName(name) ||
                    std::find(routines.begin(), routines.end(), name) != routines.end()) {
                    continue;
                }
                const std::optional<Member> member = Find(name);
                ++checked;
                if (!member) {
                    ADD_FAILURE() << where << "`" << name << "` is no member of the catalogue";
                    continue;
                }
                if (!(*m)[2].matched) continue;
                EXPECT_TRUE(member->method) << where << name << " is a property, not a method";
                const std::string args = (*m)[3];
                if (args.find("…") != std::string::npos) continue;
                const int given =
                    args.empty() ? 0
                                 : 1 + static_cast<int>(std::count(args.begin(), args.end(), ','));
                EXPECT_EQ(given, member->params)
                    << where << name << "(" << args << ") for a method of " << member->params;
            }
            for (std::sregex_iterator m(line.begin(), line.end(), pair), end; m != end; ++m) {
                const std::optional<Member> russian = Find((*m)[1]);
                const std::optional<Member> english = Find((*m)[2]);
                if (!russian || !english) continue;  // not a pair of names
                EXPECT_TRUE(russian->method == english->method &&
                            russian->number == english->number)
                    << where << (*m)[1] << " is paired with " << (*m)[2]
                    << ", which names another member";
            }
        }
    }
    EXPECT_GT(checked, 100) << "the documents name fewer members than they do";
}

// The calls of the component in 1C code: `Variable.Name` where Variable holds the object.
struct Call {
    int line;
    std::string name;
    std::optional<int> args;  // none: no parentheses
    bool result_used;
};

// Reads 1C code, skipping strings ("" is a quote inside) and // comments.
std::vector<Call> CallsOf(const std::string& code, const std::vector<std::string>& objects) {
    std::vector<Call> calls;
    auto ident = [](unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; };
    int line = 1;
    char last = ';';  // the last code character before the current one
    for (size_t i = 0; i < code.size();) {
        const char c = code[i];
        if (c == '\n') ++line;
        if (c == '"') {
            for (++i; i < code.size(); ++i) {
                if (code[i] == '"' && !(i + 1 < code.size() && code[i + 1] == '"')) break;
                if (code[i] == '"') ++i;
            }
            ++i;
            last = '"';
            continue;
        }
        if (code.compare(i, 2, "//") == 0) {
            i = code.find('\n', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (!ident(static_cast<unsigned char>(c))) {
            if (!std::isspace(static_cast<unsigned char>(c))) last = c;
            ++i;
            continue;
        }
        size_t end = i;
        while (end < code.size() && ident(static_cast<unsigned char>(code[end]))) ++end;
        const std::string word = code.substr(i, end - i);
        bool object = false;
        for (const std::string& o : objects) object = object || word == o;
        if (!object || end >= code.size() || code[end] != '.') {
            // A word ends an expression, unless it is an operator, a keyword that an
            // expression follows, or one that opens a block of statements.
            last = 'w';
            for (const char* op :
                 {"И", "ИЛИ", "НЕ", "Если", "ИначеЕсли", "Пока", "Возврат", "По"}) {
                if (word == op) last = '(';
            }
            for (const char* opens : {"Тогда", "Иначе", "Попытка", "Исключение", "Цикл"}) {
                if (word == opens) last = ';';
            }
            i = end;
            continue;
        }
        size_t name_end = end + 1;
        while (name_end < code.size() && ident(static_cast<unsigned char>(code[name_end]))) {
            ++name_end;
        }
        Call call{line, code.substr(end + 1, name_end - end - 1), std::nullopt,
                  std::string("=+-*/,(<>").find(last) != std::string::npos};
        i = name_end;
        if (i < code.size() && code[i] == '(') {
            int depth = 1, commas = 0;
            bool any = false;
            for (++i; i < code.size() && depth > 0; ++i) {
                if (code[i] == '\n') ++line;
                if (code[i] == '"') {
                    for (++i; i < code.size(); ++i) {
                        if (code[i] == '"' && !(i + 1 < code.size() && code[i + 1] == '"')) break;
                        if (code[i] == '"') ++i;
                    }
                    any = true;
                    continue;
                }
                if (code[i] == '(') ++depth;
                if (code[i] == ')') --depth;
                if (code[i] == ',' && depth == 1) ++commas;
                if (depth > 0 && !std::isspace(static_cast<unsigned char>(code[i]))) any = true;
            }
            call.args = any ? commas + 1 : 0;
        }
        last = 'w';
        calls.push_back(call);
    }
    return calls;
}

// Whether a method may be called as a procedure: 1C:Enterprise 8 runs it, 7.7 does not.
enum class Procedures { Run, DoNothing };

void CheckCalls(const std::string& file, const std::vector<Call>& calls,
                Procedures procedures = Procedures::DoNothing) {
    for (const Call& call : calls) {
        const std::string where = file + ":" + std::to_string(call.line) + ": ";
        const std::optional<Member> member = Find(call.name);
        if (!member) {
            ADD_FAILURE() << where << call.name << " is no member of the catalogue";
            continue;
        }
        if (!member->method) {
            EXPECT_FALSE(call.args) << where << call.name << " is a property, called as a method";
            continue;
        }
        ASSERT_TRUE(call.args) << where << "the method " << call.name << " without parentheses";
        EXPECT_EQ(*call.args, member->params) << where << call.name << " called with " << *call.args
                                              << " parameters, takes " << member->params;
        EXPECT_TRUE(call.result_used || procedures == Procedures::Run)
            << where << call.name << " called as a procedure: the component runs only functions";
    }
}

// What an example module is for: each of these is called at least once.
void ExpectTheWholeExample(const std::string& file, const std::vector<Call>& calls) {
    for (const char* method :
         {"НайтиПозицию", "ОчиститьПакет", "ДобавитьПозициюВПакет", "ПодобратьПакет",
          "СоздатьЗаявку", "ПроверитьКелварин", "СопоставитьПозиции"}) {
        EXPECT_TRUE(std::any_of(calls.begin(), calls.end(),
                                [&](const Call& c) { return c.name == method; }))
            << file << " never calls " << method;
    }
}

TEST(ExampleModule, LoadsTheComponentAndCallsItsMembersRight) {
    const std::string code = Read(kDocs / "example.1s.txt");
    static const std::regex create(R"(([\w\x80-\xFF]+) = СоздатьОбъект\("AddIn\.KelvarinVK"\);)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(code, m, create))
        << "the module does not create AddIn.KelvarinVK into a variable";
    EXPECT_NE(code.find("ЗагрузитьВнешнююКомпоненту(\""), std::string::npos)
        << "the module does not load the component";
    // A variable of the global module without Экспорт is invisible to every other module.
    EXPECT_NE(code.find("Перем " + m[1].str() + " Экспорт;"), std::string::npos)
        << "the module's " << m[1] << " is not declared with Экспорт";
    const std::vector<Call> calls = CallsOf(code, {m[1]});
    CheckCalls("example.1s.txt", calls);
    ExpectTheWholeExample("example.1s.txt", calls);
}

// The 1C:Enterprise 8 module attaches the Native API add-in under a name and creates the
// object under the type that name and the extension name make.
TEST(ExampleModule, The1C8ModuleAttachesTheNativeComponentAndCallsItsMembersRight) {
    const std::string code = Read(kDocs / "example-1c8.bsl");
    static const std::regex attach(
        R"re(ПодключитьВнешнююКомпоненту\([\w\x80-\xFF]+, "(\w+)", ТипВнешнейКомпоненты\.Native)re");
    static const std::regex create(R"(([\w\x80-\xFF]+) = Новый\("AddIn\.(\w+)\.KelvarinVK"\);)");
    std::smatch attached, created;
    ASSERT_TRUE(std::regex_search(code, attached, attach))
        << "the module does not attach a Native API add-in under a name";
    ASSERT_TRUE(std::regex_search(code, created, create))
        << "the module does not create AddIn.<name>.KelvarinVK into a variable";
    EXPECT_EQ(attached[1], created[2]) << "the object's type names another attachment";
    const std::vector<Call> calls = CallsOf(code, {created[1]});
    CheckCalls("example-1c8.bsl", calls, Procedures::Run);
    ExpectTheWholeExample("example-1c8.bsl", calls);
}

TEST(Reference, CodeExamplesCallMembersRight) {
    // With the object as the examples name it.
    const std::vector<Call> calls =
        CallsOf(CodeOf(Read(kDocs / "reference.md")), {"Компонента", "Келварин"});
    EXPECT_GT(calls.size(), 20u) << "the reference's code names fewer members than it does";
    CheckCalls("reference.md (code, line of the extract)", calls);
    const std::vector<Call> calls8 = CallsOf(CodeOf(Read(kDocs / "1c8.md")), {"Келварин"});
    EXPECT_GE(calls8.size(), 4u) << "the 1C 8 document's code names fewer members than it does";
    CheckCalls("1c8.md (code, line of the extract)", calls8, Procedures::Run);
}

// 1C code without its strings and comments.
std::string WithoutStringsAndComments(const std::string& code) {
    static const std::regex strings_and_comments(R"("(?:[^"]|"")*"|//[^\n]*)");
    return std::regex_replace(code, strings_and_comments, "\"\"");
}

TEST(Code1C, IdentifiersAreWrittenWithoutYo) {
    // 1C tells ё from е in names: a reader who types Счетчик for Счётчик gets
    // another variable.
    for (const auto& [file, code] :
         {std::pair<std::string, std::string>{"example.1s.txt", Read(kDocs / "example.1s.txt")},
          {"example-1c8.bsl", Read(kDocs / "example-1c8.bsl")},
          {"reference.md", CodeOf(Read(kDocs / "reference.md"), false)}}) {
        static const std::regex yo(R"([\w\x80-\xFF]*(?:ё|Ё)[\w\x80-\xFF]*)");
        const std::string bare = WithoutStringsAndComments(code);
        for (std::sregex_iterator m(bare.begin(), bare.end(), yo), end; m != end; ++m) {
            ADD_FAILURE() << file << ": the identifier " << m->str() << " has ё";
        }
    }
}

// The prose of every document, its code blocks and `code` left out.
std::string Prose(const std::string& text) {
    std::string prose;
    bool block = false;
    for (const std::string& line : Lines(text)) {
        if (line.rfind("```", 0) == 0) block = !block;
        if (!block) prose += std::regex_replace(line, std::regex("`[^`]*`"), "") + "\n";
    }
    return prose;
}

TEST(Documents, SpeakInTheTermsOf1C77) {
    struct Phrase {
        const char* text;
        const char* why;
    };
    const Phrase phrases[] = {
        {"журнал ошибок", "1C 7.7 has none: the add-in's errors go to the окно сообщений"},
        {"журнале ошибок", "1C 7.7 has none: the add-in's errors go to the окно сообщений"},
        {"журнал 1С", "a 1C developer reads it as the Журнал регистрации"},
        {"журнале 1С", "a 1C developer reads it as the Журнал регистрации"},
        {"Справочник для разработчика", "a Справочник is a metadata object of 1C"},
        {"на руках", "a translation, not Russian"},
        {"сдаётся", "a translation, not Russian"},
        {"сдался", "a translation, not Russian"},
        {"сдалась", "a translation, not Russian"},
        {"астольн", "the desktop application is the программа заказов"},
    };
    for (const auto& entry : std::filesystem::directory_iterator(kDocs)) {
        const std::string prose = Prose(Read(entry.path()));
        for (const Phrase& phrase : phrases) {
            EXPECT_EQ(prose.find(phrase.text), std::string::npos)
                << entry.path().filename() << " says \"" << phrase.text << "\": " << phrase.why;
        }
    }
}

TEST(Documents, CommandLinesHoldNothingButTheCommand) {
    // cmd passes a comment written after a command on the same line to the command.
    static const std::regex trailing_comment(R"(\S\s+(::|&\s*rem\b))");
    std::vector<std::filesystem::path> files = {std::filesystem::path(KV_SOURCE_DIR) / "README.md"};
    for (const auto& entry : std::filesystem::directory_iterator(kDocs)) {
        if (entry.path().extension() == ".md") files.push_back(entry.path());
    }
    int commands = 0;
    for (const std::filesystem::path& file : files) {
        bool batch = false;
        for (const std::string& line : Lines(Read(file))) {
            if (line.rfind("```", 0) == 0) {
                batch = line == "```bat" || line == "```cmd";
                continue;
            }
            if (!batch) continue;
            ++commands;
            EXPECT_FALSE(std::regex_search(line, trailing_comment))
                << file.filename() << ": a comment on the command line " << line;
        }
    }
    EXPECT_GT(commands, 10) << "the documents show fewer command lines than they do";
}

// The reader itself, on code whose faults it must see.
TEST(ExampleModule, ReaderSeesWrongCalls) {
    const std::vector<Call> calls = CallsOf(
        "К = 1; // К.НайтиПозицию(1)\n"
        "Р = К.НайтиПозицию(1, \"a, \"\"b\"\"\", Ф(2, 3));\n"
        "К.ОчиститьПакет();\n"
        "Если К.ПроверитьКелварин() = 0 Тогда К.ПодобратьПакет(); КонецЕсли;\n"
        "Сообщить(\"\" + К.Таймаут);\n",
        {"К"});
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].args, 3);
    EXPECT_TRUE(calls[0].result_used);
    EXPECT_FALSE(calls[1].result_used);
    EXPECT_EQ(calls[1].args, 0);
    EXPECT_TRUE(calls[2].result_used);
    EXPECT_FALSE(calls[3].result_used);
    EXPECT_FALSE(calls[4].args);
    EXPECT_TRUE(calls[4].result_used);
}

}  // namespace
}  // namespace kv
