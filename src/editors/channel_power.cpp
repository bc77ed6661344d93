// RF channel and transmit power: one byte each, typed or picked in an editable list.
#include "app/form1.h"

#include "protocol/number_text.h"

#include <QComboBox>

namespace zentrava {

void Form1::Command1_Click() {
    startTransaction(command::kReadChannel);
}

void Form1::Command2_Click() {
    writeByteSetting(Combo1, command::kWriteChannel);
}

void Form1::Command3_Click() {
    startTransaction(command::kReadPower);
}

void Form1::Command4_Click() {
    writeByteSetting(Combo2, command::kWritePower);
}

void Form1::writeByteSetting(const QComboBox* box, CommandCode code) {
    const QString text = box->currentText();
    if (text.isEmpty()) {
        refuseInput();
        startReplyTimer();
        return;
    }
    setCommandButtonsEnabled(false);
    const std::optional<std::uint8_t> value = byteFromText(text);
    if (!value) {
        // Nothing is sent; the buttons stay locked until the time-out ends it.
        refuseInput();
        startReplyTimer();
        return;
    }
    const QByteArray payload = payloadBytes({*value, 0});
    if (sendRequest(code, buildCommandFrame(code, payload)))
        startReplyTimer();
}

} // namespace zentrava
