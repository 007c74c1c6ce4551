#pragma once
// Numbers as the dialogs show and read them. The texts here always carry a decimal point,
// whatever the user's locale, so that the study files and the dialogs agree; the reader
// also takes a decimal comma, as French users type it (the forms show the user's own
// separator and hand the point form to the dialog rules).

#include <optional>
#include <string>
#include <string_view>

namespace mas::ui {

// Shortest "%.<significant>g" form of `value` ("0.05", "1e-05", "2200", "inf", "nan").
std::string FormatReal(double value, int significant);

// The text as a real: optional spaces around, an optional sign, digits with a decimal
// point (or one decimal comma) and an optional exponent, or "inf"/"nan". Nothing when the text is
// no number or lies beyond the range of a double.
std::optional<double> ParseReal(std::string_view text);

// The text as a 32-bit integer: optional spaces around, an optional sign and digits.
std::optional<int> ParseInt(std::string_view text);

// The messages of a refused conversion, with the text as typed.
std::string NotARealMessage(std::string_view text);
std::string NotAnIntegerMessage(std::string_view text);

}  // namespace mas::ui
