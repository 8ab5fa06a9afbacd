// Record sets: updatable dynasets over one table.
//
// Membership: the rows that match the WHERE condition among those present at
// open (rowid up to the table's highest rowid then), plus the rows appended
// through this record set. Rows are not loaded at open: navigation asks the
// file for the next member by rowid, so a record set over a table of
// millions of rows costs nothing until it moves; a record set walked with
// MoveNext keeps one query stepping until anything is written or committed.
// Only a record set with ORDER BY keeps the list of its rowids (in that
// order).
//
// Searching: an equality criterion on columns no index of the file covers is
// answered from a hash index over the record set's rows for those columns,
// built on first use and kept current by this record set's own AddNew and
// Edit. Writes by anyone else to the table drop it (it is rebuilt when next
// needed). Other criteria run as one query on the file. Text compares with
// its letter case folded (text::FoldCase1252), in the hash keys as in the
// queries' terms (see Term).

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "store/connection.h"
#include "store/engine.h"
#include "store/sql.h"
#include "platform/text.h"

namespace prax::db {

struct Recordset::Impl {
  std::shared_ptr<Connection> conn;
  std::shared_ptr<const TableInfo> table;
  bool closed = false;

  std::vector<int> cols;  // table column of each field
  std::vector<std::string> names;
  std::string colList;  // "a", "b", ...

  bool isMax = false;  // SELECT MAX(...): one row, read-only

  // Membership.
  std::vector<Term> where;
  std::string whereSql;  // "<terms> AND " or empty
  int64_t hwm = 0;       // highest rowid at open
  std::vector<std::pair<int64_t, int64_t>> appended;  // rowid ranges added here, ascending
  bool ordered = false;                               // ORDER BY: rowids kept in order
  std::vector<int64_t> order;
  size_t orderPos = 0;

  // Position.
  bool hasRow = false, bof = true, eof = true, noMatch = false;
  int64_t rowid = 0;
  std::vector<Value> row;

  // Editing.
  enum class Mode { None, Add, Edit } mode = Mode::None;
  std::vector<Value> buf;
  std::vector<char> dirty;
  size_t lastField = 0;

  // A forward scan over the stored members, owned by this record set (the
  // cached statements are shared by every record set with the same text).
  // A run of MoveNext steps it instead of searching afresh for each row; it
  // is restarted whenever the position moved elsewhere or the connection
  // wrote or committed meanwhile.
  sqlite3_stmt* stNext = nullptr;  // shared: the next stored member after a rowid, one row
  int64_t nextAt = 0;              // the member stNext found last
  std::string scanSql;
  sqlite3_stmt* stScan = nullptr;
  bool scanning = false;
  int64_t scanAt = 0;
  uint64_t scanGen = 0, scanEpoch = 0;
  sqlite3_stmt* stLast = nullptr;  // last stored member
  sqlite3_stmt* stRow = nullptr;   // the fields of one row
  sqlite3_stmt* stInsert = nullptr;

  struct Hash {
    std::vector<int> fields;
    std::unordered_map<std::string, std::vector<int64_t>> rows;  // key -> rowids ascending
  };
  std::vector<Hash> hashes;
  uint64_t* tableGen = nullptr;  // the connection's write count of the table
  int64_t* pendingRows = nullptr;  // the connection's count of rows added to the table
  uint64_t gen = 0;              // the count the hash indexes are current with

  ~Impl() {
    StopScan();
    conn->ReleaseOwned(stScan);
  }

  // Still registered with the connection (no write, commit or close since it started).
  bool ScanRegistered() const { return scanning && conn->ScanEpoch() == scanEpoch; }
  void StopScan() {
    if (ScanRegistered()) {
      sqlite3_reset(stScan);
      conn->RemoveScan(stScan);
    }
    scanning = false;
  }

  // --- helpers -------------------------------------------------------------

  void Check() const {
    if (closed) {
      throw Error(dberr::kObjectInvalid,
                  "Object invalid or no longer set: the record set was closed (" + conn->File().string() + ")");
    }
    conn->CheckOpen();
  }
  [[noreturn]] void Fail(int number, const std::string& message) const { conn->Fail(number, message); }
  const ColumnInfo& Col(size_t field) const { return table->columns[static_cast<size_t>(cols[field])]; }
  std::string FieldText(size_t field) const { return table->name + "." + Col(field).name; }

