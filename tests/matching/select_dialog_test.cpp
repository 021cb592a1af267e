// The name-matching dialog's behaviour over a scripted window, against real embedded Firebird
// databases (one file per test), and SopostavNames through the host protocol.
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "addin/methods.h"
#include "common/text.h"
#include "component/protocol.h"
#include "gtest/gtest.h"
#include "matching/UFormSelect.h"
#include "platform/backend.h"
#include "registry_fixture.h"
#include "support/fake_platform.h"

namespace {

using kv::Cp1251FromUtf8;
using kv::SelectColumn;
using kv::Variant;
using kvtest::RegistryRow;

// ---------------------------------------------------------------------------------------------
// A window that records what the dialog tells it and plays the user from a script. Time is
// simulated: the timer fires when the script lets enough milliseconds pass.

struct WindowRecord {
    bool created = false;
    bool ran_modal = false;
    std::string title;
    std::string filter;  // the filter box as the user sees it
    size_t rows = 0;
    size_t selected = 0;
    bool confirm_enabled = false;
    bool focus_in_list = false;
    bool redraw = true;
    int suspensions = 0;
    int results_shown = 0;
    int results_shown_while_drawing = 0;
    std::vector<std::string> errors;
    int timer_starts = 0;
    std::optional<uint64_t> timer_due;
    uint64_t now = 0;
    bool closed = false;
    int32_t modal_result = kv::mrNone;
};

class ScriptedWindow;
using Script = std::function<void(ScriptedWindow&)>;

class ScriptedWindow final : public kv::SelectDialogWindow {
  public:
    ScriptedWindow(kv::SelectDialogEvents& events, WindowRecord& record, Script script)
        : events_(events), r_(record), script_(std::move(script)) {
        r_.created = true;
    }

    // -- what the dialog tells the window
    void SetTitle(std::string_view text) override { r_.title = text; }
    void SetFilterText(std::string_view text) override { r_.filter = text; }
    void ShowResult(size_t rows) override {
        ++r_.results_shown;
        if (r_.redraw) ++r_.results_shown_while_drawing;
        r_.rows = rows;
        r_.selected = 0;
    }
    void ResizeResult(size_t rows) override { r_.rows = rows; }
    void SelectRow(size_t row) override { r_.selected = row; }
    void SetListRedraw(bool enabled) override {
        if (!enabled) ++r_.suspensions;
        r_.redraw = enabled;
    }
    void EnableConfirm(bool enabled) override { r_.confirm_enabled = enabled; }
    void FocusList() override { r_.focus_in_list = true; }
    void StartTimer(uint32_t milliseconds) override {
        ++r_.timer_starts;
        r_.timer_due = r_.now + milliseconds;
    }
    void StopTimer() override { r_.timer_due.reset(); }
    void ShowError(std::string_view text) override { r_.errors.emplace_back(text); }
    int32_t RunModal() override {
        r_.ran_modal = true;
        events_.Shown();
        if (script_) script_(*this);
        if (!r_.closed) {
            ADD_FAILURE() << "the script left the dialog open";
            return kv::mrCancel;
        }
        return r_.modal_result;
    }
    void Close(int32_t modal_result) override {
        r_.closed = true;
        r_.modal_result = modal_result;
    }

    // -- what the user does
    // Types into the filter box, one change per character, `ms_between` apart.
    void Type(std::string_view utf8, uint32_t ms_between = 0) {
        bool first = true;
        for (char c : Cp1251FromUtf8(utf8)) {
            if (!first) Wait(ms_between);
            first = false;
            r_.filter += c;
            events_.FilterChanged(r_.filter);
        }
    }
    void ReplaceFilter(std::string_view utf8) {
        r_.filter = Cp1251FromUtf8(utf8);
        events_.FilterChanged(r_.filter);
    }
    void Key(unsigned char key) { events_.ListKeyPress(key); }
    void EnterInFilter() { events_.FilterEnter(); }
    void DoubleClick() { events_.ListDoubleClick(); }
    void Confirm() { events_.ConfirmPressed(); }
    void Cancel() { events_.CancelPressed(); }
    void Select(size_t row) {
        r_.selected = row;
        events_.RowSelected(row);
    }
    void Wait(uint32_t milliseconds) {
        const uint64_t until = r_.now + milliseconds;
        while (r_.timer_due && *r_.timer_due <= until) {
            r_.now = *r_.timer_due;
            r_.timer_due.reset();
            events_.TimerFired();
        }
        r_.now = until;
    }
    // What the list shows of its first `count` rows, as the window asks for them: a row not
    // read yet is requested with the rest of the page.
    std::vector<std::string> Column(SelectColumn column, size_t count = 1000) {
        std::vector<std::string> texts;
        for (size_t row = 0; row < std::min(count, r_.rows); ++row) {
            std::string text;
            if (!events_.CellText(row, column, text)) {
                events_.RowsNeeded(std::min(count, r_.rows + 20) - 1);
                if (row >= r_.rows) break;
                EXPECT_TRUE(events_.CellText(row, column, text)) << "row " << row;
            }
            texts.push_back(kv::Utf8FromCp1251(text));
        }
        return texts;
    }
    const WindowRecord& record() const { return r_; }

