#include <memory>
#include <optional>
#include <string>

#include "store/list_ids.h"
#include "platform/run_context.h"
#include "platform/status.h"
#include "roster/master_database.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/listio.h"
#include "platform/text.h"

namespace prax {

namespace {

// Everything the import keeps open while it reads the file.
struct ImportState {
  LookupList locations{lists::kLocations};
  LookupList positions{lists::kPositions};
  LookupList departments{lists::kDepartments};
  std::unique_ptr<db::Recordset> users;
  std::optional<std::string> item;  // the item last read, for messages

  void CloseAll() {
    TryStep([&] { locations.Close(); });
    TryStep([&] { positions.Close(); });
    TryStep([&] { departments.Close(); });
    if (users) TryStep([&] { users->Close(); });
    users.reset();
  }
};

std::string ReadDefItem(ListReader& reader, ImportState& st) {
  st.item = text::Cp1252ToUtf8(reader.ReadItem());
  return *st.item;
}

}  // namespace

void UpdateMasterDatabase(RunContext& ctx) {
  const std::string defsFile = ctx.NetworkDir + "UserDefs.Prn";
  if (!fs::Exists(defsFile, true)) return;

  ListReader reader(fs::ReadFile(defsFile));

  const std::string masterFile = ctx.NetworkDir + "MASTER.MDB";
  ctx.Db.reset();
  // The engine's message names the file; the caller names the operation.
  ctx.Db = db::Database::Open(fs::RealPath(masterFile));
  db::Database& db = *ctx.Db;

  ImportState st;
  // The first two lists are primed leniently: a list whose maximum cannot be
  // read starts from 0.
  TryStep([&] { st.locations.Prime(db); });
  TryStep([&] { st.positions.Prime(db); });

  // From here the first failure ends the import; rows stored before it stay.
  try {
    st.departments.Prime(db);
    st.locations.Open(db, ctx.status);
    st.positions.Open(db, ctx.status);
    st.departments.Open(db, ctx.status);
    ctx.SqlText = "SELECT User_Id, Location_Id, Position_Id, Department_Id FROM Users";
    st.users = db.OpenRecordset(ctx.SqlText);

    while (!reader.AtEnd()) {
      const std::string userId = ReadDefItem(reader, st);
      ctx.SqlText = "User_Id ='" + userId + "'";
      st.users->FindFirst(ctx.SqlText);
      // An item that names no listed user is dropped; the next item is tried
      // as a user id, so reading falls back into step with the records.
      if (st.users->NoMatch()) continue;

      st.users->Edit();
      const int16_t locationId = st.locations.Get(ReadDefItem(reader, st));
      const int16_t departmentId = st.departments.Get(ReadDefItem(reader, st));
      const int16_t positionId = st.positions.Get(ReadDefItem(reader, st));
      st.users->Set("Location_Id", db::Value(int64_t{locationId}));
      st.users->Set("Position_Id", db::Value(int64_t{positionId}));
      st.users->Set("Department_Id", db::Value(int64_t{departmentId}));
      st.users->Update();
    }
    st.CloseAll();
    db.Close();
  } catch (const Error& e) {
    if (st.users) TryStep([&] { st.users->CancelUpdate(); });
    TryStep([&] { db.Commit(); });
    st.CloseAll();
    TryStep([&] { db.Close(); });
    ctx.Db.reset();
    std::string where = "'" + fs::ForDisplay(defsFile) + "'";
    if (st.item) where += " at item \"" + *st.item + "\"";
    throw Error(e.Number(), where + ": " + e.what() +
                                " Correct UserDefs.Prn at that item (a name may not hold a single quote; every user "
                                "id needs its location, department and position), then run the command again; the "
                                "records before it are stored.");
  }
  ctx.Db.reset();
}

}  // namespace prax
