#pragma once
// The headless runner's presentation: status texts as "Status: ..." lines and,
// on a terminal, a progress line for users and files redrawn in place.

#include <chrono>
#include <cstdio>
#include <string>

#include "command/status.h"

namespace prax {

class ConsoleStatus : public Status {
 public:
  // out: where status lines and the progress line go. progressBar: draw the
  // progress line (only sensible on a terminal). quiet: print nothing.
  // err: where the lines of files passed over go, quiet or not.
  ConsoleStatus(std::FILE* out, bool progressBar, bool quiet, std::FILE* err = stderr)
      : out_(out), err_(err), progressBar_(progressBar), quiet_(quiet) {}

  // Stops printing (used while a failure is shown elsewhere).
  void Mute() { quiet_ = true; }
  // Removes the progress line, if one is drawn.
  void ClearProgress();

 protected:
  void OnChanged() override;
  void OnPassedOver(std::string_view line) override;

 private:
  void DrawProgress();

  std::FILE* out_;
  std::FILE* err_;
  bool progressBar_;
  bool quiet_;
  std::string lastMessage_ = "Status:";
  std::string lastDrawn_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// The progress line for a loading text and the two percentages, e.g.
// "Pass 1, User 5:  users [#####     ]  45%  files [##        ]  20%".
std::string ProgressLine(const std::string& loading, int userBar, int fileBar);

}  // namespace prax
