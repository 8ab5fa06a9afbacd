#include "store/pg_history_store.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstring>

#include "platform/error.h"

namespace prax::store {

namespace {

using db::FieldDef;
using db::FieldType;
using db::TableDef;
using db::Value;

constexpr const char* kPendingTable = "ErrorKeysPending";
// Rows a table buffers before they are sent without waiting for the commit.
constexpr std::size_t kBufferedRows = 20000;

std::string Quote(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string ColumnSql(const FieldDef& f, bool notNull) {
  const std::string q = Quote(f.name);
  std::string s = q;
  switch (f.type) {
    case FieldType::Integer:
      s += " SMALLINT" + std::string(notNull ? " NOT NULL" : "") + " CHECK (" + q + " BETWEEN -32768 AND 32767)";
      break;
    case FieldType::Long:
      s += " INTEGER" + std::string(notNull ? " NOT NULL" : "") + " CHECK (" + q +
           " BETWEEN -2147483648 AND 2147483647)";
      break;
    case FieldType::Text: {
      const std::string n = std::to_string(f.size);
      s += " VARCHAR(" + n + ")" + (notNull ? " NOT NULL" : "") + " CHECK (length(" + q + ") BETWEEN 1 AND " + n +
           ")";
      break;
    }
  }
  return s;
}

// The statements that create a table and its index when they are missing.
// A unique index on a name ignores the letter case of A-Z only, as the
// file's does.
std::vector<std::string> CreateSql(const TableDef& t) {
  std::vector<bool> notNull(t.fields.size(), false);
  for (const auto& ix : t.indexes) {
    for (size_t i = 0; i < t.fields.size(); ++i) {
      if (ix.primary && t.fields[i].name == ix.field) notNull[i] = true;
    }
  }
  std::string table = "CREATE TABLE IF NOT EXISTS " + Quote(t.name) + " (";
  for (size_t i = 0; i < t.fields.size(); ++i) table += (i ? ", " : "") + ColumnSql(t.fields[i], notNull[i]);
  std::vector<std::string> sql{table + ")"};
  for (const auto& ix : t.indexes) {
    const bool unique = ix.unique || ix.primary;
    const std::string key = unique ? "translate(" + Quote(ix.field) +
                                         ", 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')"
                                   : Quote(ix.field);
    sql.push_back(std::string(unique ? "CREATE UNIQUE INDEX" : "CREATE INDEX") + " IF NOT EXISTS " +
                  Quote(t.name + "_" + ix.name) + " ON " + Quote(t.name) + " ((" + key + "))");
  }
  return sql;
}

// What the load adds beside the tables: the per-user-and-date indexes of the
// two tables a day is known by, and the user-days whose error keys are still
// to be worked out.
std::vector<std::string> LoadAidsSql() {
  std::vector<std::string> sql;
  for (const char* t : {"AlertSystem", "ActivitySystem"}) {
    sql.push_back("CREATE INDEX IF NOT EXISTS " + Quote(std::string(t) + "_Day_Ix") + " ON " + Quote(t) +
                  " (\"User_Num\", \"Data_Date\")");
  }
  sql.push_back("CREATE TABLE IF NOT EXISTS " + Quote(kPendingTable) +
                " (\"User_Num\" INTEGER NOT NULL, \"Data_Date\" INTEGER NOT NULL, PRIMARY KEY (\"User_Num\", "
                "\"Data_Date\"))");
  return sql;
}

// A value checked as its column holds it; the server refuses the NUL
// character in text, so that is refused here, row by row, as well.
void CheckColumn(const TableDef& t, const FieldDef& f, const Value& v) {
  db::CheckValue(t.name, f, v);
  if (v.IsText() && v.TextRef().find('\0') != std::string::npos) {
    throw Error(err::kOtherEngineError, "The value for field '" + t.name + "." + f.name +
                                            "' holds a NUL character, which the History server cannot store.");
  }
}

void AppendCopyText(std::string& out, const Value& v) {
  if (v.IsNull()) {
    out += "\\N";
  } else if (v.IsInt()) {
    out += std::to_string(v.IntValue());
  } else {
    for (const char c : v.TextRef()) {
      switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
      }
    }
  }
}

using Row = std::vector<Value>;
using ResultRow = std::vector<std::optional<std::string>>;

std::optional<int64_t> Int(const std::optional<std::string>& s) {
  return s ? std::optional<int64_t>(std::stoll(*s)) : std::nullopt;
}

// One connection to the server, and the failures of its statements.
class PgConnection {
 public:
  explicit PgConnection(const std::string& connect) : conn_(PQconnectdb(connect.c_str())) {
    if (!conn_) throw OutOfMemory("connecting to the History server");
    server_ = std::string("server ") + (PQhost(conn_) ? PQhost(conn_) : "?") + " port " +
              (PQport(conn_) ? PQport(conn_) : "?") + ", database " + (PQdb(conn_) ? PQdb(conn_) : "?");
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string why = Message();
      PQfinish(conn_);
      throw Error(err::kCannotOpenFile,
                  "Cannot connect to the History " + server_ + ": " + why +
                      ". Check that the server runs, can be reached and accepts this account (the password comes "
                      "from the password file or the environment), then run the command again.",
                  Cause::kEnvironment);
    }
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
    if (PQsetClientEncoding(conn_, "UTF8") != 0) Fail(nullptr);
  }
  ~PgConnection() { PQfinish(conn_); }
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  const std::string& Server() const { return server_; }
  bool InTransaction() const { return inTransaction_; }

