// The registry connection against real embedded Firebird databases, one file per test.
#include "matching/registry.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "common/error.h"
#include "common/text.h"
#include "gtest/gtest.h"
#include "registry_fixture.h"
#include "support/error_text.h"
#include "support/fake_platform.h"

namespace {

using kv::Cp1251FromUtf8;
using kv::RegistryConnection;
using kvtest::RegistryRow;

const std::string kTradeNameCondition =
    "lower(trim(rn.trade_name) || ' ' || trim(rn.full_form_name)) containing ";

// A filter line of one word, as the dialog builds it (quotes doubled).
std::string WordCondition(const std::string& word_utf8) {
    std::string word = Cp1251FromUtf8(word_utf8), doubled;
    for (char c : word) {
        doubled += c;
        if (c == '\'') doubled += '\'';
    }
    return kTradeNameCondition + "'" + doubled + "'";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Every row of the registry: listed ones, excluded ones, duplicates, blanks, quotes, nulls.
const std::vector<RegistryRow> kRows = {
    {101, 1, 1, "Аспирин", "табл. 500мг", "Байер"},
    {601, 9, 9, "Аспирин", "табл. 500мг", "Байер"},  // differs from 101 in the code only
    {102, 2, 2, "  Анальгин ", " табл. 500мг  ", "  Фармстандарт  "},
    {103, 3, 3, "Парацетамол", "табл. 200мг", "O'Neil Pharma"},
    {104, 4, 4, "Д'Артаньян", "капс.", "Галантерея"},
    {201, std::nullopt, 5, "Аспирин", "исключён", "Нет"},
    {202, 0, 5, "Аспирин", "исключён", "Нет"},
    {203, -1, 5, "Аспирин", "исключён", "Нет"},
    {204, 5, std::nullopt, "Аспирин", "исключён", "Нет"},
    {205, 5, 0, "Аспирин", "исключён", "Нет"},
    {206, 5, -3, "Аспирин", "исключён", "Нет"},
    {301, 7, 7, "Валидол", "табл.", "Фарм"},
    {301, 8, 9, "Валидол", "табл.", "Фарм"},  // differs only outside the select list
    {401, 44, 55, "Ибупрофен", "табл.", "Борисов"},
    {501, 6, 6, "ASPIRIN", "C", "Bayer"},
    {701, 10, 10, "Цитрамон", std::nullopt, "Дарница"},
};

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        database_ = dir_.path() + "/registry.fdb";
        ASSERT_NO_FATAL_FAILURE(kvtest::CreateRegistry(database_, kRows, code_type_, extra_sql_));
    }
    void TearDown() override {
        connection_.reset();
        // Whatever a test did, nothing of it stays attached.
        EXPECT_EQ(kvtest::OpenAttachments(database_), 0);
    }

    RegistryConnection& Connect(const std::string& user = "SYSDBA", const std::string& role = "") {
        connection_ = std::make_unique<RegistryConnection>(loader_);
        connection_->Configure(database_, user, "", role, "gds32.dll");
        connection_->Attach();
        connection_->StartTransaction();
        return *connection_;
    }

    // Opens with the given filter line and reads every row: (code, TRADE_NAME, FABR_NAME).
    std::vector<std::tuple<int, std::string, std::string>> ListAll(RegistryConnection& c) {
        std::vector<std::tuple<int, std::string, std::string>> rows;
        c.Open();
        for (bool more = c.RowCount() > 0; more; more = c.Next()) {
            EXPECT_EQ(c.FieldAsText("TRADE_NAME_ID"), c.FieldAsText("FABR_NAME_ID"));
            rows.emplace_back(c.FieldAsInteger("TRADE_NAME_ID"), c.FieldAsText("TRADE_NAME"),
                              c.FieldAsText("FABR_NAME"));
        }
        EXPECT_TRUE(c.AllRowsFetched());
        return rows;
    }

    static std::set<int> Codes(const std::vector<std::tuple<int, std::string, std::string>>& rows) {
        std::set<int> codes;
        for (const auto& row : rows) codes.insert(std::get<0>(row));
        return codes;
    }

    kvtest::TempDir dir_;
    std::string database_;
    std::string code_type_ = "integer";
    std::string extra_sql_;
    kvtest::ScriptedLoader loader_;
    std::unique_ptr<RegistryConnection> connection_;
};