  size_t FieldIndex(std::string_view name) {
    const size_t n = names.size();
    const size_t guess = lastField + 1 < n ? lastField + 1 : 0;
    if (n > 0 && EqualNoCase(names[guess], name)) return lastField = guess;
    for (size_t i = 0; i < n; ++i) {
      if (EqualNoCase(names[i], name)) return lastField = i;
    }
    const size_t dot = name.find('.');
    if (dot != std::string_view::npos && !isMax && EqualNoCase(name.substr(0, dot), table->name)) {
      const auto rest = name.substr(dot + 1);
      for (size_t i = 0; i < n; ++i) {
        if (EqualNoCase(names[i], rest)) return lastField = i;
      }
    }
    Fail(err::kItemNotFound, "Item not found in this collection: '" + std::string(name) + "'.");
  }

  // The record-set field showing a table column, or -1.
  int FieldOfColumn(int column) const {
    for (size_t i = 0; i < cols.size(); ++i) {
      if (cols[i] == column) return static_cast<int>(i);
    }
    return -1;
  }

  bool InAppended(int64_t id) const {
    auto it = std::upper_bound(appended.begin(), appended.end(), std::make_pair(id, std::numeric_limits<int64_t>::max()));
    if (it == appended.begin()) return false;
    --it;
    return id >= it->first && id <= it->second;
  }
  void AddAppended(int64_t id) {
    if (!appended.empty() && appended.back().second + 1 == id) {
      appended.back().second = id;
    } else if (appended.empty() || appended.back().second < id) {
      appended.emplace_back(id, id);
    } else {
      // A rowid below an earlier one (rows deleted meanwhile): keep the ranges sorted.
      auto it = std::lower_bound(appended.begin(), appended.end(), std::make_pair(id, id));
      appended.insert(it, {id, id});
    }
  }

  void ReadRow(sqlite3_stmt* st, int first) {
    row.resize(cols.size());
    for (size_t i = 0; i < cols.size(); ++i) row[i] = ReadValue(st, first + static_cast<int>(i));
  }

  // Loads a row by rowid into `row`; false when it no longer exists.
  bool LoadRow(int64_t id) {
    StmtUse use(stRow);
    sqlite3_bind_int64(stRow, 1, id);
    const int rc = sqlite3_step(stRow);
    if (rc == SQLITE_ROW) {
      ReadRow(stRow, 0);
      return true;
    }
    if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    return false;
  }

  // The first stored member after `after` (rows present at open).
  bool NextStored(int64_t after, int64_t& id) {
    if (after >= hwm) {
      StopScan();
      return false;
    }
    if (!(ScanRegistered() && *tableGen == scanGen && after == scanAt)) {
      StopScan();
      if (after != nextAt || after == std::numeric_limits<int64_t>::min()) {
        // A single move (the first row, or after a search): one row of the
        // shared statement, no statement of its own.
        StmtUse use(stNext);
        int i = BindTerms(stNext, 1, where);
        sqlite3_bind_int64(stNext, i++, after);
        sqlite3_bind_int64(stNext, i, hwm);
        const int rc = sqlite3_step(stNext);
        if (rc == SQLITE_ROW) {
          id = nextAt = sqlite3_column_int64(stNext, 0);
          ReadRow(stNext, 1);
          return true;
        }
        if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
        return false;
      }
      // The second move in a row: the record set is being walked.
      if (!stScan) stScan = conn->PrepareOwned(scanSql);
      int i = BindTerms(stScan, 1, where);
      sqlite3_bind_int64(stScan, i++, after);
      sqlite3_bind_int64(stScan, i, hwm);
      scanning = true;
      scanGen = *tableGen;
      scanEpoch = conn->ScanEpoch();
      conn->AddScan(stScan);
    }
    const int rc = sqlite3_step(stScan);
    if (rc == SQLITE_ROW) {
      id = sqlite3_column_int64(stScan, 0);
      ReadRow(stScan, 1);
      scanAt = id;
      return true;
    }
    StopScan();
    if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    return false;
  }

  bool LastStored(int64_t& id) {
    StmtUse use(stLast);
    const int i = BindTerms(stLast, 1, where);
    sqlite3_bind_int64(stLast, i, hwm);
    const int rc = sqlite3_step(stLast);
    if (rc == SQLITE_ROW) {
      id = sqlite3_column_int64(stLast, 0);
      ReadRow(stLast, 1);
      return true;
    }
    if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    return false;
  }