  void Begin() {
    if (inTransaction_) return;
    Run("BEGIN", {});
    inTransaction_ = true;
  }
  void Commit() {
    if (!inTransaction_) return;
    inTransaction_ = false;
    Run("COMMIT", {});
  }
  void Rollback() {
    if (!inTransaction_) return;
    inTransaction_ = false;
    Run("ROLLBACK", {});
  }

  // Runs one statement with its values bound, in text form; returns its rows.
  std::vector<ResultRow> Run(const std::string& sql, const std::vector<std::optional<std::string>>& params) {
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    PGresult* r = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                               nullptr, 0);
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(r);
    std::vector<ResultRow> rows;
    for (int i = 0; i < PQntuples(r); ++i) {
      ResultRow row;
      for (int c = 0; c < PQnfields(r); ++c) {
        row.push_back(PQgetisnull(r, i, c) ? std::nullopt : std::optional<std::string>(PQgetvalue(r, i, c)));
      }
      rows.push_back(std::move(row));
    }
    PQclear(r);
    return rows;
  }

  // Sends rows of tab-separated COPY text to the table's columns in one go.
  void Copy(const TableDef& t, const std::string& data) {
    std::string sql = "COPY " + Quote(t.name) + " (";
    for (size_t i = 0; i < t.fields.size(); ++i) sql += (i ? ", " : "") + Quote(t.fields[i].name);
    sql += ") FROM STDIN";
    PGresult* r = PQexec(conn_, sql.c_str());
    if (PQresultStatus(r) != PGRES_COPY_IN) Fail(r);
    PQclear(r);
    constexpr size_t kChunk = 1 << 20;
    for (size_t at = 0; at < data.size(); at += kChunk) {
      const size_t n = std::min(kChunk, data.size() - at);
      if (PQputCopyData(conn_, data.data() + at, static_cast<int>(n)) != 1) Fail(nullptr);
    }
    if (PQputCopyEnd(conn_, nullptr) != 1) Fail(nullptr);
    bool failed = false;
    while ((r = PQgetResult(conn_)) != nullptr) {
      if (!failed && PQresultStatus(r) != PGRES_COMMAND_OK) {
        failed = true;
        Fail(r);
      }
      PQclear(r);
    }
  }

  // Throws the failure of the last statement (its result cleared). A lost
  // or refused connection, a server shutting down or out of resources is
  // the machine; a value or table the server refuses is the data.
  [[noreturn]] void Fail(PGresult* r) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state ? state : "";
    const std::string why = r && PQresultErrorMessage(r)[0] ? Trimmed(PQresultErrorMessage(r)) : Message();
    PQclear(r);
    // Drain what the server still sends for the failed statement.
    while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);
    const bool data = code.starts_with("22") || code.starts_with("23");
    if (code == "42P01") {
      throw Error(err::kCannotFindTable, "The History " + server_ + " has no such table: " + why);
    }
    if (data) throw Error(err::kOtherEngineError, "The History " + server_ + " refused a value: " + why);
    const bool lost = PQstatus(conn_) == CONNECTION_BAD || code.starts_with("08") || code.starts_with("57P");
    inTransaction_ = false;
    throw Error(err::kOtherEngineError,
                std::string(lost ? "The connection to the History " : "The History ") + server_ +
                    (lost ? " was lost: " : " failed: ") + why +
                    ". Check the server, then run the command again; the days stored before are kept.",
                Cause::kEnvironment);
  }

 private:
  static std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
  }
  std::string Message() const { return Trimmed(PQerrorMessage(conn_)); }

  PGconn* conn_;
  std::string server_;
  bool inTransaction_ = false;
};

