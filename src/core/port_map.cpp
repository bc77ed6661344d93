#include "port_map.h"

namespace zentrava {

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
