#include "serial_errors.h"

#include <array>

namespace zentrava {

namespace {
struct ErrorText {
    int code;
    const char16_t* text;
};

// %1 is the device.
constexpr std::array<ErrorText, 9> kErrorTexts{{
    {serial_error::kIllegalProperty, u"Illegal properties\uFF01"},
    {serial_error::kPortNotAvailable, u"Port is not available\uFF01"},
    {serial_error::kPortAlreadyOpen, u"Port already opened,please check-ups\uFF01"},
    {serial_error::kInvalidBaudRate, u"Invalid baudrate\uFF01"},
    {serial_error::kPortNotOpen, u"No power\uFF01"},
    {serial_error::kDeviceError, u"Serial device error\uFF01"},
    {serial_error::kPermissionDenied,
     u"No permission to open %1,please join the group that owns it (dialout on Debian) and "
     u"log in again\uFF01"},
    {serial_error::kNotSerialDevice, u"%1 is not a serial device\uFF01"},
    {serial_error::kIsDirectory, u"%1 is a directory, not a serial device\uFF01"},
}};
} // namespace

QString serialErrorMessage(int code, const QString& device) {
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code != code)
            continue;
        const QString text = QString::fromUtf16(entry.text);
        return text.contains(QLatin1String("%1"))
                   ? text.arg(device.isEmpty() ? QStringLiteral("the port") : device)
                   : text;
    }
    return QString();
}

} // namespace zentrava
