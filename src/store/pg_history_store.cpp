#include "store/pg_history_store.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>

#include "platform/error.h"
#include "store/sqlite_file.h"
#include "store/pg_connection.h"

namespace prax::store {

namespace {

using db::FieldDef;
using db::FieldType;
using db::TableDef;
using db::Value;
using db::Quote;
using pg::ResultRow;

// Values (rows times columns) of a table that go by COPY rather than with
// the other statements: a wide table's day goes by COPY, a few notes not.
constexpr std::size_t kCopyValues = 300;
// Rows a table buffers before they are sent without waiting for the commit.
constexpr std::size_t kBufferedRows = 20000;
// Bytes of day-table rows made before they go to the server (see Streamed).
constexpr std::size_t kStreamBytes = 1 << 13;

// Two names are one for a list's unique name index when they have the same
// length in bytes and the same text, A-Z folded, up to and including the
// first NUL (text after a NUL, junk of a damaged log, is not compared), as
// the file's name index has it.
std::string NameKey(std::string_view name) {
  const size_t nul = name.find('\0');
  std::string key(name.substr(0, nul == std::string_view::npos ? name.size() : nul + 1));
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (nul != std::string_view::npos) key += std::to_string(name.size());
  return key;
}

// NameKey on the server, where a NUL is kept as U+FFFD (three bytes).
std::string NameKeySql(const std::string& column) {
  const std::string at = "strpos(" + column + ", E'\\uFFFD')";
  return "translate(CASE WHEN " + at + " > 0 THEN left(" + column + ", " + at + ") || (octet_length(" + column +
         ") - 2 * (octet_length(" + column + ") - octet_length(replace(" + column +
         ", E'\\uFFFD', ''))) / 3)::text ELSE " + column +
         " END, 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')";
}

// The statements that create a table and its index when they are missing.
// A unique index on a name holds NameKey; others hold their field.
std::vector<std::string> CreateSql(const TableDef& t) {
  std::vector<bool> notNull(t.fields.size(), false);
  for (const auto& ix : t.indexes) {
    for (size_t i = 0; i < t.fields.size(); ++i) {
      if (ix.primary && t.fields[i].name == ix.field) notNull[i] = true;
    }
  }
  std::string table = "CREATE TABLE IF NOT EXISTS " + Quote(t.name) + " (";
  for (size_t i = 0; i < t.fields.size(); ++i) table += (i ? ", " : "") + ColumnSql(t.fields[i], notNull[i], db::Engine::kServer);
  std::vector<std::string> sql{table + ")"};
  for (const auto& ix : t.indexes) {
    const bool unique = ix.unique || ix.primary;
    const auto field = std::find_if(t.fields.begin(), t.fields.end(), [&](const FieldDef& f) { return f.name == ix.field; });
    const bool name = unique && field != t.fields.end() && field->type == FieldType::Text;
    const std::string key = name ? NameKeySql(Quote(ix.field)) : Quote(ix.field);
    sql.push_back(std::string(unique ? "CREATE UNIQUE INDEX" : "CREATE INDEX") + " IF NOT EXISTS " +
                  Quote(t.name + "_" + ix.name) + " ON " + Quote(t.name) + " ((" + key + "))");
  }
  return sql;
}

// What the load adds beside the tables: the per-user-and-date indexes of the
// two tables a day is known by (DayIndexesSql), and the user-days whose error
// keys are still to be worked out.
std::vector<std::string> DayIndexesSql() {
  std::vector<std::string> sql;
  for (const char* t : {"AlertSystem", "ActivitySystem"}) {
    sql.push_back("CREATE INDEX IF NOT EXISTS " + Quote(std::string(t) + "_Day_Ix") + " ON " + Quote(t) +
                  " (\"User_Num\", \"Data_Date\")");
  }
  return sql;
}

std::vector<std::string> LoadAidsSql() {
  std::vector<std::string> sql = DayIndexesSql();
  sql.push_back("CREATE TABLE IF NOT EXISTS " + Quote(kPendingTable) +
                " (\"User_Num\" INTEGER NOT NULL, \"Data_Date\" INTEGER NOT NULL, PRIMARY KEY (\"User_Num\", "
                "\"Data_Date\"))");
  return sql;
}

using Row = std::vector<Value>;

std::vector<std::string> ColumnNames(const TableDef& t) {
  std::vector<std::string> names;
  for (const auto& f : t.fields) names.push_back(f.name);
  return names;
}

void AppendNumber(std::string& out, int64_t n) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof(digits), n).ptr);
}

