#include "port_numbering.h"

#include <algorithm>

namespace zentrava {

namespace {
bool inRange(int port) {
    return port >= 1 && port <= PortMap::kPortCount;
}
} // namespace

PortMap PortNumbering::update(const QList<PortDevice>& present) {
    QList<PortDevice> devices = present;
    std::stable_sort(devices.begin(), devices.end(),
                     [](const PortDevice& a, const PortDevice& b) { return a.device < b.device; });
    auto isPresent = [&devices](const QString& device) {
        return std::any_of(devices.cbegin(), devices.cend(),
                           [&device](const PortDevice& d) { return d.device == device; });
    };
    for (QString& holder : m_holders) {
        if (!holder.isEmpty() && !isPresent(holder))
            holder.clear();
    }
    for (const PortDevice& d : devices) {
        if (!inRange(d.fixedPort))
            continue;
        std::replace(m_holders.begin(), m_holders.end(), d.device, QString());
        m_holders[std::size_t(d.fixedPort - 1)] = d.device;
    }
    for (const PortDevice& d : devices) {
        if (d.device.isEmpty() || inRange(d.fixedPort) ||
            std::find(m_holders.cbegin(), m_holders.cend(), d.device) != m_holders.cend())
            continue;
        const auto free = std::find(m_holders.begin(), m_holders.end(), QString());
        if (free == m_holders.end())
            break;
        *free = d.device;
    }

    PortMap map;
    for (const PortDevice& d : devices) {
        const auto held = std::find(m_holders.cbegin(), m_holders.cend(), d.device);
        if (!d.device.isEmpty() && held != m_holders.cend())
            map.set(int(held - m_holders.cbegin()) + 1, d.device, d.description);
    }
    return map;
}

} // namespace zentrava
