#pragma once

#include <QString>

#include <array>

namespace zentrava {

// Which device stands behind each of the port numbers 1 to 16.
class PortMap {
public:
    static constexpr int kPortCount = 16;

    struct Entry {
        QString device;
        QString description;
    };

    void set(int port, const QString& device, const QString& description = QString());
    QString device(int port) const;
    QString description(int port) const;
    bool isMapped(int port) const { return !device(port).isEmpty(); }

private:
    std::array<Entry, kPortCount> m_entries;
};

} // namespace zentrava
