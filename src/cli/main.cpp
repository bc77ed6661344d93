// kt7720ctl: the module's settings from scripts and production lines, several modules at once.
#include "cli/command_line.h"
#include "cli/plan.h"
#include "cli/port_listing.h"
#include "cli/port_runner.h"
#include "cli/provision.h"
#include "cli/report.h"
#include "core/usage_error.h"

#include <QCoreApplication>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace zentrava;
using namespace zentrava::cli;

namespace {

// Every port at once on this one event loop; results are printed in --port order once all
// are done, so scripts see the same order each time.
int runFleet(const Options& options, const Plan& plan) {
    const bool several = options.ports.size() > 1;
    const RunSettings settings{options.timeoutMs, options.retries, options.verifyCheckByte,
                               options.verbose, several};
    std::vector<std::unique_ptr<ModulePort>> ports;
    std::vector<std::unique_ptr<PortRunner>> runners;
    qsizetype running = options.ports.size();
    for (const QString& device : options.ports) {
        ports.push_back(std::make_unique<ModulePort>(device, settings));
        runners.push_back(std::make_unique<PortRunner>(*ports.back(), plan));
        PortRunner* runner = runners.back().get();
        QObject::connect(runner, &PortRunner::finished, runner, [&running] {
            if (--running == 0)
                QCoreApplication::quit();
        });
        QTimer::singleShot(0, runner, &PortRunner::start);
    }
    QCoreApplication::exec();

    int status = exit_status::kDone;
    for (const auto& runner : runners) {
        const PortResult& result = runner->result();
        const QStringList lines =
            options.json ? QStringList{jsonLine(result)} : textLines(result, several);
        for (const QString& line : lines)
            printLine(stdout, line);
        for (const QString& error : result.errors)
            printLine(stderr, QStringLiteral("kt7720ctl: %1: %2").arg(result.device, error));
        status = std::max(status, result.status);
    }
    return status;
}

// A standard stream left closed would hand its number to the next file opened, a serial port
// even, and the output would go there. Held by /dev/null read-only, writing to it fails.
void holdClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", O_RDONLY);
    }
}

// Whatever was printed must have reached stdout (every line goes through printLine()): a
// profile saved to a full disk is lost.
int checkedOutput(int status) {
    if (const int error = outputError()) {
        printLine(stderr, QStringLiteral("kt7720ctl: cannot write the output: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(error))));
        return std::max(status, exit_status::kOutputFailed);
    }
    return status;
}

int run(const Options& options) {
    switch (options.command) {
    case Command::Help:
        printLine(stdout, helpText().chopped(1));
        return exit_status::kDone;
    case Command::Version:
        printLine(stdout, QStringLiteral("kt7720ctl " ZENTRAVA_VERSION));
        return exit_status::kDone;
    case Command::Ports:
        listPorts(options.json);
        return exit_status::kDone;
    case Command::Get:
    case Command::Set:
    case Command::Provision:
        break;
    }
    if (options.ports.isEmpty())
        return reportUsageError(
            QStringLiteral("which module? Name its serial device with --port DEVICE "
                           "('kt7720ctl ports' lists them)"),
            false);
    QString error;
    const std::optional<Plan> plan = makePlan(options, error);
    if (!plan)
        return reportUsageError(error, false);
    return options.command == Command::Provision ? runProvision(options, *plan)
                                                 : runFleet(options, *plan);
}

} // namespace

int main(int argc, char* argv[]) {
    holdClosedStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kt7720ctl"));
    QString error;
    const std::optional<Options> options = parseCommandLine(QCoreApplication::arguments(), error);
    if (!options)
        return reportUsageError(error);
    return checkedOutput(run(*options));
}
