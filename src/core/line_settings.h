#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

namespace zentrava {

struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "9600,n,8,1": baud rate, parity letter, data bits, stop bits. Blanks around a field are
// allowed, so the text the window gives when opening ("9600,n,8,1 ") reads the same.
std::optional<LineSettings> parseLineSettings(const QString& text);

} // namespace zentrava
