#pragma once

#include "core/port_map.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QFileSystemWatcher;
class QSerialPortInfo;
class QTimer;

namespace zentrava {

// One serial device as the system lists it.
struct PortDevice {
    QString device;
    QString description;
    // Windows names its ports itself (COMn keeps n); 0 where the window numbers them.
    int fixedPort = 0;

    bool operator==(const PortDevice& other) const {
        return device == other.device && description == other.description &&
               fixedPort == other.fixedPort;
    }
};

// The serial ports the system lists, in order of device path.
QList<QSerialPortInfo> systemSerialPorts();

// Where the window's ports come from: the devices present now, and a word when that may have
// changed.
class PortSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PortSource() override = default;

    virtual QList<PortDevice> devices() const = 0;

Q_SIGNALS:
    // Devices may have come or gone; a burst of changes arrives as one.
    void changed();
};

// The system's serial ports. A device node that comes or goes in the watched directory is
// noticed through inotify, so nothing wakes up while nothing is plugged or unplugged; one
// single-shot timer, started only by a change, lets udev finish before the ports are listed.
// `changed` is sent only when that listing differs from the one before: most entries of /dev
// are no serial devices at all.
class SystemPortSource final : public PortSource {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 400;
    using Lister = std::function<QList<PortDevice>()>;

    explicit SystemPortSource(QObject* parent = nullptr);
    // Tests watch a directory of their own and list its devices themselves.
    SystemPortSource(const QString& watchedDirectory, int settleMs, Lister lister = {},
                     QObject* parent = nullptr);

    // Lists the devices on a thread of their own, so the listing overlaps whatever the
    // program does next; the next devices() call of any source takes that list.
    static void startEarlyListing();

    QList<PortDevice> devices() const override;
    bool isWatching() const;
    // True from a change until the burst it started is over and `changed` was sent.
    bool isSettling() const;

private:
    void compareListing();

    Lister m_lister;
    // What the last listing held, to tell a change of serial devices from any other in /dev.
    mutable QList<PortDevice> m_listed;
    // Set when a change was listed and not yet handed out.
    mutable bool m_changeListed = false;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_settle = nullptr;
};

// The ports of a map, at the numbers the map gives them; it never changes.
class FixedPortSource final : public PortSource {
    Q_OBJECT
public:
    explicit FixedPortSource(const PortMap& map, QObject* parent = nullptr);

    QList<PortDevice> devices() const override { return m_devices; }

private:
    QList<PortDevice> m_devices;
};

} // namespace zentrava
