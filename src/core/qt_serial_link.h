#pragma once

#include "core/line_settings.h"
#include "core/port_map.h"
#include "core/serial_link.h"

#include <QSerialPort>

namespace zentrava {

// The serial link on a real device through QSerialPort.
class QtSerialLink final : public SerialLink {
    Q_OBJECT
public:
    explicit QtSerialLink(PortMap map, QObject* parent = nullptr);
    ~QtSerialLink() override;

    // The devices behind the port numbers from now on; refused while the port is open.
    int setPortMap(const PortMap& map);

    int setCommPort(int port) override;
    int commPort() const override { return m_commPort; }
    QString deviceName() const override { return m_map.device(m_commPort); }
    int setSettings(const QString& settings) override;
    QString settings() const override { return m_settingsText; }
    int setPortOpen(bool open) override;
    bool portOpen() const override { return m_port.isOpen(); }
    int setInBufferSize(int size) override;
    int inBufferSize() const override { return m_inBufferSize; }
    int setInBufferCount(int count) override;
    int inBufferCount() const override;
    int setInputMode(int mode) override;
    int setInputLen(int length) override;
    int inputLen() const override { return m_inputLen; }
    int setRThreshold(int threshold) override;
    int rThreshold() const override { return m_rThreshold; }
    int setSThreshold(int threshold) override;
    int output(const QByteArray& bytes) override;
    int input(QByteArray& bytes) override;
    int commEvent() const override { return m_commEvent; }

private:
    int openPort();
    int applySettings();
    void checkThreshold();
    void onError(QSerialPort::SerialPortError error);

    PortMap m_map;
    QSerialPort m_port;
    int m_commPort = 1;
    LineSettings m_settings;
    QString m_settingsText = kModuleLine;
    int m_inBufferSize = 1024;
    int m_inputLen = 0;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    int m_commEvent = 0;
    bool m_notified = false;
};

} // namespace zentrava
