#pragma once

#include "core/port_map.h"
#include "core/port_source.h"

#include <QList>
#include <QString>

#include <array>

namespace zentrava {

// Gives devices the port numbers 1 to 16. A device keeps its number for as long as it stays
// present; a device that comes takes the lowest free number, several at once in order of device
// path; beyond 16 devices the rest wait until a number comes free.
class PortNumbering {
public:
    // The map for the devices present now; numbers of devices gone are free again.
    PortMap update(const QList<PortDevice>& present);

private:
    std::array<QString, PortMap::kPortCount> m_holders; // device path by number - 1
};

} // namespace zentrava
