#include "matching/registry.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "common/variant.h"
#include "matching/fb_client.h"

namespace kv {
namespace {

// The lower-cased trade name and form of a row: what the initial name and the filter's words
// are looked for in.
constexpr std::string_view kLowerTradeName =
    "lower(trim(rn.trade_name) || ' ' || trim(rn.full_form_name))";

constexpr std::string_view kRegistryTable = "tbl_reestr_names";

// The registry query, line by line. The filter line (kFilterLine) is what the dialog replaces;
// the condition line ends with "and" for it.
const std::vector<std::string>& StatementLines() {
    static const std::vector<std::string> lines = {
        "select distinct",
        "  rn.code as trade_name_id,",
        "  rn.code as fabr_name_id,",
        "  trim(rn.trade_name) || ' ' || trim(rn.full_form_name) as trade_name,",
        "  " + std::string(kLowerTradeName) + " as lower_trade_name,",
        "  rn.fabr_name,",
        "  lower(rn.fabr_name) as lower_fabr_name",
        "from " + std::string(kRegistryTable) + " rn",
        "",
        "where rn.trade_name_id>0 and rn.fabr_name_id>0 and",
        "    " + RegistryConnection::NameContains(":tname"),
        "",
        "order by 3",
    };
    return lines;
}
constexpr size_t kConditionLine = 9;
constexpr std::string_view kTrailingAnd = " and";

// Attach items carry their length in one byte.
constexpr size_t kMaxItemLength = 255;

void AddItem(std::string& items, char code, const std::string& value) {
    if (value.size() > kMaxItemLength) {
        throw Error("Connection setting is longer than 255 characters.");
    }
    items += code;
    items += static_cast<char>(value.size());
    items += value;
}

// An exact decimal rendering of a scaled integer (NUMERIC and DECIMAL columns).
std::string ScaledText(int64_t value, int16_t scale) {
    const bool negative = value < 0;
    // Through unsigned arithmetic so that the most negative value has a magnitude too.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    if (scale < 0) {
        const size_t decimals = static_cast<size_t>(-scale);
        if (digits.size() <= decimals) digits.insert(0, decimals - digits.size() + 1, '0');
        digits.insert(digits.size() - decimals, 1, '.');
    }
    return negative ? "-" + digits : digits;
}

int32_t NarrowInteger(int64_t value) {
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        throw Error(std::to_string(value) + " is not a valid integer value");
    }
    return static_cast<int32_t>(value);
}

int32_t ParseInteger(const std::string& text) {
    int64_t value = 0;
    if (!ParseInt64(TrimControl(text), value)) {
        throw Error("'" + text + "' is not a valid integer value");
    }
    return NarrowInteger(value);
}

// Codes, names and numbers: what a registry column can hold.
bool Readable(const fb::Xsqlvar& var) {
    switch (var.sqltype & ~1) {
        case fb::kSqlText:
        case fb::kSqlVarying:
        case fb::kSqlShort:
        case fb::kSqlLong:
        case fb::kSqlInt64:
        case fb::kSqlFloat:
        case fb::kSqlDouble:
            return true;
        default:
            return false;
    }
}

// Bytes a value of a readable descriptor takes in the row buffer.
size_t ValueSize(const fb::Xsqlvar& var) {
    switch (var.sqltype & ~1) {
        case fb::kSqlText:
            return static_cast<size_t>(var.sqllen);
        case fb::kSqlVarying:
            return static_cast<size_t>(var.sqllen) + sizeof(int16_t);
        case fb::kSqlShort:
            return sizeof(int16_t);
        case fb::kSqlLong:
            return sizeof(int32_t);
        case fb::kSqlInt64:
            return sizeof(int64_t);
        case fb::kSqlFloat:
            return sizeof(float);
        default:
            return sizeof(double);
    }
}

// Room for the six result columns and a few more, so that one prepare usually describes all.
constexpr int kTypicalColumns = 8;

SqldaPtr NewSqlda(int columns) {
    SqldaPtr sqlda(static_cast<fb::Xsqlda*>(std::calloc(1, fb::XsqldaLength(columns))), std::free);
    if (!sqlda) throw std::bad_alloc();
    sqlda->version = fb::kSqldaVersion1;
    sqlda->sqln = static_cast<int16_t>(columns);
    return sqlda;
}

