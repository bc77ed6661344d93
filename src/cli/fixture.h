#pragma once

#include "cli/port_runner.h"

#include <QTimer>

namespace zentrava::cli {

// One fixture of a production line: a port on which modules are put and taken off one after
// another. A read of the channel now and then tells whether one is on; each module put on is
// written with the plan once, however long it stays.
class Fixture : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 400;
    static constexpr int kPollTimeoutMs = 300;
    // Reads in a row without a reply that mean the module was taken off.
    static constexpr int kMissesWhenOff = 2;

    Fixture(const QString& device, Plan plan, const RunSettings& settings,
            QObject* parent = nullptr);

    void start();
    // Writes the module moduleOn() announced. Without it, that module is left alone.
    void configure();
    // No new frame from now; a module being written is reported as interrupted.
    void stop();

Q_SIGNALS:
    // A module answered on the empty fixture; configure() or stop() follows at once.
    void moduleOn();
    void moduleDone(const zentrava::cli::PortResult& result);
    // For good; `failure` is empty unless the port failed.
    void stopped(const QString& failure);

private:
    enum class State { Empty, Writing, On, Stopped };

    void poll();
    void onAnswer();
    void onSilence();
    void onModuleFinished();
    void halt(const QString& failure);

    ModulePort m_port;
    Plan m_plan;
    QTimer m_pollTimer;
    PortRunner* m_runner = nullptr;
    State m_state = State::Empty;
    int m_misses = 0;
};

} // namespace zentrava::cli
