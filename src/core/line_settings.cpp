#include "line_settings.h"

#include <QStringList>

namespace zentrava {

namespace {
std::optional<QSerialPort::Parity> parityFromLetter(const QString& letter) {
    if (letter.size() != 1)
        return std::nullopt;
    switch (letter[0].toLower().unicode()) {
    case u'n':
        return QSerialPort::NoParity;
    case u'e':
        return QSerialPort::EvenParity;
    case u'o':
        return QSerialPort::OddParity;
    case u'm':
        return QSerialPort::MarkParity;
    case u's':
        return QSerialPort::SpaceParity;
    default:
        return std::nullopt;
    }
}

std::optional<QSerialPort::StopBits> stopBitsFromText(const QString& text) {
    if (text == QLatin1String("1"))
        return QSerialPort::OneStop;
    if (text == QLatin1String("1.5"))
        return QSerialPort::OneAndHalfStop;
    if (text == QLatin1String("2"))
        return QSerialPort::TwoStop;
    return std::nullopt;
}
} // namespace

QString moduleLineFor(int baudRate, char parity) {
    return QStringLiteral("%1,%2,8,1").arg(baudRate).arg(QLatin1Char(parity));
}

std::optional<LineSettings> parseLineSettings(const QString& text) {
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return std::nullopt;

    bool ok = false;
    const QString baudText = fields[0].trimmed();
    const int baud = baudText.toInt(&ok);
    if (!ok || baud <= 0 || !baudText.front().isDigit())
        return std::nullopt;

    const auto parity = parityFromLetter(fields[1].trimmed());
    const QString dataText = fields[2].trimmed();
    const int data = dataText.toInt(&ok);
    const auto stop = stopBitsFromText(fields[3].trimmed());
    if (!parity || !ok || data < 5 || data > 8 || !stop)
        return std::nullopt;

    return LineSettings{baud, *parity, static_cast<QSerialPort::DataBits>(data), *stop};
}

} // namespace zentrava
