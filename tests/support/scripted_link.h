#pragma once

#include "core/serial_errors.h"
#include "core/serial_link.h"

#include <QMap>

#include <utility>

namespace zentrava::test {

// A serial link whose failures the test chooses: only for codes a pseudo-terminal cannot give.
class ScriptedLink final : public SerialLink {
    Q_OBJECT
public:
    QMap<QString, int> failures; // "setCommPort", "setSettings", "open", "output", "input" -> code
    QList<int> openablePorts;
    QMap<int, int> openFailures; // port -> code of its refused open
    QByteArray waiting;
    QByteArray written;

    void raiseReceive() { m_event = kEventReceive, Q_EMIT OnComm(); }

    int setCommPort(int port) override {
        return run("setCommPort", [&] { m_port = port; });
    }
    int commPort() const override { return m_port; }
    QString deviceName() const override { return QStringLiteral("/dev/scripted%1").arg(m_port); }
    int setSettings(const QString& text) override {
        return run("setSettings", [&] { m_settings = text; });
    }
    QString settings() const override { return m_settings; }
    int setPortOpen(bool open) override {
        if (open && openFailures.contains(m_port))
            return openFailures.value(m_port);
        if (open && !failures.contains(QStringLiteral("open")) && !openablePorts.contains(m_port))
            return serial_error::kPortNotAvailable;
        return run(open ? "open" : "close", [&] { m_open = open; });
    }
    bool portOpen() const override { return m_open; }
    int setInBufferSize(int) override { return 0; }
    int inBufferSize() const override { return 1024; }
    int setInBufferCount(int) override { return waiting.clear(), 0; }
    int inBufferCount() const override { return int(waiting.size()); }
    int setInputMode(int) override { return 0; }
    int setInputLen(int length) override { return m_inputLen = length, 0; }
    int inputLen() const override { return m_inputLen; }
    int setRThreshold(int threshold) override { return m_threshold = threshold, 0; }
    int rThreshold() const override { return m_threshold; }
    int setSThreshold(int) override { return 0; }
    int output(const QByteArray& bytes) override {
        if (!m_open && !failures.contains(QStringLiteral("output")))
            return serial_error::kPortNotOpen;
        return run("output", [&] { written += bytes; });
    }
    int input(QByteArray& bytes) override {
        return run("input", [&] { bytes = std::exchange(waiting, {}); });
    }
    int commEvent() const override { return m_event; }

private:
    // The scripted failure of `operation`, or 0 once `apply` has done it.
    template <typename F> int run(const char* operation, F apply) {
        const int error = failures.value(QLatin1String(operation), 0);
        return error ? error : (apply(), 0);
    }

    int m_port = 1, m_inputLen = 0, m_threshold = 0, m_event = 0;
    QString m_settings;
    bool m_open = false;
};

} // namespace zentrava::test
