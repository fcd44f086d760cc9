#pragma once

#include <QString>
#include <ostream>

// Failure messages show Qt texts as text rather than bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
