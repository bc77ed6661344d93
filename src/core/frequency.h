#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace zentrava {

using FrequencyWord = std::array<std::uint8_t, 4>;

inline constexpr double kMinFrequencyMhz = 855.0;
inline constexpr double kMaxFrequencyMhz = 875.0;

// The module is never tuned outside its band, nor believed to be.
constexpr bool inBand(double mhz) {
    return mhz >= kMinFrequencyMhz && mhz <= kMaxFrequencyMhz;
}

// The synthesizer counts 15 MHz units with a 19-bit binary fraction of a unit.
inline constexpr double kFrequencyUnitMhz = 15.0;
inline constexpr std::int64_t kFractionOne = std::int64_t(1) << 19;

// MHz -> word, rounding down to the nearest step of 15/2^19 MHz; a text formatFrequency() gave
// comes back as exactly the word it was made from. The integer byte is one less
// than the whole number of units, so the fraction field holds 2^19 .. 2^20-1 within the band.
// Defined for 15 <= mhz < 3855 (the integer byte's range); callers check the band first.
FrequencyWord encodeFrequency(double mhz);

inline QByteArray frequencyBytes(const FrequencyWord& word) {
    return QByteArray(reinterpret_cast<const char*>(word.data()), qsizetype(word.size()));
}

// Word -> MHz; the fraction field is 24 bits wide, so it may add whole units.
double decodeFrequency(const FrequencyWord& word);

// A typed MHz text as the word to send; empty when it is no number or lies outside the band.
std::optional<FrequencyWord> frequencyFromText(QStringView text);

// The frequency box's band rule: a text whose leading number lies above the band, or below it
// once it has three characters, gives way to 868. Its own result it leaves alone.
QString frequencyRangeRule(const QString& text);

// At most 15 significant digits, no exponent, no trailing zeros, always a full stop.
QString formatFrequency(double mhz);

} // namespace zentrava
