// The window's port handling: the probe, the list that follows the devices, the start-up
// settings and the open/close toggle.
#include "app/form1.h"

#include "core/qt_serial_link.h"
#include "core/serial_errors.h"

#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

namespace zentrava {

namespace {
// "COM1" .. "COM16" exactly; 0 for any other text.
int portNumberFromName(const QString& name) {
    for (int port = 1; port <= PortMap::kPortCount; ++port) {
        if (name == QStringLiteral("COM%1").arg(port))
            return port;
    }
    return 0;
}
} // namespace

void Form1::probePorts() {
    comport->clear();
    m_skippedPorts.clear();
    for (int i = 1; i <= PortMap::kPortCount; ++i) {
        const int port = PortMap::kPortCount + 1 - i;
        const QString device = m_portMap.device(port);
        MSComm1->setCommPort(port);
        // Each open raises DTR and RTS, which resets many boards, and keeps other programs off
        // the device meanwhile: a device opens once for the list while it stays present.
        if (device.isEmpty() || !m_probedDevices.contains(device)) {
            const int error = MSComm1->setPortOpen(true);
            if (!MSComm1->portOpen()) {
                noteSkippedPort(device, error);
                continue;
            }
            MSComm1->setPortOpen(false);
            if (!device.isEmpty())
                m_probedDevices.insert(device);
        }
        comport->insertItem(0, QStringLiteral("COM%1").arg(port));
        QString tip = device;
        if (!m_portMap.description(port).isEmpty())
            tip += QStringLiteral(" \u2014 ") + m_portMap.description(port);
        comport->setItemData(0, tip, Qt::ToolTipRole);
        comport->setCurrentIndex(0);
    }
    // The first entry became current before its tip was set.
    updatePortToolTip();
}

void Form1::noteSkippedPort(const QString& device, int error) {
    QString why;
    if (error == serial_error::kPermissionDenied) {
        const QString group = QFileInfo(device).group();
        why = QStringLiteral("no permission (add yourself to the %1 group)")
                  .arg(group.isEmpty() ? QStringLiteral("dialout") : group);
    } else if (error == serial_error::kPortAlreadyOpen) {
        why = QStringLiteral("in use by another program");
    }
    // Tried from 16 down, each goes first: the tip names them in port order, as the list does.
    if (!device.isEmpty() && !why.isEmpty())
        m_skippedPorts.prepend(device + QStringLiteral(": ") + why);
}

void Form1::renumberPorts() {
    m_portMap = m_portNumbering.update(m_portSource->devices());
    if (auto* link = qobject_cast<QtSerialLink*>(MSComm1.get()))
        link->setPortMap(m_portMap);
    // A device that went away and comes back is probed afresh.
    QSet<QString> present;
    for (int port = 1; port <= PortMap::kPortCount; ++port)
        present.insert(m_portMap.device(port));
    m_probedDevices.intersect(present);
    probePorts();
}

void Form1::refreshPortList() {
    // The open port's number and entry stay as they are until it is closed.
    if (MSComm1->portOpen()) {
        m_portListStale = true;
        return;
    }
    m_portListStale = false;
    const QString shown = m_portMap.device(portNumberFromName(comport->currentText()));
    renumberPorts();
    for (int i = 0; i < comport->count() && !shown.isEmpty(); ++i) {
        if (m_portMap.device(portNumberFromName(comport->itemText(i))) == shown) {
            comport->setCurrentIndex(i);
            break;
        }
    }
}

void Form1::updatePortToolTip() {
    QString tip = QStringLiteral("The port to open, COM1 to COM16: each one a serial device of "
                                 "this computer, listed again when this list drops down and when "
                                 "a device is plugged in or removed");
    const QString device = comport->itemData(comport->currentIndex(), Qt::ToolTipRole).toString();
    if (!device.isEmpty())
        tip += QLatin1Char('\n') + device;
    // A port that is not listed would otherwise leave the operator guessing.
    for (const QString& skipped : m_skippedPorts)
        tip += QLatin1Char('\n') + skipped;
    comport->setToolTip(tip);
}

void Form1::applyStartupSettings() {
    // Each step may fail on an odd device; start-up goes on regardless.
    MSComm1->setSettings(kModuleLine);
    MSComm1->setInputMode(SerialLink::kInputBinary);
    MSComm1->setInBufferSize(1024);
    MSComm1->setInBufferCount(0);
    MSComm1->setInputLen(1);
    MSComm1->setRThreshold(1);
    MSComm1->setSThreshold(1);
}

void Form1::setComopenColor(const QColor& color) {
    QPalette palette = comopen->palette();
    palette.setColor(QPalette::Button, color);
    comopen->setPalette(palette);
}

void Form1::comopen_Click() {
    const int error = comopen->text() == QLatin1String("Close") ? runCloseSteps() : runOpenSteps();
    reportSerialError(error);
}

int Form1::runCloseSteps() {
    m_portInUse = false;
    if (const int error = MSComm1->setPortOpen(false))
        return error;
    setComopenColor(m_buttonFace);
    comopen->setText(QStringLiteral("Open"));
    setPanelText(1, QStringLiteral("Closed ") + kModuleLine);
    comport->setEnabled(true);
    setCommandButtonsEnabled(false);
    // Queued: whoever closed the port still reports on the device it had.
    if (m_portListStale)
        QMetaObject::invokeMethod(this, &Form1::refreshPortList, Qt::QueuedConnection);
    return serial_error::kNone;
}

int Form1::runOpenSteps() {
    setComopenColor(kLightBlue);
    comopen->setText(QStringLiteral("Close"));
    if (const int port = portNumberFromName(comport->currentText())) {
        if (const int error = MSComm1->setCommPort(port))
            return error;
    }
    // Opening has always given the line with a trailing blank.
    if (const int error = MSComm1->setSettings(QString(kModuleLine) + QLatin1Char(' ')))
        return error;
    if (const int error = MSComm1->setPortOpen(true))
        return error;
    m_portInUse = true;
    setPanelText(1, QStringLiteral("Opened ") + kModuleLine);
    comport->setEnabled(false);
    setCommandButtonsEnabled(true);
    return serial_error::kNone;
}

void Form1::reportSerialError(int code) {
    const QString message = serialErrorMessage(code, MSComm1->deviceName());
    if (!message.isEmpty())
        m_services.messages->warn(this, message);
}

void Form1::MSComm1_DeviceLost() {
    // A command still waiting then ends with its honest "Time out!".
    if (m_portInUse) {
        runCloseSteps();
        reportSerialError(serial_error::kDeviceError);
    }
}

void Form1::closeAfterDeviceFailure() {
    runCloseSteps();
    Timer2->stop();
    // With the timer stopped nothing would ever replace a waiting ".....".
    if (panelText(2) == QLatin1String("....."))
        setPanelText(2, QString());
    reportSerialError(serial_error::kDeviceError);
}

} // namespace zentrava
