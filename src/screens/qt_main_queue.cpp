#include "screens/qt_main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace lumenvale {

void onMainThread(std::function<void()> work) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

QtMainQueue::QtMainQueue(QObject* parent) : QObject(parent) {}

void QtMainQueue::post(std::function<void()> work) {
  // Queued on this object's thread, the main one, even when posted from it.
  QMetaObject::invokeMethod(
      this, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

bool QtMainQueue::isMain() const { return QThread::currentThread() == thread(); }

void QtMainQueue::every(std::chrono::milliseconds interval, std::function<void()> work) {
  auto* timer = new QTimer(this);
  timer->setInterval(static_cast<int>(interval.count()));
  connect(timer, &QTimer::timeout, this, [work = std::move(work)] { work(); });
  timer->start();
}

}  // namespace lumenvale
