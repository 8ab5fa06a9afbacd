// UserDefs.Prn bytes through the roster import: the lists of locations,
// departments and positions and the Users rows of a real Master database,
// put back to the same upgraded state before each input.
#include "fuzz_env.h"
#include "roster/roster_operations.h"

namespace {

struct Env {
  praxfuzz::ScratchDir dir;
  prax::Status status;
  prax::RunContext ctx;
  praxfuzz::stdfs::path live, pristine, defs;

  Env() {
    ctx.NetworkDir = dir.Text();
    live = dir.Path() / "MASTER.MDB";
    pristine = dir.Path() / "pristine.MDB";
    defs = dir.Path() / "UserDefs.Prn";
    praxfuzz::MakeMaster(live);
    prax::UpgradeMasterSchema(ctx);
    praxfuzz::stdfs::copy_file(live, pristine);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Env env;
  praxfuzz::Restore(env.pristine, env.live);
  praxfuzz::WriteBytes(env.defs, praxfuzz::AsText(data, size));
  prax::TryStep([&] { prax::ImportUserDefs(env.ctx, &env.status); });
  return 0;
}