template <typename T>
T Load(const char* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

// Drops a statement of its own however the code that uses it ends.
class StatementGuard {
  public:
    explicit StatementGuard(const FbClient& client) : client_(client) {}
    ~StatementGuard() {
        if (handle == 0) return;
        fb::StatusVector status{};
        client_.free_statement(status, &handle, fb::kDsqlDrop);
    }
    StatementGuard(const StatementGuard&) = delete;
    StatementGuard& operator=(const StatementGuard&) = delete;
    fb::Handle handle = 0;

  private:
    const FbClient& client_;
};

}  // namespace

RegistryConnection::RegistryConnection(LibraryLoader& libraries, Trace& trace)
    : libraries_(libraries), trace_(trace) {
    SQLSelList.lines = StatementLines();
}

RegistryConnection::~RegistryConnection() {
    try {
        Release(false);
    } catch (...) {
        // Destruction may run while another error is on its way out: nothing may escape.
    }
}

void RegistryConnection::Configure(const std::string& database, const std::string& user_name,
                                   const std::string& password, const std::string& role,
                                   const std::string& client_library) {
    DB.name = database;
    DB.user_name = user_name;
    DB.password = password;
    DB.role = role;
    DB.client_library = client_library;
}

std::string RegistryConnection::AttachItems() const {
    std::string items(1, fb::kDpbVersion1);
    if (!DB.user_name.empty()) AddItem(items, fb::kDpbUserName, DB.user_name);
    if (!DB.password.empty()) AddItem(items, fb::kDpbPassword, DB.password);
    if (!DB.role.empty()) AddItem(items, fb::kDpbSqlRoleName, DB.role);
    AddItem(items, fb::kDpbLcCtype, "WIN1251");
    return items;
}

void RegistryConnection::Attach() {
    if (Attached()) return;
    if (!client_ || client_->FileName() != DB.client_library) {
        client_.reset();
        client_ = std::make_unique<FbClient>(libraries_, DB.client_library);
    }
    if (DB.name.empty()) throw Error("Database name is missing.");
    const std::string items = AttachItems();
    const uint32_t start = trace_.Ticks();
    fb::StatusVector status{};
    // Length 0: the name is zero-terminated, so a path of any length passes unchanged.
    client_->attach_database(status, 0, DB.name.c_str(), &DB.handle,
                             static_cast<short>(items.size()), items.data());
    if (Failed(status)) DB.handle = 0;
    if (trace_.On()) {
        // The password itself never goes into the trace: only whether one is sent.
        trace_.Write("attach", {{"database", DB.name},
                                {"user", DB.user_name},
                                {"password", DB.password.empty() ? "" : "***"},
                                {"role", DB.role},
                                {"library", DB.client_library},
                                {"ms", std::to_string(trace_.Ticks() - start)},
                                {"outcome", Failed(status) ? "failed" : "attached"}});
    }
    Check(status);
}

void RegistryConnection::StartTransaction() {
    if (!Attached()) throw Error("The database is not attached.");
    if (InTransaction()) throw Error("The transaction is already active.");
    static const char kItems[] = {fb::kTpbVersion3, fb::kTpbWrite, fb::kTpbNowait,
                                  fb::kTpbReadCommitted, fb::kTpbRecVersion};
    fb::TransactionElement element{&DB.handle, static_cast<int>(sizeof kItems), kItems};
    fb::StatusVector status{};
    client_->start_multiple(status, &Tr.handle, 1, &element);
    if (Failed(status)) Tr.handle = 0;
    Check(status);
}

std::string RegistryConnection::NameContains(std::string_view operand) {
    return std::string(kLowerTradeName) + " containing " + std::string(operand);
}

void RegistryConnection::SetParameter(const std::string& tname) { SQLSelList.tname = tname; }

void RegistryConnection::ReplaceFilterLine(const std::string& line) {
    SQLSelList.lines[kFilterLine] = line;
}

bool RegistryConnection::HasParameter() const {
    return SQLSelList.lines[kFilterLine] == StatementLines()[kFilterLine];
}

std::string RegistryConnection::StatementText() const { return JoinLines(false); }

std::string RegistryConnection::JoinLines(bool positional) const {
    const bool no_filter = TrimControl(SQLSelList.lines[kFilterLine]).empty();
    // The client library knows positional parameters only.
    const std::string positional_line = "    " + NameContains("?");
    std::string text;
    for (size_t i = 0; i < SQLSelList.lines.size(); ++i) {
        std::string_view line = SQLSelList.lines[i];
        if (positional && i == kFilterLine && HasParameter()) line = positional_line;
        // Without a filter the fixed conditions end the WHERE clause.
        if (i == kConditionLine && no_filter && line.ends_with(kTrailingAnd)) {
            line.remove_suffix(kTrailingAnd.size());
        }
        if (i > 0) text += "\r\n";
        text += line;
    }
    return text;
}

