// Turns a value the module reported into the text of its control.
#include "app/form1.h"

#include <QComboBox>
#include <QLineEdit>

namespace zentrava {

const std::array<Form1::ValueView, 6> Form1::kValueViews{{
    {Setting::Serial, &Form1::showSerialSettings},
    {Setting::DataRate, &Form1::showDataRate},
    {Setting::Channel, &Form1::showChannel},
    {Setting::ProductId, &Form1::showProductId},
    {Setting::Power, &Form1::showPower},
    {Setting::Frequency, &Form1::showFrequency},
}};

bool Form1::showValue(const ModuleValue& value) {
    for (const ValueView& view : kValueViews) {
        if (view.setting == value.setting)
            return (this->*view.show)(value);
    }
    return false;
}

// The session accepts only rates and parities the lists hold, so every one has its entry.
bool Form1::showSerialSettings(const ModuleValue& value) {
    scheckbits->setEditText(QString(QLatin1Char(value.parity)));
    sbaudrate->setEditText(QString::number(value.number));
    return true;
}

bool Form1::showDataRate(const ModuleValue& value) {
    datarate->setEditText(QString::number(value.number));
    return true;
}

// The channel and power boxes are editable: a value beyond the list is shown as the module
// reports it.
bool Form1::showChannel(const ModuleValue& value) {
    Combo1->setEditText(QString::number(value.number));
    return true;
}

bool Form1::showPower(const ModuleValue& value) {
    Combo2->setEditText(QString::number(value.number));
    return true;
}

bool Form1::showProductId(const ModuleValue& value) {
    id->setText(QString::number(value.number));
    return true;
}

bool Form1::showFrequency(const ModuleValue& value) {
    const double mhz = value.megahertz();
    // The box's range rule would put 868 in place of an outside value, claiming a
    // frequency the module does not hold.
    if (mhz < kMinFrequencyMhz || mhz > kMaxFrequencyMhz)
        return false;
    TXfrequency->setText(formatFrequency(mhz));
    // Long values show their leading digits, like a box that was just filled.
    TXfrequency->setCursorPosition(0);
    return true;
}

} // namespace zentrava
