#include "app/praxload_console.h"

#include <algorithm>

namespace prax {

namespace {

void AppendBar(std::string& out, int percent) {
  constexpr int kWidth = 20;
  const int filled = percent * kWidth / 100;
  out += '[';
  out.append(static_cast<std::size_t>(filled), '#');
  out.append(static_cast<std::size_t>(kWidth - filled), ' ');
  out += "] ";
  const std::string number = std::to_string(percent);
  out.append(3 - std::min<std::size_t>(3, number.size()), ' ');
  out += number;
  out += '%';
}

}  // namespace

std::string ProgressLine(const std::string& loading, int userBar, int fileBar) {
  std::string line = loading;
  line += "  users ";
  AppendBar(line, userBar);
  line += "  files ";
  AppendBar(line, fileBar);
  return line;
}

void ConsoleStatus::ClearProgress() {
  if (!drawn_) return;
  std::fputc('\r', out_);
  for (std::size_t i = 0; i < lastDrawn_.size(); ++i) std::fputc(' ', out_);
  std::fputc('\r', out_);
  std::fflush(out_);
  drawn_ = false;
  lastDrawn_.clear();
}

void ConsoleStatus::OnChanged() {
  if (quiet_) return;
  if (Message() != lastMessage_) {
    lastMessage_ = Message();
    ClearProgress();
    std::fputs(lastMessage_.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
    return;
  }
  if (progressBar_) DrawProgress();
}

void ConsoleStatus::OnPassedOver(std::string_view line) {
  ClearProgress();
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fputc('\n', err_);
  std::fflush(err_);
}

void ConsoleStatus::DrawProgress() {
  // Redraw at most ten times a second; the last state before a status line
  // or the end is good enough on screen.
  // Nothing to show before the job starts.
  if (Loading() == "Current User:" && UserBar() == 0 && FileBar() == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  std::string line = ProgressLine(Loading(), UserBar(), FileBar());
  if (line == lastDrawn_) return;
  lastDraw_ = now;
  std::fputc('\r', out_);
  std::fputs(line.c_str(), out_);
  // Blank out what a longer earlier line left behind.
  for (std::size_t i = line.size(); i < lastDrawn_.size(); ++i) std::fputc(' ', out_);
  std::fflush(out_);
  lastDrawn_ = std::move(line);
  drawn_ = true;
}

}  // namespace prax