TEST_F(RegistryTest, StatementTextIsTheRegistryQuery) {
    RegistryConnection c(loader_);
    EXPECT_EQ(c.StatementText(),
              "select distinct\r\n"
              "  rn.code as trade_name_id,\r\n"
              "  rn.code as fabr_name_id,\r\n"
              "  trim(rn.trade_name) || ' ' || trim(rn.full_form_name) as trade_name,\r\n"
              "  lower(trim(rn.trade_name) || ' ' || trim(rn.full_form_name)) as "
              "lower_trade_name,\r\n"
              "  rn.fabr_name,\r\n"
              "  lower(rn.fabr_name) as lower_fabr_name\r\n"
              "from tbl_reestr_names rn\r\n"
              "\r\n"
              "where rn.trade_name_id>0 and rn.fabr_name_id>0 and\r\n"
              "    lower(trim(rn.trade_name) || ' ' || trim(rn.full_form_name)) containing "
              ":tname\r\n"
              "\r\n"
              "order by 3");
}

TEST_F(RegistryTest, FilterLineReplacement) {
    const std::string fixed = "where rn.trade_name_id>0 and rn.fabr_name_id>0";
    struct Case {
        std::string filter, line9;
    };
    const Case cases[] = {
        {"", fixed},
        {"   \t", fixed},  // nothing but blanks adds no condition either
        {WordCondition("асп"), fixed + " and"},
        {WordCondition("асп") + " and " + WordCondition("табл"), fixed + " and"},
    };
    for (const Case& test : cases) {
        RegistryConnection c(loader_);
        c.ReplaceFilterLine(test.filter);
        const std::vector<std::string> lines = Lines(c.StatementText());
        ASSERT_EQ(lines.size(), 13u);
        EXPECT_EQ(lines[9], test.line9) << test.filter;
        EXPECT_EQ(lines[10], test.filter);
        EXPECT_EQ(lines[11], "");
        EXPECT_EQ(lines[12], "order by 3");
    }
}

TEST_F(RegistryTest, FirstOpeningBindsTheWholeName) {
    RegistryConnection& c = Connect();
    // CONTAINING ignores letter case, Cyrillic included; excluded rows never show.
    for (const char* name : {"аспирин", "АСПИРИН", "Аспирин табл"}) {
        c.SetParameter(Cp1251FromUtf8(name));
        EXPECT_EQ(Codes(ListAll(c)), (std::set<int>{101, 601})) << name;
        c.Close();
    }
    c.SetParameter(Cp1251FromUtf8("spirin"));
    EXPECT_EQ(Codes(ListAll(c)), (std::set<int>{501}));
}

TEST_F(RegistryTest, EmptyFilterListsEveryQualifyingRowOrderedByTradeName) {
    RegistryConnection& c = Connect();
    c.ReplaceFilterLine("");
    const auto rows = ListAll(c);

    // What the registry should give: ids above 0, distinct over the select list, by name.
    std::set<std::tuple<int, std::string, std::string>> expected;
    for (const RegistryRow& r : kRows) {
        if (!r.trade_name_id || *r.trade_name_id <= 0 || !r.fabr_name_id || *r.fabr_name_id <= 0)
            continue;
        const std::string name =
            r.full_form_name ? Cp1251FromUtf8(Trim(*r.trade_name) + " " + Trim(*r.full_form_name))
                             : "";
        expected.emplace(static_cast<int>(*r.code), name, Cp1251FromUtf8(*r.fabr_name));
    }
    EXPECT_EQ(std::set(rows.begin(), rows.end()), expected);
    EXPECT_EQ(rows.size(), expected.size()) << "a row is listed twice";
    std::vector<std::string> names;
    for (const auto& row : rows) names.push_back(std::get<1>(row));
    // WIN1251 orders by byte value; a null name comes first.
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
                return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
            });
    }));
    EXPECT_EQ(std::get<0>(rows.front()), 701);
    EXPECT_EQ(c.RowCount(), static_cast<int>(expected.size()));
}