// The rows of one table waiting to be sent, with their count.
struct Buffer {
  const TableDef* def = nullptr;
  std::vector<Row> rows;
  int64_t sent = 0;  // rows sent in the open transaction
};

class PgHistoryStore;

class PgListTable : public ListTable {
 public:
  PgListTable(PgHistoryStore& store, Buffer& buffer) : store_(store), buffer_(buffer) {}
  const std::string& TableName() const override { return buffer_.def->name; }
  std::string NameColumn() const override { return buffer_.def->fields[1].name; }
  std::optional<int64_t> MaxId() override;
  std::vector<ListEntry> Entries() override;
  void Insert(int16_t id, std::string_view name) override;
  void BeginWrite() override;
  // One loader at a time writes the lists; no other program adds names.
  int64_t DataVersion() override { return 0; }

 private:
  PgHistoryStore& store_;
  Buffer& buffer_;
};

class PgHistoryStore : public HistoryStore {
 public:
  explicit PgHistoryStore(const std::string& connect) : conn_(connect) {
    untracked_ = Exists("AlertSystem") && !Exists(kPendingTable);
    conn_.Begin();
    for (const auto& t : HistorySchema()) {
      for (const auto& s : CreateSql(t)) conn_.Run(s, {});
    }
    for (const auto& s : LoadAidsSql()) conn_.Run(s, {});
    conn_.Commit();
    for (const auto& t : HistorySchema()) buffers_[t.name].def = &t;
    static constexpr const char* kLists[kHistoryListCount] = {
        "ApplicationsList", "WindowsList", "ProjectsList", "ProjectTasksList",
        "NotesList",        "BodyPartsList", "DiscomfortsList", "EMSToolsList"};
    for (const char* l : kLists) lists_.push_back(std::make_unique<PgListTable>(*this, buffers_.at(l)));
  }

  // Every buffered row goes to the server, in the open transaction.
  void Flush() {
    for (auto& [name, b] : buffers_) FlushTable(b);
  }

  // A checked row joins its table's buffer; a full buffer is sent first, so
  // the row just added is always still buffered.
  void Buffered(Buffer& b, Row row) {
    for (size_t i = 0; i < row.size(); ++i) CheckColumn(*b.def, b.def->fields[i], row[i]);
    if (b.rows.size() >= kBufferedRows) FlushTable(b);
    b.rows.push_back(std::move(row));
  }

  void Write() { conn_.Begin(); }

  // A read sees the rows buffered for the table it reads, and no other
  // buffer is sent for it (a user note waits there for its note).
  std::vector<ResultRow> Read(const char* table, const std::string& sql,
                              const std::vector<std::optional<std::string>>& params) {
    FlushTable(buffers_.at(table));
    return conn_.Run(sql, params);
  }

  bool DayLoaded(DayTable table, int32_t user, int32_t date) override {
    return !Read(DayTableName(table), "SELECT 1 FROM " + Quote(DayTableName(table)) +
                     " WHERE \"User_Num\" = $1 AND \"Data_Date\" = $2 LIMIT 1",
                 {std::to_string(user), std::to_string(date)})
                .empty();
  }

  std::set<int32_t> LoadedDays(DayTable table, int32_t user, const std::vector<int32_t>& dates) override {
    std::set<int32_t> loaded;
    if (dates.empty()) return loaded;
    std::string list = "{";
    for (const int32_t d : dates) (list += list.size() > 1 ? "," : "") += std::to_string(d);
    list += "}";
    for (const auto& r : Read(DayTableName(table), "SELECT d FROM unnest($2::integer[]) AS d WHERE EXISTS (SELECT 1 FROM " +
                                  Quote(DayTableName(table)) + " WHERE \"User_Num\" = $1 AND \"Data_Date\" = d)",
                              {std::to_string(user), list})) {
      loaded.insert(static_cast<int32_t>(*Int(r[0])));
    }
    return loaded;
  }

  ListTable& List(HistoryList list) override { return *lists_.at(static_cast<size_t>(list)); }

  void AppendAlertHour(const AlertHourRow& row) override {
    Row values{Value(int64_t{row.user}), Value(int64_t{row.date}), Value(row.hour)};
    for (const int64_t c : row.counts) values.emplace_back(c);
    values.emplace_back(row.errorKeys);
    Buffered(buffers_.at("AlertSystem"), std::move(values));
  }

  void AppendSystemUsage(const SystemUsageRow& row) override {
    Buffered(buffers_.at("EMSSystemUsage"), {Value(int64_t{row.user}), Opt(row.date), Opt(row.hour), Value(row.toolId)});
  }