  private:
    kv::SelectDialogEvents& events_;
    WindowRecord& r_;
    Script script_;
};

class ScriptedToolkit final : public kv::DialogToolkit {
  public:
    Script script;
    WindowRecord record;
    ScriptedWindow* window = nullptr;  // the last one created, while it lives
    std::unique_ptr<kv::SelectDialogWindow> CreateSelectDialog(
        kv::SelectDialogEvents& events) override {
        auto created = std::make_unique<ScriptedWindow>(events, record, script);
        window = created.get();
        return created;
    }
};

// ---------------------------------------------------------------------------------------------
// The client library with its prepare counted and, on request, failing.

kv::fb::PrepareFn g_real_prepare = nullptr;
int g_prepares = 0;
bool g_fail_prepare = false;
// Prepares that still succeed before every later one fails; negative for no limit.
int g_prepares_left = -1;

kv::fb::Status CountedPrepare(kv::fb::Status* status, kv::fb::Handle* transaction,
                              kv::fb::Handle* statement, unsigned short length, const char* sql,
                              unsigned short dialect, kv::fb::Xsqlda* output) {
    ++g_prepares;
    if (g_fail_prepare || g_prepares_left == 0) return kvtest::FailWith(status);
    if (g_prepares_left > 0) --g_prepares_left;
    return g_real_prepare(status, transaction, statement, length, sql, dialect, output);
}

void* RealEntry(const char* name) {
    static uint32_t os_error = 0;
    static void* library = kv::backend::Libraries().Open("libfbclient.so.2", os_error);
    return library ? kv::backend::Libraries().Symbol(library, name) : nullptr;
}

// The library's own text for the injected failure.
std::string InjectedErrorText() {
    auto interpret = reinterpret_cast<kv::fb::InterpretFn>(RealEntry("fb_interpret"));
    const kv::fb::Status status[] = {1, kvtest::kInjectedError, 0};
    const kv::fb::Status* cursor = status;
    char text[512] = {};
    interpret(text, sizeof text, &cursor);
    return text;
}

// ---------------------------------------------------------------------------------------------

struct Drug {
    int code;
    const char* trade_name;
    const char* form;
    const char* maker;
};

// Rows that the fixed conditions keep, and some that they drop.
const std::vector<Drug> kListed = {
    {101, "Аспирин", "табл. 500мг", "Байер"},
    {102, "Аспирин Кардио", "табл. 100мг", "Байер"},
    {103, "Анальгин", "табл. 500мг", "Фармстандарт"},
    {104, "Парацетамол", "табл. 200мг", "Фармстандарт"},
    {105, "Д'Ивуар", "капли", "Галантерея"},
    {106, "Nurofen", "tabs 200mg", "Reckitt"},
    {107, "Ибупрофен", "  гель 5%  ", "Хемофарм"},
};

std::vector<RegistryRow> RegistryRows() {
    std::vector<RegistryRow> rows;
    for (const Drug& d : kListed) rows.push_back({d.code, 1, 1, d.trade_name, d.form, d.maker});
    rows.push_back({201, 0, 1, "Аспирин", "исключён", "Нет"});
    rows.push_back({202, 1, std::nullopt, "Аспирин", "исключён", "Нет"});
    return rows;
}

const Drug& ByCode(int code) {
    return *std::find_if(kListed.begin(), kListed.end(),
                         [&](const Drug& d) { return d.code == code; });
}

class SelectDialogTest : public ::testing::Test {
  protected:
    virtual std::vector<RegistryRow> Rows() const { return RegistryRows(); }

