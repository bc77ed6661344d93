#include "cli/report.h"

#include "core/frequency.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>

namespace zentrava::cli {

QList<Field> fieldsOf(const ModuleValue& value) {
    const QString name = QLatin1String(settingInfo(value.setting).name);
    switch (value.setting) {
    case Setting::Serial:
        return {{QStringLiteral("baud"), QString::number(value.number), true},
                {QStringLiteral("parity"), QString(QLatin1Char(value.parity)), false}};
    case Setting::Frequency:
        // The window's text, also in JSON, so a profile written from it encodes back exactly.
        return {{name, formatFrequency(value.megahertz()), true}};
    default:
        return {{name, QString::number(value.number), true}};
    }
}

QString fieldsText(const QList<Field>& fields) {
    QStringList parts;
    for (const Field& field : fields)
        parts.append(field.name + QLatin1Char('=') + field.text);
    return parts.join(QLatin1Char(' '));
}

QString describe(const ModuleValue& value) {
    return fieldsText(fieldsOf(value));
}

QStringList textLines(const PortResult& result, bool withDevice) {
    QStringList lines;
    const QString prefix = withDevice ? result.device + QLatin1Char(' ') : QString();
    for (const Field& field : result.fields)
        lines.append(prefix + field.name + QLatin1Char('=') + field.text);
    return lines;
}

QString jsonLine(const PortResult& result) {
    QStringList values;
    for (const Field& field : result.fields)
        values.append(jsonString(field.name) + QLatin1Char(':') +
                      (field.isNumber ? field.text : jsonString(field.text)));
    const bool ok = result.status == exit_status::kDone;
    QString line =
        QStringLiteral(R"({"port":%1,"ok":%2,"values":{%3})")
            .arg(jsonString(result.device), ok ? "true" : "false", values.join(QLatin1Char(',')));
    if (!ok)
        line +=
            QStringLiteral(R"(,"error":)") + jsonString(result.errors.join(QStringLiteral("; ")));
    if (!result.time.isEmpty())
        line += QStringLiteral(R"(,"time":)") + jsonString(result.time);
    return line + QLatin1Char('}');
}

QString glanceLine(const PortResult& result) {
    const bool ok = result.status == exit_status::kDone;
    return QStringLiteral("%1  %2%3")
        .arg(result.device, QLatin1String(ok ? "OK      " : "FAILED  "),
             ok ? fieldsText(result.fields) : result.errors.join(QStringLiteral("; ")));
}

QString jsonString(const QString& text) {
    // Qt's own escaping; the array's brackets come off.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

namespace {
int firstOutputError = 0;
}

bool printLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) ==
                             std::size_t(bytes.size()) &&
                         std::fflush(stream) == 0;
    if (!written && stream == stdout && firstOutputError == 0)
        firstOutputError = errno != 0 ? errno : EIO;
    return written;
}

int outputError() {
    return firstOutputError;
}

} // namespace zentrava::cli