  // A user note is found again by its place in the buffer: its note is set
  // before the row is sent.
  RowId AppendUserNote(const UserNoteRow& row) override {
    Buffer& b = buffers_.at("UserNotes");
    Buffered(b, {Value(int64_t{row.user}), Value(int64_t{row.date}), Opt(row.hour), Opt(row.minute),
                 Value(row.bodyPartId), Value(row.discomfortId), Value()});
    return static_cast<RowId>(b.sent + static_cast<int64_t>(b.rows.size()));
  }

  void SetUserNoteNote(RowId row, int64_t noteId) override {
    Buffer& b = buffers_.at("UserNotes");
    const int64_t at = row - 1 - b.sent;
    if (at < 0 || at >= static_cast<int64_t>(b.rows.size())) {
      throw Error(err::kNoCurrentRecord, "No current record: the UserNotes row was already sent to the server.");
    }
    CheckColumn(*b.def, b.def->fields[6], Value(noteId));
    b.rows[static_cast<size_t>(at)][6] = Value(noteId);
  }

  void AppendProjectNote(const ProjectNoteRow& row) override {
    Buffered(buffers_.at("ProjectNotes"), {Value(int64_t{row.user}), Value(int64_t{row.date}), Opt(row.hour),
                                           Opt(row.minute), Value(row.projectId), Value(row.taskId),
                                           Value(row.noteId)});
  }

  void AppendActivity(const ActivityRow& row) override {
    Buffered(buffers_.at("ActivitySystem"),
             {Value(int64_t{row.user}), Value(int64_t{row.date}), Value(row.hour), Value(row.appId),
              Value(row.windowId), Value(row.projectId), Value(row.taskId), Value(row.keyNum), Value(row.keyCount)});
  }

  // Rows come in stored order: the order of the table's pages, which is the
  // order they were added in while no row of the user moved.
  std::vector<StoredKeyCount> WholeApplicationKeyCounts(int32_t user, std::optional<int32_t> date) override {
    std::vector<StoredKeyCount> rows;
    for (const auto& r : Read("ActivitySystem", "SELECT \"Data_Date\", \"Data_Hour\", \"Key_Num\", \"Key_Count\" FROM "
                              "\"ActivitySystem\" WHERE \"User_Num\" = $1 AND \"App_Id\" = -1" +
                                  std::string(date ? " AND \"Data_Date\" = $2" : "") + " ORDER BY ctid",
                              Params(user, date))) {
      rows.push_back(StoredKeyCount{Int(r[0]), r[1], Int(r[2]), Int(r[3])});
    }
    return rows;
  }

  std::vector<StoredAlertHour> AlertHours(int32_t user, std::optional<int32_t> date) override {
    std::vector<StoredAlertHour> rows;
    for (const auto& r : Read("AlertSystem", "SELECT (ctid::text::point)[0]::bigint, (ctid::text::point)[1]::bigint, "
                              "\"Data_Date\", \"Data_Hour\", \"Error_Keys\" FROM \"AlertSystem\" WHERE "
                              "\"User_Num\" = $1" +
                                  std::string(date ? " AND \"Data_Date\" = $2" : "") + " ORDER BY \"AlertSystem\".ctid",
                              Params(user, date))) {
      rows.push_back(StoredAlertHour{(*Int(r[0]) << 16) | *Int(r[1]), Int(r[2]), r[3], Int(r[4])});
    }
    return rows;
  }

  void SetErrorKeys(RowId row, int64_t errorKeys) override {
    const TableDef& t = *buffers_.at("AlertSystem").def;
    CheckColumn(t, t.fields.back(), Value(errorKeys));
    Write();
    const std::string tid = "(" + std::to_string(row >> 16) + "," + std::to_string(row & 0xFFFF) + ")";
    conn_.Run("UPDATE \"AlertSystem\" SET \"Error_Keys\" = $1 WHERE ctid = $2::tid", {std::to_string(errorKeys), tid});
  }

  void MarkErrorKeysPending(int32_t user, int32_t date) override {
    Write();
    conn_.Run("INSERT INTO " + Quote(kPendingTable) + " VALUES ($1, $2) ON CONFLICT DO NOTHING",
              {std::to_string(user), std::to_string(date)});
  }

  std::vector<int32_t> ErrorKeysPending(int32_t user) override {
    std::vector<int32_t> dates;
    for (const auto& r : conn_.Run("SELECT \"Data_Date\" FROM " + Quote(kPendingTable) +
                                  " WHERE \"User_Num\" = $1 ORDER BY \"Data_Date\"",
                              {std::to_string(user)})) {
      dates.push_back(static_cast<int32_t>(*Int(r[0])));
    }
    return dates;
  }

