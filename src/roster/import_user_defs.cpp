#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/listio.h"
#include "platform/text.h"
#include "roster/roster_operations.h"
#include "store/roster_store.h"

namespace prax {

namespace {

// A user id holding a single quote is refused, as such ids have always been:
// the import stops there and the administrator corrects the file.
void RefuseQuotedUserId(const std::string& userId) {
  if (userId.find('\'') == std::string::npos) return;
  throw Error(err::kSyntaxInExpression, "the user id \"" + userId + "\" holds a single quote, which a user id may not", Cause::kData);
}

}  // namespace

void ImportUserDefs(const RunContext& run, Status* status) {
  const std::string defsFile = run.NetworkDir + "UserDefs.Prn";
  if (!fs::Exists(defsFile, true)) return;

  ListReader reader(fs::ReadFile(defsFile));
  // The engine's message names the file; the caller names the operation.
  auto roster = store::Roster::Open(fs::RealPath(run.NetworkDir + "MASTER.MDB"));

  const std::function<void()> yield = [status] {
    if (status != nullptr) status->Yield();
  };
  store::ListIds locations(roster->List(store::RosterList::kLocations), yield);
  store::ListIds positions(roster->List(store::RosterList::kPositions), yield);
  store::ListIds departments(roster->List(store::RosterList::kDepartments), yield);
  std::optional<std::string> item;  // the item last read, for messages
  const auto readItem = [&] {
    item = text::Cp1252ToUtf8(reader.ReadItem());
    return *item;
  };

  // The first two lists are primed leniently: a list whose maximum cannot be
  // read starts from 0.
  TryStep(status, "LocationsList", [&] { locations.Prime(); });
  TryStep(status, "PositionsList", [&] { positions.Prime(); });

  // From here the first failure ends the import. Each record is saved as
  // soon as it is stored, so that whatever ends the import later keeps it.
  int stored = 0;                     // records saved
  std::optional<std::string> record;  // the user id of the record being stored
  try {
    departments.Prime();
    locations.Open();
    positions.Open();
    departments.Open();
    while (!reader.AtEnd()) {
      const std::string userId = readItem();
      RefuseQuotedUserId(userId);
      const std::optional<store::RowId> user = roster->FindUser(userId);
      // An item that names no listed user is dropped; the next item is tried
      // as a user id, so reading falls back into step with the records.
      if (!user) continue;
      record = userId;
      const int16_t locationId = locations.Get(readItem());
      const int16_t departmentId = departments.Get(readItem());
      const int16_t positionId = positions.Get(readItem());
      roster->SetUserDefs(*user, locationId, positionId, departmentId);
      roster->Commit();
      ++stored;
      record.reset();
    }
    roster->Close();
  } catch (const Error& e) {
    const bool busy = e.Kind() == err::kLocked;
    // A file held by others cannot take the open record (nor would a commit
    // wait any better): it is undone. After a failure of the data the names
    // given ids so far are kept, as the lists always keep them. A failure here
    // changes nothing of what is reported: the records saved stay saved.
    try {
      if (busy)
        roster->Rollback();
      else
        roster->Commit();
    } catch (const Error&) {
    }
    try {
      roster->Close();
    } catch (const Error&) {
    }
    const std::string kept = stored > 1    ? "the " + std::to_string(stored) + " records before it are stored."
                             : stored == 1 ? "the record before it is stored."
                                           : "no record was stored.";
    if (busy) {
      const std::string at = record ? "the record of user \"" + *record + "\"" : "item \"" + item.value_or("") + "\"";
      throw Error(e.Kind(), "'" + fs::ForDisplay(run.NetworkDir + "MASTER.MDB") +
                                  "' was held by another program longer than the wait allows, so the import of '" +
                                  fs::ForDisplay(defsFile) + "' stopped at " + at +
                                  ", which was not stored; UserDefs.Prn is not at fault. Run the command again when "
                                  "that program has finished; " + kept,
                  e.Origin());
    }
    std::string where = "'" + fs::ForDisplay(defsFile) + "'";
    if (item) where += " at item \"" + *item + "\"";
    throw Error(e.Kind(), where + ": " + e.what() +
                                " Correct UserDefs.Prn at that item (a name may not hold a single quote; every user "
                                "id needs its location, department and position), then run the command again; " +
                                kept,
                e.Origin());
  }
}

}  // namespace prax
