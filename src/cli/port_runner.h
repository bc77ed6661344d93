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

// One serial device and the one session on it, for as long as the program talks to it: a
// reply that comes late is known as one whoever asked.
class ModulePort {
public:
    ModulePort(const QString& device, const RunSettings& settings);

    // Empty, or why the port did not open at `line`.
    QString open(const QString& line = kModuleLine);
    // With -v, on stderr.
    void logFrame(const char* direction, const QByteArray& frame) const;

    const QString device;
    const RunSettings settings;
    QtSerialLink link;
    ModuleSession session;
};

// The reason for a link's failure code, for messages.
QString linkMessage(int code, const QString& device);

// What a port that went away under a module is reported as.
inline const QString kPortLost = QStringLiteral("the port was lost (unplugged or hung up)");

// One module on one port: takes the plan's steps in order, one request at a time. A port that
// is closed it opens, and closes again when done; one handed over open stays open.
class PortRunner : public QObject {
    Q_OBJECT
public:
    PortRunner(ModulePort& port, Plan plan, QObject* parent = nullptr);

    void start();
    // No further frame: the module is reported as not done.
    void interrupt();
    const PortResult& result() const { return m_result; }
    // The line the module listens at now: the module's own, or the one a serial write set.
    QString listensAt() const { return m_listensAt; }

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
    QString doing() const;

    ModulePort& m_port;
    Plan m_plan;
    std::size_t m_step = 0;
    int m_retriesLeft = 0;
    bool m_opened = false;
    bool m_finished = false;
    QString m_listensAt = kModuleLine;
    PortResult m_result;
};

} // namespace zentrava::cli
