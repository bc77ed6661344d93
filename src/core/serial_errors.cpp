#include "serial_errors.h"

#include <array>

namespace zentrava {

namespace {
struct ErrorText {
    int code;
    const char16_t* text;
};

constexpr std::array<ErrorText, 6> kErrorTexts{{
    {serial_error::kIllegalProperty, u"Illegal properties\uFF01"},
    {serial_error::kPortNotAvailable, u"Port is not available\uFF01"},
    {serial_error::kPortAlreadyOpen, u"Port already opened,please check-ups\uFF01"},
    {serial_error::kInvalidBaudRate, u"Invalid baudrate\uFF01"},
    {serial_error::kPortNotOpen, u"No power\uFF01"},
    {serial_error::kDeviceError, u"Serial device error\uFF01"},
}};
} // namespace

QString serialErrorMessage(int code, const QString& device) {
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == code)
            return QString::fromUtf16(entry.text);
    }
    if (code == serial_error::kPermissionDenied) {
        return QStringLiteral("No permission to open %1,please join the group that owns it "
                              "(dialout on Debian) and log in again\uFF01")
            .arg(device.isEmpty() ? QStringLiteral("the port") : device);
    }
    return QString();
}

} // namespace zentrava
