#include "server/ui/TransferStatus.h"

#include <QTimer>

#include "server/net/ServerRunner.h"

namespace ondavox::server {

TransferStatus::TransferStatus(const ServerRunner& runner, QWidget* parent)
    : QLabel(parent), runner_(runner), timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("transferStatus"));
  setVisible(false);
  connect(timer_, &QTimer::timeout, this, [this] {
    Show(meter_.Sample(runner_.TransferProgress(), std::chrono::steady_clock::now()));
  });
  timer_->start(kPeriodMs);
}

void TransferStatus::Show(const std::optional<TransferFigures>& figures) {
  if (!figures) {
    setVisible(false);
    clear();
    return;
  }
  setText(QString::fromStdString(TransferMeter::StatusText(*figures)));
  setVisible(true);
}

}  // namespace ondavox::server
