// RF channel and transmit power: one byte each, typed or picked in an editable list.
#include "app/form1.h"

#include "core/number_text.h"

#include <QComboBox>

namespace zentrava {

void Form1::Command1_Click() {
    startTransaction(command::kReadChannel);
}

void Form1::Command2_Click() {
    writeByteSetting(Combo1, &ModuleValue::channel);
}

void Form1::Command3_Click() {
    startTransaction(command::kReadPower);
}

void Form1::Command4_Click() {
    writeByteSetting(Combo2, &ModuleValue::power);
}

void Form1::writeByteSetting(const QComboBox* box, ModuleValue (*make)(int)) {
    const QString text = box->currentText();
    if (text.isEmpty()) {
        refuseWrite();
        return;
    }
    setCommandButtonsEnabled(false);
    // A text that makes no byte keeps the buttons locked until the time-out ends it.
    if (const std::optional<std::uint8_t> byte = byteFromText(text))
        sendValue(make(*byte));
    else
        refuseWrite();
}

} // namespace zentrava