TEST_F(RegistryTest, FieldsOfOneRow) {
    RegistryConnection& c = Connect();
    c.ReplaceFilterLine(WordCondition("анальгин"));
    c.Open();
    ASSERT_EQ(c.RowCount(), 1);
    EXPECT_EQ(c.FieldAsInteger("trade_name_id"), 102);
    EXPECT_EQ(c.FieldAsText("FABR_NAME_ID"), "102");
    EXPECT_EQ(c.FieldAsText("TRADE_NAME"), Cp1251FromUtf8("Анальгин табл. 500мг"));
    EXPECT_EQ(c.FieldAsText("lower_trade_name"), Cp1251FromUtf8("анальгин табл. 500мг"));
    EXPECT_EQ(c.FieldAsText("FABR_NAME"), Cp1251FromUtf8("  Фармстандарт  "));
    EXPECT_EQ(c.FieldAsText("lower_fabr_name"), Cp1251FromUtf8("  фармстандарт  "));
    EXPECT_THROW(c.FieldAsText("NAME"), kv::Error);

    // The code column is read from the registry's code, not from fabr_name_id.
    c.Close();
    c.ReplaceFilterLine(WordCondition("ибупрофен"));
    c.Open();
    EXPECT_EQ(c.FieldAsText("FABR_NAME_ID"), "401");
}

TEST_F(RegistryTest, QuotesAndColonsInTheFilterAreText) {
    RegistryConnection& c = Connect();
    c.ReplaceFilterLine(WordCondition("д'арт"));
    EXPECT_EQ(Codes(ListAll(c)), (std::set<int>{104}));
    c.Close();
    // After the replacement there is no parameter, and a colon in a word is no marker.
    c.SetParameter("ignored");
    c.ReplaceFilterLine(WordCondition(":tname"));
    EXPECT_TRUE(ListAll(c).empty());
}

TEST_F(RegistryTest, ReopenAfterEveryReplacement) {
    RegistryConnection& c = Connect();
    c.SetParameter(Cp1251FromUtf8("валидол"));
    EXPECT_EQ(Codes(ListAll(c)), (std::set<int>{301}));
    const std::pair<std::string, std::set<int>> steps[] = {
        {WordCondition("табл") + " and " + WordCondition("500"), {101, 601, 102}},
        {"", {101, 601, 102, 103, 104, 301, 401, 501, 701}},
        {WordCondition("нет такого"), {}},
        {WordCondition("ЦИТРАМОН"), {}},  // a null full form name makes the name null
        {WordCondition("ЦИТРА"), {}},
    };
    for (const auto& [filter, codes] : steps) {
        c.Close();
        EXPECT_FALSE(c.IsOpen());
        c.ReplaceFilterLine(filter);
        EXPECT_EQ(Codes(ListAll(c)), codes) << filter;
    }
}

TEST_F(RegistryTest, FilterLongerThan64KiBIsSentWhole) {
    RegistryConnection& c = Connect();
    std::string filter = WordCondition("валидол");
    while (filter.size() < 70000) filter += " and " + WordCondition("табл");
    c.ReplaceFilterLine(filter);
    EXPECT_EQ(Codes(ListAll(c)), (std::set<int>{301}));
}

TEST_F(RegistryTest, RowsAreFetchedOnlyAsTheyAreNeeded) {
    loader_.count_calls = true;
    RegistryConnection& c = Connect();
    c.ReplaceFilterLine("");
    kvtest::g_fetch_calls = 0;
    c.Open();
    EXPECT_EQ(kvtest::g_fetch_calls, 1);
    EXPECT_EQ(c.RowCount(), 1);
    c.First();
    EXPECT_EQ(kvtest::g_fetch_calls, 1);

    ASSERT_TRUE(c.MoveTo(3));
    EXPECT_EQ(c.RowCount(), 4);
    EXPECT_EQ(kvtest::g_fetch_calls, 4);
    const std::string fourth = c.FieldAsText("TRADE_NAME");
    c.First();
    EXPECT_EQ(c.CurrentRow(), 0u);
    EXPECT_EQ(c.RowText(3, "TRADE_NAME"), fourth);
    EXPECT_EQ(c.CurrentRow(), 0u);
    EXPECT_EQ(kvtest::g_fetch_calls, 4);

    // Past the end: every row read once, the end seen once, the current row kept.
    EXPECT_FALSE(c.MoveTo(100));
    EXPECT_TRUE(c.AllRowsFetched());
    EXPECT_EQ(c.RowCount(), 9);
    EXPECT_EQ(kvtest::g_fetch_calls, 10);
    EXPECT_EQ(c.CurrentRow(), 0u);
    EXPECT_FALSE(c.MoveTo(100));
    EXPECT_EQ(kvtest::g_fetch_calls, 10);
    EXPECT_THROW(c.RowText(9, "TRADE_NAME"), kv::Error);
}