  bool NextAppended(int64_t after, int64_t& id) {
    for (const auto& [lo, hi] : appended) {
      if (hi <= after) continue;
      for (int64_t c = std::max(lo, after + 1); c <= hi; ++c) {
        if (c <= hwm) continue;  // a stored member, found by NextStored
        if (LoadRow(c)) {
          id = c;
          return true;
        }
      }
    }
    return false;
  }

  bool LastAppended(int64_t& id) {
    for (auto it = appended.rbegin(); it != appended.rend(); ++it) {
      for (int64_t c = it->second; c >= it->first && c > hwm; --c) {
        if (LoadRow(c)) {
          id = c;
          return true;
        }
      }
    }
    return false;
  }

  enum class Dir { First, Next, Last };

  // Moves; on success the row is current, else nothing changed but `row`.
  bool Move(Dir dir) {
    if (isMax) return dir != Dir::Next;
    int64_t id = 0;
    if (ordered) {
      if (dir == Dir::Last) {
        for (size_t p = order.size(); p-- > 0;) {
          if (LoadRow(order[p])) {
            orderPos = p;
            rowid = order[p];
            return true;
          }
        }
        return false;
      }
      for (size_t p = dir == Dir::First ? 0 : orderPos + 1; p < order.size(); ++p) {
        if (LoadRow(order[p])) {
          orderPos = p;
          rowid = order[p];
          return true;
        }
      }
      return false;
    }
    bool found = false;
    switch (dir) {
      case Dir::First:
        found = NextStored(std::numeric_limits<int64_t>::min(), id) ||
                NextAppended(std::numeric_limits<int64_t>::min(), id);
        break;
      case Dir::Next: found = NextStored(rowid, id) || NextAppended(rowid, id); break;
      case Dir::Last: found = LastAppended(id) || LastStored(id); break;
    }
    if (found) rowid = id;
    return found;
  }

  void OnRow() {
    hasRow = true;
    bof = eof = false;
  }

  // --- writing -------------------------------------------------------------

  Value Convert(size_t field, Value v) const {
    if (v.IsNull()) return v;
    const ColumnInfo& c = Col(field);
    if (c.type == FieldType::Text) return v.IsInt() ? Value(std::to_string(v.AsInt())) : v;
    if (v.IsInt()) return v;
    const auto n = NumberFromText(v.TextRef(), true);
    if (!n) {
      Fail(err::kTypeMismatch, "Type mismatch: field '" + FieldText(field) + "' holds numbers, not the text " +
                                   v.Describe() + ".");
    }
    return Value(*n);
  }

  void Validate(size_t field, const Value& v) const {
    const ColumnInfo& c = Col(field);
    if (v.IsNull()) {
      if (c.notNull) {
        Fail(err::kNullInIndexedField,
             "Index or primary key cannot contain a Null value: field '" + FieldText(field) + "'.");
      }
      return;
    }
    switch (c.type) {
      case FieldType::Integer:
      case FieldType::Long: {
        const int64_t n = v.IsInt() ? v.IntValue() : v.AsInt();
        const bool small = c.type == FieldType::Integer;
        const int64_t lo = small ? -32768 : -2147483648LL, hi = small ? 32767 : 2147483647LL;
        if (n < lo || n > hi) {
          Fail(err::kOverflow, "Overflow: " + std::to_string(n) + " does not fit field '" + FieldText(field) + "' (" +
                                   (small ? "Integer" : "Long") + ").");
        }
        break;
      }
      case FieldType::Text: {
        const std::string& s = v.TextRef();
        if (s.empty()) Fail(err::kZeroLengthString, "Field '" + FieldText(field) + "' cannot be a zero-length string.");
        if (s.size() > static_cast<size_t>(c.size)) {
          const size_t length = text::Utf8Length(s);
          if (length > static_cast<size_t>(c.size)) {
            Fail(err::kFieldTooSmall, "The field '" + FieldText(field) +
                                          "' is too small to accept the amount of data you attempted to add: it "
                                          "holds at most " + std::to_string(c.size) + " characters, the value has " +
                                          std::to_string(length) + ".");
          }
        }
        break;
      }
    }
  }

  [[noreturn]] void FailWrite() {
    const int rc = sqlite3_extended_errcode(conn->Handle());
    const std::string detail = sqlite3_errmsg(conn->Handle());
    conn->AfterFailedWrite();
    if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY) {
      // "UNIQUE constraint failed: Table.Column"
      const size_t dot = detail.rfind('.');
      const std::string column = dot == std::string::npos ? std::string() : detail.substr(dot + 1);
      std::string index = column;
      for (const auto& ix : table->indexes) {
        if (ix.unique && EqualNoCase(ix.column, column)) {
          index = ix.name;
          break;
        }
      }
      FailDuplicate(index);
    }
    conn->FailStorage(rc);
  }

