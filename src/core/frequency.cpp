#include "frequency.h"

#include "core/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace zentrava {

namespace {
// A shown frequency has 15 significant digits, so it may lie up to about 2e-8 of a step below
// its word's exact value; rounding that down would move the module one step on every Read and
// Write. A millionth of a step forgives it and is far finer than any value a person types.
constexpr double kStepTolerance = 1e-6;
} // namespace

FrequencyWord encodeFrequency(double mhz) {
    // One rounding, to whole steps, then integer arithmetic: no carry can be lost.
    const auto steps = static_cast<std::int64_t>(
        std::floor(mhz * double(kFractionOne) / kFrequencyUnitMhz + kStepTolerance));
    const std::int64_t units = steps / kFractionOne;
    const std::int64_t fraction = steps - (units - 1) * kFractionOne;
    return {static_cast<std::uint8_t>(units - 1), static_cast<std::uint8_t>(fraction >> 16),
            static_cast<std::uint8_t>(fraction >> 8), static_cast<std::uint8_t>(fraction)};
}

double decodeFrequency(const FrequencyWord& word) {
    const double fraction = double(word[1]) * 65536.0 + double(word[2]) * 256.0 + double(word[3]);
    double x = fraction / double(kFractionOne);
    x += double(word[0]);
    return x * kFrequencyUnitMhz;
}

std::optional<FrequencyWord> frequencyFromText(QStringView text) {
    const std::optional<double> mhz = parseDecimal(text);
    if (!mhz || !inBand(*mhz))
        return std::nullopt;
    return encodeFrequency(*mhz);
}

QString frequencyRangeRule(const QString& text) {
    const QString fallback = QStringLiteral("868");
    if (leadingNumberValue(text) > kMaxFrequencyMhz)
        return fallback;
    if (text.size() > 2 && leadingNumberValue(text) < kMinFrequencyMhz)
        return fallback;
    return text;
}

QString formatFrequency(double mhz) {
    if (!std::isfinite(mhz))
        return QString();
    if (mhz == 0.0)
        return QStringLiteral("0");

    // Scientific form gives exactly 15 significant digits, locale-free; the point is placed by
    // hand.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, mhz, std::chars_format::scientific, 14);
    const std::string text(buffer, result.ptr);
    const std::size_t ePos = text.find('e');
    const bool negative = text[0] == '-';
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < ePos; ++i) {
        if (text[i] != '.')
            digits += text[i];
    }
    const int exponent = std::atoi(text.c_str() + ePos + 1);

    std::string integerPart;
    std::string fractionPart;
    if (exponent >= 0) {
        const std::size_t intDigits = std::size_t(exponent) + 1;
        if (intDigits >= digits.size()) {
            integerPart = digits + std::string(intDigits - digits.size(), '0');
        } else {
            integerPart = digits.substr(0, intDigits);
            fractionPart = digits.substr(intDigits);
        }
    } else {
        integerPart = "0";
        fractionPart = std::string(std::size_t(-exponent - 1), '0') + digits;
    }
    while (!fractionPart.empty() && fractionPart.back() == '0')
        fractionPart.pop_back();

    std::string out = negative ? "-" : "";
    out += integerPart;
    if (!fractionPart.empty())
        out += "." + fractionPart;
    return QString::fromLatin1(out.data(), int(out.size()));
}

} // namespace zentrava
