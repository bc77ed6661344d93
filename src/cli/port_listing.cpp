#include "cli/port_listing.h"

#include "cli/report.h"
#include "core/port_source.h"

#include <QSerialPortInfo>

namespace zentrava::cli {

namespace {

struct PortField {
    QString name;
    QString text;
};

QString usbId(bool known, quint16 id) {
    return known ? QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')) : QString();
}

} // namespace

void listPorts(bool json) {
    for (const QSerialPortInfo& port : systemSerialPorts()) {
        const QList<PortField> fields{
            {QStringLiteral("description"), port.description()},
            {QStringLiteral("manufacturer"), port.manufacturer()},
            {QStringLiteral("vid"), usbId(port.hasVendorIdentifier(), port.vendorIdentifier())},
            {QStringLiteral("pid"), usbId(port.hasProductIdentifier(), port.productIdentifier())},
            {QStringLiteral("serial"), port.serialNumber()},
        };
        QStringList parts{json ? QStringLiteral(R"("port":)") + jsonString(port.systemLocation())
                               : port.systemLocation()};
        for (const PortField& field : fields) {
            if (field.text.isEmpty())
                continue;
            parts.append(json ? jsonString(field.name) + QLatin1Char(':') + jsonString(field.text)
                              : field.name + QLatin1Char('=') + jsonString(field.text));
        }
        printLine(stdout, json ? QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}')
                               : parts.join(QLatin1Char(' ')));
    }
}

} // namespace zentrava::cli