// A value as COPY's text format holds it, or as an element of an array
// literal.
enum class Format { kCopy, kArray };
void AppendValue(std::string& out, const Value& v, Format format) {
  const bool copy = format == Format::kCopy;
  if (v.IsNull()) {
    copy ? pg::AppendCopyNull(out) : pg::AppendArrayNull(out);
  } else if (v.IsInt()) {
    AppendNumber(out, v.IntValue());
  } else {
    copy ? pg::AppendCopyText(out, v.TextRef()) : pg::AppendArrayText(out, v.TextRef());
  }
}

std::optional<int64_t> Int(const std::optional<std::string>& s) {
  return s ? std::optional<int64_t>(std::stoll(*s)) : std::nullopt;
}

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
  // The names stored or buffered are forgotten when a transaction is undone.
  void Forget() { keys_.reset(); }

 private:
  PgHistoryStore& store_;
  Buffer& buffer_;
  // The keys of the names the table holds, under its unique name index
  // (read at the first insert); none for a list without one.
  std::optional<std::unordered_set<std::string>> keys_;
};

class PgHistoryStore : public HistoryStore {
 public:
  // readOnly: a session that only reads what is loaded (the server refuses
  // any write in it); the tables must exist.
  PgHistoryStore(const std::string& connect, int timeout, bool readOnly = false) : conn_(connect, timeout) {
    untracked_ = Exists("AlertSystem") && !Exists(kPendingTable);
    if (readOnly) {
      conn_.Run("SET default_transaction_read_only = on");
      MakeBuffers();
      return;
    }
    conn_.Begin();
    for (const auto& t : HistorySchema()) {
      for (const auto& s : CreateSql(t)) conn_.Run(s, {});
    }
    for (const auto& s : LoadAidsSql()) conn_.Run(s, {});
    // A database with no day loaded yet (a fresh one) gets the day indexes,
    // and the activity table its own, when the load first reads activity
    // rows by user or closes: built once over the rows they cost far less
    // than kept up row by row. Meanwhile the days it has loaded are known
    // without a probe: nobody else writes while the loaders' lock is held.
    const bool fresh = conn_.Run("SELECT NOT EXISTS (SELECT 1 FROM \"AlertSystem\") AND NOT EXISTS (SELECT 1 FROM "
                                 "\"ActivitySystem\")")
                           .at(0)
                           .at(0) == "t";
    if (fresh) {
      const TableDef& activity = RowTable(RowKind::kActivity);
      for (const auto& ix : activity.indexes) conn_.Run("DROP INDEX " + Quote(activity.name + "_" + ix.name));
      for (const char* t : {"AlertSystem", "ActivitySystem"}) conn_.Run("DROP INDEX " + Quote(std::string(t) + "_Day_Ix"));
      deferred_ = CreateSql(activity);
      for (auto& sql : DayIndexesSql()) deferred_.push_back(std::move(sql));
    }
    conn_.Commit();
    // A day whose commit the server loses in a crash is not there for the
    // next run, which loads it again from its log: the load need not wait
    // for the server's disk at every day.
    conn_.Run("SET synchronous_commit = off");
    MakeBuffers();
  }

  void MakeBuffers() {
    for (const auto& t : HistorySchema()) buffers_[t.name].def = &t;
    for (int l = 0; l < kHistoryListCount; ++l) {
      lists_.push_back(std::make_unique<PgListTable>(*this, buffers_.at(ListTableDef(static_cast<HistoryList>(l)).name)));
    }
    alertBuffer_ = &buffers_.at(RowTable(RowKind::kAlertHour).name);
    activityBuffer_ = &buffers_.at(RowTable(RowKind::kActivity).name);
  }

  // Every row and change waiting goes to the server: COPYs, then one round
  // trip for the rest.
  void Flush(bool commit) {
    EndStream();
    Statements out;
    for (auto& [name, b] : buffers_) SendRows(b, out);
    QueueErrorKeys(out);
    QueuePending(out);
    Send(std::move(out), commit);
  }

  // A checked row joins its table's buffer; a full buffer is sent first, so
  // the row just added is always still buffered.
  void Buffered(Buffer& b, Row row) {
    CheckRow(*b.def, row);
    if (b.rows.size() >= kBufferedRows) {
      Statements few;
      SendRows(b, few);
    }
    b.rows.push_back(std::move(row));
  }