TEST_F(RegistryTest, NoMatchingRow) {
    RegistryConnection& c = Connect();
    c.SetParameter(Cp1251FromUtf8("ничего похожего"));
    c.Open();
    EXPECT_TRUE(c.IsOpen());
    EXPECT_EQ(c.RowCount(), 0);
    EXPECT_THROW(c.FieldAsInteger("TRADE_NAME_ID"), kv::Error);
    c.Close();
    EXPECT_THROW(c.FieldAsText("TRADE_NAME_ID"), kv::Error);  // closed after a failed refresh
}

TEST_F(RegistryTest, NameLongerThanEveryDisplayNameMatchesNothing) {
    RegistryConnection& c = Connect();
    // Longer than the 201 characters the name expression can hold.
    c.SetParameter(Cp1251FromUtf8("аспирин") + std::string(300, 'x'));
    c.Open();
    EXPECT_EQ(c.RowCount(), 0);
}

TEST_F(RegistryTest, TransactionIsReadWriteNoWaitReadCommittedRecordVersion) {
    RegistryConnection& c = Connect();
    // Isolation 2 is read committed with record versions; a lock time-out of 0 is no-wait.
    c.ReplaceFilterLine(
        "exists(select 1 from mon$transactions t where t.mon$transaction_id = "
        "current_transaction and t.mon$isolation_mode = 2 and t.mon$lock_timeout = 0 and "
        "t.mon$read_only = 0)");
    EXPECT_EQ(ListAll(c).size(), 9u);
}

class RegistryRoleTest : public RegistryTest {
  protected:
    RegistryRoleTest() {
        extra_sql_ =
            "create role registry_reader; grant registry_reader to bob;"
            " grant select on tbl_reestr_names to registry_reader;";
    }
};

TEST_F(RegistryRoleTest, UserAndRoleReachTheDatabase) {
    const std::string who = "current_user = 'BOB' and current_role = ";
    {
        RegistryConnection& c = Connect("BOB", "REGISTRY_READER");
        c.ReplaceFilterLine(who + "'REGISTRY_READER'");
        EXPECT_EQ(ListAll(c).size(), 9u);
        c.CloseConnection();
    }
    // Without a role item BOB has no right to read the table at all.
    RegistryConnection& c = Connect("BOB");
    c.ReplaceFilterLine(who + "'NONE'");
    const std::string error = kv::test::ErrorText([&] { c.Open(); });
    EXPECT_NE(error.find("no permission"), std::string::npos) << error;
    EXPECT_FALSE(c.IsOpen());
}

TEST(RegistryItems, EmptyCredentialsAreLeftOut) {
    struct Case {
        std::string user, password, role;
    };
    const Case cases[] = {
        {"SYSDBA", "masterkey", "READER"},
        {"SYSDBA", "masterkey", ""},
        {"", "", ""},
        {"", "secret", ""},
        {"bob", "", "R"},
    };
    kvtest::ScriptedLoader loader;
    for (const Case& test : cases) {
        RegistryConnection c(loader);
        c.Configure("db.fdb", test.user, test.password, test.role, "gds32.dll");
        const std::string items = c.AttachItems();
        ASSERT_FALSE(items.empty());
        EXPECT_EQ(items[0], kv::fb::kDpbVersion1);
        std::map<int, std::string> found;
        for (size_t i = 1; i + 1 < items.size();) {
            const size_t length = static_cast<unsigned char>(items[i + 1]);
            ASSERT_LE(i + 2 + length, items.size());
            EXPECT_TRUE(found.emplace(items[i], items.substr(i + 2, length)).second);
            i += 2 + length;
        }
        std::map<int, std::string> expected = {{kv::fb::kDpbLcCtype, "WIN1251"}};
        if (!test.user.empty()) expected[kv::fb::kDpbUserName] = test.user;
        if (!test.password.empty()) expected[kv::fb::kDpbPassword] = test.password;
        if (!test.role.empty()) expected[kv::fb::kDpbSqlRoleName] = test.role;
        EXPECT_EQ(found, expected) << test.user << "/" << test.password << "/" << test.role;
    }
    RegistryConnection c(loader);
    c.Configure("db.fdb", std::string(256, 'u'), "", "", "gds32.dll");
    EXPECT_THROW(c.AttachItems(), kv::Error);
    EXPECT_EQ(loader.opens, 0);
}

