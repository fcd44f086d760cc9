#include "platform/ui/FieldValidation.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "platform/ui/MessageBox.h"

namespace ondavox {
namespace {

void Refuse(QLineEdit& field, const QString& text) {
  ShowMessageBox(field.window(), text, MessageIcon::kWarning);
  field.setFocus();
  field.selectAll();
}

}  // namespace

void AllowDigitsOnly(QLineEdit& field) {
  field.setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), &field));
}

std::optional<int32_t> ReadIntegerField(QLineEdit& field) {
  bool ok = false;
  const int value = field.text().trimmed().toInt(&ok, 10);
  if (!ok) {
    Refuse(field, QStringLiteral("Tapez un nombre entier."));
    return std::nullopt;
  }
  return value;
}

bool CheckFieldLength(QLineEdit& field, int maxChars) {
  if (field.text().size() <= maxChars) return true;
  Refuse(field, QStringLiteral("Tapez %1 caractères au maximum.").arg(maxChars));
  return false;
}

}  // namespace ondavox
