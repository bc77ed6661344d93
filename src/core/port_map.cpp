#include "port_map.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace zentrava {

PortMap PortMap::system() {
    PortMap map;
#ifdef Q_OS_WIN
    for (int port = 1; port <= kPortCount; ++port)
        map.set(port, QStringLiteral("COM%1").arg(port));
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString name = info.portName();
        if (name.startsWith(QLatin1String("COM"))) {
            bool ok = false;
            const int port = name.mid(3).toInt(&ok);
            if (ok && port >= 1 && port <= kPortCount)
                map.set(port, name, info.description());
        }
    }
#else
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    std::sort(ports.begin(), ports.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        return a.systemLocation() < b.systemLocation();
    });
    int port = 1;
    for (const QSerialPortInfo& info : ports) {
        if (port > kPortCount)
            break;
        const QString description =
            info.description().isEmpty() ? info.manufacturer() : info.description();
        map.set(port++, info.systemLocation(), description);
    }
#endif
    return map;
}

void PortMap::set(int port, const QString& device, const QString& description) {
    if (port >= 1 && port <= kPortCount)
        m_entries[std::size_t(port - 1)] = {device, description};
}

QString PortMap::device(int port) const {
    return port >= 1 && port <= kPortCount ? m_entries[std::size_t(port - 1)].device : QString();
}

QString PortMap::description(int port) const {
    return port >= 1 && port <= kPortCount ? m_entries[std::size_t(port - 1)].description
                                           : QString();
}

} // namespace zentrava
