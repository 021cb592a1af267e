#pragma once
// The drug-name registry connection of the name-matching dialog: the database `DB`, its
// transaction `Tr` and the registry query `SQLSelList`. It only reads: the transaction is
// never committed, and everything that was opened is rolled back and detached when the
// connection is closed or destroyed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/trace.h"
#include "matching/fb_api.h"
#include "platform/platform.h"

namespace kv {

class FbClient;

using SqldaPtr = std::unique_ptr<fb::Xsqlda, void (*)(void*)>;

class RegistryConnection {
  public:
    static constexpr size_t kFilterLine = 10;
    // The condition that the initial trade name and each word of the dialog's filter put on a
    // row: its lower-cased trade name and form contain `operand`, a parameter or a quoted
    // literal.
    static std::string NameContains(std::string_view operand);

    // `trace` receives the attach and every statement with its parameter, time and rows.
    explicit RegistryConnection(LibraryLoader& libraries, Trace& trace = Trace::Off());
    // Closes an attached connection without reporting errors; never throws.
    ~RegistryConnection();
    RegistryConnection(const RegistryConnection&) = delete;
    RegistryConnection& operator=(const RegistryConnection&) = delete;

    // The five settings from the component's properties. An empty user name, password or
    // role leaves its item out of the attach.
    void Configure(const std::string& database, const std::string& user_name,
                   const std::string& password, const std::string& role,
                   const std::string& client_library);

    // Loads the client library when needed and attaches; nothing happens when attached.
    void Attach();
    bool Attached() const { return DB.handle != 0; }
    void StartTransaction();
    bool InTransaction() const { return Tr.handle != 0; }

    // The text bound to `tname` while the filter line holds its initial text.
    void SetParameter(const std::string& tname);
    // Prepares the current statement text, executes it and makes the first row current.
    void Open();
    bool IsOpen() const { return SQLSelList.handle != 0; }
    // Ends the cursor and forgets the rows read.
    void Close();
    // Line 10 becomes `line`; the next Open prepares the new text. An empty line leaves the
    // two fixed conditions alone.
    void ReplaceFilterLine(const std::string& line);
    // The statement as it is prepared, lines joined by CR LF.
    std::string StatementText() const;

    // Row navigation; rows are fetched from the server only when first reached.
    void First();
    bool Next();
    // Makes `row` (from 0) current; false, leaving the current row, when the result is shorter.
    bool MoveTo(size_t row);
    size_t CurrentRow() const { return SQLSelList.current; }
    bool AllRowsFetched() const { return SQLSelList.at_end; }
    // Rows read so far.
    int RowCount() const { return static_cast<int>(SQLSelList.rows.size()); }

    // Fields of the current row by result column name (letter case ignored).
    int32_t FieldAsInteger(std::string_view name) const;
    std::string FieldAsText(std::string_view name) const;
    // A field of any row, fetching up to it: for a list that draws rows as it shows them.
    std::string RowText(size_t row, std::string_view name);

    // Closes the query, rolls back an active transaction and detaches; nothing happens when
    // not attached. Everything is released even when a step fails; the first failure is
    // reported.
    void CloseConnection();

    // The attach items as they are sent (for checks of the settings).
    std::string AttachItems() const;

    // The rows of the registry table, counted in the active transaction; nullopt when the
    // database has no such table. For an installation check.
    std::optional<int64_t> RegistryRowCount();

  private:
    struct Cell {
        enum class Kind : uint8_t { Null, Integer, Real, Text };
        Kind kind = Kind::Null;
        int16_t scale = 0;
        int64_t integer = 0;
        double real = 0;
        std::string text;
    };
    using Row = std::vector<Cell>;

    struct Database {
        std::string name, user_name, password, role, client_library;
        fb::Handle handle = 0;
    };
    struct Transaction {
        fb::Handle handle = 0;
    };
    struct Query {
        std::vector<std::string> lines;
        std::string tname;
        fb::Handle handle = 0;
        // Output descriptors with their buffers, and the result column names.
        SqldaPtr output{nullptr, std::free};
        std::vector<char> buffer;
        std::vector<int16_t> indicators;
        std::vector<std::string> columns;
        std::vector<Row> rows;
        size_t current = 0;
        bool at_end = false;
        // For the trace: the text as prepared and the milliseconds its opening took (none
        // when it failed); the text is kept only while the trace is on.
        std::string traced_sql;
        std::optional<uint32_t> open_ms;
    };

    void Check(const fb::Status* status) const;
    bool HasParameter() const;
    // The statement lines joined by CR LF; `positional` marks the parameter with '?'.
    std::string JoinLines(bool positional) const;
    void Describe();
    void Execute();
    bool FetchRow();
    const Cell& FieldOf(const Row& row, std::string_view name) const;
    const Row& Current() const;
    void ForgetQuery();
    void Release(bool report);
    // The one integer a statement such as "select count(*) ..." gives, traced.
    int64_t CountOf(const std::string& sql);
    int64_t FetchCount(const std::string& sql);
    void TraceStatement(const std::string& sql, const std::string* parameter, uint32_t ms,
                        size_t rows, bool all, const char* outcome) noexcept;

    LibraryLoader& libraries_;
    Trace& trace_;
    std::unique_ptr<FbClient> client_;
    Database DB;
    Transaction Tr;
    Query SQLSelList;
};

}  // namespace kv
