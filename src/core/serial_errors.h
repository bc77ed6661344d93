#pragma once

#include <QString>

namespace zentrava {

// Numeric failure codes of the serial link. 0 means the operation succeeded.
namespace serial_error {
inline constexpr int kNone = 0;
inline constexpr int kIllegalProperty = 380;
inline constexpr int kPortNotAvailable = 8002;
inline constexpr int kPortAlreadyOpen = 8005;
inline constexpr int kInvalidBaudRate = 8007;
inline constexpr int kPortNotOpen = 8012;
inline constexpr int kDeviceError = 8020;
// Our own: the user may not open the device (Unix permissions).
inline constexpr int kPermissionDenied = 8090;
// Our own: the device is no terminal (a regular file, /dev/null), or a directory.
inline constexpr int kNotSerialDevice = 8091;
inline constexpr int kIsDirectory = 8092;
// Anything the operator cannot act upon; reported nowhere.
inline constexpr int kOther = 8099;
} // namespace serial_error

// The operator's message for a failure code; empty for codes that are not reported.
// `device` names the device for the messages that point at one.
QString serialErrorMessage(int code, const QString& device = QString());

} // namespace zentrava
