#include "cli/fixture.h"

#include <QDateTime>

namespace zentrava::cli {

Fixture::Fixture(const QString& device, Plan plan, const RunSettings& settings, QObject* parent)
    : QObject(parent), m_port(device, settings), m_plan(std::move(plan)) {
    m_pollTimer.setInterval(kPollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &Fixture::poll);
}

void Fixture::start() {
    // Connected before any runner's: while one writes, a reply is its business alone.
    ModuleSession& session = m_port.session;
    connect(&session, &ModuleSession::accepted, this, &Fixture::onAnswer);
    // A module that answers garbage is on all the same.
    connect(&session, &ModuleSession::rejected, this, &Fixture::onAnswer);
    connect(&session, &ModuleSession::timedOut, this, &Fixture::onSilence);
    connect(&session, &ModuleSession::deviceLost, this, [this] {
        if (m_state != State::Writing)
            halt(kPortLost);
    });
    const QString failure = m_port.open();
    if (!failure.isEmpty())
        return halt(failure);
    m_pollTimer.start();
    // A module already on counts as put on.
    poll();
}

void Fixture::poll() {
    m_port.session.setTimeout(kPollTimeoutMs);
    if (const int error = m_port.session.request(command::kReadChannel))
        return halt(linkMessage(error, m_port.device));
    m_port.logFrame("sent", m_port.session.lastRequest());
}

void Fixture::onAnswer() {
    if (m_state == State::Writing)
        return;
    m_port.logFrame("received", m_port.session.lastReply());
    m_misses = 0;
    if (m_state == State::Empty) {
        m_pollTimer.stop();
        Q_EMIT moduleOn();
    }
}

void Fixture::onSilence() {
    if (m_state != State::On || ++m_misses < kMissesWhenOff)
        return;
    m_state = State::Empty;
    m_misses = 0;
    // The next module comes fresh, at the module's own line.
    if (const int error = m_port.link.setSettings(kModuleLine))
        halt(linkMessage(error, m_port.device));
}

void Fixture::configure() {
    m_state = State::Writing;
    m_runner = new PortRunner(m_port, m_plan, this);
    connect(m_runner, &PortRunner::finished, this, &Fixture::onModuleFinished);
    m_runner->start();
}

void Fixture::onModuleFinished() {
    PortResult result = m_runner->result();
    result.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const QString line = m_runner->listensAt();
    m_runner->deleteLater();
    m_runner = nullptr;
    if (m_state == State::Writing)
        m_state = State::On;
    Q_EMIT moduleDone(result);
    if (m_state == State::Stopped)
        return;
    if (!m_port.link.portOpen())
        return halt(kPortLost);
    // Until it is taken off, the module is asked at the line it now listens at.
    if (const int error = m_port.link.setSettings(line))
        return halt(linkMessage(error, m_port.device));
    m_pollTimer.start();
}

void Fixture::stop() {
    if (m_state == State::Stopped)
        return;
    const bool writing = m_state == State::Writing;
    m_state = State::Stopped;
    m_pollTimer.stop();
    if (writing)
        m_runner->interrupt();
    halt(QString());
}

void Fixture::halt(const QString& failure) {
    m_state = State::Stopped;
    m_pollTimer.stop();
    m_port.session.disconnect(this);
    m_port.link.setPortOpen(false);
    Q_EMIT stopped(failure);
}

} // namespace zentrava::cli
