// One command at a time: the request, the reply timer and the reply handler of the window.
#include "app/form1.h"

#include "protocol/reply_frame.h"

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

namespace zentrava {

namespace {
QString timeStamp() {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}
} // namespace

void Form1::setCommandButtonsEnabled(bool enabled) {
    for (QPushButton* button : m_commandButtons)
        button->setEnabled(enabled);
}

void Form1::startTransaction(CommandCode code, const QByteArray& payload) {
    setCommandButtonsEnabled(false);
    sendCommand(code, payload);
}

void Form1::sendCommand(CommandCode code, const QByteArray& payload) {
    const QByteArray frame = buildCommandFrame(code, payload);
    pendingCommand = code;
    MSComm1->setRThreshold(int(frame.size()));
    replyBuffer = QByteArray(frame.size() + 1, '\0');
    if (MSComm1->output(frame) != 0) {
        closeAfterDeviceFailure();
        return;
    }
    m_lastRequest = frame;
    m_lastRequestTime = timeStamp();
    noteWireTraffic(QByteArray());
    startReplyTimer();
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

void Form1::MSComm1_OnComm() {
    if (MSComm1->commEvent() != SerialLink::kEventReceive)
        return;
    Timer2->stop();
    if (MSComm1->portOpen())
        setCommandButtonsEnabled(true);
    MSComm1->setInputLen(0);
    QByteArray input;
    const int readError = MSComm1->input(input);
    MSComm1->setRThreshold(0);
    noteWireTraffic(input);
    // More than the buffer holds (replies back to back, noise first) is no reply we can trust.
    if (readError != 0 || input.size() > replyBuffer.size()) {
        failPendingReply();
        return;
    }
    std::copy(input.cbegin(), input.cend(), replyBuffer.begin());
    if (!isKnownCommand(pendingCommand))
        return;
    if (!replyLayoutValid(replyBuffer, pendingCommand)) {
        setPanelText(2, QStringLiteral("Fail!"));
        return;
    }
    decodeReply();
}

void Form1::failPendingReply() {
    if (isKnownCommand(pendingCommand))
        setPanelText(2, QStringLiteral("Fail!"));
}

void Form1::noteWireTraffic(const QByteArray& reply) {
    QString tip = QStringLiteral("%1  sent      %2").arg(m_lastRequestTime, hexText(m_lastRequest));
    if (!reply.isNull())
        tip += QStringLiteral("\n%1  received  %2").arg(timeStamp(), hexText(reply));
    m_panels[1]->setToolTip(tip);
}

} // namespace zentrava
