// One command at a time: the request, the reply timer and the reply handler of the window.
#include "app/form1.h"

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

namespace zentrava {

void Form1::setCommandButtonsEnabled(bool enabled) {
    // A focused button that goes off hands focus on to the next control; taken last, it does so
    // once, past all the others, and lands where the hops one by one would have ended.
    QPushButton* focused = nullptr;
    for (QPushButton* button : m_commandButtons) {
        if (!enabled && button->hasFocus())
            focused = button;
        else
            button->setEnabled(enabled);
    }
    if (focused)
        focused->setEnabled(false);
}

void Form1::startTransaction(CommandCode code, const QByteArray& payload) {
    setCommandButtonsEnabled(false);
    sendCommand(code, payload);
}

void Form1::sendCommand(CommandCode code, const QByteArray& payload) {
    pendingCommand = code;
    if (m_session.request(code, payload) != 0) {
        closeAfterDeviceFailure();
        return;
    }
    m_lastRequestTime = frameTimeStamp();
    noteWireTraffic(QByteArray());
    startReplyTimer();
}

void Form1::sendValue(const ModuleValue& value) {
    // Every value the editors make has its code on the wire.
    sendCommand(writeCode(value.setting), encodePayload(value).value_or(QByteArray()));
}

void Form1::startReplyTimer() {
    // start() on a running timer restarts its interval.
    Timer2->start();
    setPanelText(2, QStringLiteral("....."));
}

void Form1::refuseWrite() {
    m_services.messages->warn(this, QStringLiteral("Invalid argument,please check-outs!"));
    startReplyTimer();
}

void Form1::Timer2_Timer() {
    // A port closed meanwhile keeps its buttons off; a click would write to nothing.
    if (MSComm1->portOpen())
        setCommandButtonsEnabled(true);
    Timer2->stop();
    setPanelText(2, QStringLiteral("Time out!"));
}

void Form1::MSComm1_OnComm(CommandCode code, const std::optional<ModuleValue>& value) {
    Timer2->stop();
    if (MSComm1->portOpen())
        setCommandButtonsEnabled(true);
    noteWireTraffic(m_session.lastReply());
    // The code differs only when a refused ID write took the place of the request answered.
    if (!value || code != pendingCommand || !plausible(*value)) {
        setPanelText(2, QStringLiteral("Fail!"));
        return;
    }
    showValue(*value);
    pendingCommand = 0;
    setPanelText(2, QStringLiteral("Success!"));
}

void Form1::noteWireTraffic(const QByteArray& reply) {
    QString tip =
        QStringLiteral("%1  sent      %2").arg(m_lastRequestTime, hexText(m_session.lastRequest()));
    if (!reply.isNull())
        tip += QStringLiteral("\n%1  received  %2").arg(frameTimeStamp(), hexText(reply));
    m_panels[1]->setToolTip(tip);
}

} // namespace zentrava