void RegistryConnection::Open() {
    if (IsOpen()) return;
    if (!InTransaction()) throw Error("The transaction is not active.");
    const std::string sql = JoinLines(true);
    const uint32_t start = trace_.Ticks();
    if (trace_.On()) SQLSelList.traced_sql = sql;
    try {
        fb::StatusVector status{};
        client_->alloc_statement2(status, &DB.handle, &SQLSelList.handle);
        if (Failed(status)) SQLSelList.handle = 0;
        Check(status);
        SQLSelList.output = NewSqlda(kTypicalColumns);
        // Length 0: the text is zero-terminated, so a filter of any length passes.
        client_->prepare(status, &Tr.handle, &SQLSelList.handle, 0, sql.c_str(), fb::kDialect3,
                         SQLSelList.output.get());
        Check(status);
        Describe();
        Execute();
        First();
        SQLSelList.open_ms = trace_.Ticks() - start;
    } catch (...) {
        try {
            Close();
        } catch (...) {
            // The first failure is the one the caller needs to see.
        }
        throw;
    }
}

void RegistryConnection::Describe() {
    Query& q = SQLSelList;
    const int count = q.output->sqld;
    if (count > q.output->sqln) {
        q.output = NewSqlda(count);
        fb::StatusVector status{};
        client_->describe(status, &q.handle, fb::kSqldaVersion1, q.output.get());
        Check(status);
    }
    // One buffer for the values of a row, each at an 8-byte boundary.
    std::vector<size_t> offsets;
    size_t size = 0;
    for (int i = 0; i < count; ++i) {
        const fb::Xsqlvar& var = q.output->sqlvar[i];
        const std::string name(var.aliasname, static_cast<size_t>(var.aliasname_length));
        if (!Readable(var)) throw Error("Column " + name + " has a type that cannot be read.");
        const size_t bytes = ValueSize(var);
        q.columns.push_back(name);
        offsets.push_back(size);
        size += (bytes + 7) / 8 * 8;
    }
    q.buffer.assign(size + 1, 0);
    q.indicators.assign(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        fb::Xsqlvar& var = q.output->sqlvar[i];
        var.sqldata = q.buffer.data() + offsets[static_cast<size_t>(i)];
        var.sqlind = &q.indicators[static_cast<size_t>(i)];
        var.sqltype = static_cast<int16_t>(var.sqltype | 1);  // always report nulls
    }
}

void RegistryConnection::Execute() {
    Query& q = SQLSelList;
    fb::StatusVector status{};
    if (!HasParameter()) {
        client_->execute(status, &Tr.handle, &q.handle, fb::kSqldaVersion1, nullptr);
        Check(status);
        return;
    }
    const SqldaPtr input = NewSqlda(1);
    client_->describe_bind(status, &q.handle, fb::kSqldaVersion1, input.get());
    Check(status);
    if (input->sqld != 1) throw Error("The statement does not have the one parameter tname.");
    fb::Xsqlvar& var = input->sqlvar[0];
    // A name longer than every value the column expression can hold is contained in none of
    // them; the server would refuse it as a truncation, so it is sent as null, which matches
    // no row either.
    int16_t indicator = q.tname.size() > static_cast<size_t>(var.sqllen) ? -1 : 0;
    std::string value = q.tname;
    var.sqltype = fb::kSqlText | 1;
    var.sqlscale = 0;
    var.sqllen = static_cast<int16_t>(indicator == 0 ? value.size() : 0);
    var.sqldata = value.data();
    var.sqlind = &indicator;
    client_->execute(status, &Tr.handle, &q.handle, fb::kSqldaVersion1, input.get());
    Check(status);
}

