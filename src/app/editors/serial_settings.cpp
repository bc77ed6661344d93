// The module's own serial port: baud rate and parity travel together.
#include "app/form1.h"

#include "core/value_lists.h"

#include <QComboBox>

namespace zentrava {

void Form1::readserial_Click() {
    startTransaction(command::kReadSerial);
}

void Form1::writeserial_Click() {
    if (sbaudrate->currentText().isEmpty() || scheckbits->currentText().isEmpty()) {
        refuseWrite();
        return;
    }
    const std::uint8_t baud = codeForText(kBaudRates, sbaudrate->currentText(), 1);
    const std::uint8_t parity = codeForText(kParities, scheckbits->currentText(), 0);
    startTransaction(command::kWriteSerial, payloadBytes({baud, parity}));
}

} // namespace zentrava
