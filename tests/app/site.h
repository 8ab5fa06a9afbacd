#pragma once
// A prepared program folder, profile folder and network directory with a
// status that records what a command reports.

#include <string>
#include <vector>

#include "app/run_context.h"
#include "app/status.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace apptest {

class RecordingStatus : public prax::Status {
 public:
  std::vector<std::string> messages, phases;

 protected:
  void OnChanged() override {
    if (messages.empty() || messages.back() != Message()) messages.push_back(Message());
  }
  void OnPhase(std::string_view label) override { phases.emplace_back(label); }
};

inline bool Contains(const std::vector<std::string>& v, std::string_view s) {
  for (const auto& x : v)
    if (x == s) return true;
  return false;
}

// program/INIPATH.TXT names ini/, whose PXNET.INI names network/.
struct Site {
  praxtest::TempDir program, ini, network;
  prax::RunContext ctx;
  RecordingStatus status;

  explicit Site(bool writeProfile = true) {
    std::string dir = program.Path().generic_string();
    ctx.ProgramDir = dir;
    ctx.status = &status;
    program.Write("INIPATH.TXT", ini.Text() + "\r\n");
    if (writeProfile) SetNetDir(network.Text());
  }
  void SetNetDir(const std::string& value) const {
    ini.Write("PXNET.INI", "[MAIN]\r\nNETDIR=" + value + "\r\n");
  }
  std::string ProgramFileText(const std::string& name) const {
    return prax::fs::ReadFile(ctx.ProgramFile(name));
  }
};

}  // namespace apptest
