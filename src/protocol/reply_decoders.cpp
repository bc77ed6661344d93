// Turns an accepted reply into the text of its control.
#include "app/form1.h"

#include "protocol/frequency.h"

#include <QComboBox>
#include <QLineEdit>

namespace zentrava {

namespace {
int byteAt(const QByteArray& buffer, int position) {
    return static_cast<unsigned char>(buffer.at(position));
}

// The list entry at `position`, or nothing when the module names no entry.
std::optional<QString> listEntry(const QComboBox* box, int position) {
    if (position < 0 || position >= box->count())
        return std::nullopt;
    return box->itemText(position);
}
} // namespace

const std::array<Form1::ReplyDecoder, 12> Form1::kReplyDecoders{{
    {command::kWriteSerial, &Form1::decodeSerialSettings},
    {command::kReadSerial, &Form1::decodeSerialSettings},
    {command::kWriteDataRate, &Form1::decodeDataRate},
    {command::kReadDataRate, &Form1::decodeDataRate},
    {command::kWriteChannel, &Form1::decodeChannel},
    {command::kReadChannel, &Form1::decodeChannel},
    {command::kWriteId, &Form1::decodeProductId},
    {command::kReadId, &Form1::decodeProductId},
    {command::kWritePower, &Form1::decodePower},
    {command::kReadPower, &Form1::decodePower},
    {command::kWriteFrequency, &Form1::decodeFrequency},
    {command::kReadFrequency, &Form1::decodeFrequency},
}};

void Form1::decodeReply() {
    for (const ReplyDecoder& decoder : kReplyDecoders) {
        if (decoder.code != pendingCommand)
            continue;
        if ((this->*decoder.decode)()) {
            pendingCommand = 0;
            setPanelText(2, QStringLiteral("Success!"));
        } else {
            setPanelText(2, QStringLiteral("Fail!"));
        }
        return;
    }
}

bool Form1::decodeSerialSettings() {
    const auto parity = listEntry(scheckbits, byteAt(replyBuffer, 9));
    const auto baud = listEntry(sbaudrate, byteAt(replyBuffer, 8) - 1);
    if (!parity || !baud)
        return false;
    scheckbits->setEditText(*parity);
    sbaudrate->setEditText(*baud);
    return true;
}

bool Form1::decodeDataRate() {
    const auto rate = listEntry(datarate, byteAt(replyBuffer, 8) - 1);
    if (!rate)
        return false;
    datarate->setEditText(*rate);
    return true;
}

bool Form1::decodeChannel() {
    // The box is editable: a channel beyond the list is shown as the module reports it.
    const int channel = byteAt(replyBuffer, 8);
    Combo1->setEditText(listEntry(Combo1, channel).value_or(QString::number(channel)));
    return true;
}

bool Form1::decodePower() {
    const int level = byteAt(replyBuffer, 8);
    Combo2->setEditText(listEntry(Combo2, level - 1).value_or(QString::number(level)));
    return true;
}

bool Form1::decodeProductId() {
    const int value = byteAt(replyBuffer, 8) * 256 + byteAt(replyBuffer, 9);
    id->setText(QString::number(value));
    return true;
}

bool Form1::decodeFrequency() {
    const FrequencyWord word{
        std::uint8_t(byteAt(replyBuffer, 8)), std::uint8_t(byteAt(replyBuffer, 9)),
        std::uint8_t(byteAt(replyBuffer, 10)), std::uint8_t(byteAt(replyBuffer, 11))};
    const double mhz = zentrava::decodeFrequency(word);
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
