// Operator texts and frequency words: parsing never crashes and every accepted value holds.
#include "core/frequency.h"
#include "core/number_text.h"

#include <QString>

#include <cmath>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto byte = zentrava::byteFromText(text); byte && !zentrava::parseDecimal(text))
        std::abort();
    if (const auto id = zentrava::productIdFromText(text); id && *id == 0)
        std::abort();
    const double leading = zentrava::leadingNumberValue(text);
    (void)leading;

    if (size >= 4) {
        const zentrava::FrequencyWord word{data[0], data[1], data[2], data[3]};
        const double mhz = zentrava::decodeFrequency(word);
        const QString shown = zentrava::formatFrequency(mhz);
        if (shown.contains(QLatin1Char('e')) || shown.isEmpty())
            std::abort();
        if (mhz >= zentrava::kMinFrequencyMhz && mhz <= zentrava::kMaxFrequencyMhz) {
            const double back = zentrava::decodeFrequency(zentrava::encodeFrequency(mhz));
            if (std::fabs(back - mhz) > 15.0 / 524288.0)
                std::abort();
        }
    }
    return 0;
}
