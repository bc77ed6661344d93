#include "cli/provision.h"

#include "cli/fixture.h"
#include "core/signal_watch.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace zentrava::cli {

namespace {

class ProductionLine : public QObject {
public:
    ProductionLine(const Options& options, const Plan& plan) : m_options(options), m_plan(plan) {}

    int run();

private:
    void onModuleOn(Fixture& fixture);
    void onModuleDone(const PortResult& result);
    void onStopped(const QString& device, const QString& failure);
    QString appendToLog(const QString& line);
    void stopAll();

    const Options& m_options;
    const Plan& m_plan;
    QFile m_log;
    std::vector<std::unique_ptr<Fixture>> m_fixtures;
    qsizetype m_running = 0;
    int m_started = 0;
    int m_provisioned = 0;
    int m_failed = 0;
    int m_status = exit_status::kDone;
};

int ProductionLine::run() {
    // Opened before any port is touched: a station that cannot keep its records does not start.
    if (!m_options.logPath.isEmpty()) {
        m_log.setFileName(m_options.logPath);
        if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            printLine(stderr, QStringLiteral("kt7720ctl: cannot open the log %1: %2")
                                  .arg(m_options.logPath, m_log.errorString()));
            return exit_status::kLogFailed;
        }
    }
    SignalWatch signalWatch;
    if (!signalWatch.watch({SIGINT, SIGTERM})) {
        printLine(stderr, QStringLiteral("kt7720ctl: cannot handle signals: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return exit_status::kPortFailed;
    }
    connect(&signalWatch, &SignalWatch::received, this, &ProductionLine::stopAll);

    const RunSettings settings{m_options.timeoutMs, m_options.retries, m_options.verifyCheckByte,
                               m_options.verbose, m_options.ports.size() > 1};
    for (const QString& device : m_options.ports) {
        m_fixtures.push_back(std::make_unique<Fixture>(device, m_plan, settings));
        Fixture* fixture = m_fixtures.back().get();
        connect(fixture, &Fixture::moduleOn, this, [this, fixture] { onModuleOn(*fixture); });
        connect(fixture, &Fixture::moduleDone, this, &ProductionLine::onModuleDone);
        connect(fixture, &Fixture::stopped, this,
                [this, device](const QString& failure) { onStopped(device, failure); });
        QTimer::singleShot(0, fixture, &Fixture::start);
    }
    m_running = m_options.ports.size();
    QCoreApplication::exec();
    printLine(stderr, QStringLiteral("provisioned %1, failed %2").arg(m_provisioned).arg(m_failed));
    return m_status;
}

void ProductionLine::onModuleOn(Fixture& fixture) {
    // With --count, no module beyond it is started, so none has to be interrupted.
    if (m_options.count > 0 && m_started >= m_options.count)
        return fixture.stop();
    ++m_started;
    fixture.configure();
}

void ProductionLine::onModuleDone(const PortResult& result) {
    ++(result.status == exit_status::kDone ? m_provisioned : m_failed);
    m_status = std::max(m_status, result.status);
    const QString json = jsonLine(result);
    // main() names the output's failure once all is stopped.
    if (!printLine(stdout, m_options.json ? json : glanceLine(result))) {
        m_status = std::max(m_status, exit_status::kOutputFailed);
        return stopAll();
    }
    if (m_log.isOpen()) {
        const QString failure = appendToLog(json);
        if (!failure.isEmpty()) {
            printLine(stderr, QStringLiteral("kt7720ctl: cannot write the log %1: %2")
                                  .arg(m_options.logPath, failure));
            m_status = std::max(m_status, exit_status::kLogFailed);
            return stopAll();
        }
    }
    if (m_options.count > 0 && m_provisioned + m_failed >= m_options.count)
        stopAll();
}

// On the disk before the next module is started: a power cut loses no record of a module that
// was done. Empty, or why not.
QString ProductionLine::appendToLog(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    if (m_log.write(bytes) != bytes.size() || !m_log.flush())
        return m_log.errorString();
    // A pipe or a terminal keeps nothing to sync: that is no failure.
    if (::fsync(m_log.handle()) != 0 && errno != EINVAL && errno != ENOTSUP)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

void ProductionLine::onStopped(const QString& device, const QString& failure) {
    if (!failure.isEmpty()) {
        printLine(stderr, QStringLiteral("kt7720ctl: %1: %2").arg(device, failure));
        m_status = std::max(m_status, exit_status::kPortFailed);
    }
    if (--m_running == 0)
        QCoreApplication::quit();
}

void ProductionLine::stopAll() {
    for (const auto& fixture : m_fixtures)
        fixture->stop();
}

} // namespace

int runProvision(const Options& options, const Plan& plan) {
    return ProductionLine(options, plan).run();
}

} // namespace zentrava::cli
