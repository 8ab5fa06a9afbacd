#include "app/window/window_status.h"

#include <QMetaObject>
#include <QTimer>

namespace prax {

WindowStatus::WindowStatus(QObject* parent) : QObject(parent) {
  qRegisterMetaType<prax::StatusSnapshot>("prax::StatusSnapshot");
  std::lock_guard lock(mutex_);
  latest_ = {Message(), Busy(), Loading(), FileCaption(), UserCaption(), FileBar(), UserBar()};
}

void WindowStatus::OnChanged() {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    latest_.message = Message();
    latest_.busy = Busy();
    latest_.loading = Loading();
    latest_.fileCaption = FileCaption();
    latest_.userCaption = UserCaption();
    latest_.fileBar = FileBar();
    latest_.userBar = UserBar();
    post = !posted_;
    posted_ = true;
  }
  if (post) QMetaObject::invokeMethod(this, &WindowStatus::Deliver, Qt::QueuedConnection);
}

void WindowStatus::Deliver() {
  if (sinceLast_.isValid()) {
    const qint64 elapsed = sinceLast_.elapsed();
    if (elapsed < kMinIntervalMs) {
      QTimer::singleShot(static_cast<int>(kMinIntervalMs - elapsed), this, &WindowStatus::Deliver);
      return;
    }
  }
  const StatusSnapshot snapshot = Take();
  sinceLast_.start();
  emit changed(snapshot);
}

StatusSnapshot WindowStatus::Take() {
  std::lock_guard lock(mutex_);
  posted_ = false;
  return latest_;
}

void WindowStatus::Flush() {
  StatusSnapshot snapshot;
  {
    std::lock_guard lock(mutex_);
    snapshot = latest_;
  }
  sinceLast_.start();
  emit changed(snapshot);
}

}  // namespace prax
