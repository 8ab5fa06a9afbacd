#pragma once
// Get-or-create lookups that map free-text names to small 16-bit ids, one
// list table each (applications, windows, projects, tasks, notes, body parts,
// discomforts, tools in the History database; locations, positions,
// departments in the Master database). The rules live here once, whatever
// engine holds the table.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace prax::store {

// One stored row of a list: either value may be Null in a file written by
// another program.
struct ListEntry {
  std::optional<int64_t> id;
  std::optional<std::string> name;  // UTF-8
};

// A list table as an engine holds it.
class ListTable {
 public:
  virtual ~ListTable() = default;
  // The table's name as the schema names it, for messages.
  virtual const std::string& TableName() const = 0;
  // The name column as the schema names it, for messages; empty when unknown.
  virtual std::string NameColumn() const { return {}; }
  // The largest id; nullopt when the table is empty. Errors pass (a missing
  // table, an unreadable file).
  virtual std::optional<int64_t> MaxId() = 0;
  // Every row in stored order.
  virtual std::vector<ListEntry> Entries() = 0;
  // Stores a new row; a name the name column refuses (longer than 255
  // characters) throws a data Error and stores nothing.
  virtual void Insert(int16_t id, std::string_view name) = 0;
  // Takes the file's write lock now (see SqliteFile::BeginWrite).
  virtual void BeginWrite() = 0;
  // Changes whenever another program committed to the file since last asked.
  virtual int64_t DataVersion() = 0;
};

// The ids of one list while a pass (or an import) uses it.
class ListIds {
 public:
  // `onLookup` (may be empty) runs after every completed lookup: the status
  // display catches up.
  explicit ListIds(ListTable& table, std::function<void()> onLookup = {});

  // Priming: the running maximum becomes the table's largest id (0 when the
  // table is empty); an id beyond 16 bits is Overflow (6). Errors pass to the
  // caller, which applies its own policy.
  void Prime();
  // Reads the list's names; a list that cannot be read throws.
  void Open();
  // Get-or-create by name (UTF-8). The name is trimmed of spaces and matched
  // without regard to letter case (text::FoldCase1252) with the first stored
  // row of that name (a name of plain ASCII holding a NUL byte matches as the
  // name column's index compares it: the same length, the same text up to
  // that byte); a new name is stored under the running maximum plus one. Before a new id is given out the write lock is taken and, when
  // another program committed to the file since the list was read, its
  // maximum and names are read again: other writers never make it store an
  // id twice.
  // Refused, each a data Error:
  //  - a name that is empty after trimming (3315; nothing spent or stored);
  //  - a name holding a single quote (3075; nothing spent or stored): such
  //    names have never been stored in the lists, and sites' reports rely on
  //    that; the row that follows keeps the id looked up before;
  //  - a new name past id 32767 (Overflow 6);
  //  - a name the table refuses (the id is spent all the same);
  //  - a stored id that is Null or beyond 16 bits.
  int16_t Get(std::string_view name);
  void Close();

  bool IsOpen() const { return open_; }
  int16_t Max() const { return max_; }
  // A list past 90 % of its ids (29491 on): the site should hear of it before
  // new names stop getting ids.
  static constexpr int16_t kNearlyFull = 29491;
  bool NearlyFull() const { return max_ >= kNearlyFull; }
  // The distinct names (letter case folded) that got no id because the list
  // already held id 32767, counted for as long as this object lives (a job),
  // across passes and primings.
  std::size_t Unnumbered() const { return unnumbered_.size(); }
  // Changes whenever the names and ids are read anew or the list closes: an
  // id a caller remembers for a name holds while this stays the same.
  uint64_t Generation() const { return generation_; }

 private:
  void Load();
  void Remember(const std::string& name, std::optional<int64_t> id);

  ListTable& table_;
  std::function<void()> onLookup_;
  bool open_ = false;
  int16_t max_ = 0;
  int64_t version_ = -1;  // the file's data version when the list was read
  uint64_t generation_ = 0;
  // The first stored id of every name, by its letter case folded, and by the
  // key the name column's index compares; a name whose first row has a Null
  // id maps to nullopt.
  std::unordered_map<std::string, std::optional<int64_t>> ids_, indexIds_;
  std::unordered_set<std::string> unnumbered_;
  // The name asked for last, as given, and its id.
  std::string lastName_;
  std::optional<int16_t> last_;
};

}  // namespace prax::store