  // A read sees the rows buffered for the table it reads, and no other
  // buffer is sent for it.
  std::vector<ResultRow> Read(const char* table, const std::string& sql,
                              const std::vector<std::optional<std::string>>& params) {
    EndStream();
    Statements out;
    if (const auto b = buffers_.find(table); b != buffers_.end()) SendRows(b->second, out);
    if (std::string_view(table) == "AlertSystem") QueueErrorKeys(out);
    if (std::string_view(table) == kPendingTable) QueuePending(out);
    Send(std::move(out), false);
    return conn_.Run(sql, params);
  }

  bool DayLoaded(DayTable table, int32_t user, int32_t date) override {
    if (!deferred_.empty()) return days_[Slot(table)].contains({user, date});
    return !Read(DayTableName(table), "SELECT 1 FROM " + Quote(DayTableName(table)) +
                     " WHERE \"User_Num\" = $1 AND \"Data_Date\" = $2 LIMIT 1",
                 {std::to_string(user), std::to_string(date)})
                .empty();
  }

  std::vector<int32_t> LoadedDates(DayTable table, int32_t user, int32_t first, int32_t last) override {
    std::vector<int32_t> loaded;
    if (!deferred_.empty()) {
      const Days& days = days_[Slot(table)];
      const auto end = days.upper_bound({user, last});
      for (auto it = days.lower_bound({user, first}); it != end; ++it) loaded.push_back(it->second);
      return loaded;
    }
    // Each step seeks the next date in the day index: one probe per date
    // loaded, never a walk over a day's rows.
    const std::string t = Quote(DayTableName(table));
    const auto next = [&](const char* after) {
      return "(SELECT \"Data_Date\" FROM " + t + " WHERE \"User_Num\" = $1 AND \"Data_Date\" " + after +
             " ORDER BY \"Data_Date\" LIMIT 1)";
    };
    for (const auto& r : Read(DayTableName(table),
                              "WITH RECURSIVE loaded(d) AS (SELECT " + next(">= $2") + " UNION ALL SELECT " + next("> d") +
                                  " FROM loaded WHERE d < $3) SELECT d FROM loaded WHERE d <= $3",
                              {std::to_string(user), std::to_string(first), std::to_string(last)})) {
      loaded.push_back(static_cast<int32_t>(*Int(r[0])));
    }
    return loaded;
  }

  // Both walk the users through the day index (each next user one probe),
  // then read each user's dates from it, so neither scans the table.
  std::map<int32_t, int64_t> DaysPerDate(DayTable table, int32_t from, int32_t to) override {
    BuildDeferredIndexes();
    const std::string t = Quote(DayTableName(table));
    std::map<int32_t, int64_t> days;
    for (const auto& r : Read(DayTableName(table), UsersOf(t) + "SELECT d.\"Data_Date\", COUNT(*) FROM u CROSS JOIN "
                              "LATERAL (SELECT DISTINCT \"Data_Date\" FROM " + t + " WHERE \"User_Num\" = u.n AND "
                              "\"Data_Date\" BETWEEN $1 AND $2) d WHERE u.n IS NOT NULL GROUP BY d.\"Data_Date\"",
                              {std::to_string(from), std::to_string(to)})) {
      days[static_cast<int32_t>(*Int(r[0]))] = *Int(r[1]);
    }
    return days;
  }

  std::map<int32_t, int32_t> NewestDays(DayTable table) override {
    BuildDeferredIndexes();
    const std::string t = Quote(DayTableName(table));
    std::map<int32_t, int32_t> newest;
    for (const auto& r : Read(DayTableName(table), UsersOf(t) + "SELECT n, (SELECT MAX(\"Data_Date\") FROM " + t +
                              " WHERE \"User_Num\" = u.n) FROM u WHERE n IS NOT NULL", {})) {
      if (const auto date = Int(r[1])) newest[static_cast<int32_t>(*Int(r[0]))] = static_cast<int32_t>(*date);
    }
    return newest;
  }

