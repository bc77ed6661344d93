// RF data rate: a list text sent as its 1-based code.
#include "app/form1.h"

#include "core/value_lists.h"

#include <QComboBox>

namespace zentrava {

void Form1::readdatarate_Click() {
    startTransaction(command::kReadDataRate);
}

void Form1::writedatarate_Click() {
    const QString text = datarate->currentText();
    if (text.isEmpty()) {
        refuseWrite();
        return;
    }
    setCommandButtonsEnabled(false);
    // A text that names no rate is still sent, as code 0.
    sendValue(ModuleValue::dataRate(kDataRates.fromText(text).value_or(0)));
}

} // namespace zentrava
