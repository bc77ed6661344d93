// Operator texts and frequency words: parsing never crashes and every accepted value holds.
// tst_protocol has the product ID texts and writes back every word of the band.
#include "core/frequency.h"
#include "core/number_text.h"

#include <QString>

#include <cstdlib>

using namespace zentrava;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto check = [](bool condition) {
        if (!condition)
            std::abort();
    };
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    // A byte is the text's number rounded half to even, or the text is refused.
    const std::optional<double> number = parseDecimal(text);
    const std::optional<std::uint8_t> byte = byteFromText(text);
    if (number && roundHalfEven(*number) >= 0.0 && roundHalfEven(*number) <= 255.0)
        check(byte && double(*byte) == roundHalfEven(*number));
    else
        check(!byte);

    // The box's range rule leaves its own result alone.
    const QString ruled = frequencyRangeRule(text);
    check(frequencyRangeRule(ruled) == ruled);

    // Any word, in the band or not, is shown as a plain decimal.
    if (size >= 4) {
        const QString shown =
            formatFrequency(decodeFrequency({data[0], data[1], data[2], data[3]}));
        check(!shown.isEmpty() && !shown.contains(QLatin1Char('e')));
    }
    return 0;
}