    void SetUp() override {
        database_ = dir_.path() + "/registry.fdb";
        kvtest::CreateRegistry(database_, Rows());
        g_prepares = 0;
        g_fail_prepare = false;
        g_prepares_left = -1;
        g_real_prepare = reinterpret_cast<kv::fb::PrepareFn>(RealEntry("isc_dsql_prepare"));
        ASSERT_NE(g_real_prepare, nullptr);
        loader_.replacements["isc_dsql_prepare"] = reinterpret_cast<void*>(&CountedPrepare);
        loader_.count_calls = true;
        kvtest::g_fetch_calls = 0;
        vk().BaseName = database_;
        vk().UserPass.clear();
    }

    kv::T_vk_object& vk() { return protocol_.object(); }

    // SopostavNames(name, maker) through the host protocol; the method's value.
    Variant Call(std::string_view name_utf8, std::string_view maker_utf8, Script script) {
        toolkit_.script = std::move(script);
        toolkit_.record = WindowRecord{};
        int32_t number = -1;
        EXPECT_EQ(protocol_.FindMethod(u"SopostavNames", number), kv::kS_OK);
        const kv::test::VectorParams params{kv::test::Str(name_utf8), kv::test::Str(maker_utf8)};
        Variant result;
        EXPECT_EQ(protocol_.CallAsFunc(number, result, &params), kv::kS_OK);
        return result;
    }

    std::vector<std::string> Errors() const {
        std::vector<std::string> texts;
        for (const auto& e : errors_.records) texts.push_back(kv::Utf16ToUtf8(e.description));
        return texts;
    }

    const WindowRecord& Window() const { return toolkit_.record; }

    kvtest::TempDir dir_;
    std::string database_;
    kvtest::ScriptedLoader loader_;
    ScriptedToolkit toolkit_;
    kv::test::FakePlatform fake_;
    kv::Platform platform_{fake_.codec,
                           fake_.regional,
                           fake_.clock,
                           fake_.notices,
                           kv::backend::Files(),
                           kv::backend::Channel(),
                           kv::backend::Processes(),
                           loader_,
                           toolkit_};
    kv::test::RecordingErrorLog errors_;
    kv::Protocol protocol_{platform_, &errors_, kv::AddinMethods()};
};

std::vector<std::string> Names(ScriptedWindow& w) { return w.Column(SelectColumn::TradeName); }

std::vector<std::string> DisplayNames(std::initializer_list<int> codes) {
    std::vector<std::string> names;
    for (int code : codes) {
        const Drug& d = ByCode(code);
        std::string form = d.form;
        form.erase(0, form.find_first_not_of(' '));
        form.erase(form.find_last_not_of(' ') + 1);
        names.push_back(std::string(d.trade_name) + " " + form);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return Cp1251FromUtf8(a) < Cp1251FromUtf8(b);
    });
    return names;
}

// ---------------------------------------------------------------------------------------------

TEST(WordCondition, FromTheFilterText) {
    const std::string head =
        "lower(trim(rn.trade_name) || ' ' || trim(rn.full_form_name)) containing '";
    struct Case {
        const char* filter;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"", {}},
        {"     ", {}},
        {" \t\r\n", {}},
        {"аспирин", {"аспирин"}},
        {"  Аспирин   Кардио ", {"Аспирин", "Кардио"}},  // as typed, runs of blanks are one
        {"a b  c", {"a", "b", "c"}},
        {"д'ивуар", {"д''ивуар"}},
        {"''", {"''''"}},
        {"' or 1=1 --", {"''", "or", "1=1", "--"}},
        {"\tтабл\t", {"табл"}},
        {"a\tb", {"a\tb"}},  // only blanks separate words
    };
    for (const Case& c : cases) {
        std::string expected;
        for (const std::string& w : c.words) {
            if (!expected.empty()) expected += " and ";
            expected += head + Cp1251FromUtf8(w) + "'";
        }
        EXPECT_EQ(kv::WordCondition(kv::CleanFilterText(Cp1251FromUtf8(c.filter))), expected)
            << "filter [" << c.filter << "]";
    }
}

TEST(WordCondition, CleaningKeepsInnerCharactersAndCutsOnlyTheEnds) {
    EXPECT_EQ(kv::CleanFilterText("  a   b  "), "a b");
    EXPECT_EQ(kv::CleanFilterText("\x01 a\x1f \x20"), "a");
    EXPECT_EQ(kv::CleanFilterText("a\x01\x01 b"), "a\x01\x01 b");
}

