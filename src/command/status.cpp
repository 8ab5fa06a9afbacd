#include "command/status.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/datetime.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace prax {

namespace {
int ClampBar(long long p) { return static_cast<int>(std::clamp<long long>(p, 0, 100)); }
}  // namespace

void Status::UpdateLog(std::string_view line) { OnLog(text::Visible(line)); }

void Status::PassedOver(std::string_view reason, std::string_view path, std::string_view line) {
  ++passedOver_;
  const std::string shown = text::Visible(line);
  summary_.passedOver.push_back({text::Visible(reason), text::Visible(path), shown});
  OnLog(shown);
  OnPassedOver(shown);
  Record(shown);
}

void Status::Warn(std::string_view line) {
  const std::string shown = text::Visible(line);
  summary_.warnings.push_back(shown);
  OnLog(shown);
  OnPassedOver(shown);
  Record(shown);
}

void Status::StepSkipped(std::string_view where, const Error& e) {
  const std::string reason = ReasonAt(where, e.Kind());
  ++summary_.tables[std::string(where)].rejects[reason];
  if (rejectsPath_.empty()) return;
  if (summary_.rejectsKept + rejectsBlockLines_ >= rejectsCap_) {
    summary_.rejectsCapped = true;
    return;
  }
  // date and time, file, line, table, reason, text: tab-separated, each
  // field one visible line (a tab in a field reads \t).
  const std::string line = std::to_string(line_), text = text::Cp1252ToUtf8(lineText_);
  const std::string_view file = rejectsFrom_.empty() ? std::string_view("-") : std::string_view(rejectsFrom_);
  rejectsBlock_ += dt::NowGeneralDate();
  for (const std::string_view field : {file, std::string_view(line), where, std::string_view(reason),
                                       std::string_view(text)}) {
    rejectsBlock_ += '\t';
    rejectsBlock_ += text::Visible(field);
  }
  rejectsBlock_ += "\r\n";
  ++rejectsBlockLines_;
}

void Status::KeepRejects(std::string pathText, int64_t cap) {
  FlushRejects();
  rejectsPath_ = cap > 0 ? std::move(pathText) : std::string();
  rejectsCap_ = cap;
  summary_.rejectsFile = rejectsPath_.empty() ? std::string() : fs::ForDisplay(rejectsPath_);
}

void Status::RejectsFrom(std::string_view file) {
  rejectsFrom_.assign(file);
  line_ = 0;
  lineText_ = {};
}

void Status::EndLines() {
  rejectsFrom_.clear();
  line_ = 0;
  lineText_ = {};
  FlushRejects();
}

void Status::FlushRejects() {
  if (rejectsBlockLines_ == 0 || rejectsPath_.empty()) return;
  const int64_t lines = std::exchange(rejectsBlockLines_, 0);
  const std::string block = std::exchange(rejectsBlock_, std::string());
  try {
    AppendRotatedBlock(rejectsPath_, block);
    summary_.rejectsKept += lines;
  } catch (const Error& e) {
    // Like the run log: said once, and the lines are only counted from now on.
    rejectsPath_.clear();
    if (summary_.rejectsKept == 0) summary_.rejectsFile.clear();
    SayNotWritten("Reject file not written: ", e);
  }
}

void Status::Record(std::string_view line) {
  if (runLogFile_.empty()) return;
  try {
    AppendRotatedLog(runLogFile_, line);
  } catch (const Error& e) {
    // The run log is not the run: it is said once (status line, and where
    // passed-over files are shown), and the run goes on without it.
    runLogFile_.clear();
    SayNotWritten("Run log not written: ", e);
  }
}

void Status::SayNotWritten(std::string_view what, const Error& e) {
  const std::string text = text::Visible(std::string(what) + e.what());
  summary_.warnings.push_back(text);
  OnLog(text);
  OnPassedOver(text);
  SetStatus(text);
}

void AppendRotatedLog(const std::string& pathText, std::string_view line, std::uintmax_t maxBytes) {
  AppendRotatedBlock(pathText, dt::NowGeneralDate() + ' ' + text::Visible(line) + "\r\n", maxBytes);
}

void AppendRotatedBlock(const std::string& pathText, std::string_view block, std::uintmax_t maxBytes) {
  // Neither the log nor its older part is written through a link, into a
  // FIFO or into a file with another name.
  fs::RequireOwnFile(pathText);
  const std::filesystem::path file = fs::RealPath(pathText);
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (!ec && size > maxBytes) {
    fs::RequireOwnFile(pathText + ".1");
    std::filesystem::path old = file;
    old += ".1";
    std::filesystem::rename(file, old, ec);
  }
  fs::AppendFile(pathText, block);
}

void Status::SetStatus(std::string_view text) {
  message_ = "Status: ";
  message_ += text::Visible(text);
  busy_ = true;
  OnChanged();
  OnYield();
}

void Status::EndBusy() {
  if (running_) return;
  busy_ = false;
  OnChanged();
  OnYield();
}

void Status::SetFilePercent(long long percent) {
  fileCaption_ = num::PercentCaption(percent);
  fileBar_ = ClampBar(percent);
  OnChanged();
}

void Status::SetUserPercent(long long percent) {
  userCaption_ = num::PercentCaption(percent);
  userBar_ = ClampBar(percent);
  OnChanged();
}

void Status::SetLoading(std::string_view text) {
  loading_ = text::Visible(text);
  OnChanged();
}

}  // namespace prax
