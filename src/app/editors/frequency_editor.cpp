// Transmit frequency: MHz as text, sent as the synthesizer's frequency word.
#include "app/form1.h"

#include "core/frequency.h"

#include <QLineEdit>

namespace zentrava {

void Form1::readchannel_Click() {
    startTransaction(command::kReadFrequency);
}

void Form1::writechannel_Click() {
    setCommandButtonsEnabled(false);
    // The range rule lets one- and two-character texts through; the module must never be
    // tuned out of its band.
    if (const std::optional<FrequencyWord> word = frequencyFromText(TXfrequency->text()))
        sendValue(ModuleValue::frequencyWord(*word));
    else
        refuseWrite();
}

void Form1::TXfrequency_Change() {
    const QString ruled = frequencyRangeRule(TXfrequency->text());
    if (ruled != TXfrequency->text())
        TXfrequency->setText(ruled);
}

} // namespace zentrava
