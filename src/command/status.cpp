#include "command/status.h"

#include <algorithm>
#include <system_error>

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

void Status::PassedOver(std::string_view line) {
  ++passedOver_;
  Warn(line);
}

void Status::Warn(std::string_view line) {
  const std::string shown = text::Visible(line);
  OnLog(shown);
  OnPassedOver(shown);
  Record(shown);
}

void Status::Record(std::string_view line) {
  if (runLogFile_.empty()) return;
  try {
    AppendRotatedLog(runLogFile_, line);
  } catch (const Error& e) {
    // The run log is not the run: it is said once (status line, and where
    // passed-over files are shown), and the run goes on without it.
    runLogFile_.clear();
    const std::string text = text::Visible(std::string("Run log not written: ") + e.what());
    OnLog(text);
    OnPassedOver(text);
    SetStatus(text);
  }
}

void AppendRotatedLog(const std::string& pathText, std::string_view line, std::uintmax_t maxBytes) {
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
  fs::AppendFile(pathText, dt::NowGeneralDate() + ' ' + text::Visible(line) + "\r\n");
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
