#pragma once
// A program folder whose INIPATH.TXT names a profile folder whose PXNET.INI names a network directory.

#include <string>

#include "platform/fs.h"
#include "command/run_context.h"
#include "support/recording_status.h"
#include "support/temp_dir.h"

namespace apptest {

using praxtest::RecordingStatus;

struct Site {
  praxtest::TempDir program, ini, network;
  prax::RunContext ctx;
  RecordingStatus status;

  explicit Site(bool writeProfile = true) {
    ctx.ProgramDir = program.Path().generic_string();
    program.Write("INIPATH.TXT", ini.Text() + "\r\n");
    if (writeProfile) SetNetDir(network.Text());
  }
  void SetNetDir(const std::string& value) const { ini.Write("PXNET.INI", "[MAIN]\r\nNETDIR=" + value + "\r\n"); }
  std::string ProgramFileText(const std::string& name) const { return prax::fs::ReadFile(ctx.ProgramFile(name)); }
};

}  // namespace apptest
