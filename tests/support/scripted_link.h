#pragma once

#include "core/serial_errors.h"
#include "core/serial_link.h"

#include <QMap>

namespace zentrava::test {

// A serial link whose failures are chosen by the test: only for the codes a
// pseudo-terminal cannot produce.
class ScriptedLink final : public SerialLink {
    Q_OBJECT
public:
    using SerialLink::SerialLink;

    // Operation name ("setCommPort", "setSettings", "open", "output", "input", ...) -> code.
    QMap<QString, int> failures;
    QList<int> openablePorts;
    QByteArray waiting;
    QByteArray written;

    void raiseReceive() {
        m_event = kEventReceive;
        Q_EMIT OnComm();
    }

    int setCommPort(int port) override {
        if (int e = fail(QStringLiteral("setCommPort")))
            return e;
        m_port = port;
        return 0;
    }
    int commPort() const override { return m_port; }
    QString deviceName() const override { return QStringLiteral("/dev/scripted%1").arg(m_port); }
    int setSettings(const QString& settings) override {
        if (int e = fail(QStringLiteral("setSettings")))
            return e;
        m_settings = settings;
        return 0;
    }
    QString settings() const override { return m_settings; }
    int setPortOpen(bool open) override {
        if (!open) {
            m_open = false;
            return 0;
        }
        if (int e = fail(QStringLiteral("open")))
            return e;
        if (!openablePorts.contains(m_port))
            return serial_error::kPortNotAvailable;
        m_open = true;
        return 0;
    }
    bool portOpen() const override { return m_open; }
    int setInBufferSize(int) override { return 0; }
    int inBufferSize() const override { return 1024; }
    int setInBufferCount(int) override {
        waiting.clear();
        return 0;
    }
    int inBufferCount() const override { return int(waiting.size()); }
    int setInputMode(int) override { return 0; }
    int setInputLen(int length) override {
        m_inputLen = length;
        return 0;
    }
    int inputLen() const override { return m_inputLen; }
    int setRThreshold(int threshold) override {
        m_threshold = threshold;
        return 0;
    }
    int rThreshold() const override { return m_threshold; }
    int setSThreshold(int) override { return 0; }
    int output(const QByteArray& bytes) override {
        if (int e = fail(QStringLiteral("output")))
            return e;
        if (!m_open)
            return serial_error::kPortNotOpen;
        written += bytes;
        return 0;
    }
    int input(QByteArray& bytes) override {
        if (int e = fail(QStringLiteral("input")))
            return e;
        bytes = waiting;
        waiting.clear();
        return 0;
    }
    int commEvent() const override { return m_event; }

private:
    int fail(const QString& operation) const { return failures.value(operation, 0); }

    int m_port = 1;
    QString m_settings;
    bool m_open = false;
    int m_inputLen = 0;
    int m_threshold = 0;
    int m_event = 0;
};

} // namespace zentrava::test