TEST(RegistryClose, NeverAttachedDoesNothing) {
    kvtest::ScriptedLoader loader;
    {
        RegistryConnection c(loader);
        c.Configure("/nonexistent/registry.fdb", "SYSDBA", "", "", "gds32.dll");
        EXPECT_NO_THROW(c.CloseConnection());
        EXPECT_NO_THROW(c.CloseConnection());
        EXPECT_FALSE(c.Attached());
        EXPECT_THROW(c.StartTransaction(), kv::Error);
        EXPECT_THROW(c.Open(), kv::Error);
    }
    EXPECT_EQ(loader.opens, 0);
}

TEST_F(RegistryTest, CloseConnectionReleasesEverything) {
    RegistryConnection& c = Connect();
    c.Attach();  // already attached: nothing happens
    c.SetParameter(Cp1251FromUtf8("аспирин"));
    c.Open();
    EXPECT_EQ(kvtest::OpenAttachments(database_), -1) << "the database is in use";
    c.CloseConnection();
    EXPECT_FALSE(c.IsOpen());
    EXPECT_FALSE(c.InTransaction());
    EXPECT_FALSE(c.Attached());
    EXPECT_EQ(kvtest::OpenAttachments(database_), 0);
    EXPECT_NO_THROW(c.CloseConnection());

    // The same object attaches again for the next call, with one library load in all.
    c.Attach();
    c.StartTransaction();
    c.ReplaceFilterLine("");
    c.Open();
    EXPECT_EQ(c.RowCount(), 1);
    c.CloseConnection();
    EXPECT_EQ(loader_.opens, 1);
}

TEST_F(RegistryTest, AttachWithoutTransactionClosesToo) {
    connection_ = std::make_unique<RegistryConnection>(loader_);
    connection_->Configure(database_, "SYSDBA", "", "", "gds32.dll");
    connection_->Attach();
    EXPECT_THROW(connection_->Open(), kv::Error);
    connection_->CloseConnection();
    EXPECT_EQ(loader_.closes, 0);
    connection_.reset();
    EXPECT_EQ(loader_.closes, 1);
    // The client's own threads outlive the connection, so its library stays loaded.
    EXPECT_EQ(loader_.pins, 1);
}

TEST_F(RegistryTest, AttachFailures) {
    struct Case {
        std::string database, library, message;
        bool pinned;  // only the client itself stays loaded
    };
    const std::string missing = dir_.path() + "/missing.fdb";
    const Case cases[] = {
        {database_, "/nonexistent/libfbclient.so",
         "Can't load library /nonexistent/libfbclient.so ", false},
        {database_, "C:\\Kelvarin\\nosuch.dll", "Can't load library C:\\Kelvarin\\nosuch.dll ",
         false},
        {database_, "", "Can't load library  ", false},
        {database_, "libm.so.6", "Can't load library libm.so.6 ", false},  // lacks the client
        {"", "gds32.dll", "Database name is missing.", true},
    };
    for (const Case& test : cases) {
        kvtest::ScriptedLoader loader;
        loader.count_calls = true;
        kvtest::g_attach_calls = 0;
        RegistryConnection c(loader);
        c.Configure(test.database, "SYSDBA", "masterkey", "", test.library);
        EXPECT_EQ(kv::test::ErrorText([&] { c.Attach(); }), test.message) << test.library;
        EXPECT_FALSE(c.Attached());
        EXPECT_EQ(kvtest::g_attach_calls, 0) << "something was sent for " << test.message;
        c.CloseConnection();
        EXPECT_EQ(loader.pins, test.pinned ? 1 : 0) << test.library;
    }
}

TEST_F(RegistryTest, RefusedAttachGivesTheLibraryText) {
    const std::string missing = dir_.path() + "/missing.fdb";
    const std::pair<std::string, std::string> cases[] = {
        {missing, "I/O error during \"open\" operation for file \"" + missing + "\""},
        {"127.0.0.1/1:" + missing, "Unable to complete network request to host \"127.0.0.1\""},
    };
    for (const auto& [database, message] : cases) {
        RegistryConnection c(loader_);
        c.Configure(database, "SYSDBA", "masterkey", "", "fbclient.dll");
        const std::string error = kv::test::ErrorText([&] { c.Attach(); });
        EXPECT_EQ(error.substr(0, message.size()), message) << error;
        EXPECT_NE(error.find("\r\n"), std::string::npos);
        EXPECT_FALSE(c.Attached());
    }
}