  [[noreturn]] void FailDuplicate(const std::string& index) const {
    Fail(err::kDuplicateValue,
         "The changes you requested to the table were not successful because they would create duplicate values "
         "in the index '" + index + "'.");
  }

  // A unique index of the file ignores the case of A-Z only (SQLite's
  // NOCASE). Text with any other character is looked for through the case
  // fold before it is written, so that a name differing from a stored one
  // only in the case of an accented letter is refused the same way. `self`
  // is the row being edited (Null when adding); `written` tells which fields
  // the row writes.
  void CheckUniqueFolded(const std::vector<Value>& values, const Value& self, const std::vector<char>& written) {
    for (const auto& ix : table->indexes) {
      const int f = ix.unique ? FieldOfColumn(ix.columnIndex) : -1;
      if (f < 0 || !written[static_cast<size_t>(f)] || Col(static_cast<size_t>(f)).type != FieldType::Text) continue;
      const Value& v = values[static_cast<size_t>(f)];
      if (!v.IsText()) continue;
      const std::vector<Term> terms{TextTerm(ix.columnIndex, sql::Op::Eq, v.TextRef())};
      if (!terms[0].folded) continue;  // the index itself refuses it
      sqlite3_stmt* st = conn->Prepare("SELECT 1 FROM " + table->quoted + " WHERE " + TermsSql(*table, terms) +
                                       " AND rowid IS NOT ? LIMIT 1");
      StmtUse use(st);
      BindValue(st, BindTerms(st, 1, terms), self);
      const int rc = sqlite3_step(st);
      if (rc == SQLITE_ROW) FailDuplicate(ix.name);
      if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    }
  }

  void NoteOwnWrite() {
    const bool fresh = gen == *tableGen;
    ++*tableGen;
    if (fresh) gen = *tableGen;
  }

  // --- hash indexes ----------------------------------------------------------

  static void AppendKey(std::string& key, const Value& v) {
    if (v.IsInt()) {
      key += 'i';
      key += std::to_string(v.IntValue());
      key += '\x1f';
    } else {
      key += 't';
      key += text::FoldCase1252(v.TextRef());
      key += '\x1f';
    }
  }

  // The key of a row (values by field); false when a value is Null.
  static bool RowKey(const Hash& h, const std::vector<Value>& values, std::string& key) {
    key.clear();
    for (int f : h.fields) {
      const Value& v = values[static_cast<size_t>(f)];
      if (v.IsNull()) return false;
      AppendKey(key, v);
    }
    return true;
  }

