#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "command/status.h"

namespace praxtest {

class RecordingStatus : public prax::Status {
 public:
  // Each new status line, phase, run-log line, passed-over line, "Pass n, User m:" and file caption.
  std::vector<std::string> messages, phases, log, passedOver, loading, captions;
  // Called at each new "Pass n, User m:" and at each new file caption.
  std::function<void(const std::string&)> onLoading, onCaption;

  bool Said(std::string_view part) const {
    return std::any_of(messages.begin(), messages.end(), [&](const auto& m) { return m.find(part) != std::string::npos; });
  }

 protected:
  void OnLog(std::string_view line) override { log.emplace_back(line); }
  void OnPassedOver(std::string_view line) override { passedOver.emplace_back(line); }
  void OnPhase(std::string_view label) override { phases.emplace_back(label); }
  void OnChanged() override {
    if (messages.empty() || messages.back() != Message()) messages.push_back(Message());
    if (FileCaption() != caption_) {
      captions.push_back(caption_ = FileCaption());
      if (onCaption) onCaption(caption_);
    }
    if (loading.empty() || loading.back() != Loading()) {
      loading.push_back(Loading());
      if (onLoading) onLoading(Loading());
    }
  }

 private:
  std::string caption_ = "0%";
};

}  // namespace praxtest
