// Start-up configuration files: the input becomes one of INIPATH.TXT,
// PXNET.INI, Networks.Lst, KEYS.MAX or PXSERVER.SET (chosen when the target
// is built, PRAX_FUZZ_FILE), the others are well formed, and the start-up
// sequence and the saved-settings reader run over them.
#include "app/settings.h"
#include "app/startup.h"
#include "fuzz_env.h"

#ifndef PRAX_FUZZ_FILE
#error "PRAX_FUZZ_FILE names the file the input is written to"
#endif

namespace {

struct Env {
  praxfuzz::ScratchDir dir;
  praxfuzz::stdfs::path program, ini, network;
  std::string programText;

  Env() {
    program = dir.Path() / "program";
    ini = dir.Path() / "ini";
    network = dir.Path() / "network";
    programText = program.generic_string();
    praxfuzz::WriteBytes(program / "INIPATH.TXT", ini.generic_string() + "/\r\n");
    praxfuzz::WriteBytes(ini / "PXNET.INI", "[MAIN]\r\nNETDIR=" + network.generic_string() + "/\r\n");
    praxfuzz::WriteBytes(network / "Networks.Lst", "\"/srv/a/\",\"AA\",\"Alpha\"\r\n\"/srv/b/\",\"BB\",\"Beta\"\r\n");
    praxfuzz::WriteBytes(program / "KEYS.MAX", "120\r\n");
    praxfuzz::WriteBytes(program / "PXSERVER.SET", "2\r\n1\r\n\"1\",\"250\"\r\n1\r\n1\r\n");
    praxfuzz::WriteBytes(program / "UPDATED.DAT", "\"        DB Updated Last: 05/12/2026 19:04:45\"\r\n");
  }
  praxfuzz::stdfs::path Target() const {
    const std::string name = PRAX_FUZZ_FILE;
    if (name == "PXNET.INI") return ini / name;
    if (name == "Networks.Lst") return network / name;
    return program / name;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Env env;
  static const praxfuzz::stdfs::path target = env.Target();
  praxfuzz::WriteBytes(target, praxfuzz::AsText(data, size));
  prax::RunContext ctx;
  ctx.ProgramDir = env.programText;
  prax::TryStep([&] { (void)prax::RunStartup(ctx); });
  prax::WindowChoices choices;
  prax::TryStep([&] { prax::LoadSettings(ctx, choices); });
  return 0;
}
