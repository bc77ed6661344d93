#include "cli/port_runner.h"

#include "core/serial_errors.h"

#include <algorithm>

namespace zentrava::cli {

namespace {

struct RejectionInfo {
    ModuleSession::Rejection reason;
    int status;
    const char* text;
};

constexpr std::array<RejectionInfo, 5> kRejections{{
    {ModuleSession::Rejection::Layout, exit_status::kBadReply,
     "bad reply (header, marker, code, length or terminator)"},
    {ModuleSession::Rejection::CheckByte, exit_status::kBadReply, "bad reply (check byte)"},
    {ModuleSession::Rejection::Overrun, exit_status::kBadReply,
     "bad reply (more bytes than one reply)"},
    {ModuleSession::Rejection::ReadFailed, exit_status::kPortFailed, "the port could not be read"},
    {ModuleSession::Rejection::UnknownValue, exit_status::kBadReply,
     "bad reply (names no known data rate, baud rate or parity)"},
}};

PortMap onlyPort(const QString& device) {
    PortMap map;
    map.set(1, device);
    return map;
}

} // namespace

QString linkMessage(int code, const QString& device) {
    const QString text = serialErrorMessage(code, device);
    if (text.isEmpty())
        return QStringLiteral("serial port failure %1, which has no further explanation").arg(code);
    return QStringLiteral("%1 (serial error %2)").arg(text).arg(code);
}

ModulePort::ModulePort(const QString& device, const RunSettings& settings)
    : device(device), settings(settings), link(onlyPort(device)), session(link) {
    link.setCommPort(1);
    session.setCheckByteVerified(settings.verifyCheckByte);
    QObject::connect(&session, &ModuleSession::lateReplyDropped, &session,
                     [this](const QByteArray& frame) { logFrame("late, dropped:", frame); });
}

QString ModulePort::open(const QString& line) {
    link.setSettings(line);
    if (const int error = link.setPortOpen(true))
        return QStringLiteral("cannot open the port: ") + linkMessage(error, device);
    return QString();
}

void ModulePort::logFrame(const char* direction, const QByteArray& frame) const {
    if (!settings.verbose)
        return;
    QString line = frameLogLine(direction, frame);
    if (settings.logDevice)
        line.prepend(device + QLatin1Char(' '));
    printLine(stderr, line);
}

PortRunner::PortRunner(ModulePort& port, Plan plan, QObject* parent)
    : QObject(parent), m_port(port), m_plan(std::move(plan)) {
    m_result.device = port.device;
}

void PortRunner::start() {
    ModuleSession& session = m_port.session;
    session.setTimeout(m_port.settings.timeoutMs);
    connect(&session, &ModuleSession::accepted, this, &PortRunner::onAccepted);
    connect(&session, &ModuleSession::rejected, this, &PortRunner::onRejected);
    connect(&session, &ModuleSession::timedOut, this, &PortRunner::onTimedOut);
    connect(&session, &ModuleSession::deviceLost, this, &PortRunner::onDeviceLost);
    if (!m_port.link.portOpen()) {
        const QString failure = m_port.open();
        if (!failure.isEmpty()) {
            fail(exit_status::kPortFailed, failure);
            return finish();
        }
        m_opened = true;
    }
    m_retriesLeft = m_port.settings.retries;
    send();
}

void PortRunner::interrupt() {
    if (m_finished)
        return;
    fail(exit_status::kBadReply, QStringLiteral("interrupted"));
    finish();
}

void PortRunner::send() {
    if (m_step >= m_plan.size())
        return finish();
    const bool writes = step().kind == Step::Kind::Write;
    const CommandCode code =
        writes ? writeCode(step().value.setting) : readCode(step().value.setting);
    const std::optional<QByteArray> payload = writes ? encodePayload(step().value) : QByteArray();
    Q_ASSERT(payload); // the plan only holds values that have a code
    // After a serial write the module listens only at what it was told: its read-back is
    // asked there, and nothing else comes after it.
    if (m_port.link.settings() != m_listensAt) {
        if (const int error = m_port.link.setSettings(m_listensAt)) {
            fail(exit_status::kPortFailed,
                 QStringLiteral("the port cannot take %1 while %2: %3")
                     .arg(m_listensAt, doing(), linkMessage(error, m_result.device)));
            return finish();
        }
    }
    if (const int error = m_port.session.request(code, payload.value_or(QByteArray()))) {
        fail(exit_status::kPortFailed, linkMessage(error, m_result.device));
        return finish();
    }
    m_port.logFrame("sent", m_port.session.lastRequest());
}

void PortRunner::advance() {
    ++m_step;
    m_retriesLeft = m_port.settings.retries;
    send();
}

void PortRunner::onAccepted(CommandCode, const ModuleValue& value) {
    m_port.logFrame("received", m_port.session.lastReply());
    const Step& current = step();
    switch (current.kind) {
    case Step::Kind::Read:
        if (plausible(value))
            m_result.fields += fieldsOf(value);
        else
            fail(exit_status::kBadReply,
                 QStringLiteral("bad reply (frequency %1 MHz is outside 855 to 875) while %2")
                     .arg(formatFrequency(value.megahertz()), doing()));
        break;
    case Step::Kind::KeepSerial:
        keepSerial(value);
        break;
    case Step::Kind::Write:
        m_result.fields += fieldsOf(value);
        if (value.setting == Setting::Serial)
            m_listensAt = moduleLineFor(value.number, value.parity);
        if (value != current.value) {
            fail(exit_status::kBadReply,
                 QStringLiteral("the module did not take %1: it answered %2")
                     .arg(describe(current.value), describe(value)));
            return finish();
        }
        break;
    case Step::Kind::Verify:
        if (value != current.value) {
            fail(exit_status::kBadReply, QStringLiteral("%1 was written but reads back as %2")
                                             .arg(describe(current.value), describe(value)));
            return finish();
        }
        break;
    }
    advance();
}

void PortRunner::onRejected(CommandCode, ModuleSession::Rejection reason) {
    m_port.logFrame("received", m_port.session.lastReply());
    const RejectionInfo& info =
        *std::find_if(kRejections.begin(), kRejections.end(),
                      [reason](const RejectionInfo& r) { return r.reason == reason; });
    fail(info.status,
         QStringLiteral("%1 while %2: %3")
             .arg(QLatin1String(info.text), doing(), hexText(m_port.session.lastReply())));
    // Other reads still tell something; after a doubtful write nothing more is changed.
    if (step().kind == Step::Kind::Read && info.status == exit_status::kBadReply)
        return advance();
    finish();
}

void PortRunner::onTimedOut() {
    if (m_retriesLeft-- > 0)
        return send();
    const RunSettings& settings = m_port.settings;
    QString message =
        QStringLiteral("no reply within %1 ms while %2").arg(settings.timeoutMs).arg(doing());
    if (settings.retries > 0)
        message += QStringLiteral(" (%1 tries)").arg(settings.retries + 1);
    fail(exit_status::kTimedOut, message);
    finish();
}

void PortRunner::onDeviceLost() {
    fail(exit_status::kPortFailed, kPortLost + QStringLiteral(" while ") + doing());
    finish();
}

void PortRunner::keepSerial(const ModuleValue& held) {
    for (Step& later : m_plan) {
        if (later.value.setting != Setting::Serial)
            continue;
        if (later.value.number == 0)
            later.value.number = held.number;
        if (later.value.parity == '\0')
            later.value.parity = held.parity;
    }
}

void PortRunner::fail(int status, const QString& message) {
    m_result.status = std::max(m_result.status, status);
    m_result.errors.append(message);
}

void PortRunner::finish() {
    if (m_finished)
        return;
    m_finished = true;
    // Whatever the session still tells comes too late for this module's result.
    m_port.session.disconnect(this);
    if (m_opened)
        m_port.link.setPortOpen(false);
    Q_EMIT finished();
}

QString PortRunner::doing() const {
    const bool writes = step().kind == Step::Kind::Write;
    return QStringLiteral("%1 %2").arg(writes ? QStringLiteral("writing")
                                              : QStringLiteral("reading"),
                                       QLatin1String(settingInfo(step().value.setting).name));
}

} // namespace zentrava::cli