  // "WITH RECURSIVE u(n)": the users of the table t (quoted), in order.
  static std::string UsersOf(const std::string& t) {
    return "WITH RECURSIVE u(n) AS (SELECT MIN(\"User_Num\") FROM " + t + " UNION ALL SELECT (SELECT MIN(\"User_Num\") "
           "FROM " + t + " WHERE \"User_Num\" > u.n) FROM u WHERE u.n IS NOT NULL) ";
  }

  ListTable& List(HistoryList list) override { return *lists_.at(static_cast<size_t>(list)); }

  // A day counts as loaded once a row of its table is taken.
  void Append(TableRow row) override {
    if (IsDayRow(row.kind)) return AppendValues(row.kind, row.values);
    Buffered(buffers_.at(RowTable(row.kind).name), std::move(row.values));
  }

  void AppendValues(RowKind kind, std::span<Value> values) override {
    if (!IsDayRow(kind)) return HistoryStore::AppendValues(kind, values);
    Streamed(kind, values);
    Taken(kind == RowKind::kAlertHour ? DayTable::kAlerts : DayTable::kActivity, values);
  }

  // Key counts come in any order (they are summed); alert rows in stored
  // order: the order of the table's pages, which is the order they were
  // added in while no row of the user moved.
  std::vector<StoredKeyCount> WholeApplicationKeyCounts(int32_t user, std::optional<DateSpan> dates) override {
    BuildDeferredIndexes();
    std::vector<StoredKeyCount> rows;
    for (const auto& r : Read("ActivitySystem", "SELECT \"Data_Date\", \"Data_Hour\", \"Key_Num\", \"Key_Count\" FROM "
                              "\"ActivitySystem\" WHERE \"User_Num\" = $1 AND \"App_Id\" = -1" +
                                  std::string(dates ? " AND \"Data_Date\" BETWEEN $2 AND $3" : ""),
                              Params(user, dates))) {
      rows.push_back(StoredKeyCount{Int(r[0]), r[1], Int(r[2]), Int(r[3])});
    }
    return rows;
  }

  std::vector<StoredAlertHour> AlertHours(int32_t user, std::optional<DateSpan> dates) override {
    std::vector<StoredAlertHour> rows;
    for (const auto& r : Read("AlertSystem", "SELECT (ctid::text::point)[0]::bigint, (ctid::text::point)[1]::bigint, "
                              "\"Data_Date\", \"Data_Hour\", \"Error_Keys\" FROM \"AlertSystem\" WHERE "
                              "\"User_Num\" = $1" +
                                  std::string(dates ? " AND \"Data_Date\" BETWEEN $2 AND $3" : "") +
                                  " ORDER BY \"AlertSystem\".ctid",
                              Params(user, dates))) {
      rows.push_back(StoredAlertHour{(*Int(r[0]) << 16) | *Int(r[1]), Int(r[2]), r[3], Int(r[4])});
    }
    return rows;
  }

  // The rewrites wait, like the appends, and go to the server in one
  // statement.
  void SetErrorKeys(RowId row, int64_t errorKeys) override {
    const TableDef& t = *buffers_.at("AlertSystem").def;
    db::CheckValue(t.name, t.fields.back(), Value(errorKeys));
    errorKeys_[row] = errorKeys;
  }

  // The marks and clears wait, in order, and go to the server a run of
  // alike ones in one statement.
  void MarkErrorKeysPending(int32_t user, int32_t date) override { pending_.push_back({PendingOp::kMark, user, date}); }

  std::vector<int32_t> ErrorKeysPending(int32_t user) override {
    std::vector<int32_t> dates;
    for (const auto& r : Read(kPendingTable, "SELECT \"Data_Date\" FROM " + Quote(kPendingTable) +
                                  " WHERE \"User_Num\" = $1 ORDER BY \"Data_Date\"",
                              {std::to_string(user)})) {
      dates.push_back(static_cast<int32_t>(*Int(r[0])));
    }
    return dates;
  }

  void ClearErrorKeysPending(int32_t user, std::optional<int32_t> date) override {
    pending_.push_back(date ? PendingOp{PendingOp::kClear, user, *date} : PendingOp{PendingOp::kClearUser, user, 0});
  }

  bool ErrorKeysUntracked() const override { return untracked_; }

  void Commit() override {
    if (closed_) return;
    Flush(true);
    for (auto& [name, b] : buffers_) {
      added_[name] += b.sent;
      b.sent = 0;
    }
    for (size_t t = 0; t < 2; ++t) {
      days_[t].merge(openDays_[t]);
      openDays_[t].clear();
    }
    builtInOpen_ = false;
  }