TEST_F(RegistryTest, FailuresOnTheWayReleaseEverything) {
    const std::pair<const char*, void*> failing[] = {
        {"isc_start_multiple", kvtest::Failing(kv::fb::StartMultipleFn{})},
        {"isc_dsql_alloc_statement2", kvtest::Failing(kv::fb::AllocStatement2Fn{})},
        {"isc_dsql_prepare", kvtest::Failing(kv::fb::PrepareFn{})},
        {"isc_dsql_describe_bind", kvtest::Failing(kv::fb::DescribeFn{})},
        {"isc_dsql_execute", kvtest::Failing(kv::fb::ExecuteFn{})},
        {"isc_dsql_fetch", kvtest::Failing(kv::fb::FetchFn{})},
    };
    for (const auto& [entry, replacement] : failing) {
        kvtest::ScriptedLoader loader;
        loader.replacements[entry] = replacement;
        try {
            // As in the dialog's call: the objects go away while the error travels on.
            RegistryConnection c(loader);
            c.Configure(database_, "SYSDBA", "", "", "gds32.dll");
            c.Attach();
            c.StartTransaction();
            c.SetParameter("a");
            c.Open();
            ADD_FAILURE() << entry << " did not fail";
        } catch (const kv::Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("arithmetic exception", 0), 0u) << e.what();
        }
        EXPECT_EQ(loader.closes, 1) << entry;
        EXPECT_EQ(kvtest::OpenAttachments(database_), 0) << entry;
    }
}

TEST_F(RegistryTest, FailedRefreshLeavesTheConnectionUsable) {
    RegistryConnection& c = Connect();
    c.ReplaceFilterLine("no such column = 1");
    EXPECT_THROW(c.Open(), kv::Error);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_NO_THROW(c.Close());
    c.ReplaceFilterLine(WordCondition("валидол"));
    EXPECT_EQ(Codes(ListAll(c)), (std::set<int>{301}));
}

TEST_F(RegistryTest, CloseConnectionReportsAFailedStepAndStillDetaches) {
    loader_.replacements["isc_dsql_free_statement"] = kvtest::Failing(kv::fb::FreeStatementFn{});
    RegistryConnection& c = Connect();
    c.SetParameter(Cp1251FromUtf8("аспирин"));
    c.Open();
    EXPECT_THROW(c.CloseConnection(), kv::Error);
    EXPECT_FALSE(c.Attached());
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(kvtest::OpenAttachments(database_), 0);
}

// The code column may have any type that reads as an integer and as text.
struct CodeType {
    const char* sql_type;
    long long stored;
    const char* stored_text;  // the value in the insert, for text columns
    int32_t integer;
    const char* text;
};

void PrintTo(const CodeType& type, std::ostream* out) {
    *out << type.sql_type << " "
         << (type.stored_text ? type.stored_text : std::to_string(type.stored));
}

class RegistryCodeTypeTest : public RegistryTest, public ::testing::WithParamInterface<CodeType> {
  protected:
    void SetUp() override {
        code_type_ = GetParam().sql_type;
        database_ = dir_.path() + "/registry.fdb";
        RegistryRow row{GetParam().stored, 1, 1, "Имя", "форма", "Производитель"};
        std::string extra;
        if (GetParam().stored_text != nullptr) {
            extra =
                std::string("update tbl_reestr_names set code = '") + GetParam().stored_text + "';";
        }
        ASSERT_NO_FATAL_FAILURE(kvtest::CreateRegistry(database_, {row}, code_type_, extra));
    }
};

TEST_P(RegistryCodeTypeTest, CodeReadsAsIntegerAndText) {
    RegistryConnection& c = Connect();
    c.ReplaceFilterLine("");
    c.Open();
    ASSERT_EQ(c.RowCount(), 1);
    EXPECT_EQ(c.FieldAsText("TRADE_NAME_ID"), GetParam().text);
    EXPECT_EQ(c.FieldAsText("FABR_NAME_ID"), GetParam().text);
    EXPECT_EQ(c.FieldAsInteger("TRADE_NAME_ID"), GetParam().integer);
}

