#pragma once

#include "cli/plan.h"
#include "cli/report.h"
#include "core/module_session.h"
#include "core/qt_serial_link.h"

#include <QObject>

namespace zentrava::cli {

struct RunSettings {
    int timeoutMs = ModuleSession::kDefaultTimeoutMs;
    int retries = 0;
    bool verifyCheckByte = true;
    bool verbose = false;
    bool logDevice = false; // several ports log to the same stream
};

// One module on one port: opens it and takes the plan's steps in order, one request at a time.
class PortRunner : public QObject {
    Q_OBJECT
public:
    PortRunner(const QString& device, Plan plan, const RunSettings& settings,
               QObject* parent = nullptr);

    void start();
    const PortResult& result() const { return m_result; }

Q_SIGNALS:
    void finished();

private:
    const Step& step() const { return m_plan[m_step]; }
    void send();
    void advance();
    void onAccepted(zentrava::CommandCode code, const zentrava::ModuleValue& value);
    void onRejected(zentrava::CommandCode code, zentrava::ModuleSession::Rejection reason);
    void onTimedOut();
    void onDeviceLost();
    void keepSerial(const ModuleValue& held);
    void fail(int status, const QString& message);
    void finish();
    void logFrame(const char* direction, const QByteArray& frame) const;
    QString doing() const;

    Plan m_plan;
    RunSettings m_settings;
    QtSerialLink m_link;
    ModuleSession m_session;
    std::size_t m_step = 0;
    int m_retriesLeft = 0;
    bool m_finished = false;
    PortResult m_result;
};

} // namespace zentrava::cli
