#include "platform/ui/OrderedLogBox.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QThread>

namespace ondavox {
namespace {

bool OnWindowThread() {
  return QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

void OrderedLogBox::Attach(QPlainTextEdit* box) {
  {
    MutexLock lock(mu_);
    box_ = box;
  }
  Drain();
}

void OrderedLogBox::Append(std::string_view line) {
  {
    MutexLock lock(mu_);
    queued_.emplace_back(line);
    if (!OnWindowThread()) {
      if (drainScheduled_ || box_.isNull()) return;
      drainScheduled_ = true;
      QMetaObject::invokeMethod(
          box_.data(), [this] { Drain(); }, Qt::QueuedConnection);
      return;
    }
  }
  Drain();
}

void OrderedLogBox::Clear() {
  QPointer<QPlainTextEdit> box;
  {
    MutexLock lock(mu_);
    queued_.clear();
    box = box_;
  }
  if (!box.isNull()) box->clear();
}

void OrderedLogBox::Drain() {
  std::vector<std::string> lines;
  QPointer<QPlainTextEdit> box;
  {
    MutexLock lock(mu_);
    if (box_.isNull()) return;
    drainScheduled_ = false;
    lines.swap(queued_);
    box = box_;
  }
  for (const std::string& line : lines) box->appendPlainText(QString::fromStdString(line));
  if (!lines.empty()) {
    QScrollBar* bar = box->verticalScrollBar();
    bar->setValue(bar->maximum());
  }
}

}  // namespace ondavox