  Hash& EnsureHash(const std::vector<int>& fields) {
    for (auto& h : hashes) {
      if (h.fields == fields) return h;
    }
    Hash h;
    h.fields = fields;
    std::string list;
    for (int f : fields) list += ", " + Quote(Col(static_cast<size_t>(f)).name);
    std::vector<Value> values(cols.size());
    std::string key;
    // Rows come in runs of the same key (a user's day, say): a row whose
    // values equal the previous row's joins its list without a new key.
    std::vector<Value> previous(cols.size());
    std::vector<int64_t>* run = nullptr;
    auto scan = [&](sqlite3_stmt* st) {
      int rc;
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        bool same = run != nullptr;
        for (size_t i = 0; i < fields.size(); ++i) {
          Value& v = values[static_cast<size_t>(fields[i])];
          v = ReadValue(st, static_cast<int>(i) + 1);
          same = same && v == previous[static_cast<size_t>(fields[i])];
        }
        if (same) {
          run->push_back(sqlite3_column_int64(st, 0));
        } else if (RowKey(h, values, key)) {
          run = &h.rows[key];
          run->push_back(sqlite3_column_int64(st, 0));
          previous = values;
        } else {
          run = nullptr;
        }
      }
      if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    };
    {
      sqlite3_stmt* st = conn->Prepare("SELECT rowid" + list + " FROM " + table->quoted + " WHERE " + whereSql +
                                       "rowid <= ? ORDER BY rowid");
      StmtUse use(st);
      const int i = BindTerms(st, 1, where);
      sqlite3_bind_int64(st, i, hwm);
      scan(st);
    }
    if (!appended.empty()) {
      sqlite3_stmt* st = conn->Prepare("SELECT rowid" + list + " FROM " + table->quoted +
                                       " WHERE rowid BETWEEN ? AND ? ORDER BY rowid");
      for (const auto& [lo, hi] : appended) {
        StmtUse use(st);
        sqlite3_bind_int64(st, 1, std::max(lo, hwm + 1));
        sqlite3_bind_int64(st, 2, hi);
        scan(st);
      }
    }
    hashes.push_back(std::move(h));
    return hashes.back();
  }

  void HashAdd(int64_t id, const std::vector<Value>& values) {
    std::string key;
    for (auto& h : hashes) {
      if (RowKey(h, values, key)) h.rows[key].push_back(id);
    }
  }

  void HashMove(int64_t id, const std::vector<Value>& before, const std::vector<Value>& after) {
    std::string key;
    for (auto& h : hashes) {
      bool touched = false;
      for (int f : h.fields) touched = touched || dirty[static_cast<size_t>(f)];
      if (!touched) continue;
      if (RowKey(h, before, key)) {
        auto it = h.rows.find(key);
        if (it != h.rows.end()) {
          auto& ids = it->second;
          ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
          if (ids.empty()) h.rows.erase(it);
        }
      }
      if (RowKey(h, after, key)) {
        auto& ids = h.rows[key];
        ids.insert(std::lower_bound(ids.begin(), ids.end(), id), id);
      }
    }
  }

  // --- searching -------------------------------------------------------------

  bool RowMatches(int64_t id, const std::vector<Term>& terms) {
    sqlite3_stmt* st = conn->Prepare("SELECT 1 FROM " + table->quoted + " WHERE rowid = ? AND " +
                                     TermsSql(*table, terms));
    StmtUse use(st);
    sqlite3_bind_int64(st, 1, id);
    BindTerms(st, 2, terms);
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    return rc == SQLITE_ROW;
  }

  std::optional<int64_t> FindHashed(const std::vector<Term>& terms) {
    std::vector<int> fields;
    std::vector<const Value*> literals;
    std::vector<Term> residual;
    for (const auto& t : terms) {
      const int f = t.op == sql::Op::Eq ? FieldOfColumn(t.column) : -1;
      if (f >= 0 && std::find(fields.begin(), fields.end(), f) == fields.end()) {
        fields.push_back(f);
      } else {
        residual.push_back(t);
      }
    }
    std::sort(fields.begin(), fields.end());
    std::string key;
    for (int f : fields) {
      for (const auto& t : terms) {
        if (t.op == sql::Op::Eq && FieldOfColumn(t.column) == f) {
          AppendKey(key, t.literal);
          break;
        }
      }
    }
    Hash& h = EnsureHash(fields);
    auto it = h.rows.find(key);
    if (it == h.rows.end()) return std::nullopt;
    for (int64_t id : it->second) {
      if (residual.empty() || RowMatches(id, residual)) return id;
    }
    return std::nullopt;
  }

  std::optional<int64_t> FindQuery(const std::vector<Term>& terms) {
    const std::string cond = TermsSql(*table, terms);
    {
      sqlite3_stmt* st = conn->Prepare("SELECT rowid FROM " + table->quoted + " WHERE " + whereSql + cond +
                                       " AND rowid <= ? ORDER BY rowid LIMIT 1");
      StmtUse use(st);
      int i = BindTerms(st, 1, where);
      i = BindTerms(st, i, terms);
      sqlite3_bind_int64(st, i, hwm);
      const int rc = sqlite3_step(st);
      if (rc == SQLITE_ROW) return sqlite3_column_int64(st, 0);
      if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    }
    if (appended.empty()) return std::nullopt;
    sqlite3_stmt* st = conn->Prepare("SELECT rowid FROM " + table->quoted + " WHERE " + cond +
                                     " AND rowid > ? ORDER BY rowid");
    StmtUse use(st);
    const int i = BindTerms(st, 1, terms);
    sqlite3_bind_int64(st, i, hwm);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      const int64_t id = sqlite3_column_int64(st, 0);
      if (InAppended(id)) return id;
    }
    if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    return std::nullopt;
  }

  std::optional<size_t> FindOrdered(const std::vector<Term>& terms) {
    sqlite3_stmt* st = conn->Prepare("SELECT rowid FROM " + table->quoted + " WHERE " + TermsSql(*table, terms));
    StmtUse use(st);
    BindTerms(st, 1, terms);
    std::unordered_set<int64_t> matches;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) matches.insert(sqlite3_column_int64(st, 0));
    if (rc != SQLITE_DONE) conn->FailStorage(sqlite3_extended_errcode(conn->Handle()));
    for (size_t p = 0; p < order.size(); ++p) {
      if (matches.count(order[p])) return p;
    }
    return std::nullopt;
  }
};