  void ClearErrorKeysPending(int32_t user, std::optional<int32_t> date) override {
    Write();
    conn_.Run("DELETE FROM " + Quote(kPendingTable) + " WHERE \"User_Num\" = $1" +
                  std::string(date ? " AND \"Data_Date\" = $2" : ""),
              Params(user, date));
  }

  bool ErrorKeysUntracked() const override { return untracked_; }

  void Commit() override {
    if (closed_) return;
    Flush();
    conn_.Commit();
    for (auto& [name, b] : buffers_) {
      added_[name] += b.sent;
      b.sent = 0;
    }
  }

  void Rollback() override {
    for (auto& [name, b] : buffers_) {
      b.rows.clear();
      b.sent = 0;
    }
    if (!closed_) conn_.Rollback();
  }

  void Close() override {
    Commit();
    closed_ = true;
  }
  const std::string& LeftInUse() const override { return leftInUse_; }

  std::map<std::string, int64_t> RowsAdded() const override {
    std::map<std::string, int64_t> rows;
    for (const auto& t : HistorySchema()) {
      const auto it = added_.find(t.name);
      rows[t.name] = it == added_.end() ? 0 : it->second;
    }
    return rows;
  }

  PgConnection& Connection() { return conn_; }

 private:
  static const char* DayTableName(DayTable t) { return t == DayTable::kAlerts ? "AlertSystem" : "ActivitySystem"; }
  static Value Opt(const std::optional<int64_t>& v) { return v ? Value(*v) : Value(); }
  static Value Opt(const std::optional<std::string>& v) { return v ? Value(*v) : Value(); }
  static std::vector<std::optional<std::string>> Params(int32_t user, std::optional<int32_t> date) {
    std::vector<std::optional<std::string>> p{std::to_string(user)};
    if (date) p.push_back(std::to_string(*date));
    return p;
  }

  bool Exists(const char* table) {
    return conn_.Run("SELECT to_regclass($1) IS NOT NULL", {Quote(table)}).at(0).at(0) == "t";
  }

  void FlushTable(Buffer& b) {
    if (b.rows.empty()) return;
    std::string data;
    for (const Row& row : b.rows) {
      for (size_t i = 0; i < row.size(); ++i) {
        if (i) data += '\t';
        AppendCopyText(data, row[i]);
      }
      data += '\n';
    }
    Write();
    conn_.Copy(*b.def, data);
    b.sent += static_cast<int64_t>(b.rows.size());
    b.rows.clear();
  }

  PgConnection conn_;
  bool untracked_ = false, closed_ = false;
  std::map<std::string, Buffer> buffers_;
  std::map<std::string, int64_t> added_;
  std::vector<std::unique_ptr<PgListTable>> lists_;
  std::string leftInUse_;
};

std::optional<int64_t> PgListTable::MaxId() {
  const auto rows = store_.Read(buffer_.def->name.c_str(), "SELECT max(" + Quote(buffer_.def->fields[0].name) + ") FROM " +
                                    Quote(buffer_.def->name),
                                {});
  return Int(rows.at(0).at(0));
}

std::vector<ListEntry> PgListTable::Entries() {
  std::vector<ListEntry> entries;
  for (const auto& r : store_.Read(buffer_.def->name.c_str(), "SELECT " + Quote(buffer_.def->fields[0].name) + ", " +
                                       Quote(buffer_.def->fields[1].name) + " FROM " + Quote(buffer_.def->name) +
                                       " ORDER BY ctid",
                                   {})) {
    entries.push_back(ListEntry{Int(r[0]), r[1]});
  }
  return entries;
}

void PgListTable::Insert(int16_t id, std::string_view name) {
  store_.Buffered(buffer_, {Value(int64_t{id}), Value(std::string(name))});
}

void PgListTable::BeginWrite() { store_.Write(); }

}  // namespace

std::unique_ptr<HistoryStore> OpenPgHistory(const std::string& connect) {
  return std::make_unique<PgHistoryStore>(connect);
}

void CreatePgHistory(const std::string& connect) {
  PgConnection conn(connect);
  conn.Begin();
  for (auto t = HistorySchema().rbegin(); t != HistorySchema().rend(); ++t) {
    conn.Run("DROP TABLE IF EXISTS " + Quote(t->name), {});
  }
  conn.Run("DROP TABLE IF EXISTS " + Quote(kPendingTable), {});
  for (const auto& t : HistorySchema()) {
    for (const auto& s : CreateSql(t)) conn.Run(s, {});
  }
  for (const auto& s : LoadAidsSql()) conn.Run(s, {});
  conn.Commit();
}

}  // namespace prax::store
