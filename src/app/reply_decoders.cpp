// Turns a value the module reported into the text of its control.
#include "app/form1.h"

#include "core/value_lists.h"

#include <QComboBox>
#include <QLineEdit>

namespace zentrava {

void Form1::showValue(const ModuleValue& value) {
    switch (value.setting) {
    case Setting::Serial:
        // The session accepts only rates and parities the lists hold, so each has its entry.
        scheckbits->setEditText(textOf(value.parity));
        sbaudrate->setEditText(textOf(value.number));
        break;
    case Setting::DataRate:
        datarate->setEditText(textOf(value.number));
        break;
    // The channel and power boxes are editable: a value beyond the list is shown as the
    // module reports it.
    case Setting::Channel:
        Combo1->setEditText(QString::number(value.number));
        break;
    case Setting::Power:
        Combo2->setEditText(QString::number(value.number));
        break;
    case Setting::ProductId:
        id->setText(QString::number(value.number));
        break;
    case Setting::Frequency:
        // Only one within the band comes here: the box's range rule would put 868 in place of
        // an outside one, claiming a frequency the module does not hold.
        TXfrequency->setText(formatFrequency(value.megahertz()));
        // Long values show their leading digits, like a box that was just filled.
        TXfrequency->setCursorPosition(0);
        break;
    }
}

} // namespace zentrava
