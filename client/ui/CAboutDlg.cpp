#include "client/ui/CAboutDlg.h"

#include <QStyle>
#include <QTextBlockFormat>
#include <QTextCursor>

#include "ui_CAboutDlg.h"

namespace ondavox::client {
namespace {

constexpr const char* kContributors[] = {"Ilse Varnholt", "Tomas Reyle", "Mara Quenby",
                                         "Jory Astelle", "Benedek Sorn"};

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
  ui_->setupUi(this);
  ui_->picture->setPixmap(style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(32, 32));
  QString credits;
  for (const char* name : kContributors) {
    if (!credits.isEmpty()) credits += QStringLiteral("\r\n");
    credits += QString::fromLatin1(name);
  }
  ui_->credits->setPlainText(credits);
  QTextCursor all(ui_->credits->document());
  all.select(QTextCursor::Document);
  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  all.mergeBlockFormat(centred);
  connect(ui_->ok, &QPushButton::clicked, this, &CAboutDlg::accept);
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace ondavox::client
