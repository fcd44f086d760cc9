#pragma once

#include <cstdint>
#include <optional>

class QLineEdit;

namespace ondavox {

// The platform's validation of dialog fields, with its French messages, shown through
// ShowMessageBox (title: the program's name, warning icon). On a refusal the field gets the
// focus with its text selected. Window thread only.

// Lets |field| take only decimal digits.
void AllowDigitsOnly(QLineEdit& field);
// The whole number in |field|; "Tapez un nombre entier." and nothing when the text (blanks
// around it aside) is not one, or lies outside the 32-bit range.
std::optional<int32_t> ReadIntegerField(QLineEdit& field);
// True when |field| holds at most |maxChars| characters; otherwise
// "Tapez <maxChars> caractères au maximum.".
bool CheckFieldLength(QLineEdit& field, int maxChars);

}  // namespace ondavox
