// The module's own serial port: baud rate and parity travel together.
#include "app/form1.h"

#include "core/value_lists.h"

#include <QComboBox>

namespace zentrava {

void Form1::readserial_Click() {
    startTransaction(command::kReadSerial);
}

void Form1::writeserial_Click() {
    const QString baud = sbaudrate->currentText();
    const QString parity = scheckbits->currentText();
    if (baud.isEmpty() || parity.isEmpty()) {
        refuseWrite();
        return;
    }
    setCommandButtonsEnabled(false);
    // Texts the lists lack are still sent, as code 0.
    sendValue(ModuleValue::serial(kBaudRates.fromText(baud).value_or(0),
                                  kParities.fromText(parity).value_or('\0')));
}

} // namespace zentrava
