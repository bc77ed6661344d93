#include "number_text.h"

#include <charconv>
#include <cmath>
#include <string>

namespace zentrava {

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Scans a number from the start of `chars`, which holds no blanks. Returns the number of
// characters it takes (0 when none) and fills `number` with a from_chars-ready copy.
std::size_t scanNumber(const std::u16string& chars, std::string& number) {
    std::size_t i = 0;
    number.clear();
    auto at = [&](std::size_t k) { return k < chars.size() ? QChar(chars[k]) : QChar(); };
    if (at(i) == QLatin1Char('+') || at(i) == QLatin1Char('-')) {
        if (at(i) == QLatin1Char('-'))
            number += '-';
        ++i;
    }
    std::size_t mantissaDigits = 0;
    while (isDigit(at(i))) {
        number += char(chars[i++]);
        ++mantissaDigits;
    }
    if (at(i) == QLatin1Char('.')) {
        std::size_t j = i + 1;
        std::string fraction;
        while (isDigit(at(j)))
            fraction += char(chars[j++]);
        if (mantissaDigits > 0 || !fraction.empty()) {
            number += '.';
            number += fraction;
            mantissaDigits += fraction.size();
            i = j;
        }
    }
    if (mantissaDigits == 0)
        return 0;
    if (at(i) == QLatin1Char('e') || at(i) == QLatin1Char('E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (at(j) == QLatin1Char('+') || at(j) == QLatin1Char('-'))
            exponent += char(chars[j++]);
        std::size_t expDigits = 0;
        while (isDigit(at(j))) {
            exponent += char(chars[j++]);
            ++expDigits;
        }
        if (expDigits > 0) {
            number += exponent;
            i = j;
        }
    }
    return i;
}

double toDouble(const std::string& number) {
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow or underflow; tell the two apart.
        const bool tiny = number.find("e-") != std::string::npos;
        const bool negative = !number.empty() && number[0] == '-';
        value = tiny ? 0.0 : HUGE_VAL;
        if (negative)
            value = -value;
    }
    return value;
}

} // namespace

std::optional<double> parseDecimal(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    const QStringView core = text.mid(begin, end - begin);
    for (QChar c : core) {
        if (isBlank(c))
            return std::nullopt;
    }
    const std::u16string chars(reinterpret_cast<const char16_t*>(core.utf16()), core.size());
    std::string number;
    const std::size_t used = scanNumber(chars, number);
    if (used == 0 || used != chars.size())
        return std::nullopt;
    const double value = toDouble(number);
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

double leadingNumberValue(QStringView text) {
    std::u16string chars;
    chars.reserve(std::size_t(text.size()));
    for (QChar c : text) {
        if (!isBlank(c))
            chars += char16_t(c.unicode());
    }
    std::string number;
    if (scanNumber(chars, number) == 0)
        return 0.0;
    return toDouble(number);
}

double roundHalfEven(double value) {
    const double lower = std::floor(value);
    const double diff = value - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1.0;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

std::optional<std::uint8_t> byteFromText(QStringView text) {
    const std::optional<double> value = parseDecimal(text);
    if (!value)
        return std::nullopt;
    const double rounded = roundHalfEven(*value);
    if (rounded < 0.0 || rounded > 255.0)
        return std::nullopt;
    return static_cast<std::uint8_t>(rounded);
}

std::optional<std::uint16_t> productIdFromText(QStringView text) {
    if (text.isEmpty())
        return std::nullopt;
    unsigned value = 0;
    for (QChar c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + unsigned(c.unicode() - u'0');
        if (value > 65535)
            return std::nullopt;
    }
    if (value == 0)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace zentrava