  void Rollback() override {
    stream_.clear();
    for (auto& list : lists_) list->Forget();
    errorKeys_.clear();
    pending_.clear();
    for (Days& open : openDays_) open.clear();
    // Indexes built in the transaction undone are gone with it.
    if (builtInOpen_) deferred_ = std::move(built_);
    builtInOpen_ = false;
    for (auto& [name, b] : buffers_) {
      b.rows.clear();
      b.sent = 0;
    }
    if (!closed_) conn_.Rollback();
  }

  void Close() override {
    closing_ = true;
    Commit();
    if (!closed_) BuildDeferredIndexes();
    closed_ = true;
  }
  const std::string& LeftInUse() const override { return leftInUse_; }

  std::map<std::string, int64_t> RowsAdded() const override { return EveryHistoryTable(added_); }

 private:
  static const char* DayTableName(DayTable t) { return t == DayTable::kAlerts ? "AlertSystem" : "ActivitySystem"; }
  static std::vector<std::optional<std::string>> Params(int32_t user, std::optional<DateSpan> dates) {
    std::vector<std::optional<std::string>> p{std::to_string(user)};
    if (dates) p.insert(p.end(), {std::to_string(dates->first), std::to_string(dates->last)});
    return p;
  }

  bool Exists(const char* table) {
    return conn_.Run("SELECT to_regclass($1) IS NOT NULL", {Quote(table)}).at(0).at(0) == "t";
  }

  using Statements = std::vector<pg::Connection::Statement>;

  void BuildDeferredIndexes() {
    if (deferred_.empty()) return;
    EndStream();
    for (const auto& sql : deferred_) conn_.Run(sql);
    builtInOpen_ = conn_.InTransaction();
    built_ = std::move(deferred_);
    deferred_.clear();
  }

  // Sends the statements in one round trip, in the open transaction (begun
  // first when none is open); when told, commits it and begins the next, so
  // that the next day's rows need no round trip of their own to begin.
  void Send(Statements statements, bool commit) {
    if (statements.empty() && (!commit || !conn_.InTransaction())) return;
    if (!conn_.InTransaction()) statements.insert(statements.begin(), {"BEGIN", {}});
    if (commit) {
      statements.push_back({"COMMIT", {}});
      if (!closing_) statements.push_back({"BEGIN", {}});
    }
    conn_.RunAll(statements);
  }

  void QueuePending(Statements& out) {
    for (size_t from = 0; from < pending_.size();) {
      const PendingOp::Kind kind = pending_[from].kind;
      std::string users = "{", dates = "{";
      size_t to = from;
      for (; to < pending_.size() && pending_[to].kind == kind; ++to) {
        (users += to > from ? "," : "") += std::to_string(pending_[to].user);
        (dates += to > from ? "," : "") += std::to_string(pending_[to].date);
      }
      const std::string table = Quote(kPendingTable);
      if (kind == PendingOp::kMark) {
        out.push_back({"INSERT INTO " + table + " SELECT * FROM unnest($1::integer[], $2::integer[]) ON CONFLICT DO "
                       "NOTHING",
                       {users + "}", dates + "}"}});
      } else if (kind == PendingOp::kClear) {
        out.push_back({"DELETE FROM " + table + " p USING unnest($1::integer[], $2::integer[]) AS u(n, d) WHERE "
                       "p.\"User_Num\" = u.n AND p.\"Data_Date\" = u.d",
                       {users + "}", dates + "}"}});
      } else {
        out.push_back({"DELETE FROM " + table + " WHERE \"User_Num\" = ANY ($1::integer[])", {users + "}"}});
      }
      from = to;
    }
    pending_.clear();
  }

  void QueueErrorKeys(Statements& out) {
    if (errorKeys_.empty()) return;
    std::string tids = "{", values = "{";
    for (const auto& [row, keys] : errorKeys_) {
      if (tids.size() > 1) {
        tids += ',';
        values += ',';
      }
      tids += "\"(" + std::to_string(row >> 16) + "," + std::to_string(row & 0xFFFF) + ")\"";
      values += std::to_string(keys);
    }
    // ctid = ANY finds the rows by their place, without a scan.
    out.push_back({"UPDATE \"AlertSystem\" SET \"Error_Keys\" = ($2::integer[])[array_position($1::tid[], ctid)] "
                   "WHERE ctid = ANY ($1::tid[])",
                   {tids + "}", values + "}"}});
    errorKeys_.clear();
  }