// ---------------------------------------------------------------------------

std::unique_ptr<Recordset> Database::OpenRecordset(std::string_view text) {
  conn_->CheckOpen();
  Connection& c = *conn_;
  sql::Statement stmt;
  try {
    stmt = sql::Parse(text);
  } catch (const Error& e) {
    c.Rethrow(e);
  }
  auto* sel = std::get_if<sql::Select>(&stmt);
  if (!sel) c.Fail(dberr::kInvalidOperation, "Invalid operation: a record set is opened on a SELECT statement.");

  auto impl = std::make_unique<Recordset::Impl>();
  impl->conn = conn_;
  impl->table = c.Table(sel->table);
  const TableInfo& t = *impl->table;
  impl->tableGen = &c.Generation(t.name);
  impl->pendingRows = &c.PendingRows(t.name);
  impl->gen = *impl->tableGen;
  if (sel->where) impl->where = ResolveTerms(c, t, *sel->where);
  if (!impl->where.empty()) impl->whereSql = TermsSql(t, impl->where) + " AND ";

  if (sel->max) {
    const int column = ResolveColumn(c, t, *sel->max);
    sqlite3_stmt* st = c.Prepare("SELECT MAX(" + Quote(t.columns[static_cast<size_t>(column)].name) + ") FROM " +
                                 t.quoted + (impl->where.empty() ? "" : " WHERE " + TermsSql(t, impl->where)));
    StmtUse use(st);
    BindTerms(st, 1, impl->where);
    if (sqlite3_step(st) != SQLITE_ROW) c.FailStorage(sqlite3_extended_errcode(c.Handle()));
    impl->isMax = true;
    impl->cols = {column};
    impl->names = {sel->maxAlias};
    impl->row = {ReadValue(st, 0)};
    impl->OnRow();
    return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
  }

  if (sel->star) {
    for (size_t i = 0; i < t.columns.size(); ++i) impl->cols.push_back(static_cast<int>(i));
  } else {
    for (const auto& ref : sel->columns) impl->cols.push_back(ResolveColumn(c, t, ref));
  }
  for (int col : impl->cols) {
    const std::string& name = t.columns[static_cast<size_t>(col)].name;
    impl->names.push_back(name);
    if (!impl->colList.empty()) impl->colList += ", ";
    impl->colList += Quote(name);
  }
  impl->stRow = c.Prepare("SELECT " + impl->colList + " FROM " + t.quoted + " WHERE rowid = ?");
  {
    sqlite3_stmt* st = c.Prepare("SELECT max(rowid) FROM " + t.quoted);
    StmtUse use(st);
    if (sqlite3_step(st) != SQLITE_ROW) c.FailStorage(sqlite3_extended_errcode(c.Handle()));
    impl->hwm = sqlite3_column_type(st, 0) == SQLITE_NULL ? 0 : sqlite3_column_int64(st, 0);
  }
  if (sel->orderBy) {
    const int column = ResolveColumn(c, t, *sel->orderBy);
    const ColumnInfo& oc = t.columns[static_cast<size_t>(column)];
    sqlite3_stmt* st = c.Prepare("SELECT rowid FROM " + t.quoted +
                                 (impl->where.empty() ? "" : " WHERE " + TermsSql(t, impl->where)) + " ORDER BY " +
                                 (oc.type == FieldType::Text ? FoldSql(oc.name) : Quote(oc.name)) + ", rowid");
    StmtUse use(st);
    BindTerms(st, 1, impl->where);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) impl->order.push_back(sqlite3_column_int64(st, 0));
    if (rc != SQLITE_DONE) c.FailStorage(sqlite3_extended_errcode(c.Handle()));
    impl->ordered = true;
  } else {
    const std::string head = "SELECT rowid, " + impl->colList + " FROM " + t.quoted + " WHERE " + impl->whereSql;
    impl->stNext = c.Prepare(head + "rowid > ? AND rowid <= ? ORDER BY rowid LIMIT 1");
    impl->scanSql = head + "rowid > ? AND rowid <= ? ORDER BY rowid";
    impl->stLast = c.Prepare(head + "rowid <= ? ORDER BY rowid DESC LIMIT 1");
  }
  if (impl->Move(Recordset::Impl::Dir::First)) impl->OnRow();
  return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
}

