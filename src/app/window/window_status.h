#pragma once
// The status operations presented by the main window. Operations report from
// the worker thread that runs a command; each change is copied into a
// snapshot and handed to the window's thread, coalesced, at most about twenty
// times a second, so that reporting never waits for painting.

#include <QElapsedTimer>
#include <QObject>

#include <mutex>
#include <string>

#include "command/status.h"

namespace prax {

// What the window shows of the status, as one consistent copy.
struct StatusSnapshot {
  std::string message;  // "Status: ..."
  bool busy = false;
  std::string loading;
  std::string fileCaption, userCaption;
  int fileBar = 0, userBar = 0;
};

class WindowStatus : public QObject, public Status {
  Q_OBJECT

 public:
  explicit WindowStatus(QObject* parent = nullptr);

  // Delivers the latest snapshot at once (window thread only).
  void Flush();

 signals:
  // Emitted on the window's thread with the latest state.
  void changed(const prax::StatusSnapshot& snapshot);

 protected:
  void OnChanged() override;

 private:
  void Deliver();
  StatusSnapshot Take();

  static constexpr int kMinIntervalMs = 50;

  std::mutex mutex_;
  StatusSnapshot latest_;
  bool posted_ = false;  // a delivery is queued or scheduled
  QElapsedTimer sinceLast_;
};

}  // namespace prax