INSTANTIATE_TEST_SUITE_P(
    Types, RegistryCodeTypeTest,
    ::testing::Values(CodeType{"integer", -2147483647 - 1, nullptr, -2147483647 - 1, "-2147483648"},
                      CodeType{"smallint", 32767, nullptr, 32767, "32767"},
                      CodeType{"bigint", 2147483647, nullptr, 2147483647, "2147483647"},
                      CodeType{"numeric(9,2)", 0, "-0.50", 0, "-0.50"},
                      CodeType{"numeric(18,3)", 0, "12345.678", 12345, "12345.678"},
                      CodeType{"varchar(12)", 0, " 42 ", 42, " 42 "},
                      CodeType{"char(6)", 0, "-7", -7, "-7    "}));

class RegistryBadCodeTest : public RegistryCodeTypeTest {};

TEST_P(RegistryBadCodeTest, CodeThatIsNoIntegerFailsTheIntegerRead) {
    RegistryConnection& c = Connect();
    c.ReplaceFilterLine("");
    c.Open();
    ASSERT_EQ(c.RowCount(), 1);
    EXPECT_EQ(c.FieldAsText("TRADE_NAME_ID"), GetParam().text);
    EXPECT_THROW(c.FieldAsInteger("TRADE_NAME_ID"), kv::Error);
}

INSTANTIATE_TEST_SUITE_P(
    Types, RegistryBadCodeTest,
    ::testing::Values(CodeType{"bigint", 2147483648LL, nullptr, 0, "2147483648"},
                      CodeType{"bigint", 0, "-9223372036854775808", 0, "-9223372036854775808"},
                      CodeType{"varchar(12)", 0, "12a", 0, "12a"},
                      CodeType{"varchar(12)", 0, "99999999999", 0, "99999999999"},
                      CodeType{"varchar(12)", 0, "", 0, ""}));

// The trace of a connection: the attach without its password (only that one is sent), each
// statement with its parameter, time and rows fetched, and the counts of an installation check.
TEST_F(RegistryTest, TraceTellsAttachAndStatementsButNeverThePassword) {
    kv::test::FakePlatform fake;
    fake.traces.setting = kv::MakeTraceSetting("trace.log", "");
    kv::Trace trace(fake.platform);
    RegistryConnection c(loader_, trace);
    c.Configure(database_, "SYSDBA", "s3cret-pass", "", "gds32.dll");
    c.Attach();
    c.StartTransaction();
    c.SetParameter(Cp1251FromUtf8("аспир"));
    c.Open();
    while (c.Next()) {
    }
    const int listed = c.RowCount();
    c.Close();
    EXPECT_EQ(c.RegistryRowCount(), static_cast<int64_t>(kRows.size()));
    c.CloseConnection();

    const std::vector<std::string>& lines = fake.traces.lines;
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("\tattach\tdatabase=" + database_ +
                            "\tuser=SYSDBA\tpassword=***\trole=\tlibrary=gds32.dll\tms="),
              std::string::npos)
        << lines[0];
    EXPECT_TRUE(lines[0].ends_with("\toutcome=attached")) << lines[0];
    EXPECT_NE(lines[1].find("\tstatement\tsql=select distinct\\x0D\\x0A"), std::string::npos)
        << lines[1];
    EXPECT_NE(lines[1].find("\tparameter=аспир\tms="), std::string::npos) << lines[1];
    EXPECT_TRUE(
        lines[1].ends_with("\trows=" + std::to_string(listed) + "\tall=yes\toutcome=closed"))
        << lines[1];
    EXPECT_NE(lines[2].find("rdb$relations"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("\tsql=select count(*) from tbl_reestr_names\tms="), std::string::npos)
        << lines[3];
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
    }
}

TEST(RegistryCount, ADatabaseWithoutTheRegistryTableHasNoCount) {
    kvtest::TempDir dir;
    const std::string database = dir.path() + "/other.fdb";
    ASSERT_NO_FATAL_FAILURE(
        kvtest::CreateRegistry(database, {}, "integer", "drop table tbl_reestr_names;"));
    kvtest::ScriptedLoader loader;
    RegistryConnection c(loader);
    c.Configure(database, "SYSDBA", "", "", "gds32.dll");
    c.Attach();
    c.StartTransaction();
    EXPECT_EQ(c.RegistryRowCount(), std::nullopt);
    c.CloseConnection();
}

}  // namespace
