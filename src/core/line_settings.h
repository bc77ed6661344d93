#pragma once

#include <QSerialPort>
#include <QString>

#include <cstdint>
#include <optional>

namespace zentrava {

// The module's line; both clients open it so and never change it.
inline constexpr QLatin1String kModuleLine("9600,n,8,1");
inline constexpr int kModuleBaudRate = 9600;

// Start, eight data bits and stop: ten bit times a byte on the module's line.
constexpr std::int64_t lineTimeNs(int bytes) {
    return std::int64_t(bytes) * 10 * 1000000000LL / kModuleBaudRate;
}

struct LineSettings {
    qint32 baudRate = kModuleBaudRate;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// The line a module listens at once it has answered a serial write: "19200,e,8,1". Its data
// and stop bits never change.
QString moduleLineFor(int baudRate, char parity);

// "9600,n,8,1": baud rate, parity letter, data bits, stop bits. Blanks around a field are
// allowed, so the text the window gives when opening ("9600,n,8,1 ") reads the same.
std::optional<LineSettings> parseLineSettings(const QString& text);

} // namespace zentrava