// Keys typed in the list change only the filter text; no database is needed for that.
TEST(TypingInList, WhichCharactersReachTheFilter) {
    struct Case {
        unsigned char key;
        bool appended;
    };
    const Case cases[] = {
        {'a', true},   {'z', true},  {'A', true},   {'Z', true},   {'0', true},   {'9', true},
        {' ', true},   {0xE0, true}, {0xFF, true},  {0xC0, false}, {0xDF, false}, {0xB8, false},
        {0xA8, false}, {'!', false}, {'\'', false}, {'-', false},  {8, false},    {9, false},
        {'@', false},  {'[', false}, {'`', false},  {'{', false},  {0x7F, false}, {0xDE, false},
        {'/', false},  {':', false},
    };
    for (const Case& c : cases) {
        ScriptedToolkit toolkit;
        kvtest::ScriptedLoader loader;
        kv::TfrmSelect dialog(toolkit, loader);
        dialog.SetFilterText("ab");
        const int starts = toolkit.record.timer_starts;
        toolkit.window->Key(c.key);
        const std::string expected =
            c.appended ? std::string("ab") + static_cast<char>(c.key) : "ab";
        EXPECT_EQ(dialog.FilterText(), expected) << "key " << int(c.key);
        EXPECT_EQ(toolkit.record.filter, expected) << "key " << int(c.key);
        // Appending is a change of the filter: the debounce starts again; an ignored key
        // changes nothing.
        EXPECT_EQ(toolkit.record.timer_starts, starts + (c.appended ? 1 : 0))
            << "key " << int(c.key);
        EXPECT_FALSE(toolkit.record.closed);
        EXPECT_EQ(loader.opens, 0);
    }
}

TEST(TypingInList, EscEmptiesTheFilterOnlyWhenItHasText) {
    ScriptedToolkit toolkit;
    kvtest::ScriptedLoader loader;
    kv::TfrmSelect dialog(toolkit, loader);
    // Setting the same text again is no change and starts nothing.
    dialog.SetFilterText("");
    toolkit.window->Key(27);
    EXPECT_EQ(toolkit.record.timer_starts, 0);
    EXPECT_FALSE(dialog.Timer1Enabled());
    toolkit.window->Key('x');
    ASSERT_EQ(dialog.FilterText(), "x");
    toolkit.window->Key(27);
    EXPECT_EQ(dialog.FilterText(), "");
    EXPECT_EQ(toolkit.record.filter, "");
    EXPECT_EQ(toolkit.record.timer_starts, 2);
    EXPECT_TRUE(dialog.Timer1Enabled());
    EXPECT_FALSE(toolkit.record.closed);
}

// ---------------------------------------------------------------------------------------------

