#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "client/core/ReceptionMeter.h"

class QLabel;
class QProgressBar;
class QTimer;

namespace ondavox::client {

// The reception progress in the client window's status bar: the file's name, its percent and
// its rate, with a bar, shown while a file is coming in and hidden when none is. Owns a
// ReceptionMeter over the receiver object and a one-second timer that samples it.
//
// Made by the main frame; window thread only.
class ReceptionProgress final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kPeriodMs = 1000;

  ReceptionProgress(std::shared_ptr<FcastReceiverObject> receiver, QWidget* parent = nullptr);

  // Shows |figures|, or hides the widget when there are none.
  void Show(const std::optional<ReceptionFigures>& figures);

 private:
  ReceptionMeter meter_;
  QLabel* text_;
  QProgressBar* bar_;
  QTimer* timer_;
};

}  // namespace ondavox::client
