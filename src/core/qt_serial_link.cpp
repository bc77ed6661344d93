#include "qt_serial_link.h"

#include "core/serial_errors.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace zentrava {

QtSerialLink::QtSerialLink(PortMap map, QObject* parent)
    : SerialLink(parent), m_map(std::move(map)), m_port(this) {
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialLink::checkThreshold);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialLink::onError);
}

QtSerialLink::~QtSerialLink() {
    m_port.close();
}

int QtSerialLink::setPortMap(const PortMap& map) {
    if (m_port.isOpen())
        return serial_error::kPortAlreadyOpen;
    m_map = map;
    return serial_error::kNone;
}

int QtSerialLink::setCommPort(int port) {
    if (m_port.isOpen())
        return serial_error::kPortAlreadyOpen;
    if (port < 1 || port > PortMap::kPortCount)
        return serial_error::kIllegalProperty;
    m_commPort = port;
    return serial_error::kNone;
}

int QtSerialLink::setSettings(const QString& settings) {
    const std::optional<LineSettings> parsed = parseLineSettings(settings);
    if (!parsed)
        return serial_error::kIllegalProperty;
    m_settings = *parsed;
    m_settingsText = settings;
    return m_port.isOpen() ? applySettings() : serial_error::kNone;
}

int QtSerialLink::applySettings() {
    if (!m_port.setBaudRate(m_settings.baudRate))
        return serial_error::kInvalidBaudRate;
    if (!m_port.setParity(m_settings.parity) || !m_port.setDataBits(m_settings.dataBits) ||
        !m_port.setStopBits(m_settings.stopBits))
        return serial_error::kIllegalProperty;
    return serial_error::kNone;
}

int QtSerialLink::setPortOpen(bool open) {
    if (!open) {
        // Closing a port that is not open is harmless; nothing to report.
        if (m_port.isOpen())
            m_port.close();
        return serial_error::kNone;
    }
    if (m_port.isOpen())
        return serial_error::kPortAlreadyOpen;
    return openPort();
}

int QtSerialLink::openPort() {
    const QString device = m_map.device(m_commPort);
    if (device.isEmpty())
        return serial_error::kPortNotAvailable;
    QString portName = device;
#ifdef Q_OS_UNIX
    const QFileInfo info(device);
    if (!info.exists())
        return serial_error::kPortNotAvailable;
    if (info.isDir())
        return serial_error::kIsDirectory;
    if (info.isFile())
        return serial_error::kNotSerialDevice;
    // QSerialPort reports a lock held by another program and a missing permission alike;
    // only the second one needs the user to change something.
    const QByteArray path = info.absoluteFilePath().toLocal8Bit();
    if (::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return serial_error::kPermissionDenied;
    // The lock that keeps a second program off the device is named after the path it is opened
    // by, and root is kept off by nothing else: an alias (/dev/serial/by-id/...) must take the
    // device's own lock.
    portName = info.canonicalFilePath();
#endif
    m_port.setPortName(portName);
    m_port.setBaudRate(m_settings.baudRate);
    m_port.setParity(m_settings.parity);
    m_port.setDataBits(m_settings.dataBits);
    m_port.setStopBits(m_settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port.error();
        m_port.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return serial_error::kPortNotAvailable;
        case QSerialPort::PermissionError:
        case QSerialPort::OpenError:
            return serial_error::kPortAlreadyOpen;
        case QSerialPort::UnsupportedOperationError:
            // A character device that takes no terminal settings at all (/dev/null): every
            // serial device takes the line's standard rates.
            return serial_error::kNotSerialDevice;
        default:
            return serial_error::kOther;
        }
    }
    // Whatever a device sent while nobody listened is no answer to anything we ask.
    m_port.clear(QSerialPort::Input);
    return serial_error::kNone;
}

int QtSerialLink::setInBufferSize(int size) {
    if (size <= 0)
        return serial_error::kIllegalProperty;
    m_inBufferSize = size;
    return serial_error::kNone;
}

int QtSerialLink::setInBufferCount(int count) {
    if (count != 0)
        return serial_error::kIllegalProperty;
    if (m_port.isOpen()) {
        m_port.clear(QSerialPort::Input);
        m_port.readAll();
    }
    return serial_error::kNone;
}

int QtSerialLink::inBufferCount() const {
    return m_port.isOpen() ? int(m_port.bytesAvailable()) : 0;
}

int QtSerialLink::setInputMode(int mode) {
    // Only binary input is offered: bytes pass unchanged.
    return mode == kInputBinary ? serial_error::kNone : serial_error::kIllegalProperty;
}

int QtSerialLink::setInputLen(int length) {
    if (length < 0)
        return serial_error::kIllegalProperty;
    m_inputLen = length;
    return serial_error::kNone;
}

int QtSerialLink::setRThreshold(int threshold) {
    if (threshold < 0)
        return serial_error::kIllegalProperty;
    m_rThreshold = threshold;
    m_notified = false;
    // Bytes already waiting count; look once the caller's handler has finished.
    if (threshold > 0)
        QMetaObject::invokeMethod(this, &QtSerialLink::checkThreshold, Qt::QueuedConnection);
    return serial_error::kNone;
}

int QtSerialLink::setSThreshold(int threshold) {
    if (threshold < 0)
        return serial_error::kIllegalProperty;
    m_sThreshold = threshold;
    return serial_error::kNone;
}

int QtSerialLink::output(const QByteArray& bytes) {
    if (!m_port.isOpen())
        return serial_error::kPortNotOpen;
    if (m_port.write(bytes) != bytes.size())
        return serial_error::kDeviceError;
    m_port.flush();
    return m_port.isOpen() ? serial_error::kNone : serial_error::kDeviceError;
}

int QtSerialLink::input(QByteArray& bytes) {
    if (!m_port.isOpen())
        return serial_error::kPortNotOpen;
    bytes = m_inputLen == 0 ? m_port.readAll() : m_port.read(m_inputLen);
    return serial_error::kNone;
}

void QtSerialLink::checkThreshold() {
    if (!m_port.isOpen() || m_rThreshold <= 0 || m_notified)
        return;
    if (m_port.bytesAvailable() < m_rThreshold)
        return;
    m_notified = true;
    m_commEvent = kEventReceive;
    Q_EMIT OnComm();
}

void QtSerialLink::onError(QSerialPort::SerialPortError error) {
    const bool deviceFailed = error == QSerialPort::ResourceError ||
                              error == QSerialPort::ReadError || error == QSerialPort::WriteError;
    if (!deviceFailed || !m_port.isOpen())
        return;
    // A vanished device keeps reporting the same error in a tight loop until it is closed.
    m_port.close();
    m_port.clearError();
    QMetaObject::invokeMethod(this, &SerialLink::deviceLost, Qt::QueuedConnection);
}

} // namespace zentrava