Recordset::Recordset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Recordset::~Recordset() = default;

void Recordset::AddNew() {
  Impl& r = *impl_;
  r.Check();
  if (r.isMax) r.Fail(dberr::kReadOnly, "Cannot update. Database or object is read-only.");
  r.mode = Impl::Mode::Add;
  r.buf.assign(r.names.size(), Value());
  r.dirty.assign(r.names.size(), 0);
}

void Recordset::Edit() {
  Impl& r = *impl_;
  r.Check();
  if (r.isMax) r.Fail(dberr::kReadOnly, "Cannot update. Database or object is read-only.");
  if (!r.hasRow) r.Fail(err::kNoCurrentRecord, "No current record.");
  r.mode = Impl::Mode::None;
  if (!r.LoadRow(r.rowid)) r.Fail(dberr::kRecordDeleted, "Record is deleted.");
  r.buf = r.row;
  r.dirty.assign(r.names.size(), 0);
  r.mode = Impl::Mode::Edit;
}

void Recordset::Update() {
  Impl& r = *impl_;
  r.Check();
  if (r.mode == Impl::Mode::None) r.Fail(dberr::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit.");
  const Impl::Mode mode = r.mode;
  r.mode = Impl::Mode::None;  // a refused row leaves nothing pending
  Connection& c = *r.conn;
  const size_t n = r.names.size();

  if (mode == Impl::Mode::Add) {
    for (size_t i = 0; i < n; ++i) r.Validate(i, r.buf[i]);
    r.CheckUniqueFolded(r.buf, Value(), std::vector<char>(n, 1));
    if (!r.stInsert) {
      std::string marks;
      for (size_t i = 0; i < n; ++i) marks += i == 0 ? "?" : ", ?";
      r.stInsert = c.Prepare("INSERT INTO " + r.table->quoted + " (" + r.colList + ") VALUES (" + marks + ")");
    }
    c.BeginWrite();
    {
      StmtUse use(r.stInsert);
      for (size_t i = 0; i < n; ++i) BindValue(r.stInsert, static_cast<int>(i) + 1, r.buf[i]);
      if (sqlite3_step(r.stInsert) != SQLITE_DONE) r.FailWrite();
    }
    const int64_t id = sqlite3_last_insert_rowid(c.Handle());
    ++*r.pendingRows;
    r.NoteOwnWrite();
    if (r.ordered) {
      r.order.push_back(id);
      r.orderPos = r.order.size() - 1;
    } else {
      r.AddAppended(id);
    }
    if (!r.hashes.empty()) r.HashAdd(id, r.buf);
    r.row.swap(r.buf);
    r.rowid = id;
    r.OnRow();
    return;
  }

  std::string set;
  std::vector<size_t> changed;
  for (size_t i = 0; i < n; ++i) {
    if (!r.dirty[i]) continue;
    r.Validate(i, r.buf[i]);
    set += set.empty() ? "" : ", ";
    set += Quote(r.Col(i).name) + " = ?";
    changed.push_back(i);
  }
  if (changed.empty()) return;
  r.CheckUniqueFolded(r.buf, Value(r.rowid), r.dirty);
  sqlite3_stmt* st = c.Prepare("UPDATE " + r.table->quoted + " SET " + set + " WHERE rowid = ?");
  c.BeginWrite();
  {
    StmtUse use(st);
    int p = 1;
    for (size_t i : changed) BindValue(st, p++, r.buf[i]);
    sqlite3_bind_int64(st, p, r.rowid);
    if (sqlite3_step(st) != SQLITE_DONE) r.FailWrite();
  }
  if (sqlite3_changes64(c.Handle()) == 0) r.Fail(dberr::kRecordDeleted, "Record is deleted.");
  r.NoteOwnWrite();
  if (!r.hashes.empty()) r.HashMove(r.rowid, r.row, r.buf);
  r.row.swap(r.buf);
}

void Recordset::CancelUpdate() {
  impl_->Check();
  impl_->mode = Impl::Mode::None;
}

void Recordset::FindFirst(std::string_view criteria) {
  Impl& r = *impl_;
  r.Check();
  sql::Expr expr;
  try {
    expr = sql::ParseCriteria(criteria);
  } catch (const Error& e) {
    r.conn->Rethrow(e);
  }
  if (r.isMax) r.Fail(dberr::kNotSupported, "Operation is not supported for this type of object.");
  const auto terms = ResolveTerms(*r.conn, *r.table, expr);
  r.mode = Impl::Mode::None;
  if (*r.tableGen != r.gen) {
    r.hashes.clear();
    r.gen = *r.tableGen;
  }

  if (r.ordered) {
    const auto pos = r.FindOrdered(terms);
    r.noMatch = !pos || !r.LoadRow(r.order[*pos]);
    if (!r.noMatch) {
      r.orderPos = *pos;
      r.rowid = r.order[*pos];
      r.OnRow();
    }
    return;
  }

  bool equality = false, indexed = false;
  for (const auto& t : terms) {
    if (t.op != sql::Op::Eq || r.FieldOfColumn(t.column) < 0) continue;
    equality = true;
    indexed = indexed || r.table->Indexed(t.column);
  }
  bool hit = false;
  int64_t id = 0;
  // Loads a row found; whether there was one.
  const auto take = [&](const std::optional<int64_t>& found) {
    hit = found.has_value() && r.LoadRow(*found);
    if (hit) id = *found;
    return found.has_value();
  };
  if (take((equality && !indexed) ? r.FindHashed(terms) : r.FindQuery(terms)) && !hit) {
    // The row went away behind the hash index's back: ask the file.
    r.hashes.clear();
    take(r.FindQuery(terms));
  }
  r.noMatch = !hit;
  if (hit) {
    r.rowid = id;
    r.OnRow();
  }
}

bool Recordset::NoMatch() const { return impl_->noMatch; }

void Recordset::MoveFirst() {
  Impl& r = *impl_;
  r.Check();
  r.mode = Impl::Mode::None;
  if (!r.Move(Impl::Dir::First)) {
    r.hasRow = false;
    r.bof = r.eof = true;
    r.Fail(err::kNoCurrentRecord, "No current record.");
  }
  r.OnRow();
}

void Recordset::MoveNext() {
  Impl& r = *impl_;
  r.Check();
  r.mode = Impl::Mode::None;
  if (r.eof) r.Fail(err::kNoCurrentRecord, "No current record.");
  const bool moved = r.hasRow ? r.Move(Impl::Dir::Next) : r.Move(Impl::Dir::First);
  if (moved) {
    r.OnRow();
  } else {
    r.hasRow = false;
    r.eof = true;
    r.bof = false;
  }
}

void Recordset::MoveLast() {
  Impl& r = *impl_;
  r.Check();
  r.mode = Impl::Mode::None;
  if (!r.Move(Impl::Dir::Last)) {
    r.hasRow = false;
    r.bof = r.eof = true;
    r.Fail(err::kNoCurrentRecord, "No current record.");
  }
  r.OnRow();
}

bool Recordset::Eof() const { return impl_->eof; }
bool Recordset::Bof() const { return impl_->bof; }

Value Recordset::Get(std::string_view field) const {
  Impl& r = *impl_;
  r.Check();
  const size_t i = r.FieldIndex(field);
  if (r.mode != Impl::Mode::None) return r.buf[i];
  if (!r.hasRow) r.Fail(err::kNoCurrentRecord, "No current record.");
  return r.row[i];
}

void Recordset::Set(std::string_view field, Value v) {
  Impl& r = *impl_;
  r.Check();
  const size_t i = r.FieldIndex(field);
  if (r.isMax) r.Fail(dberr::kReadOnly, "Cannot update. Database or object is read-only.");
  if (r.mode == Impl::Mode::None) r.Fail(dberr::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit.");
  if (v.IsInt() && r.Col(i).type != FieldType::Text) {
    r.buf[i] = std::move(v);  // a number for a number column: nothing to convert
  } else {
    r.buf[i] = r.Convert(i, std::move(v));
  }
  r.dirty[i] = 1;
}

const std::vector<std::string>& Recordset::FieldNames() const { return impl_->names; }

void Recordset::Close() {
  Impl& r = *impl_;
  r.StopScan();
  r.closed = true;
  r.mode = Impl::Mode::None;
  r.hashes.clear();
  r.hashes.shrink_to_fit();
  r.order.clear();
  r.order.shrink_to_fit();
  r.appended.clear();
  r.buf.clear();
  r.row.clear();
  r.hasRow = false;
}

}  // namespace prax::db