TEST_F(SelectDialogTest, InitialFilterIsTheFirstTenCharactersOfTheName) {
    struct Case {
        const char* name;
        const char* filter;
        std::vector<std::string> listed;
    };
    const Case cases[] = {
        {"Аспирин", "Аспирин", DisplayNames({101, 102})},
        {"аспирин кардио", "аспирин ка", DisplayNames({102})},  // the cut word is a fragment
        {"Ибупрофен гель", "Ибупрофен ", DisplayNames({107})},
        {"", "", DisplayNames({101, 102, 103, 104, 105, 106, 107})},
        {"          Аспирин", "          ", DisplayNames({101, 102, 103, 104, 105, 106, 107})},
        {"Д'Ивуар", "Д'Ивуар", DisplayNames({105})},
        {"nurofen", "nurofen", DisplayNames({106})},
        {"Нет такого", "Нет такого", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> listed;
        const Variant result = Call(c.name, "", [&](ScriptedWindow& w) {
            listed = Names(w);
            w.Cancel();
        });
        EXPECT_EQ(kv::Utf8FromCp1251(Window().title), c.name);
        EXPECT_EQ(kv::Utf8FromCp1251(Window().filter), c.filter) << c.name;
        EXPECT_EQ(listed, c.listed) << c.name;
        EXPECT_EQ(Window().confirm_enabled, !c.listed.empty()) << c.name;
        // The refresh on show stopped the timer that setting the filter had started.
        EXPECT_EQ(Window().timer_starts, *c.filter ? 1 : 0) << c.name;
        EXPECT_FALSE(Window().timer_due.has_value()) << c.name;
        EXPECT_TRUE(Window().focus_in_list);
        EXPECT_TRUE(Window().errors.empty()) << c.name << ": " << Window().errors.front();
        EXPECT_EQ(result.type(), kv::VarType::I4);
        EXPECT_TRUE(Errors().empty()) << c.name << ": " << Errors().front();
    }
}

TEST_F(SelectDialogTest, TheListShowsBothCodesOfARow) {
    std::vector<std::string> codes, makers;
    Call("Аспирин", "", [&](ScriptedWindow& w) {
        codes = w.Column(SelectColumn::TradeNameId);
        EXPECT_EQ(codes, w.Column(SelectColumn::FabrNameId));
        makers = w.Column(SelectColumn::FabrName);
        w.Cancel();
    });
    // "Аспирин Кардио ..." sorts before "Аспирин табл. ...": capitals come first in 1251.
    EXPECT_EQ(codes, (std::vector<std::string>{"102", "101"}));
    EXPECT_EQ(makers, (std::vector<std::string>{"Байер", "Байер"}));
}

// Every way of closing: a confirmation stores the current row's code three times, anything
// else stores nothing and returns the integer 0.
TEST_F(SelectDialogTest, HowTheDialogClosesDecidesWhatIsStored) {
    struct Case {
        const char* how;
        std::function<void(ScriptedWindow&)> close;
        int32_t modal_result;
        int code;
    };
    const Case cases[] = {
        {"confirm button", [](ScriptedWindow& w) { w.Confirm(); }, kv::mrOk, 102},
        {"second row, confirm",
         [](ScriptedWindow& w) {
             w.Select(1);
             w.Confirm();
         },
         kv::mrOk, 101},
        {"Enter in the list", [](ScriptedWindow& w) { w.Key(13); }, kv::mrOk, 102},
        {"double click",
         [](ScriptedWindow& w) {
             w.Select(1);
             w.DoubleClick();
         },
         kv::mrOk, 101},
        {"cancel",
         [](ScriptedWindow& w) {
             w.Select(1);
             w.Cancel();
         },
         kv::mrCancel, 0},
    };
    for (const Case& c : cases) {
        vk().TradeName = "T";
        vk().Producer = "P";
        const Variant result = Call("Аспирин", "", c.close);
        EXPECT_EQ(Window().modal_result, c.modal_result) << c.how;
        EXPECT_EQ(result.type(), kv::VarType::I4) << c.how;
        EXPECT_EQ(result.int_value(), c.code) << c.how;
        EXPECT_EQ(vk().TradeName, c.code ? std::to_string(c.code) : "T") << c.how;
        EXPECT_EQ(vk().Producer, c.code ? std::to_string(c.code) : "P") << c.how;
        EXPECT_TRUE(Errors().empty()) << c.how;
    }
    EXPECT_EQ(kvtest::OpenAttachments(database_), 0);
}

TEST_F(SelectDialogTest, EmptyListDisablesConfirmAndIgnoresEnterAndDoubleClick) {
    vk().TradeName = "kept";
    vk().Producer = "kept too";
    const Variant result = Call("Аспирин", "", [&](ScriptedWindow& w) {
        EXPECT_TRUE(w.record().confirm_enabled);
        w.Type("zzz");
        w.Wait(500);
        EXPECT_EQ(w.record().rows, 0u);
        EXPECT_FALSE(w.record().confirm_enabled);
        w.Key(13);
        w.DoubleClick();
        EXPECT_FALSE(w.record().closed);
        // A filter that lists rows again enables it again.
        w.ReplaceFilter("аспирин");
        w.Wait(500);
        EXPECT_TRUE(w.record().confirm_enabled);
        w.Cancel();
    });
    EXPECT_EQ(result.type(), kv::VarType::I4);
    EXPECT_EQ(result.int_value(), 0);
    EXPECT_EQ(vk().TradeName, "kept");
    EXPECT_EQ(vk().Producer, "kept too");
}

TEST_F(SelectDialogTest, TheMakerParameterChangesNothingVisible) {
    std::vector<std::vector<std::string>> lists;
    for (const char* maker : {"", "Фармстандарт", "Байер", "' x"}) {
        Call("табл", maker, [&](ScriptedWindow& w) {
            lists.push_back(Names(w));
            w.Cancel();
        });
        EXPECT_EQ(kv::Utf8FromCp1251(Window().title), "табл");
    }
    ASSERT_EQ(lists.size(), 4u);
    EXPECT_EQ(lists[0], DisplayNames({101, 102, 103, 104}));
    for (const auto& list : lists) EXPECT_EQ(list, lists[0]);
}

TEST_F(SelectDialogTest, TypingIsDebouncedToOneQueryAfterThePause) {
    Call("", "", [&](ScriptedWindow& w) {
        const int before = g_prepares;
        // Ten keystrokes 100 ms apart; the last pause is the one that counts.
        w.Type("аспирин к ", 100);
        EXPECT_EQ(g_prepares, before);
        w.Wait(499);
        EXPECT_EQ(g_prepares, before);
        w.Wait(1);
        EXPECT_EQ(g_prepares, before + 1);
        EXPECT_EQ(Names(w), DisplayNames({102}));
        w.Wait(5000);
        EXPECT_EQ(g_prepares, before + 1);
        w.Cancel();
    });
}

TEST_F(SelectDialogTest, EnterInTheFilterRefreshesAtOnceAndOnlyOnce) {
    Call("", "", [&](ScriptedWindow& w) {
        const int before = g_prepares;
        w.Type("парацетамол");
        w.Wait(200);
        w.EnterInFilter();
        EXPECT_EQ(g_prepares, before + 1);
        EXPECT_EQ(Names(w), DisplayNames({104}));
        EXPECT_FALSE(w.record().closed);  // Enter in the filter box confirms nothing
        w.Wait(2000);
        EXPECT_EQ(g_prepares, before + 1);
        w.Cancel();
    });
}

TEST_F(SelectDialogTest, EscInTheListListsEveryRowHalfASecondLater) {
    Call("Аспирин", "", [&](ScriptedWindow& w) {
        const int before = g_prepares;
        w.Key(27);
        EXPECT_EQ(w.record().filter, "");
        w.Wait(499);
        EXPECT_EQ(g_prepares, before);
        EXPECT_EQ(Names(w), DisplayNames({101, 102}));
        w.Wait(1);
        EXPECT_EQ(g_prepares, before + 1);
        EXPECT_EQ(Names(w), DisplayNames({101, 102, 103, 104, 105, 106, 107}));
        // Esc again: the filter is already empty and nothing happens.
        w.Key(27);
        w.Wait(1000);
        EXPECT_EQ(g_prepares, before + 1);
        w.Cancel();
    });
}

TEST_F(SelectDialogTest, TypingInTheListNarrowsTheList) {
    Call("", "", [&](ScriptedWindow& w) {
        for (unsigned char k : Cp1251FromUtf8("Ибу!Ппр")) w.Key(k);
        // Capital Cyrillic letters and punctuation are dropped, the rest is kept as typed.
        EXPECT_EQ(w.record().filter, Cp1251FromUtf8("бупр"));
        w.Wait(500);
        EXPECT_EQ(Names(w), DisplayNames({107}));
        for (unsigned char k : std::string(" NUROFEN")) w.Key(k);
        EXPECT_EQ(w.record().filter, Cp1251FromUtf8("бупр NUROFEN"));
        w.Wait(500);
        EXPECT_TRUE(Names(w).empty());
        w.Cancel();
    });
}

TEST_F(SelectDialogTest, RedrawIsSuspendedAroundEveryRefresh) {
    g_fail_prepare = false;
    Call("Аспирин", "", [&](ScriptedWindow& w) {
        w.Type("x");
        w.Wait(500);
        g_fail_prepare = true;
        w.EnterInFilter();
        g_fail_prepare = false;
        w.Cancel();
    });
    EXPECT_EQ(Window().suspensions, 3);
    EXPECT_EQ(Window().results_shown, 3);
    EXPECT_EQ(Window().results_shown_while_drawing, 0);
    EXPECT_TRUE(Window().redraw);
}

TEST_F(SelectDialogTest, AFailedRefreshShowsTheErrorAndKeepsTheDialogUsable) {
    const std::string message = InjectedErrorText();
    ASSERT_FALSE(message.empty());
    const Variant result = Call("Аспирин", "", [&](ScriptedWindow& w) {
        ASSERT_TRUE(w.record().confirm_enabled);
        g_fail_prepare = true;
        w.Type(" кардио");
        w.Wait(500);
        ASSERT_EQ(w.record().errors, std::vector<std::string>{message});
        EXPECT_EQ(w.record().rows, 0u);
        EXPECT_TRUE(w.record().redraw);
        EXPECT_TRUE(w.record().confirm_enabled);  // keeps the state it had
        EXPECT_FALSE(w.record().closed);
        // The user goes on; the database answers again.
        g_fail_prepare = false;
        w.EnterInFilter();
        EXPECT_EQ(Names(w), DisplayNames({102}));
        w.Confirm();
    });
    EXPECT_EQ(result.int_value(), 102);
    EXPECT_EQ(vk().TradeName, "102");
    EXPECT_TRUE(Errors().empty());
}

TEST_F(SelectDialogTest, ConfirmingAfterAFailedRefreshFailsTheCall) {
    vk().TradeName = "T";
    vk().Producer = "P";
    const Variant result = Call("Аспирин", "", [&](ScriptedWindow& w) {
        ASSERT_TRUE(w.record().errors.empty());
        // An empty list after a failure: the button was enabled and stays so.
        g_fail_prepare = true;
        w.EnterInFilter();
        ASSERT_EQ(w.record().errors.size(), 1u);
        EXPECT_TRUE(w.record().confirm_enabled);
        w.Key(13);
    });
    EXPECT_EQ(Window().modal_result, kv::mrOk);
    EXPECT_EQ(result.type(), kv::VarType::I4);
    EXPECT_EQ(result.int_value(), 0);
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(vk().TradeName, "T");
    EXPECT_EQ(vk().Producer, "P");
    EXPECT_EQ(kvtest::OpenAttachments(database_), 0);
}

TEST_F(SelectDialogTest, AFailedRefreshOnShowLeavesTheDialogOpen) {
    // The first opening, with the whole name bound, succeeds; the refresh on show fails.
    g_prepares_left = 1;
    const Variant result = Call("Аспирин", "", [&](ScriptedWindow& w) {
        ASSERT_EQ(w.record().errors, std::vector<std::string>{InjectedErrorText()});
        EXPECT_EQ(w.record().rows, 0u);
        EXPECT_TRUE(w.record().confirm_enabled);
        EXPECT_TRUE(w.record().focus_in_list);
        g_prepares_left = -1;
        w.ReplaceFilter("анальгин");
        w.Wait(500);
        EXPECT_EQ(Names(w), DisplayNames({103}));
        w.DoubleClick();
    });
    EXPECT_EQ(result.int_value(), 103);
    EXPECT_EQ(vk().Producer, "103");
}

TEST_F(SelectDialogTest, ConnectionFailuresFailTheCallUnseen) {
    struct Case {
        std::string database, library, message;
        bool loads;
    };
    const std::string missing = dir_.path() + "/missing.fdb";
    const Case cases[] = {
        {"", "gds32.dll", "Database name is missing.", true},
        {database_, "nosuch.dll", "Can't load library nosuch.dll ", false},
        {missing, "gds32.dll", missing, true},  // the library's text names the file
    };
    int loaded = 0;
    for (const Case& c : cases) {
        loaded += c.loads ? 1 : 0;
        vk().BaseName = c.database;
        vk().DLLName = c.library;
        vk().TradeName = "T";
        errors_.records.clear();
        const Variant result =
            Call("Аспирин", "", [](ScriptedWindow&) { ADD_FAILURE() << "the dialog was shown"; });
        EXPECT_TRUE(Window().created);
        EXPECT_FALSE(Window().ran_modal);
        ASSERT_EQ(Errors().size(), 1u) << c.library;
        EXPECT_NE(Errors()[0].find(c.message), std::string::npos) << Errors()[0];
        EXPECT_EQ(result.int_value(), 0);
        EXPECT_EQ(vk().TradeName, "T");
        EXPECT_EQ(loader_.closes, loaded) << "the client library stays loaded";
    }
    EXPECT_EQ(kvtest::OpenAttachments(database_), 0);
}

TEST_F(SelectDialogTest, AFailedFirstOpeningIsNeverShown) {
    g_prepares_left = 0;
    Call("Аспирин", "", [](ScriptedWindow&) { ADD_FAILURE() << "the dialog was shown"; });
    EXPECT_FALSE(Window().ran_modal);
    EXPECT_EQ(Errors(), std::vector<std::string>{InjectedErrorText()});
    EXPECT_EQ(kvtest::OpenAttachments(database_), 0);
}

TEST_F(SelectDialogTest, AParameterThatIsNotTextFailsBeforeAnyConnection) {
    for (int bad = 0; bad < 2; ++bad) {
        errors_.records.clear();
        toolkit_.record = WindowRecord{};
        toolkit_.script = [](ScriptedWindow&) { ADD_FAILURE() << "the dialog was shown"; };
        int32_t number = -1;
        ASSERT_EQ(protocol_.FindMethod(u"СопоставитьПозиции", number), kv::kS_OK);
        kv::test::VectorParams params{kv::test::Str("Аспирин"), kv::test::Str("Байер")};
        params.values[static_cast<size_t>(bad)] = Variant::Opaque(kv::VarType::Dispatch);
        Variant result;
        EXPECT_EQ(protocol_.CallAsFunc(number, result, &params), kv::kS_OK);
        EXPECT_EQ(Errors(), std::vector<std::string>{"Параметр номер " + std::to_string(bad + 1) +
                                                     " не может быть преобразован в строку."});
        EXPECT_FALSE(Window().ran_modal);
        EXPECT_EQ(loader_.opens, 0);
    }
}

TEST_F(SelectDialogTest, WithoutAWindowSystemTheCallFailsAfterConnecting) {
    kv::Platform headless{fake_.codec,
                          fake_.regional,
                          fake_.clock,
                          fake_.notices,
                          kv::backend::Files(),
                          kv::backend::Channel(),
                          kv::backend::Processes(),
                          loader_,
                          kv::backend::Dialogs()};
    kv::Protocol protocol(headless, &errors_, kv::AddinMethods());
    protocol.object().BaseName = database_;
    protocol.object().UserPass.clear();
    int32_t number = -1;
    ASSERT_EQ(protocol.FindMethod(u"SopostavNames", number), kv::kS_OK);
    const kv::test::VectorParams params{kv::test::Str("Аспирин"), kv::test::Str("")};
    Variant result;
    EXPECT_EQ(protocol.CallAsFunc(number, result, &params), kv::kS_OK);
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_NE(Errors()[0].find("window system"), std::string::npos) << Errors()[0];
    EXPECT_EQ(result.int_value(), 0);
    EXPECT_EQ(kvtest::OpenAttachments(database_), 0);
}

TEST_F(SelectDialogTest, EveryCallStartsFromTheDesign) {
    Call("Аспирин", "", [](ScriptedWindow& w) {
        w.Type("zzz");
        w.EnterInFilter();
        EXPECT_FALSE(w.record().confirm_enabled);
        w.Cancel();
    });
    bool enabled_before_show = false;
    toolkit_.script = nullptr;
    Call("Аспирин", "", [&](ScriptedWindow& w) {
        enabled_before_show = w.record().confirm_enabled;
        EXPECT_EQ(w.record().filter, Cp1251FromUtf8("Аспирин"));
        w.Confirm();
    });
    EXPECT_TRUE(enabled_before_show);
    EXPECT_EQ(Window().modal_result, kv::mrOk);
}

// A registry larger than any screen: rows are read as the list shows them.
class LargeRegistryTest : public SelectDialogTest {
  protected:
    std::vector<RegistryRow> Rows() const override {
        std::vector<RegistryRow> rows;
        for (int i = 0; i < 300; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Препарат %03d", i);
            rows.push_back({1000 + i, 1, 1, std::string(name), "табл.", "Завод"});
        }
        return rows;
    }
};

TEST_F(LargeRegistryTest, RowsAreReadOnlyAsTheListShowsThem) {
    const Variant result = Call("препарат", "", [&](ScriptedWindow& w) {
        // Showing the result needs its first row only.
        EXPECT_LE(kvtest::g_fetch_calls, 4);
        EXPECT_TRUE(w.record().confirm_enabled);
        const int before = kvtest::g_fetch_calls;
        const std::vector<std::string> page = w.Column(SelectColumn::TradeNameId, 40);
        ASSERT_EQ(page.size(), 40u);
        EXPECT_EQ(page[39], "1039");
        EXPECT_LE(kvtest::g_fetch_calls - before, 45);
        EXPECT_LT(w.record().rows, 100u);
        w.Select(35);
        w.Confirm();
    });
    EXPECT_EQ(result.int_value(), 1035);
    EXPECT_EQ(vk().TradeName, "1035");
}

TEST_F(LargeRegistryTest, SelectingARowNotReadYetReadsUpToIt) {
    const Variant result = Call("препарат", "", [&](ScriptedWindow& w) {
        // Keyboard paging can select rows the list has not drawn yet, even past the end.
        w.Select(120);
        EXPECT_EQ(w.record().selected, 120u);
        w.Select(5000);
        EXPECT_EQ(w.record().selected, 299u);
        EXPECT_EQ(w.record().rows, 300u);
        w.Key(13);
    });
    EXPECT_EQ(result.int_value(), 1299);
}

}  // namespace