bool RegistryConnection::FetchRow() {
    Query& q = SQLSelList;
    if (q.at_end) return false;
    fb::StatusVector status{};
    const fb::Status result = client_->fetch(status, &q.handle, fb::kSqldaVersion1, q.output.get());
    if (result == fb::kFetchEnd) {
        q.at_end = true;
        return false;
    }
    Check(status);
    Row row(static_cast<size_t>(q.output->sqld));
    for (size_t i = 0; i < row.size(); ++i) {
        const fb::Xsqlvar& var = q.output->sqlvar[i];
        Cell& cell = row[i];
        if (*var.sqlind < 0) continue;  // stays Null
        const char* data = var.sqldata;
        cell.scale = var.sqlscale;
        switch (var.sqltype & ~1) {
            case fb::kSqlText:
                cell.kind = Cell::Kind::Text;
                cell.text.assign(data, static_cast<size_t>(var.sqllen));
                break;
            case fb::kSqlVarying: {
                cell.kind = Cell::Kind::Text;
                const auto length = Load<uint16_t>(data);
                cell.text.assign(data + sizeof(int16_t),
                                 std::min<size_t>(length, static_cast<size_t>(var.sqllen)));
                break;
            }
            case fb::kSqlShort:
                cell.kind = Cell::Kind::Integer;
                cell.integer = Load<int16_t>(data);
                break;
            case fb::kSqlLong:
                cell.kind = Cell::Kind::Integer;
                cell.integer = Load<int32_t>(data);
                break;
            case fb::kSqlInt64:
                cell.kind = Cell::Kind::Integer;
                cell.integer = Load<int64_t>(data);
                break;
            case fb::kSqlFloat:
                cell.kind = Cell::Kind::Real;
                cell.real = Load<float>(data);
                break;
            case fb::kSqlDouble:
                cell.kind = Cell::Kind::Real;
                cell.real = Load<double>(data);
                break;
        }
    }
    q.rows.push_back(std::move(row));
    return true;
}

void RegistryConnection::First() {
    if (!IsOpen()) throw Error("The query is not open.");
    if (SQLSelList.rows.empty()) FetchRow();
    SQLSelList.current = 0;
}

bool RegistryConnection::Next() { return MoveTo(SQLSelList.current + 1); }

bool RegistryConnection::MoveTo(size_t row) {
    if (!IsOpen()) throw Error("The query is not open.");
    while (SQLSelList.rows.size() <= row) {
        if (!FetchRow()) return false;
    }
    SQLSelList.current = row;
    return true;
}

const RegistryConnection::Row& RegistryConnection::Current() const {
    if (!IsOpen()) throw Error("The query is not open.");
    if (SQLSelList.current >= SQLSelList.rows.size()) throw Error("The query has no current row.");
    return SQLSelList.rows[SQLSelList.current];
}

const RegistryConnection::Cell& RegistryConnection::FieldOf(const Row& row,
                                                            std::string_view name) const {
    for (size_t i = 0; i < SQLSelList.columns.size(); ++i) {
        if (EqualsIgnoringAsciiCase(SQLSelList.columns[i], name)) return row[i];
    }
    throw Error("Field '" + std::string(name) + "' not found");
}

int32_t RegistryConnection::FieldAsInteger(std::string_view name) const {
    const Cell& cell = FieldOf(Current(), name);
    switch (cell.kind) {
        case Cell::Kind::Null:
            return 0;
        case Cell::Kind::Integer: {
            int64_t value = cell.integer;
            // The decimals of a NUMERIC are cut off, as a conversion to integer does.
            for (int16_t s = cell.scale; s < 0 && value != 0; ++s) value /= 10;
            return NarrowInteger(value);
        }
        case Cell::Kind::Real:
            if (!std::isfinite(cell.real) || std::fabs(cell.real) > 2147483647.0) {
                throw Error(FieldAsText(name) + " is not a valid integer value");
            }
            return static_cast<int32_t>(std::lround(cell.real));
        case Cell::Kind::Text:
            break;
    }
    return ParseInteger(cell.text);
}

std::string RegistryConnection::FieldAsText(std::string_view name) const {
    const Cell& cell = FieldOf(Current(), name);
    switch (cell.kind) {
        case Cell::Kind::Null:
            return std::string();
        case Cell::Kind::Integer:
            return ScaledText(cell.integer, cell.scale);
        case Cell::Kind::Real: {
            char text[32];
            std::snprintf(text, sizeof text, "%.15g", cell.real);
            return text;
        }
        case Cell::Kind::Text:
            break;
    }
    return cell.text;
}

std::string RegistryConnection::RowText(size_t row, std::string_view name) {
    const size_t current = SQLSelList.current;
    if (!MoveTo(row)) throw Error("The query has no row " + std::to_string(row) + ".");
    std::string text = FieldAsText(name);
    SQLSelList.current = current;
    return text;
}

void RegistryConnection::Close() {
    Query& q = SQLSelList;
    fb::StatusVector status{};
    if (q.handle != 0) client_->free_statement(status, &q.handle, fb::kDsqlDrop);
    // The statement is gone for us either way; the detach frees whatever the server kept.
    ForgetQuery();
    Check(status);
}