  // A table's few buffered rows as one insert of its columns, each bound as
  // an array, in buffer order (the order they are stored in): they travel
  // with the statements of the same round trip.
  void QueueRows(Buffer& b, Statements& out) {
    if (b.rows.empty()) return;
    const TableDef& t = *b.def;
    std::string sql = "INSERT INTO " + Quote(t.name) + " SELECT * FROM unnest(";
    std::vector<pg::Param> columns;
    for (size_t c = 0; c < t.fields.size(); ++c) {
      const FieldType type = t.fields[c].type;
      sql += std::string(c ? ", " : "") + "$" + std::to_string(c + 1) +
             (type == FieldType::Integer ? "::smallint[]" : type == FieldType::Long ? "::integer[]" : "::text[]");
      std::string array = "{";
      for (size_t r = 0; r < b.rows.size(); ++r) {
        if (r) array += ',';
        AppendValue(array, b.rows[r][c], Format::kArray);
      }
      columns.emplace_back(array + "}");
    }
    out.push_back({sql + ")", std::move(columns)});
    b.sent += static_cast<int64_t>(b.rows.size());
    b.rows.clear();
  }

  // A table's many buffered rows go by COPY (two round trips of their own,
  // and the cheapest way in for the server), in buffer order, in the open
  // transaction; a few are queued with the other statements.
  void SendRows(Buffer& b, Statements& few) {
    if (b.rows.size() * b.def->fields.size() < kCopyValues) {
      QueueRows(b, few);
      return;
    }
    std::string data;
    for (const Row& row : b.rows) {
      for (size_t i = 0; i < row.size(); ++i) {
        if (i) data += '\t';
        AppendValue(data, row[i], Format::kCopy);
      }
      data += '\n';
    }
    if (!conn_.InTransaction()) conn_.RunAll({{"BEGIN", {}}});
    conn_.Copy(b.def->name, ColumnNames(*b.def), data);
    b.sent += static_cast<int64_t>(b.rows.size());
    b.rows.clear();
  }

  // The rows of the two day tables, by far the most, go to the server as
  // they come rather than when the day commits: in one COPY, open until
  // anything else needs the connection, so the server stores them while the
  // load parses and prepares the next. A checked row is counted as sent.
  static bool IsDayRow(RowKind kind) { return kind == RowKind::kActivity || kind == RowKind::kAlertHour; }

