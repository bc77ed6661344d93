#include "port_source.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>
#include <future>
#include <mutex>
#include <optional>
#include <utility>

namespace zentrava {

namespace {

QList<PortDevice> listSystemDevices() {
    QList<PortDevice> devices;
    const QList<QSerialPortInfo> ports = systemSerialPorts();
#ifdef Q_OS_WIN
    // Windows lists only the ports it knows of; COM1 to COM16 may still open (virtual ports).
    for (int port = 1; port <= PortMap::kPortCount; ++port)
        devices.append({QStringLiteral("COM%1").arg(port), QString(), port});
    for (const QSerialPortInfo& info : ports) {
        const QString name = info.portName();
        bool ok = false;
        const int port = name.startsWith(QLatin1String("COM")) ? name.mid(3).toInt(&ok) : 0;
        if (ok && port >= 1 && port <= PortMap::kPortCount)
            devices[port - 1].description = info.description();
    }
#else
    for (const QSerialPortInfo& info : ports) {
        const QString description =
            info.description().isEmpty() ? info.manufacturer() : info.description();
        devices.append({info.systemLocation(), description, 0});
    }
#endif
    return devices;
}

std::mutex earlyListingMutex;
std::optional<std::future<QList<PortDevice>>> earlyListing;

// The listing begun early, the first time; a fresh one after that.
QList<PortDevice> takeSystemDevices() {
    std::optional<std::future<QList<PortDevice>>> early;
    {
        const std::lock_guard<std::mutex> lock(earlyListingMutex);
        early.swap(earlyListing);
    }
    return early ? early->get() : listSystemDevices();
}

} // namespace

QList<QSerialPortInfo> systemSerialPorts() {
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    std::sort(ports.begin(), ports.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        return a.systemLocation() < b.systemLocation();
    });
    return ports;
}

void SystemPortSource::startEarlyListing() {
    const std::lock_guard<std::mutex> lock(earlyListingMutex);
    if (!earlyListing)
        earlyListing = std::async(std::launch::async, listSystemDevices);
}

SystemPortSource::SystemPortSource(QObject* parent)
    : SystemPortSource(QStringLiteral("/dev"), kSettleMs, {}, parent) {}

SystemPortSource::SystemPortSource(const QString& watchedDirectory, int settleMs, Lister lister,
                                   QObject* parent)
    : PortSource(parent), m_lister(lister ? std::move(lister) : takeSystemDevices),
      m_watcher(new QFileSystemWatcher(this)), m_settle(new QTimer(this)) {
    m_settle->setSingleShot(true);
    m_settle->setInterval(settleMs);
    connect(m_settle, &QTimer::timeout, this, &SystemPortSource::compareListing);
    // Each change restarts the wait: a USB adapter brings several nodes and links at once.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle,
            qOverload<>(&QTimer::start));
    if (QDir(watchedDirectory).exists())
        m_watcher->addPath(watchedDirectory);
}

bool SystemPortSource::isWatching() const {
    return !m_watcher->directories().isEmpty();
}

bool SystemPortSource::isSettling() const {
    return m_settle->isActive();
}

QList<PortDevice> SystemPortSource::devices() const {
    // The listing that found a change serves the refresh it prompts.
    if (!std::exchange(m_changeListed, false))
        m_listed = m_lister();
    return m_listed;
}

void SystemPortSource::compareListing() {
    const QList<PortDevice> before = std::exchange(m_listed, m_lister());
    m_changeListed = m_listed != before;
    if (m_changeListed)
        Q_EMIT changed();
}

FixedPortSource::FixedPortSource(const PortMap& map, QObject* parent) : PortSource(parent) {
    for (int port = 1; port <= PortMap::kPortCount; ++port) {
        if (map.isMapped(port))
            m_devices.append({map.device(port), map.description(port), port});
    }
}

} // namespace zentrava
