// Transmit frequency: MHz as text, sent as the synthesizer's frequency word.
#include "app/form1.h"

#include "core/frequency.h"
#include "core/number_text.h"

#include <QLineEdit>

namespace zentrava {

void Form1::readchannel_Click() {
    startTransaction(command::kReadFrequency);
}

void Form1::writechannel_Click() {
    setCommandButtonsEnabled(false);
    // The range rule lets one- and two-character texts through; the module must never be
    // tuned out of its band.
    const std::optional<double> mhz = parseDecimal(TXfrequency->text());
    if (!mhz || *mhz < kMinFrequencyMhz || *mhz > kMaxFrequencyMhz) {
        refuseWrite();
        return;
    }
    sendCommand(command::kWriteFrequency, frequencyBytes(encodeFrequency(*mhz)));
}

void Form1::TXfrequency_Change() {
    const QString ruled = frequencyRangeRule(TXfrequency->text());
    if (ruled != TXfrequency->text())
        TXfrequency->setText(ruled);
}

} // namespace zentrava
