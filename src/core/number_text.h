#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>

namespace zentrava {

// A whole text that is one decimal number: blanks around it, an optional sign, digits with an
// optional fraction after a full stop, an optional exponent. Never hex, "inf" or "nan", and
// never the locale's decimal comma.
std::optional<double> parseDecimal(QStringView text);

// The value of the longest leading part of the text that reads as a number, blanks skipped
// wherever they stand; 0 when the text does not begin with one ("868abc" -> 868).
double leadingNumberValue(QStringView text);

// Nearest whole number, halves to the even neighbour.
double roundHalfEven(double value);

// A decimal text rounded to a byte; empty when it is no number or falls outside 0..255.
std::optional<std::uint8_t> byteFromText(QStringView text);

// Plain decimal digits (leading zeros allowed) naming 1..65535.
std::optional<std::uint16_t> productIdFromText(QStringView text);

} // namespace zentrava
