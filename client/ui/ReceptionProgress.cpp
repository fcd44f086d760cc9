#include "client/ui/ReceptionProgress.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "common/ByteFormat.h"

namespace ondavox::client {

ReceptionProgress::ReceptionProgress(std::shared_ptr<FcastReceiverObject> receiver, QWidget* parent)
    : QWidget(parent),
      meter_(std::move(receiver)),
      text_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("receptionProgress"));
  text_->setObjectName(QStringLiteral("receptionText"));
  bar_->setObjectName(QStringLiteral("receptionBar"));
  bar_->setRange(0, 100);
  bar_->setMaximumWidth(160);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text_);
  layout->addWidget(bar_);
  setVisible(false);
  connect(timer_, &QTimer::timeout, this,
          [this] { Show(meter_.Sample(std::chrono::steady_clock::now())); });
  timer_->start(kPeriodMs);
}

void ReceptionProgress::Show(const std::optional<ReceptionFigures>& figures) {
  if (!figures) {
    setVisible(false);
    text_->clear();
    bar_->setValue(0);
    return;
  }
  QString text =
      QStringLiteral("Receiving %1: %2%").arg(QString::fromStdString(figures->name)).arg(figures->percent);
  if (figures->bytesPerSecond) {
    text += QStringLiteral(", ") + QString::fromStdString(ByteRateText(*figures->bytesPerSecond));
  }
  text_->setText(text);
  bar_->setValue(figures->percent);
  setVisible(true);
}

}  // namespace ondavox::client