  void Streamed(RowKind kind, std::span<const Value> row) {
    Buffer& b = kind == RowKind::kAlertHour ? *alertBuffer_ : *activityBuffer_;
    CheckRow(*b.def, row);
    if (kind != streamKind_) {
      EndStream();
      streamKind_ = kind;
    }
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) stream_ += '\t';
      AppendValue(stream_, row[i], Format::kCopy);
    }
    stream_ += '\n';
    ++b.sent;
    if (stream_.size() >= kStreamBytes) PutStream();
  }

  void PutStream() {
    if (!conn_.CopyOpen() || copyKind_ != streamKind_) {
      if (!conn_.InTransaction()) conn_.RunAll({{"BEGIN", {}}});
      const TableDef& t = RowTable(streamKind_);
      conn_.CopyBegin(t.name, ColumnNames(t));
      copyKind_ = streamKind_;
    }
    conn_.CopyPut(stream_);
    stream_.clear();
  }

  // The rows made so far reach the server; its next statement ends their
  // COPY.
  void EndStream() {
    if (!stream_.empty()) PutStream();
  }

  pg::Connection conn_;
  std::string stream_;  // rows of streamKind_ made and not yet sent, as COPY text
  RowKind streamKind_ = RowKind::kActivity, copyKind_ = RowKind::kActivity;  // of stream_, of the open COPY
  bool untracked_ = false, closed_ = false;
  std::map<std::string, Buffer> buffers_;
  Buffer* alertBuffer_ = nullptr;  // the day tables' own, looked up once
  Buffer* activityBuffer_ = nullptr;
  std::map<RowId, int64_t> errorKeys_;  // Error_Keys rewrites waiting, by row
  struct PendingOp {
    enum Kind { kMark, kClear, kClearUser } kind;
    int32_t user, date;
  };
  std::vector<PendingOp> pending_;  // marks and clears waiting, in order
  // A fresh database's indexes still to build, and those built in the open
  // transaction; the days loaded meanwhile (user, date) of each day table,
  // committed and in the open transaction.
  std::vector<std::string> deferred_, built_;
  bool builtInOpen_ = false;
  using Days = std::set<std::pair<int32_t, int32_t>>;
  Days days_[2], openDays_[2];
  static size_t Slot(DayTable t) { return t == DayTable::kAlerts ? 0 : 1; }
  // The day of a row (its first two values) while the day indexes wait.
  void Taken(DayTable table, std::span<const Value> values) {
    if (deferred_.empty() || values.size() < 2 || !values[0].IsInt() || !values[1].IsInt()) return;
    openDays_[Slot(table)].insert({static_cast<int32_t>(values[0].IntValue()), static_cast<int32_t>(values[1].IntValue())});
  }
  bool closing_ = false;  // the last commit begins no transaction
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
  const TableDef& t = *buffer_.def;
  const auto unique = std::find_if(t.indexes.begin(), t.indexes.end(), [&](const db::IndexDef& ix) {
    return (ix.unique || ix.primary) && ix.field == t.fields[1].name;
  });
  if (unique == t.indexes.end()) {
    store_.Buffered(buffer_, {Value(int64_t{id}), Value(std::string(name))});
    return;
  }
  if (!keys_) {
    keys_.emplace();
    for (const auto& r : store_.Read(t.name.c_str(), "SELECT " + Quote(t.fields[1].name) + " FROM " + Quote(t.name), {})) {
      if (r[0]) keys_->insert(NameKey(*r[0]));
    }
  }
  std::string key = NameKey(name);
  if (keys_->contains(key)) {
    throw Error(err::kDuplicateValue,
                "The changes you requested to the table were not successful because they would create duplicate "
                "values in the index '" + unique->name + "'.", Cause::kData);
  }
  store_.Buffered(buffer_, {Value(int64_t{id}), Value(std::string(name))});
  keys_->insert(std::move(key));
}

// The server's lock keeps other loaders out; the insert waits in the buffer.
void PgListTable::BeginWrite() {}

}  // namespace

std::unique_ptr<HistoryStore> OpenPgHistory(const std::string& connect, int timeout) {
  return std::make_unique<PgHistoryStore>(connect, timeout);
}

std::map<std::string, int64_t> CopyHistoryToPg(const std::filesystem::path& file, const std::string& connect,
                                               int timeout) {
  const auto source = db::SqliteFile::Open(file, db::OpenOptions{db::Access::ReadOnly});
  pg::Connection conn(connect, timeout);
  const bool tracked = source->FindTable(kPendingTable) != nullptr;
  std::vector<TableDef> tables = HistorySchema();
  if (tracked) {
    tables.push_back(TableDef{kPendingTable,
                              {db::FieldDef{"User_Num", FieldType::Long, 0}, db::FieldDef{"Data_Date", FieldType::Long, 0}},
                              {}});
  }
  conn.Begin();
  for (const auto& t : HistorySchema()) {
    for (const auto& sql : CreateSql(t)) conn.Run(sql);
  }
  for (const auto& sql : LoadAidsSql()) conn.Run(sql);
  std::vector<std::string> holding;
  for (const auto& t : tables) {
    if (conn.Run("SELECT EXISTS (SELECT 1 FROM " + Quote(t.name) + ")").at(0).at(0) == "t") holding.push_back(t.name);
  }
  if (!holding.empty()) {
    std::string names;
    for (const auto& n : holding) names += (names.empty() ? "" : ", ") + n;
    throw Error(err::kTableExists,
                "The History " + conn.Server() + " already holds rows (in " + names +
                    "); copying would mix two histories. Point CONNECT at an empty database, or drop those tables "
                    "there if their rows are not needed, then run the command again. Nothing was copied.", Cause::kData);
  }
  // A file that kept no record of pending error keys leaves none on the
  // server either, so that the next load works out every user-day once.
  if (!tracked) conn.Run("DROP TABLE " + Quote(kPendingTable));

  std::map<std::string, int64_t> copied;
  constexpr int64_t kChunkRows = 50000;
  for (const auto& t : tables) {
    std::string columns;
    for (const auto& f : t.fields) columns += (columns.empty() ? "" : ", ") + Quote(f.name);
    std::string data;
    int64_t rows = 0, buffered = 0;
    const auto send = [&] {
      if (buffered) conn.Copy(t.name, ColumnNames(t), data);
      data.clear();
      buffered = 0;
    };
    db::ForEachRow(*source, source->Prepare("SELECT " + columns + " FROM " + Quote(t.name) + " ORDER BY rowid"),
                   [&](sqlite3_stmt* read) {
                     for (size_t i = 0; i < t.fields.size(); ++i) {
                       if (i) data += '\t';
                       AppendValue(data, db::ReadValue(read, static_cast<int>(i)), Format::kCopy);
                     }
                     data += '\n';
                     ++rows;
                     if (++buffered == kChunkRows) send();
                   });
    send();
    int64_t fileRows = 0;
    db::ForEachRow(*source, source->Prepare("SELECT count(*) FROM " + Quote(t.name)),
                   [&](sqlite3_stmt* count) { fileRows = sqlite3_column_int64(count, 0); });
    const int64_t serverRows = std::stoll(conn.Run("SELECT count(*) FROM " + Quote(t.name)).at(0).at(0).value_or("0"));
    if (serverRows != fileRows || rows != fileRows) {
      conn.Rollback();
      throw Error(err::kOtherEngineError,
                  "Copying " + t.name + " to the History " + conn.Server() + " gave " + std::to_string(serverRows) +
                      " rows for the file's " + std::to_string(fileRows) +
                      "; nothing was copied. Check that no other program writes the file or the server, then run the "
                      "command again.", Cause::kEnvironment);
    }
    copied[t.name] = rows;
  }
  conn.Commit();
  return copied;
}

