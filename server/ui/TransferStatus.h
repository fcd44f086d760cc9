#pragma once

#include <QLabel>
#include <optional>

#include "server/net/TransferMeter.h"

class QTimer;

namespace ondavox::server {

class ServerRunner;

// The transfer's progress in the server window's status bar (file, bytes sent of bytes to
// send, rate, round), refreshed every second from ServerRunner::TransferProgress by a timer;
// hidden between transfers and while the server is stopped. Nothing of it goes to the log.
//
// Made by the main frame; the runner is borrowed and outlives it. Window thread only.
class TransferStatus final : public QLabel {
  Q_OBJECT

 public:
  static constexpr int kPeriodMs = 1000;

  explicit TransferStatus(const ServerRunner& runner, QWidget* parent = nullptr);

  // Shows |figures|, or hides the label when there are none.
  void Show(const std::optional<TransferFigures>& figures);

 private:
  const ServerRunner& runner_;
  TransferMeter meter_;
  QTimer* timer_;
};

}  // namespace ondavox::server
