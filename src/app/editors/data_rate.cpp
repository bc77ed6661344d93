// RF data rate: a list text sent as its 1-based code.
#include "app/form1.h"

#include "core/value_lists.h"

#include <QComboBox>

namespace zentrava {

void Form1::readdatarate_Click() {
    startTransaction(command::kReadDataRate);
}

void Form1::writedatarate_Click() {
    if (datarate->currentText().isEmpty()) {
        refuseWrite();
        return;
    }
    // A text that names no rate is still sent, as code 0.
    const std::uint8_t code = codeForText(kDataRates, datarate->currentText(), 1);
    startTransaction(command::kWriteDataRate, payloadBytes({code, 0}));
}

} // namespace zentrava
