#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace zentrava {

// The window's one serial connection, seen as the properties of a classic serial control.
// Setters and operations return 0 or a failure code (see serial_errors.h).
class SerialLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kEventReceive = 2;
    static constexpr int kInputBinary = 1;

    using QObject::QObject;
    ~SerialLink() override = default;

    virtual int setCommPort(int port) = 0;
    virtual int commPort() const = 0;
    // The device behind the current port number, for messages; empty when none.
    virtual QString deviceName() const = 0;
    virtual int setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;
    virtual int setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    virtual int setInBufferSize(int size) = 0;
    virtual int inBufferSize() const = 0;
    // Only 0 is accepted: it discards every waiting byte.
    virtual int setInBufferCount(int count) = 0;
    virtual int inBufferCount() const = 0;
    virtual int setInputMode(int mode) = 0;
    virtual int setInputLen(int length) = 0;
    virtual int inputLen() const = 0;
    // Arms one receive notification for when this many bytes wait; 0 disarms.
    virtual int setRThreshold(int threshold) = 0;
    virtual int rThreshold() const = 0;
    virtual int setSThreshold(int threshold) = 0;
    virtual int output(const QByteArray& bytes) = 0;
    virtual int input(QByteArray& bytes) = 0;
    virtual int commEvent() const = 0;

Q_SIGNALS:
    void OnComm();
    // The open device failed underneath us (unplugged, hung up). The port is already closed.
    void deviceLost();
};

} // namespace zentrava
