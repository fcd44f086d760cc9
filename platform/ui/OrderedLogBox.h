#pragma once

#include <QPointer>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Mutex.h"

class QPlainTextEdit;

namespace ondavox {

// Writes lines into a read-only log box from any thread, in the order Append was called: each
// line joins one queue, which the window thread drains into the box (at once when Append runs
// on the window thread, else through one queued invocation). Lines appended before a box is
// attached wait in the queue and appear when it is. Each line is followed by a line break and
// the box scrolls to its end.
//
// Append: any thread. Attach and Clear: window thread only. The box is not owned and must
// outlive the last Append.
class OrderedLogBox {
 public:
  OrderedLogBox() = default;
  OrderedLogBox(const OrderedLogBox&) = delete;
  OrderedLogBox& operator=(const OrderedLogBox&) = delete;

  void Attach(QPlainTextEdit* box) EXCLUDES(mu_);
  void Append(std::string_view line) EXCLUDES(mu_);
  // Empties the box, with every line appended before the call.
  void Clear() EXCLUDES(mu_);

 private:
  void Drain() EXCLUDES(mu_);

  Mutex mu_;
  QPointer<QPlainTextEdit> box_ GUARDED_BY(mu_);
  std::vector<std::string> queued_ GUARDED_BY(mu_);
  bool drainScheduled_ GUARDED_BY(mu_) = false;
};

}  // namespace ondavox
