#pragma once
// The status line, busy state, percentage displays and run-log hooks through
// which every operation reports. This class holds the texts and numbers the
// window shows; the window, the headless runner and the tests subclass it and
// present them (or record them).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "command/run_summary.h"
#include "platform/error.h"

namespace prax {

class Status : public SkipReporter {
 public:
  virtual ~Status() = default;

  // Status line "Status: " & text; busy; yields once.
  void SetStatus(std::string_view text);
  // Ends the busy state unless the load job is running; yields once.
  void EndBusy();
  // Every text these take (status, run-log and passed-over lines, the
  // loading text, the kept run log) is shown through text::Visible, so that
  // a name holding control characters never splits or forges a line.
  //
  // The run-log sink and the phase hook: nothing on screen changes.
  void UpdateLog(std::string_view line);
  void MarkPhase(std::string_view label) { OnPhase(label); }
  // A run-log line that reports a file (or roster row, or directory) passed
  // over, skipped or left unread. Unlike the rest of the run log the
  // administrator sees these: they are counted, given to the presenter, and
  // appended to the kept run log when one is set.
  void PassedOver(std::string_view line) { PassedOver({}, {}, line); }
  // The same with the short reason and the path (display form; empty when
  // the item is not a file) the run summary lists it under.
  void PassedOver(std::string_view reason, std::string_view path, std::string_view line);
  int PassedOverCount() const { return passedOver_; }
  // A line said like a passed-over one (shown to the administrator, kept in
  // the run log) about something loaded all the same or about the database
  // itself, so not counted: a log dated in the future, a list running out of
  // ids.
  void Warn(std::string_view line);
  // Steps passed over (a row not written, a name not looked up), counted in
  // the summary by where (table or list) and reason, and kept in the reject
  // file with the line they came from. Nothing is shown: the passed-over
  // lines say what the administrator sees.
  void StepSkipped(std::string_view where, const Error& e) override;
  // Where rejected lines are kept (path text; empty or a cap of 0: counted
  // only), at most `cap` of them in this run. Lines are gathered and
  // appended in blocks (EndLines, FlushRejects), each with the date and
  // time; the file is rotated like the run log. A file that cannot be
  // written is said once, like the run log, and the run goes on.
  void KeepRejects(std::string pathText, int64_t cap);
  // The log (display form) the steps from now on belong to, and the line
  // being loaded: its 1-based number (0: the day as a whole) and its bytes
  // (Windows-1252), which the caller keeps alive until the next call.
  void RejectsFrom(std::string_view file);
  void AtLine(int64_t line, std::string_view text) {
    line_ = line;
    lineText_ = text;
  }
  // The log is done: no line is current, and the lines gathered are kept.
  void EndLines();
  // Appends the lines gathered to the reject file.
  void FlushRejects();
  // What the run did so far: passes, tables, rejects, files passed over,
  // warnings (filled as the run reports; read at its end).
  RunSummary& Summary() { return summary_; }
  const RunSummary& Summary() const { return summary_; }
  // Where the kept run log is (path text; empty: none). Lines appended there
  // carry the date and time; the file is rotated when it grows past 1 MiB.
  void KeepRunLog(std::string pathText) { runLogFile_ = std::move(pathText); }
  // Appends a line to the kept run log, if any. A log that cannot be written
  // (or is refused: a link, FIFO or file with a second name) is said once,
  // on the status line and as a passed-over line not counted, and the run
  // goes on without it (the run itself is not at stake).
  void Record(std::string_view line);

  // Progress through the current user's log files and through the universe
  // of users, each a caption and a bar. The caption is
  // the number with a leading blank and "% "; the bar is held within 0..100.
  void SetFilePercent(long long percent);
  void SetUserPercent(long long percent);
  // The pass and user being processed.
  void SetLoading(std::string_view text);

  void SetRunning(bool running) { running_ = running; }
  bool Running() const { return running_; }

  // Lets the presenter catch up (repaint, process input).
  void Yield() { OnYield(); }

  const std::string& Message() const { return message_; }  // "Status: ..."
  bool Busy() const { return busy_; }
  const std::string& Loading() const { return loading_; }
  const std::string& FileCaption() const { return fileCaption_; }
  int FileBar() const { return fileBar_; }
  const std::string& UserCaption() const { return userCaption_; }
  int UserBar() const { return userBar_; }

 protected:
  // Something shown changed (message, busy state, loading text, percentages).
  virtual void OnChanged() {}
  virtual void OnLog(std::string_view) {}
  virtual void OnPassedOver(std::string_view) {}
  virtual void OnPhase(std::string_view) {}
  virtual void OnYield() {}

 private:
  std::string message_ = "Status:";
  bool busy_ = false;
  bool running_ = false;
  std::string loading_ = "Current User:";
  std::string fileCaption_ = "0%";
  int fileBar_ = 0;
  std::string userCaption_ = "0%";
  int userBar_ = 0;
  // Says once that a kept file (run log, reject file) cannot be written.
  void SayNotWritten(std::string_view what, const Error& e);

  int passedOver_ = 0;
  RunSummary summary_;
  std::string runLogFile_;
  // The reject file, its cap, the lines gathered for it, and the line current.
  std::string rejectsPath_;
  int64_t rejectsCap_ = 0;
  std::string rejectsBlock_;
  int64_t rejectsBlockLines_ = 0;
  std::string rejectsFrom_;
  int64_t line_ = 0;
  std::string_view lineText_;
};

// Appends "<date and time> <line>" to a log file; when the file has grown
// past maxBytes it is first renamed to <file>.1 (replacing an older one), so
// at most twice maxBytes are kept.
void AppendRotatedLog(const std::string& pathText, std::string_view line, std::uintmax_t maxBytes = 1024 * 1024);
// The same for a block of lines already ended and dated.
void AppendRotatedBlock(const std::string& pathText, std::string_view block, std::uintmax_t maxBytes = 1024 * 1024);

}  // namespace prax
