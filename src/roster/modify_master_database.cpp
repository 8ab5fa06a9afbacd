#include <array>
#include <string>
#include <string_view>

#include "platform/run_context.h"
#include "roster/master_database.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace prax {

namespace {

// Each adds one column, list or index; on an upgraded database each fails
// (the column, table or index exists) and is passed over.
constexpr std::array<std::string_view, 12> kUpgradeStatements = {
    "ALTER TABLE Users ADD COLUMN Location_Id INTEGER",
    "ALTER TABLE Users ADD COLUMN Department_Id INTEGER",
    "ALTER TABLE Users ADD COLUMN Position_Id INTEGER",
    "ALTER TABLE Users ADD COLUMN LastRunDate TEXT (20)",
    "ALTER TABLE Users ADD COLUMN SystemVer TEXT (10)",
    "ALTER TABLE Users ADD COLUMN NetLoggingOff TEXT (1)",
    "CREATE TABLE LocationsList (Location_Id INTEGER, Location_Name TEXT (255))",
    "CREATE TABLE PositionsList (Position_Id INTEGER, Position_Name TEXT (255))",
    "CREATE TABLE DepartmentsList (Department_Id INTEGER, Department_Name TEXT (255))",
    "CREATE UNIQUE INDEX Location_Id_Ix ON LocationsList (Location_Id)",
    "CREATE UNIQUE INDEX Position_Id_Ix ON PositionsList (Position_Id)",
    "CREATE UNIQUE INDEX Department_Id_Ix ON DepartmentsList (Department_Id)",
};

}  // namespace

void ModifyMasterDatabase(RunContext& ctx) {
  const std::string file = ctx.NetworkDir + "MASTER.MDB";
  ctx.Db.reset();
  // The engine's message names the file; the caller names the operation.
  ctx.Db = db::Database::Open(fs::RealPath(file));
  for (std::string_view sql : kUpgradeStatements) {
    ctx.SqlText = sql;
    TryStep([&] { ctx.Db->Execute(ctx.SqlText); });
  }
  TryStep([&] { ctx.Db->Close(); });
  ctx.Db.reset();
}

}  // namespace prax