void RegistryConnection::ForgetQuery() {
    Query& q = SQLSelList;
    if (!q.traced_sql.empty()) {
        // One line per statement once its rows are known: a statement that failed to open
        // tells how long the attempt took.
        TraceStatement(q.traced_sql, HasParameter() ? &q.tname : nullptr, q.open_ms.value_or(0),
                       q.rows.size(), q.at_end, q.open_ms ? "closed" : "failed");
    }
    q.traced_sql.clear();
    q.open_ms.reset();
    q.handle = 0;
    q.output.reset();
    q.buffer.clear();
    q.indicators.clear();
    q.columns.clear();
    q.rows.clear();
    q.current = 0;
    q.at_end = false;
}

void RegistryConnection::CloseConnection() { Release(true); }

void RegistryConnection::Release(bool report) {
    if (!Attached()) return;
    std::string first_error;
    const auto note = [&](const fb::Status* status) {
        if (Failed(status) && first_error.empty()) first_error = client_->Message(status);
    };
    fb::StatusVector status{};
    if (SQLSelList.handle != 0) {
        client_->free_statement(status, &SQLSelList.handle, fb::kDsqlDrop);
        note(status);
    }
    ForgetQuery();
    if (Tr.handle != 0) {
        client_->rollback_transaction(status, &Tr.handle);
        note(status);
        Tr.handle = 0;
    }
    client_->detach_database(status, &DB.handle);
    note(status);
    DB.handle = 0;
    if (report && !first_error.empty()) throw Error(first_error);
}

void RegistryConnection::Check(const fb::Status* status) const { client_->Check(status); }

void RegistryConnection::TraceStatement(const std::string& sql, const std::string* parameter,
                                        uint32_t ms, size_t rows, bool all,
                                        const char* outcome) noexcept {
    if (!trace_.On()) return;
    try {
        std::vector<TraceField> fields = {{"sql", sql}};
        if (parameter != nullptr) fields.push_back({"parameter", *parameter});
        fields.push_back({"ms", std::to_string(ms)});
        fields.push_back({"rows", std::to_string(rows)});
        fields.push_back({"all", all ? "yes" : "no"});
        fields.push_back({"outcome", outcome});
        trace_.Write("statement", fields);
    } catch (...) {
        // The trace never changes what the connection does.
    }
}

int64_t RegistryConnection::CountOf(const std::string& sql) {
    const uint32_t start = trace_.Ticks();
    try {
        const int64_t count = FetchCount(sql);
        TraceStatement(sql, nullptr, trace_.Ticks() - start, 1, true, "closed");
        return count;
    } catch (...) {
        TraceStatement(sql, nullptr, trace_.Ticks() - start, 0, false, "failed");
        throw;
    }
}

int64_t RegistryConnection::FetchCount(const std::string& sql) {
    if (!InTransaction()) throw Error("The transaction is not active.");
    StatementGuard statement(*client_);
    fb::StatusVector status{};
    client_->alloc_statement2(status, &DB.handle, &statement.handle);
    if (Failed(status)) statement.handle = 0;
    Check(status);
    const SqldaPtr output = NewSqlda(1);
    client_->prepare(status, &Tr.handle, &statement.handle, 0, sql.c_str(), fb::kDialect3,
                     output.get());
    Check(status);
    fb::Xsqlvar& var = output->sqlvar[0];
    const short type = static_cast<short>(var.sqltype & ~1);
    if (output->sqld != 1 || (type != fb::kSqlInt64 && type != fb::kSqlLong)) {
        throw Error("The statement does not give one integer: " + sql);
    }
    int64_t wide = 0;
    int32_t narrow = 0;
    int16_t indicator = 0;
    var.sqldata =
        type == fb::kSqlInt64 ? reinterpret_cast<char*>(&wide) : reinterpret_cast<char*>(&narrow);
    var.sqlind = &indicator;
    client_->execute(status, &Tr.handle, &statement.handle, fb::kSqldaVersion1, nullptr);
    Check(status);
    const fb::Status fetched =
        client_->fetch(status, &statement.handle, fb::kSqldaVersion1, output.get());
    if (fetched == fb::kFetchEnd) throw Error("The statement gave no row: " + sql);
    Check(status);
    if (indicator < 0) return 0;
    return type == fb::kSqlInt64 ? wide : narrow;
}

std::optional<int64_t> RegistryConnection::RegistryRowCount() {
    std::string table(kRegistryTable);
    for (char& c : table) c = UpperAscii(c);
    if (CountOf("select count(*) from rdb$relations where rdb$relation_name = '" + table + "'") ==
        0) {
        return std::nullopt;
    }
    return CountOf("select count(*) from " + std::string(kRegistryTable));
}

}  // namespace kv
