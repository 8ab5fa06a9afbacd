#include "app/status.h"

#include <algorithm>

#include "platform/vbnum.h"

namespace prax {

namespace {
int ClampBar(long long p) { return static_cast<int>(std::clamp<long long>(p, 0, 100)); }
}  // namespace

void Status::SetStatus(std::string_view text) {
  message_ = "Status: ";
  message_ += text;
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
  fileCaption_ = vb::PercentCaption(percent);
  fileBar_ = ClampBar(percent);
  OnChanged();
}

void Status::SetUserPercent(long long percent) {
  userCaption_ = vb::PercentCaption(percent);
  userBar_ = ClampBar(percent);
  OnChanged();
}

void Status::SetLoading(std::string_view text) {
  loading_ = text;
  OnChanged();
}

}  // namespace prax
