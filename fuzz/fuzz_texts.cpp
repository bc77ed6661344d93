// Operator texts and frequency words: parsing never crashes and every accepted value holds.
#include "core/frequency.h"
#include "core/number_text.h"

#include <QString>

#include <cmath>
#include <cstdlib>

using namespace zentrava;

namespace {
void check(bool condition) {
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    // A byte is the text's number rounded half to even, or the text is refused.
    const std::optional<double> number = parseDecimal(text);
    const std::optional<std::uint8_t> byte = byteFromText(text);
    if (number && roundHalfEven(*number) >= 0.0 && roundHalfEven(*number) <= 255.0)
        check(byte && double(*byte) == roundHalfEven(*number));
    else
        check(!byte);

    if (const std::optional<std::uint16_t> id = productIdFromText(text)) {
        check(*id >= 1);
        for (QChar c : text)
            check(c >= QLatin1Char('0') && c <= QLatin1Char('9'));
        qsizetype zeros = 0;
        while (text.at(zeros) == QLatin1Char('0'))
            ++zeros;
        check(QString::number(*id) == text.mid(zeros));
    }

    // The box's range rule leaves its own result alone.
    const QString ruled = frequencyRangeRule(text);
    check(frequencyRangeRule(ruled) == ruled);

    if (size >= 4) {
        const FrequencyWord word{data[0], data[1], data[2], data[3]};
        const double mhz = decodeFrequency(word);
        const QString shown = formatFrequency(mhz);
        check(!shown.isEmpty() && !shown.contains(QLatin1Char('e')));
        // What a read showed writes back as the frequency read, to the bit.
        if (mhz >= kMinFrequencyMhz && mhz <= kMaxFrequencyMhz) {
            const std::optional<double> typed = parseDecimal(shown);
            check(typed && decodeFrequency(encodeFrequency(*typed)) == mhz);
        }
    }
    return 0;
}