// The key of the loaders' session lock, the same on every machine.
constexpr int64_t kLoaderLockKey = 0x50524158484953;

namespace {

// Who holds the loaders' lock on the server, as the refusal names them;
// nullopt when no session does.
std::optional<std::string> LoaderLockHolder(pg::Connection& conn) {
  std::optional<std::string> who;
  for (const auto& r : conn.Run("SELECT a.application_name, host(a.client_addr), a.backend_start::text FROM pg_locks l "
                                  "JOIN pg_stat_activity a ON a.pid = l.pid WHERE l.locktype = 'advisory' AND "
                                  "l.granted AND l.database = (SELECT oid FROM pg_database WHERE datname = "
                                  "current_database()) AND ((l.classid::bigint << 32) | l.objid::bigint) = $1",
                                  {std::to_string(kLoaderLockKey)})) {
    who = r[0].value_or("") + (r[1] ? " from " + *r[1] : std::string()) + (r[2] ? ", since " + *r[2] : std::string());
  }
  return who;
}

Error LoaderLockHeld(pg::Connection& conn, std::string who) {
  return Error(err::kCannotOpenFile,
               "Another PraxServer command is loading into the History " + conn.Server() + " (" +
                   (who.empty() ? std::string("holder unknown") : who) +
                   "). Wait until it has finished, then run this command again.", Cause::kData);
}

}  // namespace

PgLoaderLock::PgLoaderLock(const std::string& connect, std::string_view holder, int timeout)
    : conn_(std::make_unique<pg::Connection>(connect, timeout)) {
  conn_->Run("SELECT set_config('application_name', $1, false)", {std::string(holder).substr(0, 63)});
  if (conn_->TryLock(kLoaderLockKey)) return;
  throw LoaderLockHeld(*conn_, LoaderLockHolder(*conn_).value_or(""));
}

PgHistoryLook LookAtPgHistory(const std::string& connect, int timeout) {
  pg::Connection conn(connect, timeout);
  PgHistoryLook look;
  look.server = conn.Server();
  for (const auto& t : HistorySchema()) {
    if (conn.Run("SELECT to_regclass($1) IS NULL", {Quote(t.name)}).at(0).at(0) == "t") look.missing.push_back(t.name);
  }
  if (auto who = LoaderLockHolder(conn)) look.held = LoaderLockHeld(conn, *who).what();
  return look;
}

std::unique_ptr<HistoryStore> OpenPgHistoryToRead(const std::string& connect, int timeout) {
  return std::make_unique<PgHistoryStore>(connect, timeout, /*readOnly=*/true);
}

PgLoaderLock::~PgLoaderLock() = default;

void CreatePgHistory(const std::string& connect, int timeout) {
  pg::Connection conn(connect, timeout);
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
